// Maintenance of named system stores: listing, adding and deleting certificates. Each logs its
// steps to the context's sink (the ten natives give one that takes no line); the only code they
// record is a store that cannot be opened, and an addition or deletion returns its own result.
// The ten natives name a store of the current user alone and open it with CertOpenSystemStoreA;
// the provider names its location too and opens it with CertOpenStore, with as much access as
// the user has, so that a store the user may read but not change still lists.
#pragma once

#include <string>
#include <vector>

#include "keyops/call_context.h"
#include "keyops/handles.h"
#include "keyops/store_location.h"

namespace keyops {

using CertificateList = std::vector<std::vector<BYTE>>;

// A system store as the provider names it.
struct SystemStore {
    StoreLocation location;
    const char* name;
};

// A certificate of a listing, and whether it has a key-provider property.
struct ListedCertificate {
    std::vector<BYTE> encoding;
    bool hasKey = false;
    bool cngKey = false;  // a key storage provider's (provider type 0), used through CNG
    // The container the property names, as it spells it: a key entry goes by it too.
    std::u16string container;
};

// The encodings of the store's certificates, the last enumerated first. For the store named
// exactly "MY", only certificates that have a key-provider property. Empty when the store cannot
// be opened (status 7 recorded) or memory runs out.
CertificateList listCertificates(CallContext& context, const char* storeName);

// Every certificate of the store, whatever the spelling of its name, the last enumerated first,
// each with whether it has a key. Empty when the store cannot be opened or enumerated to its end
// (status 7 recorded, with the step that failed) or memory runs out.
std::vector<ListedCertificate> listStoreEntries(CallContext& context, SystemStore store);

// What an addition or a deletion did: ERROR_SUCCESS, CRYPT_E_NOT_FOUND for a deletion of a
// certificate the store does not hold, or the Windows error of the step that failed.
struct StoreChange {
    DWORD error = ERROR_SUCCESS;
    const char* step = nullptr;
};

// Adds the encoding to the store, a certificate it holds already left as it is; a store that
// cannot be opened records status 7 and adds nothing.
StoreChange addCertificate(CallContext& context, const char* storeName, const BYTE* encoding,
                           DWORD length);
StoreChange addCertificateAt(CallContext& context, SystemStore store, const BYTE* encoding,
                             DWORD length);

// The store, opened as the provider opens it (with as much access as the user has), or none with
// status 7 recorded; and its closing after a change, a failure logged and recorded nowhere, the
// change having been made or not already.
ScopedStore openStoreAt(CallContext& context, SystemStore store);
void closeStoreAfterChange(CallContext& context, ScopedStore& store);

// Deletes the first certificate of the store whose encoding equals the given one, if any; a store
// that cannot be opened records status 7. A walk the store cuts short is a failure, not "none".
StoreChange deleteCertificate(CallContext& context, const char* storeName, const BYTE* encoding,
                              DWORD length);
StoreChange deleteCertificateAt(CallContext& context, SystemStore store, const BYTE* encoding,
                                DWORD length);

}  // namespace keyops
