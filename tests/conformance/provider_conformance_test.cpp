// Provider contexts: what acquisition refuses and how, the algorithm list, and which hash
// algorithms each provider type creates.
#include <cstring>
#include <set>

#include "conformance/conformance_test.h"

namespace {

const char* const kLegacyRsaProviders[] = {
    "Microsoft Base Cryptographic Provider v1.0",
    "Microsoft Strong Cryptographic Provider",
    "Microsoft Enhanced Cryptographic Provider v1.0",
    "Microsoft RSA SChannel Cryptographic Provider",
};

DWORD providerTypeOf(const char* provider) {
    return std::strstr(provider, "SChannel") != nullptr ? PROV_RSA_SCHANNEL : PROV_RSA_FULL;
}

using Acquisition = ConformanceTest;
using AlgorithmList = ConformanceTest;
using HashAlgorithms = ConformanceTest;

TEST_F(Acquisition, RefusalsCarryTheirCodes) {
    TestIdentity identity = fixture_->createIdentity({});
    struct Case {
        const char* label;
        std::string container;
        const char* provider;
        DWORD type;
        DWORD error;
    };
    const Case cases[] = {
        {"unknown provider", identity.container, "No Such Cryptographic Provider", PROV_RSA_AES,
         static_cast<DWORD>(NTE_KEYSET_NOT_DEF)},
        {"type of another provider", identity.container, kAesProvider, PROV_RSA_FULL,
         static_cast<DWORD>(NTE_PROV_TYPE_NO_MATCH)},
        {"missing container", "QdieNoSuchContainer", kAesProvider, PROV_RSA_AES,
         static_cast<DWORD>(NTE_BAD_KEYSET)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        HCRYPTPROV provider = 0;
        SetLastError(kUnsetError);
        EXPECT_FALSE(CryptAcquireContextA(&provider, c.container.c_str(), c.provider, c.type, 0));
        EXPECT_EQ(GetLastError(), c.error);
    }
}

TEST_F(Acquisition, SameContainerThroughEveryRsaProvider) {
    TestIdentity identity = fixture_->createIdentity({});
    for (const char* name : kLegacyRsaProviders) {
        SCOPED_TRACE(name);
        ScopedProvider provider;
        EXPECT_TRUE(CryptAcquireContextA(provider.put(), identity.container.c_str(), name,
                                         providerTypeOf(name), 0))
            << std::hex << GetLastError();
    }
}

TEST_F(AlgorithmList, EnumeratesEachAlgorithmOnceWithClassAndName) {
    TestIdentity identity = fixture_->createIdentity({});
    ScopedProvider provider;
    acquireIdentity(identity, provider);
    std::set<ALG_ID> seen;
    std::set<std::string> names;
    PROV_ENUMALGS entry;
    DWORD flags = CRYPT_FIRST;
    for (;;) {
        DWORD size = 1024;
        SetLastError(kUnsetError);
        if (!CryptGetProvParam(provider.get(), PP_ENUMALGS, reinterpret_cast<BYTE*>(&entry),
                               &size, flags))
            break;
        flags = 0;
        EXPECT_EQ(size, sizeof(PROV_ENUMALGS));
        ASSERT_GE(entry.dwNameLen, 1u);
        ASSERT_LE(entry.dwNameLen, sizeof(entry.szName));
        EXPECT_EQ(entry.szName[entry.dwNameLen - 1], '\0');
        EXPECT_TRUE(seen.insert(entry.aiAlgid).second) << std::hex << entry.aiAlgid;
        names.insert(entry.szName);
    }
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    for (ALG_ID algorithm : {CALG_SHA1, CALG_MD5, CALG_SSL3_SHAMD5, CALG_SHA_256, CALG_SHA_384,
                             CALG_SHA_512, CALG_RSA_SIGN, CALG_RSA_KEYX})
        EXPECT_EQ(seen.count(algorithm), 1u) << std::hex << algorithm;
    for (const char* name : {"SHA-1", "MD5", "SSL3 SHAMD5", "SHA-256", "RSA_SIGN", "RSA_KEYX"})
        EXPECT_EQ(names.count(name), 1u) << name;
    EXPECT_EQ(GET_ALG_CLASS(CALG_RSA_SIGN), static_cast<ALG_ID>(ALG_CLASS_SIGNATURE));
    EXPECT_EQ(GET_ALG_CLASS(CALG_RSA_KEYX), static_cast<ALG_ID>(ALG_CLASS_KEY_EXCHANGE));
    EXPECT_EQ(GET_ALG_CLASS(CALG_SHA1), static_cast<ALG_ID>(ALG_CLASS_HASH));
}

TEST_F(AlgorithmList, FirstFlagRestartsTheList) {
    TestIdentity identity = fixture_->createIdentity({});
    ScopedProvider provider;
    acquireIdentity(identity, provider);
    PROV_ENUMALGS first;
    PROV_ENUMALGS again;
    DWORD size = sizeof(first);
    ASSERT_TRUE(CryptGetProvParam(provider.get(), PP_ENUMALGS, reinterpret_cast<BYTE*>(&first),
                                  &size, CRYPT_FIRST));
    ASSERT_TRUE(CryptGetProvParam(provider.get(), PP_ENUMALGS, reinterpret_cast<BYTE*>(&again),
                                  &size, 0));
    EXPECT_NE(first.aiAlgid, again.aiAlgid);
    ASSERT_TRUE(CryptGetProvParam(provider.get(), PP_ENUMALGS, reinterpret_cast<BYTE*>(&again),
                                  &size, CRYPT_FIRST));
    EXPECT_EQ(first.aiAlgid, again.aiAlgid);
}

TEST_F(HashAlgorithms, Sha2IsRefusedByLegacyProvidersAndAcceptedByTheAesOne) {
    TestIdentity identity = fixture_->createIdentity({});
    for (const char* name : kLegacyRsaProviders) {
        SCOPED_TRACE(name);
        ScopedProvider provider;
        ASSERT_TRUE(CryptAcquireContextA(provider.put(), identity.container.c_str(), name,
                                         providerTypeOf(name), 0));
        for (ALG_ID algorithm : {CALG_SHA_256, CALG_SHA_384, CALG_SHA_512}) {
            HCRYPTHASH hash = 0;
            SetLastError(kUnsetError);
            EXPECT_FALSE(CryptCreateHash(provider.get(), algorithm, 0, 0, &hash));
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_ALGID));
        }
        ScopedHash sha1;
        EXPECT_TRUE(CryptCreateHash(provider.get(), CALG_SHA1, 0, 0, sha1.put()));
    }
    ScopedProvider aes;
    acquireIdentity(identity, aes);
    for (ALG_ID algorithm : {CALG_SHA_256, CALG_SHA_384, CALG_SHA_512}) {
        ScopedHash hash;
        EXPECT_TRUE(CryptCreateHash(aes.get(), algorithm, 0, 0, hash.put())) << std::hex
                                                                                 << algorithm;
    }
}

TEST_F(HashAlgorithms, ReportSizeAndTakeAValue) {
    TestIdentity identity = fixture_->createIdentity({});
    ScopedProvider provider;
    acquireIdentity(identity, provider);
    struct Case {
        ALG_ID algorithm;
        DWORD size;
    };
    for (Case c : {Case{CALG_MD5, 16}, Case{CALG_SHA1, 20}, Case{CALG_SSL3_SHAMD5, 36},
                   Case{CALG_SHA_256, 32}, Case{CALG_SHA_384, 48}, Case{CALG_SHA_512, 64}}) {
        SCOPED_TRACE(c.algorithm);
        ScopedHash hash;
        ASSERT_TRUE(CryptCreateHash(provider.get(), c.algorithm, 0, 0, hash.put()));
        DWORD size = 0;
        DWORD length = sizeof(size);
        ASSERT_TRUE(CryptGetHashParam(hash.get(), HP_HASHSIZE, reinterpret_cast<BYTE*>(&size),
                                      &length, 0));
        EXPECT_EQ(size, c.size);
        Bytes value(c.size);
        for (DWORD i = 0; i < c.size; ++i) value[i] = static_cast<BYTE>(i * 7 + 1);
        ASSERT_TRUE(CryptSetHashParam(hash.get(), HP_HASHVAL, value.data(), 0));
        Bytes readBack(c.size);
        length = c.size;
        ASSERT_TRUE(CryptGetHashParam(hash.get(), HP_HASHVAL, readBack.data(), &length, 0));
        EXPECT_EQ(readBack, value);
    }
}

}  // namespace
