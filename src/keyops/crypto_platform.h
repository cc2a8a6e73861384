// The one door through which the core reaches certificates, keys and the window system: a table
// of CryptoAPI functions with their Windows signatures. The default table holds the real ones
// (CRYPT32/ADVAPI32/USER32 on Windows, the software CryptoAPI elsewhere); tests swap in their own.
#pragma once

#include "keyops/capi.h"

struct CryptoPlatform {
    HCERTSTORE(WINAPI* CertOpenStore)(LPCSTR, DWORD, HCRYPTPROV_LEGACY, DWORD, const void*);
    HCERTSTORE(WINAPI* CertOpenSystemStoreA)(HCRYPTPROV_LEGACY, LPCSTR);
    PCCERT_CONTEXT(WINAPI* CertEnumCertificatesInStore)(HCERTSTORE, PCCERT_CONTEXT);
    BOOL(WINAPI* CertGetCertificateContextProperty)(PCCERT_CONTEXT, DWORD, void*, DWORD*);
    BOOL(WINAPI* CertAddEncodedCertificateToSystemStoreA)(LPCSTR, const BYTE*, DWORD);
    BOOL(WINAPI* CertDeleteCertificateFromStore)(PCCERT_CONTEXT);
    PCCERT_CONTEXT(WINAPI* CertDuplicateCertificateContext)(PCCERT_CONTEXT);
    BOOL(WINAPI* CertFreeCertificateContext)(PCCERT_CONTEXT);
    BOOL(WINAPI* CertCloseStore)(HCERTSTORE, DWORD);
    BOOL(WINAPI* CryptSetProvParam)(HCRYPTPROV, DWORD, CONST BYTE*, DWORD);
    BOOL(WINAPI* CryptAcquireContextA)(HCRYPTPROV*, LPCSTR, LPCSTR, DWORD, DWORD);
    BOOL(WINAPI* CryptGetProvParam)(HCRYPTPROV, DWORD, BYTE*, DWORD*, DWORD);
    BOOL(WINAPI* CryptCreateHash)(HCRYPTPROV, ALG_ID, HCRYPTKEY, DWORD, HCRYPTHASH*);
    BOOL(WINAPI* CryptHashData)(HCRYPTHASH, CONST BYTE*, DWORD, DWORD);
    BOOL(WINAPI* CryptSetHashParam)(HCRYPTHASH, DWORD, CONST BYTE*, DWORD);
    BOOL(WINAPI* CryptGetHashParam)(HCRYPTHASH, DWORD, BYTE*, DWORD*, DWORD);
    BOOL(WINAPI* CryptDestroyHash)(HCRYPTHASH);
    BOOL(WINAPI* CryptSignHashA)(HCRYPTHASH, DWORD, LPCSTR, DWORD, BYTE*, DWORD*);
    BOOL(WINAPI* CryptImportPublicKeyInfo)(HCRYPTPROV, DWORD, PCERT_PUBLIC_KEY_INFO, HCRYPTKEY*);
    BOOL(WINAPI* CryptVerifySignatureA)(HCRYPTHASH, CONST BYTE*, DWORD, HCRYPTKEY, LPCSTR, DWORD);
    BOOL(WINAPI* CryptGetUserKey)(HCRYPTPROV, DWORD, HCRYPTKEY*);
    BOOL(WINAPI* CryptSetKeyParam)(HCRYPTKEY, DWORD, CONST BYTE*, DWORD);
    BOOL(WINAPI* CryptDecrypt)(HCRYPTKEY, HCRYPTHASH, BOOL, DWORD, BYTE*, DWORD*);
    BOOL(WINAPI* CryptDestroyKey)(HCRYPTKEY);
    BOOL(WINAPI* CryptReleaseContext)(HCRYPTPROV, DWORD);
    HWND(WINAPI* GetForegroundWindow)();
    DWORD(WINAPI* GetLastError)();
};

// The table of the real functions of this platform.
const CryptoPlatform& defaultCryptoPlatform();

// The table the core calls through: the default one unless a test has installed another.
const CryptoPlatform& cryptoPlatform();

// Makes `table` the current one and returns the previous; null restores the default. The table
// must outlive its installation. Meant for tests, which install one table at a time.
const CryptoPlatform* installCryptoPlatform(const CryptoPlatform* table);
