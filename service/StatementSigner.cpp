#include "StatementSigner.h"

#include "core/IpCheckPage.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <stdexcept>

namespace {

constexpr int kCoordinateBytes = 32;

template <typename T, void (*Free)(T*)>
struct Freed {
    void operator()(T* pointer) const { Free(pointer); }
};
using UniqueBio = std::unique_ptr<BIO, Freed<BIO, BIO_free_all>>;
using UniqueDigest = std::unique_ptr<EVP_MD_CTX, Freed<EVP_MD_CTX, EVP_MD_CTX_free>>;
using UniqueSignature = std::unique_ptr<ECDSA_SIG, Freed<ECDSA_SIG, ECDSA_SIG_free>>;
using UniqueNumber = std::unique_ptr<BIGNUM, Freed<BIGNUM, BN_free>>;
using UniqueKey = std::unique_ptr<EVP_PKEY, Freed<EVP_PKEY, EVP_PKEY_free>>;
using UniqueContext = std::unique_ptr<EVP_PKEY_CTX, Freed<EVP_PKEY_CTX, EVP_PKEY_CTX_free>>;

std::string Coordinates(const BIGNUM* first, const BIGNUM* second)
{
    std::string bytes(2 * kCoordinateBytes, '\0');
    auto* out = reinterpret_cast<unsigned char*>(bytes.data());
    if (BN_bn2binpad(first, out, kCoordinateBytes) != kCoordinateBytes ||
        BN_bn2binpad(second, out + kCoordinateBytes, kCoordinateBytes) != kCoordinateBytes)
        throw std::runtime_error("a number does not fit the signature");
    return bytes;
}

// A public key of P-256 from its X and Y.
UniqueKey PublicKey(std::string_view hex)
{
    const auto xy = HexBytes(hex);
    if (!xy || xy->size() != 2 * kCoordinateBytes)
        return nullptr;
    unsigned char point[1 + 2 * kCoordinateBytes] = {4}; // uncompressed
    std::copy(xy->begin(), xy->end(), point + 1);
    OSSL_PARAM parameters[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, const_cast<char*>("P-256"), 0),
        OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point), OSSL_PARAM_construct_end()};
    const UniqueContext context(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
    EVP_PKEY* key = nullptr;
    if (!context || EVP_PKEY_fromdata_init(context.get()) <= 0 ||
        EVP_PKEY_fromdata(context.get(), &key, EVP_PKEY_PUBLIC_KEY, parameters) <= 0)
        return nullptr;
    return UniqueKey(key);
}

} // namespace

StatementSigner::StatementSigner(const std::string& pem)
{
    const UniqueBio text(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    key_ = text ? PEM_read_bio_PrivateKey(text.get(), nullptr, nullptr, nullptr) : nullptr;
    char group[32] = {};
    if (!key_ || !EVP_PKEY_is_a(key_, "EC") ||
        !EVP_PKEY_get_utf8_string_param(key_, OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof group, nullptr) ||
        std::string(group) != "prime256v1") {
        EVP_PKEY_free(key_);
        throw std::runtime_error("no P-256 private key in it");
    }
}

StatementSigner::~StatementSigner()
{
    EVP_PKEY_free(key_);
}

std::string StatementSigner::Sign(std::string_view message) const
{
    const UniqueDigest digest(EVP_MD_CTX_new());
    std::size_t size = 0;
    if (!digest || EVP_DigestSignInit(digest.get(), nullptr, EVP_sha256(), nullptr, key_) <= 0 ||
        EVP_DigestSign(digest.get(), nullptr, &size, reinterpret_cast<const unsigned char*>(message.data()),
                       message.size()) <= 0)
        throw std::runtime_error("cannot sign");
    std::string der(size, '\0');
    if (EVP_DigestSign(digest.get(), reinterpret_cast<unsigned char*>(der.data()), &size,
                       reinterpret_cast<const unsigned char*>(message.data()), message.size()) <= 0)
        throw std::runtime_error("cannot sign");
    const auto* in = reinterpret_cast<const unsigned char*>(der.data());
    const UniqueSignature signature(d2i_ECDSA_SIG(nullptr, &in, static_cast<long>(size)));
    if (!signature)
        throw std::runtime_error("cannot sign");
    return Coordinates(ECDSA_SIG_get0_r(signature.get()), ECDSA_SIG_get0_s(signature.get()));
}

std::string StatementSigner::PublicKeyHex() const
{
    BIGNUM* x = nullptr;
    BIGNUM* y = nullptr;
    EVP_PKEY_get_bn_param(key_, OSSL_PKEY_PARAM_EC_PUB_X, &x);
    EVP_PKEY_get_bn_param(key_, OSSL_PKEY_PARAM_EC_PUB_Y, &y);
    const UniqueNumber ownX(x), ownY(y);
    if (!x || !y)
        throw std::runtime_error("the key has no public point");
    return HexText(Coordinates(x, y));
}

bool VerifyStatementSignature(std::string_view publicKeyHex, std::string_view message, std::string_view signature)
{
    const UniqueKey key = PublicKey(publicKeyHex);
    if (!key || signature.size() != 2 * kCoordinateBytes)
        return false;
    const auto* bytes = reinterpret_cast<const unsigned char*>(signature.data());
    UniqueSignature parts(ECDSA_SIG_new());
    BIGNUM* r = BN_bin2bn(bytes, kCoordinateBytes, nullptr);
    BIGNUM* s = BN_bin2bn(bytes + kCoordinateBytes, kCoordinateBytes, nullptr);
    if (!parts || !r || !s || ECDSA_SIG_set0(parts.get(), r, s) != 1) {
        BN_free(r);
        BN_free(s);
        return false;
    }
    unsigned char* der = nullptr;
    const int size = i2d_ECDSA_SIG(parts.get(), &der);
    const UniqueDigest digest(EVP_MD_CTX_new());
    const bool valid = size > 0 && digest &&
                       EVP_DigestVerifyInit(digest.get(), nullptr, EVP_sha256(), nullptr, key.get()) > 0 &&
                       EVP_DigestVerify(digest.get(), der, static_cast<std::size_t>(size),
                                        reinterpret_cast<const unsigned char*>(message.data()), message.size()) == 1;
    OPENSSL_free(der);
    return valid;
}
