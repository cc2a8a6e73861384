// A certificate's key binding, its key-provider property as the key store keeps it: which
// container, through which provider and type, and which of the container's keys. Names in UTF-8.
#pragma once

#include <string>

#include "softcapi/wintypes.h"

namespace softcapi {

struct KeyBinding {
    std::string container;
    std::string provider;
    DWORD providerType = 0;
    DWORD keySpec = 0;
};

}  // namespace softcapi
