// Ctrl-C, SIGTERM and a hang-up held back from the end of a receive until
// its outputs are saved: a signal then cannot lose a table that has arrived.
// They stay held until the program exits; the job takes them when it may stop.
#pragma once

// Blocks the three signals.
void HoldTerminationSignals(void);
// Lets them in again, once what they waited for is saved.
void ReleaseTerminationSignals(void);
// A held signal taken off the pending set; 0 when none. One whose action is
// to be ignored (kiv was started that way) is dropped.
int TakeHeldSignal(void);
