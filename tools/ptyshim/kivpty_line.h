/* What the simulated handheld tells the preload library about one
 * pseudo-terminal: how many bytes it has taken off the line. The library
 * counts what the driver wrote, so the difference is the output queue that a
 * UART would report (a pseudo-terminal reports none). kivsim keeps the record
 * in a small file named after the pseudo-terminal's number for as long as it
 * runs. Shared by C and C++. */
#ifndef KIVPTY_LINE_H
#define KIVPTY_LINE_H
#include <stdint.h>

#define KIVPTY_LINE_PATH "/tmp/kivpty-%d.line"
#define KIVPTY_LINE_MAGIC 0x4C56494Bu /* "KIVL" */

struct kivpty_line {
    uint32_t magic;
    uint32_t owner;    /* the simulator's process id: a new one is a new line */
    uint64_t consumed; /* bytes read off the line since the line was made */
};

#endif
