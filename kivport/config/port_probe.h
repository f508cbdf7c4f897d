// Is a COM port free? Open it exclusively, close it again at once.
#pragma once

// name: a buffer of at least 9 bytes. A non-empty name is tried as it stands;
// an empty one tries COM1 to COM3 and leaves the first free one's name behind
// (or "COM3" when none opens).
bool ProbePort(char* name);
