#pragma once

#include <cstdlib>

// A broken property ends the run with a crash, which libFuzzer reports with the input.
inline void Check(bool condition) {
    if (!condition)
        std::abort();
}
