#pragma once

// libsndfile, the wave decoder, opened when the first sound is prepared or played rather than
// at start-up (it brings its codecs' libraries along).

#include "platform/zkSharedLibrary.h"

#include <sndfile.h>

// clang-format off
#define ZK_SNDFILE_FUNCTIONS(X) \
    X(sf_open) \
    X(sf_close) \
    X(sf_command) \
    X(sf_readf_short) \
    X(sf_writef_short)
// clang-format on

struct TSndfileApi {
    ZK_SNDFILE_FUNCTIONS(ZK_SHARED_POINTER)
};

// The library's functions; nullptr where it cannot be loaded (then no wave file plays).
const TSndfileApi* Sndfile();
