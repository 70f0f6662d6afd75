// The moment of a fault as the crash-time bench reads it: seconds since 1970 with seven
// decimals, on a line of its own.
#ifndef BRENNLOW_TESTS_CRASH_PROGRAMS_FAULTTIME_H
#define BRENNLOW_TESTS_CRASH_PROGRAMS_FAULTTIME_H

#include <windows.h>
#include <stdio.h>

inline void PrintFaultTime()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULONGLONG units = ((static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime) -
                      116444736000000000ULL; // from 1601 to 1970
    printf("%I64u.%07I64u\n", units / 10000000, units % 10000000);
    fflush(stdout);
}

#endif
