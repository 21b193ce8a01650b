// Counting checks for the Windows check programs: EXPECT(cond) counts a pass or
// prints the failed condition with its line, and Summary prints the closing
// "NAME: N passed, N failed" line and gives the exit code (0 only when all passed).
#pragma once

#include <cstdio>

namespace wincheck {

inline int g_passed = 0;
inline int g_failed = 0;

inline void Expect(bool ok, const char* what, int line)
{
    if (ok) {
        ++g_passed;
    } else {
        ++g_failed;
        std::printf("FAILED line %d: %s\n", line, what);
    }
}

// `extraFailures`: failures found outside EXPECT (an exception that ended the checks).
inline int Summary(const char* name, int extraFailures = 0)
{
    std::printf("%s: %d passed, %d failed\n", name, g_passed, g_failed + extraFailures);
    return g_failed + extraFailures == 0 ? 0 : 1;
}

} // namespace wincheck

#define EXPECT(cond) ::wincheck::Expect((cond), #cond, __LINE__)
