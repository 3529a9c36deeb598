// Publishing releases on the test server the way a publisher would: files
// under their version root, and the manifest the release tool writes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

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
