#include "zkVersion.h"

#include <cstdio>
#include <cstring>

namespace zkVersion {

const char* Text() {
    return VELQUIST_VERSION;
}

bool AnswerInfoOption(int argc, char** argv, const char* program, const char* usage) {
    bool help = false;
    bool version = false;
    for (int i = 1; i < argc; ++i) {
        if (!argv[i])
            continue;
        // "--" ends the options: what follows is an argument, whatever it looks like.
        if (std::strcmp(argv[i], "--") == 0)
            break;
        if (std::strcmp(argv[i], "--version") == 0)
            version = true;
        else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0)
            help = true;
    }
    if (version) {
        std::printf("%s %s\n", program, Text());
    } else if (help && usage && *usage) {
        std::fputs(usage, stdout);
    } else {
        return false;
    }
    std::fflush(stdout);
    return true;
}

} // namespace zkVersion
