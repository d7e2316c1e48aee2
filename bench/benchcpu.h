// One CPU for every process of a benchmark: the machine is shared, so a figure is only comparable
// with a baseline measured on the same CPU in the same run. Header-only.
#pragma once
#include <dirent.h>
#include <sched.h>
#include <sys/types.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace benchcpu {

inline bool PinTask(pid_t tid, int cpu)
{
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    return sched_setaffinity(tid, sizeof set, &set) == 0;
}

// The threads of a process.
inline std::vector<pid_t> Tasks(pid_t pid)
{
    std::vector<pid_t> out;
    DIR* d = opendir(("/proc/" + std::to_string(pid) + "/task").c_str());
    if (d == nullptr)
        return out;
    while (dirent* e = readdir(d))
        if (e->d_name[0] != '.')
            out.push_back(static_cast<pid_t>(atoi(e->d_name)));
    closedir(d);
    return out;
}

// Pins every thread a process has now; threads it makes later inherit the mask.
inline bool PinProcess(pid_t pid, int cpu)
{
    bool ok = true;
    for (pid_t tid : Tasks(pid))
        ok = PinTask(tid, cpu) && ok;
    return ok;
}

inline int LastAllowedCpu()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0)
        return 0;
    for (int c = CPU_SETSIZE - 1; c >= 0; --c)
        if (CPU_ISSET(c, &set))
            return c;
    return 0;
}

}  // namespace benchcpu
