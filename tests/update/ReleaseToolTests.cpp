// The release tool writes manifests that the updater reads back exactly.
#include "Checksum.h"
#include "ManifestWriter.h"
#include "App.h"
#include "TestSupport.h"
#include "XmlInfo.h"

#include <gtest/gtest.h>

using testsupport::PatternBytes;
using testsupport::TempFolder;
using testsupport::WriteBytes;

namespace {

DWORD RunTool(const std::wstring& args)
{
    testsupport::Process tool;
    if (!tool.Start(L"\"" + AfxGetModuleFolder() + L"\\makemanifest.exe\" " + args) || !tool.WaitEnd(30000))
        return 0xFFFFFFFF;
    return tool.ExitCode();
}

} // namespace

TEST(ReleaseTool, AManifestParsesBackToTheSameNamesSizesAndChecksums)
{
    TempFolder release(L"release");
    ASSERT_TRUE(WriteBytes(release / L"ZorvClient.exe", PatternBytes(70001, 1)));
    ASSERT_TRUE(WriteBytes(release / L"skin\\main.bmp", PatternBytes(4096, 2)));
    ASSERT_TRUE(WriteBytes(release / L"skin\\图像\\按钮.bmp", PatternBytes(3, 3)));
    ASSERT_TRUE(WriteBytes(release / L"empty.dat", ""));
    ASSERT_TRUE(WriteBytes(release / L"update.xml", "an old manifest, not part of the release"));

    ManifestRelease rel;
    ASSERT_TRUE(ParseVersionId(L"1.0.0.2", &rel.versionId));
    EXPECT_EQ(rel.versionId, 16777218u);
    rel.verRoot = L"/1.0.0.2";
    rel.description = L"第二版";
    std::vector<ManifestEntry> entries;
    std::wstring error;
    ASSERT_TRUE(WriteManifest(release.path(), rel, &entries, &error)) << testing::PrintToString(error);
    ASSERT_EQ(entries.size(), 4u);

    CXmlInfo info;
    ASSERT_EQ(info.ParseFile((release / L"update.xml").c_str()), 0);
    VersionInfo* v = info.GetLatestVersion();
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(static_cast<uint32_t>(v->ver_id), 16777218u);
    EXPECT_STREQ(v->ver_root, L"/1.0.0.2");
    EXPECT_STREQ(v->ver_desc, L"第二版");
    ASSERT_EQ(v->file_count, 4);
    for (int i = 0; i < 4; ++i) {
        FileInfo* f = v->GetFile(i);
        const ManifestEntry& e = entries[static_cast<size_t>(i)];
        EXPECT_EQ(std::wstring(f->f_name), e.name);
        EXPECT_EQ(static_cast<uint32_t>(f->f_size), e.size);
        EXPECT_EQ(static_cast<uint32_t>(f->f_crc), e.crc);
        std::wstring local = release.path() + e.name;
        for (wchar_t& c : local)
            if (c == L'/')
                c = L'\\';
        EXPECT_EQ(static_cast<uint32_t>(f->f_crc), FileChecksum(local));
    }
    EXPECT_STREQ(v->GetFile(2)->f_name, L"/skin/main.bmp");
    EXPECT_STREQ(v->GetFile(3)->f_name, L"/skin/图像/按钮.bmp");
}

TEST(ReleaseTool, RefusesWhatTheUpdaterWouldRefuseAndSaysWhy)
{
    for (const wchar_t* name : {L"/a&b.txt", L"/a<b", L"/con.txt", L"/dir./x", L"/trail ", L"/a/../b"})
        EXPECT_FALSE(CheckManifestName(name).empty()) << testing::PrintToString(std::wstring(name));
    EXPECT_NE(CheckManifestName(L"/" + std::wstring(63, L'n')).find(L"63 characters"), std::wstring::npos);
    EXPECT_NE(CheckManifestName(L"/" + std::wstring(40, L'测')).find(L"99 bytes"), std::wstring::npos);
    EXPECT_TRUE(CheckManifestName(L"/" + std::wstring(62, L'n')).empty());

    ManifestRelease rel;
    rel.versionId = 5;
    std::string xml;
    std::wstring error;
    std::vector<ManifestEntry> one{{L"/a.txt", 1, 2}};
    EXPECT_TRUE(BuildManifest(rel, one, &xml, &error));

    std::vector<ManifestEntry> bad{{L"/ok.txt", 1, 2}, {L"/x&y.txt", 1, 2}};
    EXPECT_FALSE(BuildManifest(rel, bad, &xml, &error));
    EXPECT_NE(error.find(L"/x&y.txt"), std::wstring::npos);

    ManifestRelease zero;
    EXPECT_FALSE(BuildManifest(zero, one, &xml, &error));
    ManifestRelease slash;
    slash.versionId = 1;
    slash.verRoot = L"/1.0.0.1/";
    EXPECT_FALSE(BuildManifest(slash, one, &xml, &error));
    ManifestRelease desc;
    desc.versionId = 1;
    desc.description = L"two\nlines";
    EXPECT_FALSE(BuildManifest(desc, one, &xml, &error));

    // More files than 10,240 bytes of manifest can hold.
    std::vector<ManifestEntry> many;
    for (int i = 0; i < 200; ++i)
        many.push_back({L"/file" + std::to_wstring(i) + L".dat", 123456, 4000000000u});
    EXPECT_FALSE(BuildManifest(rel, many, &xml, &error));
    EXPECT_NE(error.find(L"10240"), std::wstring::npos);

    uint32_t id = 0;
    EXPECT_FALSE(ParseVersionId(L"1.2.3", &id));
    EXPECT_FALSE(ParseVersionId(L"1.2.3.256", &id));
    EXPECT_FALSE(ParseVersionId(L"4294967296", &id));
    EXPECT_TRUE(ParseVersionId(L"4294967295", &id));
    EXPECT_EQ(id, 4294967295u);
}

TEST(ReleaseTool, TheProgramWritesTheManifestOrRefusesWithAnExitCode)
{
    TempFolder release(L"release");
    ASSERT_TRUE(WriteBytes(release / L"a.dll", PatternBytes(10, 4)));
    EXPECT_EQ(RunTool(L"\"" + release.path() + L"\" 7 /v7 \"版本 7\""), 0u);
    CXmlInfo info;
    ASSERT_EQ(info.ParseFile((release / L"update.xml").c_str()), 0);
    ASSERT_NE(info.GetLatestVersion(), nullptr);
    EXPECT_STREQ(info.GetLatestVersion()->ver_desc, L"版本 7");
    EXPECT_STREQ(info.GetLatestVersion()->GetFile(0)->f_name, L"/a.dll");

    ASSERT_TRUE(WriteBytes(release / L"b&c.dll", "x"));
    EXPECT_EQ(RunTool(L"\"" + release.path() + L"\" 8 /v8"), 1u);
    EXPECT_EQ(RunTool(L"\"" + release.path() + L"\" 1.2 /v8"), 2u);
}
