#include "platform/zkSharedLibrary.h"

#include <dlfcn.h>

namespace zkShared {

void* Open(const char* soname) {
    // Local: its symbols must not stand in for anyone else's.
    return dlopen(soname, RTLD_NOW | RTLD_LOCAL);
}

void* Symbol(void* library, const char* name) {
    return library ? dlsym(library, name) : nullptr;
}

} // namespace zkShared
