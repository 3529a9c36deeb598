// The file checksum rule, and which manifest names may become local paths.
#include "Checksum.h"
#include "Installer.h"
#include "SafeName.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

using testsupport::PatternBytes;
using testsupport::TempFolder;
using testsupport::WriteBytes;

namespace {

// The rule as stated: read up to 4 bytes at a time into a word buffer that
// keeps its high bytes from the previous read, and add the whole buffer.
uint32_t ReferenceChecksum(const std::string& bytes)
{
    uint8_t word[4] = {};
    uint32_t sum = 0;
    for (size_t pos = 0; pos < bytes.size(); pos += 4) {
        size_t n = std::min<size_t>(4, bytes.size() - pos);
        std::memcpy(word, bytes.data() + pos, n);
        uint32_t w;
        std::memcpy(&w, word, 4);
        sum += w;
    }
    return sum;
}

uint32_t Sum(const std::string& bytes)
{
    CChecksum c;
    c.Update(bytes.data(), bytes.size());
    return c.Final();
}

} // namespace

TEST(Checksum, WordsWithATailThatKeepsThePreviousHighBytes)
{
    EXPECT_EQ(Sum(std::string("\x01\x02\x03\x04\x05\x06", 6)), 0x08060806u);
    EXPECT_EQ(Sum(std::string("\x01\x02", 2)), 0x201u);
    EXPECT_EQ(Sum(""), 0u);
    EXPECT_EQ(Sum(std::string("\xFF\xFF\xFF\xFF\x01\x00\x00\x00", 8)), 0u); // wraps modulo 2^32
}

TEST(Checksum, AnySplitIntoBlocksGivesTheRuleResult)
{
    std::mt19937 rng(1234);
    for (size_t size : {0u, 1u, 3u, 4u, 5u, 7u, 8u, 1023u, 20480u, 65537u}) {
        std::string data = PatternBytes(size, static_cast<unsigned>(size));
        uint32_t expected = ReferenceChecksum(data);
        EXPECT_EQ(Sum(data), expected) << size;
        for (int round = 0; round < 20; ++round) {
            CChecksum c;
            size_t pos = 0;
            while (pos < data.size()) {
                size_t n = std::min<size_t>(data.size() - pos, rng() % 11);
                c.Update(data.data() + pos, n);
                pos += n;
            }
            ASSERT_EQ(c.Final(), expected) << "size " << size << " round " << round;
        }
    }
}

TEST(Checksum, FilesMissingEmptyOrUnreadableSumToZero)
{
    TempFolder dir(L"sum");
    std::string data = PatternBytes(3 * (1 << 20) + 3, 7); // crosses the read blocks, with a tail
    ASSERT_TRUE(WriteBytes(dir / L"big.bin", data));
    EXPECT_EQ(FileChecksum(dir / L"big.bin"), ReferenceChecksum(data));
    uint32_t sum = 0;
    uint64_t size = 0;
    ASSERT_TRUE(ComputeFileChecksum(dir / L"big.bin", &sum, &size));
    EXPECT_EQ(size, data.size());

    EXPECT_EQ(FileChecksum(dir / L"missing.bin"), 0u);
    EXPECT_FALSE(ComputeFileChecksum(dir / L"missing.bin", &sum));
    ASSERT_TRUE(WriteBytes(dir / L"empty.bin", ""));
    EXPECT_EQ(FileChecksum(dir / L"empty.bin"), 0u);

    HANDLE locked = ::CreateFileW((dir / L"big.bin").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(locked, INVALID_HANDLE_VALUE);
    EXPECT_EQ(FileChecksum(dir / L"big.bin"), 0u);
    ::CloseHandle(locked);
}

TEST(SafeName, HostileNamesAreRefused)
{
    const wchar_t* hostile[] = {
        L"", L"/", L"a.txt", L"\\a.txt", L"//a.txt", L"/a//b.txt", L"/a/", L"/./a.txt", L"/a/./b",
        L"/../a.txt", L"/a/../../b", L"/..", L"/a\\..\\..\\b", L"/C:/Windows/x.dll", L"/a:stream",
        L"/C:", L"/a*b", L"/a?b", L"/a\"b", L"/a<b", L"/a>b", L"/a|b", L"/a\tb", L"/a\nb", L"/a\x7f",
        L"/a\x01", L"/dot.", L"/space ", L"/dir./a", L"/dir /a", L"/CON", L"/con", L"/Con.txt",
        L"/prn.log", L"/AUX", L"/nul.tar.gz", L"/COM1", L"/com9.dll", L"/LPT1", L"/lpt9.txt",
        L"/sub/NUL", L"/CON .txt", L"/COM\u00B9", L"/\\\\server\\share", L"/...", L"/a/..",
        // The staging folder: installed into itself, then deleted with it.
        L"/$Temp$/x", L"/$temp$/sub/y.dll", L"/$TEMP$",
        // What the keyed updater keeps beside the installation: its record and key chain.
        L"/update.sig", L"/UPDATE.KEYS",
    };
    for (const wchar_t* name : hostile)
        EXPECT_FALSE(IsSafeFileName(name)) << "accepted: [" << testing::PrintToString(std::wstring(name)) << "]";
}

TEST(SafeName, OrdinaryNamesAreAcceptedAndJoinBelowTheFolder)
{
    const wchar_t* ordinary[] = {
        L"/ZorvClient.exe", L"/skin/main.bmp", L"/a", L"/.hidden", L"/a.b.c", L"/COM10", L"/LPT0.txt",
        L"/CONSOLE.dll", L"/console", L"/auxiliary/x", L"/中文/播放器.dll", L"/a b/c d.txt", L"/Update.exe",
        L"/sub/$Temp$/x", L"/$Temp$x/y", L"/Temp$/x",
        L"/sub/update.sig", L"/update.keys.txt",
    };
    for (const wchar_t* name : ordinary)
        EXPECT_TRUE(IsSafeFileName(name)) << "refused: " << testing::PrintToString(std::wstring(name));

    EXPECT_EQ(LocalPathOf(L"C:\\Program\\Client", L"/skin/main.bmp"), L"C:\\Program\\Client\\skin\\main.bmp");
    EXPECT_TRUE(IsSafeFileName(L"/skin/main.bmp", L"C:\\Program\\Client"));
    EXPECT_FALSE(IsSafeFileName(L"/../x", L"C:\\Program\\Client"));
    EXPECT_FALSE(IsSafeFileName(L"/a", L""));

    // The joined path must fit a MAX_PATH buffer.
    std::wstring folder = L"C:\\" + std::wstring(200, L'f');
    std::wstring fits = L"/" + std::wstring(MAX_PATH - 1 - folder.size() - 1, L'n');
    EXPECT_TRUE(IsSafeFileName(fits, folder));
    EXPECT_FALSE(IsSafeFileName(fits + L"n", folder));
}

TEST(SafeName, ChecksumOfAnUnsafeNameTouchesNoFile)
{
    TempFolder root(L"unsafe");
    ASSERT_TRUE(WriteBytes(root / L"outside.txt", "secret"));
    ASSERT_TRUE(WriteBytes(root / L"app\\inside.txt", "inside"));
    CInstaller installer;
    installer.InitPaths((root / L"app").c_str());
    EXPECT_EQ(installer.GetFileChecksum(L"/inside.txt"), Sum("inside"));
    EXPECT_EQ(installer.GetFileChecksum(L"/../outside.txt"), 0u);
    EXPECT_EQ(installer.GetFileChecksum(L"/..\\outside.txt"), 0u);
    EXPECT_EQ(installer.GetFileChecksum(L"\\..\\outside.txt"), 0u);
    EXPECT_EQ(installer.GetFileChecksum(L"/missing.txt"), 0u);
}
