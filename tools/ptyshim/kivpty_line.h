/* What the simulated handheld tells the preload library about one
 * pseudo-terminal: how many bytes it has taken off the line, and, for an IrDA
 * adapter, the modem inputs it holds. The library counts what the driver
 * wrote, so the difference is the output queue that a UART would report (a
 * pseudo-terminal reports none); a pseudo-terminal has no modem inputs, so
 * the library reports the adapter's. kivsim keeps the record in a small file
 * named after the pseudo-terminal's number for as long as it runs; once it
 * has gone, the library treats the line as a UART with nobody listening.
 * Shared by C and C++. */
#ifndef KIVPTY_LINE_H
#define KIVPTY_LINE_H
#include <stdint.h>

#define KIVPTY_LINE_PATH "/tmp/kivpty-%d.line"
#define KIVPTY_LINE_MAGIC 0x3356494Bu /* "KIV3" */

struct kivpty_line {
    uint32_t magic;
    uint32_t owner;     /* the simulator's process id: a new one is a new line */
    uint64_t consumed;  /* bytes read off the line since the line was made */
    uint32_t drives;    /* nonzero: inputs below are the far end's, else all up */
    uint32_t inputs;    /* TIOCM_CTS | TIOCM_DSR | TIOCM_CAR as the far end holds them */
    uint32_t holdDrain; /* set once the far end has taken all it will: the output
                           reads undrained until this record is gone */
};

#endif
