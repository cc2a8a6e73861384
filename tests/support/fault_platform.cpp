#include "support/fault_platform.h"

#include <sstream>
#include <tuple>

using keyops::CryptoPlatform;
using keyops::defaultCryptoPlatform;
using keyops::installCryptoPlatform;

namespace {

FaultInjectingPlatform* gActive = nullptr;

// More calls than any native makes on a store of a few certificates.
const size_t kRecordedCalls = 4096;

const CryptoPlatform& real() {
    return gActive->inner();
}

// True when the call is to fail; the error is then set for the caller to read.
bool failing(PlatformOp op) {
    DWORD error = 0;
    if (!gActive->enter(op, &error)) return false;
    ::SetLastError(error);
    return true;
}

using Resource = FaultInjectingPlatform::Resource;

void count(Resource resource, int delta) {
    gActive->acquired(resource, delta);
}

enum class Role {
    Plain,
    Acquires,
    AcquiresUnlessDeleting,
    Releases,
    DeletesAndReleases,
    ReleasesUnlessNull,
    Enumerates,
    Unfailable,
    Unwatched,
    AcquiresCertificateKey,
    AcquiresWhenAsked,
    StatusPlain,
    StatusAcquires,
    StatusTranslates,
    StatusReleases,
    StatusDeletes
};

// The entry of one platform function: it fails when the test asked for it (with the error set
// for the caller to read), and counts what the function hands out and takes back by its role.
template <PlatformOp op, Role role, Resource resource, auto member, typename Function>
struct Trampoline;

template <PlatformOp op, Role role, Resource resource, auto member, typename Result,
          typename... Arguments>
struct Trampoline<op, role, resource, member, Result(WINAPI*)(Arguments...)> {
    static Result WINAPI call(Arguments... arguments) {
        auto forward = [&] { return (real().*member)(arguments...); };
        if constexpr (role == Role::Unwatched) {
            return forward();
        } else if constexpr (role == Role::Unfailable) {
            gActive->enter(op, nullptr);
            return forward();
        } else if constexpr (role == Role::Releases || role == Role::ReleasesUnlessNull) {
            if constexpr (role == Role::ReleasesUnlessNull) {
                if (std::get<0>(std::tie(arguments...)) == nullptr) return forward();
            }
            // A release that is made to fail has still released, as providers do; only its
            // answer changes.
            DWORD error = 0;
            bool fail = gActive->enter(op, &error);
            Result released = forward();
            count(resource, -1);
            if (!fail) return released;
            ::SetLastError(error);
            return Result{};
        } else if constexpr (role == Role::DeletesAndReleases) {
            // A deletion made to fail deletes nothing; the context goes back all the same.
            DWORD error = 0;
            if (!gActive->enter(op, &error)) {
                Result deleted = forward();
                count(resource, -1);
                return deleted;
            }
            real().CertFreeCertificateContext(std::get<0>(std::tie(arguments...)));
            count(resource, -1);
            ::SetLastError(error);
            return Result{};
        } else if constexpr (role == Role::StatusPlain || role == Role::StatusAcquires ||
                             role == Role::StatusTranslates) {
            DWORD error = 0;
            if (gActive->enter(op, &error)) return static_cast<Result>(error);
            Result status = forward();
            if (status == ERROR_SUCCESS && role != Role::StatusPlain)
                count(resource, role == Role::StatusTranslates ? +2 : +1);
            return status;
        } else if constexpr (role == Role::StatusDeletes) {
            // A deletion made to fail has deleted nothing, and its handle is still the caller's.
            DWORD error = 0;
            if (gActive->enter(op, &error)) return static_cast<Result>(error);
            Result status = forward();
            if (status == ERROR_SUCCESS) count(resource, -1);
            return status;
        } else if constexpr (role == Role::StatusReleases) {
            DWORD error = 0;
            bool fail = gActive->enter(op, &error);
            Result released = forward();
            if (released == ERROR_SUCCESS) count(resource, -1);
            return fail ? static_cast<Result>(error) : released;
        } else if constexpr (role == Role::AcquiresCertificateKey) {
            if (failing(op)) return Result{};
            Result result = forward();
            DWORD* keySpec = std::get<4>(std::tie(arguments...));
            BOOL* callerFrees = std::get<5>(std::tie(arguments...));
            if (result && *callerFrees)
                count(keySpec != nullptr && *keySpec == CERT_NCRYPT_KEY_SPEC ? Resource::Ncrypt
                                                                             : Resource::Provider,
                      +1);
            return result;
        } else if constexpr (role == Role::Enumerates) {
            PCCERT_CONTEXT previous = std::get<1>(std::tie(arguments...));
            if (failing(op)) {
                // Enumeration always gives back the previous context, even when it fails.
                if (previous != nullptr) {
                    DWORD error = real().GetLastError();
                    real().CertFreeCertificateContext(previous);
                    count(resource, -1);
                    ::SetLastError(error);
                }
                return nullptr;
            }
            Result next = forward();
            count(resource, (next != nullptr) - (previous != nullptr));
            return next;
        } else {
            if (failing(op)) return Result{};
            Result result = forward();
            bool acquired = role == Role::Acquires && result;
            if constexpr (role == Role::AcquiresWhenAsked)
                acquired = result && std::get<sizeof...(Arguments) - 1>(std::tie(arguments...)) != nullptr;
            if constexpr (role == Role::AcquiresUnlessDeleting)
                acquired = result && (std::get<4>(std::tie(arguments...)) & CRYPT_DELETEKEYSET) == 0;
            if (acquired) count(resource, +1);
            return result;
        }
    }
};

#define QDIE_TRAMPOLINE(name, result, role, resource, parameters)                                 \
    &Trampoline<PlatformOp::name, Role::role, Resource::resource, &CryptoPlatform::name,        \
                decltype(CryptoPlatform::name)>::call,
const CryptoPlatform kTrampolines = {QDIE_CRYPTO_PLATFORM_FUNCTIONS(QDIE_TRAMPOLINE)};
#undef QDIE_TRAMPOLINE

#define QDIE_OP_NAME(name, result, role, resource, parameters) #name,
const char* const kOpNames[] = {QDIE_CRYPTO_PLATFORM_FUNCTIONS(QDIE_OP_NAME)};
#undef QDIE_OP_NAME

#define QDIE_OP_ROLE(name, result, role, resource, parameters) Role::role,
const Role kRoles[] = {QDIE_CRYPTO_PLATFORM_FUNCTIONS(QDIE_OP_ROLE)};
#undef QDIE_OP_ROLE

bool isFailable(PlatformOp op) {
    Role role = kRoles[static_cast<int>(op)];
    return role != Role::Unfailable && role != Role::Unwatched;
}

}  // namespace

const char* platformOpName(PlatformOp op) {
    return kOpNames[static_cast<int>(op)];
}

FaultInjectingPlatform::FaultInjectingPlatform(const CryptoPlatform& inner)
    : inner_(inner), previous_(nullptr), previousActive_(gActive) {
    // Recording a call allocates nothing, so that allocation sweeps count only the code under test.
    sequence_.reserve(kRecordedCalls);
    gActive = this;
    previous_ = installCryptoPlatform(&kTrampolines);
}

FaultInjectingPlatform::~FaultInjectingPlatform() {
    installCryptoPlatform(previous_ == &defaultCryptoPlatform() ? nullptr : previous_);
    gActive = previousActive_;
}

void FaultInjectingPlatform::failCall(PlatformOp op, int nth, DWORD error) {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_.push_back({op, nth, error});
}

void FaultInjectingPlatform::failOverallCall(int nth, DWORD error) {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_.push_back({PlatformOp::Count, nth, error});
}

bool FaultInjectingPlatform::enter(PlatformOp op, DWORD* error) {
    std::lock_guard<std::mutex> lock(mutex_);
    int nth = ++counts_[static_cast<int>(op)];
    sequence_.push_back(op);
    if (!isFailable(op)) return false;
    int overall = ++failable_;
    for (const Fault& fault : faults_) {
        bool hit = fault.op == PlatformOp::Count ? fault.nth == overall
                                                 : fault.op == op && fault.nth == nth;
        if (hit) {
            *error = fault.error;
            return true;
        }
    }
    return false;
}

void FaultInjectingPlatform::acquired(Resource resource, int delta) {
    std::lock_guard<std::mutex> lock(mutex_);
    switch (resource) {
        case Resource::Store:
            outstanding_.stores += delta;
            break;
        case Resource::Provider:
            outstanding_.providers += delta;
            break;
        case Resource::Hash:
            outstanding_.hashes += delta;
            break;
        case Resource::Key:
            outstanding_.keys += delta;
            break;
        case Resource::Context:
            outstanding_.contexts += delta;
            break;
        case Resource::Ncrypt:
            outstanding_.ncryptObjects += delta;
            break;
        case Resource::BcryptKey:
            outstanding_.bcryptKeys += delta;
            break;
        case Resource::None:
            break;
    }
}

int FaultInjectingPlatform::calls(PlatformOp op) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return counts_[static_cast<int>(op)];
}

int FaultInjectingPlatform::failableCalls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return failable_;
}

std::vector<PlatformOp> FaultInjectingPlatform::callSequence() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return sequence_;
}

Outstanding FaultInjectingPlatform::outstanding() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return outstanding_;
}

bool FaultInjectingPlatform::allReleased() const {
    Outstanding o = outstanding();
    return o.stores == 0 && o.contexts == 0 && o.providers == 0 && o.hashes == 0 && o.keys == 0 &&
           o.ncryptObjects == 0 && o.bcryptKeys == 0;
}

std::string FaultInjectingPlatform::describeOutstanding() const {
    Outstanding o = outstanding();
    std::ostringstream text;
    text << "stores " << o.stores << ", certificate contexts " << o.contexts << ", providers "
         << o.providers << ", hashes " << o.hashes << ", keys " << o.keys << ", CNG objects "
         << o.ncryptObjects << ", BCrypt keys " << o.bcryptKeys;
    return text.str();
}
