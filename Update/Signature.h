// The publisher's signature beside a manifest ("update.sig"), the publisher's
// key files, and the key an updater carries.
//
// update.sig is UTF-8 text, every line ended by a single LF:
//
//   qz-update-signature 2
//   key <key id: 16 hex digits>
//   version <ver_id, decimal>
//   expires <UTC time: YYYY-MM-DDTHH:MM:SSZ>
//   manifest <SHA-256 of the manifest's exact bytes: 64 hex digits>
//   file <size, decimal> <SHA-256: 64 hex digits> <f_name>     (one per file, in manifest order)
//   signature <ECDSA P-256 r || s over SHA-256 of every byte above: 128 hex digits>
//
// Hex digits are lower case; numbers have no sign and no leading zeros. The
// name is the rest of its line (it may hold spaces). Anything else, a CR
// included, makes the file malformed. The key id is the first 8 bytes of the
// SHA-256 of the public key's X || Y. The expiry is signed so that an old
// release replayed by whoever answers in the server's place stops being
// taken once it is past; layout 1 had none and is not read.
//
// publisher.pub:  "qz-update-public-key 1\necdsa-p256 <X || Y: 128 hex digits>\n"
// publisher.key:  "qz-update-private-key 1\necdsa-p256 <X || Y: 128 hex digits> <d: 64 hex digits>\n"
// An updater carries publisher.pub's text as the resource RCDATA "PUBLISHERKEY".
#pragma once

#include "Crypto.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

struct VersionInfo;

constexpr size_t kMaxSignatureFile = 65536; // bytes; far above what a 10,240-byte manifest needs
constexpr size_t kMaxKeyFile = 1024;        // bytes of either key file
extern const wchar_t kPublisherKeyResource[];

struct SignedFile {
    std::wstring name; // f_name, "/"-separated
    uint32_t size = 0;
    Sha256Digest sha256{};
};

struct SignedRelease {
    uint32_t versionId = 0;
    uint64_t expires = 0; // FILETIME: 100-ns units since 1601-01-01 UTC, whole seconds
    Sha256Digest manifestSha256{};
    std::vector<SignedFile> files;
};

std::string KeyId(const P256PublicKey& key);

// A UTC time as the signature writes it, "YYYY-MM-DDTHH:MM:SSZ" (parts of a
// second dropped); empty beyond the year 9999.
std::string UtcTimeText(uint64_t fileTime);
// Exactly that form, a real calendar date and time of day; false otherwise.
bool ParseUtcTimeText(const std::string& text, uint64_t* fileTime);

// Everything of update.sig above its signature line; empty when a name cannot
// be written on one line or the expiry is beyond the year 9999.
std::string SignedText(const SignedRelease& release, const std::string& keyId);
// The whole file: the signed text, then the signature line.
std::string SignatureFileText(const std::string& signedText, const P256Signature& signature);

// Reads and checks update.sig against the trusted key: empty when the file is
// well formed and signed by that key (*release filled), else the reason. The
// expiry is not checked here: a kept signature of the installed release
// still tells what was installed after it expired.
std::wstring VerifySignatureFile(const std::string& bytes, const P256PublicKey& trusted, SignedRelease* release);

// The key id update.sig names on its key line; empty when it names none.
// Nothing is verified: it says which trusted key to verify with.
std::string SignatureKeyId(const std::string& bytes);

// Empty while nowFileTime (UTC, as GetSystemTimeAsFileTime) is before the
// signed expiry, else a diagnostic with both times.
std::wstring ExpiryProblem(const SignedRelease& release, uint64_t nowFileTime);

// Why the manifest (its hash, its chosen version) is not the signed release
// or would downgrade the installed version; empty when it is fine.
std::wstring CompareWithSigned(const SignedRelease& release, const Sha256Digest& manifestSha256,
                               const VersionInfo& chosen, uint32_t installedVersion);

std::string PublicKeyText(const P256PublicKey& key);
std::string PrivateKeyText(const P256PublicKey& key, const P256PrivateKey& secret);
// Empty when text is a key file of that kind, else the reason.
std::wstring ParsePublicKeyText(const std::string& text, P256PublicKey* key);
std::wstring ParsePrivateKeyText(const std::string& text, P256PublicKey* key, P256PrivateKey* secret);

enum class KeyState { None, Usable, Unusable };

struct PublisherKey {
    KeyState state = KeyState::None; // None: an updater without a key, as before keys existed
    P256PublicKey key{};
    std::string id;
};

// The key stamped into module (the updater's own executable); Unusable when
// the resource is there but is not a public key file, or is there in more
// than one language.
PublisherKey LoadPublisherKey(HMODULE module);

// The strict grammar the publisher's text files share (update.sig,
// update.keys, the key files).
namespace signedtext {
// The lines of a text whose every line ends with one LF (*starts: where
// each begins); false for a CR, a NUL, or a last line without its LF.
bool SplitLines(const std::string& text, std::vector<std::string>* lines, std::vector<size_t>* starts);
// "<word> <rest>": the rest when the line begins with word and a space.
bool Field(const std::string& line, const char* word, std::string* rest);
// Decimal without sign or leading zeros, within 32 bits.
bool ParseDecimal(const std::string& text, uint32_t* value);
// Empty when signature is key's over the SHA-256 of bytes' first signedLength
// bytes, else the reason.
std::wstring VerifySigned(const std::string& bytes, size_t signedLength, const P256Signature& signature,
                          const P256PublicKey& key);
} // namespace signedtext
PublisherKey PublisherKeyFromText(const std::string& text);
