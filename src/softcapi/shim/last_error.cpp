#include "softcapi/shim/last_error.h"

namespace {
thread_local DWORD tLastError = ERROR_SUCCESS;
}

DWORD WINAPI GetLastError() noexcept {
    return tLastError;
}

void WINAPI SetLastError(DWORD error) noexcept {
    tLastError = error;
}

// There is no window system here: provider dialogs have no parent.
HWND WINAPI GetForegroundWindow() noexcept {
    return nullptr;
}
