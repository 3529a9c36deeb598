// Many thousands of mangled manifests: no crash, every field within its limits.
#include "XmlInfo.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

std::string Seed(std::mt19937& rng)
{
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<update_info>\n";
    int versions = static_cast<int>(rng() % 13);
    for (int v = 0; v < versions; ++v) {
        xml += "<version>\n<ver_id>" + std::to_string(rng()) + "</ver_id>\n<ver_flag>1</ver_flag>\n";
        xml += "<ver_desc>第" + std::to_string(v) + "版 release</ver_desc>\n<ver_root>/1.0.0." + std::to_string(v) +
               "</ver_root>\n";
        int files = static_cast<int>(rng() % 6);
        for (int f = 0; f < files; ++f)
            xml += "<file>\n<f_id>" + std::to_string(f) + "</f_id>\n<f_name>/dir/文件" + std::to_string(f) +
                   ".dll</f_name>\n<f_size>" + std::to_string(rng() % 100000) + "</f_size>\n<f_crc>" +
                   std::to_string(rng()) + "</f_crc>\n</file>\n";
        xml += "</version>\n";
    }
    return xml + "</update_info>\n";
}

const char* const kFragments[] = {
    "<version>", "</version>", "<file>", "</file>", "<f_name>", "</f_name>", "<ver_id>", "<ver_desc>",
    "<ver_root>", "&amp;", "&#0;", "&#xD800;", "&bogus;", "<![CDATA[x]]>", "<!-- c -->", "\xC3", "\xE6\xB5",
    "\xF0\x9F\x98\x80", "\xFF\xFE", "\xED\xA0\x80", "99999999999999999999", "-2147483649", "\r\n", "\x1A",
    "<f_crc>", "<update_info>", "</update_info>", "<?pi x?>", "<a b='c'>", "\0",
};

const char kEntityBomb[] =
    "<?xml version=\"1.0\"?>\n<!DOCTYPE update_info [\n<!ENTITY a \"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\">\n"
    "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">\n<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">\n"
    "<!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\">\n<!ENTITY e \"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\">\n"
    "<!ENTITY f \"&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;\">\n<!ENTITY g \"&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;\">\n]>\n"
    "<update_info><version><ver_id>1</ver_id><ver_desc>&g;</ver_desc><file><f_name>&g;</f_name></file>"
    "</version></update_info>\n";

void Mutate(std::string& xml, std::mt19937& rng)
{
    int edits = 1 + static_cast<int>(rng() % 8);
    for (int i = 0; i < edits; ++i) {
        size_t pos = xml.empty() ? 0 : rng() % (xml.size() + 1);
        switch (rng() % 9) {
        case 0: // truncate
            xml.resize(pos);
            break;
        case 1: // flip a bit
            if (!xml.empty())
                xml[pos % xml.size()] ^= static_cast<char>(1u << (rng() % 8));
            break;
        case 2: // insert a fragment
            xml.insert(pos, kFragments[rng() % (sizeof kFragments / sizeof *kFragments)]);
            break;
        case 3: // delete a run
            if (pos < xml.size())
                xml.erase(pos, rng() % 32);
            break;
        case 4: // a huge value
            xml.insert(pos, std::string(50 + rng() % 400, static_cast<char>('0' + rng() % 10)));
            break;
        case 5: // deep nesting
        {
            std::string open, close;
            int depth = 1 + static_cast<int>(rng() % 2000);
            for (int d = 0; d < depth; ++d) {
                open += "<f_name>";
                close = "</f_name>" + close;
            }
            xml.insert(pos, open + "x" + close);
            break;
        }
        case 6: // a long element name
            xml.insert(pos, "<" + std::string(20 + rng() % 60, 'v') + ">t</" + std::string(1, 'v') + ">");
            break;
        case 7: // invalid UTF-8 byte
            xml.insert(pos, 1, static_cast<char>(0x80 + rng() % 0x80));
            break;
        default: // duplicate a slice
            if (pos < xml.size()) {
                size_t len = rng() % 200;
                xml.insert(pos, xml.substr(pos, len));
            }
            break;
        }
    }
}

// Every field terminated inside its width, names within the format's limits.
void CheckTable(CXmlInfo& info)
{
    ASSERT_GE(info.GetVersionCount(), 0);
    ASSERT_LE(info.GetVersionCount(), CXmlInfo::kMaxVersions);
    for (int i = 0; i < CXmlInfo::kMaxVersions; ++i) {
        VersionInfo& v = info.Slot(i);
        ASSERT_LT(wcsnlen(v.ver_desc, 128), 128u);
        ASSERT_LT(wcsnlen(v.ver_root, 260), 100u);
        int listed = 0;
        for (FileInfo* f = v.GetFile(0); f; f = f->next.get()) {
            size_t len = wcsnlen(f->f_name, 64);
            ASSERT_LT(len, 64u);
            if (len > 0) {
                wchar_t last = f->f_name[len - 1];
                ASSERT_FALSE(last >= 0xD800 && last <= 0xDBFF) << "half a surrogate pair";
            }
            ASSERT_EQ(f->done, 0);
            ++listed;
        }
        ASSERT_EQ(listed, v.file_count);
    }
    if (VersionInfo* latest = info.GetLatestVersion()) {
        ASSERT_NE(latest->ver_id, 0);
    }
}

} // namespace

TEST(ManifestMutation, ThousandsOfMangledManifestsParseSafely)
{
    std::mt19937 rng(20261207);
    CXmlInfo info;
    int parsed = 0, failed = 0;
    for (int round = 0; round < 20000; ++round) {
        std::string xml = round % 500 == 0 ? std::string(kEntityBomb) : Seed(rng);
        Mutate(xml, rng);
        if (xml.size() > CXmlInfo::kMaxManifest)
            xml.resize(CXmlInfo::kMaxManifest);
        int r = info.ParseBuffer(xml.data(), xml.size());
        (r == 0 ? parsed : failed)++;
        CheckTable(info);
        if (HasFatalFailure()) {
            ADD_FAILURE() << "round " << round;
            return;
        }
    }
    // Both outcomes were exercised.
    EXPECT_GT(parsed, 100);
    EXPECT_GT(failed, 100);
}

TEST(ManifestMutation, EntityExpansionIsRefused)
{
    CXmlInfo info;
    EXPECT_EQ(info.ParseBuffer(kEntityBomb, sizeof kEntityBomb - 1), -1);
    CheckTable(info);
}
