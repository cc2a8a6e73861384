// Maintenance of named system stores: listing, adding and deleting certificates. These write no
// log lines; the only code they record is a store that cannot be opened.
#pragma once

#include <vector>

#include "keyops/capi.h"

namespace keyops {

using CertificateList = std::vector<std::vector<BYTE>>;

// The encodings of the store's certificates, the last enumerated first. For the store named
// exactly "MY", only certificates that have a key-provider property. Empty when the store cannot
// be opened (status 7) or memory runs out.
CertificateList listCertificates(const char* storeName);

// Adds the encoding to the store; the addition's own result is not examined.
void addCertificate(const char* storeName, const BYTE* encoding, DWORD length);

// Deletes the first certificate of the store whose encoding equals the given one, if any.
void deleteCertificate(const char* storeName, const BYTE* encoding, DWORD length);

}  // namespace keyops
