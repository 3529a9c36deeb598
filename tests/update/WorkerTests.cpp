// The update procedure on its worker thread, step by step against the local
// server, driven the way the dialog drives it.
#include "DownloadThread.h"
#include "ReleaseSupport.h"
#include "TestSupport.h"
#include "UpdateMessages.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace testsupport;

namespace {

// Stands in for the dialog: records every status and posts the next step
// where the dialog would; a failure ends the run unless retries are left.
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

    void Step() { worker->PostThreadMessage(WM_UPDATE_STEP, 0, 0); }

protected:
    LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp) override
    {
        int code = static_cast<int>(wp);
        switch (msg) {
        case WM_DOWNLOAD_PROGRESS:
            ++progressMessages;
            return 0;
        case WM_VERSION_STATUS:
            events.push_back("V" + std::to_string(code) + (code == 0 ? " " + std::to_string(lp) : ""));
            if (code == 0)
                Step();
            else if (code != 1)
                Failed();
            return 0;
        case WM_FILE_STATUS: {
            std::string detail = code == 0 ? std::to_string(lp) : Narrow(reinterpret_cast<const wchar_t*>(lp));
            events.push_back("F" + std::to_string(code) + " " + detail);
            if (code == 0 && lp == stopInInstallationAfter)
                StopInInstallation();
            else if (code == 0)
                Step();
            else if (code != 1)
                Failed();
            return 0;
        }
        case WM_COMMAND:
            if (LOWORD(wp) == IDOK) {
                events.push_back("OK");
                finished = true;
                return 0;
            }
            break;
        default:
            break;
        }
        return CWnd::WindowProc(msg, wp, lp);
    }

private:
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
    static std::string Narrow(const wchar_t* s) { return std::string(s, s + wcslen(s)); }
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
        engine.InitPaths(app.path().c_str());
        engine.SetServer(L"127.0.0.1", 21, 8085, nullptr, nullptr);
        engine.SetProgressCallback(&WorkerTest::Progress, &driver);
        std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        root = "/worker/" + test;
        uint32_t n = TestNameNumber();
        version = L"3." + std::to_wstring((n >> 16) & 0xFF) + L"." + std::to_wstring((n >> 8) & 0xFF) + L"." +
                  std::to_wstring(n & 0xFF);
        manifest = "/" + std::string(version.begin(), version.end()) + "/update.xml";
    }
    void TearDown() override
    {
        Unpublish(root);
        Unpublish("/" + std::string(version.begin(), version.end()));
        Unpublish("/update.xml");
        if (worker.m_hThread) {
            worker.PostThreadMessage(WM_QUIT, 0, 0);
            ::WaitForSingleObject(worker.m_hThread, 5000);
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
        worker.m_hTargetWnd = driver;
        worker.m_pDownload = &engine;
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
            if (r.path.find("update.xml") == std::string::npos)
                out.push_back(r.path);
        return out;
    }
    std::string Installed(const std::wstring& rel) { return ReadBytes(app / rel); }

    TempFolder app{L"worker"};
    CDownload engine;
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
    engine.Cleanup();
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
    engine.DeleteTree(app / L"$Temp$");
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
    SetServerFault(root + "/short.bin", "truncate", 40000);
    ASSERT_TRUE(WriteBytes(app / L"short.bin", "old"));
    Run(version);
    EXPECT_EQ(driver.events.back(), "F-1 /short.bin");
    EXPECT_EQ(FileRequests().size(), 5u);
    EXPECT_FALSE(Exists(app / L"$Temp$\\short.bin"));
    EXPECT_EQ(Installed(L"short.bin"), "old");
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
    worker.m_hTargetWnd = driver;
    worker.m_pDownload = &engine;
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
    EXPECT_LT(::GetTickCount() - start, 1000u);
    DWORD code = STILL_ACTIVE;
    ASSERT_TRUE(::GetExitCodeThread(worker.m_hThread, &code));
    EXPECT_EQ(code, 0u); // the loop's own end, not a kill
    EXPECT_EQ(worker.m_nState, CDownloadThread::kHandleFiles);
    engine.Cleanup();
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
