#include "ReleaseSupport.h"

#include "Checksum.h"
#include "KeyChain.h"
#include "ManifestWriter.h"
#include "TestSupport.h"

namespace testsupport {

uint32_t ChecksumOf(const std::string& bytes)
{
    CChecksum sum;
    sum.Update(bytes.data(), bytes.size());
    return sum.Final();
}

std::string ManifestFor(uint32_t versionId, const std::string& verRoot, const std::vector<ReleaseFile>& files)
{
    ManifestRelease release;
    release.versionId = versionId;
    release.verRoot = Utf8ToWide(verRoot);
    std::vector<ManifestEntry> entries;
    for (const ReleaseFile& f : files)
        entries.push_back({Utf8ToWide(f.name), f.bytes.size(), ChecksumOf(f.bytes)});
    std::string xml;
    std::wstring error;
    return BuildManifest(release, entries, &xml, &error) ? xml : std::string();
}

bool PublishRelease(const std::string& manifestPath, uint32_t versionId, const std::string& verRoot,
                    const std::vector<ReleaseFile>& files)
{
    for (const ReleaseFile& f : files)
        if (!Publish(verRoot + f.name, f.bytes))
            return false;
    std::string xml = ManifestFor(versionId, verRoot, files);
    return !xml.empty() && Publish(manifestPath, xml);
}

std::string SignaturePathBeside(const std::string& manifestPath)
{
    return manifestPath.substr(0, manifestPath.size() - 4) + ".sig";
}

SignedRelease SignedListFor(uint32_t versionId, const std::string& manifest, const std::vector<ReleaseFile>& files)
{
    SignedRelease release;
    release.versionId = versionId;
    Sha256(manifest.data(), manifest.size(), &release.manifestSha256);
    for (const ReleaseFile& f : files) {
        SignedFile listed;
        listed.name = Utf8ToWide(f.name);
        listed.size = static_cast<uint32_t>(f.bytes.size());
        Sha256(f.bytes.data(), f.bytes.size(), &listed.sha256);
        release.files.push_back(listed);
    }
    return release;
}

TestPublisher::TestPublisher()
{
    P256PrivateKey secret{};
    if (!m_key.Generate() || !m_key.Export(&publicKey, &secret))
        publicKey = P256PublicKey{};
}

std::string TestPublisher::Sign(const SignedRelease& release) const
{
    SignedRelease dated = release;
    if (dated.expires == 0)
        ParseUtcTimeText("2100-01-01T00:00:00Z", &dated.expires);
    std::string text = SignedText(dated, KeyId(publicKey));
    Sha256Digest digest{};
    P256Signature signature{};
    if (text.empty() || !Sha256(text.data(), text.size(), &digest) || !m_key.Sign(digest, &signature))
        return std::string();
    return SignatureFileText(text, signature);
}

std::string TestPublisher::SignIndex(const DeltaIndex& index) const
{
    DeltaIndex keyed = index;
    keyed.keyId = KeyId(publicKey);
    std::string text = DeltaIndexSignedText(keyed);
    Sha256Digest digest{};
    P256Signature signature{};
    if (text.empty() || !Sha256(text.data(), text.size(), &digest) || !m_key.Sign(digest, &signature))
        return std::string();
    return SignatureFileText(text, signature);
}

bool TestPublisher::PublishSigned(const std::string& manifestPath, uint32_t versionId, const std::string& verRoot,
                                  const std::vector<ReleaseFile>& files) const
{
    std::string xml = ManifestFor(versionId, verRoot, files);
    std::string signature = Sign(SignedListFor(versionId, xml, files));
    return !xml.empty() && !signature.empty() && PublishRelease(manifestPath, versionId, verRoot, files) &&
           Publish(SignaturePathBeside(manifestPath), signature);
}

std::string TestPublisher::HandOverTo(const TestPublisher& next, uint32_t index, uint32_t until,
                                      const std::vector<std::string>& revoke) const
{
    Handover link;
    link.index = index;
    link.from = publicKey;
    link.to = next.publicKey;
    link.until = until;
    link.revoked = revoke;
    const std::string text = HandoverSignedText(link);
    Sha256Digest digest{};
    P256Signature oldSignature{}, newSignature{};
    if (!Sha256(text.data(), text.size(), &digest) || !m_key.Sign(digest, &oldSignature) ||
        !next.m_key.Sign(digest, &newSignature))
        return std::string();
    return HandoverText(text, oldSignature, newSignature);
}

} // namespace testsupport
