// The manifest parser: version choice, value rules, placement, errors, limits.
#include "Log.h"
#include "TestSupport.h"
#include "XmlInfo.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::wstring> g_log;
void Collect(const wchar_t* line)
{
    g_log.push_back(line);
}

struct LogCapture {
    LogCapture()
    {
        g_log.clear();
        SetLogObserver(Collect);
    }
    ~LogCapture() { SetLogObserver(nullptr); }
    bool Contains(const std::wstring& text) const
    {
        for (const auto& l : g_log)
            if (l.find(text) != std::wstring::npos)
                return true;
        return false;
    }
};

std::string Version(const std::string& id, const std::string& files = "", const std::string& root = "/r")
{
    return "<version>\n<ver_id>" + id + "</ver_id>\n<ver_root>" + root + "</ver_root>\n" + files + "</version>\n";
}

std::string File(const std::string& name, const std::string& crc = "1", const std::string& size = "10")
{
    return "<file>\n<f_id>1</f_id>\n<f_name>" + name + "</f_name>\n<f_size>" + size + "</f_size>\n<f_crc>" + crc +
           "</f_crc>\n</file>\n";
}

std::string Manifest(const std::string& versions)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<update_info>\n" + versions + "</update_info>\n";
}

int Parse(CXmlInfo& info, const std::string& xml)
{
    return info.ParseBuffer(xml.data(), xml.size());
}

} // namespace

TEST(Manifest, ChoosesTheLargestIdComparedUnsignedAndTheFirstOfEqualIds)
{
    CXmlInfo info;
    ASSERT_EQ(Parse(info, Manifest(Version("3") + Version("7", File("/first.txt")) + Version("7", File("/second.txt")) +
                                   Version("5"))),
              0);
    ASSERT_EQ(info.GetVersionCount(), 4);
    VersionInfo* v = info.GetLatestVersion();
    ASSERT_EQ(v, &info.Slot(1));
    EXPECT_STREQ(v->GetFile(0)->f_name, L"/first.txt");

    // A negative id is a very large unsigned one.
    ASSERT_EQ(Parse(info, Manifest(Version("2000000000") + Version("-1") + Version("7"))), 0);
    EXPECT_EQ(info.GetLatestVersion(), &info.Slot(1));

    // Id 0 is never chosen.
    ASSERT_EQ(Parse(info, Manifest(Version("0", File("/a")))), 0);
    EXPECT_EQ(info.GetLatestVersion(), nullptr);
}

TEST(Manifest, OnlyTheFirstTenVersionsCount)
{
    std::string versions;
    for (int i = 1; i <= 12; ++i)
        versions += Version(std::to_string(i <= 10 ? i : 100 + i), File("/v" + std::to_string(i)));
    CXmlInfo info;
    LogCapture log;
    ASSERT_EQ(Parse(info, Manifest(versions)), 0);
    EXPECT_EQ(info.GetVersionCount(), 10);
    VersionInfo* v = info.GetLatestVersion();
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->ver_id, 10);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(info.Slot(i).file_count, 1);
    // The files of the eleventh and twelfth were dropped with a log line each.
    EXPECT_TRUE(log.Contains(L"parseCfgEnd Catch Error"));
    EXPECT_TRUE(log.Contains(L"CXmlInfo::parseChnlSrvCfg Catch Error"));
}

TEST(Manifest, NumbersConvertLikeAtoiWrappingAt32Bits)
{
    CXmlInfo info;
    std::string files = File("/a", "3000000000") + File("/b", "-1294967296") + File("/c", "  +12abc", "") +
                        File("/d", "4294967297", "-1") + File("/e", "x1");
    ASSERT_EQ(Parse(info, Manifest(Version("4294967295", files))), 0);
    VersionInfo* v = info.GetLatestVersion();
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->ver_id, -1);
    EXPECT_EQ(static_cast<uint32_t>(v->GetFile(0)->f_crc), 3000000000u);
    EXPECT_EQ(v->GetFile(1)->f_crc, v->GetFile(0)->f_crc);
    EXPECT_EQ(v->GetFile(2)->f_crc, 12);
    EXPECT_EQ(v->GetFile(2)->f_size, 0); // an empty element takes the line break after it
    EXPECT_EQ(v->GetFile(3)->f_crc, 1);
    EXPECT_EQ(v->GetFile(3)->f_size, -1);
    EXPECT_EQ(v->GetFile(4)->f_crc, 0);
}

TEST(Manifest, OnlyTheFirstPieceOfTextCounts)
{
    CXmlInfo info;
    std::string files = File("/a&amp;b.txt") + "<file><f_name>\n/late</f_name></file>\n" +
                        "<file><f_name>/x&#65;y</f_name></file>\n" + File("/中文/名字.txt");
    ASSERT_EQ(Parse(info, Manifest(Version("1", files, "/root<!-- c -->more"))), 0);
    VersionInfo* v = info.GetLatestVersion();
    ASSERT_NE(v, nullptr);
    ASSERT_EQ(v->file_count, 4);
    EXPECT_STREQ(v->GetFile(0)->f_name, L"/a");   // cut at the entity reference
    EXPECT_STREQ(v->GetFile(1)->f_name, L"\n");   // a leading line break is the value
    EXPECT_STREQ(v->GetFile(2)->f_name, L"/x");   // cut at the character reference
    EXPECT_STREQ(v->GetFile(3)->f_name, L"/中文/名字.txt");
    EXPECT_STREQ(v->ver_root, L"/root");
    EXPECT_FALSE(v->ver_root_cut);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(v->GetFile(i)->done, 0);
}

TEST(Manifest, PositionsAreNotCheckedButValuesNeedTheirRecord)
{
    CXmlInfo info;
    LogCapture log;
    std::string xml = "<update_info>\n<ver_id>99</ver_id>\n"            // before any version: ignored
                      "<version>\n<f_name>/stray</f_name>\n"           // pending record, cleared by <file>
                      "<file>\n<ver_id>5</ver_id>\n<f_name>/in</f_name>\n</file>\n"
                      "<ver_root>/r</ver_root>\n<unknown>zzz</unknown>\n"
                      "</version>\n<file><f_name>/orphan</f_name></file>\n</update_info>\n";
    ASSERT_EQ(Parse(info, xml), 0);
    EXPECT_TRUE(log.Contains(L"CXmlInfo::parseChnlSrvCfg Catch Error"));
    EXPECT_TRUE(log.Contains(L"parseCfgEnd Catch Error")); // the orphan file
    VersionInfo* v = info.GetLatestVersion();
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->ver_id, 5); // set from inside the file
    ASSERT_EQ(v->file_count, 1);
    EXPECT_STREQ(v->GetFile(0)->f_name, L"/in");
    EXPECT_EQ(v->GetFile(1), nullptr);
}

TEST(Manifest, ErrorsBeforeTheEndTagOfferNothingAndJunkAfterItKeepsTheTable)
{
    CXmlInfo info;
    LogCapture log;
    std::string good = Manifest(Version("4", File("/a")));
    EXPECT_EQ(Parse(info, good + "<junk>"), -1);
    EXPECT_TRUE(log.Contains(L"Parse error at line"));
    ASSERT_NE(info.GetLatestVersion(), nullptr);
    EXPECT_EQ(info.GetLatestVersion()->ver_id, 4);

    EXPECT_EQ(Parse(info, good.substr(0, good.size() - 16)), -1);
    EXPECT_EQ(info.GetLatestVersion(), nullptr);

    // Not UTF-8: the parser is told UTF-8 whatever the declaration says.
    EXPECT_EQ(Parse(info, "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><update_info><version><ver_id>1"
                          "</ver_id><ver_desc>\xE9t\xE9</ver_desc></version></update_info>"),
              -1);
}

TEST(Manifest, FilesAreReadInTextMode)
{
    testsupport::TempFolder dir(L"manifest");
    CXmlInfo info;
    {
        LogCapture log;
        EXPECT_EQ(info.ParseFile((dir / L"missing.xml").c_str()), -1);
        EXPECT_TRUE(log.Contains(L"CONFIG FILE IS NOT EXIST"));
    }
    // CR LF arrives as LF (no stray CR in values); 0x1A ends the data.
    std::string crlf = "<update_info>\r\n<version>\r\n<ver_id>6</ver_id>\r\n<ver_root>/r</ver_root>\r\n"
                       "<file>\r\n<f_name>\r\n</f_name>\r\n</file>\r\n</version>\r\n</update_info>\r\n\x1A<garbage";
    ASSERT_TRUE(testsupport::WriteBytes(dir / L"update.xml", crlf));
    EXPECT_EQ(info.ParseFile((dir / L"update.xml").c_str()), 0);
    VersionInfo* v = info.GetLatestVersion();
    ASSERT_NE(v, nullptr);
    EXPECT_STREQ(v->ver_root, L"/r");
    EXPECT_STREQ(v->GetFile(0)->f_name, L"\n");
}

TEST(Manifest, FormatLimitsCutOrRejectWithoutOverflow)
{
    CXmlInfo info;
    // 100 three-byte characters: the 99-byte value limit keeps 33 of them.
    std::string desc;
    for (int i = 0; i < 100; ++i)
        desc += "\xE6\xB5\x8B"; // 测
    std::string longName = "/" + std::string(63, 'n');          // 64 units: too long
    std::string longCjkName = "/";
    for (int i = 0; i < 34; ++i)
        longCjkName += "\xE6\xB5\x8B";                            // 103 bytes: would be cut
    std::string longRoot = "/" + std::string(120, 'r');
    std::string longElement = "<" + std::string(40, 'e') + ">7</" + std::string(40, 'e') + ">\n";
    std::string v = "<version>\n<ver_id>1</ver_id>\n<ver_desc>" + desc + "</ver_desc>\n<ver_root>" + longRoot +
                    "</ver_root>\n" + longElement + File(longName) + File(longCjkName) +
                    File("/" + std::string(62, 'k')) + "</version>\n";
    ASSERT_EQ(Parse(info, Manifest(v)), 0);
    VersionInfo* ver = info.GetLatestVersion();
    ASSERT_NE(ver, nullptr);
    EXPECT_EQ(std::wstring(ver->ver_desc), std::wstring(33, L'测'));
    EXPECT_TRUE(ver->ver_root_cut);                  // a cut root would point elsewhere:
    EXPECT_STREQ(ver->ver_root, L"");                //   the version is not usable
    EXPECT_STREQ(ver->GetFile(0)->f_name, L"");      // over 63 units: refused, not cut
    EXPECT_STREQ(ver->GetFile(1)->f_name, L"");      // over 99 bytes: refused, not cut
    EXPECT_EQ(std::wstring(ver->GetFile(2)->f_name).size(), 63u);

    // The 99-byte value limit comes first, so a description never reaches its
    // 127-unit field limit.
    ASSERT_EQ(Parse(info, Manifest("<version><ver_id>1</ver_id><ver_desc>" + std::string(150, 'd') +
                                   "</ver_desc></version>")),
              0);
    EXPECT_EQ(std::wstring(info.GetLatestVersion()->ver_desc), std::wstring(99, L'd'));

    // More than 10,240 bytes is not a manifest of this format.
    std::string big = Manifest(Version("1", File("/a")) + "<!--" + std::string(10300, 'x') + "-->");
    EXPECT_EQ(Parse(info, big), -1);
    EXPECT_EQ(info.GetLatestVersion(), nullptr);
    testsupport::TempFolder dir(L"manifest");
    ASSERT_TRUE(testsupport::WriteBytes(dir / L"big.xml", big));
    EXPECT_EQ(info.ParseFile((dir / L"big.xml").c_str()), -1);
    EXPECT_EQ(info.GetLatestVersion(), nullptr);
    // Exactly at the limit is fine.
    std::string fits = Manifest(Version("1", File("/a")));
    fits += std::string(CXmlInfo::kMaxManifest - fits.size(), '\n');
    ASSERT_TRUE(testsupport::WriteBytes(dir / L"fits.xml", fits));
    EXPECT_EQ(info.ParseFile((dir / L"fits.xml").c_str()), 0);
    EXPECT_NE(info.GetLatestVersion(), nullptr);
}

TEST(Manifest, ParsingAgainStartsFromAnEmptyTable)
{
    CXmlInfo info;
    ASSERT_EQ(Parse(info, Manifest(Version("9", File("/a") + File("/b")) + Version("3"))), 0);
    ASSERT_EQ(Parse(info, Manifest(Version("2", File("/c")))), 0);
    EXPECT_EQ(info.GetVersionCount(), 1);
    EXPECT_EQ(info.GetLatestVersion()->ver_id, 2);
    EXPECT_EQ(info.GetLatestVersion()->file_count, 1);
    EXPECT_EQ(info.Slot(1).ver_id, 0);
    EXPECT_EQ(info.Slot(1).GetFile(0), nullptr);
}
