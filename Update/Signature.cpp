#include "Signature.h"

#include "XmlInfo.h"

#include <cstdio>
#include <cstring>

const wchar_t kPublisherKeyResource[] = L"PUBLISHERKEY";

namespace {

const char kSignatureHeader[] = "qz-update-signature 2";
const char kSignatureMagic[] = "qz-update-signature ";
const char kPublicHeader[] = "qz-update-public-key 1";
const char kPrivateHeader[] = "qz-update-private-key 1";

std::string Utf8(const std::wstring& s)
{
    if (s.empty())
        return std::string();
    int n = ::WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        ::WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), &out[0], n, nullptr, nullptr);
    return out;
}

// Strict UTF-8 (no invalid or overlong sequences) to UTF-16.
bool Wide(const std::string& s, std::wstring* out)
{
    out->clear();
    if (s.empty())
        return true;
    int n = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, s.data(), static_cast<int>(s.size()), nullptr, 0);
    if (n <= 0)
        return false;
    out->resize(static_cast<size_t>(n));
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, s.data(), static_cast<int>(s.size()), &(*out)[0], n);
    return true;
}

} // namespace

namespace signedtext {

bool ParseDecimal(const std::string& text, uint32_t* value)
{
    if (text.empty() || text.size() > 10 || (text.size() > 1 && text[0] == '0'))
        return false;
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    if (v > 0xFFFFFFFFull)
        return false;
    *value = static_cast<uint32_t>(v);
    return true;
}

bool Field(const std::string& line, const char* word, std::string* rest)
{
    size_t n = std::strlen(word);
    if (line.size() <= n || line.compare(0, n, word) != 0 || line[n] != ' ')
        return false;
    *rest = line.substr(n + 1);
    return true;
}

bool SplitLines(const std::string& text, std::vector<std::string>* lines, std::vector<size_t>* starts)
{
    lines->clear();
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            return false;
        std::string line = text.substr(start, end - start);
        if (line.find('\r') != std::string::npos || line.find('\0') != std::string::npos)
            return false;
        if (starts)
            starts->push_back(start);
        lines->push_back(line);
        start = end + 1;
    }
    return true;
}

std::wstring VerifySigned(const std::string& bytes, size_t signedLength, const P256Signature& signature,
                          const P256PublicKey& key)
{
    Sha256Digest digest{};
    CP256Key verifier;
    if (!Sha256(bytes.data(), signedLength, &digest))
        return L"SHA-256 is not available (bcrypt.dll)";
    if (!verifier.ImportPublic(key))
        return L"the publisher key cannot be used for ECDSA P-256 (bcrypt.dll)";
    NTSTATUS status = verifier.Verify(digest, signature);
    if (status != 0) {
        wchar_t code[16];
        swprintf(code, 16, L"%08lX", static_cast<unsigned long>(status));
        return std::wstring(L"the signature does not verify with the publisher key (status 0x") + code + L")";
    }
    return std::wstring();
}

} // namespace signedtext

using signedtext::Field;
using signedtext::ParseDecimal;
using signedtext::SplitLines;

namespace {

std::wstring LineProblem(size_t line, const wchar_t* what)
{
    return L"the signature file is malformed at line " + std::to_wstring(line + 1) + L" (" + what + L")";
}

std::wstring Hex(const Sha256Digest& d)
{
    std::string h = ToHex(d.data(), d.size());
    return std::wstring(h.begin(), h.end());
}

std::wstring Ascii(const std::string& s)
{
    return std::wstring(s.begin(), s.end());
}

unsigned Digits(const std::string& text, size_t at, size_t count)
{
    unsigned v = 0;
    for (size_t i = at; i < at + count; ++i)
        v = v * 10 + static_cast<unsigned>(text[i] - '0');
    return v;
}

} // namespace

std::string KeyId(const P256PublicKey& key)
{
    Sha256Digest digest{};
    if (!Sha256(key.data(), key.size(), &digest))
        return std::string();
    return ToHex(digest.data(), 8);
}

std::string UtcTimeText(uint64_t fileTime)
{
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(fileTime);
    ft.dwHighDateTime = static_cast<DWORD>(fileTime >> 32);
    SYSTEMTIME st;
    if (!::FileTimeToSystemTime(&ft, &st) || st.wYear > 9999)
        return std::string();
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02uZ", st.wYear, st.wMonth, st.wDay, st.wHour,
                  st.wMinute, st.wSecond);
    return text;
}

bool ParseUtcTimeText(const std::string& text, uint64_t* fileTime)
{
    static const char kForm[] = "0000-00-00T00:00:00Z";
    if (text.size() != sizeof kForm - 1)
        return false;
    for (size_t i = 0; i < text.size(); ++i)
        if (kForm[i] == '0' ? text[i] < '0' || text[i] > '9' : text[i] != kForm[i])
            return false;
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(Digits(text, 0, 4));
    st.wMonth = static_cast<WORD>(Digits(text, 5, 2));
    st.wDay = static_cast<WORD>(Digits(text, 8, 2));
    st.wHour = static_cast<WORD>(Digits(text, 11, 2));
    st.wMinute = static_cast<WORD>(Digits(text, 14, 2));
    st.wSecond = static_cast<WORD>(Digits(text, 17, 2));
    // Checked here, not left to the system's conversion: what is refused
    // (a 30 February, a leap second) must not depend on the system.
    static const unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    unsigned y = st.wYear;
    bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    if (y < 1601 || st.wMonth < 1 || st.wMonth > 12 || st.wDay < 1 ||
        st.wDay > kDays[st.wMonth - 1] + (st.wMonth == 2 && leap ? 1u : 0u) || st.wHour > 23 || st.wMinute > 59 ||
        st.wSecond > 59)
        return false;
    FILETIME ft;
    if (!::SystemTimeToFileTime(&st, &ft))
        return false;
    *fileTime = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    return true;
}

std::string SignedText(const SignedRelease& release, const std::string& keyId)
{
    std::string expires = UtcTimeText(release.expires);
    if (expires.empty())
        return std::string();
    std::string out = std::string(kSignatureHeader) + "\n";
    out += "key " + keyId + "\n";
    out += "version " + std::to_string(release.versionId) + "\n";
    out += "expires " + expires + "\n";
    out += "manifest " + ToHex(release.manifestSha256.data(), release.manifestSha256.size()) + "\n";
    for (const SignedFile& f : release.files) {
        std::string name = Utf8(f.name);
        if (name.empty() || name.find('\n') != std::string::npos || name.find('\r') != std::string::npos)
            return std::string();
        out += "file " + std::to_string(f.size) + " " + ToHex(f.sha256.data(), f.sha256.size()) + " " + name + "\n";
    }
    return out;
}

std::string SignatureFileText(const std::string& signedText, const P256Signature& signature)
{
    return signedText + "signature " + ToHex(signature.data(), signature.size()) + "\n";
}

std::wstring VerifySignatureFile(const std::string& bytes, const P256PublicKey& trusted, SignedRelease* release)
{
    if (bytes.empty())
        return L"the signature file is empty";
    if (bytes.size() > kMaxSignatureFile)
        return L"the signature file is larger than " + std::to_wstring(kMaxSignatureFile) + L" bytes";
    if (bytes.compare(0, sizeof kSignatureMagic - 1, kSignatureMagic) != 0)
        return L"not a signature file (it does not begin with \"qz-update-signature\")";
    std::vector<std::string> lines;
    std::vector<size_t> starts;
    if (!SplitLines(bytes, &lines, &starts))
        return L"the signature file is malformed (a line without its LF, a CR or a NUL byte)";
    if (lines[0] != kSignatureHeader)
        return L"the signature file has a layout this updater does not read: " + Ascii(lines[0]);
    if (lines.size() < 6)
        return L"the signature file is truncated (" + std::to_wstring(lines.size()) + L" lines)";

    std::string rest, trustedId = KeyId(trusted);
    uint8_t id[8];
    if (!Field(lines[1], "key", &rest) || !FromHex(rest, id, sizeof id))
        return LineProblem(1, L"key id");
    if (rest != trustedId)
        return L"the release is signed with key " + std::wstring(rest.begin(), rest.end()) +
               L", this updater trusts key " + std::wstring(trustedId.begin(), trustedId.end());
    SignedRelease parsed;
    if (!Field(lines[2], "version", &rest) || !ParseDecimal(rest, &parsed.versionId))
        return LineProblem(2, L"version");
    if (!Field(lines[3], "expires", &rest) || !ParseUtcTimeText(rest, &parsed.expires))
        return LineProblem(3, L"expiry time");
    if (!Field(lines[4], "manifest", &rest) || !FromHex(rest, parsed.manifestSha256.data(), 32))
        return LineProblem(4, L"manifest hash");
    size_t last = lines.size() - 1;
    for (size_t i = 5; i < last; ++i) {
        SignedFile f;
        if (!Field(lines[i], "file", &rest))
            return lines[i].compare(0, 10, "signature ") == 0 ? LineProblem(i, L"a signature line before the last")
                                                              : LineProblem(i, L"file line");
        size_t a = rest.find(' ');
        size_t b = a == std::string::npos ? a : rest.find(' ', a + 1);
        if (b == std::string::npos || !ParseDecimal(rest.substr(0, a), &f.size) ||
            !FromHex(rest.substr(a + 1, b - a - 1), f.sha256.data(), 32))
            return LineProblem(i, L"file size or hash");
        std::string name = rest.substr(b + 1);
        if (name.empty() || name[0] != '/' || !Wide(name, &f.name))
            return LineProblem(i, L"file name");
        parsed.files.push_back(std::move(f));
    }
    P256Signature signature{};
    if (!Field(lines[last], "signature", &rest) || !FromHex(rest, signature.data(), signature.size()))
        return LineProblem(last, L"signature");

    std::wstring problem = signedtext::VerifySigned(bytes, starts[last], signature, trusted);
    if (!problem.empty())
        return problem;
    *release = std::move(parsed);
    return std::wstring();
}

std::string SignatureKeyId(const std::string& bytes)
{
    size_t first = bytes.find('\n');
    size_t second = first == std::string::npos ? first : bytes.find('\n', first + 1);
    std::string id;
    uint8_t raw[8];
    if (second == std::string::npos || !Field(bytes.substr(first + 1, second - first - 1), "key", &id) ||
        !FromHex(id, raw, sizeof raw))
        return std::string();
    return id;
}

std::wstring ExpiryProblem(const SignedRelease& release, uint64_t nowFileTime)
{
    if (nowFileTime < release.expires)
        return std::wstring();
    return L"the signature expired at " + Ascii(UtcTimeText(release.expires)) + L" (current time " +
           Ascii(UtcTimeText(nowFileTime)) + L")";
}

std::wstring CompareWithSigned(const SignedRelease& release, const Sha256Digest& manifestSha256,
                               const VersionInfo& chosen, uint32_t installedVersion)
{
    if (manifestSha256 != release.manifestSha256)
        return L"the manifest is not the signed one: its SHA-256 is " + Hex(manifestSha256) + L", the signed " +
               Hex(release.manifestSha256);
    uint32_t id = static_cast<uint32_t>(chosen.ver_id);
    if (id != release.versionId)
        return L"the manifest's chosen version " + std::to_wstring(id) + L" is not the signed version " +
               std::to_wstring(release.versionId);
    if (static_cast<size_t>(chosen.file_count) != release.files.size())
        return L"the manifest lists " + std::to_wstring(chosen.file_count) + L" files, the signed list " +
               std::to_wstring(release.files.size());
    for (size_t i = 0; i < release.files.size(); ++i) {
        const FileInfo* f = chosen.GetFile(static_cast<int>(i));
        const SignedFile& s = release.files[i];
        if (!f || s.name != f->f_name || s.size != static_cast<uint32_t>(f->f_size))
            return L"file " + std::to_wstring(i + 1) + L" of the manifest (" + (f ? f->f_name : L"") + L", " +
                   std::to_wstring(f ? static_cast<uint32_t>(f->f_size) : 0) + L" bytes) is not the signed " +
                   s.name + L" of " + std::to_wstring(s.size) + L" bytes";
    }
    if (release.versionId < installedVersion)
        return L"the signed version " + std::to_wstring(release.versionId) + L" is older than the installed " +
               std::to_wstring(installedVersion) + L": no downgrade";
    return std::wstring();
}

std::string PublicKeyText(const P256PublicKey& key)
{
    return std::string(kPublicHeader) + "\necdsa-p256 " + ToHex(key.data(), key.size()) + "\n";
}

std::string PrivateKeyText(const P256PublicKey& key, const P256PrivateKey& secret)
{
    return std::string(kPrivateHeader) + "\necdsa-p256 " + ToHex(key.data(), key.size()) + " " +
           ToHex(secret.data(), secret.size()) + "\n";
}

std::wstring ParsePublicKeyText(const std::string& text, P256PublicKey* key)
{
    if (text.empty())
        return L"the public key file is empty";
    if (text.size() > kMaxKeyFile)
        return L"the public key file is larger than " + std::to_wstring(kMaxKeyFile) + L" bytes";
    std::vector<std::string> lines;
    std::string rest;
    if (!SplitLines(text, &lines, nullptr) || lines.size() != 2 || lines[0] != kPublicHeader)
        return L"not a public key file of this format (\"" + std::wstring(kPublicHeader, kPublicHeader + sizeof kPublicHeader - 1) +
               L"\", then one key line)";
    if (!Field(lines[1], "ecdsa-p256", &rest) || !FromHex(rest, key->data(), key->size()))
        return L"the public key file's key line is not \"ecdsa-p256\" and 128 hex digits";
    return std::wstring();
}

std::wstring ParsePrivateKeyText(const std::string& text, P256PublicKey* key, P256PrivateKey* secret)
{
    if (text.empty())
        return L"the private key file is empty";
    if (text.size() > kMaxKeyFile)
        return L"the private key file is larger than " + std::to_wstring(kMaxKeyFile) + L" bytes";
    std::vector<std::string> lines;
    std::string rest;
    if (!SplitLines(text, &lines, nullptr) || lines.size() != 2 || lines[0] != kPrivateHeader)
        return L"not a private key file of this format (\"" +
               std::wstring(kPrivateHeader, kPrivateHeader + sizeof kPrivateHeader - 1) + L"\", then one key line)";
    size_t space = std::string::npos;
    bool ok = Field(lines[1], "ecdsa-p256", &rest) && (space = rest.find(' ')) != std::string::npos &&
              FromHex(rest.substr(0, space), key->data(), key->size()) &&
              FromHex(rest.substr(space + 1), secret->data(), secret->size());
    ::SecureZeroMemory(&rest[0], rest.size());
    if (!ok)
        return L"the private key file's key line is not \"ecdsa-p256\", 128 and 64 hex digits";
    return std::wstring();
}

PublisherKey PublisherKeyFromText(const std::string& text)
{
    PublisherKey result;
    result.state = KeyState::Unusable;
    if (ParsePublicKeyText(text, &result.key).empty()) {
        result.state = KeyState::Usable;
        result.id = KeyId(result.key);
    }
    return result;
}

namespace {

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR param)
{
    reinterpret_cast<std::vector<WORD>*>(param)->push_back(language);
    return TRUE;
}

} // namespace

PublisherKey LoadPublisherKey(HMODULE module)
{
    // Whatever language it was stamped in: a key the lookup missed would make
    // the updater take any release. Two of them are one too many to choose from.
    std::vector<WORD> languages;
    ::EnumResourceLanguagesW(module, RT_RCDATA, kPublisherKeyResource, CollectLanguage,
                             reinterpret_cast<LONG_PTR>(&languages));
    if (languages.empty())
        return PublisherKey();
    HRSRC found = languages.size() == 1
                      ? ::FindResourceExW(module, RT_RCDATA, kPublisherKeyResource, languages[0])
                      : nullptr;
    if (!found)
        return PublisherKeyFromText(std::string());
    HGLOBAL loaded = ::LoadResource(module, found);
    const void* data = loaded ? ::LockResource(loaded) : nullptr;
    DWORD size = ::SizeofResource(module, found);
    if (!data)
        return PublisherKeyFromText(std::string());
    return PublisherKeyFromText(std::string(static_cast<const char*>(data), size));
}
