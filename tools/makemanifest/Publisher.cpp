#include "Publisher.h"

#include "Crypto.h"
#include "Handles.h"
#include "KeyChain.h"
#include "SafeName.h"
#include "Deltas.h"
#include "Signature.h"

#include <windows.h>

namespace {

// A key file, refused before reading when it cannot be one.
bool ReadKeyFile(const std::wstring& path, std::string* text, std::wstring* error)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        *error = L"cannot read the key file " + path;
        return false;
    }
    if (data.nFileSizeHigh != 0 || data.nFileSizeLow > kMaxKeyFile) {
        *error = path + L" is larger than " + std::to_wstring(kMaxKeyFile) + L" bytes: not a key file";
        return false;
    }
    if (!ReadSmallFile(path, kMaxKeyFile, text)) {
        *error = L"cannot read the key file " + path;
        return false;
    }
    return true;
}

// A new file only: an existing one (a key above all) is never replaced.
bool WriteNewFile(const std::wstring& path, const std::string& bytes, std::wstring* error)
{
    CFileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        *error = ::GetLastError() == ERROR_FILE_EXISTS ? path + L" exists already: it is never replaced"
                                                      : L"cannot write " + path;
        return false;
    }
    DWORD written = 0;
    bool ok = ::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
              written == bytes.size();
    ok = file.Close() && ok;
    if (!ok) {
        ::DeleteFileW(path.c_str());
        *error = L"cannot write " + path;
    }
    return ok;
}

// Closes an update of a file's resources; without Commit nothing is written.
class CResourceUpdate {
public:
    explicit CResourceUpdate(const std::wstring& file) : m_handle(::BeginUpdateResourceW(file.c_str(), FALSE)) {}
    ~CResourceUpdate()
    {
        if (m_handle)
            ::EndUpdateResourceW(m_handle, TRUE);
    }
    CResourceUpdate(const CResourceUpdate&) = delete;
    CResourceUpdate& operator=(const CResourceUpdate&) = delete;
    HANDLE get() const { return m_handle; }
    bool Commit()
    {
        HANDLE handle = m_handle;
        m_handle = nullptr;
        return ::EndUpdateResourceW(handle, FALSE) != FALSE;
    }

private:
    HANDLE m_handle;
};

// A program's resources, mapped as the loader maps them and never run.
class CDataModule {
public:
    explicit CDataModule(const std::wstring& file)
        : m_module(::LoadLibraryExW(file.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE))
    {
    }
    ~CDataModule()
    {
        if (m_module)
            ::FreeLibrary(m_module);
    }
    CDataModule(const CDataModule&) = delete;
    CDataModule& operator=(const CDataModule&) = delete;
    HMODULE get() const { return m_module; }

private:
    HMODULE m_module;
};

std::wstring Wide(const std::string& ascii)
{
    return std::wstring(ascii.begin(), ascii.end());
}

bool ReadPublicKeyFile(const std::wstring& path, P256PublicKey* key, std::wstring* error)
{
    std::string text;
    if (!ReadKeyFile(path, &text, error))
        return false;
    std::wstring why = ParsePublicKeyText(text, key);
    if (!why.empty())
        *error = path + L": " + why;
    return why.empty();
}

// A signed release that ships an updater without the key would hand every
// installation that takes it an updater that installs whatever it is given;
// one with another key would take no release of this publisher again.
bool CheckShippedUpdaters(const std::wstring& folder, const std::vector<ManifestEntry>& entries,
                          const P256PublicKey& expected, bool rotating, std::wstring* error)
{
    std::wstring want = rotating ? L"the new key " + Wide(KeyId(expected)) + L" that --rotate-to names"
                                 : L"the signing key " + Wide(KeyId(expected));
    bool found = false;
    for (const ManifestEntry& e : entries) {
        std::wstring leaf = e.name.substr(e.name.rfind(L'/') + 1);
        if (::CompareStringOrdinal(leaf.c_str(), -1, L"update.exe", -1, TRUE) != CSTR_EQUAL)
            continue;
        found = true;
        CDataModule module(LocalPathOf(folder, e.name));
        PublisherKey carried = module.get() ? LoadPublisherKey(module.get()) : PublisherKey();
        std::wstring why;
        if (!module.get())
            why = L"cannot be read as a program (error " + std::to_wstring(::GetLastError()) + L")";
        else if (carried.state == KeyState::None)
            why = L"carries no publisher key";
        else if (carried.state == KeyState::Unusable)
            why = L"carries a publisher key resource that is no usable key (damaged, or stamped in two languages)";
        else if (carried.key != expected)
            why = L"carries key " + Wide(carried.id);
        if (!why.empty()) {
            *error = e.name + L" " + why + L", not " + want + L": stamp it with makemanifest --stamp before signing";
            return false;
        }
    }
    if (rotating && !found) {
        *error = L"--rotate-to names a new key, but the release holds no update.exe to carry it";
        return false;
    }
    return true;
}

// A private key file, ready to sign with.
bool ReadPrivateKeyFile(const std::wstring& path, P256PublicKey* pub, CP256Key* key, std::wstring* error)
{
    std::string keyText;
    if (!ReadKeyFile(path, &keyText, error))
        return false;
    P256PrivateKey secret{};
    std::wstring why = ParsePrivateKeyText(keyText, pub, &secret);
    ::SecureZeroMemory(&keyText[0], keyText.size());
    bool imported = why.empty() && key->ImportPrivate(*pub, secret);
    ::SecureZeroMemory(secret.data(), secret.size());
    if (!why.empty() || !imported) {
        *error = path + L": " + (why.empty() ? L"the system does not take it as an ECDSA P-256 key" : why);
        return false;
    }
    return true;
}

std::wstring ChainBeside(const std::wstring& keyFile)
{
    size_t slash = keyFile.find_last_of(L"\\/");
    return (slash == std::wstring::npos ? std::wstring(L".") : keyFile.substr(0, slash)) + L"\\update.keys";
}

// The key chain kept beside a key file, verified; none is an empty one.
bool ReadChainBeside(const std::wstring& keyFile, std::string* bytes, std::vector<Handover>* links,
                     std::wstring* error)
{
    const std::wstring path = ChainBeside(keyFile);
    bytes->clear();
    links->clear();
    if (::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES)
        return true;
    std::wstring why = ReadSmallFile(path, kMaxKeyChainFile, bytes) ? ParseKeyChain(*bytes, links)
                                                                    : L"cannot be read, or is larger than " +
                                                                          std::to_wstring(kMaxKeyChainFile) + L" bytes";
    if (!why.empty())
        *error = path + L": " + why;
    return why.empty();
}

// *chain (the signing key's, of chainLinks links) with the handover to the
// new key appended; or, when the new key's folder holds exactly that chain
// already (the release signed again), that one unchanged, so that
// installations which keep it see the same bytes. *writeBeside: the new
// key's folder has none yet.
bool HandOver(const SigningOptions& signing, uint32_t until, const P256PublicKey& oldPub, const CP256Key& oldKey,
              const P256PublicKey& newPub, const CP256Key& newKey, std::string* chain, size_t chainLinks,
              bool* writeBeside, std::wstring* error)
{
    std::vector<Handover> links, kept;
    Handover link;
    link.index = static_cast<uint32_t>(chainLinks + 1);
    link.from = oldPub;
    link.to = newPub;
    link.until = until;
    link.revoked = signing.revoke;
    const std::string text = HandoverSignedText(link);
    Sha256Digest digest{};
    P256Signature oldSignature{}, newSignature{};
    if (!Sha256(text.data(), text.size(), &digest) || !oldKey.Sign(digest, &oldSignature) ||
        !newKey.Sign(digest, &newSignature)) {
        *error = L"the system could not sign the handover (bcrypt.dll)";
        return false;
    }
    // Read back as an updater reads it: this also refuses halves that do not belong together.
    const std::string extended = *chain + HandoverText(text, oldSignature, newSignature);
    std::wstring why = ParseKeyChain(extended, &links);
    if (!why.empty()) {
        *error = L"the handover to key " + Wide(KeyId(newPub)) + L" cannot be made: " + why;
        return false;
    }
    std::string existing;
    if (!ReadChainBeside(signing.rotateTo, &existing, &kept, error))
        return false;
    *writeBeside = existing.empty();
    if (existing.empty()) {
        *chain = extended;
        return true;
    }
    bool same = kept.size() == links.size();
    for (size_t i = 0; same && i < kept.size(); ++i)
        same = kept[i].signedText == links[i].signedText;
    if (!same) {
        *error = ChainBeside(signing.rotateTo) + L" holds another key chain: it is never replaced";
        return false;
    }
    *chain = existing;
    return true;
}

} // namespace

bool ParseValidityDays(const std::wstring& text, uint32_t* days)
{
    if (text.empty() || text.size() > 4 || text[0] == L'0' ||
        text.find_first_not_of(L"0123456789") != std::wstring::npos)
        return false;
    uint32_t value = static_cast<uint32_t>(std::stoul(text));
    if (value > kMaxValidityDays)
        return false;
    *days = value;
    return true;
}

bool NewKeyPair(const std::wstring& folder, std::string* keyId, std::wstring* error)
{
    ::CreateDirectoryW(folder.c_str(), nullptr);
    std::wstring keyPath = folder + L"\\publisher.key", pubPath = folder + L"\\publisher.pub";
    if (::GetFileAttributesW(keyPath.c_str()) != INVALID_FILE_ATTRIBUTES ||
        ::GetFileAttributesW(pubPath.c_str()) != INVALID_FILE_ATTRIBUTES) {
        *error = folder + L" holds a key already: it is never replaced (a new key needs a new updater)";
        return false;
    }
    CP256Key key;
    P256PublicKey pub{};
    P256PrivateKey secret{};
    if (!key.Generate() || !key.Export(&pub, &secret)) {
        *error = L"the system cannot make an ECDSA P-256 key pair (bcrypt.dll)";
        return false;
    }
    std::string keyText = PrivateKeyText(pub, secret);
    ::SecureZeroMemory(secret.data(), secret.size());
    bool ok = WriteNewFile(keyPath, keyText, error);
    ::SecureZeroMemory(&keyText[0], keyText.size());
    if (!ok)
        return false;
    if (!WriteNewFile(pubPath, PublicKeyText(pub), error)) {
        ::DeleteFileW(keyPath.c_str());
        return false;
    }
    *keyId = KeyId(pub);
    return true;
}

bool WriteSignedRelease(const std::wstring& folder, const ManifestRelease& release, const SigningOptions& signing,
                        std::vector<ManifestEntry>* entries, std::string* keyId, std::wstring* error,
                        size_t* handovers, size_t* patches)
{
    if (signing.days < 1 || signing.days > kMaxValidityDays) {
        *error = L"a signature holds from 1 to " + std::to_wstring(kMaxValidityDays) + L" days";
        return false;
    }
    std::vector<PreviousRelease> previous(signing.previous.size());
    std::string patchFolder;
    for (size_t i = 0; i < previous.size(); ++i)
        if (!ReadPreviousRelease(signing.previous[i], &previous[i], error))
            return false;
    if (!previous.empty() && !PatchServerFolder(release.verRoot, &patchFolder, error))
        return false;
    // The keys first: a key that cannot sign must not leave a new manifest behind.
    const std::wstring& keyFile = signing.keyFile;
    P256PublicKey pub{};
    CP256Key key;
    std::string chain;
    std::vector<Handover> links;
    if (!ReadPrivateKeyFile(keyFile, &pub, &key, error) || !ReadChainBeside(keyFile, &chain, &links, error))
        return false;
    if (!links.empty() && links.back().to != pub) {
        *error = ChainBeside(keyFile) + L" hands key " + Wide(KeyId(pub)) +
                 L" over to a newer one, which signs every later release";
        return false;
    }

    P256PublicKey shipped = pub;
    CP256Key newKey;
    bool writeBeside = false, revokesOld = false;
    if (!signing.rotateTo.empty()) {
        if (!ReadPrivateKeyFile(signing.rotateTo, &shipped, &newKey, error)) {
            *error += L" (--rotate-to takes the new key's private key file: both keys sign the handover)";
            return false;
        }
        if (!HandOver(signing, release.versionId, pub, key, shipped, newKey, &chain, links.size(), &writeBeside, error))
            return false;
        for (const std::string& id : signing.revoke)
            revokesOld = revokesOld || id == KeyId(pub);
    }
    // A revoked key verifies nothing where the chain is known: the new key signs instead.
    const CP256Key& signer = revokesOld ? newKey : key;
    const P256PublicKey signerPub = revokesOld ? shipped : pub;

    std::string xml;
    if (!CollectRelease(folder, entries, error) || !BuildManifest(release, *entries, &xml, error) ||
        !CheckShippedUpdaters(folder, *entries, shipped, !signing.rotateTo.empty(), error))
        return false;
    SignedRelease signedRelease;
    signedRelease.versionId = release.versionId;
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    const uint64_t second = 10000000; // FILETIME units
    signedRelease.expires = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    signedRelease.expires += static_cast<uint64_t>(signing.days) * 86400 * second - signedRelease.expires % second;
    if (!Sha256(xml.data(), xml.size(), &signedRelease.manifestSha256)) {
        *error = L"SHA-256 is not available (bcrypt.dll)";
        return false;
    }
    for (const ManifestEntry& e : *entries) {
        SignedFile f;
        f.name = e.name;
        f.size = static_cast<uint32_t>(e.size);
        uint64_t size = 0;
        if (!Sha256File(LocalPathOf(folder, e.name), &f.sha256, &size) || size != e.size) {
            *error = e.name + L" could not be read again, or changed while the release was being signed";
            return false;
        }
        signedRelease.files.push_back(f);
    }
    std::string text = SignedText(signedRelease, KeyId(signerPub));
    Sha256Digest digest{};
    P256Signature signature{};
    CP256Key check;
    if (text.empty() || !Sha256(text.data(), text.size(), &digest) || !signer.Sign(digest, &signature)) {
        *error = L"the system could not sign the release (bcrypt.dll)";
        return false;
    }
    // What the updater will do: a key file whose halves do not belong together signs in vain.
    if (!check.ImportPublic(signerPub) || check.Verify(digest, signature) != 0) {
        *error = keyFile + L": its private and public halves do not belong together";
        return false;
    }
    // The index names the manifest and is signed by the release's key: it
    // offers nothing but the signed files' bytes.
    std::string dlt;
    DeltaIndex index;
    index.keyId = KeyId(signerPub);
    index.manifestSha256 = signedRelease.manifestSha256;
    if (!previous.empty()) {
        if (!WritePatches(folder, patchFolder, signedRelease, previous, &index, error))
            return false;
        const std::string indexText = DeltaIndexSignedText(index);
        P256Signature indexSignature{};
        if (indexText.empty() || !Sha256(indexText.data(), indexText.size(), &digest) ||
            !signer.Sign(digest, &indexSignature)) {
            *error = L"the system could not sign the delta index (bcrypt.dll)";
            return false;
        }
        dlt = SignatureFileText(indexText, indexSignature); // the same last line as update.sig's
    }
    std::wstring sigPath = folder + L"\\update.sig", xmlPath = folder + L"\\update.xml";
    std::wstring dltPath = folder + L"\\update.dlt";
    std::wstring keysPath = folder + L"\\update.keys", beside = ChainBeside(signing.rotateTo);
    const std::string sig = SignatureFileText(text, signature);
    std::wstring failed;
    if (!WriteWholeFile(sigPath, sig.data(), sig.size(), false) ||
        !WriteWholeFile(xmlPath, xml.data(), xml.size(), false) ||
        (!chain.empty() && !WriteWholeFile(keysPath, chain.data(), chain.size(), false)) ||
        (!dlt.empty() && !WriteWholeFile(dltPath, dlt.data(), dlt.size(), false)))
        failed = L"cannot write " + xmlPath + L" and " + sigPath + (chain.empty() ? L"" : L" and " + keysPath) +
                 (dlt.empty() ? L"" : L" and " + dltPath);
    else if (writeBeside && !WriteNewFile(beside, chain, &failed))
        failed = L"the release is not written: " + failed;
    if (!failed.empty()) {
        for (const std::wstring& path : {sigPath, xmlPath, keysPath, dltPath})
            ::DeleteFileW(path.c_str());
        *error = failed;
        return false;
    }
    *keyId = KeyId(signerPub);
    if (handovers)
        *handovers = links.size() + (signing.rotateTo.empty() ? 0 : 1);
    if (patches)
        *patches = index.entries.size();
    return true;
}

bool StampUpdater(const std::wstring& publicKeyFile, const std::wstring& updater, std::string* keyId,
                  std::wstring* error)
{
    P256PublicKey pub{};
    if (!ReadPublicKeyFile(publicKeyFile, &pub, error))
        return false;
    std::string text = PublicKeyText(pub);
    {
        CResourceUpdate update(updater);
        if (!update.get()) {
            *error = L"cannot open " + updater + L" to write its resources (error " +
                     std::to_wstring(::GetLastError()) + L")";
            return false;
        }
        if (!::UpdateResourceW(update.get(), RT_RCDATA, kPublisherKeyResource,
                               MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL), &text[0], static_cast<DWORD>(text.size())) ||
            !update.Commit()) {
            *error = L"cannot write the key into " + updater + L" (error " + std::to_wstring(::GetLastError()) + L")";
            return false;
        }
    }
    CDataModule stamped(updater);
    PublisherKey found = stamped.get() ? LoadPublisherKey(stamped.get()) : PublisherKey();
    if (found.state != KeyState::Usable || found.key != pub) {
        *error = updater + L" does not carry the key after writing it";
        return false;
    }
    *keyId = found.id;
    return true;
}
