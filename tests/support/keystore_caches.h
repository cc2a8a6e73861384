// The software CryptoAPI keeps what it read of the key store until the file changes. Sweeps that
// must meet every allocation a call can make start each run from empty caches.
#pragma once

#include "support/crypto_fixture.h"

// Changes the key store (adds `scratch`, a certificate no test looks for, to a store of its own
// and deletes it again) and opens a store, so that every cached store and container is let go.
void forgetKeystoreCaches(const Bytes& scratch);
