#pragma once
// This process's CPU time so far (all its threads), and the kernel's part of it.

#include <sys/resource.h>

struct ProcessCpu {
    double all = 0, kernel = 0; // seconds
    ProcessCpu operator-(const ProcessCpu &o) const { return {all - o.all, kernel - o.kernel}; }
};

inline ProcessCpu ProcessCpuNow()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    const double user = double(u.ru_utime.tv_sec) + double(u.ru_utime.tv_usec) / 1e6;
    const double kernel = double(u.ru_stime.tv_sec) + double(u.ru_stime.tv_usec) / 1e6;
    return {user + kernel, kernel};
}

inline double ProcessCpuSeconds() { return ProcessCpuNow().all; }
