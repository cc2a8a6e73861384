// Finding a certificate of a personal store by its encoding, and the key container its
// key-provider property names.
#pragma once

#include <string>
#include <vector>

#include "keyops/call_context.h"
#include "keyops/handles.h"
#include "keyops/store_location.h"

namespace keyops {

// Each UTF-16 unit's low byte, as an 8-bit string: no code page, so characters outside Latin-1
// lose their high byte.
std::string toNarrow(const WCHAR* wide);
// Its inverse: each byte one UTF-16 unit.
std::basic_string<WCHAR> toWide(const std::string& narrow);
// Whether every unit is within Latin-1, so that narrowing keeps the name.
bool isLatin1(const WCHAR* wide);

// The certificate's CRYPT_KEY_PROV_INFO as the store hands it out (a record whose pointers point
// into itself), or why not: CRYPT_E_NOT_FOUND when it has none, ERROR_NOT_ENOUGH_MEMORY.
DWORD readKeyProvInfo(const CryptoPlatform& platform, PCCERT_CONTEXT certificate,
                      std::vector<BYTE>& record);

// The names never hold a zero byte: a binding with a name beyond Latin-1 is refused before it
// is narrowed, so every use of a name, as a C string or whole, sees the same characters.
struct KeyBinding {
    std::string containerName;
    std::string providerName;
    DWORD providerType = 0;
    // CRYPT_MACHINE_KEYSET for a key of the machine, when the source opens keys where the
    // property says; 0 otherwise.
    DWORD keysetFlags = 0;
};

// What a lookup holds: the store stays open for the caller to close, found or not.
struct CertificateKey {
    ScopedStore store;
    ScopedCertContext certificate;
    KeyBinding binding;
};

// The log's word for a found certificate: signing and decryption word it differently.
extern const char kCertificateFoundForSigning[];
extern const char kCertificateFoundForDecryption[];

// Opens the source's "My" read-only, finds the certificate whose encoding equals the given bytes
// and reads its key binding, logging each step. On failure it has recorded a status in the context's
// outcome and logged why; `found.store` is still open if the store could be opened.
bool findCertificateKey(CallContext& context, KeySource source, const BYTE* encoding,
                        DWORD length, const char* foundMessage, CertificateKey& found);

// How a lookup's store is closed: with its line, a store that cannot be closed speaking only for
// a call that had succeeded (status 9); or silently, as the ten natives' decryption closes it.
enum class StoreClosing { Logged, Silent };

// Frees the certificate and closes the store.
void closeLookupStore(CallContext& context, CertificateKey& found, StoreClosing closing);

// The skeleton of every operation with a certificate's key: the certificate looked up in the
// source's "My",
// what was found handed to `use` (which acquires the key its own way and uses it), the store
// closed whatever `use` did.
template <typename Use>
void withCertificate(CallContext& context, KeySource source, const BYTE* encoding, DWORD length,
                     const char* foundMessage, StoreClosing closing, Use use) {
    CertificateKey found;
    if (findCertificateKey(context, source, encoding, length, foundMessage, found)) use(found);
    closeLookupStore(context, found, closing);
}

}  // namespace keyops
