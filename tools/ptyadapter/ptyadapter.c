/*
 * LD_PRELOAD library for the wine process: makes a pseudo-terminal look like a
 * serial port with its modem lines up.
 *
 * Wine's serial layer asks the port for its modem status (TIOCMGET), its line
 * counters (TIOCGICOUNT) and sets DTR/RTS (TIOCMSET, TIOCMBIS, TIOCMBIC). A pty
 * refuses all of them, so WaitCommEvent and SetCommState fail at once on a pty.
 * For pty slaves only, and only when the kernel refuses, this library answers:
 * CTS, DSR and CD on, zero counters, modem-line changes accepted. Every other
 * request, and every request on any other file, goes to the real ioctl.
 *
 * The 32-bit Wine is built with 64-bit time_t and calls __ioctl_time64, so on
 * i386 that entry is wrapped as well.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <linux/serial.h>
#include <stdarg.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

typedef int (*ioctl_fn)(int, unsigned long, ...);

enum {
    kPtySlaveMajorFirst = 136, /* Unix98 pty slaves: majors 136..143 */
    kPtySlaveMajorLast = 143,
    kLegacyPtySlaveMajor = 3, /* BSD-style /dev/ttyp* */
};

static int is_pty_slave(int fd) {
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return 0;
    unsigned int dev_major = major(st.st_rdev);
    return (dev_major >= kPtySlaveMajorFirst && dev_major <= kPtySlaveMajorLast) ||
           dev_major == kLegacyPtySlaveMajor;
}

static int is_modem_request(unsigned long request) {
    return request == TIOCMGET || request == TIOCGICOUNT || request == TIOCMSET ||
           request == TIOCMBIS || request == TIOCMBIC;
}

/* The answer a pty gets in place of the kernel's refusal. */
static void answer_modem_request(unsigned long request, void* arg) {
    if (request == TIOCMGET && arg != NULL) {
        *(int*)arg = TIOCM_CTS | TIOCM_DSR | TIOCM_CAR;
    } else if (request == TIOCGICOUNT && arg != NULL) {
        memset(arg, 0, sizeof(struct serial_icounter_struct));
    }
    /* TIOCMSET/TIOCMBIS/TIOCMBIC: a pty has no lines to drive; accepting is enough. */
}

static int adapt(ioctl_fn real, int fd, unsigned long request, void* arg) {
    if (real == NULL) {
        errno = ENOSYS;
        return -1;
    }
    int saved_errno = errno;
    int result = real(fd, request, arg);
    if (result != -1 || !is_modem_request(request)) return result;
    if ((errno != ENOTTY && errno != EINVAL) || !is_pty_slave(fd)) return result;
    answer_modem_request(request, arg);
    errno = saved_errno;
    return 0;
}

static ioctl_fn next_symbol(const char* name) {
    return (ioctl_fn)dlsym(RTLD_NEXT, name);
}

int ioctl(int fd, unsigned long request, ...) {
    static ioctl_fn real_ioctl;
    if (real_ioctl == NULL) real_ioctl = next_symbol("ioctl");
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    return adapt(real_ioctl, fd, request, arg);
}

#if defined(__i386__)
int __ioctl_time64(int fd, unsigned long request, ...);

int __ioctl_time64(int fd, unsigned long request, ...) {
    static ioctl_fn real_ioctl_time64;
    if (real_ioctl_time64 == NULL) real_ioctl_time64 = next_symbol("__ioctl_time64");
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    return adapt(real_ioctl_time64, fd, request, arg);
}
#endif
