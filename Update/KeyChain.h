// The publisher's key handovers ("update.keys") and the keys an updater
// trusts, and for what, once it follows them: a key can change without
// stranding an installation that missed the release that changed it.
//
// update.keys is UTF-8 text, every line ended by a single LF, hex digits in
// lower case, numbers without sign or leading zeros: the links in index
// order, at most 64 KB. One link:
//
//   qz-update-handover 1
//   index <n>                        the new key's place: the first key is 0, the first handover 1
//   from ecdsa-p256 <old key's X || Y: 128 hex digits>
//   to ecdsa-p256 <new key's X || Y: 128 hex digits>
//   until <ver_id, decimal>          the last release the old key signs (the one that hands over)
//   revoke <key id: 16 hex digits>   zero or more: keys of the chain before "to" that verify nothing now
//   old-signature <r || s: 128 hex digits>   ECDSA P-256 over SHA-256 of the link's lines above, by "from"
//   new-signature <r || s: 128 hex digits>   the same bytes, by "to"
//
// A chain holds when both signatures of every link verify with its own keys,
// the indices run 1, 2, 3..., every "from" is the previous link's "to", no
// key comes twice, "until" grows from link to link and every revoked key is
// one the chain names before that link's "to". Both signatures: the old key
// vouches for its successor, the new one that it was there to sign, so
// nobody can hand a chain over to a key that is not theirs.
#pragma once

#include "Signature.h"

#include <cstdint>
#include <string>
#include <vector>

constexpr size_t kMaxKeyChainFile = 65536; // bytes; about a hundred handovers

struct Handover {
    uint32_t index = 0;
    P256PublicKey from{}, to{};
    uint32_t until = 0;
    std::vector<std::string> revoked; // key ids
    std::string signedText;           // the bytes both signatures are over (filled when read)
};

// The link's lines above its signatures.
std::string HandoverSignedText(const Handover& link);
// The whole link: the signed text, then both signature lines.
std::string HandoverText(const std::string& signedText, const P256Signature& oldSignature,
                         const P256Signature& newSignature);

// Reads and verifies a whole chain file: empty when the chain holds (*links
// filled), else the reason.
std::wstring ParseKeyChain(const std::string& bytes, std::vector<Handover>* links);

// Whether key is one of the chain's ("from" or "to" of a link).
bool ChainNames(const std::vector<Handover>& chain, const P256PublicKey& key);

// The chain an updater stamped with key follows, from the one kept in its
// program folder and the server's (either may be empty): the local one when
// it holds and names the key, replaced by the server's only when that holds,
// names the key and extends the local one link by link, so that the newest
// key an installation accepts never goes back.
struct KeyChainChoice {
    std::vector<Handover> links;
    size_t localLinks = 0;             // how many of them the local chain held
    std::vector<std::wstring> ignored; // why a chain that was there is not followed
};
KeyChainChoice ChooseKeyChain(const P256PublicKey& stamped, const std::string& local, const std::string& server);

// The keys an updater trusts: the newest key (the chain's last "to", or the
// stamped key without a chain) signs any release; an older key signs none
// after its "until", so a leaked old key cannot sign anything newer than the
// release that replaced it; a revoked key verifies nothing.
class CKeyRing {
public:
    CKeyRing() = default;
    // The stamped key, with a verified chain that names it (any other chain
    // counts as none).
    CKeyRing(const P256PublicKey& stamped, const std::vector<Handover>& chain);

    // VerifySignatureFile with the trusted key the file names, and the bound
    // of that key: empty when the release may be taken (*release filled),
    // else the reason.
    std::wstring VerifySignature(const std::string& bytes, SignedRelease* release) const;
    // The trusted key with that id, unless a handover revoked it; false otherwise.
    bool UsableKey(const std::string& id, P256PublicKey* key) const;
    // Whether an updater carrying that key may replace this one: the newest
    // key, or one a handover introduced and none revoked.
    bool MayCarry(const PublisherKey& carried) const;
    const std::string& NewestId() const;

private:
    struct Trusted {
        P256PublicKey key{};
        std::string id;
        uint32_t until = 0xFFFFFFFFu; // the last version it signs
        bool introduced = false;      // the "to" of a handover
        bool revoked = false;
    };
    const Trusted* Find(const std::string& id) const;

    std::vector<Trusted> m_keys; // oldest first
};
