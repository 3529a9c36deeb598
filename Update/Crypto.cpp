#include "Crypto.h"

#include "Checksum.h"
#include "Handles.h"

#include <cstring>

namespace {

// One provider per algorithm for the whole process: opening one is the
// costly step of CNG, and its handles may be shared between threads.
class CProvider {
public:
    explicit CProvider(const wchar_t* algorithm)
    {
        if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&m_handle, algorithm, nullptr, 0)))
            m_handle = nullptr;
    }
    ~CProvider()
    {
        if (m_handle)
            ::BCryptCloseAlgorithmProvider(m_handle, 0);
    }
    CProvider(const CProvider&) = delete;
    CProvider& operator=(const CProvider&) = delete;
    BCRYPT_ALG_HANDLE get() const { return m_handle; }

private:
    BCRYPT_ALG_HANDLE m_handle = nullptr;
};

BCRYPT_ALG_HANDLE Sha256Provider()
{
    static CProvider provider(BCRYPT_SHA256_ALGORITHM);
    return provider.get();
}

BCRYPT_ALG_HANDLE EcdsaProvider()
{
    static CProvider provider(BCRYPT_ECDSA_P256_ALGORITHM);
    return provider.get();
}

// The key blobs CNG exchanges: a header, then X, Y (and d) of 32 bytes each.
struct PublicBlob {
    BCRYPT_ECCKEY_BLOB header;
    uint8_t xy[64];
};
struct PrivateBlob {
    BCRYPT_ECCKEY_BLOB header;
    uint8_t xyd[96];
};

} // namespace

// ---------------------------------------------------------------------------

CSha256::CSha256()
{
    // Without a buffer of ours: CNG keeps the hash object itself (Windows 7 and later).
    BCRYPT_ALG_HANDLE provider = Sha256Provider();
    m_ok = provider && BCRYPT_SUCCESS(::BCryptCreateHash(provider, &m_hash, nullptr, 0, nullptr, 0, 0));
    if (!m_ok)
        m_hash = nullptr;
}

CSha256::~CSha256()
{
    if (m_hash)
        ::BCryptDestroyHash(m_hash);
}

bool CSha256::Update(const void* data, size_t size)
{
    auto* p = static_cast<const uint8_t*>(data);
    while (m_ok && size > 0) {
        ULONG part = size > 0x40000000u ? 0x40000000u : static_cast<ULONG>(size);
        m_ok = BCRYPT_SUCCESS(::BCryptHashData(m_hash, const_cast<PUCHAR>(p), part, 0));
        p += part;
        size -= part;
    }
    return m_ok;
}

bool CSha256::Final(Sha256Digest* digest)
{
    if (!m_ok)
        return false;
    m_ok = BCRYPT_SUCCESS(::BCryptFinishHash(m_hash, digest->data(), static_cast<ULONG>(digest->size()), 0));
    bool done = m_ok;
    m_ok = false; // a finished hash takes no more data
    return done;
}

bool Sha256(const void* data, size_t size, Sha256Digest* digest)
{
    CSha256 hash;
    return hash.Update(data, size) && hash.Final(digest);
}

bool Sha256File(const std::wstring& path, Sha256Digest* digest, uint64_t* size)
{
    CSha256 hash;
    uint64_t total = 0;
    if (!ReadFileChunks(path, kChecksumBlock,
                        [&](const BYTE* data, DWORD read) {
                            total += read;
                            return hash.Update(data, read);
                        }) ||
        !hash.Final(digest))
        return false;
    if (size)
        *size = total;
    return true;
}

// ---------------------------------------------------------------------------

CP256Key::~CP256Key()
{
    Reset();
}

void CP256Key::Reset()
{
    if (m_key)
        ::BCryptDestroyKey(m_key);
    m_key = nullptr;
}

bool CP256Key::Generate()
{
    Reset();
    BCRYPT_ALG_HANDLE provider = EcdsaProvider();
    if (!provider || !BCRYPT_SUCCESS(::BCryptGenerateKeyPair(provider, &m_key, 256, 0))) {
        m_key = nullptr;
        return false;
    }
    if (!BCRYPT_SUCCESS(::BCryptFinalizeKeyPair(m_key, 0))) {
        Reset();
        return false;
    }
    return true;
}

bool CP256Key::ImportPublic(const P256PublicKey& key)
{
    Reset();
    PublicBlob blob = {{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, 32}, {}};
    std::memcpy(blob.xy, key.data(), key.size());
    BCRYPT_ALG_HANDLE provider = EcdsaProvider();
    if (!provider || !BCRYPT_SUCCESS(::BCryptImportKeyPair(provider, nullptr, BCRYPT_ECCPUBLIC_BLOB, &m_key,
                                                           reinterpret_cast<PUCHAR>(&blob), sizeof blob, 0)))
        m_key = nullptr;
    return m_key != nullptr;
}

bool CP256Key::ImportPrivate(const P256PublicKey& key, const P256PrivateKey& secret)
{
    Reset();
    PrivateBlob blob = {{BCRYPT_ECDSA_PRIVATE_P256_MAGIC, 32}, {}};
    std::memcpy(blob.xyd, key.data(), key.size());
    std::memcpy(blob.xyd + key.size(), secret.data(), secret.size());
    BCRYPT_ALG_HANDLE provider = EcdsaProvider();
    if (!provider || !BCRYPT_SUCCESS(::BCryptImportKeyPair(provider, nullptr, BCRYPT_ECCPRIVATE_BLOB, &m_key,
                                                           reinterpret_cast<PUCHAR>(&blob), sizeof blob, 0)))
        m_key = nullptr;
    ::SecureZeroMemory(&blob, sizeof blob);
    return m_key != nullptr;
}

bool CP256Key::Export(P256PublicKey* key, P256PrivateKey* secret) const
{
    PrivateBlob blob = {};
    ULONG written = 0;
    bool ok = m_key &&
              BCRYPT_SUCCESS(::BCryptExportKey(m_key, nullptr, BCRYPT_ECCPRIVATE_BLOB, reinterpret_cast<PUCHAR>(&blob),
                                               sizeof blob, &written, 0)) &&
              written == sizeof blob && blob.header.dwMagic == BCRYPT_ECDSA_PRIVATE_P256_MAGIC &&
              blob.header.cbKey == 32;
    if (ok) {
        std::memcpy(key->data(), blob.xyd, key->size());
        std::memcpy(secret->data(), blob.xyd + key->size(), secret->size());
    }
    ::SecureZeroMemory(&blob, sizeof blob);
    return ok;
}

bool CP256Key::Sign(const Sha256Digest& hash, P256Signature* signature) const
{
    // A size query answers 32 under Wine 8: the buffer is always r || s in full.
    ULONG written = 0;
    return m_key &&
           BCRYPT_SUCCESS(::BCryptSignHash(m_key, nullptr, const_cast<PUCHAR>(hash.data()),
                                           static_cast<ULONG>(hash.size()), signature->data(),
                                           static_cast<ULONG>(signature->size()), &written, 0)) &&
           written == signature->size();
}

NTSTATUS CP256Key::Verify(const Sha256Digest& hash, const P256Signature& signature) const
{
    if (!m_key)
        return static_cast<NTSTATUS>(0xC0000008L); // STATUS_INVALID_HANDLE
    return ::BCryptVerifySignature(m_key, nullptr, const_cast<PUCHAR>(hash.data()), static_cast<ULONG>(hash.size()),
                                   const_cast<PUCHAR>(signature.data()), static_cast<ULONG>(signature.size()), 0);
}

// ---------------------------------------------------------------------------

std::string ToHex(const uint8_t* data, size_t size)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 15];
    }
    return out;
}

bool FromHex(const std::string& text, uint8_t* data, size_t size)
{
    if (text.size() != size * 2)
        return false;
    auto value = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        return -1;
    };
    for (size_t i = 0; i < size; ++i) {
        int hi = value(text[2 * i]), lo = value(text[2 * i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        data[i] = static_cast<uint8_t>(hi << 4 | lo);
    }
    return true;
}
