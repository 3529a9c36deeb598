// Throughput figures of the download engine and the checksum, each next to a
// baseline measured in the same run:
//   update_bench download <server path> <expected bytes> <work folder>
//   update_bench checksum <file>
// Prints "name: figure" lines and a ratio; nothing is asserted here.
#include "Checksum.h"
#include "Download.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

double Now()
{
    static LARGE_INTEGER freq = [] {
        LARGE_INTEGER f;
        ::QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    ::QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(freq.QuadPart);
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

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
    engine.InitPaths(folder.c_str());
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

} // namespace

int wmain(int argc, wchar_t** argv)
{
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc == 5 && std::wstring(argv[1]) == L"download")
        return Download(argv[2], static_cast<DWORD>(_wtoi64(argv[3])), argv[4]);
    if (argc == 3 && std::wstring(argv[1]) == L"checksum")
        return Checksum(argv[2]);
    std::fprintf(stderr, "usage: update_bench download <path> <bytes> <folder> | checksum <file>\n");
    return 2;
}
