// The software CryptoAPI keeps what it read of the key store until the file changes. Sweeps that
// must meet every allocation a call can make start each run from empty caches.
#pragma once

// Replaces the key store file with a copy of itself and opens a store: the software CryptoAPI
// finds a new file and lets go of everything it read from the old one.
void forgetKeystoreCaches();
