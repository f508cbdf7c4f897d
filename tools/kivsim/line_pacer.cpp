// Frame format and pacing of the simulated serial line.
#include "line_pacer.h"
#include <cctype>
#include <cmath>

bool ParseLineFormat(const std::string& text, LineFormat& format)
{
    if (text.size() != 3)
        return false;
    int data = text[0] - '0';
    char parity = (char)tolower((unsigned char)text[1]);
    int stop = text[2] - '0';
    if (data < 5 || data > 8 || (stop != 1 && stop != 2))
        return false;
    if (parity != 'n' && parity != 'o' && parity != 'e' && parity != 'm' && parity != 's')
        return false;
    format.dataBits = data;
    format.parity = parity;
    format.stopBits = stop;
    return true;
}

int BitsPerByte(const LineFormat& format)
{
    return 1 + format.dataBits + (format.parity == 'n' ? 0 : 1) + format.stopBits;
}

double LineBytesPerSecond(const LineFormat& format)
{
    return format.baud == 0 ? 0 : (double)format.baud / BitsPerByte(format);
}

void PacerInit(LinePacer& pacer, uint32_t baud, int bitsPerByte)
{
    pacer.usPerByte = baud == 0 ? 0 : 1e6 * bitsPerByte / baud;
    pacer.originUs = 0;
    pacer.freeAtUs = 0;
    pacer.backlog = false;
    pacer.started = false;
}

uint32_t PacerAllowance(LinePacer& pacer, uint64_t nowUs, uint32_t waiting)
{
    if (waiting == 0) {
        pacer.backlog = false;   // whatever was left waiting is gone
        return 0;
    }
    if (pacer.usPerByte == 0)
        return waiting;
    if (!pacer.started) {
        pacer.started = true;
        pacer.originUs = nowUs;
        pacer.freeAtUs = -pacer.usPerByte;   // idle since before the start
    }
    double now = (double)(nowUs - pacer.originUs);
    // A line that ran dry: the first byte goes now, as if it had just crossed.
    if (!pacer.backlog && pacer.freeAtUs < now - pacer.usPerByte)
        pacer.freeAtUs = now - pacer.usPerByte;
    // A byte whose time has come to within a thousandth of its length has
    // crossed: rounding must never hold back the byte of an idle line.
    double sinceFree = now - pacer.freeAtUs;
    if (sinceFree < pacer.usPerByte * (1 - 1e-3))
        return 0;   // the byte on the line has not crossed yet
    double n = std::floor(sinceFree / pacer.usPerByte + 1e-3);
    return n < waiting ? (uint32_t)n : waiting;
}

void PacerConsume(LinePacer& pacer, uint32_t n, bool stillWaiting)
{
    pacer.freeAtUs += n * pacer.usPerByte;
    pacer.backlog = stillWaiting;
}

uint64_t PacerNextUs(const LinePacer& pacer, uint64_t nowUs)
{
    if (pacer.usPerByte == 0 || !pacer.started)
        return nowUs;
    double next = pacer.originUs + pacer.freeAtUs + pacer.usPerByte;
    return next <= (double)nowUs ? nowUs : (uint64_t)std::ceil(next);
}
