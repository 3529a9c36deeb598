// SHA-256 and ECDSA P-256 through the system's own cryptography (CNG,
// bcrypt.dll, present since Windows Vista): nothing here computes a hash or
// a signature itself.
#pragma once

#include <windows.h>

#include <bcrypt.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

using Sha256Digest = std::array<uint8_t, 32>;
using P256PublicKey = std::array<uint8_t, 64>;  // X || Y, big-endian
using P256PrivateKey = std::array<uint8_t, 32>; // d, big-endian
using P256Signature = std::array<uint8_t, 64>;  // r || s, big-endian

class CSha256 {
public:
    CSha256();
    ~CSha256();
    CSha256(const CSha256&) = delete;
    CSha256& operator=(const CSha256&) = delete;

    // False once any call failed; Final then fails too.
    bool Update(const void* data, size_t size);
    // Once per object.
    bool Final(Sha256Digest* digest);

private:
    BCRYPT_HASH_HANDLE m_hash = nullptr;
    bool m_ok = false;
};

bool Sha256(const void* data, size_t size, Sha256Digest* digest);
// Hash and size of a whole file; false when it cannot be opened or read.
bool Sha256File(const std::wstring& path, Sha256Digest* digest, uint64_t* size);

// One ECDSA P-256 key: a public key to verify with, or a key pair to sign with.
class CP256Key {
public:
    CP256Key() = default;
    ~CP256Key();
    CP256Key(const CP256Key&) = delete;
    CP256Key& operator=(const CP256Key&) = delete;

    bool Generate();
    bool ImportPublic(const P256PublicKey& key);
    bool ImportPrivate(const P256PublicKey& key, const P256PrivateKey& secret);
    // The private part only of a key pair.
    bool Export(P256PublicKey* key, P256PrivateKey* secret) const;
    bool Sign(const Sha256Digest& hash, P256Signature* signature) const;
    // STATUS_SUCCESS, STATUS_INVALID_SIGNATURE, or another failure.
    NTSTATUS Verify(const Sha256Digest& hash, const P256Signature& signature) const;

private:
    void Reset();

    BCRYPT_KEY_HANDLE m_key = nullptr;
};

// Lower-case hexadecimal and back; FromHex takes exactly 2 * size lower-case digits.
std::string ToHex(const uint8_t* data, size_t size);
bool FromHex(const std::string& text, uint8_t* data, size_t size);
