// Publishing releases on the test server the way a publisher would: files
// under their version root, and the manifest the release tool writes.
#pragma once

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

} // namespace testsupport
