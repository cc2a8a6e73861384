// The CryptoAPI functions the core calls, each written once: the CryptoPlatform table's members,
// its default table and the tests' fault-injecting table are all made from this list.
//
// QDIE_CRYPTO_PLATFORM_FUNCTIONS(X) calls X(name, result, role, resource, (parameters)) for each:
// the role says what a call does to the resource it hands out (a store, a certificate context, a
// provider context, a hash, a key, a CNG object, a BCrypt key), so that a table that counts them knows which
// to count:
//   Plain               hands out nothing
//   Acquires            hands out one when it succeeds
//   AcquiresUnlessDeleting  the same, except with CRYPT_DELETEKEYSET, which deletes a container
//   Releases            gives one back, even when it reports a failure
//   DeletesAndReleases  deletes a certificate from its store and gives its context back; a
//                       deletion that fails deletes nothing and gives the context back all the same
//   ReleasesUnlessNull  the same, a null one passing through
//   Enumerates          gives back the previous context and hands out the next
//   Unfailable          cannot fail
//   Unwatched           is not even recorded (GetLastError, which every failure path reads)
//   AcquiresCertificateKey  hands out a provider context or, with CERT_NCRYPT_KEY_SPEC, a CNG
//                       key, when it says the caller is to free it
//   AcquiresWhenAsked   hands out one into its last parameter, when that is not null
// The CNG calls answer with their error instead of the last error:
//   StatusPlain         hands out nothing
//   StatusAcquires      hands out one when it succeeds
//   StatusTranslates    hands out two CNG objects (a storage provider and a key) when it succeeds
//   StatusReleases      gives one back
//   StatusDeletes       gives one back when it succeeds only (NCryptDeleteKey)
#pragma once

#define QDIE_CRYPTO_PLATFORM_FUNCTIONS(X)                                                              \
    X(CertOpenStore, HCERTSTORE, Acquires, Store, (LPCSTR, DWORD, HCRYPTPROV_LEGACY, DWORD, const void*)) \
    X(CertOpenSystemStoreA, HCERTSTORE, Acquires, Store, (HCRYPTPROV_LEGACY, LPCSTR))                    \
    X(CertEnumCertificatesInStore, PCCERT_CONTEXT, Enumerates, Context, (HCERTSTORE, PCCERT_CONTEXT))    \
    X(CertGetCertificateContextProperty, BOOL, Plain, None, (PCCERT_CONTEXT, DWORD, void*, DWORD*))      \
    X(CertAddEncodedCertificateToSystemStoreA, BOOL, Plain, None, (LPCSTR, const BYTE*, DWORD))          \
    X(CertAddEncodedCertificateToStore, BOOL, AcquiresWhenAsked, Context,                               \
      (HCERTSTORE, DWORD, const BYTE*, DWORD, DWORD, PCCERT_CONTEXT*))                                   \
    X(CertSetCertificateContextProperty, BOOL, Plain, None, (PCCERT_CONTEXT, DWORD, DWORD, const void*)) \
    X(CertDeleteCertificateFromStore, BOOL, DeletesAndReleases, Context, (PCCERT_CONTEXT))               \
    X(CertDuplicateCertificateContext, PCCERT_CONTEXT, Acquires, Context, (PCCERT_CONTEXT))              \
    X(CertFreeCertificateContext, BOOL, ReleasesUnlessNull, Context, (PCCERT_CONTEXT))                   \
    X(CertCloseStore, BOOL, Releases, Store, (HCERTSTORE, DWORD))                                        \
    X(CryptSetProvParam, BOOL, Plain, None, (HCRYPTPROV, DWORD, CONST BYTE*, DWORD))                     \
    X(CryptAcquireContextA, BOOL, AcquiresUnlessDeleting, Provider,                                      \
      (HCRYPTPROV*, LPCSTR, LPCSTR, DWORD, DWORD))                                                       \
    X(CryptGetProvParam, BOOL, Plain, None, (HCRYPTPROV, DWORD, BYTE*, DWORD*, DWORD))                   \
    X(CryptCreateHash, BOOL, Acquires, Hash, (HCRYPTPROV, ALG_ID, HCRYPTKEY, DWORD, HCRYPTHASH*))        \
    X(CryptHashData, BOOL, Plain, None, (HCRYPTHASH, CONST BYTE*, DWORD, DWORD))                         \
    X(CryptSetHashParam, BOOL, Plain, None, (HCRYPTHASH, DWORD, CONST BYTE*, DWORD))                     \
    X(CryptGetHashParam, BOOL, Plain, None, (HCRYPTHASH, DWORD, BYTE*, DWORD*, DWORD))                   \
    X(CryptDestroyHash, BOOL, Releases, Hash, (HCRYPTHASH))                                              \
    X(CryptSignHashA, BOOL, Plain, None, (HCRYPTHASH, DWORD, LPCSTR, DWORD, BYTE*, DWORD*))              \
    X(CryptImportPublicKeyInfo, BOOL, Acquires, Key,                                                     \
      (HCRYPTPROV, DWORD, PCERT_PUBLIC_KEY_INFO, HCRYPTKEY*))                                            \
    X(CryptVerifySignatureA, BOOL, Plain, None,                                                          \
      (HCRYPTHASH, CONST BYTE*, DWORD, HCRYPTKEY, LPCSTR, DWORD))                                        \
    X(CryptGetUserKey, BOOL, Acquires, Key, (HCRYPTPROV, DWORD, HCRYPTKEY*))                             \
    X(CryptSetKeyParam, BOOL, Plain, None, (HCRYPTKEY, DWORD, CONST BYTE*, DWORD))                       \
    X(CryptDecrypt, BOOL, Plain, None, (HCRYPTKEY, HCRYPTHASH, BOOL, DWORD, BYTE*, DWORD*))              \
    X(CryptExportKey, BOOL, Plain, None, (HCRYPTKEY, HCRYPTKEY, DWORD, DWORD, BYTE*, DWORD*))            \
    X(CryptImportKey, BOOL, Acquires, Key, (HCRYPTPROV, CONST BYTE*, DWORD, HCRYPTKEY, DWORD, HCRYPTKEY*)) \
    X(CryptGenKey, BOOL, Acquires, Key, (HCRYPTPROV, ALG_ID, DWORD, HCRYPTKEY*))                         \
    X(CryptExportPublicKeyInfo, BOOL, Plain, None,                                                      \
      (HCRYPTPROV_OR_NCRYPT_KEY_HANDLE, DWORD, DWORD, PCERT_PUBLIC_KEY_INFO, DWORD*))                    \
    X(CryptDestroyKey, BOOL, Releases, Key, (HCRYPTKEY))                                                 \
    X(CryptReleaseContext, BOOL, Releases, Provider, (HCRYPTPROV, DWORD))                                \
    X(CryptAcquireCertificatePrivateKey, BOOL, AcquiresCertificateKey, None,                            \
      (PCCERT_CONTEXT, DWORD, void*, HCRYPTPROV_OR_NCRYPT_KEY_HANDLE*, DWORD*, BOOL*))                   \
    X(NCryptOpenStorageProvider, SECURITY_STATUS, StatusAcquires, Ncrypt,                               \
      (NCRYPT_PROV_HANDLE*, LPCWSTR, DWORD))                                                            \
    X(NCryptOpenKey, SECURITY_STATUS, StatusAcquires, Ncrypt,                                           \
      (NCRYPT_PROV_HANDLE, NCRYPT_KEY_HANDLE*, LPCWSTR, DWORD, DWORD))                                  \
    X(NCryptCreatePersistedKey, SECURITY_STATUS, StatusAcquires, Ncrypt,                                \
      (NCRYPT_PROV_HANDLE, NCRYPT_KEY_HANDLE*, LPCWSTR, LPCWSTR, DWORD, DWORD))                         \
    X(NCryptImportKey, SECURITY_STATUS, StatusAcquires, Ncrypt,                                         \
      (NCRYPT_PROV_HANDLE, NCRYPT_KEY_HANDLE, LPCWSTR, NCryptBufferDesc*, NCRYPT_KEY_HANDLE*, PBYTE,     \
       DWORD, DWORD))                                                                                   \
    X(NCryptFinalizeKey, SECURITY_STATUS, StatusPlain, None, (NCRYPT_KEY_HANDLE, DWORD))                \
    X(NCryptDeleteKey, SECURITY_STATUS, StatusDeletes, Ncrypt, (NCRYPT_KEY_HANDLE, DWORD))              \
    X(NCryptGetProperty, SECURITY_STATUS, StatusPlain, None,                                            \
      (NCRYPT_HANDLE, LPCWSTR, PBYTE, DWORD, DWORD*, DWORD))                                            \
    X(NCryptSetProperty, SECURITY_STATUS, StatusPlain, None,                                            \
      (NCRYPT_HANDLE, LPCWSTR, PBYTE, DWORD, DWORD))                                                    \
    X(NCryptSignHash, SECURITY_STATUS, StatusPlain, None,                                               \
      (NCRYPT_KEY_HANDLE, void*, PBYTE, DWORD, PBYTE, DWORD, DWORD*, DWORD))                            \
    X(NCryptDecrypt, SECURITY_STATUS, StatusPlain, None,                                                \
      (NCRYPT_KEY_HANDLE, PBYTE, DWORD, void*, PBYTE, DWORD, DWORD*, DWORD))                            \
    X(NCryptTranslateHandle, SECURITY_STATUS, StatusTranslates, Ncrypt,                                 \
      (NCRYPT_PROV_HANDLE*, NCRYPT_KEY_HANDLE*, HCRYPTPROV, HCRYPTKEY, DWORD, DWORD))                   \
    X(NCryptExportKey, SECURITY_STATUS, StatusPlain, None,                                              \
      (NCRYPT_KEY_HANDLE, NCRYPT_KEY_HANDLE, LPCWSTR, NCryptBufferDesc*, PBYTE, DWORD, DWORD*, DWORD))  \
    X(NCryptFreeObject, SECURITY_STATUS, StatusReleases, Ncrypt, (NCRYPT_HANDLE))                       \
    X(CryptImportPublicKeyInfoEx2, BOOL, Acquires, BcryptKey,                                           \
      (DWORD, PCERT_PUBLIC_KEY_INFO, DWORD, void*, BCRYPT_KEY_HANDLE*))                                  \
    X(BCryptExportKey, NTSTATUS, StatusPlain, None,                                                     \
      (BCRYPT_KEY_HANDLE, BCRYPT_KEY_HANDLE, LPCWSTR, PUCHAR, ULONG, ULONG*, ULONG))                     \
    X(BCryptDestroyKey, NTSTATUS, StatusReleases, BcryptKey, (BCRYPT_KEY_HANDLE))                       \
    X(GetForegroundWindow, HWND, Unfailable, None, ())                                                   \
    X(GetLastError, DWORD, Unwatched, None, ())
