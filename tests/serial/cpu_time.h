// CPU time used by this process so far (all threads).
#pragma once

#include <chrono>

#ifdef _WIN32
#include <windows.h>
#else
#include <ctime>
#endif

namespace pdt::testing {

inline std::chrono::microseconds ProcessCpuTime() {
#ifdef _WIN32
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto ticks = [](const FILETIME& t) {
        return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return std::chrono::microseconds((ticks(kernel) + ticks(user)) / 10);
#else
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return std::chrono::seconds(t.tv_sec) + std::chrono::microseconds(t.tv_nsec / 1000);
#endif
}

}  // namespace pdt::testing
