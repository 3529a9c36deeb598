#include "KeyChain.h"

#include <algorithm>

using signedtext::Field;
using signedtext::ParseDecimal;
using signedtext::SplitLines;

namespace {

const char kHandoverHeader[] = "qz-update-handover 1";

std::wstring Ascii(const std::string& s)
{
    return std::wstring(s.begin(), s.end());
}

std::wstring LineProblem(size_t line, const wchar_t* what)
{
    return L"the key chain is malformed at line " + std::to_wstring(line + 1) + L" (" + what + L")";
}

std::wstring LinkProblem(size_t index, const std::wstring& what)
{
    return L"handover " + std::to_wstring(index) + L" of the key chain " + what;
}

bool ParseKeyField(const std::string& line, const char* word, P256PublicKey* key)
{
    std::string rest, hex;
    return Field(line, word, &rest) && Field(rest, "ecdsa-p256", &hex) && FromHex(hex, key->data(), key->size());
}

bool ParseSignatureField(const std::string& line, const char* word, P256Signature* signature)
{
    std::string rest;
    return Field(line, word, &rest) && FromHex(rest, signature->data(), signature->size());
}

bool Verifies(const P256PublicKey& key, const Sha256Digest& digest, const P256Signature& signature)
{
    CP256Key verifier;
    return verifier.ImportPublic(key) && verifier.Verify(digest, signature) == 0;
}

// One link from lines[*at] on; *at moves past it.
std::wstring ParseLink(const std::string& bytes, const std::vector<std::string>& lines,
                       const std::vector<size_t>& starts, size_t* at, Handover* link)
{
    size_t i = *at;
    const size_t begin = i;
    auto line = [&](size_t n) -> const std::string& {
        static const std::string none;
        return n < lines.size() ? lines[n] : none;
    };
    std::string rest;
    if (line(i) != kHandoverHeader)
        return LineProblem(i, L"not the start of a handover");
    if (!Field(line(++i), "index", &rest) || !ParseDecimal(rest, &link->index))
        return LineProblem(i, L"index");
    if (!ParseKeyField(line(++i), "from", &link->from))
        return LineProblem(i, L"old key");
    if (!ParseKeyField(line(++i), "to", &link->to))
        return LineProblem(i, L"new key");
    if (!Field(line(++i), "until", &rest) || !ParseDecimal(rest, &link->until))
        return LineProblem(i, L"until");
    uint8_t id[8];
    while (Field(line(++i), "revoke", &rest)) {
        if (!FromHex(rest, id, sizeof id))
            return LineProblem(i, L"revoked key id");
        link->revoked.push_back(rest);
    }
    P256Signature oldSignature{}, newSignature{};
    if (!ParseSignatureField(line(i), "old-signature", &oldSignature))
        return LineProblem(i, L"old key's signature");
    link->signedText = bytes.substr(starts[begin], starts[i] - starts[begin]);
    if (!ParseSignatureField(line(++i), "new-signature", &newSignature))
        return LineProblem(i, L"new key's signature");
    *at = i + 1;

    Sha256Digest digest{};
    if (!Sha256(link->signedText.data(), link->signedText.size(), &digest))
        return L"SHA-256 is not available (bcrypt.dll)";
    if (!Verifies(link->from, digest, oldSignature))
        return LinkProblem(link->index, L"is not signed by its old key");
    if (!Verifies(link->to, digest, newSignature))
        return LinkProblem(link->index, L"is not signed by its new key");
    return std::wstring();
}

} // namespace

std::string HandoverSignedText(const Handover& link)
{
    std::string out = std::string(kHandoverHeader) + "\n";
    out += "index " + std::to_string(link.index) + "\n";
    out += "from ecdsa-p256 " + ToHex(link.from.data(), link.from.size()) + "\n";
    out += "to ecdsa-p256 " + ToHex(link.to.data(), link.to.size()) + "\n";
    out += "until " + std::to_string(link.until) + "\n";
    for (const std::string& id : link.revoked)
        out += "revoke " + id + "\n";
    return out;
}

std::string HandoverText(const std::string& signedText, const P256Signature& oldSignature,
                         const P256Signature& newSignature)
{
    return signedText + "old-signature " + ToHex(oldSignature.data(), oldSignature.size()) + "\nnew-signature " +
           ToHex(newSignature.data(), newSignature.size()) + "\n";
}

std::wstring ParseKeyChain(const std::string& bytes, std::vector<Handover>* links)
{
    if (bytes.empty())
        return L"the key chain is empty";
    if (bytes.size() > kMaxKeyChainFile)
        return L"the key chain is larger than " + std::to_wstring(kMaxKeyChainFile) + L" bytes";
    std::vector<std::string> lines;
    std::vector<size_t> starts;
    if (!SplitLines(bytes, &lines, &starts))
        return L"the key chain is malformed (a line without its LF, a CR or a NUL byte)";
    std::vector<Handover> chain;
    std::vector<std::string> ids; // every key named so far, oldest first
    for (size_t at = 0; at < lines.size();) {
        Handover link;
        std::wstring problem = ParseLink(bytes, lines, starts, &at, &link);
        if (!problem.empty())
            return problem;
        const size_t n = chain.size() + 1;
        if (link.index != n)
            return LinkProblem(n, L"has index " + std::to_wstring(link.index));
        if (chain.empty())
            ids.push_back(KeyId(link.from));
        else if (link.from != chain.back().to)
            return LinkProblem(n, L"hands over from another key than the one handover " + std::to_wstring(n - 1) +
                                      L" handed over to");
        else if (link.until <= chain.back().until)
            return LinkProblem(n, L"ends the old key at release " + std::to_wstring(link.until) +
                                      L", not after handover " + std::to_wstring(n - 1) + L"'s " +
                                      std::to_wstring(chain.back().until));
        for (const std::string& id : link.revoked)
            if (std::find(ids.begin(), ids.end(), id) == ids.end())
                return LinkProblem(n, L"revokes key " + Ascii(id) + L", which the chain does not name before it");
        const std::string to = KeyId(link.to);
        if (std::find(ids.begin(), ids.end(), to) != ids.end())
            return LinkProblem(n, L"hands over to key " + Ascii(to) + L", which the chain names already");
        ids.push_back(to);
        chain.push_back(std::move(link));
    }
    *links = std::move(chain);
    return std::wstring();
}

bool ChainNames(const std::vector<Handover>& chain, const P256PublicKey& key)
{
    for (const Handover& link : chain)
        if (link.from == key || link.to == key)
            return true;
    return false;
}

KeyChainChoice ChooseKeyChain(const P256PublicKey& stamped, const std::string& local, const std::string& server)
{
    KeyChainChoice choice;
    auto read = [&](const std::string& bytes, const wchar_t* which, std::vector<Handover>* links) {
        std::wstring problem = ParseKeyChain(bytes, links);
        if (problem.empty() && !ChainNames(*links, stamped))
            problem = L"it does not name this updater's key " + Ascii(KeyId(stamped));
        if (!problem.empty()) {
            choice.ignored.push_back(std::wstring(which) + L": " + problem);
            links->clear();
        }
        return problem.empty();
    };
    if (!local.empty())
        read(local, L"the key chain kept in the program folder", &choice.links);
    choice.localLinks = choice.links.size();
    std::vector<Handover> offered;
    if (server.empty() || !read(server, L"the server's key chain", &offered))
        return choice;
    bool extends = offered.size() >= choice.links.size();
    for (size_t i = 0; extends && i < choice.links.size(); ++i)
        extends = offered[i].signedText == choice.links[i].signedText;
    if (!extends) {
        choice.ignored.push_back(L"the server's key chain: it does not extend the " +
                                 std::to_wstring(choice.links.size()) + L" handovers kept in the program folder");
        return choice;
    }
    choice.links = std::move(offered);
    return choice;
}

CKeyRing::CKeyRing(const P256PublicKey& stamped, const std::vector<Handover>& chain)
{
    if (chain.empty() || !ChainNames(chain, stamped)) {
        m_keys.push_back({stamped, KeyId(stamped)});
        return;
    }
    m_keys.push_back({chain.front().from, KeyId(chain.front().from), chain.front().until});
    for (size_t i = 0; i < chain.size(); ++i) {
        Trusted next{chain[i].to, KeyId(chain[i].to)};
        next.introduced = true;
        if (i + 1 < chain.size())
            next.until = chain[i + 1].until;
        m_keys.push_back(next);
    }
    for (const Handover& link : chain)
        for (const std::string& id : link.revoked)
            for (Trusted& key : m_keys)
                key.revoked = key.revoked || key.id == id;
}

const CKeyRing::Trusted* CKeyRing::Find(const std::string& id) const
{
    for (const Trusted& key : m_keys)
        if (!id.empty() && key.id == id)
            return &key;
    return nullptr;
}

const std::string& CKeyRing::NewestId() const
{
    static const std::string none;
    return m_keys.empty() ? none : m_keys.back().id;
}

std::wstring CKeyRing::VerifySignature(const std::string& bytes, SignedRelease* release) const
{
    if (m_keys.empty())
        return L"this updater trusts no key";
    const std::string id = SignatureKeyId(bytes);
    const Trusted* key = Find(id);
    if (!key) {
        if (id.empty()) // the file's own reason
            return VerifySignatureFile(bytes, m_keys.back().key, release);
        std::wstring trusted;
        for (const Trusted& k : m_keys)
            if (!k.revoked)
                trusted += (trusted.empty() ? L"" : L", ") + Ascii(k.id);
        return L"the release is signed with key " + Ascii(id) + L", this updater trusts key " + trusted;
    }
    if (key->revoked)
        return L"the release is signed with key " + Ascii(id) + L", which a handover revoked";
    SignedRelease verified;
    std::wstring problem = VerifySignatureFile(bytes, key->key, &verified);
    if (!problem.empty())
        return problem;
    if (verified.versionId > key->until)
        return L"release " + std::to_wstring(verified.versionId) + L" is signed with key " + Ascii(id) +
               L", which handed over to a newer key at release " + std::to_wstring(key->until) +
               L" and signs no later one";
    *release = std::move(verified);
    return std::wstring();
}

bool CKeyRing::UsableKey(const std::string& id, P256PublicKey* key) const
{
    const Trusted* found = Find(id);
    if (!found || found->revoked)
        return false;
    *key = found->key;
    return true;
}

bool CKeyRing::MayCarry(const PublisherKey& carried) const
{
    if (carried.state != KeyState::Usable)
        return false;
    const Trusted* key = Find(carried.id);
    return key && !key->revoked && (key == &m_keys.back() || key->introduced);
}
