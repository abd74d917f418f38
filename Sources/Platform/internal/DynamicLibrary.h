#pragma once

#include <dlfcn.h>
#include <string>

namespace brindle::platform {

// Chrome starts a fresh host for every message, so the host's start-up is what the user waits
// for. Libraries that pull in many others, and that most requests never use, are loaded on
// first use through these instead of being linked.

/// The library, loaded for the rest of the process's life, or null when it is not installed.
/// Symbols are bound lazily: binding libcurl's thirty-odd libraries at once touched about 0.9 MiB
/// of their symbol tables that a playlist fetch never needs.
inline void* loadLibrary(const char* soname) {
    return dlopen(soname, RTLD_LAZY | RTLD_LOCAL);
}

/// Why the last load or symbol lookup of this thread failed, in the loader's words.
inline std::string loadFailure() {
    const char* reason = dlerror();
    return reason != nullptr ? reason : "unknown";
}

/// Points `function` at the library's symbol `name`; false when there is none.
template <class Function> bool resolveSymbol(void* library, const char* name, Function& function) {
    function = reinterpret_cast<Function>(dlsym(library, name));
    return function != nullptr;
}

} // namespace brindle::platform
