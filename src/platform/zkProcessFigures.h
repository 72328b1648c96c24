#pragma once

// Figures a process reads of itself for the start-up benchmark, in plain C: at main() nothing
// of Qt may be touched yet. The client and the benchmark's bare program count the same way.

// The shared libraries mapped into the process (distinct ".so" files of /proc/self/maps); with
// list, their paths are printed as "library-at-<when> PATH" lines.
int MappedLibraries(const char* when, bool list);

// A memory figure of the process now, in KiB (a field of /proc/self/status such as VmRSS or
// RssAnon); -1 when unknown.
long ResidentKiB(const char* field = "VmRSS");

// Where start-up time goes, for the benchmark: once enabled, each mark keeps the moment and the
// main thread's and the whole process's processor time as a phase ends; PrintStartupPhases
// prints them as "phase NAME WALL_NS CPU_NS PROCESS_CPU_NS" lines (the monotonic clock; the
// thread's processor time, the dynamic loader's work before main() included; every thread's,
// ended ones too). At most 16 marks; the names must live on.
void EnableStartupPhases();
void MarkStartupPhase(const char* name);
void PrintStartupPhases();
