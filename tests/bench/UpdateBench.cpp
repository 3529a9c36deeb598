// Throughput figures of the download engine and the checksum, each next to a
// baseline measured in the same run:
//   update_bench download <server path> <expected bytes> <work folder>
//   update_bench checksum <file>
//   update_bench procedure <installation template> <work folder>
//   update_bench keyed <template, plain updater> <template, stamped updater> <work folder>
//   update_bench run <installation template> <work folder>
//   update_bench patch <work folder> (<source file> <patch path> <file path> <file size>)...
// Prints "name: figure" lines and a ratio; nothing is asserted here.
#include "BenchClock.h"
#include "Checksum.h"
#include "DeltaIndex.h"
#include "Download.h"
#include "Installer.h"
#include "Folders.h"
#include "Handles.h"
#include "Settings.h"
#include "Signature.h"
#include "StagedFile.h"
#include "XmlInfo.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using bench::Median;
using bench::Now;

// The plainest WinINet download: same buffer size, same file writes.
bool BareLoop(const std::wstring& path, const std::wstring& local, DWORD* total)
{
    HINTERNET session = ::InternetOpenW(L"bench", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    HINTERNET connection = ::InternetConnectW(session, L"127.0.0.1", 8085, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 1);
    HINTERNET request = ::HttpOpenRequestW(connection, L"GET", path.c_str(), nullptr, nullptr, nullptr,
                                           INTERNET_FLAG_EXISTING_CONNECT, 1);
    bool ok = request && ::HttpSendRequestW(request, nullptr, 0, nullptr, 0);
    FILE* out = _wfopen(local.c_str(), L"wb");
    *total = 0;
    static BYTE buffer[CDownload::kChunk];
    DWORD read = 0;
    while (ok && out && ::InternetReadFile(request, buffer, sizeof buffer, &read) && read > 0) {
        std::fwrite(buffer, 1, read, out);
        *total += read;
    }
    if (out)
        std::fclose(out);
    ::InternetCloseHandle(request);
    ::InternetCloseHandle(connection);
    ::InternetCloseHandle(session);
    return ok && out;
}

void NoProgress(DWORD, DWORD, void*) {}

bool TimeEngine(const std::wstring& path, DWORD expected, const std::wstring& folder, double* seconds)
{
    CDownload engine; // a fresh engine per round, as each run of the updater has
    engine.WriteOnlyInside(folder);
    engine.SetServer(L"127.0.0.1", 21, 8085, nullptr, nullptr);
    engine.SetProgressCallback(NoProgress, nullptr);
    std::wstring local = folder + L"\\engine.bin";
    ::DeleteFileW(local.c_str());
    double t0 = Now();
    if (engine.DownloadFile(path.c_str(), local.c_str(), expected) != 0)
        return false;
    *seconds = Now() - t0;
    WIN32_FILE_ATTRIBUTE_DATA fa;
    return ::GetFileAttributesExW(local.c_str(), GetFileExInfoStandard, &fa) && fa.nFileSizeLow == expected;
}

bool TimeBare(const std::wstring& path, DWORD expected, const std::wstring& folder, double* seconds)
{
    std::wstring local = folder + L"\\bare.bin";
    ::DeleteFileW(local.c_str());
    DWORD total = 0;
    double t0 = Now();
    if (!BareLoop(path, local, &total))
        return false;
    *seconds = Now() - t0;
    return total == expected;
}

int Download(const std::wstring& path, DWORD expected, const std::wstring& folder)
{
    const int rounds = 5;
    std::vector<double> engineTimes, bareTimes;
    for (int i = 0; i < rounds; ++i) {
        // Alternate the order so that neither side always follows the other.
        double e = 0, b = 0;
        bool ok = i % 2 ? (TimeBare(path, expected, folder, &b) && TimeEngine(path, expected, folder, &e))
                        : (TimeEngine(path, expected, folder, &e) && TimeBare(path, expected, folder, &b));
        if (!ok) {
            std::printf("download failed or incomplete\n");
            return 1;
        }
        engineTimes.push_back(e);
        bareTimes.push_back(b);
    }
    double mb = expected / 1e6;
    double engine = mb / Median(engineTimes), bare = mb / Median(bareTimes);
    std::printf("download %.0f MB, median of %d: engine DownloadFile %.1f MB/s, bare WinINet loop %.1f MB/s, "
                "ratio %.2f\n",
                mb, rounds, engine, bare, engine / bare);
    std::printf("ENGINE_MBPS=%.1f\n", engine);
    return 0;
}

double PlainRead(const std::wstring& file, std::vector<BYTE>& buffer, uint64_t* size)
{
    double t0 = Now();
    HANDLE f = ::CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    DWORD read = 0;
    *size = 0;
    while (::ReadFile(f, buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr) && read > 0)
        *size += read;
    ::CloseHandle(f);
    return Now() - t0;
}

int Checksum(const std::wstring& file)
{
    const int rounds = 5;
    std::vector<double> sumTimes, sameBlockTimes, bigBlockTimes;
    // Plain reads of the same (cached) file: with the checksum's block size,
    // and with 1 MB blocks in case those are faster.
    std::vector<BYTE> sameBlock(kChecksumBlock), bigBlock(1 << 20);
    uint64_t size = 0;
    for (int i = 0; i < rounds; ++i) {
        sameBlockTimes.push_back(PlainRead(file, sameBlock, &size));
        bigBlockTimes.push_back(PlainRead(file, bigBlock, &size));
        double t0 = Now();
        volatile uint32_t sum = FileChecksum(file);
        (void)sum;
        sumTimes.push_back(Now() - t0);
    }
    double mb = static_cast<double>(size) / 1e6;
    double sum = mb / Median(sumTimes), same = mb / Median(sameBlockTimes), big = mb / Median(bigBlockTimes);
    double best = std::max(same, big);
    std::printf("checksum %.0f MB, median of %d: GetFileChecksum %.0f MB/s; plain read %.0f MB/s (%u KB blocks), "
                "%.0f MB/s (1 MB blocks); ratio to the faster read %.2f\n",
                mb, rounds, sum, same, static_cast<unsigned>(kChecksumBlock / 1024), big, sum / best);
    return 0;
}

// Copies a folder tree (the installation template) to a fresh place.
void CopyFolder(const std::wstring& from, const std::wstring& to)
{
    ::CreateDirectoryW(to.c_str(), nullptr);
    ForEachEntry(from, [&](const WIN32_FIND_DATAW& fd) {
        std::wstring src = from + L"\\" + fd.cFileName, dst = to + L"\\" + fd.cFileName;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            CopyFolder(src, dst);
        else
            ::CopyFileW(src.c_str(), dst.c_str(), FALSE);
        return true;
    });
}

const UINT kBenchReply = WM_APP + 9;
LPARAM g_reply = -1;

LRESULT CALLBACK ReplyProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg == kBenchReply) {
        g_reply = lp;
        return 0;
    }
    return ::DefWindowProcW(hwnd, msg, wp, lp);
}

// The real update.exe of a copy of templ, hidden, replying to this process:
// seconds from its start to its reply; false unless it replied 1.
bool EndToEnd(const std::wstring& templ, const std::wstring& e2e, double* seconds)
{
    CopyFolder(templ, e2e);
    static bool registered = false;
    if (!registered) {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = ReplyProc;
        wc.lpszClassName = L"BenchReply";
        ::RegisterClassW(&wc);
        registered = true;
    }
    g_reply = -1;
    HWND reply = ::CreateWindowW(L"BenchReply", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    HANDLE client = ::CreateMutexW(nullptr, FALSE, L"ZorvaneMutex"); // a hidden run lives as long as its client
    std::wstring cmd = L"\"" + e2e + L"\\update.exe\" hide hwnd=" + std::to_wstring(HandleToLong(reply)) +
                       L" message=" + std::to_wstring(kBenchReply);
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    double t0 = Now();
    if (!::CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, e2e.c_str(), &si, &pi)) {
        std::printf("cannot start update.exe\n");
        ::CloseHandle(client);
        ::DestroyWindow(reply);
        return false;
    }
    MSG msg;
    while (g_reply == -1 && ::MsgWaitForMultipleObjects(1, &pi.hProcess, FALSE, 600000, QS_ALLINPUT) != WAIT_TIMEOUT) {
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            ::DispatchMessageW(&msg);
        if (::WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0 && g_reply == -1) {
            while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
                ::DispatchMessageW(&msg);
            break;
        }
    }
    *seconds = Now() - t0;
    ::WaitForSingleObject(pi.hProcess, 10000);
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
    ::CloseHandle(client);
    ::DestroyWindow(reply);
    if (g_reply != 1) {
        std::printf("the update did not complete (reply %lld)\n", static_cast<long long>(g_reply));
        return false;
    }
    return true;
}

// The whole procedure through the real update.exe (hidden, replying to this
// process), next to its parts measured one by one on another copy.
int Procedure(const std::wstring& templ, const std::wstring& work)
{
    // --- the parts, on their own copy
    std::wstring parts = work + L"\\parts";
    CopyFolder(templ, parts);
    UpdateSettings settings = ReadUpdateSettings(parts);
    CDownload engine;
    CInstaller installer;
    installer.InitPaths(parts.c_str());
    engine.WriteOnlyInside(parts);
    engine.SetServer(L"127.0.0.1", 21, 8085, nullptr, nullptr);
    std::wstring staging = installer.GetStagingFolder();
    ::CreateDirectoryW(staging.c_str(), nullptr);

    double t0 = Now();
    std::wstring manifestLocal = staging + L"\\update.xml";
    std::wstring manifestRemote = L"/" + settings.version + L"/update.xml";
    if (engine.DownloadFile(manifestRemote.c_str(), manifestLocal.c_str(), 4096) != 0) {
        std::printf("manifest download failed\n");
        return 1;
    }
    double manifestTime = Now() - t0;
    CXmlInfo xml;
    xml.ParseFile(manifestLocal.c_str());
    VersionInfo* version = xml.GetLatestVersion();
    if (!version) {
        std::printf("no version in the manifest\n");
        return 1;
    }
    double checksumTime = 0, downloadTime = 0, verifyTime = 0;
    int unchanged = 0, changed = 0;
    for (int i = 0; i < version->file_count; ++i) {
        FileInfo* f = version->GetFile(i);
        t0 = Now();
        uint32_t sum = installer.GetFileChecksum(f->f_name);
        checksumTime += Now() - t0;
        if (sum == static_cast<uint32_t>(f->f_crc)) {
            ++unchanged;
            continue;
        }
        ++changed;
        std::wstring local = staging + f->f_name;
        for (wchar_t& c : local)
            if (c == L'/')
                c = L'\\';
        ::CreateDirectoryW(local.substr(0, local.find_last_of(L'\\')).c_str(), nullptr);
        t0 = Now();
        if (engine.DownloadFile(f->f_name, local.c_str(), static_cast<DWORD>(f->f_size), version->ver_root) != 0) {
            std::printf("download failed\n");
            return 1;
        }
        downloadTime += Now() - t0;
        t0 = Now();
        FileChecksum(local);
        verifyTime += Now() - t0;
    }
    t0 = Now();
    installer.InstallFiles();
    double installTime = Now() - t0;
    installer.Cleanup();
    double pauses = unchanged * 0.3;
    double sum = pauses + manifestTime + checksumTime + downloadTime + verifyTime + installTime;

    // --- end to end: the real program, hidden, with this process as the client
    double endToEnd = 0;
    if (!EndToEnd(templ, work + L"\\e2e", &endToEnd))
        return 1;
    std::printf("update of %d unchanged and %d changed files: end to end %.2f s (update.exe started to reply)\n",
                unchanged, changed, endToEnd);
    std::printf("  parts: pauses %.2f s (%d x 300 ms), manifest %.3f s, checksums %.3f s, downloads %.3f s, "
                "verification %.3f s, install %.3f s; sum %.2f s\n",
                pauses, unchanged, manifestTime, checksumTime, downloadTime, verifyTime, installTime, sum);
    std::printf("  ratio end to end / sum of parts %.3f\n", endToEnd / sum);
    return 0;
}

// The whole update by a stamped updater against a plain one on the same
// release, alternating, in the same run; then what the keyed one adds,
// measured in this process: the signature's fetch and check, and SHA-256
// against the checksum over the installed files.
int Keyed(const std::wstring& plainTempl, const std::wstring& keyedTempl, const std::wstring& work)
{
    const int rounds = 3;
    std::vector<double> plain, keyed;
    for (int i = 0; i < 2 * rounds; ++i) {
        // Order plain, keyed, keyed, plain, plain, keyed: neither side always goes first.
        bool isKeyed = (i % 4 == 1 || i % 4 == 2);
        double t = 0;
        std::wstring folder = work + L"\\keyed" + std::to_wstring(i);
        if (!EndToEnd(isKeyed ? keyedTempl : plainTempl, folder, &t))
            return 1;
        (isKeyed ? keyed : plain).push_back(t);
        std::printf("  round %d, %s updater: %.2f s\n", i / 2 + 1, isKeyed ? "stamped" : "plain", t);
    }
    double p = Median(plain), k = Median(keyed);
    std::printf("whole update, median of %d: plain updater %.2f s, stamped updater %.2f s; ratio stamped / plain %.3f "
                "(at most 1.05 allowed)\n",
                rounds, p, k, k / p);

    // --- the parts a keyed run adds
    HMODULE module = ::LoadLibraryExW((keyedTempl + L"\\update.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    PublisherKey key = module ? LoadPublisherKey(module) : PublisherKey();
    if (module)
        ::FreeLibrary(module);
    UpdateSettings settings = ReadUpdateSettings(keyedTempl);
    CDownload engine;
    engine.WriteOnlyInside(work + L"\\parts");
    ::CreateDirectoryW((work + L"\\parts").c_str(), nullptr);
    engine.SetServer(L"127.0.0.1", 21, 8085, nullptr, nullptr);
    std::wstring local = work + L"\\parts\\update.sig";
    std::wstring remote = L"/" + settings.version + L"/update.sig";
    double t0 = Now();
    std::string bytes;
    SignedRelease release;
    std::wstring problem = L"no key stamped";
    if (key.state == KeyState::Usable && engine.DownloadFile(remote.c_str(), local.c_str(), 4096) == 0 &&
        ReadSmallFile(local, kMaxSignatureFile, &bytes))
        problem = VerifySignatureFile(bytes, key.key, &release);
    double signature = Now() - t0;
    if (!problem.empty()) {
        std::printf("the signature does not verify: %ls\n", problem.c_str());
        return 1;
    }
    double hashTime = 0, sumTime = 0;
    uint64_t total = 0;
    for (const SignedFile& f : release.files) {
        std::wstring path = keyedTempl + f.name;
        for (wchar_t& c : path)
            c = c == L'/' ? L'\\' : c;
        Sha256Digest digest{};
        uint64_t size = 0;
        t0 = Now();
        Sha256File(path, &digest, &size);
        hashTime += Now() - t0;
        t0 = Now();
        FileChecksum(path);
        sumTime += Now() - t0;
        total += size;
    }
    std::printf("  what a keyed run adds: signature fetched and verified %.1f ms; SHA-256 of the %u installed files "
                "(%.1f MB) %.1f ms against their checksums %.1f ms\n",
                signature * 1e3, static_cast<unsigned>(release.files.size()), total / 1e6, hashTime * 1e3,
                sumTime * 1e3);
    return 0;
}

} // namespace

// One whole update by the real update.exe on a copy of templ, for a caller
// that reads the server's statistics around it.
int Run(const std::wstring& templ, const std::wstring& folder)
{
    double t = 0;
    if (!EndToEnd(templ, folder, &t))
        return 1;
    std::printf("end to end %.2f s\n", t);
    return 0;
}

struct PatchedFile {
    std::wstring sourcePath, patchPath, filePath;
    uint32_t size = 0;
    size_t patchSize = 0; // as fetched
};

// Each file the way a keyed run stages it, once from its patch (the installed
// source read and hashed, the patch fetched into memory and hashed, then
// decoded into a staged file hashed as written) and once whole (fetched into
// a staged file hashed as written); seconds for all files.
bool TimePatched(CDownload& engine, const std::wstring& staging, std::vector<PatchedFile>& files, double* seconds)
{
    double t0 = Now();
    for (PatchedFile& f : files) {
        std::ifstream in(f.sourcePath.c_str(), std::ios::binary);
        std::ostringstream bytes;
        bytes << in.rdbuf();
        const std::string source = bytes.str();
        std::string patch;
        Sha256Digest digest;
        if (!::Sha256(source.data(), source.size(), &digest) ||
            engine.DownloadToMemory(f.patchPath.c_str(), &patch, kMaxPatchedFile) != 0 ||
            !::Sha256(patch.data(), patch.size(), &digest))
            return false;
        f.patchSize = patch.size();
        DeltaEntry entry;
        entry.method = kPatchFromMethod;
        entry.hasSource = true;
        entry.sourceSize = static_cast<uint32_t>(source.size());
        CStagedFile staged;
        if (!staged.Create(staging, staging + L"\\patched.bin", CStagedFile::Digest::Sha256) ||
            !ApplyPatch(entry, source, patch, f.size, staged).empty() || staged.Size() != f.size)
            return false;
        staged.Sha256(&digest);
    }
    *seconds = Now() - t0;
    return true;
}

bool TimeWhole(CDownload& engine, const std::wstring& staging, const std::vector<PatchedFile>& files,
               double* seconds)
{
    double t0 = Now();
    for (const PatchedFile& f : files) {
        CStagedFile staged;
        if (!staged.Create(staging, staging + L"\\whole.bin", CStagedFile::Digest::Sha256) ||
            engine.DownloadTo(f.filePath.c_str(), staged, f.size, L"", f.size) != 0 || staged.Size() != f.size)
            return false;
        Sha256Digest digest;
        staged.Sha256(&digest);
    }
    *seconds = Now() - t0;
    return true;
}

// Applying the release's patches against downloading the same files whole,
// alternating, in the same run.
int Patch(const std::wstring& work, int count, wchar_t** args)
{
    std::vector<PatchedFile> files;
    for (int i = 0; i + 3 < count; i += 4) {
        PatchedFile f;
        f.sourcePath = args[i];
        f.patchPath = args[i + 1];
        f.filePath = args[i + 2];
        f.size = static_cast<uint32_t>(_wtoi64(args[i + 3]));
        files.push_back(f);
    }
    std::wstring staging = work + L"\\patch";
    ::CreateDirectoryW(staging.c_str(), nullptr);
    CDownload engine;
    engine.WriteOnlyInside(staging);
    engine.SetServer(L"127.0.0.1", 21, 8085, nullptr, nullptr);
    engine.SetProgressCallback(NoProgress, nullptr);
    const int rounds = 5;
    std::vector<double> patched, whole;
    for (int i = 0; i < rounds; ++i) {
        double p = 0, w = 0;
        bool ok = i % 2 ? (TimeWhole(engine, staging, files, &w) && TimePatched(engine, staging, files, &p))
                        : (TimePatched(engine, staging, files, &p) && TimeWhole(engine, staging, files, &w));
        if (!ok) {
            std::printf("a patch or a download failed\n");
            return 1;
        }
        patched.push_back(p);
        whole.push_back(w);
    }
    uint64_t wholeBytes = 0, patchBytes = 0;
    for (const PatchedFile& f : files) {
        wholeBytes += f.size;
        patchBytes += f.patchSize;
    }
    double p = Median(patched), w = Median(whole);
    std::printf("%u files, median of %d: from their patches (fetched and applied) %.1f ms, downloaded whole "
                "%.1f ms, ratio %.2f\n",
                static_cast<unsigned>(files.size()), rounds, p * 1000, w * 1000, p / w);
    // Where a patch's decoding costs more than the bytes it saves take on the
    // wire: below this line rate the patches are faster.
    if (p > w)
        std::printf("  the patches are faster below %.1f MB/s (the bytes saved over the extra time)\n",
                    (static_cast<double>(wholeBytes) - patchBytes) / (p - w) / 1e6);
    return 0;
}

int wmain(int argc, wchar_t** argv)
{
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc == 5 && std::wstring(argv[1]) == L"download")
        return Download(argv[2], static_cast<DWORD>(_wtoi64(argv[3])), argv[4]);
    if (argc == 3 && std::wstring(argv[1]) == L"checksum")
        return Checksum(argv[2]);
    if (argc == 4 && std::wstring(argv[1]) == L"procedure")
        return Procedure(argv[2], argv[3]);
    if (argc == 5 && std::wstring(argv[1]) == L"keyed")
        return Keyed(argv[2], argv[3], argv[4]);
    if (argc == 4 && std::wstring(argv[1]) == L"run")
        return Run(argv[2], argv[3]);
    if (argc >= 7 && (argc - 3) % 4 == 0 && std::wstring(argv[1]) == L"patch")
        return Patch(argv[2], argc - 3, argv + 3);
    std::fprintf(stderr, "usage: update_bench download <path> <bytes> <folder> | checksum <file> | "
                         "procedure <installation template> <work folder> | "
                         "keyed <template> <template with a stamped updater> <work folder> | "
                         "run <installation template> <work folder> | "
                         "patch <work folder> (<source file> <patch path> <file path> <file size>)...\n");
    return 2;
}
