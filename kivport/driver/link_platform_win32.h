// The Windows side of the link engine's platform table.
#pragma once

// Fills linkPlatform with the COM port, the thread timer and the status dialog.
void InstallLinkPlatform(void);
