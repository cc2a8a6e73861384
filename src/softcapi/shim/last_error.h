// The thread's last Windows error, as GetLastError reports it.
#pragma once

#include "softcapi/wincapi.h"

namespace softcapi {

// Records `error` as the thread's last error and returns FALSE, the way every failing call ends.
inline BOOL failWith(DWORD error) {
    SetLastError(error);
    return FALSE;
}

// The same, for the calls that answer with a pointer.
template <typename T>
T* failWithNull(DWORD error) {
    SetLastError(error);
    return nullptr;
}

}  // namespace softcapi
