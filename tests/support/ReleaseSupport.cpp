#include "ReleaseSupport.h"

#include "Checksum.h"
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

} // namespace testsupport
