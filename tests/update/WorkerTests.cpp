// The update procedure on its worker thread, step by step against the local
// server, driven the way the dialog drives it.
#include "Deltas.h"
#include "DownloadThread.h"
#include "ImageResource.h"
#include "Log.h"
#include "Publisher.h"
#include "ReleaseSupport.h"
#include "Settings.h"
#include "WorkerReports.h"
#include "TestSupport.h"
#include "UpdateMessages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

using namespace testsupport;

namespace {

std::vector<std::wstring> g_log;
void CollectLog(const wchar_t* line)
{
    g_log.push_back(line);
}

// Stands in for the run: records every status and posts the next step
// where the run would; a failure ends the run unless retries are left.
class StepDriver : public CWnd {
public:
    CDownloadThread* worker = nullptr;
    std::vector<std::string> events;
    bool finished = false;
    int retriesLeft = 0;
    int progressMessages = 0;
    // When this many files are handled: the next step is posted and the
    // worker stopped as soon as its installation has begun.
    int stopInInstallationAfter = -1;
    LONG stateAtStop = 0;
    // Runs once the manifest step has succeeded, before the first file step,
    // and once each file is handled, before the next.
    std::function<void()> onVersion, onFile;

    // The worker reports here; this window takes the reports as the run's view does.
    CReportQueue reports{[this] { PostMessage(WM_WORKER_REPORTS); }};

    void Step() { worker->PostThreadMessage(WM_UPDATE_STEP, 0, 0); }

protected:
    LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp) override
    {
        if (msg == WM_DOWNLOAD_PROGRESS) {
            ++progressMessages;
            return 0;
        }
        if (msg != WM_WORKER_REPORTS)
            return CWnd::WindowProc(msg, wp, lp);
        for (const WorkerReport& report : reports.Take())
            Handle(report);
        return 0;
    }

private:
    void Handle(const WorkerReport& report)
    {
        const int code = report.code;
        const LPARAM lp = report.value;
        switch (report.message) {
        case WM_VERSION_STATUS:
            events.push_back("V" + std::to_string(code) + (code == 0 ? " " + std::to_string(lp) : ""));
            if (code == 0 && onVersion)
                onVersion();
            if (code == 0)
                Step();
            else if (code != 1)
                Failed();
            break;
        case WM_FILE_STATUS: {
            std::string detail = code == 0 ? std::to_string(lp) : Narrow(report.text);
            events.push_back("F" + std::to_string(code) + " " + detail);
            if (code == 0 && onFile)
                onFile();
            if (code == 0 && lp == stopInInstallationAfter)
                StopInInstallation();
            else if (code == 0)
                Step();
            else if (code != 1)
                Failed();
            break;
        }
        case WM_COMMAND:
            if (code == IDOK) {
                events.push_back("OK");
                finished = true;
            }
            break;
        default:
            break;
        }
    }
    void StopInInstallation()
    {
        Step();
        DWORD start = ::GetTickCount();
        while (worker->m_nState == CDownloadThread::kHandleFiles && ::GetTickCount() - start < 10000)
            ::Sleep(0);
        stateAtStop = worker->m_nState;
        worker->Stop();
        finished = true;
    }
    static std::string Narrow(const std::wstring& s) { return std::string(s.begin(), s.end()); }
    void Failed()
    {
        if (retriesLeft-- > 0)
            Step();
        else
            finished = true;
    }
};

class WorkerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetServer();
        ASSERT_TRUE(driver.CreateEx(0, nullptr, L"driver", WS_POPUP, CRect(0, 0, 10, 10), nullptr, 0));
        installer.InitPaths(app.path().c_str());
        engine.WriteOnlyInside(app.path());
        engine.SetServer(L"127.0.0.1", 21, 8085, nullptr, nullptr);
        engine.SetProgressCallback(&WorkerTest::Progress, &driver);
        std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        root = "/worker/" + test;
        uint32_t n = TestNameNumber();
        version = L"3." + std::to_wstring((n >> 16) & 0xFF) + L"." + std::to_wstring((n >> 8) & 0xFF) + L"." +
                  std::to_wstring(n & 0xFF);
        manifest = "/" + std::string(version.begin(), version.end()) + "/update.xml";
        g_log.clear();
        SetLogObserver(CollectLog);
    }
    void TearDown() override
    {
        SetLogObserver(nullptr);
        Unpublish(root);
        Unpublish("/" + std::string(version.begin(), version.end()));
        Unpublish("/update.xml");
        Unpublish("/update.keys");
        if (worker.m_hThread) {
            worker.PostThreadMessage(WM_QUIT, 0, 0);
            ::WaitForSingleObject(worker.m_hThread.Get(), 5000);
        }
        driver.DestroyWindow();
    }

    static void Progress(DWORD expected, DWORD soFar, void* context)
    {
        ::PostMessageW(static_cast<StepDriver*>(context)->m_hWnd, WM_DOWNLOAD_PROGRESS, expected, soFar);
    }

    // Starts the worker as the dialog does.
    void Start(const std::wstring& installed)
    {
        worker.m_strVersion = installed;
        worker.m_pReports = &driver.reports;
        worker.m_pDownload = &engine;
        worker.m_pInstaller = &installer;
        driver.worker = &worker;
        ASSERT_TRUE(worker.CreateThread());
        driver.Step();
    }
    // Starts the worker and runs until the run ends.
    void Run(const std::wstring& installed)
    {
        Start(installed);
        ASSERT_TRUE(PumpUntil([&] { return driver.finished; }, 30000)) << "the run did not end";
    }
    void Continue()
    {
        driver.finished = false;
        driver.Step();
        ASSERT_TRUE(PumpUntil([&] { return driver.finished; }, 30000)) << "the run did not end";
    }
    std::vector<std::string> FileRequests() const
    {
        std::vector<std::string> out;
        for (const ServerRequest& r : GetServerStats().requests)
            if (r.path.find("update.xml") == std::string::npos && r.path != "/update.keys" &&
                r.path.find("update.dlt") == std::string::npos)
                out.push_back(r.path);
        return out;
    }
    std::string Installed(const std::wstring& rel) { return ReadBytes(app / rel); }
    static bool Logged(const std::wstring& text)
    {
        for (const std::wstring& line : g_log)
            if (line.find(text) != std::wstring::npos)
                return true;
        return false;
    }
    // Cut transfers in a release of two files, keyed or not.
    void CutTransfersContinue(bool keyed);
    static std::string LogText()
    {
        std::string all;
        for (const std::wstring& line : g_log)
            all += std::string(line.begin(), line.end()); // the ASCII of it is enough to read a failure
        return all;
    }

    TempFolder app{L"worker"};
    CDownload engine;
    CInstaller installer;
    CDownloadThread worker;
    StepDriver driver;
    std::string root, manifest;
    std::wstring version;
};

} // namespace

TEST_F(WorkerTest, AFreshInstallationAsksForTheRootManifest)
{
    ASSERT_TRUE(PublishRelease("/update.xml", 9, root, {{"/a.txt", "fresh"}}));
    Run(L"0.0.0.0");
    EXPECT_EQ(GetServerStats().requests.at(0).path, "/update.xml");
    EXPECT_EQ(driver.events.back(), "OK");
    EXPECT_EQ(Installed(L"a.txt"), "fresh");
}

TEST_F(WorkerTest, OnlyChangedFilesAreDownloadedWithOneStatusPairPerFile)
{
    std::vector<ReleaseFile> files = {{"/one.dll", PatternBytes(30000, 1)},
                                      {"/two.dll", "unchanged"},
                                      {"/sub/deep/three.dat", PatternBytes(5000, 3)}};
    ASSERT_TRUE(PublishRelease(manifest, 100, root, files));
    ASSERT_TRUE(WriteBytes(app / L"two.dll", "unchanged"));
    ASSERT_TRUE(WriteBytes(app / L"one.dll", "old one"));
    Run(version);

    EXPECT_EQ(driver.events, (std::vector<std::string>{"V1", "V0 3", "F1 /one.dll", "F0 1", "F1 /two.dll", "F0 2",
                                                       "F1 /sub/deep/three.dat", "F0 3", "OK"}));
    EXPECT_EQ(GetServerStats().requests.at(0).path, manifest);
    EXPECT_EQ(FileRequests(), (std::vector<std::string>{root + "/one.dll", root + "/sub/deep/three.dat"}));
    EXPECT_EQ(Installed(L"one.dll"), files[0].bytes);
    EXPECT_EQ(Installed(L"sub\\deep\\three.dat"), files[2].bytes);
    EXPECT_EQ(worker.m_nState, CDownloadThread::kFinished);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(worker.m_xml.GetLatestVersion()->GetFile(i)->done, 1);
    EXPECT_GT(driver.progressMessages, 0);
    // The manifest travelled along; cleaning up removes it with the staging folder.
    EXPECT_TRUE(Exists(app / L"update.xml"));
    installer.Cleanup();
    EXPECT_FALSE(Exists(app / L"update.xml"));
    EXPECT_FALSE(Exists(app / L"$Temp$"));
}

TEST_F(WorkerTest, AFileFailsAfterFiveAttemptsAndRetryGivesFiveMore)
{
    ASSERT_TRUE(PublishRelease(manifest, 5, root, {{"/gone.bin", "content"}}));
    SetServerFault(root + "/gone.bin", "404", 0, 0, 7);
    Run(version);
    std::vector<std::string> expected = {"V1", "V0 1"};
    for (int i = 0; i < 5; ++i)
        expected.push_back("F1 /gone.bin");
    expected.push_back("F-1 /gone.bin");
    EXPECT_EQ(driver.events, expected);
    EXPECT_EQ(FileRequests().size(), 5u);
    EXPECT_EQ(worker.m_nState, CDownloadThread::kHandleFiles); // a retry starts where it failed

    // Retry: two more failures (the fault had seven), then success.
    driver.events.clear();
    Continue();
    EXPECT_EQ(driver.events, (std::vector<std::string>{"F1 /gone.bin", "F1 /gone.bin", "F1 /gone.bin", "F0 1", "OK"}));
    EXPECT_EQ(Installed(L"gone.bin"), "content");
}

TEST_F(WorkerTest, AStagingFolderRemovedBetweenStepsIsMadeAgainForTheNextFile)
{
    ASSERT_TRUE(PublishRelease(manifest, 5, root, {{"/sub/late.bin", "content"}}));
    SetServerFault(root + "/sub/late.bin", "404", 0, 0, 5);
    Run(version);
    ASSERT_EQ(driver.events.back(), "F-1 /sub/late.bin");
    // Another program removes the whole staging folder before the retry.
    installer.DeleteTree(app / L"$Temp$");
    ASSERT_FALSE(Exists(app / L"$Temp$"));
    driver.events.clear();
    Continue();
    EXPECT_EQ(driver.events, (std::vector<std::string>{"F1 /sub/late.bin", "F0 1", "OK"}));
    EXPECT_EQ(Installed(L"sub\\late.bin"), "content");
}

TEST_F(WorkerTest, ADownloadWhoseChecksumDiffersIsNeverKept)
{
    std::string data = PatternBytes(60000, 8);
    ASSERT_TRUE(PublishRelease(manifest, 5, root, {{"/short.bin", data}}));
    ASSERT_TRUE(Publish(root + "/short.bin", PatternBytes(60000, 9))); // not the listed bytes
    ASSERT_TRUE(WriteBytes(app / L"short.bin", "old"));
    Run(version);
    EXPECT_EQ(driver.events.back(), "F-1 /short.bin");
    EXPECT_EQ(FileRequests().size(), 5u);
    EXPECT_FALSE(Exists(app / L"$Temp$\\short.bin"));
    EXPECT_EQ(Installed(L"short.bin"), "old");
}

namespace {

// The published file's own path, for a test that sets its time as a copy
// that keeps file times would.
std::wstring PublishedPath(const std::string& serverPath)
{
    std::wstring path = HarnessFolder(L"QZ_WWW_DIR") + Utf8ToWide(serverPath);
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path;
}

bool PublishedTime(const std::string& serverPath, FILETIME* time, bool set)
{
    CFileHandle file(::CreateFileW(PublishedPath(serverPath).c_str(), FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    return file && (set ? ::SetFileTime(file.Get(), nullptr, nullptr, time)
                        : ::GetFileTime(file.Get(), nullptr, nullptr, time));
}

} // namespace

// A transfer cut off continues from the bytes on disk in the next attempt;
// a whole that then does not verify (the server joined two contents under
// one validator) is fetched once more from its first byte. Keyed runs hash,
// unkeyed ones sum the whole file, whatever came in which answer.
void WorkerTest::CutTransfersContinue(bool keyed)
{
    const std::string c = PatternBytes(300000, 12), d = PatternBytes(300000, 13), other = PatternBytes(300000, 14);
    TestPublisher publisher;
    const std::vector<ReleaseFile> files = {{"/c.bin", c}, {"/d.bin", d}};
    ASSERT_TRUE(keyed ? publisher.PublishSigned(manifest, VersionNumber(version) + 1, root, files)
                      : PublishRelease(manifest, 5, root, files));
    if (keyed)
        worker.m_key = publisher.Trusted();
    // d.bin is served as another file of its size at first.
    FILETIME time = {};
    ASSERT_TRUE(Publish(root + "/d.bin", other) && PublishedTime(root + "/d.bin", &time, false));
    // c.bin is cut at 60 %: the next attempt asks for the rest only. d.bin's
    // five attempts hold 150,000 bytes of the other file.
    SetServerFault(root + "/c.bin", "truncate", 180000, 0, 1);
    SetServerFault(root + "/d.bin", "truncate", 30000, 0, 5);
    Run(version);
    std::vector<std::string> events = {"V1", "V0 2", "F1 /c.bin", "F1 /c.bin", "F0 1"};
    for (int i = 0; i < 5; ++i)
        events.push_back("F1 /d.bin");
    events.push_back("F-1 /d.bin");
    EXPECT_EQ(driver.events, events) << LogText();

    // d.bin published right, with the same time and size (the same
    // validator): the retry's 206 makes a whole that does not verify, and
    // one clean transfer follows in the same attempt.
    ASSERT_TRUE(Publish(root + "/d.bin", d) && PublishedTime(root + "/d.bin", &time, true));
    driver.events.clear();
    Continue();
    EXPECT_EQ(driver.events, (std::vector<std::string>{"F1 /d.bin", "F0 2", "OK"}));
    EXPECT_TRUE(Logged(L"/d.bin did not verify after a resumed transfer")) << LogText();
    EXPECT_EQ(Installed(L"c.bin"), c);
    EXPECT_EQ(Installed(L"d.bin"), d);

    std::map<std::string, std::vector<std::pair<int, uint64_t>>> sent;
    for (const ServerRequest& r : GetServerStats().requests)
        sent[r.path.substr(r.path.rfind('/'))].emplace_back(r.status, r.sent);
    using Sent = std::vector<std::pair<int, uint64_t>>;
    EXPECT_EQ(sent["/c.bin"], (Sent{{200, 180000}, {206, 120000}})); // the file's size, once
    Sent joined = {{200, 30000}, {206, 30000}, {206, 30000}, {206, 30000}, {206, 30000}, {206, 150000}, {200, 300000}};
    EXPECT_EQ(sent["/d.bin"], joined);
}

TEST_F(WorkerTest, ACutTransferContinuesFromItsBytesAndAJoinedWholeStartsAgain)
{
    CutTransfersContinue(false);
}

TEST_F(WorkerTest, AKeyedCutTransferContinuesFromItsBytesAndAJoinedWholeStartsAgain)
{
    CutTransfersContinue(true);
}

TEST_F(WorkerTest, AnUnsafeNameFailsAtOnceWithoutTouchingNetworkOrFiles)
{
    std::string xml = "<update_info><version><ver_id>3</ver_id>\n<ver_root>" + root +
                      "</ver_root>\n<file><f_name>/../escape.txt</f_name>\n<f_size>1</f_size>\n<f_crc>5</f_crc>\n"
                      "</file></version></update_info>\n";
    ASSERT_TRUE(Publish(manifest, xml));
    ASSERT_TRUE(Publish(root + "/../escape.txt", "x"));
    Run(version);
    EXPECT_EQ(driver.events, (std::vector<std::string>{"V1", "V0 1", "F1 /../escape.txt", "F-1 /../escape.txt"}));
    EXPECT_TRUE(FileRequests().empty());
    EXPECT_FALSE(Exists(app.path() + L"\\..\\escape.txt"));
}

TEST_F(WorkerTest, AManifestWithoutAUsableVersionFailsAfterFiveAttempts)
{
    ASSERT_TRUE(Publish(manifest, "<update_info><version><ver_id>0</ver_id></version></update_info>"));
    Run(version);
    std::vector<std::string> expected(5, "V1");
    expected.push_back("V-1");
    EXPECT_EQ(driver.events, expected);
    EXPECT_EQ(GetServerStats().requests.size(), 5u);

    // Missing altogether: the same.
    driver.events.clear();
    ::DeleteFileW((HarnessFolder(L"QZ_WWW_DIR") + L"\\" + version + L"\\update.xml").c_str());
    Continue();
    EXPECT_EQ(driver.events, expected);
}

TEST_F(WorkerTest, AVersionWithoutFilesGoesStraightToTheFinish)
{
    ASSERT_TRUE(PublishRelease(manifest, 8, root, {}));
    Run(version);
    EXPECT_EQ(driver.events, (std::vector<std::string>{"V1", "V0 0", "OK"}));
    EXPECT_EQ(ListTree(app.path()), std::vector<std::wstring>{L"update.xml"}); // until Cleanup
}

TEST_F(WorkerTest, WhatAnInterruptedRunLeftInTheStagingFolderIsNeverInstalled)
{
    // a.txt is current, so this run does not download it: only a leftover
    // could replace it. The foreign file belongs to no release at all.
    ASSERT_TRUE(PublishRelease(manifest, 8, root, {{"/a.txt", "current"}}));
    ASSERT_TRUE(WriteBytes(app / L"a.txt", "current"));
    ASSERT_TRUE(WriteBytes(app / L"$Temp$\\a.txt", "cur"));
    ASSERT_TRUE(WriteBytes(app / L"$Temp$\\left\\over.txt", "foreign"));
    ASSERT_TRUE(::SetFileAttributesW((app / L"$Temp$\\left\\over.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    Run(version);
    EXPECT_EQ(driver.events.back(), "OK");
    EXPECT_EQ(Installed(L"a.txt"), "current");
    EXPECT_EQ(ListTree(app.path()), (std::vector<std::wstring>{L"a.txt", L"update.xml"}));
}

TEST_F(WorkerTest, TheStopFlagEndsAStepBeforeItsFirstAttempt)
{
    ASSERT_TRUE(PublishRelease(manifest, 8, root, {{"/a", "a"}}));
    worker.m_nStop = 1;
    worker.m_strVersion = version;
    worker.m_pReports = &driver.reports;
    worker.m_pDownload = &engine;
    worker.m_pInstaller = &installer;
    worker.OnUpdateStep(); // on this thread: nothing to wait for
    PumpPending();
    EXPECT_TRUE(driver.events.empty());
    EXPECT_TRUE(GetServerStats().requests.empty());
}

TEST_F(WorkerTest, AVersionWhoseRootWasCutIsNotUsable)
{
    // Cut, the root would send the file requests to another place on the server.
    std::string longRoot = root + "/" + std::string(120, 'r');
    std::string xml = "<update_info><version><ver_id>5</ver_id>\n<ver_root>" + longRoot +
                      "</ver_root>\n<file><f_name>/a.txt</f_name>\n<f_size>3</f_size>\n<f_crc>" +
                      std::to_string(ChecksumOf("new")) + "</f_crc>\n</file></version></update_info>\n";
    ASSERT_TRUE(Publish(manifest, xml));
    ASSERT_TRUE(Publish(longRoot + "/a.txt", "new"));
    ASSERT_TRUE(Publish("/a.txt", "new"));
    Run(version);
    std::vector<std::string> expected(5, "V1");
    expected.push_back("V-1");
    EXPECT_EQ(driver.events, expected);
    EXPECT_TRUE(FileRequests().empty());
    EXPECT_FALSE(Exists(app / L"a.txt"));
}

TEST_F(WorkerTest, TheRootTravelsAsThePublisherWroteItAndTheNameEscaped)
{
    // An already encoded root ("%41" is "A") with Chinese in it, and a name with "%" and "#".
    std::string writtenRoot = root + "/\xE5\x8F\x91\xE5\xB8\x83%41";
    std::string servedRoot = root + "/\xE5\x8F\x91\xE5\xB8\x83" "A";
    std::vector<ReleaseFile> files = {{"/50%#1.txt", "fifty"}};
    ASSERT_TRUE(Publish(servedRoot + "/50%#1.txt", "fifty"));
    ASSERT_TRUE(Publish(manifest, ManifestFor(5, writtenRoot, files)));
    Run(version);
    EXPECT_EQ(driver.events.back(), "OK");
    // The server lists the paths it served percent-encoded.
    EXPECT_EQ(FileRequests(), std::vector<std::string>{root + "/%E5%8F%91%E5%B8%83A/50%25%231.txt"});
    EXPECT_EQ(Installed(L"50%#1.txt"), "fifty");
}

TEST_F(WorkerTest, StopEndsAWorkerStalledInTheMiddleOfABodyAtOnceAndByItself)
{
    ASSERT_TRUE(PublishRelease(manifest, 5, root, {{"/stalled.bin", PatternBytes(300000, 4)}}));
    SetServerFault(root + "/stalled.bin", "stall", 200000, 30000, 1);
    ASSERT_TRUE(WriteBytes(app / L"stalled.bin", "old"));
    Start(version);
    // Far less than the receive time-out (20 s) later, the body has begun and stalls.
    ASSERT_TRUE(PumpUntil([&] { return driver.progressMessages > 0; }, 10000));
    PumpUntil([] { return false; }, 300);

    DWORD start = ::GetTickCount();
    worker.Stop();
    EXPECT_LT(::GetTickCount() - start, testsupport::Scaled(1500)); // the stall lasts 30 s
    DWORD code = STILL_ACTIVE;
    ASSERT_TRUE(::GetExitCodeThread(worker.m_hThread.Get(), &code));
    EXPECT_EQ(code, 0u); // the loop's own end, not a kill
    EXPECT_EQ(worker.m_nState, CDownloadThread::kHandleFiles);
    installer.Cleanup();
    engine.CloseAll();
    EXPECT_EQ(Installed(L"stalled.bin"), "old");
    EXPECT_FALSE(Exists(app / L"$Temp$"));
}

TEST_F(WorkerTest, StopDuringTheInstallationLetsItFinishSoAllFilesAreInPlace)
{
    std::vector<ReleaseFile> files;
    // As many as one manifest holds.
    for (int i = 0; i < 80; ++i)
        files.push_back({"/many/f" + std::to_string(i) + ".txt", "new " + std::to_string(i)});
    ASSERT_TRUE(PublishRelease(manifest, 5, root, files));
    for (int i = 0; i < 80; ++i)
        ASSERT_TRUE(WriteBytes(app / (L"many\\f" + std::to_wstring(i) + L".txt"), "old"));
    driver.stopInInstallationAfter = 80;
    Run(version);

    EXPECT_NE(driver.stateAtStop, CDownloadThread::kHandleFiles) << "the installation did not begin";
    EXPECT_EQ(worker.m_nState, CDownloadThread::kFinished);
    int replaced = 0;
    for (int i = 0; i < 80; ++i)
        replaced += Installed(L"many\\f" + std::to_wstring(i) + L".txt") == files[i].bytes;
    EXPECT_EQ(replaced, 80);
    EXPECT_FALSE(Exists(app / L"$Temp$"));
}

namespace {

// Other bytes with the same additive checksum: one word up by one, the next down by one.
std::string SameSumOtherBytes(std::string bytes)
{
    uint32_t w0, w1;
    std::memcpy(&w0, &bytes[0], 4);
    std::memcpy(&w1, &bytes[4], 4);
    ++w0;
    --w1;
    std::memcpy(&bytes[0], &w0, 4);
    std::memcpy(&bytes[4], &w1, 4);
    return bytes;
}

// The signature file with one bit of r || s flipped.
std::string FlipSignatureBit(const std::string& file)
{
    size_t at = file.rfind("signature ") + 10;
    P256Signature signature{};
    FromHex(file.substr(at, 128), signature.data(), signature.size());
    signature[17] ^= 0x04;
    return file.substr(0, at) + ToHex(signature.data(), signature.size()) + "\n";
}

} // namespace

TEST_F(WorkerTest, AKeyedWorkerInstallsTheSignedReleaseAndNothingElseFromTheStagingFolder)
{
    TestPublisher publisher;
    std::vector<ReleaseFile> files = {{"/one.dll", PatternBytes(30000, 1)},
                                      {"/two.dll", "unchanged"},
                                      {"/sub/three.dat", PatternBytes(5000, 3)}};
    const uint32_t installed = VersionNumber(version), next = installed + 1;
    const std::string xml = ManifestFor(next, root, files), signature = publisher.Sign(SignedListFor(next, xml, files));
    ASSERT_TRUE(PublishRelease(manifest, next, root, files) && Publish(SignaturePathBeside(manifest), signature));
    ASSERT_TRUE(WriteBytes(app / L"two.dll", "unchanged"));
    // The release's checksum, not its content: only the hash tells them apart.
    ASSERT_TRUE(WriteBytes(app / L"one.dll", SameSumOtherBytes(files[0].bytes)));
    // Files that appear in the staging folder after the signature was checked.
    driver.onVersion = [&] {
        WriteBytes(app / L"$Temp$\\two.dll", "planted");
        WriteBytes(app / L"$Temp$\\extra.dll", "planted");
    };
    // A verified file can be read, but neither changed nor swapped before its move.
    // Keyed, it is staged where a cut transfer of it would be kept: by its hash.
    std::vector<BOOL> swapped;
    Sha256Digest oneHash{};
    ASSERT_TRUE(Sha256(files[0].bytes.data(), files[0].bytes.size(), &oneHash));
    const std::wstring staged = app / (L"$Temp$\\Temp\\" + Utf8ToWide(ToHex(oneHash.data(), oneHash.size())));
    driver.onFile = [&] {
        const std::wstring other = app / L"$Temp$\\other.dll";
        if (!swapped.empty() || !Exists(staged))
            return;
        EXPECT_EQ(ReadBytes(staged), files[0].bytes);
        WriteBytes(other, "swapped");
        swapped = {WriteBytes(staged, "swapped"), ::DeleteFileW(staged.c_str()),
                   ::MoveFileExW(other.c_str(), staged.c_str(), MOVEFILE_REPLACE_EXISTING)};
    };
    worker.m_key = publisher.Trusted();
    Run(version);

    EXPECT_EQ(driver.events, (std::vector<std::string>{"V1", "V0 3", "F1 /one.dll", "F0 1", "F1 /two.dll", "F0 2",
                                                       "F1 /sub/three.dat", "F0 3", "OK"}))
        << LogText();
    EXPECT_EQ(swapped, (std::vector<BOOL>{FALSE, FALSE, FALSE}));
    EXPECT_EQ(FileRequests(), (std::vector<std::string>{SignaturePathBeside(manifest), root + "/one.dll",
                                                        root + "/sub/three.dat"}));
    EXPECT_TRUE(Logged(L"Signature verified: release " + std::to_wstring(next) + L", 3 files, signed with key " +
                       Utf8ToWide(KeyId(publisher.publicKey))));
    installer.Cleanup();
    // The verified signature is kept as the record of what is installed.
    EXPECT_EQ(ListTree(app.path()),
              (std::vector<std::wstring>{L"one.dll", L"sub\\three.dat", L"two.dll", L"update.sig"}));
    EXPECT_EQ(ReadBytes(app / L"update.sig"), signature);
    EXPECT_EQ(Installed(L"one.dll"), files[0].bytes);
    EXPECT_EQ(Installed(L"two.dll"), "unchanged");
    EXPECT_EQ(Installed(L"sub\\three.dat"), files[2].bytes);

    // The settings still name the older version: the record decides. A replay
    // of the installed release installs nothing and is no failure; the older
    // release and another one of the installed version are refused.
    std::vector<ReleaseFile> old = {{"/one.dll", "old one"}};
    std::string other = ManifestFor(next, root, old);
    struct Case {
        const char* what;
        std::string manifest, signature;
        std::vector<std::string> events;
        std::wstring logged;
    } cases[] = {
        {"replay", xml, signature,
         {"V1", "V0 3", "F1 /one.dll", "F0 1", "F1 /two.dll", "F0 2", "F1 /sub/three.dat", "F0 3", "OK"},
         L"Signature verified"},
        {"older", ManifestFor(installed, root, old),
         publisher.Sign(SignedListFor(installed, ManifestFor(installed, root, old), old)),
         {"V1", "V1", "V1", "V1", "V1", "V-2"}, L"no downgrade"},
        {"another of the version", other, publisher.Sign(SignedListFor(next, other, old)),
         {"V1", "V1", "V1", "V1", "V1", "V-2"}, L"another one of the installed version"},
    };
    driver.onVersion = driver.onFile = nullptr;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(Publish(manifest, c.manifest));
        ASSERT_TRUE(Publish(SignaturePathBeside(manifest), c.signature));
        g_log.clear();
        driver.events.clear();
        worker.m_nState = CDownloadThread::kFetchManifest;
        Continue();
        EXPECT_EQ(driver.events, c.events) << LogText();
        EXPECT_TRUE(Logged(c.logged)) << LogText();
        EXPECT_EQ(Installed(L"one.dll"), files[0].bytes);
    }
}

// A keyed worker builds a changed file from the signed index's patch of the
// installed content (or its compressed copy) and checks the result as a
// download; whatever is wrong with the index or the patch costs only the
// whole file. An unkeyed worker never asks for the index.
TEST_F(WorkerTest, AKeyedWorkerBuildsAChangedFileFromASignedPatchOrElseFetchesItWhole)
{
    TestPublisher publisher;
    const std::string old = PatternBytes(120000, 21), other = PatternBytes(120000, 22);
    std::string fresh = old;
    fresh.replace(5000, 9, "new bytes");
    fresh += "appended";
    const std::vector<ReleaseFile> files = {{"/a.bin", fresh}};
    const uint32_t next = VersionNumber(version) + 1;
    ASSERT_TRUE(publisher.PublishSigned(manifest, next, root, files));
    const std::string xml = ManifestFor(next, root, files), indexPath = manifest.substr(0, manifest.size() - 4) + ".dlt";
    Sha256Digest oldSha{}, freshSha{}, manifestSha{};
    ASSERT_TRUE(Sha256(old.data(), old.size(), &oldSha) && Sha256(fresh.data(), fresh.size(), &freshSha) &&
                Sha256(xml.data(), xml.size(), &manifestSha));
    std::string patch, packed, wrongResult;
    ASSERT_TRUE(MakePatch(old, fresh, true, &patch) && MakePatch("", fresh, false, &packed));
    std::string otherFresh = fresh;
    otherFresh[7] ^= 1; // the same size, another content
    ASSERT_TRUE(MakePatch(old, otherFresh, true, &wrongResult));
    auto Flipped = [](std::string bytes, size_t at) {
        bytes[at] ^= 0x20;
        return bytes;
    };
    auto entry = [&](const std::string& method, const std::string& bytes, bool source = true) {
        DeltaEntry e;
        e.method = method;
        e.hasSource = source;
        e.sourceSize = source ? static_cast<uint32_t>(old.size()) : 0;
        e.source = oldSha;
        e.result = freshSha;
        e.patchSize = static_cast<uint32_t>(bytes.size());
        Sha256(bytes.data(), bytes.size(), &e.patch);
        e.path = root + "/patches/" + method + ".zst";
        return e;
    };
    const std::string pf1 = entry("zstd-pf1", patch).path, zstd1 = entry("zstd1", packed, false).path;
    ASSERT_TRUE(Publish(pf1, patch) && Publish(zstd1, packed) && Publish(entry("zstd-pf9", patch).path, patch));
    struct Case {
        const char* what;
        bool keyed;
        std::string installed;
        std::vector<DeltaEntry> entries;
        std::string published;           // in place of the first entry's bytes, when not empty
        std::function<void(DeltaIndex&)> change;
        std::string fetched;             // the patch asked for, if any
        bool patched;                    // else the whole file follows
        std::wstring logged;
    } cases[] = {
        {"a good patch", true, old, {entry("zstd-pf1", patch), entry("zstd1", packed, false)}, "", nullptr, pf1, true,
         L"Patched /a.bin (zstd-pf1)"},
        {"a compressed copy for another content", true, other,
         {entry("zstd-pf1", patch), entry("zstd1", packed, false)}, "", nullptr, zstd1, true, L"Patched /a.bin (zstd1)"},
        {"a corrupt patch", true, old, {entry("zstd-pf1", patch)}, Flipped(patch, patch.size() / 2),
         nullptr, pf1, false, L"the patch is not the signed one"},
        {"a wrong source hash", true, old, {entry("zstd-pf1", patch)}, "",
         [&](DeltaIndex& i) { i.entries[0].source = freshSha; }, "", false, L""},
        {"an output mismatch", true, old, {entry("zstd-pf1", wrongResult)}, wrongResult, nullptr, pf1, false,
         L"its result is not the signed file"},
        {"an oversized patch", true, old, {entry("zstd-pf1", patch)}, patch + "more", nullptr, pf1, false,
         L"the patch could not be fetched"},
        {"an unknown method", true, old, {entry("zstd-pf9", patch)}, "", nullptr, "", false, L""},
        {"an index of another manifest", true, old, {entry("zstd-pf1", patch)}, "",
         [&](DeltaIndex& i) { i.manifestSha256 = oldSha; }, "", false, L"it belongs to another manifest"},
        {"an unkeyed worker", false, old, {entry("zstd-pf1", patch)}, "", nullptr, "", false, L""},
    };
    bool started = false;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DeltaIndex index;
        index.manifestSha256 = manifestSha;
        index.entries = c.entries;
        if (c.change)
            c.change(index);
        ASSERT_TRUE(Publish(indexPath, publisher.SignIndex(index)));
        ASSERT_TRUE(Publish(pf1, c.published.empty() ? patch : c.published));
        ASSERT_TRUE(WriteBytes(app / L"a.bin", c.installed));
        ::DeleteFileW((app / L"update.sig").c_str()); // no record: the same release again
        worker.m_key = c.keyed ? publisher.Trusted() : PublisherKey();
        ResetServer();
        g_log.clear();
        driver.events.clear();
        worker.m_nState = CDownloadThread::kFetchManifest;
        if (started) {
            Continue();
        } else {
            Run(version);
            started = true;
        }
        EXPECT_EQ(driver.events, (std::vector<std::string>{"V1", "V0 1", "F1 /a.bin", "F0 1", "OK"})) << LogText();
        EXPECT_EQ(Installed(L"a.bin"), fresh);
        std::vector<std::string> asked, expected;
        for (const ServerRequest& r : GetServerStats().requests)
            if (r.path.find("/update.") == std::string::npos || r.path == indexPath)
                asked.push_back(r.path);
        if (c.keyed)
            expected.push_back(indexPath);
        if (!c.fetched.empty())
            expected.push_back(c.fetched);
        if (!c.patched)
            expected.push_back(root + "/a.bin");
        EXPECT_EQ(asked, expected);
        EXPECT_TRUE(c.logged.empty() || Logged(c.logged)) << LogText();
    }
}

TEST_F(WorkerTest, AKeyedWorkerRefusesEveryReleaseButTheSignedOneAsAFailedManifestStep)
{
    TestPublisher publisher, stranger;
    uint32_t installed = VersionNumber(version);
    std::vector<ReleaseFile> files = {{"/a.txt", "new a"}, {"/b.txt", "new b"}};
    std::string xml = ManifestFor(installed + 1, root, files);
    SignedRelease listed = SignedListFor(installed + 1, xml, files);
    std::string good = publisher.Sign(listed);
    std::string changed = xml;
    changed.replace(changed.find("<ver_flag>0"), 11, "<ver_flag>1");
    SignedRelease firstOnly = SignedListFor(installed + 1, xml, {files[0]});
    SignedRelease otherSize = listed;
    ++otherSize.files[1].size;
    std::string older = ManifestFor(installed - 1, root, files);
    SignedRelease expired = listed;
    ASSERT_TRUE(ParseUtcTimeText("2020-01-01T00:00:00Z", &expired.expires));
    struct Case {
        const char* what;
        std::string manifest, signature; // no signature file when empty and absent
        bool absent;
        std::wstring reason;
        bool parsed = false; // the parser saw the manifest: only once its hash was the signed one
    } cases[] = {
        {"missing", xml, "", true, L"is missing"},
        {"another key", xml, stranger.Sign(listed), false, L"this updater trusts key"},
        {"one bit flipped", xml, FlipSignatureBit(good), false, L"does not verify"},
        {"manifest changed after signing", changed, good, false, L"the manifest is not the signed one"},
        {"a file not in the signed list", xml, publisher.Sign(firstOnly), false, L"lists 2 files, the signed list 1", true},
        {"a size not the signed one", xml, publisher.Sign(otherSize), false, L"is not the signed /b.txt of 6 bytes", true},
        {"another version signed", xml, publisher.Sign(SignedListFor(installed + 2, xml, files)), false,
         L"is not the signed version", true},
        {"a replayed older release", older, publisher.Sign(SignedListFor(installed - 1, older, files)), false,
         L"no downgrade", true},
        {"expired", xml, publisher.Sign(expired), false, L"the signature expired at 2020-01-01T00:00:00Z"},
        {"empty", xml, "", false, L"the signature file is empty"},
        {"truncated mid-line", xml, good.substr(0, good.size() / 2), false, L"malformed"},
        {"without its signature line", xml, good.substr(0, good.rfind("signature ")), false, L"malformed at line 7 (signature)"},
        {"huge", xml, good + std::string(70000, '0'), false, L"larger than 65536 bytes"},
        {"binary", xml, PatternBytes(3000, 9), false, L"not a signature file"},
        {"CR LF line ends", xml, [&] {
             std::string crlf;
             for (char c : good)
                 crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
             return crlf;
         }(), false, L"malformed"},
    };
    ASSERT_TRUE(WriteBytes(app / L"a.txt", "old a"));
    for (const ReleaseFile& f : files)
        ASSERT_TRUE(Publish(root + f.name, f.bytes));
    worker.m_key = publisher.Trusted();
    bool first = true;
    for (const Case& c : cases) {
        // Refused as not genuine, but for a signature that never arrived.
        std::vector<std::string> refused(5, "V1");
        refused.push_back(c.absent ? "V-1" : "V-2");
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(Publish(manifest, c.manifest));
        Unpublish(SignaturePathBeside(manifest));
        if (!c.absent) {
            ASSERT_TRUE(Publish(SignaturePathBeside(manifest), c.signature));
        }
        ResetServer();
        g_log.clear();
        driver.events.clear();
        worker.m_xml.ParseBuffer("", 0); // an empty table
        if (first)
            Run(version);
        else
            Continue();
        first = false;
        EXPECT_EQ(driver.events, refused);
        EXPECT_TRUE(Logged(L"Signature check failed: ")) << LogText();
        EXPECT_TRUE(Logged(c.reason)) << LogText();
        EXPECT_EQ(worker.m_xml.GetVersionCount() > 0, c.parsed);
        EXPECT_EQ(FileRequests(), std::vector<std::string>(5, SignaturePathBeside(manifest)));
        // The manifest is read into memory, never written.
        EXPECT_EQ(ListTree(app.path()), (std::vector<std::wstring>{L"a.txt"}));
    }

    // An updater whose stamped key cannot be read refuses even the good release.
    ASSERT_TRUE(Publish(manifest, xml));
    ASSERT_TRUE(Publish(SignaturePathBeside(manifest), good));
    worker.m_key = PublisherKeyFromText("qz-update-public-key 1\necdsa-p256 00\n");
    g_log.clear();
    driver.events.clear();
    Continue();
    EXPECT_EQ(driver.events, (std::vector<std::string>{"V1", "V1", "V1", "V1", "V1", "V-2"}));
    EXPECT_TRUE(Logged(L"not a public key file")) << LogText();

    installer.Cleanup();
    EXPECT_EQ(ListTree(app.path()), std::vector<std::wstring>{L"a.txt"});
    EXPECT_EQ(Installed(L"a.txt"), "old a");
}

TEST_F(WorkerTest, AKeyedWorkerRefusesAFileWhoseChecksumWasKeptButNotItsContent)
{
    TestPublisher publisher;
    std::vector<ReleaseFile> files = {{"/a.dll", PatternBytes(10000, 5)}};
    std::string tampered = SameSumOtherBytes(files[0].bytes);
    ASSERT_EQ(ChecksumOf(tampered), ChecksumOf(files[0].bytes)); // the sum cannot tell
    ASSERT_TRUE(publisher.PublishSigned(manifest, VersionNumber(version) + 1, root, files));
    ASSERT_TRUE(Publish(root + "/a.dll", tampered));
    ASSERT_TRUE(WriteBytes(app / L"a.dll", "old"));
    worker.m_key = publisher.Trusted();
    Run(version);
    std::vector<std::string> failed = {"V1", "V0 1"};
    for (int i = 0; i < 5; ++i)
        failed.push_back("F1 /a.dll");
    failed.push_back("F-1 /a.dll");
    EXPECT_EQ(driver.events, failed);
    EXPECT_TRUE(Logged(L"Download of /a.dll refused: its SHA-256 is not the signed one")) << LogText();
    EXPECT_FALSE(Exists(app / L"$Temp$\\a.dll"));

    // Longer than signed: cut off as soon as it shows, and not kept.
    ASSERT_TRUE(Publish(root + "/a.dll", files[0].bytes + PatternBytes(50000, 6)));
    driver.events.clear();
    Continue();
    EXPECT_EQ(driver.events, std::vector<std::string>(failed.begin() + 2, failed.end()));
    EXPECT_TRUE(Logged(L"/a.dll is longer than 10000 bytes")) << LogText();
    EXPECT_FALSE(Exists(app / L"$Temp$\\a.dll"));
    EXPECT_EQ(Installed(L"a.dll"), "old");

    // Retry once the server has the signed file.
    ASSERT_TRUE(Publish(root + "/a.dll", files[0].bytes));
    driver.events.clear();
    Continue();
    EXPECT_EQ(driver.events, (std::vector<std::string>{"F1 /a.dll", "F0 1", "OK"}));
    EXPECT_EQ(Installed(L"a.dll"), files[0].bytes);
}

TEST_F(WorkerTest, AKeyedWorkerRefusesAReplacementOfItselfThatCarriesNoKey)
{
    TestPublisher publisher;
    TempFolder keys(L"keys");
    std::string id;
    std::wstring error;
    const std::string plain = ReadBytes(AfxGetModuleFolder() + L"\\update.exe");
    ASSERT_TRUE(WriteBytes(keys / L"publisher.pub", PublicKeyText(publisher.publicKey)));
    ASSERT_TRUE(WriteBytes(keys / L"update.exe", plain));
    ASSERT_TRUE(StampUpdater(keys / L"publisher.pub", keys / L"update.exe", &id, &error));
    const std::string stamped = ReadBytes(keys / L"update.exe");
    // Read from the bytes as the loader reads it from the file.
    EXPECT_EQ(PublisherKeyOfImage(plain).state, KeyState::None);
    EXPECT_EQ(PublisherKeyOfImage(stamped).id, id);
    EXPECT_EQ(PublisherKeyOfImage(PatternBytes(4096, 7)).state, KeyState::Unusable); // no image at all

    ASSERT_TRUE(WriteBytes(app / L"update.exe", "old"));
    worker.m_key = publisher.Trusted();
    // The running updater as the system may name it: its short name, which
    // no comparison of path texts matches with the manifest's name.
    wchar_t shortName[MAX_PATH] = {};
    DWORD n = ::GetShortPathNameW((app / L"update.exe").c_str(), shortName, MAX_PATH);
    ASSERT_TRUE(n > 0 && n < MAX_PATH);
    ASSERT_NE(::CompareStringOrdinal(shortName, -1, (app / L"update.exe").c_str(), -1, TRUE), CSTR_EQUAL);
    worker.m_strOwnProgram = shortName;
    ASSERT_TRUE(publisher.PublishSigned(manifest, VersionNumber(version) + 1, root, {{"/update.exe", plain}}));
    Run(version);
    std::vector<std::string> refused = {"V1", "V0 1"};
    refused.insert(refused.end(), 5, "F1 /update.exe");
    refused.push_back("F-2 /update.exe");
    EXPECT_EQ(driver.events, refused);
    EXPECT_TRUE(Logged(L"a replacement of this updater that carries no usable key")) << LogText();
    EXPECT_EQ(Installed(L"update.exe"), "old");

    ASSERT_TRUE(publisher.PublishSigned(manifest, VersionNumber(version) + 1, root, {{"/update.exe", stamped}}));
    driver.events.clear();
    worker.m_nState = CDownloadThread::kFetchManifest;
    Continue();
    EXPECT_EQ(driver.events.back(), "OK") << LogText();
    EXPECT_EQ(Installed(L"update.exe"), stamped);
}

// A file the release needs below a folder where the installation has a plain
// file: installing the rest would report a release that is not there.
TEST_F(WorkerTest, AReleaseThatCannotBePlacedWholeInstallsNothingKeyedOrNot)
{
    TestPublisher publisher;
    std::vector<ReleaseFile> files = {{"/a.txt", "new a"}, {"/skin/b.bmp", "new b"}};
    const std::wstring skin = app / L"skin";
    const std::string blocked = "F-6 " + std::string(skin.begin(), skin.end());
    for (bool keyed : {false, true}) {
        SCOPED_TRACE(keyed ? "keyed" : "unkeyed");
        ASSERT_TRUE(WriteBytes(app / L"a.txt", "old a"));
        ASSERT_TRUE(WriteBytes(app / L"skin", "a file, not a folder"));
        ASSERT_TRUE(keyed ? publisher.PublishSigned(manifest, VersionNumber(version) + 1, root, files)
                          : PublishRelease(manifest, VersionNumber(version) + 1, root, files));
        worker.m_key = keyed ? publisher.Trusted() : PublisherKey();
        driver.events.clear();
        worker.m_nState = CDownloadThread::kFetchManifest;
        if (keyed)
            Continue();
        else
            Run(version);
        EXPECT_EQ(driver.events, (std::vector<std::string>{"V1", "V0 2", "F1 /a.txt", "F0 1", "F1 /skin/b.bmp",
                                                           "F0 2", blocked}))
            << LogText();
        EXPECT_EQ(Installed(L"a.txt"), "old a");
        EXPECT_EQ(Installed(L"skin"), "a file, not a folder");
        EXPECT_FALSE(Exists(app / L"update.sig")) << "a record of a release that was not installed";
    }
}

TEST_F(WorkerTest, ASignedReleaseArrivesThroughAPlainWebServerToo)
{
    // Python's http.server on the same folder (HTTP/1.0, no keep-alive, its
    // own headers), and nginx as the publishing guide configures it.
    const std::vector<std::pair<const char*, WORD>> servers = {{"http.server", 8086}, {"nginx", kNginxPort}};
    TestPublisher publisher;
    for (const auto& server : servers) {
        SCOPED_TRACE(server.first);
        engine.CloseAll(); // a connection is to the server it was made for
        engine.SetServer(L"127.0.0.1", 21, server.second, nullptr, nullptr);
        ResetServer();
        ResetNginx();
        const uint32_t next = VersionNumber(version) + 1;
        ::DeleteFileW((app / L"update.sig").c_str()); // each server's run starts from the same installation
        std::vector<ReleaseFile> files = {{"/a.txt", "new a " + std::string(server.first)},
                                          {"/sub/b.bin", PatternBytes(70000, server.second)}};
        ASSERT_TRUE(publisher.PublishSigned(manifest, next, root, files));
        worker.m_key = publisher.Trusted();
        driver.events.clear();
        worker.m_nState = CDownloadThread::kFetchManifest;
        if (server.second == kNginxPort)
            Continue(); // the same worker, as a Retry
        else
            Run(version);
        EXPECT_EQ(driver.events.back(), "OK") << LogText();
        EXPECT_TRUE(Logged(L"Signature verified")) << LogText();
        EXPECT_EQ(Installed(L"a.txt"), files[0].bytes);
        EXPECT_EQ(Installed(L"sub\\b.bin"), files[1].bytes);
        EXPECT_TRUE(GetServerStats().requests.empty()); // all of it from the other server
        EXPECT_EQ(GetNginxStats().requests.size(), server.second == kNginxPort ? 6u : 0u)
            << "manifest, signature, keys, delta index, files";
    }
}

TEST_F(WorkerTest, AKeyChangeStrandsNoInstallationAndAnOldKeySignsNothingAfterItsHandover)
{
    TestPublisher oldKey, newKey, third;
    const uint32_t base = VersionNumber(version), rotation = base + 2, next = base + 3, secondRotation = base + 5;
    const std::string handover = oldKey.HandOverTo(newKey, 1, rotation), none;
    const std::string revoking = handover + newKey.HandOverTo(third, 2, secondRotation, {KeyId(oldKey.publicKey)});
    const std::vector<ReleaseFile> first = {{"/a.txt", "first"}}, rotated = {{"/a.txt", "rotation"}};
    const std::string missedRecord = oldKey.Sign(SignedListFor(base + 1, ManifestFor(base + 1, root, first), first));
    struct Case {
        const char* what;
        const TestPublisher& stamped;
        const std::string* keptChain; // written into the program folder first (empty: removed); null: as left
        const std::string* record;    // likewise
        std::string serverChain;      // empty: none published
        const TestPublisher& signer;
        uint32_t versionId;
        std::vector<ReleaseFile> files;
        std::string last; // the run's last event
        size_t downloads;
        std::wstring logged;
    } cases[] = {
        {"the old key's updater takes the release that hands over", oldKey, &none, &none, handover, oldKey, rotation,
         rotated, "OK", 1, L"Following 1 key handovers: the newest key is " + Utf8ToWide(KeyId(newKey.publicKey))},
        {"the new key's updater finds it current, the old key's record verified", newKey, nullptr, nullptr, handover,
         oldKey, rotation, rotated, "OK", 0, L"Signature verified"},
        {"an older release the old key signed is below that record", newKey, nullptr, nullptr, handover, oldKey,
         rotation - 1, first, "V-2", 0, L"no downgrade"},
        {"the old key signs nothing after its handover", newKey, nullptr, nullptr, handover, oldKey, next, first, "V-2",
         0, L"handed over to a newer key at release " + std::to_wstring(rotation)},
        {"the new key signs the next release", newKey, nullptr, nullptr, handover, newKey, next, {{"/a.txt", "next"}},
         "OK", 1, L"Signature verified"},
        {"an old key's installation that missed the handover follows the chain", oldKey, &none, &missedRecord,
         handover, newKey, base + 4, {{"/a.txt", "later"}}, "OK", 1, L"Signature verified"},
        {"a revoked key verifies nothing", newKey, nullptr, nullptr, revoking, oldKey, rotation, rotated, "V-2", 0,
         L"which a handover revoked"},
        {"a server's chain shorter than the kept one lowers nothing", oldKey, &revoking, nullptr, handover, newKey,
         secondRotation + 1, first, "V-2", 0,
         L"handed over to a newer key at release " + std::to_wstring(secondRotation)},
    };
    bool started = false;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const auto& kept : {std::make_pair(c.keptChain, L"update.keys"), std::make_pair(c.record, L"update.sig")}) {
            if (kept.first && kept.first->empty()) {
                ::DeleteFileW((app / kept.second).c_str());
            } else if (kept.first) {
                ASSERT_TRUE(WriteBytes(app / kept.second, *kept.first));
            }
        }
        Unpublish("/update.keys");
        ASSERT_TRUE((c.serverChain.empty() || Publish("/update.keys", c.serverChain)) &&
                    c.signer.PublishSigned(manifest, c.versionId, root, c.files));
        worker.m_key = c.stamped.Trusted();
        ResetServer();
        g_log.clear();
        driver.events.clear();
        worker.m_nState = CDownloadThread::kFetchManifest;
        if (started)
            Continue();
        else
            Run(version);
        started = true;
        EXPECT_EQ(driver.events.back(), c.last) << LogText();
        EXPECT_TRUE(Logged(c.logged)) << LogText();
        const std::vector<std::string> requests = FileRequests();
        EXPECT_EQ(static_cast<size_t>(std::count_if(requests.begin(), requests.end(),
                                                     [&](const std::string& r) { return r.find(root) == 0; })),
                  c.downloads);
        if (c.last == "OK") {
            // Installed, with the chain it followed kept beside the record.
            EXPECT_EQ(Installed(L"a.txt"), c.files[0].bytes);
            EXPECT_EQ(Installed(L"update.keys"), c.serverChain);
        }
    }
}
