/*
 * A fault shim for the interruption tests: it stands in front of the C
 * library's file-system calls, counts the calls a process makes, and at the
 * k-th one stops the process (SIGKILL), fails the call with an errno, makes
 * a write short, or pauses until told to go on.
 *
 * Loaded with LD_PRELOAD into nsfmend or an agent, configured from the
 * environment at the first call:
 *   FAULTSHIM_AT=k          act at the k-th counted call (0 or unset: count only)
 *   FAULTSHIM_ACTION=a      kill | eio | enospc | einval | enosys | exdev | eperm |
 *                           short | pause  (default kill)
 *   FAULTSHIM_CALLS=a,b     count only these functions (default: all below)
 *   FAULTSHIM_SKIP=x,y      do not count calls made from an object whose path
 *                           contains x or y (default: libnotes.so, the
 *                           platform library, whose crash safety is its own)
 *   FAULTSHIM_REPORT=path   "hit N NAME" is appended when acting, and
 *                           "calls N" at a normal exit
 *   FAULTSHIM_PAUSE=path    pause: create path, then wait until it is gone
 * Linked into a test program instead, the program arms it with faultshim_arm
 * and faultshim_add (tests/faultshim/faultshim.h).
 *
 * Built without _FILE_OFFSET_BITS so that both the plain and the 64-bit
 * names exist here as themselves: the i386 build of the program calls
 * open64, lseek64, ftruncate64 and pread64/pwrite64.
 */
#undef _FILE_OFFSET_BITS
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

enum action { ACT_KILL, ACT_FAIL, ACT_SHORT, ACT_PAUSE };

/* One fault: act at the at-th call of the listed functions. */
struct rule {
    long at;          /* 0: never act, only count */
    long count;
    enum action action;
    int error;        /* ACT_FAIL */
    char calls[256];  /* ",open,write," or empty for all */
};

#define MAX_RULES 4

static struct {
    int ready;
    int rules;
    long acted;       /* calls acted on since the last arm */
    struct rule rule[MAX_RULES];
    char skip[512];
    char report[1024];
    char pause[1024];
} cfg;

static int inShim; /* calls the shim itself makes are not counted */

static void copyEnv(char *dest, size_t size, const char *name, const char *fallback) {
    const char *v = getenv(name);
    snprintf(dest, size, "%s", v != NULL ? v : fallback);
}

static int parseAction(struct rule *r, const char *text) {
    static const struct { const char *name; enum action action; int error; } table[] = {
        {"kill", ACT_KILL, 0},      {"eio", ACT_FAIL, EIO},     {"enospc", ACT_FAIL, ENOSPC},
        {"einval", ACT_FAIL, EINVAL}, {"enosys", ACT_FAIL, ENOSYS}, {"exdev", ACT_FAIL, EXDEV},
        {"eperm", ACT_FAIL, EPERM}, {"short", ACT_SHORT, 0},    {"pause", ACT_PAUSE, 0},
    };
    for (size_t i = 0; i < sizeof table / sizeof table[0]; i++) {
        if (strcmp(text, table[i].name) == 0) {
            r->action = table[i].action;
            r->error = table[i].error;
            return 0;
        }
    }
    return -1;
}

static void setRule(struct rule *r, const char *calls, long at, const char *action) {
    memset(r, 0, sizeof *r);
    r->at = at;
    if (calls != NULL && calls[0] != '\0') snprintf(r->calls, sizeof r->calls, ",%s,", calls);
    if (parseAction(r, action) != 0) {
        fprintf(stderr, "faultshim: unknown action %s\n", action);
        abort();
    }
}

static void appendReport(const char *line) {
    if (cfg.report[0] == '\0') return;
    int (*realOpen)(const char *, int, ...) = (int (*)(const char *, int, ...))dlsym(RTLD_NEXT, "open");
    ssize_t (*realWrite)(int, const void *, size_t) =
        (ssize_t(*)(int, const void *, size_t))dlsym(RTLD_NEXT, "write");
    int (*realClose)(int) = (int (*)(int))dlsym(RTLD_NEXT, "close");
    int fd = realOpen(cfg.report, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return;
    if (realWrite(fd, line, strlen(line)) < 0) {
        /* nothing more to do: the report is for diagnosis only */
    }
    realClose(fd);
}

static void atExit(void) {
    char line[64];
    snprintf(line, sizeof line, "calls %ld\n", cfg.rule[0].count);
    inShim = 1;
    appendReport(line);
}

static void configure(void) {
    if (cfg.ready) return;
    cfg.ready = 1;
    const char *at = getenv("FAULTSHIM_AT");
    const char *action = getenv("FAULTSHIM_ACTION");
    setRule(&cfg.rule[0], getenv("FAULTSHIM_CALLS"), at != NULL ? atol(at) : 0,
            action != NULL && action[0] != '\0' ? action : "kill");
    cfg.rules = 1;
    copyEnv(cfg.skip, sizeof cfg.skip, "FAULTSHIM_SKIP", "libnotes.so");
    copyEnv(cfg.report, sizeof cfg.report, "FAULTSHIM_REPORT", "");
    copyEnv(cfg.pause, sizeof cfg.pause, "FAULTSHIM_PAUSE", "");
    if (cfg.report[0] != '\0') atexit(atExit);
}

/* For a test program that links the shim in: from now on, act at the at-th
 * call of the listed functions (at 0 only counts); replaces every rule. */
void faultshim_arm(const char *calls, long at, const char *action) {
    configure();
    cfg.skip[0] = '\0';
    setRule(&cfg.rule[0], calls, at, action);
    cfg.rules = 1;
    cfg.acted = 0;
}

/* One more rule beside the armed ones. */
void faultshim_add(const char *calls, long at, const char *action) {
    configure();
    if (cfg.rules == MAX_RULES) abort();
    setRule(&cfg.rule[cfg.rules++], calls, at, action);
}

long faultshim_count(void) { return cfg.rule[0].count; }

long faultshim_acted(void) { return cfg.acted; }

static int skippedCaller(const void *caller) {
    if (cfg.skip[0] == '\0') return 0;
    Dl_info info;
    if (dladdr(caller, &info) == 0 || info.dli_fname == NULL) return 0;
    char list[sizeof cfg.skip];
    snprintf(list, sizeof list, "%s", cfg.skip);
    char *save = NULL;
    for (char *part = strtok_r(list, ",", &save); part != NULL; part = strtok_r(NULL, ",", &save))
        if (part[0] != '\0' && strstr(info.dli_fname, part) != NULL) return 1;
    return 0;
}

static int listed(const struct rule *r, const char *name) {
    if (r->calls[0] == '\0') return 1;
    char key[64];
    snprintf(key, sizeof key, ",%s,", name);
    return strstr(r->calls, key) != NULL;
}

static void pauseHere(void) {
    int (*realOpen)(const char *, int, ...) = (int (*)(const char *, int, ...))dlsym(RTLD_NEXT, "open");
    int (*realClose)(int) = (int (*)(int))dlsym(RTLD_NEXT, "close");
    int fd = realOpen(cfg.pause, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0) realClose(fd);
    struct stat st;
    const struct timespec step = {0, 10 * 1000 * 1000};
    while (stat(cfg.pause, &st) == 0) nanosleep(&step, NULL);
}

/* What the current call must do: 0 go on, 1 fail with errno set, 2 short. */
static int decide(const char *name, const void *caller) {
    configure();
    if (inShim || skippedCaller(caller)) return 0;
    struct rule *hit = NULL;
    long n = 0;
    for (int i = 0; i < cfg.rules; i++) {
        struct rule *r = &cfg.rule[i];
        if (!listed(r, name)) continue;
        long k = ++r->count;
        if (hit == NULL && r->at != 0 && k == r->at) {
            hit = r;
            n = k;
        }
    }
    if (hit == NULL) return 0;
    cfg.acted++;
    char line[128];
    snprintf(line, sizeof line, "hit %ld %s\n", n, name);
    inShim = 1;
    appendReport(line);
    inShim = 0;
    switch (hit->action) {
        case ACT_KILL:
            kill(getpid(), SIGKILL);
            for (;;) pause();
        case ACT_PAUSE:
            inShim = 1;
            pauseHere();
            inShim = 0;
            return 0;
        case ACT_SHORT:
            return 2;
        case ACT_FAIL:
            break;
    }
    errno = hit->error;
    return 1;
}

#define REAL(ret, name, ...)                                             \
    static ret (*real)(__VA_ARGS__);                                    \
    if (real == NULL) real = (ret(*)(__VA_ARGS__))dlsym(RTLD_NEXT, name)
#define CALLER __builtin_return_address(0)

/* open-like calls take a mode only with O_CREAT or O_TMPFILE */
#define MODE_ARG(flags, mode)                        \
    mode_t mode = 0;                                 \
    if ((flags) & (O_CREAT | __O_TMPFILE)) {         \
        va_list ap;                                  \
        va_start(ap, flags);                         \
        mode = (mode_t)va_arg(ap, int);              \
        va_end(ap);                                  \
    }

#define OPEN_FN(fname)                                                   \
    int fname(const char *path, int flags, ...) {                       \
        MODE_ARG(flags, mode);                                           \
        if (decide(#fname, CALLER)) return -1;                           \
        REAL(int, #fname, const char *, int, ...);                       \
        return real(path, flags, mode);                                  \
    }
OPEN_FN(open)
OPEN_FN(open64)

#define OPENAT_FN(fname)                                                 \
    int fname(int dir, const char *path, int flags, ...) {              \
        MODE_ARG(flags, mode);                                           \
        if (decide(#fname, CALLER)) return -1;                           \
        REAL(int, #fname, int, const char *, int, ...);                  \
        return real(dir, path, flags, mode);                             \
    }
OPENAT_FN(openat)
OPENAT_FN(openat64)

#define CREAT_FN(fname)                                                  \
    int fname(const char *path, mode_t mode) {                          \
        if (decide(#fname, CALLER)) return -1;                           \
        REAL(int, #fname, const char *, mode_t);                         \
        return real(path, mode);                                         \
    }
CREAT_FN(creat)
CREAT_FN(creat64)

ssize_t read(int fd, void *buf, size_t n) {
    int d = decide("read", CALLER);
    if (d == 1) return -1;
    REAL(ssize_t, "read", int, void *, size_t);
    return real(fd, buf, d == 2 && n > 1 ? n / 2 : n);
}

ssize_t write(int fd, const void *buf, size_t n) {
    int d = decide("write", CALLER);
    if (d == 1) return -1;
    REAL(ssize_t, "write", int, const void *, size_t);
    return real(fd, buf, d == 2 && n > 1 ? n / 2 : n);
}

#define PRW_FN(fname, buftype, offtype)                                  \
    ssize_t fname(int fd, buftype buf, size_t n, offtype off) {         \
        int d = decide(#fname, CALLER);                                  \
        if (d == 1) return -1;                                           \
        REAL(ssize_t, #fname, int, buftype, size_t, offtype);            \
        return real(fd, buf, d == 2 && n > 1 ? n / 2 : n, off);          \
    }
PRW_FN(pread, void *, off_t)
PRW_FN(pread64, void *, off64_t)
PRW_FN(pwrite, const void *, off_t)
PRW_FN(pwrite64, const void *, off64_t)

ssize_t copy_file_range(int in, off64_t *inOff, int out, off64_t *outOff, size_t n,
                        unsigned flags) {
    int d = decide("copy_file_range", CALLER);
    if (d == 1) return -1;
    REAL(ssize_t, "copy_file_range", int, off64_t *, int, off64_t *, size_t, unsigned);
    return real(in, inOff, out, outOff, d == 2 && n > 1 ? n / 2 : n, flags);
}

#define FD_FN(fname)                                                     \
    int fname(int fd) {                                                  \
        if (decide(#fname, CALLER)) return -1;                           \
        REAL(int, #fname, int);                                          \
        return real(fd);                                                 \
    }
FD_FN(fsync)
FD_FN(fdatasync)

/* A failed close still closes, as the kernel's does. */
int close(int fd) {
    int d = decide("close", CALLER);
    int saved = errno;
    REAL(int, "close", int);
    int rc = real(fd);
    if (d == 1) {
        errno = saved;
        return -1;
    }
    return rc;
}

#define PATH2_FN(fname)                                                  \
    int fname(const char *a, const char *b) {                           \
        if (decide(#fname, CALLER)) return -1;                           \
        REAL(int, #fname, const char *, const char *);                   \
        return real(a, b);                                               \
    }
PATH2_FN(rename)
PATH2_FN(link)

int renameat(int da, const char *a, int db, const char *b) {
    if (decide("renameat", CALLER)) return -1;
    REAL(int, "renameat", int, const char *, int, const char *);
    return real(da, a, db, b);
}

int renameat2(int da, const char *a, int db, const char *b, unsigned flags) {
    if (decide("renameat2", CALLER)) return -1;
    REAL(int, "renameat2", int, const char *, int, const char *, unsigned);
    return real(da, a, db, b, flags);
}

int linkat(int da, const char *a, int db, const char *b, int flags) {
    if (decide("linkat", CALLER)) return -1;
    REAL(int, "linkat", int, const char *, int, const char *, int);
    return real(da, a, db, b, flags);
}

#define PATH1_FN(fname)                                                  \
    int fname(const char *a) {                                           \
        if (decide(#fname, CALLER)) return -1;                           \
        REAL(int, #fname, const char *);                                 \
        return real(a);                                                  \
    }
PATH1_FN(unlink)
PATH1_FN(remove)
PATH1_FN(rmdir)

int unlinkat(int dir, const char *path, int flags) {
    if (decide("unlinkat", CALLER)) return -1;
    REAL(int, "unlinkat", int, const char *, int);
    return real(dir, path, flags);
}

int mkdir(const char *path, mode_t mode) {
    if (decide("mkdir", CALLER)) return -1;
    REAL(int, "mkdir", const char *, mode_t);
    return real(path, mode);
}

int mkdirat(int dir, const char *path, mode_t mode) {
    if (decide("mkdirat", CALLER)) return -1;
    REAL(int, "mkdirat", int, const char *, mode_t);
    return real(dir, path, mode);
}

int ftruncate(int fd, off_t size) {
    if (decide("ftruncate", CALLER)) return -1;
    REAL(int, "ftruncate", int, off_t);
    return real(fd, size);
}

int ftruncate64(int fd, off64_t size) {
    if (decide("ftruncate64", CALLER)) return -1;
    REAL(int, "ftruncate64", int, off64_t);
    return real(fd, size);
}

off_t lseek(int fd, off_t off, int whence) {
    if (decide("lseek", CALLER)) return -1;
    REAL(off_t, "lseek", int, off_t, int);
    return real(fd, off, whence);
}

off64_t lseek64(int fd, off64_t off, int whence) {
    if (decide("lseek64", CALLER)) return -1;
    REAL(off64_t, "lseek64", int, off64_t, int);
    return real(fd, off, whence);
}

int fchmod(int fd, mode_t mode) {
    if (decide("fchmod", CALLER)) return -1;
    REAL(int, "fchmod", int, mode_t);
    return real(fd, mode);
}

int fchown(int fd, uid_t uid, gid_t gid) {
    if (decide("fchown", CALLER)) return -1;
    REAL(int, "fchown", int, uid_t, gid_t);
    return real(fd, uid, gid);
}

int futimens(int fd, const struct timespec times[2]) {
    if (decide("futimens", CALLER)) return -1;
    REAL(int, "futimens", int, const struct timespec *);
    return real(fd, times);
}

int flock(int fd, int op) {
    if (decide("flock", CALLER)) return -1;
    REAL(int, "flock", int, int);
    return real(fd, op);
}
