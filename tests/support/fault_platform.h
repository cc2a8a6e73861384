// A keyops::CryptoPlatform for tests: wraps another table, fails chosen calls with chosen Windows errors,
// and counts every acquisition (store, certificate context, provider, hash, key, CNG object, BCrypt key) against its
// release. Installing it is scoped: the previous table comes back when it is destroyed.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "keyops/crypto_platform.h"

#define QDIE_PLATFORM_OP(name, result, role, resource, parameters) name,
enum class PlatformOp { QDIE_CRYPTO_PLATFORM_FUNCTIONS(QDIE_PLATFORM_OP) Count };
#undef QDIE_PLATFORM_OP

const char* platformOpName(PlatformOp op);

// What a scoped platform has handed out and not yet taken back.
struct Outstanding {
    int stores = 0;
    int contexts = 0;
    int providers = 0;
    int hashes = 0;
    int keys = 0;
    int ncryptObjects = 0;
    int bcryptKeys = 0;
};

class FaultInjectingPlatform {
public:
    explicit FaultInjectingPlatform(const keyops::CryptoPlatform& inner = keyops::defaultCryptoPlatform());
    ~FaultInjectingPlatform();
    FaultInjectingPlatform(const FaultInjectingPlatform&) = delete;
    FaultInjectingPlatform& operator=(const FaultInjectingPlatform&) = delete;

    // The nth call (from 1) of `op` fails with `error`. A failing release still releases, as
    // real providers do, and reports the failure.
    void failCall(PlatformOp op, int nth, DWORD error);
    // The nth failable call overall (GetLastError and GetForegroundWindow are not counted).
    void failOverallCall(int nth, DWORD error);

    int calls(PlatformOp op) const;
    int failableCalls() const;
    // Every call in order, GetLastError left out.
    std::vector<PlatformOp> callSequence() const;

    Outstanding outstanding() const;
    bool allReleased() const;
    std::string describeOutstanding() const;

    // What the table counts, as the list of platform functions names it.
    enum class Resource { None, Store, Context, Provider, Hash, Key, Ncrypt, BcryptKey };

    // Used by the table's entries; not for tests.
    bool enter(PlatformOp op, DWORD* error);
    void acquired(Resource resource, int delta);
    const keyops::CryptoPlatform& inner() const { return inner_; }

private:
    struct Fault {
        PlatformOp op;
        int nth;  // of op, or overall when op is Count
        DWORD error;
    };

    const keyops::CryptoPlatform& inner_;
    const keyops::CryptoPlatform* previous_;
    FaultInjectingPlatform* previousActive_;
    mutable std::mutex mutex_;
    std::vector<Fault> faults_;
    int counts_[static_cast<int>(PlatformOp::Count)] = {};
    int failable_ = 0;
    std::vector<PlatformOp> sequence_;
    Outstanding outstanding_;
};
