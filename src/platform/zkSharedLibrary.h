#pragma once

// Libraries the client needs only once it runs (the sound libraries and their codecs) are opened
// at first use, not by the program loader: every library loaded at start-up adds its own
// relocations and slows the symbol look-ups of all the others.
//
// A library's functions are listed once, as X(name) for each, and resolved into a table of
// pointers with the names and types of its header:
//   #define ZK_FOO_FUNCTIONS(X) X(foo_open) X(foo_close)
//   struct TFooApi { ZK_FOO_FUNCTIONS(ZK_SHARED_POINTER) };
//   const TFooApi* api = zkShared::Load<TFooApi>("libfoo.so.1", [](void* h, TFooApi& a) {
//       return ZK_FOO_FUNCTIONS(ZK_SHARED_RESOLVE) true; });

namespace zkShared {

// Opens the library by its soname; nullptr when it is missing or cannot be loaded. It stays
// loaded for the rest of the process: threads may still be running its code at exit.
void* Open(const char* soname);
// The address of the library's symbol, or nullptr.
void* Symbol(void* library, const char* name);

template <typename F> bool Resolve(void* library, const char* name, F*& function) {
    function = reinterpret_cast<F*>(Symbol(library, name));
    return function != nullptr;
}

// The library's table, loaded on the first call and then kept (thread-safe); nullptr when the
// library or any of its functions is missing. `resolve` fills the table from the open library.
template <typename TApi, typename FResolve> const TApi* Load(const char* soname, FResolve resolve) {
    static const TApi* const api = [&]() -> const TApi* {
        void* library = Open(soname);
        if (!library)
            return nullptr;
        auto* table = new TApi(); // kept for the process, as the library is
        if (resolve(library, *table))
            return table;
        delete table;
        return nullptr;
    }();
    return api;
}

} // namespace zkShared

#define ZK_SHARED_POINTER(name) decltype(&::name) name = nullptr;
#define ZK_SHARED_RESOLVE(name) zkShared::Resolve(h, #name, a.name)&&
