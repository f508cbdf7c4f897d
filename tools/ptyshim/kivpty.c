/* A preload library for 32-bit Wine that makes a pseudo-terminal behave
 * enough like a serial port for the link driver's tests, and logs what the
 * driver asked of the line.
 *
 * On a pseudo-terminal the modem-line ioctls fail, parity and 7 data bits are
 * refused, an output flush can drop bytes already written, the output queue
 * always reads empty, and Wine's event wait spins on an interrupt counter
 * that never works. For pseudo-terminal slaves only, this library keeps DTR
 * and RTS in memory, hands the kernel 8 bits without parity while reporting
 * back what was asked, ignores output flushes, and slows the failing counter
 * poll down. When kivsim runs on the other end it reports how many bytes it
 * has taken off the line (kivpty_line.h); this library counts the bytes
 * written, and answers the output-queue request with the difference, less a
 * UART's transmit FIFO. So the driver sees its output drain at the line rate
 * and does not close the port on bytes that Wine still holds.
 *
 * A UART shifts its bytes out whether or not anyone listens. Once the
 * simulator that served a line has gone (its record removed, or its process
 * ended), the line reads drained: the output queue 0, and the line status as
 * after any drain, and an IrDA adapter's inputs stay as it last held them. A
 * new simulator on the line starts its counts again; a new pseudo-terminal
 * under a number used before (told apart by the time the kernel made it) is
 * a new line; a line that no simulator ever served passes its requests to
 * the pseudo-terminal, as it always has.
 *
 * EV_TXEMPTY needs one more step. Windows raises it whenever the output
 * drains; Wine only when the transmitter read busy as the wait began, or
 * when it reads empty while still remembering a write made during the wait,
 * which it forgets after one poll (and on SetCommMask). A write made while a
 * wait is pending, as the driver's timer does, would never be followed by
 * EV_TXEMPTY. The line-status request, which only Wine's event wait uses,
 * therefore reads "busy" except for the first polls after the output has
 * drained: every wait starts busy, and ends when the output drains.
 *
 * Every line-settings request, DTR/RTS request, flush and write is appended,
 * with a CLOCK_MONOTONIC millisecond time stamp, to the file named by
 * KIV_PTY_LOG (if set), one line each:
 *   <ms> pts=<n> termios speed=<bps> data=<7|8> parity=<n|o|e|m|s> stop=<1|2> crtscts=<0|1> ixon=<0|1> ixoff=<0|1>
 *   <ms> pts=<n> modem op=<set|bis|bic> dtr=<0|1> rts=<0|1>
 *   <ms> pts=<n> flush queue=<in|out|both>
 *   <ms> pts=<n> write bytes=<count>
 * The simulated handheld stamps its records with the same clock.
 *
 * KIV_PTY_RAISE, a signal number, has the library raise that signal in the
 * program once, as it drops DTR and RTS together: the program is closing
 * the line, so a test meets the moment after a transfer has ended, and
 * before the program has saved what it received, in that order every time.
 * With KIV_PTY_RAISE_CREATE, a count N, the signal comes instead as the
 * program creates its Nth file after that drop (the library's own log not
 * counted): a test meets one step of the saving, in order too.
 *
 * Wine built with 64-bit time calls __ioctl_time64 rather than ioctl, so both
 * are wrapped. Other file descriptors pass through untouched. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>
#include "kivpty_line.h"

/* Unix98 pseudo-terminal slaves have majors 136 to 143. */
enum { PTS_MAJOR_FIRST = 136, PTS_MAJOR_LAST = 143, MAX_LINES = 32 };
/* Bytes a 16550 UART still shifts out after its driver's queue reads empty. */
enum { UART_TX_FIFO = 16, EMPTY_PULSE_POLLS = 2 };

/* The termios bits the kernel refuses on a pseudo-terminal and that we keep
 * for the caller instead. */
#define KEPT_CFLAGS (CSIZE | PARENB | PARODD | CMSPAR)

/* What one pseudo-terminal line looks like to the program: its modem
 * outputs and the frame format it asked for. Shared by all threads of the
 * process, so every access holds lock. */
struct line {
    dev_t dev;
    struct timespec made; /* when the kernel made the pseudo-terminal */
    int used;
    int modem; /* TIOCM_DTR | TIOCM_RTS as last set */
    int haveCflag;
    tcflag_t cflag;  /* the KEPT_CFLAGS bits asked for */
    uint32_t owner;  /* the simulator the counts below belong to; 0: none seen */
    uint32_t drives; /* the owner's last modem inputs, kept once it has gone */
    uint32_t inputs;
    uint64_t written; /* bytes written to the line since that simulator began */
    int queuedSeen;   /* output was queued since the line status last read empty */
    int emptyPulse;   /* line-status polls still to read "empty" after the drain */
};

static struct line lines[MAX_LINES];
static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;

typedef int (*ioctl_fn)(int, unsigned long, ...);
typedef int (*tcsetattr_fn)(int, int, const struct termios*);
typedef int (*tcgetattr_fn)(int, struct termios*);
typedef int (*tcflush_fn)(int, int);
typedef ssize_t (*write_fn)(int, const void*, size_t);
typedef int (*open_fn)(const char*, int, ...);
typedef int (*openat_fn)(int, const char*, int, ...);

static void* next_symbol(const char* name) { return dlsym(RTLD_NEXT, name); }

#ifdef KIVPTY_WINE_ONLY
/* The 64-bit library is preloaded into 64-bit Wine and into the 64-bit Unix
 * helpers that Wine starts (the shell, kivsim) alike; only Wine's own
 * processes get pseudo-terminals served, the helpers keep their calls. */
static int serving(void)
{
    static int answer = -1;
    if (answer < 0) {
        char exe[256];
        int saved = errno;
        ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
        errno = saved;
        exe[n > 0 ? n : 0] = 0;
        const char* name = strrchr(exe, '/');
        answer = strncmp(name ? name + 1 : exe, "wine", 4) == 0;
    }
    return answer;
}
#endif

/* Which pseudo-terminal a slave is: its device, and when it was made, which
 * tells a pseudo-terminal from a later one under the same number. */
struct pty_id {
    dev_t dev;
    struct timespec made;
};

/* The pts number of fd, or -1 when fd is not a pseudo-terminal slave. */
static int pts_number(int fd, struct pty_id* id)
{
#ifdef KIVPTY_WINE_ONLY
    if (!serving())
        return -1;
#endif
    struct stat st;
    int saved = errno;
    int r = fstat(fd, &st);
    errno = saved;
    if (r != 0 || !S_ISCHR(st.st_mode))
        return -1;
    unsigned maj = major(st.st_rdev);
    if (maj < PTS_MAJOR_FIRST || maj > PTS_MAJOR_LAST)
        return -1;
    if (id) {
        id->dev = st.st_rdev;
        id->made = st.st_ctim;
    }
    return (int)((maj - PTS_MAJOR_FIRST) * 256 + minor(st.st_rdev));
}

/* The record of a line, made on first use, and made anew for a new
 * pseudo-terminal under the number. Called with lock held. */
static struct line* find_line(const struct pty_id* id)
{
    struct line* slot = NULL;
    for (int i = 0; i < MAX_LINES && !slot; i++)
        if (lines[i].used && lines[i].dev == id->dev)
            slot = &lines[i];
    if (slot && slot->made.tv_sec == id->made.tv_sec && slot->made.tv_nsec == id->made.tv_nsec)
        return slot;
    for (int i = 0; i < MAX_LINES && !slot; i++)
        if (!lines[i].used)
            slot = &lines[i];
    if (!slot)
        slot = &lines[0]; /* more lines than any test opens: reuse */
    memset(slot, 0, sizeof *slot);
    slot->used = 1;
    slot->dev = id->dev;
    slot->made = id->made;
    return slot;
}

/* The simulator's record of the line, when one runs on it: a record left by
 * a simulator that was killed does not count. */
static int far_end(int pts, struct kivpty_line* rec)
{
    char path[64];
    snprintf(path, sizeof path, KIVPTY_LINE_PATH, pts);
    int saved = errno;
    int ok = 0;
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        ok = pread(fd, rec, sizeof *rec, 0) == (ssize_t)sizeof *rec && rec->magic == KIVPTY_LINE_MAGIC;
        close(fd);
    }
    if (ok && kill((pid_t)rec->owner, 0) != 0 && errno == ESRCH)
        ok = 0;
    errno = saved;
    return ok;
}

/* A new simulator on the line starts the count again. Called with lock held. */
static void follow_owner(struct line* l, const struct kivpty_line* rec)
{
    if (l->owner != rec->owner) {
        l->owner = rec->owner;
        l->written = 0;
    }
    l->drives = rec->drives;
    l->inputs = rec->inputs;
}

/* The output queue, or -1 for a line no simulator has served. */
static int output_queue(int pts, const struct pty_id* id, int* out)
{
    struct kivpty_line rec;
    int here = far_end(pts, &rec);
    pthread_mutex_lock(&lock);
    struct line* l = find_line(id);
    int served = l->owner != 0;
    long long queued = 0;
    if (here) {
        follow_owner(l, &rec);
        queued = (long long)l->written - (long long)rec.consumed - UART_TX_FIFO;
        /* A simulator that is to leave before the drain is seen keeps its
         * last byte "in the transmitter" for as long as it is there. */
        if (rec.holdDrain && l->written > 0 && queued < 1)
            queued = 1;
    }
    pthread_mutex_unlock(&lock);
    if (!here && !served)
        return -1;
    *out = queued > 0 ? (int)queued : 0;
    return 0;
}

/* The transmitter-empty bit of the line status, as described at the top. */
static int line_status(int pts, const struct pty_id* id, int* out)
{
    int queued;
    if (output_queue(pts, id, &queued) != 0)
        return -1;
    pthread_mutex_lock(&lock);
    struct line* l = find_line(id);
    int empty = 0;
    if (queued > 0) {
        l->queuedSeen = 1;
    } else if (l->queuedSeen) {
        l->queuedSeen = 0;
        l->emptyPulse = EMPTY_PULSE_POLLS - 1;
        empty = 1;
    } else if (l->emptyPulse > 0) {
        l->emptyPulse--;
        empty = 1;
    }
    pthread_mutex_unlock(&lock);
    *out = empty ? TIOCSER_TEMT : 0;
    return 0;
}

static long long now_ms(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

/* One line to the log: opened for each entry, appended whole, so that several
 * processes and threads can share the file. */
static void log_line(int pts, const char* fmt, ...)
{
    const char* path = getenv("KIV_PTY_LOG");
    if (!path || !*path)
        return;
    char buf[256];
    int n = snprintf(buf, sizeof buf, "%lld pts=%d ", now_ms(), pts);
    va_list ap;
    va_start(ap, fmt);
    n += vsnprintf(buf + n, sizeof buf - n, fmt, ap);
    va_end(ap);
    if (n >= (int)sizeof buf - 1)
        n = sizeof buf - 2;
    buf[n++] = '\n';
    int saved = errno;
    int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0) {
        ssize_t w = write(fd, buf, n);
        (void)w;
        close(fd);
    }
    errno = saved;
}

static long speed_value(speed_t s)
{
    static const struct {
        speed_t code;
        long bps;
    } table[] = {
        {B0, 0},           {B50, 50},       {B75, 75},         {B110, 110},       {B134, 134},
        {B150, 150},       {B200, 200},     {B300, 300},       {B600, 600},       {B1200, 1200},
        {B1800, 1800},     {B2400, 2400},   {B4800, 4800},     {B9600, 9600},     {B19200, 19200},
        {B38400, 38400},   {B57600, 57600}, {B115200, 115200}, {B230400, 230400}, {B460800, 460800},
        {B921600, 921600},
    };
    for (size_t i = 0; i < sizeof table / sizeof table[0]; i++)
        if (table[i].code == s)
            return table[i].bps;
    return -1;
}

static char parity_letter(tcflag_t c)
{
    if (!(c & PARENB))
        return 'n';
    if (c & CMSPAR)
        return (c & PARODD) ? 'm' : 's';
    return (c & PARODD) ? 'o' : 'e';
}

static int data_bits(tcflag_t c)
{
    switch (c & CSIZE) {
    case CS5: return 5;
    case CS6: return 6;
    case CS7: return 7;
    default: return 8;
    }
}

static void log_termios(int pts, const struct termios* t)
{
    log_line(pts, "termios speed=%ld data=%d parity=%c stop=%d crtscts=%d ixon=%d ixoff=%d",
             speed_value(cfgetospeed(t)), data_bits(t->c_cflag), parity_letter(t->c_cflag),
             (t->c_cflag & CSTOPB) ? 2 : 1, (t->c_cflag & CRTSCTS) ? 1 : 0, (t->c_iflag & IXON) ? 1 : 0,
             (t->c_iflag & IXOFF) ? 1 : 0);
}

static void log_modem(int pts, const char* op, int modem)
{
    log_line(pts, "modem op=%s dtr=%d rts=%d", op, (modem & TIOCM_DTR) ? 1 : 0, (modem & TIOCM_RTS) ? 1 : 0);
}

static void raise_once(void)
{
    static int raised;
    const char* signo = getenv("KIV_PTY_RAISE");
    if (raised || !signo || !*signo)
        return;
    raised = 1;
    int saved = errno;
    raise(atoi(signo));
    errno = saved;
}

/* Set once both outputs have dropped, when the signal waits for a creation. */
static int dropped;

/* The signal of KIV_PTY_RAISE, once, when both outputs have just dropped. */
static void raise_at_close(const char* op, int modem)
{
    if (strcmp(op, "bic") != 0 || (modem & (TIOCM_DTR | TIOCM_RTS)))
        return;
    const char* count = getenv("KIV_PTY_RAISE_CREATE");
    if (count && *count) {
        pthread_mutex_lock(&lock);
        dropped = 1;
        pthread_mutex_unlock(&lock);
        return;
    }
    raise_once();
}

/* Counts a file the program has just created after the drop, and raises
 * the signal at the one KIV_PTY_RAISE_CREATE names. */
static void raise_at_create(int fd, const char* path, int flags)
{
    static int created;
    if (fd < 0 || !(flags & O_CREAT))
        return;
    const char* log = getenv("KIV_PTY_LOG");
    if (log && path && strcmp(path, log) == 0)
        return;
    pthread_mutex_lock(&lock);
    int now = dropped ? ++created : 0;
    pthread_mutex_unlock(&lock);
    const char* count = getenv("KIV_PTY_RAISE_CREATE");
    if (now > 0 && count && now == atoi(count))
        raise_once();
}

/* The modem-line requests, answered from memory. The inputs read as a device
 * that is present (CTS, DSR and carrier up) unless the simulator drives
 * them, as an IrDA adapter drives CTS, and stay as it left them once it has
 * gone: the adapter is still plugged in. */
static int modem_ioctl(int pts, const struct pty_id* id, unsigned long req, int* arg)
{
    int inputs = TIOCM_CTS | TIOCM_DSR | TIOCM_CAR;
    struct kivpty_line rec;
    int here = req == TIOCMGET && far_end(pts, &rec);
    pthread_mutex_lock(&lock);
    struct line* l = find_line(id);
    if (here)
        follow_owner(l, &rec);
    if (req == TIOCMGET && l->drives)
        inputs = (int)l->inputs & (TIOCM_CTS | TIOCM_DSR | TIOCM_CAR);
    const char* op = NULL;
    switch (req) {
    case TIOCMGET: *arg = l->modem | inputs; break;
    case TIOCMSET:
        l->modem = *arg & (TIOCM_DTR | TIOCM_RTS);
        op = "set";
        break;
    case TIOCMBIS:
        l->modem |= *arg & (TIOCM_DTR | TIOCM_RTS);
        op = "bis";
        break;
    case TIOCMBIC:
        l->modem &= ~(*arg & (TIOCM_DTR | TIOCM_RTS));
        op = "bic";
        break;
    }
    int modem = l->modem;
    pthread_mutex_unlock(&lock);
    if (op) {
        log_modem(pts, op, modem);
        raise_at_close(op, modem);
    }
    return 0;
}

static int flush_queues(int fd, int pts, int queue, tcflush_fn real)
{
    log_line(pts, "flush queue=%s", queue == TCIFLUSH ? "in" : queue == TCOFLUSH ? "out" : "both");
    /* Flushing the output of a pseudo-terminal drops bytes that the other
     * end has not read yet, which a UART would already have sent. */
    if (queue == TCOFLUSH)
        return 0;
    return real(fd, TCIFLUSH);
}

static int wrapped_ioctl(ioctl_fn real, int fd, unsigned long req, void* arg)
{
    struct pty_id id;
    int pts;
    switch (req) {
    case TIOCMGET:
    case TIOCMSET:
    case TIOCMBIS:
    case TIOCMBIC:
        pts = pts_number(fd, &id);
        if (pts >= 0 && arg)
            return modem_ioctl(pts, &id, req, (int*)arg);
        break;
    case TIOCGICOUNT:
        pts = pts_number(fd, NULL);
        if (pts >= 0) {
            /* Wine polls this in a tight loop while it waits for events; it
             * always fails here, so take the time to let the CPU rest. */
            int r = real(fd, req, arg);
            int saved = errno;
            usleep(1000);
            errno = saved;
            return r;
        }
        break;
    case TIOCOUTQ:
        pts = pts_number(fd, &id);
        if (pts >= 0 && arg && output_queue(pts, &id, (int*)arg) == 0)
            return 0;
        break;
    case TIOCSERGETLSR:
        pts = pts_number(fd, &id);
        if (pts >= 0 && arg && line_status(pts, &id, (int*)arg) == 0)
            return 0;
        break;
    case TCFLSH:
        pts = pts_number(fd, NULL);
        if (pts >= 0) {
            tcflush_fn realFlush = (tcflush_fn)next_symbol("tcflush");
            return flush_queues(fd, pts, (int)(long)arg, realFlush);
        }
        break;
    }
    return real(fd, req, arg);
}

int ioctl(int fd, unsigned long req, ...)
{
    static ioctl_fn real;
    if (!real)
        real = (ioctl_fn)next_symbol("ioctl");
    va_list ap;
    va_start(ap, req);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    return wrapped_ioctl(real, fd, req, arg);
}

int __ioctl_time64(int fd, unsigned long req, ...)
{
    static ioctl_fn real;
    if (!real)
        real = (ioctl_fn)next_symbol("__ioctl_time64");
    if (!real)
        real = (ioctl_fn)next_symbol("ioctl");
    va_list ap;
    va_start(ap, req);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    return wrapped_ioctl(real, fd, req, arg);
}

int tcsetattr(int fd, int action, const struct termios* t)
{
    static tcsetattr_fn real;
    if (!real)
        real = (tcsetattr_fn)next_symbol("tcsetattr");
    struct pty_id id;
    int pts = t ? pts_number(fd, &id) : -1;
    if (pts < 0)
        return real(fd, action, t);
    log_termios(pts, t);
    struct termios kernel = *t;
    kernel.c_cflag = (kernel.c_cflag & ~KEPT_CFLAGS) | CS8;
    int r = real(fd, action, &kernel);
    if (r == 0) {
        pthread_mutex_lock(&lock);
        struct line* l = find_line(&id);
        l->haveCflag = 1;
        l->cflag = t->c_cflag & KEPT_CFLAGS;
        pthread_mutex_unlock(&lock);
    }
    return r;
}

int tcgetattr(int fd, struct termios* t)
{
    static tcgetattr_fn real;
    if (!real)
        real = (tcgetattr_fn)next_symbol("tcgetattr");
    int r = real(fd, t);
    struct pty_id id;
    if (r != 0 || pts_number(fd, &id) < 0)
        return r;
    pthread_mutex_lock(&lock);
    struct line* l = find_line(&id);
    if (l->haveCflag)
        t->c_cflag = (t->c_cflag & ~KEPT_CFLAGS) | l->cflag;
    pthread_mutex_unlock(&lock);
    return r;
}

int tcflush(int fd, int queue)
{
    static tcflush_fn real;
    if (!real)
        real = (tcflush_fn)next_symbol("tcflush");
    int pts = pts_number(fd, NULL);
    if (pts < 0)
        return real(fd, queue);
    return flush_queues(fd, pts, queue, real);
}

ssize_t write(int fd, const void* buf, size_t n)
{
    static write_fn real;
    if (!real)
        real = (write_fn)next_symbol("write");
    ssize_t r = real(fd, buf, n);
    struct pty_id id;
    int pts;
    if (r > 0 && (pts = pts_number(fd, &id)) >= 0) {
        struct kivpty_line rec;
        int haveFarEnd = far_end(pts, &rec);
        pthread_mutex_lock(&lock);
        struct line* l = find_line(&id);
        if (haveFarEnd)
            follow_owner(l, &rec);
        l->queuedSeen = 1;
        l->emptyPulse = 0;
        l->written += (uint64_t)r;
        pthread_mutex_unlock(&lock);
        log_line(pts, "write bytes=%ld", (long)r);
    }
    return r;
}

/* open and openat: the mode is there only when the call may create a file,
 * and a file created after the drop is counted for KIV_PTY_RAISE_CREATE. */
static int open_counted(int atDir, int dir, const char* path, int flags, va_list ap)
{
    static open_fn realOpen;
    static openat_fn realOpenat;
    int mode = (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(ap, int) : 0;
    int fd;
    if (atDir) {
        if (!realOpenat)
            realOpenat = (openat_fn)next_symbol("openat");
        fd = realOpenat(dir, path, flags, mode);
    } else {
        if (!realOpen)
            realOpen = (open_fn)next_symbol("open");
        fd = realOpen(path, flags, mode);
    }
    raise_at_create(fd, path, flags);
    return fd;
}

int open(const char* path, int flags, ...)
{
    va_list ap;
    va_start(ap, flags);
    int fd = open_counted(0, 0, path, flags, ap);
    va_end(ap);
    return fd;
}

int openat(int dir, const char* path, int flags, ...)
{
    va_list ap;
    va_start(ap, flags);
    int fd = open_counted(1, dir, path, flags, ap);
    va_end(ap);
    return fd;
}
