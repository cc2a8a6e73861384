#include "keyops/private_key_blobs.h"

#include <algorithm>
#include <cstring>

namespace keyops {

using common::SecureBytes;

namespace {

const DWORD kCspPrivateMagic = 0x32415352;     // "RSA2"
const DWORD kCngRsaFullMagic = 0x33415352;     // "RSA3"
const DWORD kEcdsaP256PrivateMagic = 0x32534345;  // "ECS2"
const DWORD kEcdsaP384PrivateMagic = 0x34534345;  // "ECS4"
const DWORD kEcdsaP521PrivateMagic = 0x36534345;  // "ECS6"
// Beyond any key a provider takes: a longer number is refused before anything is sized by it.
const size_t kMaxNumberBytes = 65536 / 8;

// A number without its leading zero bytes.
struct Number {
    const BYTE* bytes;
    size_t length;
};

Number significant(const BYTE* bytes, size_t length) {
    while (length > 0 && *bytes == 0) {
        ++bytes;
        --length;
    }
    return {bytes, length};
}
Number significant(const std::vector<BYTE>& number) {
    return significant(number.data(), number.size());
}
Number significant(const SecureBytes& number) {
    return significant(number.data(), number.size());
}

// Writes blobs front to back; every write is checked to fit before the blob is sized.
class BlobWriter {
public:
    explicit BlobWriter(SecureBytes& blob) : blob_(blob) {}

    void word(DWORD value) {
        std::memcpy(blob_.data() + at_, &value, sizeof(value));
        at_ += sizeof(value);
    }
    void bytes(const void* data, size_t length) {
        if (length > 0) std::memcpy(blob_.data() + at_, data, length);
        at_ += length;
    }
    // The number in `width` bytes, most significant first, zeros in front.
    void bigEndian(Number number, size_t width) {
        at_ += width - number.length;
        bytes(number.bytes, number.length);
    }
    // The same, least significant first, zeros behind.
    void littleEndian(Number number, size_t width) {
        for (size_t i = 0; i < number.length; ++i)
            blob_[at_ + i] = number.bytes[number.length - 1 - i];
        at_ += width;
    }

private:
    SecureBytes& blob_;
    size_t at_ = 0;
};

bool fits(Number number, size_t width) {
    return number.length <= width;
}

// The modulus's length in bits, from its leading byte.
DWORD bitLength(Number modulus) {
    DWORD bits = static_cast<DWORD>(modulus.length * 8);
    for (BYTE top = modulus.bytes[0]; (top & 0x80) == 0; top = static_cast<BYTE>(top << 1)) --bits;
    return bits;
}

}  // namespace

bool cspRsaPrivateBlob(const RsaPrivateKey& key, SecureBytes& blob) {
    const Number modulus = significant(key.modulus);
    const Number exponent = significant(key.publicExponent);
    const size_t width = modulus.length;
    const size_t half = width / 2;
    const Number halves[] = {significant(key.prime1), significant(key.prime2),
                             significant(key.exponent1), significant(key.exponent2),
                             significant(key.coefficient)};
    const Number privateExponent = significant(key.privateExponent);
    if (width == 0 || width % 2 != 0 || width > kMaxNumberBytes || exponent.length == 0 ||
        !fits(exponent, sizeof(DWORD)) || !fits(privateExponent, width))
        return false;
    if (!std::all_of(std::begin(halves), std::end(halves),
                     [&](Number number) { return fits(number, half); }))
        return false;

    blob = SecureBytes(sizeof(BLOBHEADER) + sizeof(RSAPUBKEY) + 2 * width + 5 * half);
    BlobWriter writer(blob);
    const BLOBHEADER header = {PRIVATEKEYBLOB, CUR_BLOB_VERSION, 0, CALG_RSA_KEYX};
    writer.bytes(&header, sizeof(header));
    DWORD publicExponent = 0;
    for (size_t i = 0; i < exponent.length; ++i)
        publicExponent = (publicExponent << 8) | exponent.bytes[i];
    writer.word(kCspPrivateMagic);
    writer.word(static_cast<DWORD>(width * 8));
    writer.word(publicExponent);
    writer.littleEndian(modulus, width);
    for (Number number : halves) writer.littleEndian(number, half);
    writer.littleEndian(privateExponent, width);
    return true;
}

bool cngRsaPrivateBlob(const RsaPrivateKey& key, SecureBytes& blob) {
    const Number modulus = significant(key.modulus);
    const Number exponent = significant(key.publicExponent);
    const Number prime1 = significant(key.prime1);
    const Number prime2 = significant(key.prime2);
    const Number privateExponent = significant(key.privateExponent);
    const Number exponent1 = significant(key.exponent1);
    const Number exponent2 = significant(key.exponent2);
    const Number coefficient = significant(key.coefficient);
    if (modulus.length == 0 || modulus.length > kMaxNumberBytes || exponent.length == 0 ||
        !fits(exponent, modulus.length) || prime1.length == 0 || prime2.length == 0 ||
        !fits(prime1, modulus.length) || !fits(prime2, modulus.length) ||
        !fits(exponent1, prime1.length) || !fits(exponent2, prime2.length) ||
        !fits(coefficient, prime1.length) || !fits(privateExponent, modulus.length))
        return false;

    blob = SecureBytes(sizeof(BCRYPT_RSAKEY_BLOB) + exponent.length + 2 * modulus.length +
                       3 * prime1.length + 2 * prime2.length);
    BlobWriter writer(blob);
    writer.word(kCngRsaFullMagic);
    writer.word(bitLength(modulus));
    writer.word(static_cast<DWORD>(exponent.length));
    writer.word(static_cast<DWORD>(modulus.length));
    writer.word(static_cast<DWORD>(prime1.length));
    writer.word(static_cast<DWORD>(prime2.length));
    writer.bigEndian(exponent, exponent.length);
    writer.bigEndian(modulus, modulus.length);
    writer.bigEndian(prime1, prime1.length);
    writer.bigEndian(prime2, prime2.length);
    writer.bigEndian(exponent1, prime1.length);
    writer.bigEndian(exponent2, prime2.length);
    writer.bigEndian(coefficient, prime1.length);
    writer.bigEndian(privateExponent, modulus.length);
    return true;
}

bool cngEcPrivateBlob(const EcPrivateKey& key, SecureBytes& blob) {
    DWORD magic = 0;
    switch (key.curveBits) {
        case 256: magic = kEcdsaP256PrivateMagic; break;
        case 384: magic = kEcdsaP384PrivateMagic; break;
        case 521: magic = kEcdsaP521PrivateMagic; break;
        default: return false;
    }
    const size_t width = (key.curveBits + 7) / 8;
    const Number numbers[] = {significant(key.x), significant(key.y), significant(key.d)};
    if (!std::all_of(std::begin(numbers), std::end(numbers),
                     [&](Number number) { return fits(number, width); }))
        return false;
    blob = SecureBytes(sizeof(BCRYPT_ECCKEY_BLOB) + 3 * width);
    BlobWriter writer(blob);
    writer.word(magic);
    writer.word(static_cast<DWORD>(width));
    for (Number number : numbers) writer.bigEndian(number, width);
    return true;
}

}  // namespace keyops
