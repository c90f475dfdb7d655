/* A preloaded library that moves the wall clock of every process of a test
 * by HV_CLOCK_SHIFT seconds, and nothing else: the monotonic clocks, sleeps
 * and waits stay as they are. Built for x86_64 and i386 with no C library
 * headers (the 32-bit ones are not installed), it reads the clock through
 * the system calls themselves. Wine's 32-bit side reads the clock through
 * the 64-bit time entry points of the C library (__clock_gettime64 and the
 * like), its 64-bit side and the server through the plain ones: both sets
 * are replaced. Preload it as /usr/$LIB/... or by path for each word size. */
typedef long long i64;

struct ts64 { i64 sec; i64 nsec; };
struct tv64 { i64 sec; i64 usec; };
struct tsl { long sec; long nsec; };
struct tvl { long sec; long usec; };

static i64 shift;

static int isWallClock(int id) {
    /* REALTIME, REALTIME_COARSE, REALTIME_ALARM, TAI */
    return id == 0 || id == 5 || id == 8 || id == 11;
}

#if defined(__x86_64__)
static long sys2(long nr, long a, long b) {
    long r;
    __asm__ volatile("syscall" : "=a"(r) : "a"(nr), "D"(a), "S"(b) : "rcx", "r11", "memory");
    return r;
}
#define SYS_CLOCK_GETTIME 228
#define SYS_GETTIMEOFDAY 96
#elif defined(__i386__)
static long sys2(long nr, long a, long b) {
    long r;
    __asm__ volatile("xchg %%ebx, %%edi\n\tint $0x80\n\txchg %%ebx, %%edi"
                     : "=a"(r) : "a"(nr), "D"(a), "c"(b) : "memory");
    return r;
}
#define SYS_CLOCK_GETTIME 265
#define SYS_CLOCK_GETTIME64 403
#define SYS_GETTIMEOFDAY 78
#else
#error "x86_64 or i386 only"
#endif

static int fail(long r) {
    /* errno lives in the C library: the callers here pass valid arguments */
    return r < 0 ? -1 : 0;
}

__attribute__((constructor)) static void init(int argc, char** argv, char** envp) {
    (void)argc;
    (void)argv;
    for (char** e = envp; e && *e; e++) {
        const char* k = "HV_CLOCK_SHIFT=";
        const char* p = *e;
        while (*k && *p == *k) k++, p++;
        if (*k) continue;
        int neg = *p == '-';
        if (neg || *p == '+') p++;
        i64 v = 0;
        while (*p >= '0' && *p <= '9') v = v * 10 + (*p++ - '0');
        shift = neg ? -v : v;
    }
}

#if defined(__x86_64__)
int clock_gettime(int id, struct tsl* t) {
    long r = sys2(SYS_CLOCK_GETTIME, id, (long)t);
    if (r == 0 && t && isWallClock(id)) t->sec += shift;
    return fail(r);
}
#else
int __clock_gettime64(int id, struct ts64* t) {
    long r = sys2(SYS_CLOCK_GETTIME64, id, (long)t);
    if (r == 0 && t && isWallClock(id)) t->sec += shift;
    return fail(r);
}

int clock_gettime(int id, struct tsl* t) {
    struct ts64 w;
    int r = __clock_gettime64(id, &w);
    if (r == 0 && t) t->sec = (long)w.sec, t->nsec = (long)w.nsec;
    return r;
}

int __gettimeofday64(struct tv64* tv, void* tz) {
    struct ts64 w;
    int r = __clock_gettime64(0, &w);
    if (r == 0 && tv) tv->sec = w.sec, tv->usec = w.nsec / 1000;
    if (tz) sys2(SYS_GETTIMEOFDAY, 0, (long)tz);
    return r;
}

i64 __time64(i64* out) {
    struct ts64 w;
    if (__clock_gettime64(0, &w) != 0) return -1;
    if (out) *out = w.sec;
    return w.sec;
}
#endif

int gettimeofday(struct tvl* tv, void* tz) {
    struct tsl w;
    int r = clock_gettime(0, &w);
    if (r == 0 && tv) tv->sec = w.sec, tv->usec = w.nsec / 1000;
    if (tz) sys2(SYS_GETTIMEOFDAY, 0, (long)tz);
    return r;
}

long time(long* out) {
    struct tsl w;
    if (clock_gettime(0, &w) != 0) return -1;
    if (out) *out = w.sec;
    return w.sec;
}
