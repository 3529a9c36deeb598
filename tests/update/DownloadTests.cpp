// The download engine against the real local server, which misbehaves on request.
#include "Crypto.h"
#include "Download.h"
#include "Log.h"
#include "TestSupport.h"

#include <psapi.h>

#include <gtest/gtest.h>

#include <shlobj.h>

#include <string>
#include <vector>

using namespace testsupport;

namespace {

std::vector<std::wstring> g_log;
void CollectLog(const wchar_t* line)
{
    g_log.push_back(line);
}

struct Progress {
    std::vector<std::pair<DWORD, DWORD>> calls;
    CDownload* cancelOnFirst = nullptr;
    static void Callback(DWORD expected, DWORD soFar, void* context)
    {
        auto* self = static_cast<Progress*>(context);
        self->calls.emplace_back(expected, soFar);
        if (self->cancelOnFirst)
            self->cancelOnFirst->Cancel();
    }
};

class DownloadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetServer();
        ASSERT_EQ(GetServerStats().requests.size(), 0u) << "the test server does not answer";
        engine.WriteOnlyInside(app.path());
        engine.SetServer(L"127.0.0.1", 2121, 8085, nullptr, nullptr);
        engine.SetProgressCallback(&Progress::Callback, &progress);
        g_log.clear();
        SetLogObserver(CollectLog);
        prefix = std::string("/dl/") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    }
    void TearDown() override
    {
        SetLogObserver(nullptr);
        Unpublish(prefix);
    }

    int Fetch(const std::string& name, const std::wstring& local, DWORD expected = 0)
    {
        std::wstring remote(name.begin(), name.end());
        return engine.DownloadFile(remote.c_str(), (app / local).c_str(), expected);
    }
    bool LogMentions(const std::wstring& text) const
    {
        for (const auto& l : g_log)
            if (l.find(text) != std::wstring::npos)
                return true;
        return false;
    }

    TempFolder app{L"download"};
    CDownload engine;
    Progress progress;
    std::string prefix;
};

} // namespace

TEST_F(DownloadTest, TwoDownloadsReuseTheConnectionAndSessionWithProgressPerChunk)
{
    std::string big = PatternBytes(50000, 1), small = PatternBytes(100, 2);
    ASSERT_TRUE(Publish(prefix + "/big.bin", big));
    ASSERT_TRUE(Publish(prefix + "/small.bin", small));

    ASSERT_EQ(Fetch(prefix + "/big.bin", L"big.bin", 50000), 0);
    ASSERT_EQ(Fetch(prefix + "/small.bin", L"small.bin", 4096), 0);
    EXPECT_EQ(ReadBytes(app / L"big.bin"), big);
    EXPECT_EQ(ReadBytes(app / L"small.bin"), small);

    // Per chunk of at most 20,480 bytes, with the expected size passed through.
    ASSERT_GE(progress.calls.size(), 4u);
    DWORD previous = 0;
    for (size_t i = 0; i + 1 < progress.calls.size(); ++i) {
        EXPECT_EQ(progress.calls[i].first, 50000u);
        EXPECT_GT(progress.calls[i].second, previous);
        EXPECT_LE(progress.calls[i].second - previous, CDownload::kChunk);
        previous = progress.calls[i].second;
    }
    EXPECT_EQ(previous, 50000u);
    EXPECT_EQ(progress.calls.back(), std::make_pair(DWORD(4096), DWORD(100)));

    ServerStats stats = GetServerStats();
    ASSERT_EQ(stats.requests.size(), 2u);
    EXPECT_EQ(stats.requests[0].connection, stats.requests[1].connection);
    EXPECT_EQ(engine.GetSessionCount(), 1);
}

TEST_F(DownloadTest, A404FailsWithoutStatusLogAndKeepsTheConnection)
{
    ASSERT_TRUE(Publish(prefix + "/there.bin", "there"));
    EXPECT_EQ(Fetch(prefix + "/missing.bin", L"missing.bin"), -1);
    EXPECT_FALSE(Exists(app / L"missing.bin"));
    EXPECT_FALSE(LogMentions(L"404"));
    EXPECT_FALSE(LogMentions(L"catch error"));
    EXPECT_TRUE(engine.IsConnected());

    SetServerFault(prefix + "/there.bin", "404", 0, 0, 1);
    EXPECT_EQ(Fetch(prefix + "/there.bin", L"there.bin"), -1);
    EXPECT_EQ(Fetch(prefix + "/there.bin", L"there.bin"), 0);
    EXPECT_EQ(ReadBytes(app / L"there.bin"), "there");

    // The engine kept its connection and session (whether WinINet reuses the
    // socket after an unread error body is its own affair).
    ServerStats stats = GetServerStats();
    ASSERT_EQ(stats.requests.size(), 3u);
    EXPECT_EQ(stats.requests[0].status, 404);
    EXPECT_EQ(stats.requests[1].status, 404);
    EXPECT_EQ(stats.requests[2].status, 200);
    EXPECT_EQ(engine.GetSessionCount(), 1);
}

TEST_F(DownloadTest, ABodyCutShortIsNotNoticedByTheEngine)
{
    // The server announces 50,000 bytes and closes after 30,000: the engine
    // reports what arrived; only the checksum of the procedure can tell.
    std::string data = PatternBytes(50000, 3);
    ASSERT_TRUE(Publish(prefix + "/cut.bin", data));
    SetServerFault(prefix + "/cut.bin", "truncate", 30000);
    int result = Fetch(prefix + "/cut.bin", L"cut.bin", 50000);
    std::string got = ReadBytes(app / L"cut.bin");
    EXPECT_LT(got.size(), data.size());
    EXPECT_EQ(got, data.substr(0, got.size()));
    EXPECT_EQ(result, 0);
    ASSERT_FALSE(progress.calls.empty());
    EXPECT_EQ(progress.calls.back().second, got.size());
}

TEST_F(DownloadTest, ADroppedConnectionNeverYieldsAWholeFile)
{
    // A reset mid-body: Windows reports it as a failed read; Wine's WinINet as
    // the end of the data. Either way what is on disk is a true, short prefix.
    std::string data = PatternBytes(200000, 4);
    ASSERT_TRUE(Publish(prefix + "/drop.bin", data));
    SetServerFault(prefix + "/drop.bin", "drop", 60000, 0, 1);
    int result = Fetch(prefix + "/drop.bin", L"drop.bin", 200000);
    std::string partial = ReadBytes(app / L"drop.bin");
    EXPECT_LT(partial.size(), data.size());
    EXPECT_EQ(partial, data.substr(0, partial.size()));
    if (result == -1) {
        EXPECT_FALSE(engine.IsConnected());
    } else {
        EXPECT_EQ(result, 0);
    }
}

TEST_F(DownloadTest, AStallEndsAtTheReceiveTimeoutKeepsThePartialFileAndTheNextDownloadStartsAfresh)
{
    std::string data = PatternBytes(100000, 5);
    ASSERT_TRUE(Publish(prefix + "/stall.bin", data));
    ASSERT_TRUE(Publish(prefix + "/next.bin", "next"));
    SetServerFault(prefix + "/stall.bin", "stall", 30000, 6000, 1);
    engine.SetTimeouts(2000, 2000, 1000);

    EXPECT_EQ(Fetch(prefix + "/stall.bin", L"stall.bin", 100000), -1);
    EXPECT_TRUE(LogMentions(L"<DownloadFile>catch error"));
    EXPECT_TRUE(Exists(app / L"stall.bin"));
    std::string partial = ReadBytes(app / L"stall.bin");
    EXPECT_LT(partial.size(), data.size());
    EXPECT_EQ(partial, data.substr(0, partial.size()));
    EXPECT_FALSE(engine.IsConnected());

    EXPECT_EQ(Fetch(prefix + "/next.bin", L"next.bin"), 0);
    EXPECT_EQ(ReadBytes(app / L"next.bin"), "next");
    EXPECT_EQ(engine.GetSessionCount(), 2);
    ServerStats stats = GetServerStats();
    ASSERT_EQ(stats.requests.size(), 2u);
    EXPECT_NE(stats.requests[1].connection, stats.requests[0].connection);
}

// A server may answer without end or at a trickle, before any signature is
// read: each answer is cut off within bounds of time, memory and disk, and
// the next request starts afresh.
TEST_F(DownloadTest, AnswersWithoutEndOrAtATrickleAreCutOffWithinBounds)
{
    ASSERT_TRUE(Publish(prefix + "/a.bin", PatternBytes(4000, 7)));
    ASSERT_TRUE(Publish(prefix + "/next.bin", "next"));
    // Shorter than the run's limits, so that the test is quick; the rate
    // lets a read of 64 KB take a second.
    engine.SetLimits({2000, 16u << 20, 65536, 1000});
    struct Case {
        const char* what;
        const char* mode;
        int after, delayMs;
        uint64_t maxBytes;
        int result;
    } cases[] = {
        {"a body without end, against the manifest's bound", "endless", 0, 0, 10240, CDownload::kTooLong},
        {"header lines without end, as fast as they are taken", "headers", 0, 0, UINT64_MAX, -1},
        {"header lines at a trickle", "headers", 0, 200, UINT64_MAX, -1},
        {"a body at a trickle", "slow", 100, 200, UINT64_MAX, -1},
    };
    auto privateBytes = [] {
        PROCESS_MEMORY_COUNTERS c = {};
        c.cb = sizeof c;
        ::GetProcessMemoryInfo(::GetCurrentProcess(), &c, sizeof c);
        return c.PagefileUsage; // the commit: Wine reports PrivateUsage as 0
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetServerFault(prefix + "/a.bin", c.mode, c.after, c.delayMs, 1);
        const SIZE_T before = privateBytes();
        const ULONGLONG start = ::GetTickCount64();
        std::wstring remote = Utf8ToWide(prefix + "/a.bin");
        EXPECT_EQ(engine.DownloadFile(remote.c_str(), (app / L"a.bin").c_str(), 4000, L"", c.maxBytes), c.result);
        EXPECT_LT(::GetTickCount64() - start, 2000u + Scaled(3000));
        EXPECT_LE(ReadBytes(app / L"a.bin").size(), 10240u + CDownload::kChunk);
        // Nothing goes on reading (and keeping) behind the request given up.
        const SIZE_T after = privateBytes();
        PumpFor(Scaled(1000));
        EXPECT_LT(privateBytes(), after + (2u << 20));
        EXPECT_LT(privateBytes(), before + (32u << 20));
        EXPECT_EQ(Fetch(prefix + "/next.bin", L"next.bin"), 0);
        EXPECT_EQ(ReadBytes(app / L"next.bin"), "next");
    }
}

TEST_F(DownloadTest, CancelEndsTheTransferAfterTheCurrentChunkAndStaysSet)
{
    std::string data = PatternBytes(300000, 6);
    ASSERT_TRUE(Publish(prefix + "/slow.bin", data));
    SetServerFault(prefix + "/slow.bin", "slow", 8192, 30);
    progress.cancelOnFirst = &engine;

    EXPECT_EQ(Fetch(prefix + "/slow.bin", L"slow.bin", 300000), 0);
    ASSERT_EQ(progress.calls.size(), 1u);
    std::string got = ReadBytes(app / L"slow.bin");
    EXPECT_EQ(got.size(), progress.calls[0].second);
    EXPECT_EQ(got, data.substr(0, got.size()));

    // Every later transfer also ends after its first chunk.
    progress.cancelOnFirst = nullptr;
    progress.calls.clear();
    EXPECT_EQ(Fetch(prefix + "/slow.bin", L"again.bin", 300000), 0);
    EXPECT_EQ(progress.calls.size(), 1u);
}

TEST_F(DownloadTest, AnUnreachableServerFailsAndTheNextAttemptBuildsANewSession)
{
    engine.SetServer(L"127.0.0.1", 2121, 8099, nullptr, nullptr); // nothing listens there
    EXPECT_EQ(Fetch("/anything", L"x.bin"), -1);
    EXPECT_TRUE(LogMentions(L"catch error"));
    EXPECT_FALSE(engine.IsConnected());
    EXPECT_FALSE(Exists(app / L"x.bin"));

    ASSERT_TRUE(Publish(prefix + "/ok.bin", "ok"));
    engine.SetServer(L"127.0.0.1", 2121, 8085, nullptr, nullptr);
    EXPECT_EQ(Fetch(prefix + "/ok.bin", L"ok.bin"), 0);
    EXPECT_EQ(engine.GetSessionCount(), 2);
}

TEST_F(DownloadTest, ALocalPathOutsideTheProgramFolderIsRefusedBeforeAnyRequest)
{
    ASSERT_TRUE(Publish(prefix + "/f.bin", "f"));
    std::wstring remote(prefix.begin(), prefix.end());
    remote += L"/f.bin";
    EXPECT_EQ(engine.DownloadFile(remote.c_str(), (app.path() + L"\\..\\escaped.bin").c_str(), 0), -1);
    EXPECT_EQ(engine.DownloadFile(remote.c_str(), L"C:\\escaped.bin", 0), -1);
    EXPECT_FALSE(Exists(app.path() + L"\\..\\escaped.bin"));
    EXPECT_TRUE(GetServerStats().requests.empty());
}

TEST_F(DownloadTest, NamesOutsideAsciiTravelAsEscapedUtf8)
{
    // "/播放器 v1%#.dat": Chinese, a space, and the characters that would end
    // or change a URL path.
    std::string name = prefix + "/\xE6\x92\xAD\xE6\x94\xBE\xE5\x99\xA8 v1%#.dat";
    ASSERT_TRUE(Publish(name, "content"));
    std::wstring remote = Utf8ToWide(name);
    EXPECT_EQ(engine.DownloadFile(remote.c_str(), (app / L"x.dat").c_str(), 7), 0);
    EXPECT_EQ(ReadBytes(app / L"x.dat"), "content");
    ASSERT_EQ(GetServerStats().requests.size(), 1u);
    EXPECT_EQ(GetServerStats().requests[0].status, 200);
}

TEST_F(DownloadTest, FtpTransfersFilesToo)
{
    std::string data = PatternBytes(45000, 7);
    ASSERT_TRUE(Publish(prefix + "/ftp.bin", data));
    engine.SetProtocol(CDownload::kFtp);
    ASSERT_EQ(Fetch(prefix + "/ftp.bin", L"ftp.bin", 45000), 0);
    EXPECT_EQ(ReadBytes(app / L"ftp.bin"), data);
    EXPECT_EQ(progress.calls.back().second, 45000u);
    EXPECT_EQ(Fetch(prefix + "/nothing.bin", L"nothing.bin"), -1);
    EXPECT_TRUE(GetServerStats().requests.empty()); // nothing went over HTTP
}

TEST_F(DownloadTest, EveryRequestGoesToTheServerAndNothingIntoTheInternetCacheNorBackWithCookies)
{
    // A name of its own (also against earlier runs in this prefix), so that
    // nothing else can be taken for it in the cache.
    std::string probe = "cacheprobe" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(::GetTickCount());
    std::string path = prefix + "/" + probe + ".xml";
    // Served like a plain web server does, with nothing that forbids caching.
    SetServerFault(path, "plain");
    // The same address twice, with a new release published in between.
    ASSERT_TRUE(Publish(path, "<update_info>first</update_info>"));
    ASSERT_EQ(Fetch(path, L"first.xml"), 0);
    ASSERT_TRUE(Publish(path, "<update_info>second, newer</update_info>"));
    ASSERT_EQ(Fetch(path, L"second.xml"), 0);
    EXPECT_EQ(ReadBytes(app / L"second.xml"), "<update_info>second, newer</update_info>");
    // A server that hands out a cookie and asks for a login gets neither back.
    const std::string other = prefix + "/" + probe + ".sig";
    ASSERT_TRUE(Publish(other, "signed"));
    SetServerFault(other, "cookie", 0, 0, 1);
    ASSERT_EQ(Fetch(other, L"first.sig"), 0);
    ASSERT_EQ(Fetch(other, L"second.sig"), 0);
    std::vector<std::string> paths;
    for (const ServerRequest& r : GetServerStats().requests)
        paths.push_back(r.path);
    EXPECT_EQ(paths, (std::vector<std::string>{path, path, other, other}));

    std::wstring url = L"http://127.0.0.1:8085" + Utf8ToWide(path);
    DWORD size = 0;
    EXPECT_FALSE(::GetUrlCacheEntryInfoW(url.c_str(), nullptr, &size));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    wchar_t cache[MAX_PATH] = {};
    ASSERT_EQ(::SHGetFolderPathW(nullptr, CSIDL_INTERNET_CACHE, nullptr, 0, cache), S_OK);
    for (const std::wstring& file : ListTree(cache))
        EXPECT_EQ(file.find(Utf8ToWide(probe)), std::wstring::npos) << "cached: " << file;
}

// A file cut off continues from the bytes it holds while the server has the
// same file; anything else gives the whole file or starts it again. Our test
// server and nginx with the publishing guide's configuration answer alike.
TEST_F(DownloadTest, ACutFileContinuesWithARangeOnlyWhileTheServerStillHasThatFile)
{
    const std::string data = PatternBytes(100000, 9);
    ASSERT_TRUE(Publish(prefix + "/r.bin", data));
    const std::wstring remote = Utf8ToWide(prefix + "/r.bin");
    struct Case {
        const char* what;
        bool nginx;
        int cutAfter;       // bytes the first answer brings
        const char* fault;  // on the request that continues
        uint64_t total;     // what the file is taken to be when it continues (0: as the first answer said)
        int status, result; // of that request
        uint64_t sent;      // its body bytes
        bool whole;         // the file is the published one afterwards (else empty)
    } cases[] = {
        {"the rest, appended", false, 30000, "", 0, 206, 0, 70000, true},
        {"a server that ignores ranges", false, 30000, "norange", 0, 200, 0, 100000, true},
        {"a file published again since", false, 30000, "newetag", 0, 200, 0, 100000, true},
        {"nothing missing", false, 100000, "", 0, 416, 0, 22, true},
        {"a part of another length", false, 30000, "", 120000, 206, -1, 70000, false},
        {"nginx: the rest, appended", true, 30000, "", 0, 206, 0, 70000, true},
        {"nginx: a file published again since", true, 30000, "newetag", 0, 200, 0, 100000, true},
        {"nginx: nothing missing", true, 100000, "", 0, 416, 0, 190, true}, // its error page
        {"nginx: a part of another length", true, 30000, "", 120000, 206, -1, 70000, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResetServer();
        ResetNginx();
        CDownload server; // one connection per server, to count its sessions
        server.WriteOnlyInside(app.path());
        server.SetServer(L"127.0.0.1", 2121, c.nginx ? kNginxPort : 8085, nullptr, nullptr);
        CStagedFile file;
        ASSERT_TRUE(file.Create(app.path(), app / L"r.bin", CStagedFile::Digest::Sha256));
        CResumeState resume;
        if (c.nginx) {
            // nginx cannot be cut off: the first answer is read whole into another file, and
            // this one holds as much of it as a cut transfer would.
            CStagedFile first;
            ASSERT_TRUE(first.Create(app.path(), app / L"first.bin"));
            ASSERT_EQ(server.DownloadTo(remote.c_str(), first, 100000, L"", 100000, &resume), 0);
            ASSERT_TRUE(file.Write(data.data(), static_cast<size_t>(c.cutAfter)));
        } else {
            SetServerFault(prefix + "/r.bin", "truncate", c.cutAfter, 0, 1);
            ASSERT_EQ(server.DownloadTo(remote.c_str(), file, 100000, L"", 100000, &resume), 0);
        }
        ASSERT_EQ(file.Size(), static_cast<uint64_t>(c.cutAfter));
        EXPECT_EQ(resume.total, 100000u);
        EXPECT_EQ(resume.validator.substr(0, 1), L"\""); // the ETag, strong
        if (*c.fault && c.nginx)
            resume.validator = L"\"republished\""; // what a file published since is to nginx
        else if (*c.fault)
            SetServerFault(prefix + "/r.bin", c.fault, 0, 0, 1);
        EXPECT_EQ(server.DownloadTo(remote.c_str(), file, 100000, L"", 100000, &resume, c.total), c.result);
        std::string got;
        ASSERT_TRUE(file.ReadAll(&got, 1u << 20));
        EXPECT_EQ(got, c.whole ? data : std::string());
        Sha256Digest digest{}, expected{};
        ASSERT_TRUE(Sha256(data.data(), data.size(), &expected));
        EXPECT_EQ(file.Sha256(&digest) && digest == expected, c.whole); // the digest covers the whole file
        ServerStats stats = c.nginx ? GetNginxStats() : GetServerStats();
        ASSERT_EQ(stats.requests.size(), 2u);
        EXPECT_EQ(stats.requests[1].status, c.status);
        EXPECT_EQ(stats.requests[1].sent, c.sent);
        EXPECT_EQ(server.GetSessionCount(), 1); // every answer read out: the connection serves on
    }
}
