// The updater's command line, settings files, mutex test and progress figures.
#include "DownloadThread.h"
#include "Settings.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using testsupport::TempFolder;
using testsupport::WriteBytes;

TEST(CommandLine, KeysAreFoundAnywhereCaseInsensitivelyAndValuesEndAtASpace)
{
    UpdateCommandLine a = ParseUpdateCommandLine(L"HWND=66000 Message=1500 BuilderID=Abc");
    EXPECT_EQ(HandleToLong(a.notifyWindow), 66000);
    EXPECT_EQ(a.notifyMessage, 1500u);
    EXPECT_EQ(a.builderId, L"abc");
    EXPECT_EQ(a.visible, 1);

    // "hide" is found inside the builder id too.
    UpdateCommandLine b = ParseUpdateCommandLine(L"builderid=xhidex");
    EXPECT_EQ(b.builderId, L"xhidex");
    EXPECT_EQ(b.visible, 0);

    EXPECT_EQ(HandleToLong(ParseUpdateCommandLine(L"hwnd=12ab").notifyWindow), 12);
    EXPECT_EQ(ParseUpdateCommandLine(L"hwnd=").notifyWindow, nullptr);
    EXPECT_EQ(ParseUpdateCommandLine(L"hwnd= message=5").notifyWindow, nullptr);
    EXPECT_EQ(ParseUpdateCommandLine(L"hwnd= message=5").notifyMessage, 5u);
    EXPECT_EQ(ParseUpdateCommandLine(L"message=-1").notifyMessage, 0xFFFFFFFFu);

    UpdateCommandLine none = ParseUpdateCommandLine(L"");
    EXPECT_EQ(none.visible, 1);
    EXPECT_TRUE(none.builderId.empty());
    EXPECT_EQ(none.notifyWindow, nullptr);
    EXPECT_EQ(none.notifyMessage, 0u);
    EXPECT_EQ(ParseUpdateCommandLine(nullptr).visible, 1);

    // Handles are 32-bit values on every pointer size: negative ones sign-extend.
    EXPECT_EQ(ParseUpdateCommandLine(L"hwnd=4294967295").notifyWindow, LongToHandle(-1));
}

TEST(CommandLine, VersionsRenderFromTheWrappingDecimalConversion)
{
    EXPECT_EQ(VersionString(ParseWrappingDecimal(L"16777217")), L"1.0.0.1");
    EXPECT_EQ(VersionString(ParseWrappingDecimal(L"16909060")), L"1.2.3.4");
    EXPECT_EQ(VersionString(ParseWrappingDecimal(L"")), L"0.0.0.0");
    EXPECT_EQ(VersionString(ParseWrappingDecimal(L"-1")), L"255.255.255.255");
    EXPECT_EQ(VersionString(ParseWrappingDecimal(L"4294967297")), L"0.0.0.1");
    EXPECT_EQ(VersionString(ParseWrappingDecimal(L"  +258xyz")), L"0.0.1.2");
    EXPECT_EQ(VersionString(ParseWrappingDecimal(L"abc")), L"0.0.0.0");

    // And back, for the comparison with a signed version; only the rendered form counts.
    EXPECT_EQ(VersionNumber(L"255.255.255.255"), 4294967295u);
    EXPECT_EQ(VersionNumber(L"1.2.3.4"), 16909060u);
    for (const wchar_t* other : {L"1.2.3", L"1.2.3.256", L"01.2.3.4", L"1.2.3.4 ", L"1.2.3.4.5", L""})
        EXPECT_EQ(VersionNumber(other), 0u) << testing::PrintToString(std::wstring(other));
}

TEST(SettingsFiles, UpdateIniFirstThenServerIniForEverything)
{
    TempFolder dir(L"settings");
    // Nothing at all: the built-in server, the default client, no version.
    UpdateSettings s = ReadUpdateSettings(dir.path());
    EXPECT_EQ(s.server, kDefaultServer);
    EXPECT_LE(s.server.size(), 19u);
    EXPECT_EQ(s.clientProgram, L"ZorvClient.exe");
    EXPECT_EQ(s.version, L"0.0.0.0");

    // Update.ini without a server: all keys come from Server.ini.
    ASSERT_TRUE(WriteBytes(dir / L"Update.ini", "[UpdateSrv]\r\nFtpAddr=\r\nVersion=16777217\r\nAppName=x.exe\r\n"));
    ASSERT_TRUE(WriteBytes(dir / L"Server.ini", "[UpdateSrv]\r\nFtpAddr=srv.example\r\n"));
    s = ReadUpdateSettings(dir.path());
    EXPECT_EQ(s.server, L"srv.example");
    EXPECT_EQ(s.version, L"0.0.0.0");
    EXPECT_EQ(s.clientProgram, L"ZorvClient.exe");
    EXPECT_EQ(s.settingsFile, dir / L"Server.ini");

    // Update.ini with a server keeps everything there; long addresses are cut to 19.
    ASSERT_TRUE(WriteBytes(dir / L"Update.ini",
                           "[UpdateSrv]\r\nFtpAddr=a-very-long-host-name.example.com\r\nVersion=16909060\r\nAppName=Client.exe\r\n"));
    s = ReadUpdateSettings(dir.path());
    EXPECT_EQ(s.server, L"a-very-long-host-na");
    EXPECT_EQ(s.version, L"1.2.3.4");
    EXPECT_EQ(s.clientProgram, L"Client.exe");
}

TEST(SettingsFiles, BuilderIdIsWrittenEvenIntoAReadOnlyFile)
{
    TempFolder dir(L"settings");
    ASSERT_TRUE(WriteBytes(dir / L"Update.ini", "[UpdateSrv]\r\nFtpAddr=127.0.0.1\r\n"));
    ASSERT_TRUE(::SetFileAttributesW((dir / L"Update.ini").c_str(), FILE_ATTRIBUTE_READONLY));
    WriteBuilderId(dir.path(), L"abc");
    wchar_t value[32] = {};
    ::GetPrivateProfileStringW(L"UpdateSrv", L"BuilderID", L"", value, 32, (dir / L"Update.ini").c_str());
    EXPECT_STREQ(value, L"abc");
    ::GetPrivateProfileStringW(L"UpdateSrv", L"FtpAddr", L"", value, 32, (dir / L"Update.ini").c_str());
    EXPECT_STREQ(value, L"127.0.0.1");
}

TEST(SettingsFiles, MutexPresenceFollowsItsHolder)
{
    const wchar_t* name = L"QZTestPresenceMutex";
    EXPECT_EQ(TestMutexPresence(name), MutexPresence::Absent);
    HANDLE held = ::CreateMutexW(nullptr, FALSE, name);
    EXPECT_EQ(TestMutexPresence(name), MutexPresence::Present);
    ::CloseHandle(held);
    // The test itself leaves nothing behind.
    EXPECT_EQ(TestMutexPresence(name), MutexPresence::Absent);

    // Held by someone this process may not open: still there.
    SECURITY_DESCRIPTOR sd;
    ::InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
    ACL acl;
    ::InitializeAcl(&acl, sizeof acl, ACL_REVISION);
    ::SetSecurityDescriptorDacl(&sd, TRUE, &acl, FALSE); // an empty list grants nothing
    SECURITY_ATTRIBUTES sa = {sizeof sa, &sd, FALSE};
    HANDLE denied = ::CreateMutexW(&sa, FALSE, L"QZTestDeniedMutex");
    ASSERT_NE(denied, nullptr);
    EXPECT_EQ(TestMutexPresence(L"QZTestDeniedMutex"), MutexPresence::Present);
    ::CloseHandle(denied);

    // Another kind of object under the name: no answer.
    HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, L"QZTestEventNotMutex");
    EXPECT_EQ(TestMutexPresence(L"QZTestEventNotMutex"), MutexPresence::Unknown);
    ::CloseHandle(event);
}

namespace {

DWORD WINAPI KeepLookingForClientMutex(void* running)
{
    while (*static_cast<volatile LONG*>(running))
        TestMutexPresence(L"QZTestClientMutex");
    return 0;
}

} // namespace

TEST(SettingsFiles, TheMutexTestNeverCreatesTheMutexItLooksFor)
{
    // While the updater keeps looking, the client's mutex must never come
    // into being: a client starting then would find it already existing.
    volatile LONG looking = 1;
    HANDLE watcher = ::CreateThread(nullptr, 0, KeepLookingForClientMutex, const_cast<LONG*>(&looking), 0, nullptr);
    ASSERT_NE(watcher, nullptr);
    int seen = 0, looks = 0;
    for (DWORD begin = ::GetTickCount(); ::GetTickCount() - begin < 300; ++looks) {
        if (HANDLE m = ::OpenMutexW(SYNCHRONIZE, FALSE, L"QZTestClientMutex")) {
            ++seen;
            ::CloseHandle(m);
        }
    }
    looking = 0;
    ::WaitForSingleObject(watcher, 5000);
    ::CloseHandle(watcher);
    EXPECT_GT(looks, 100);
    EXPECT_EQ(seen, 0);
}

TEST(Progress, PercentagesDoNotOverflowAndFillAtTheNominalSize)
{
    EXPECT_EQ(TransferPercent(30000000, 15000000), 50);
    EXPECT_EQ(TransferPercent(0xFFFFFFFF, 0xFFFFFFFF), 100);
    EXPECT_EQ(TransferPercent(0xFFFFFFFF, 0x7FFFFFFF), 49);
    // The manifest is reported against a nominal 4096 bytes.
    EXPECT_EQ(TransferPercent(4096, 4096), 100);
    EXPECT_EQ(TransferPercent(4096, 9000), 100);
    EXPECT_EQ(TransferPercent(0, 1000), 0);
    EXPECT_EQ(CDownloadThread::ManifestPath(L"0.0.0.0"), L"/update.xml");
    EXPECT_EQ(CDownloadThread::ManifestPath(L"2.1.0.3"), L"/2.1.0.3/update.xml");
}
