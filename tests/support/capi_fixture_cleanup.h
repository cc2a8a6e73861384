// What the CryptoAPI fixture made, and its removal: Wine keeps system stores and key containers
// in the prefix's registry, which outlives every test.
#pragma once

#include <string>
#include <vector>

#include "support/crypto_fixture.h"

struct MadeContainer {
    std::string name;
    std::string provider;
    DWORD type;
    DWORD keysetFlags = 0;  // CRYPT_MACHINE_KEYSET for the machine's
};

struct MadeByFixture {
    std::vector<Bytes> certificates;
    std::vector<MadeContainer> containers;
};

void removeContainer(const MadeContainer& container);

// Deletes each certificate made from every system store of the current user and the machine it
// was added to (by the fixture or by a test), then every container. Never throws: it runs in a destructor.
void removeAll(const MadeByFixture& made);
