#include "platform/zkProcessFigures.h"
#include "platform/zkThreadClock.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <set>
#include <string>

int MappedLibraries(const char* when, bool list) {
    FILE* maps = std::fopen("/proc/self/maps", "re");
    if (!maps)
        return -1;
    std::set<std::string> paths;
    char line[4096];
    while (std::fgets(line, sizeof line, maps)) {
        const char* path = std::strchr(line, '/');
        if (!path || !std::strstr(path, ".so"))
            continue;
        std::string name(path);
        while (!name.empty() && (name.back() == '\n' || name.back() == ' '))
            name.pop_back();
        paths.insert(name);
    }
    std::fclose(maps);
    if (list)
        for (const std::string& name : paths)
            std::printf("library-at-%s %s\n", when, name.c_str());
    return int(paths.size());
}

long ResidentKiB(const char* field) {
    FILE* status = std::fopen("/proc/self/status", "re");
    if (!status)
        return -1;
    long kib = -1;
    char line[256];
    const size_t length = std::strlen(field);
    while (std::fgets(line, sizeof line, status))
        if (std::strncmp(line, field, length) == 0 && line[length] == ':' &&
            std::sscanf(line + length + 1, "%ld", &kib) == 1)
            break;
    std::fclose(status);
    return kib;
}

namespace {
struct TPhaseMark {
    const char* Name;
    long long WallNs, CpuNs, ProcessCpuNs;
};
TPhaseMark PhaseMarks[16];
int PhaseCount = -1; // -1 while not enabled

long long ClockNs(clockid_t clock) {
    timespec now = {};
    clock_gettime(clock, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}
} // namespace

void EnableStartupPhases() {
    PhaseCount = 0;
    MarkStartupPhase("main");
}

void MarkStartupPhase(const char* name) {
    if (PhaseCount < 0 || PhaseCount >= int(sizeof PhaseMarks / sizeof PhaseMarks[0]))
        return;
    PhaseMarks[PhaseCount++] = {name, ClockNs(CLOCK_MONOTONIC), zkThreadClock::ProcessorNs(),
                                ClockNs(CLOCK_PROCESS_CPUTIME_ID)};
}

void PrintStartupPhases() {
    for (int i = 0; i < PhaseCount; ++i)
        std::printf("phase %s %lld %lld %lld\n", PhaseMarks[i].Name, PhaseMarks[i].WallNs,
                    PhaseMarks[i].CpuNs, PhaseMarks[i].ProcessCpuNs);
}
