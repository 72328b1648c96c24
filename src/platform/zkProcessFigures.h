#pragma once

// Figures a process reads of itself for the start-up benchmark, in plain C: at main() nothing
// of Qt may be touched yet. The client and the benchmark's bare program count the same way.

// The shared libraries mapped into the process (distinct ".so" files of /proc/self/maps); with
// list, their paths are printed as "library-at-<when> PATH" lines.
int MappedLibraries(const char* when, bool list);

// A memory figure of the process now, in KiB (a field of /proc/self/status such as VmRSS or
// RssAnon); -1 when unknown.
long ResidentKiB(const char* field = "VmRSS");
