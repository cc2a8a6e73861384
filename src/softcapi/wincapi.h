// The software CryptoAPI: the certificate-store, provider, CNG and window functions the library
// uses, with Windows' names and signatures, for builds where the Windows DLLs are absent; in
// sections by the DLL each comes from, as the folders beside this file are.
#pragma once

#include "softcapi/wintypes.h"

// ---- KERNEL32 and USER32 (shim/) ----

// These three cannot fail; every other entry point answers failure with FALSE or null and the
// last error, and never throws.
DWORD WINAPI GetLastError() noexcept;
void WINAPI SetLastError(DWORD error) noexcept;
HWND WINAPI GetForegroundWindow() noexcept;

// ---- CRYPT32 (crypt32/) ----

HCERTSTORE WINAPI CertOpenStore(LPCSTR lpszStoreProvider, DWORD dwEncodingType,
                                HCRYPTPROV_LEGACY hCryptProv, DWORD dwFlags, const void* pvPara);
HCERTSTORE WINAPI CertOpenSystemStoreA(HCRYPTPROV_LEGACY hProv, LPCSTR szSubsystemProtocol);
PCCERT_CONTEXT WINAPI CertEnumCertificatesInStore(HCERTSTORE hCertStore,
                                                  PCCERT_CONTEXT pPrevCertContext);
BOOL WINAPI CertGetCertificateContextProperty(PCCERT_CONTEXT pCertContext, DWORD dwPropId,
                                              void* pvData, DWORD* pcbData);
BOOL WINAPI CertAddEncodedCertificateToSystemStoreA(LPCSTR szCertStoreName,
                                                    const BYTE* pbCertEncoded,
                                                    DWORD cbCertEncoded);
// CERT_STORE_ADD_NEW, _USE_EXISTING and _REPLACE_EXISTING, into the store and location of the
// handle; the context, when asked for, is the stored certificate's, for the caller to free.
BOOL WINAPI CertAddEncodedCertificateToStore(HCERTSTORE hCertStore, DWORD dwCertEncodingType,
                                             const BYTE* pbCertEncoded, DWORD cbCertEncoded,
                                             DWORD dwAddDisposition, PCCERT_CONTEXT* ppCertContext);
BOOL WINAPI CertDeleteCertificateFromStore(PCCERT_CONTEXT pCertContext);
PCCERT_CONTEXT WINAPI CertDuplicateCertificateContext(PCCERT_CONTEXT pCertContext);
BOOL WINAPI CertFreeCertificateContext(PCCERT_CONTEXT pCertContext);
BOOL WINAPI CertCloseStore(HCERTSTORE hCertStore, DWORD dwFlags);
BOOL WINAPI CryptImportPublicKeyInfo(HCRYPTPROV hCryptProv, DWORD dwCertEncodingType,
                                     PCERT_PUBLIC_KEY_INFO pInfo, HCRYPTKEY* phKey);
// CERT_KEY_PROV_INFO_PROP_ID only: binds the stored certificate to a key container (null data
// unbinds it), written to the key store at once; E_ACCESSDENIED through a read-only store.
BOOL WINAPI CertSetCertificateContextProperty(PCCERT_CONTEXT pCertContext, DWORD dwPropId,
                                              DWORD dwFlags, const void* pvData);
// The SubjectPublicKeyInfo of a container's key, or of a CNG key (CERT_NCRYPT_KEY_SPEC); the
// two-call protocol, ERROR_MORE_DATA for a short buffer.
BOOL WINAPI CryptExportPublicKeyInfo(HCRYPTPROV_OR_NCRYPT_KEY_HANDLE hCryptProvOrNCryptKey,
                                     DWORD dwKeySpec, DWORD dwCertEncodingType,
                                     PCERT_PUBLIC_KEY_INFO pInfo, DWORD* pcbInfo);

// The key of a certificate, as its key-provider property names it: a CSP context, or with the
// NCrypt flags a CNG key of a key storage provider (its key specification CERT_NCRYPT_KEY_SPEC).
BOOL WINAPI CryptAcquireCertificatePrivateKey(PCCERT_CONTEXT pCert, DWORD dwFlags,
                                              void* pvParameters,
                                              HCRYPTPROV_OR_NCRYPT_KEY_HANDLE* phCryptProvOrNCryptKey,
                                              DWORD* pdwKeySpec, BOOL* pfCallerFreeProvOrNCryptKey);

// A certificate's public key as a BCrypt key.
BOOL WINAPI CryptImportPublicKeyInfoEx2(DWORD dwCertEncodingType, PCERT_PUBLIC_KEY_INFO pInfo,
                                        DWORD dwFlags, void* pvAuxInfo, BCRYPT_KEY_HANDLE* phKey);

// ---- ADVAPI32 (advapi32/) ----

// CRYPT_NEWKEYSET makes the container at once (NTE_EXISTS when it exists); CRYPT_DELETEKEYSET
// deletes it and hands out no context (NTE_BAD_KEYSET when there is none).
BOOL WINAPI CryptAcquireContextA(HCRYPTPROV* phProv, LPCSTR szContainer, LPCSTR szProvider,
                                 DWORD dwProvType, DWORD dwFlags);
BOOL WINAPI CryptReleaseContext(HCRYPTPROV hProv, DWORD dwFlags);
BOOL WINAPI CryptSetProvParam(HCRYPTPROV hProv, DWORD dwParam, CONST BYTE* pbData,
                              DWORD dwFlags);
BOOL WINAPI CryptGetProvParam(HCRYPTPROV hProv, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen,
                              DWORD dwFlags);
BOOL WINAPI CryptCreateHash(HCRYPTPROV hProv, ALG_ID Algid, HCRYPTKEY hKey, DWORD dwFlags,
                            HCRYPTHASH* phHash);
BOOL WINAPI CryptHashData(HCRYPTHASH hHash, CONST BYTE* pbData, DWORD dwDataLen, DWORD dwFlags);
BOOL WINAPI CryptSetHashParam(HCRYPTHASH hHash, DWORD dwParam, CONST BYTE* pbData,
                              DWORD dwFlags);
BOOL WINAPI CryptGetHashParam(HCRYPTHASH hHash, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen,
                              DWORD dwFlags);
BOOL WINAPI CryptDestroyHash(HCRYPTHASH hHash);
BOOL WINAPI CryptSignHashA(HCRYPTHASH hHash, DWORD dwKeySpec, LPCSTR szDescription,
                           DWORD dwFlags, BYTE* pbSignature, DWORD* pdwSigLen);
BOOL WINAPI CryptVerifySignatureA(HCRYPTHASH hHash, CONST BYTE* pbSignature, DWORD dwSigLen,
                                  HCRYPTKEY hPubKey, LPCSTR szDescription, DWORD dwFlags);
BOOL WINAPI CryptGetUserKey(HCRYPTPROV hProv, DWORD dwKeySpec, HCRYPTKEY* phUserKey);
BOOL WINAPI CryptSetKeyParam(HCRYPTKEY hKey, DWORD dwParam, CONST BYTE* pbData, DWORD dwFlags);
BOOL WINAPI CryptDecrypt(HCRYPTKEY hKey, HCRYPTHASH hHash, BOOL Final, DWORD dwFlags,
                         BYTE* pbData, DWORD* pdwDataLen);
// PUBLICKEYBLOB only (without an exchange key): an RSA or DSS key's public blob, least
// significant byte first; ERROR_MORE_DATA and the size for a short buffer.
BOOL WINAPI CryptExportKey(HCRYPTKEY hKey, HCRYPTKEY hExpKey, DWORD dwBlobType, DWORD dwFlags,
                           BYTE* pbData, DWORD* pdwDataLen);
BOOL WINAPI CryptDestroyKey(HCRYPTKEY hKey);
// An RSA PRIVATEKEYBLOB into the context's container, under the key specification its algorithm
// names; exportable through the handle it gives with CRYPT_EXPORTABLE.
BOOL WINAPI CryptImportKey(HCRYPTPROV hProv, CONST BYTE* pbData, DWORD dwDataLen,
                           HCRYPTKEY hPubKey, DWORD dwFlags, HCRYPTKEY* phKey);
// An RSA key made in the context's container: its length in the upper 16 bits of the flags.
BOOL WINAPI CryptGenKey(HCRYPTPROV hProv, ALG_ID Algid, DWORD dwFlags, HCRYPTKEY* phKey);

// ---- NCRYPT (ncrypt/) ----

// CNG's key storage: each returns ERROR_SUCCESS or the error itself, and leaves the last error
// alone.
SECURITY_STATUS WINAPI NCryptOpenStorageProvider(NCRYPT_PROV_HANDLE* phProvider,
                                                 LPCWSTR pszProviderName, DWORD dwFlags);
SECURITY_STATUS WINAPI NCryptOpenKey(NCRYPT_PROV_HANDLE hProvider, NCRYPT_KEY_HANDLE* phKey,
                                     LPCWSTR pszKeyName, DWORD dwLegacyKeySpec, DWORD dwFlags);
// A new key of the provider (RSA, ECDSA_P256, _P384, _P521), persisted by NCryptFinalizeKey;
// NTE_EXISTS for a name in use unless NCRYPT_OVERWRITE_KEY_FLAG.
SECURITY_STATUS WINAPI NCryptCreatePersistedKey(NCRYPT_PROV_HANDLE hProvider,
                                                NCRYPT_KEY_HANDLE* phKey, LPCWSTR pszAlgId,
                                                LPCWSTR pszKeyName, DWORD dwLegacyKeySpec,
                                                DWORD dwFlags);
// BCRYPT_RSAFULLPRIVATE_BLOB, BCRYPT_RSAPRIVATE_BLOB or BCRYPT_ECCPRIVATE_BLOB, named by an
// NCRYPTBUFFER_PKCS_KEY_NAME parameter; with NCRYPT_DO_NOT_FINALIZE_FLAG persisted by
// NCryptFinalizeKey once its properties are set.
SECURITY_STATUS WINAPI NCryptImportKey(NCRYPT_PROV_HANDLE hProvider, NCRYPT_KEY_HANDLE hImportKey,
                                       LPCWSTR pszBlobType, NCryptBufferDesc* pParameterList,
                                       NCRYPT_KEY_HANDLE* phKey, PBYTE pbData, DWORD cbData,
                                       DWORD dwFlags);
SECURITY_STATUS WINAPI NCryptFinalizeKey(NCRYPT_KEY_HANDLE hKey, DWORD dwFlags);
// Deletes the persisted key and, on success only, frees its handle.
SECURITY_STATUS WINAPI NCryptDeleteKey(NCRYPT_KEY_HANDLE hKey, DWORD dwFlags);
SECURITY_STATUS WINAPI NCryptGetProperty(NCRYPT_HANDLE hObject, LPCWSTR pszProperty,
                                         PBYTE pbOutput, DWORD cbOutput, DWORD* pcbResult,
                                         DWORD dwFlags);
// NCRYPT_PIN_PROPERTY: the PIN of a PIN-protected key, which it must have before it signs or
// decrypts, or of a key not yet finalized, which makes it PIN-protected. Before finalizing also
// NCRYPT_LENGTH_PROPERTY (RSA) and NCRYPT_EXPORT_POLICY_PROPERTY (0: not exportable).
SECURITY_STATUS WINAPI NCryptSetProperty(NCRYPT_HANDLE hObject, LPCWSTR pszProperty,
                                         PBYTE pbInput, DWORD cbInput, DWORD dwFlags);
SECURITY_STATUS WINAPI NCryptSignHash(NCRYPT_KEY_HANDLE hKey, void* pPaddingInfo,
                                      PBYTE pbHashValue, DWORD cbHashValue, PBYTE pbSignature,
                                      DWORD cbSignature, DWORD* pcbResult, DWORD dwFlags);
SECURITY_STATUS WINAPI NCryptDecrypt(NCRYPT_KEY_HANDLE hKey, PBYTE pbInput, DWORD cbInput,
                                     void* pPaddingInfo, PBYTE pbOutput, DWORD cbOutput,
                                     DWORD* pcbResult, DWORD dwFlags);
// A key's public blob (BCRYPT_PUBLIC_KEY_BLOB, BCRYPT_RSAPUBLIC_BLOB, BCRYPT_ECCPUBLIC_BLOB),
// most significant byte first; NTE_BUFFER_TOO_SMALL for a short buffer.
SECURITY_STATUS WINAPI NCryptExportKey(NCRYPT_KEY_HANDLE hKey, NCRYPT_KEY_HANDLE hExportKey,
                                       LPCWSTR pszBlobType, NCryptBufferDesc* pParameterList,
                                       PBYTE pbOutput, DWORD cbOutput, DWORD* pcbResult,
                                       DWORD dwFlags);
SECURITY_STATUS WINAPI NCryptFreeObject(NCRYPT_HANDLE hObject);
// A CNG view of a CSP's key: the same key, through the key storage provider.
SECURITY_STATUS WINAPI NCryptTranslateHandle(NCRYPT_PROV_HANDLE* phProvider,
                                             NCRYPT_KEY_HANDLE* phKey, HCRYPTPROV hLegacyProv,
                                             HCRYPTKEY hLegacyKey, DWORD dwLegacyKeySpec,
                                             DWORD dwFlags);

// ---- BCRYPT (bcrypt/) ----

// Signatures checked with a BCrypt key (RSA PKCS #1 v1.5 and PSS, ECDSA as r then s):
// STATUS_SUCCESS or STATUS_INVALID_SIGNATURE and the like.
NTSTATUS WINAPI BCryptVerifySignature(BCRYPT_KEY_HANDLE hKey, void* pPaddingInfo, PUCHAR pbHash,
                                      ULONG cbHash, PUCHAR pbSignature, ULONG cbSignature,
                                      ULONG dwFlags);
// The same public blobs as NCryptExportKey, of a key CryptImportPublicKeyInfoEx2 made;
// STATUS_BUFFER_TOO_SMALL for a short buffer.
NTSTATUS WINAPI BCryptExportKey(BCRYPT_KEY_HANDLE hKey, BCRYPT_KEY_HANDLE hExportKey,
                                LPCWSTR pszBlobType, PUCHAR pbOutput, ULONG cbOutput,
                                ULONG* pcbResult, ULONG dwFlags);
NTSTATUS WINAPI BCryptDestroyKey(BCRYPT_KEY_HANDLE hKey);
