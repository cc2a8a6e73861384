// A store read back the way the core and the tool read one: opened, enumerated, each
// certificate's properties fetched with the two-call protocol, each context duplicated and
// freed, the store closed. Every CryptoAPI promise on the way is checked with require().
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "softcapi/wincapi.h"

struct WalkedBinding {
    std::string container;  // narrowed as the core narrows it
    std::string provider;
    DWORD providerType = 0;
    DWORD keySpec = 0;
};

struct WalkedCertificate {
    std::vector<BYTE> encoded;
    std::vector<BYTE> thumbprint;
    std::optional<WalkedBinding> binding;
};

// The store's certificates in enumeration order; none when the store cannot be opened.
std::vector<WalkedCertificate> walkStore(const std::string& name);
