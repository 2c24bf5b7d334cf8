// The fault shim as a unit test drives it when linked into the test program.
#ifndef NSFMEND_TESTS_FAULTSHIM_H
#define NSFMEND_TESTS_FAULTSHIM_H

#ifdef __cplusplus
extern "C" {
#endif

// From now on, act at the at-th call of the comma-separated functions
// ("copy_file_range", "write,pwrite64"): action is one of kill, eio, enospc,
// einval, enosys, exdev, eperm, short, pause. at 0 only counts.
void faultshim_arm(const char *calls, long at, const char *action);
// One more fault beside the armed ones (up to four in all).
void faultshim_add(const char *calls, long at, const char *action);
// Calls of the armed functions counted since the last arm.
long faultshim_count(void);
// Calls acted on (failed, shortened, ...) since the last arm, by any rule.
long faultshim_acted(void);

#ifdef __cplusplus
}

// Armed for one scope of a test; counting only, with nothing to act on, after it.
struct FaultArmed {
    FaultArmed(const char *calls, long at, const char *action) { faultshim_arm(calls, at, action); }
    ~FaultArmed() { faultshim_arm("", 0, "kill"); }
    FaultArmed(const FaultArmed &) = delete;
    FaultArmed &operator=(const FaultArmed &) = delete;
};
#endif

#endif
