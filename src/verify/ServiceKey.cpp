#include "verify/ServiceKey.h"

#include "core/IpCheckPage.h"

#include <windows.h>
#include <bcrypt.h>

#include <memory>
#include <stdexcept>
#include <vector>

#ifndef ZARNU_SERVICE_PUBLIC_KEY
#error "ZARNU_SERVICE_PUBLIC_KEY: the service's public key, the 64 bytes of X and Y in hex"
#endif

namespace {

constexpr std::size_t kCoordinateBytes = 32;

using UniqueAlgorithm = std::unique_ptr<void, decltype([](void* handle) { BCryptCloseAlgorithmProvider(handle, 0); })>;
using UniqueKey = std::unique_ptr<void, decltype([](void* handle) { BCryptDestroyKey(handle); })>;
using UniqueHash = std::unique_ptr<void, decltype([](void* handle) { BCryptDestroyHash(handle); })>;

UniqueAlgorithm OpenAlgorithm(const wchar_t* name)
{
    BCRYPT_ALG_HANDLE handle = nullptr;
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&handle, name, nullptr, 0)))
        return nullptr;
    return UniqueAlgorithm(handle);
}

// The handles a check needs, made once; the platform's algorithm and key handles serve any
// number of threads.
struct Verifier {
    UniqueAlgorithm sha256 = OpenAlgorithm(BCRYPT_SHA256_ALGORITHM);
    UniqueAlgorithm ecdsa = OpenAlgorithm(BCRYPT_ECDSA_P256_ALGORITHM);
    UniqueKey key = ImportKey();

    UniqueKey ImportKey() const
    {
        const auto xy = HexBytes(ZARNU_SERVICE_PUBLIC_KEY);
        if (!ecdsa || !xy || xy->size() != 2 * kCoordinateBytes)
            return nullptr;
        std::vector<unsigned char> blob(sizeof(BCRYPT_ECCKEY_BLOB) + xy->size());
        auto* header = reinterpret_cast<BCRYPT_ECCKEY_BLOB*>(blob.data());
        header->dwMagic = BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
        header->cbKey = kCoordinateBytes;
        std::copy(xy->begin(), xy->end(), blob.begin() + sizeof(BCRYPT_ECCKEY_BLOB));
        BCRYPT_KEY_HANDLE handle = nullptr;
        if (!BCRYPT_SUCCESS(BCryptImportKeyPair(ecdsa.get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, &handle, blob.data(),
                                                static_cast<ULONG>(blob.size()), 0)))
            return nullptr;
        return UniqueKey(handle);
    }
};

const Verifier& TheVerifier()
{
    static const Verifier verifier;
    return verifier;
}

} // namespace

bool VerifyServiceSignature(std::string_view message, std::string_view signature)
{
    const Verifier& verifier = TheVerifier();
    if (!verifier.sha256 || !verifier.key || signature.size() != 2 * kCoordinateBytes)
        return false;
    BCRYPT_HASH_HANDLE handle = nullptr;
    if (!BCRYPT_SUCCESS(BCryptCreateHash(verifier.sha256.get(), &handle, nullptr, 0, nullptr, 0, 0)))
        return false;
    const UniqueHash hash(handle);
    unsigned char digest[32];
    std::string signatureCopy(signature);
    return BCRYPT_SUCCESS(BCryptHashData(handle, reinterpret_cast<PUCHAR>(const_cast<char*>(message.data())),
                                         static_cast<ULONG>(message.size()), 0)) &&
           BCRYPT_SUCCESS(BCryptFinishHash(handle, digest, sizeof digest, 0)) &&
           BCRYPT_SUCCESS(BCryptVerifySignature(verifier.key.get(), nullptr, digest, sizeof digest,
                                                reinterpret_cast<PUCHAR>(signatureCopy.data()),
                                                static_cast<ULONG>(signatureCopy.size()), 0));
}

std::string FreshToken()
{
    unsigned char bytes[16];
    if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, bytes, sizeof bytes, BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
        throw std::runtime_error("the platform gives no random numbers");
    return HexText(std::string_view(reinterpret_cast<const char*>(bytes), sizeof bytes));
}
