// Publishing releases on the test server the way a publisher would: files
// under their version root, and the manifest the release tool writes.
#pragma once

#include "Crypto.h"
#include "DeltaIndex.h"
#include "Signature.h"
#include "framework.h"

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

// The message the tests ask the updater to reply with, and a caller window
// that keeps every reply it gets.
const UINT kReply = WM_APP + 50;

class ReplyWindow : public CWnd {
public:
    std::vector<LPARAM> replies;

protected:
    LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp) override
    {
        if (msg == kReply) {
            replies.push_back(lp);
            return 0;
        }
        return CWnd::WindowProc(msg, wp, lp);
    }
};

struct ReleaseFile {
    std::string name;   // "/sub/file.ext", UTF-8
    std::string bytes;
};

uint32_t ChecksumOf(const std::string& bytes);

// The manifest text for files (names, sizes and checksums of their bytes).
std::string ManifestFor(uint32_t versionId, const std::string& verRoot, const std::vector<ReleaseFile>& files);

// Writes the files below www + verRoot and the manifest at www + manifestPath.
bool PublishRelease(const std::string& manifestPath, uint32_t versionId, const std::string& verRoot,
                    const std::vector<ReleaseFile>& files);

// "/x/update.xml" -> "/x/update.sig".
std::string SignaturePathBeside(const std::string& manifestPath);

// What the signature lists for files: names, sizes and SHA-256 of their bytes.
SignedRelease SignedListFor(uint32_t versionId, const std::string& manifest, const std::vector<ReleaseFile>& files);

// A publisher whose key pair is made when the test runs.
class TestPublisher {
public:
    TestPublisher();
    PublisherKey Trusted() const { return PublisherKeyFromText(PublicKeyText(publicKey)); }
    // The whole signature file for that list; without an expiry of its own
    // the list expires in 2100, past every test.
    std::string Sign(const SignedRelease& release) const;
    // The whole delta index file, signed with this key (the key line too).
    std::string SignIndex(const DeltaIndex& index) const;
    // PublishRelease, and the signature file beside the manifest.
    bool PublishSigned(const std::string& manifestPath, uint32_t versionId, const std::string& verRoot,
                       const std::vector<ReleaseFile>& files) const;
    // The handover link from this publisher's key to next's, signed by both.
    std::string HandOverTo(const TestPublisher& next, uint32_t index, uint32_t until,
                           const std::vector<std::string>& revoke = {}) const;

    P256PublicKey publicKey{};

private:
    CP256Key m_key;
};

} // namespace testsupport
