#include "keyops/held_key.h"

#include "diagnostics/log.h"
#include "keyops/certificate_binding.h"
#include "keyops/certificate_lookup.h"
#include "keyops/sign.h"
#include "keyops/subject_public_key_info.h"

namespace keyops {

using common::SecureBytes;
using diagnostics::kStatusKeyProvInfoUnreadable;
using diagnostics::kStatusNoCngKey;
using diagnostics::kStatusNoKeyContainer;
using diagnostics::kStatusSignatureSizeUnknown;
using diagnostics::trimLogFile;
using diagnostics::writeLog;
using diagnostics::writeLogFormatted;

namespace {

const char kSignBanner[] = "########## Sign with held key (DigestAlgo: %8.8xh) ##########";
const char kSignCngBanner[] = "########## Sign with held key (CNG) ##########";
const char kDecryptBanner[] = "########## Decrypt with held key ##########";
const char kDecryptCngBanner[] = "########## Decrypt with held key (CNG) ##########";
const char kRawBanner[] = "########## Raw RSA with held key ##########";
const char kFinished[] = "Held key operation finished";
const char kOpening[] = "Opening the key for %s";
const char kOpened[] = "Key held for %s";
const char kUserKeyError[] = "CryptGetUserKey (AT_SIGNATURE) error: %x";
const char kNotForThisUse[] = "Key is not one for this operation: %x";
const char kPublicKeyInfoError[] = "SubjectPublicKeyInfo unreadable: %x";
const char kBindBanner[] = "########## Bind certificate to held key ##########";
const char kPropertyError[] = "CertGetCertificateContextProperty error: %x";
const char kCertificateFound[] = "Certificate found";

const char kGetUserKey[] = "CryptGetUserKey";
const char kSignHash[] = "NCryptSignHash";
const char kDecrypt[] = "NCryptDecrypt";
const char kImportPublicKey[] = "CryptImportPublicKeyInfo";
const char kReadProperty[] = "CertGetCertificateContextProperty";

const char kForSigning[] = "signing";
const char kForDecryption[] = "decryption";
const char kForCng[] = "CNG";

// The end of an operation: its closing line, and its result emptied unless it succeeded.
template <typename Result>
bool finish(CallContext& context, Result& result) {
    writeLog(kFinished, context.log);
    if (context.outcome.succeeded()) return true;
    result = Result();
    return false;
}

// A CNG key signs with RSA paddings or as ECDSA by its algorithm group, and decrypts only as RSA.
bool groupFits(CallContext& context, const char* step, CngGroup group, CngGroup needed) {
    return finishStep(context, {step, nullptr, kNotForThisUse, kStatusNoCngKey}, group == needed,
                      static_cast<DWORD>(NTE_BAD_KEY));
}

}  // namespace

HeldKey::HeldKey(StoreLocation location, const BYTE* certificate, size_t certificateLength,
                 std::string keyAlgorithm, SecureBytes pin)
    : name_(ByCertificate{personalStoreOf(location),
                          std::vector<BYTE>(certificate, certificate + certificateLength)}),
      keyAlgorithm_(std::move(keyAlgorithm)),
      pin_(std::move(pin)) {}

HeldKey::HeldKey(ContainerKey container, std::vector<BYTE> publicKeyInfo, std::string keyAlgorithm,
                 SecureBytes pin)
    : name_(ByContainer{std::move(container), std::move(publicKeyInfo)}),
      keyAlgorithm_(std::move(keyAlgorithm)),
      pin_(std::move(pin)) {}

const char* HeldKey::pin() const {
    return pin_.empty() ? nullptr : reinterpret_cast<const char*>(pin_.data());
}

template <typename Open>
bool HeldKey::openKey(CallContext& context, const char* use, const char* foundMessage, Open open) {
    writeLogFormatted(kOpening, context.log, use);
    bool opened = false;
    if (const auto* byCertificate = std::get_if<ByCertificate>(&name_)) {
        const std::vector<BYTE>& certificate = byCertificate->certificate;
        withCertificate(context, byCertificate->source, certificate.data(),
                        static_cast<DWORD>(certificate.size()), foundMessage, StoreClosing::Logged,
                        [&](CertificateKey& found) {
                            KeyToOpen key = {found.binding, 0,
                                             found.certificate.get()->pCertInfo->SubjectPublicKeyInfo,
                                             found.certificate.get()};
                            opened = open(key);
                        });
    } else {
        const ByContainer& byContainer = std::get<ByContainer>(name_);
        PublicKeyInfo publicKey;
        if (finishStep(context, {kImportPublicKey, nullptr, kPublicKeyInfoError, kStatusNoKeyContainer},
                       publicKey.decode(byContainer.publicKeyInfo),
                       static_cast<DWORD>(CRYPT_E_ASN1_CORRUPT))) {
            KeyToOpen key = {bindingOf(byContainer.container), byContainer.container.keySpec,
                             publicKey.get(), nullptr};
            opened = open(key);
        }
    }
    if (!opened || context.outcome.failed()) return false;
    writeLogFormatted(kOpened, context.log, use);
    return true;
}

bool HeldKey::openSigning(CallContext& context) {
    SigningContext opened;
    auto open = [&](KeyToOpen& found) {
        const char* algorithm = keyAlgorithm_.c_str();
        if (!acquireForSigning(context, found.binding, algorithm, pin(), opened.provider))
            return false;
        // The key that signs is the key-exchange key when there is one, as in CryptSignHash.
        const CryptoPlatform& platform = context.platform;
        const HCRYPTPROV provider = opened.provider.get();
        ScopedKey key;
        opened.keySpec = AT_KEYEXCHANGE;
        if (!platform.CryptGetUserKey(provider, AT_KEYEXCHANGE, key.put())) {
            opened.keySpec = AT_SIGNATURE;
            const Step step = {kGetUserKey, nullptr, kUserKeyError, kStatusSignatureSizeUnknown};
            if (!runStep(context, step, [&] {
                    return platform.CryptGetUserKey(provider, AT_SIGNATURE, key.put()) != FALSE;
                }))
                return false;
        }
        return cspKeyMatches(context, provider, key.get(), found.publicKey, kStatusNoKeyContainer);
    };
    if (!openKey(context, kForSigning, kCertificateFoundForSigning, open)) return false;
    signing_ = std::move(opened);
    return true;
}

bool HeldKey::openExchange(CallContext& context) {
    ExchangeKey opened;
    if (!openKey(context, kForDecryption, kCertificateFoundForDecryption, [&](KeyToOpen& found) {
            return openExchangeKey(context, found.binding, pin(), opened.provider, opened.key) &&
                   cspKeyMatches(context, opened.provider.get(), opened.key.get(), found.publicKey,
                                 kStatusNoKeyContainer);
        }))
        return false;
    exchange_ = std::move(opened);
    return true;
}

bool HeldKey::openCng(CallContext& context) {
    CngKey opened;
    auto open = [&](KeyToOpen& found) {
        const bool acquired =
            found.certificate != nullptr
                ? acquireCngKey(context, found.certificate, pin(), opened.hold)
                : acquireContainerCngKey(context, found.binding, found.keySpec, pin(), opened.hold);
        return acquired && cngKeyMatches(context, opened.hold.key, found.publicKey,
                                         kStatusNoKeyContainer, opened.group);
    };
    if (!openKey(context, kForCng, kCertificateFoundForSigning, open)) return false;
    cng_ = std::move(opened);
    return true;
}

bool HeldKey::sign(CallContext& context, ALG_ID digestAlgorithm, const BYTE* hash,
                   DWORD hashLength, std::vector<BYTE>& signature) {
    std::lock_guard<std::mutex> lock(mutex_);
    signature.clear();
    trimLogFile(context.log);
    writeLogFormatted(kSignBanner, context.log, static_cast<unsigned>(digestAlgorithm));
    if (signing_.provider.valid() || openSigning(context))
        signInContainer(context, {signing_.provider.get(), nullptr, signing_.keySpec},
                        {digestAlgorithm, hash, hashLength, true}, signature);
    return finish(context, signature);
}

bool HeldKey::signCng(CallContext& context, const CngPadding& padding, const BYTE* hash,
                      DWORD hashLength, std::vector<BYTE>& signature) {
    std::lock_guard<std::mutex> lock(mutex_);
    signature.clear();
    trimLogFile(context.log);
    writeLog(kSignCngBanner, context.log);
    if (cng_.hold.key != 0 || openCng(context)) {
        const CngGroup needed = padding.scheme == 0 ? CngGroup::Ecdsa : CngGroup::Rsa;
        if (groupFits(context, kSignHash, cng_.group, needed))
            signWithCngKey(context, cng_.hold.key, padding, hash, hashLength, signature);
    }
    return finish(context, signature);
}

bool HeldKey::decrypt(CallContext& context, RsaPadding padding, const BYTE* cipherText,
                      DWORD cipherTextLength, SecureBytes& plainText) {
    std::lock_guard<std::mutex> lock(mutex_);
    plainText = SecureBytes();
    trimLogFile(context.log);
    writeLog(kDecryptBanner, context.log);
    if (exchange_.key.valid() || openExchange(context))
        decryptWithKey(context, exchange_.key.get(), cipherText, cipherTextLength, padding,
                       plainText);
    return finish(context, plainText);
}

bool HeldKey::decryptCng(CallContext& context, const CngPadding& padding, const BYTE* cipherText,
                         DWORD cipherTextLength, SecureBytes& plainText) {
    std::lock_guard<std::mutex> lock(mutex_);
    plainText = SecureBytes();
    trimLogFile(context.log);
    writeLog(kDecryptCngBanner, context.log);
    if (cng_.hold.key != 0 || openCng(context)) {
        if (groupFits(context, kDecrypt, cng_.group, CngGroup::Rsa))
            decryptWithCngKey(context, cng_.hold.key, padding, cipherText, cipherTextLength,
                              plainText);
    }
    return finish(context, plainText);
}

bool HeldKey::rawRsa(CallContext& context, const BYTE* block, DWORD blockLength,
                     SecureBytes& result) {
    std::lock_guard<std::mutex> lock(mutex_);
    result = SecureBytes();
    trimLogFile(context.log);
    writeLog(kRawBanner, context.log);
    if (exchange_.key.valid() || openExchange(context))
        rawRsaWithKey(context, exchange_.key.get(), block, blockLength, result);
    return finish(context, result);
}

}  // namespace keyops

namespace keyops {

StoreLocation HeldKey::location() const {
    if (const auto* byCertificate = std::get_if<ByCertificate>(&name_))
        return byCertificate->source.location;
    return std::get<ByContainer>(name_).container.location;
}

bool HeldKey::bindCertificate(CallContext& context, const std::vector<BYTE>& certificate,
                              const CertificateList& issuers) {
    std::lock_guard<std::mutex> lock(mutex_);
    trimLogFile(context.log);
    writeLog(kBindBanner, context.log);
    ContainerKey container;
    std::vector<BYTE> replacing;
    if (const auto* byCertificate = std::get_if<ByCertificate>(&name_)) {
        // The container is the one the certificate's whole key-provider property names.
        replacing = byCertificate->certificate;
        bool named = false;
        withCertificate(context, byCertificate->source, replacing.data(),
                        static_cast<DWORD>(replacing.size()), kCertificateFound,
                        StoreClosing::Logged, [&](CertificateKey& found) {
                            std::vector<BYTE> record;
                            DWORD error = readKeyProvInfo(context.platform,
                                                          found.certificate.get(), record);
                            if (error == ERROR_SUCCESS && !containerOf(record, container))
                                error = static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION);
                            named = finishStep(context,
                                               {kReadProperty, nullptr, kPropertyError,
                                                kStatusKeyProvInfoUnreadable},
                                               error == ERROR_SUCCESS, error);
                        });
        if (!named || context.outcome.failed()) return false;
    } else {
        container = std::get<ByContainer>(name_).container;
    }
    if (!keyops::bindCertificate(context, container, certificate, issuers, replacing))
        return false;
    name_ = ByCertificate{personalStoreOf(location()), certificate};
    return true;
}

}  // namespace keyops
