#include "keyops/softcapi/last_error.h"

namespace {
thread_local DWORD tLastError = ERROR_SUCCESS;
}

DWORD WINAPI GetLastError() {
    return tLastError;
}

void WINAPI SetLastError(DWORD error) {
    tLastError = error;
}

// There is no window system here: provider dialogs have no parent.
HWND WINAPI GetForegroundWindow() {
    return nullptr;
}
