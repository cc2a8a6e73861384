// A key's public blob, as a caller proves that a container's key is its certificate's: the
// container's key and the certificate's key imported into the same provider (CryptExportKey), or
// the key storage provider's key and the certificate's BCrypt key (NCryptExportKey,
// BCryptExportKey), carry the same numbers, and those are the certificate's.
#include <cstring>

#include "conformance/conformance_test.h"

// <windows.h> keeps <ntstatus.h> out; these are its values.
#ifndef STATUS_BUFFER_TOO_SMALL
#define STATUS_BUFFER_TOO_SMALL ((NTSTATUS)0xC0000023)
#endif
#ifndef STATUS_NOT_IMPLEMENTED
#define STATUS_NOT_IMPLEMENTED ((NTSTATUS)0xC0000002)
#endif

namespace {

using keyops::ScopedBcryptKey;
using keyops::ScopedNcryptObject;

const DWORD kRsaPublicMagic = 0x31415352;  // "RSA1"
const DWORD kDssPublicMagic = 0x31535344;  // "DSS1"
const size_t kDssQBytes = 20;
const DWORD kUnknownBlobType = 0x5F;

const char kWineHasNoTranslation[] =
    "Wine: NCryptTranslateHandle is a stub that ends the process, so a CSP's key has no CNG view";

template <typename Structure>
Structure readAt(const Bytes& blob, size_t offset) {
    Structure structure{};
    if (blob.size() >= offset + sizeof(structure))
        std::memcpy(&structure, blob.data() + offset, sizeof(structure));
    return structure;
}

Bytes slice(const Bytes& blob, size_t offset, size_t size) {
    if (blob.size() < offset + size) return {};
    return Bytes(blob.begin() + offset, blob.begin() + offset + size);
}

Bytes reversed(Bytes bytes) {
    std::reverse(bytes.begin(), bytes.end());
    return bytes;
}

Bytes withoutLeadingZeros(const Bytes& number) {
    auto first = std::find_if(number.begin(), number.end(), [](BYTE b) { return b != 0; });
    return Bytes(first, number.end());
}

// Whether DER `encoding` holds the number (most significant byte first) among its integers.
bool holdsNumber(const BYTE* encoding, DWORD size, const Bytes& number) {
    const Bytes digits = withoutLeadingZeros(number);
    return !digits.empty() &&
           std::search(encoding, encoding + size, digits.begin(), digits.end()) != encoding + size;
}

const CERT_PUBLIC_KEY_INFO& keyInfoOf(const StoredCertificate& certificate) {
    return certificate.context.get()->pCertInfo->SubjectPublicKeyInfo;
}

// An RSA key's numbers, most significant byte first, the exponent without leading zeros.
struct RsaNumbers {
    DWORD bits = 0;
    Bytes modulus;
    Bytes exponent;
};

void expectSameRsa(const RsaNumbers& actual, const RsaNumbers& expected) {
    EXPECT_EQ(actual.bits, expected.bits);
    EXPECT_EQ(actual.modulus, expected.modulus);
    EXPECT_EQ(actual.exponent, expected.exponent);
}

RsaNumbers rsaOfCapiBlob(const Bytes& blob, ALG_ID algorithm) {
    const BLOBHEADER header = readAt<BLOBHEADER>(blob, 0);
    EXPECT_EQ(header.bType, PUBLICKEYBLOB);
    EXPECT_EQ(header.bVersion, CUR_BLOB_VERSION);
    EXPECT_EQ(header.reserved, 0);
    EXPECT_EQ(header.aiKeyAlg, algorithm);
    const RSAPUBKEY key = readAt<RSAPUBKEY>(blob, sizeof(header));
    EXPECT_EQ(key.magic, kRsaPublicMagic);
    const size_t at = sizeof(header) + sizeof(key);
    EXPECT_EQ(blob.size(), at + key.bitlen / 8);
    Bytes exponent(sizeof(key.pubexp));
    for (size_t i = 0; i < exponent.size(); ++i) exponent[i] = static_cast<BYTE>(key.pubexp >> (24 - 8 * i));
    return {key.bitlen, reversed(slice(blob, at, key.bitlen / 8)), withoutLeadingZeros(exponent)};
}

RsaNumbers rsaOfCngBlob(const Bytes& blob) {
    const BCRYPT_RSAKEY_BLOB header = readAt<BCRYPT_RSAKEY_BLOB>(blob, 0);
    EXPECT_EQ(header.Magic, static_cast<ULONG>(BCRYPT_RSAPUBLIC_MAGIC));
    EXPECT_EQ(header.cbPrime1, 0u);
    EXPECT_EQ(header.cbPrime2, 0u);
    EXPECT_EQ(blob.size(), sizeof(header) + header.cbPublicExp + header.cbModulus);
    Bytes exponent = slice(blob, sizeof(header), header.cbPublicExp);
    EXPECT_EQ(exponent, withoutLeadingZeros(exponent)) << "the exponent in the fewest bytes";
    return {header.BitLength, slice(blob, sizeof(header) + header.cbPublicExp, header.cbModulus),
            exponent};
}

// An EC blob's point as X.509 writes it: 0x04, X, Y.
Bytes ecPointOfCngBlob(const Bytes& blob, ULONG magic, ULONG keyBytes) {
    const BCRYPT_ECCKEY_BLOB header = readAt<BCRYPT_ECCKEY_BLOB>(blob, 0);
    EXPECT_EQ(header.dwMagic, magic);
    EXPECT_EQ(header.cbKey, keyBytes);
    EXPECT_EQ(blob.size(), sizeof(header) + 2 * header.cbKey);
    Bytes point = {0x04};
    Bytes coordinates = slice(blob, sizeof(header), 2 * header.cbKey);
    point.insert(point.end(), coordinates.begin(), coordinates.end());
    return point;
}

void exportCapi(HCRYPTKEY key, Bytes& blob) {
    DWORD size = 0;
    ASSERT_TRUE(CryptExportKey(key, 0, PUBLICKEYBLOB, 0, nullptr, &size)) << std::hex << GetLastError();
    blob.assign(size, 0);
    ASSERT_TRUE(CryptExportKey(key, 0, PUBLICKEYBLOB, 0, blob.data(), &size)) << std::hex << GetLastError();
    EXPECT_EQ(size, blob.size());
}

void exportBcrypt(BCRYPT_KEY_HANDLE key, LPCWSTR type, Bytes& blob) {
    ULONG size = 0;
    ASSERT_EQ(BCryptExportKey(key, nullptr, type, nullptr, 0, &size, 0), 0) << "asking the size";
    blob.assign(size, 0);
    ASSERT_EQ(BCryptExportKey(key, nullptr, type, blob.data(), size, &size, 0), 0);
    EXPECT_EQ(size, blob.size());
}

void exportNcrypt(NCRYPT_KEY_HANDLE key, LPCWSTR type, Bytes& blob) {
    DWORD size = 0;
    ASSERT_EQ(NCryptExportKey(key, 0, type, nullptr, nullptr, 0, &size, 0), ERROR_SUCCESS);
    blob.assign(size, 0);
    ASSERT_EQ(NCryptExportKey(key, 0, type, nullptr, blob.data(), size, &size, 0), ERROR_SUCCESS);
    EXPECT_EQ(size, blob.size());
}

void importForBcrypt(const CERT_PUBLIC_KEY_INFO& info, ScopedBcryptKey& key) {
    ASSERT_TRUE(CryptImportPublicKeyInfoEx2(X509_ASN_ENCODING, const_cast<CERT_PUBLIC_KEY_INFO*>(&info),
                                            0, nullptr, key.put()))
        << std::hex << GetLastError();
}

// The identity's container key and its certificate's key imported into the same provider, with
// the PUBLICKEYBLOB of each.
struct CapiKeyPair {
    StoredCertificate certificate;
    ScopedProvider provider;
    ScopedKey containerKey;
    ScopedKey certificateKey;
    Bytes containerBlob;
    Bytes certificateBlob;
};

void openKeyPair(const TestIdentity& identity, CapiKeyPair& pair) {
    findInMy(identity.certificate, pair.certificate);
    acquireIdentity(identity, pair.provider);
    ASSERT_TRUE(CryptGetUserKey(pair.provider.get(), identity.keySpec, pair.containerKey.put()))
        << std::hex << GetLastError();
    importKeyOf(pair.provider.get(), pair.certificate, pair.certificateKey);
    exportCapi(pair.containerKey.get(), pair.containerBlob);
    exportCapi(pair.certificateKey.get(), pair.certificateBlob);
}

IdentityRequest rsaRequest(DWORD keySpec) {
    IdentityRequest request;
    request.key = FixtureKey::Rsa1024;
    request.keySpec = keySpec;
    return request;
}

using KeyExport = ConformanceTest;

TEST_F(KeyExport, ContainerKeyAndItsCertificatesKeyCarryTheCertificatesRsaNumbers) {
    for (DWORD keySpec : {AT_KEYEXCHANGE, AT_SIGNATURE}) {
        SCOPED_TRACE(keySpec);
        TestIdentity identity = fixture_->createIdentity(rsaRequest(keySpec));
        CapiKeyPair pair;
        openKeyPair(identity, pair);
        // CRYPT32 imports a certificate's RSA key as a key-exchange key.
        RsaNumbers container =
            rsaOfCapiBlob(pair.containerBlob, keySpec == AT_SIGNATURE ? CALG_RSA_SIGN : CALG_RSA_KEYX);
        EXPECT_EQ(container.bits, 1024u);
        expectSameRsa(rsaOfCapiBlob(pair.certificateBlob, CALG_RSA_KEYX), container);
        const CERT_PUBLIC_KEY_INFO& info = keyInfoOf(pair.certificate);
        EXPECT_TRUE(holdsNumber(info.PublicKey.pbData, info.PublicKey.cbData, container.modulus));
    }
}

TEST_F(KeyExport, CryptExportKeyAsksTheSizeRefusesAShortBufferAndGivesNoPrivateBlob) {
    TestIdentity identity = fixture_->createIdentity(rsaRequest(AT_KEYEXCHANGE));
    CapiKeyPair pair;
    openKeyPair(identity, pair);
    const HCRYPTKEY key = pair.containerKey.get();
    DWORD size = 0;
    ASSERT_TRUE(CryptExportKey(key, 0, PUBLICKEYBLOB, 0, nullptr, &size));
    ASSERT_GT(size, 1u);

    Bytes buffer(size + 16, 0xA5);
    DWORD length = size - 1;
    SetLastError(kUnsetError);
    EXPECT_FALSE(CryptExportKey(key, 0, PUBLICKEYBLOB, 0, buffer.data(), &length));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
    EXPECT_EQ(length, size) << "a short buffer is told the size it needs";
    length = static_cast<DWORD>(buffer.size());
    EXPECT_TRUE(CryptExportKey(key, 0, PUBLICKEYBLOB, 0, buffer.data(), &length));
    EXPECT_EQ(length, size) << "a larger buffer is told what was written";
    EXPECT_EQ(buffer[size], 0xA5) << "nothing written past the blob";

    // The key was made without CRYPT_EXPORTABLE: its private half stays where it is.
    const struct {
        DWORD type;
        HRESULT error;
    } refusals[] = {{PRIVATEKEYBLOB, NTE_BAD_KEY_STATE}, {kUnknownBlobType, NTE_BAD_TYPE}};
    for (const auto& refusal : refusals) {
        SCOPED_TRACE(refusal.type);
        length = static_cast<DWORD>(buffer.size());
        SetLastError(kUnsetError);
        EXPECT_FALSE(CryptExportKey(key, 0, refusal.type, 0, buffer.data(), &length));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(refusal.error));
    }
    SetLastError(kUnsetError);
    EXPECT_FALSE(CryptExportKey(0, 0, PUBLICKEYBLOB, 0, nullptr, &length));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    SetLastError(kUnsetError);
    EXPECT_FALSE(CryptExportKey(key, 0, PUBLICKEYBLOB, 0, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(KeyExport, DssContainerKeyAndItsCertificatesKeyCarryTheCertificatesNumbers) {
    IdentityRequest request = dssSignatureKey();
    if (std::string why = fixture_->unsupportedReason(request); !why.empty()) GTEST_SKIP() << why;
    TestIdentity identity = fixture_->createIdentity(request);
    CapiKeyPair pair;
    openKeyPair(identity, pair);
    const CERT_PUBLIC_KEY_INFO& info = keyInfoOf(pair.certificate);
    std::vector<Bytes> numbers[2];
    for (int i = 0; i < 2; ++i) {
        const Bytes& blob = i == 0 ? pair.containerBlob : pair.certificateBlob;
        SCOPED_TRACE(i == 0 ? "the container's key" : "the certificate's key");
        const BLOBHEADER header = readAt<BLOBHEADER>(blob, 0);
        EXPECT_EQ(header.bType, PUBLICKEYBLOB);
        EXPECT_EQ(header.bVersion, CUR_BLOB_VERSION);
        EXPECT_EQ(header.aiKeyAlg, static_cast<ALG_ID>(CALG_DSS_SIGN));
        const DSSPUBKEY key = readAt<DSSPUBKEY>(blob, sizeof(header));
        EXPECT_EQ(key.magic, kDssPublicMagic);
        EXPECT_EQ(key.bitlen, 1024u);
        // p, q, g, y, then the seed (whose counter says whether it is known).
        const size_t size = key.bitlen / 8;
        size_t at = sizeof(header) + sizeof(key);
        EXPECT_EQ(blob.size(), at + 3 * size + kDssQBytes + sizeof(DSSSEED));
        for (size_t length : {size, kDssQBytes, size, size}) {
            numbers[i].push_back(reversed(slice(blob, at, length)));
            at += length;
        }
    }
    EXPECT_EQ(numbers[0], numbers[1]);
    ASSERT_EQ(numbers[0].size(), 4u);
    EXPECT_TRUE(holdsNumber(info.PublicKey.pbData, info.PublicKey.cbData, numbers[0][3])) << "y";
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(holdsNumber(info.Algorithm.Parameters.pbData, info.Algorithm.Parameters.cbData,
                                numbers[0][i]))
            << "p, q, g: " << i;
}

TEST_F(KeyExport, CertificatesBcryptKeyCarriesTheContainersRsaNumbers) {
    TestIdentity identity = fixture_->createIdentity(rsaRequest(AT_KEYEXCHANGE));
    CapiKeyPair pair;
    openKeyPair(identity, pair);
    ScopedBcryptKey key;
    importForBcrypt(keyInfoOf(pair.certificate), key);
    Bytes rsaBlob;
    exportBcrypt(key.get(), BCRYPT_RSAPUBLIC_BLOB, rsaBlob);
    expectSameRsa(rsaOfCngBlob(rsaBlob), rsaOfCapiBlob(pair.containerBlob, CALG_RSA_KEYX));

    // A certificate's key has no private half to give.
    ULONG size = 0;
    EXPECT_EQ(BCryptExportKey(key.get(), nullptr, BCRYPT_RSAPRIVATE_BLOB, nullptr, 0, &size, 0),
              static_cast<NTSTATUS>(STATUS_INVALID_PARAMETER));
    EXPECT_EQ(BCryptExportKey(nullptr, nullptr, BCRYPT_RSAPUBLIC_BLOB, nullptr, 0, &size, 0),
              static_cast<NTSTATUS>(STATUS_INVALID_HANDLE));

    const NTSTATUS generic = BCryptExportKey(key.get(), nullptr, BCRYPT_PUBLIC_KEY_BLOB, nullptr, 0, &size, 0);
    if (generic == STATUS_NOT_IMPLEMENTED && runningUnderWine())
        GTEST_SKIP() << "Wine: BCryptExportKey knows no BCRYPT_PUBLIC_KEY_BLOB; Windows gives the "
                        "key's own blob";
    Bytes genericBlob;
    exportBcrypt(key.get(), BCRYPT_PUBLIC_KEY_BLOB, genericBlob);
    EXPECT_EQ(genericBlob, rsaBlob);
}

TEST_F(KeyExport, BcryptExportKeyRefusesAShortBufferWithTheSizeItNeeds) {
    TestIdentity identity = fixture_->createIdentity(rsaRequest(AT_KEYEXCHANGE));
    StoredCertificate certificate;
    findInMy(identity.certificate, certificate);
    ScopedBcryptKey key;
    importForBcrypt(keyInfoOf(certificate), key);
    Bytes blob;
    exportBcrypt(key.get(), BCRYPT_RSAPUBLIC_BLOB, blob);
    Bytes buffer(blob.size() - 1);
    ULONG size = 0;
    const NTSTATUS status = BCryptExportKey(key.get(), nullptr, BCRYPT_RSAPUBLIC_BLOB, buffer.data(),
                                            static_cast<ULONG>(buffer.size()), &size, 0);
    EXPECT_EQ(size, blob.size());
    if (status == 0 && runningUnderWine())
        GTEST_SKIP() << "Wine: BCryptExportKey answers a short buffer with success and writes "
                        "nothing; Windows answers STATUS_BUFFER_TOO_SMALL";
    EXPECT_EQ(status, STATUS_BUFFER_TOO_SMALL);
}

// The public point of a P-521 key, as its SubjectPublicKeyInfo writes it.
const BYTE kP521Point[] = {
    0x04, 0x01, 0x57, 0x95, 0xb6, 0xfa, 0x0c, 0x59, 0x7d, 0x8a, 0xb7, 0x5b, 0x02, 0xe9, 0x0d, 0xba,
    0xea, 0x47, 0x13, 0x1c, 0xba, 0xcb, 0x79, 0x9f, 0x2b, 0x62, 0xf4, 0x40, 0xde, 0x05, 0x1c, 0x6b,
    0xd2, 0xc0, 0xf4, 0x1b, 0x49, 0xb8, 0x87, 0x87, 0x30, 0xd9, 0x3e, 0xcf, 0xee, 0x60, 0xf5, 0x02,
    0x98, 0xb2, 0x73, 0x96, 0xf4, 0xf0, 0xc7, 0x7f, 0xca, 0x7c, 0x6b, 0x9f, 0x80, 0x80, 0xd8, 0x22,
    0xfd, 0x7d, 0xa7, 0x01, 0x09, 0x91, 0x26, 0xb4, 0xa3, 0x20, 0x40, 0x06, 0xfc, 0x1c, 0x9d, 0xc6,
    0x95, 0x2a, 0x3e, 0x19, 0xe2, 0xbb, 0xc0, 0xf4, 0xe3, 0x9c, 0x11, 0x7b, 0x59, 0x62, 0x4a, 0x4a,
    0x19, 0xa5, 0xc2, 0xa7, 0x50, 0xfe, 0x7c, 0x3b, 0x23, 0xe2, 0x8b, 0x4e, 0x0d, 0x1a, 0xd2, 0x27,
    0xe8, 0x55, 0xe5, 0xeb, 0xe8, 0x60, 0x17, 0xe9, 0x93, 0x88, 0x9e, 0xff, 0x23, 0x36, 0xc1, 0x28,
    0xd9, 0x2a, 0x55, 0x5f, 0x51};
BYTE kSecp521r1[] = {0x06, 0x05, 0x2b, 0x81, 0x04, 0x00, 0x23};
char kEcPublicKeyOid[] = "1.2.840.10045.2.1";

TEST_F(KeyExport, P521BcryptKeyGivesItsPointInSixtySixByteCoordinates) {
    CERT_PUBLIC_KEY_INFO info = {};
    info.Algorithm.pszObjId = kEcPublicKeyOid;
    info.Algorithm.Parameters = {sizeof(kSecp521r1), kSecp521r1};
    Bytes point(std::begin(kP521Point), std::end(kP521Point));
    info.PublicKey = {static_cast<DWORD>(point.size()), point.data(), 0};
    ScopedBcryptKey key;
    if (!CryptImportPublicKeyInfoEx2(X509_ASN_ENCODING, &info, 0, nullptr, key.put()) && runningUnderWine())
        GTEST_SKIP() << "Wine: CryptImportPublicKeyInfoEx2 takes no P-521 key";
    ASSERT_TRUE(key.valid()) << std::hex << GetLastError();
    Bytes blob;
    exportBcrypt(key.get(), BCRYPT_ECCPUBLIC_BLOB, blob);
    EXPECT_EQ(ecPointOfCngBlob(blob, BCRYPT_ECDSA_PUBLIC_P521_MAGIC, 66), point);
}

// The key storage provider's key and its certificate's BCrypt key: the same blob, the
// certificate's point or modulus.
TEST_F(KeyExport, KeyStorageKeyAndItsCertificatesBcryptKeyGiveOneBlob) {
    struct Case {
        FixtureKey key;
        LPCWSTR ownBlob;
        LPCWSTR otherBlob;
    };
    const Case cases[] = {{FixtureKey::EcP256, BCRYPT_ECCPUBLIC_BLOB, BCRYPT_RSAPUBLIC_BLOB},
                          {FixtureKey::EcP384, BCRYPT_ECCPUBLIC_BLOB, BCRYPT_RSAPUBLIC_BLOB},
                          {FixtureKey::Rsa2048, BCRYPT_RSAPUBLIC_BLOB, BCRYPT_ECCPUBLIC_BLOB}};
    for (const Case& test : cases) {
        SCOPED_TRACE(static_cast<int>(test.key));
        IdentityRequest request;
        request.key = test.key;
        request.provider = kKeyStorageProvider;
        request.keySpec = 0;
        if (std::string why = fixture_->unsupportedReason(request); !why.empty()) GTEST_SKIP() << why;
        TestIdentity identity = fixture_->createIdentity(request);
        StoredCertificate certificate;
        findInMy(identity.certificate, certificate);
        HCRYPTPROV_OR_NCRYPT_KEY_HANDLE handle = 0;
        DWORD keySpec = 0;
        BOOL callerFrees = FALSE;
        ASSERT_TRUE(CryptAcquireCertificatePrivateKey(certificate.context.get(),
                                                      CRYPT_ACQUIRE_ALLOW_NCRYPT_KEY_FLAG, nullptr,
                                                      &handle, &keySpec, &callerFrees))
            << std::hex << GetLastError();
        ASSERT_EQ(keySpec, static_cast<DWORD>(CERT_NCRYPT_KEY_SPEC));
        ScopedNcryptObject ncryptKey(callerFrees ? handle : 0);
        ScopedBcryptKey bcryptKey;
        importForBcrypt(keyInfoOf(certificate), bcryptKey);

        Bytes fromKey;
        Bytes fromCertificate;
        Bytes ownFromKey;
        exportNcrypt(handle, BCRYPT_PUBLIC_KEY_BLOB, fromKey);
        exportNcrypt(handle, test.ownBlob, ownFromKey);
        exportBcrypt(bcryptKey.get(), test.ownBlob, fromCertificate);
        EXPECT_EQ(fromKey, fromCertificate);
        EXPECT_EQ(ownFromKey, fromCertificate);
        const CRYPT_BIT_BLOB& publicKey = keyInfoOf(certificate).PublicKey;
        if (test.key == FixtureKey::Rsa2048) {
            RsaNumbers numbers = rsaOfCngBlob(fromKey);
            EXPECT_EQ(numbers.bits, 2048u);
            EXPECT_TRUE(holdsNumber(publicKey.pbData, publicKey.cbData, numbers.modulus));
        } else {
            const bool p256 = test.key == FixtureKey::EcP256;
            EXPECT_EQ(ecPointOfCngBlob(fromKey, p256 ? BCRYPT_ECDSA_PUBLIC_P256_MAGIC
                                                     : BCRYPT_ECDSA_PUBLIC_P384_MAGIC,
                                       p256 ? 32 : 48),
                      Bytes(publicKey.pbData, publicKey.pbData + publicKey.cbData));
        }

        DWORD size = 0;
        Bytes buffer(fromKey.size() - 1);
        EXPECT_EQ(NCryptExportKey(handle, 0, BCRYPT_PUBLIC_KEY_BLOB, nullptr, buffer.data(),
                                  static_cast<DWORD>(buffer.size()), &size, 0),
                  NTE_BUFFER_TOO_SMALL);
        EXPECT_EQ(size, fromKey.size());
        EXPECT_EQ(NCryptExportKey(handle, 0, test.otherBlob, nullptr, nullptr, 0, &size, 0), NTE_BAD_TYPE);
        EXPECT_EQ(NCryptExportKey(0, 0, BCRYPT_PUBLIC_KEY_BLOB, nullptr, nullptr, 0, &size, 0),
                  NTE_INVALID_HANDLE);
    }
}

TEST_F(KeyExport, CspKeySeenThroughCngCarriesTheContainersRsaNumbers) {
    if (runningUnderWine()) GTEST_SKIP() << kWineHasNoTranslation;
    TestIdentity identity = fixture_->createIdentity(rsaRequest(AT_KEYEXCHANGE));
    CapiKeyPair pair;
    openKeyPair(identity, pair);
    ScopedNcryptObject storage;
    ScopedNcryptObject key;
    ASSERT_EQ(NCryptTranslateHandle(storage.put(), key.put(), pair.provider.get(),
                                    pair.containerKey.get(), 0, 0),
              ERROR_SUCCESS);
    Bytes cngBlob;
    exportNcrypt(key.get(), BCRYPT_RSAPUBLIC_BLOB, cngBlob);
    expectSameRsa(rsaOfCngBlob(cngBlob), rsaOfCapiBlob(pair.containerBlob, CALG_RSA_KEYX));
}

}  // namespace
