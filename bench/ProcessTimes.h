// CPU time of a process, for the benchmarks' "how much of a run was work" figures.
#pragma once

#include <windows.h>

// User and kernel time of the process so far, in seconds.
inline double CpuSeconds(HANDLE process = GetCurrentProcess())
{
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user))
        return 0;
    auto value = [](FILETIME t) { return (double(t.dwHighDateTime) * 4294967296.0 + t.dwLowDateTime) / 1e7; };
    return value(kernel) + value(user);
}
