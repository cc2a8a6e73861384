#include "softcapi/admin/pkcs12_file.h"

#include <openssl/err.h>
#include <openssl/pkcs7.h>
#include <openssl/provider.h>

#include "softcapi/admin/admin.h"

namespace softcapi::admin {

namespace {

const char kNotReadable[] = "the PKCS#12 file holds no readable key with its certificate";
const char kWrongPassword[] = "the PKCS#12 file cannot be decrypted with this password";

// A password in the two forms PKCS#12 tells apart when it is empty: no password at all, and
// the empty string. OpenSSL writes either; which one a file was made with is found by trying.
struct PasswordForm {
    const char* text;
    int length;
};

std::vector<PasswordForm> passwordForms(const std::string& password) {
    if (!password.empty()) return {{password.c_str(), -1}};
    return {{"", 0}, {nullptr, 0}};
}

// The older PKCS#12 encryption (RC2, DES) lives in OpenSSL's legacy provider, which is loaded
// only for a file that names such a cipher. Loading a provider turns off the implicit default
// one, so that is loaded too; both are unloaded at exit, before OpenSSL's own cleanup.
class LegacyProviders {
public:
    LegacyProviders()
        : default_(OSSL_PROVIDER_load(nullptr, "default")),
          legacy_(OSSL_PROVIDER_load(nullptr, "legacy")) {}
    ~LegacyProviders() {
        if (legacy_ != nullptr) OSSL_PROVIDER_unload(legacy_);
        if (default_ != nullptr) OSSL_PROVIDER_unload(default_);
    }
    LegacyProviders(const LegacyProviders&) = delete;
    LegacyProviders& operator=(const LegacyProviders&) = delete;

private:
    OSSL_PROVIDER* default_;
    OSSL_PROVIDER* legacy_;
};

void loadLegacyProviderFor(int cipherNid) {
    OpenSslPtr<EVP_CIPHER> cipher(EVP_CIPHER_fetch(nullptr, OBJ_nid2sn(cipherNid), nullptr));
    if (cipher) return;
    ERR_clear_error();
    static LegacyProviders providers;
}

// Absent, the count is 1; one beyond 64 bits is beyond every limit.
int64_t iterationCount(const ASN1_INTEGER* count) {
    int64_t value = 1;
    if (count != nullptr && ASN1_INTEGER_get_int64(&value, count) != 1) return INT64_MAX;
    return value < 1 ? 1 : value;
}

// What one password-based encryption of the file costs and needs: its iteration count and its
// cipher, read from its parameters without deriving anything.
struct EncryptionCost {
    int64_t iterations = 0;
    int cipherNid = NID_undef;
};

EncryptionCost encryptionCost(const X509_ALGOR* algorithm) {
    const ASN1_OBJECT* object = nullptr;
    int parameterType = 0;
    const void* parameter = nullptr;
    X509_ALGOR_get0(&object, &parameterType, &parameter, algorithm);
    const auto* sequence = static_cast<const ASN1_STRING*>(parameter);
    int nid = OBJ_obj2nid(object);
    EncryptionCost cost;
    if (parameterType != V_ASN1_SEQUENCE || sequence == nullptr) throw AdminError(kNotReadable);
    if (nid == NID_pbes2) {
        OpenSslPtr<PBE2PARAM> scheme(static_cast<PBE2PARAM*>(
            ASN1_item_unpack(sequence, ASN1_ITEM_rptr(PBE2PARAM))));
        // Only PBKDF2 says its work in an iteration count; scrypt and others are refused.
        if (!scheme || OBJ_obj2nid(scheme->keyfunc->algorithm) != NID_id_pbkdf2 ||
            scheme->keyfunc->parameter == nullptr ||
            scheme->keyfunc->parameter->type != V_ASN1_SEQUENCE)
            throw AdminError(kNotReadable);
        OpenSslPtr<PBKDF2PARAM> derivation(static_cast<PBKDF2PARAM*>(ASN1_item_unpack(
            scheme->keyfunc->parameter->value.sequence, ASN1_ITEM_rptr(PBKDF2PARAM))));
        if (!derivation) throw AdminError(kNotReadable);
        cost.iterations = iterationCount(derivation->iter);
        cost.cipherNid = OBJ_obj2nid(scheme->encryption->algorithm);
        return cost;
    }
    if (EVP_PBE_find(EVP_PBE_TYPE_OUTER, nid, &cost.cipherNid, nullptr, nullptr) != 1)
        throw AdminError(kNotReadable);
    OpenSslPtr<PBEPARAM> scheme(
        static_cast<PBEPARAM*>(ASN1_item_unpack(sequence, ASN1_ITEM_rptr(PBEPARAM))));
    if (!scheme) throw AdminError(kNotReadable);
    cost.iterations = iterationCount(scheme->iter);
    return cost;
}

// Every key derivation the file asks for, weighed before it is made.
class WorkLimit {
public:
    void charge(int64_t iterations) {
        if (iterations > kMaxPkcs12Iterations)
            throw AdminError("the PKCS#12 file asks for " + std::to_string(iterations) +
                             " iterations of a key derivation, more than the " +
                             std::to_string(kMaxPkcs12Iterations) + " allowed");
        spent_ += iterations;
        if (spent_ > kMaxPkcs12TotalIterations)
            throw AdminError("the PKCS#12 file asks for more than the " +
                             std::to_string(kMaxPkcs12TotalIterations) +
                             " iterations of key derivation allowed in all");
    }

private:
    int64_t spent_ = 0;
};

class Pkcs12Reader {
public:
    Pkcs12Reader(PKCS12* file, const std::string& password)
        : file_(file), forms_(passwordForms(password)) {}

    Pkcs12Identity read() {
        if (PKCS12_mac_present(file_)) checkMac();
        OpenSslPtr<STACK_OF(PKCS7)> contents(PKCS12_unpack_authsafes(file_));
        if (!contents) throw AdminError(kNotReadable);
        for (int i = 0; i < sk_PKCS7_num(contents.get()); ++i)
            readSafeContents(sk_PKCS7_value(contents.get(), i));
        return matchCertificate();
    }

private:
    // Settles which form of the password the file was made with.
    void checkMac() {
        const ASN1_INTEGER* count = nullptr;
        PKCS12_get0_mac(nullptr, nullptr, nullptr, &count, file_);
        for (PasswordForm form : forms_) {
            work_.charge(iterationCount(count));
            if (PKCS12_verify_mac(file_, form.text, form.length) == 1) {
                forms_ = {form};
                return;
            }
        }
        throw AdminError("wrong PKCS#12 password");
    }

    // Runs `decrypt` with each form of the password in turn until one gives a result; the
    // form that did is the only one tried from then on. Null when none did.
    template <typename Result, typename Decrypt>
    Result decryptWithPassword(const X509_ALGOR* algorithm, Decrypt decrypt) {
        EncryptionCost cost = encryptionCost(algorithm);
        loadLegacyProviderFor(cost.cipherNid);
        for (PasswordForm form : forms_) {
            work_.charge(cost.iterations);
            Result result = decrypt(form);
            if (result) {
                forms_ = {form};
                return result;
            }
            ERR_clear_error();
        }
        return Result();
    }

    void readSafeContents(PKCS7* safe) {
        using Bags = OpenSslPtr<STACK_OF(PKCS12_SAFEBAG)>;
        Bags bags;
        switch (OBJ_obj2nid(safe->type)) {
            case NID_pkcs7_data:
                bags.reset(PKCS12_unpack_p7data(safe));
                break;
            case NID_pkcs7_encrypted:
                if (safe->d.encrypted == nullptr || safe->d.encrypted->enc_data == nullptr)
                    throw AdminError(kNotReadable);
                bags = decryptWithPassword<Bags>(
                    safe->d.encrypted->enc_data->algorithm, [&](const PasswordForm& form) {
                        return Bags(PKCS12_unpack_p7encdata(safe, form.text, form.length));
                    });
                if (!bags) throw AdminError(kWrongPassword);
                break;
            default:
                return;  // encrypted to a public key: nothing a password opens
        }
        if (!bags) throw AdminError(kNotReadable);
        readBags(bags.get());
    }

    void readBags(const STACK_OF(PKCS12_SAFEBAG)* bags) {
        for (int i = 0; i < sk_PKCS12_SAFEBAG_num(bags); ++i) {
            const PKCS12_SAFEBAG* bag = sk_PKCS12_SAFEBAG_value(bags, i);
            switch (PKCS12_SAFEBAG_get_nid(bag)) {
                case NID_keyBag:
                    if (!key_) readKey(PKCS12_SAFEBAG_get0_p8inf(bag));
                    break;
                case NID_pkcs8ShroudedKeyBag:
                    if (!key_) readShroudedKey(bag);
                    break;
                case NID_certBag:
                    if (PKCS12_SAFEBAG_get_bag_nid(bag) == NID_x509Certificate)
                        readCertificate(bag);
                    break;
                case NID_safeContentsBag:
                    readBags(PKCS12_SAFEBAG_get0_safes(bag));
                    break;
                default:
                    break;
            }
        }
    }

    void readKey(const PKCS8_PRIV_KEY_INFO* info) {
        if (info != nullptr) key_.reset(EVP_PKCS82PKEY(info));
        if (!key_) throw AdminError(kNotReadable);
    }

    void readShroudedKey(const PKCS12_SAFEBAG* bag) {
        using Info = OpenSslPtr<PKCS8_PRIV_KEY_INFO>;
        const X509_SIG* shrouded = PKCS12_SAFEBAG_get0_pkcs8(bag);
        if (shrouded == nullptr) throw AdminError(kNotReadable);
        const X509_ALGOR* algorithm = nullptr;
        X509_SIG_get0(shrouded, &algorithm, nullptr);
        Info info = decryptWithPassword<Info>(algorithm, [&](const PasswordForm& form) {
            return Info(PKCS12_decrypt_skey(bag, form.text, form.length));
        });
        if (!info) throw AdminError(kWrongPassword);
        readKey(info.get());
    }

    void readCertificate(const PKCS12_SAFEBAG* bag) {
        X509Ptr certificate(PKCS12_SAFEBAG_get1_cert(bag));
        if (!certificate) throw AdminError(kNotReadable);
        certificates_.push_back(std::move(certificate));
    }

    // The last certificate that matches the key, as OpenSSL's own PKCS12_parse picks it.
    Pkcs12Identity matchCertificate() {
        if (!key_) throw AdminError(kNotReadable);
        for (auto candidate = certificates_.rbegin(); candidate != certificates_.rend();
             ++candidate) {
            if (X509_check_private_key(candidate->get(), key_.get()) == 1)
                return {std::move(key_), std::move(*candidate)};
            ERR_clear_error();
        }
        throw AdminError(kNotReadable);
    }

    PKCS12* file_;
    std::vector<PasswordForm> forms_;
    WorkLimit work_;
    PkeyPtr key_;
    std::vector<X509Ptr> certificates_;
};

}  // namespace

Pkcs12Identity readPkcs12(const std::vector<BYTE>& file, const std::string& password) {
    const unsigned char* in = file.data();
    OpenSslPtr<PKCS12> parsed(d2i_PKCS12(nullptr, &in, static_cast<long>(file.size())));
    if (!parsed) throw AdminError("the file is not a PKCS#12 file");
    return Pkcs12Reader(parsed.get(), password).read();
}

}  // namespace softcapi::admin
