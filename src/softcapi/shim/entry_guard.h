// The entry points of the software CryptoAPI answer as Windows' own do: with a failure value
// and the thread's last error, never with an exception, which would unwind into callers (the
// JVM among them) that cannot catch it.
#pragma once

#include <new>

#include "softcapi/wincapi.h"

namespace softcapi {

// Runs an entry point's body. Whatever it throws ends the call with the entry point's failure
// value (FALSE or null) and NTE_NO_MEMORY as the last error for std::bad_alloc, E_UNEXPECTED for
// anything else.
template <typename Body>
auto guardEntryPoint(Body body) noexcept -> decltype(body()) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        SetLastError(static_cast<DWORD>(NTE_NO_MEMORY));
    } catch (...) {
        SetLastError(static_cast<DWORD>(E_UNEXPECTED));
    }
    return {};
}

// The same for the CNG entry points, which answer with the error itself and leave the last
// error alone.
template <typename Body>
SECURITY_STATUS guardStatusEntryPoint(Body body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return static_cast<SECURITY_STATUS>(NTE_NO_MEMORY);
    } catch (...) {
        return static_cast<SECURITY_STATUS>(E_UNEXPECTED);
    }
}

}  // namespace softcapi
