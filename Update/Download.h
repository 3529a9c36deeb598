// The updater's transport: fetches one remote file at a time over HTTP (or
// FTP) into a staged file, a file of the installation or memory, and reports
// progress per chunk. Installing is CInstaller's.
#pragma once

#include "Handles.h"
#include "Internet.h"
#include "StagedFile.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// What a file download that was cut off needs to continue where it ended:
// learnt from the answer that began the file, kept by the caller beside the
// staged file from one attempt to the next.
struct CResumeState {
    // Sent back as If-Range: the answer's strong ETag, else its
    // Last-Modified; empty when it had neither (no resume).
    std::wstring validator;
    // The whole file's length as that answer gave it; 0 when unknown.
    uint64_t total = 0;
    // Whether a file of this size is a part of it (a transfer cut off).
    bool Cut(uint64_t size) const { return total != 0 && size < total; }
};

class CDownload {
public:
    static constexpr int kHttp = 1;         // any other protocol value means FTP
    static constexpr int kFtp = 2;
    static constexpr UINT kChunk = 20480;   // bytes per read and per progress report

    using ProgressCallback = void (*)(DWORD expected, DWORD soFar, void* context);

    CDownload();
    ~CDownload();
    CDownload(const CDownload&) = delete;
    CDownload& operator=(const CDownload&) = delete;

    // Downloads to a path write only inside this folder (the installation's):
    // none is written before it is set.
    void WriteOnlyInside(const std::wstring& folder) { m_strWriteFolder = folder; }
    void SetProgressCallback(ProgressCallback callback, void* context);
    void SetServer(const wchar_t* server, INTERNET_PORT ftpPort, INTERNET_PORT httpPort, const wchar_t* user,
                   const wchar_t* password);
    void SetProtocol(int protocol) { m_nProtocol = protocol; }
    int GetProtocol() const { return m_nProtocol; }
    // Session time-outs in ms (connect, send, receive).
    void SetTimeouts(DWORD connectMs, DWORD sendMs, DWORD receiveMs);
    // What one HTTP request may cost at most, whatever the server sends (see
    // kLimits for the run's); applies to sessions created later.
    void SetLimits(const CTransferLimits& limits) { m_limits = limits; }

    // Every request's headers are complete within 30 s of sending it (a
    // server that dribbles or never ends them cannot hold a run; WinINet
    // keeps every header line, so 16 MB of growth ends it sooner). A body
    // keeps 2 KB/s on average once 20 s have passed: 16 kbit/s is below any
    // link a video client is used on, so only a server that dribbles on
    // purpose (a byte every few seconds, each within the receive time-out)
    // is cut off, after a few minutes at most instead of hours.
    static constexpr CTransferLimits kLimits = {30000, 16u << 20, 2048, 20000};
    // A running transfer ends after its current chunk, later ones after their first.
    void Cancel() { m_nCancel = 1; }
    // From another thread: ends an HTTP transfer at once, also one waiting
    // for a stalled server, and makes every later transfer fail. Implies Cancel.
    void Abort();

    // HTTP sessions are asynchronous, so that Abort can end their waits.
    int CreateSession(int protocol = kHttp);
    int ConnectServer(int protocol);
    // With status, any answer is returned with its status (200 for FTP);
    // without, only a 200. headers go with an HTTP request.
    CInternetFile* OpenFile(const wchar_t* remotePath, int protocol, const wchar_t* root = L"",
                            const std::wstring& headers = std::wstring(), DWORD* status = nullptr);
    // root goes before remotePath as the publisher wrote it (over HTTP only
    // characters outside printable ASCII escaped); remotePath is a file name,
    // escaped in full. 0 done, -1 failed; a body longer than maxBytes fails as
    // soon as it is seen, with kTooLong (an answer no honest server gives).
    static constexpr int kTooLong = -2;
    int DownloadFile(const wchar_t* remotePath, const wchar_t* localPath, DWORD expectedSize,
                     const wchar_t* root = L"", uint64_t maxBytes = UINT64_MAX);
    // The same into a staged file this caller holds (created inside the program folder).
    //
    // With resume (HTTP), a file that holds N bytes already continues with
    // "Range: bytes=N-" and If-Range: resume->validator. A 206 for exactly
    // the rest of a file of wholeSize bytes (0: resume->total) is appended;
    // a 200 is the whole file (the staged file starts again); any other 206
    // is read to its end, the file emptied and -1 returned; a 416 is 0 when
    // N is that size (the file is whole, for the caller to verify), else as
    // the other 206. resume is then what this answer said. Without a
    // validator or a known size there is no resume: the file starts again.
    int DownloadTo(const wchar_t* remotePath, CStagedFile& file, DWORD expectedSize, const wchar_t* root = L"",
                   uint64_t maxBytes = UINT64_MAX, CResumeState* resume = nullptr, uint64_t wholeSize = 0);
    // The same into memory, for what is read whole and never installed.
    int DownloadToMemory(const wchar_t* remotePath, std::string* bytes, size_t maxBytes);

    void CloseConnections();
    void CloseAll();

    // Sessions created so far: shows whether transfers reused one.
    int GetSessionCount() const { return m_nSessionsCreated; }
    bool IsConnected() const { return m_pHttpConnection || m_pFtpConnection; }

private:
    using Sink = std::function<bool(const BYTE*, UINT)>;
    // opened runs once the server has answered, before the body is read.
    int Transfer(const wchar_t* remotePath, const wchar_t* root, DWORD expectedSize, uint64_t maxBytes,
                 const Sink& sink, const std::function<bool()>& opened = std::function<bool()>());
    // The body of an answer into sink; already: bytes the file holds before
    // it (for progress and the bound). A null sink drains the body.
    int ReadBody(std::unique_ptr<CInternetFile>& remote, const wchar_t* remotePath, DWORD expectedSize,
                 uint64_t already, uint64_t maxBytes, const Sink& sink);
    int Resume(const wchar_t* remotePath, CStagedFile& file, DWORD expectedSize, const wchar_t* root,
               uint64_t maxBytes, CResumeState& resume, uint64_t wholeSize);
    bool InsideWriteFolder(const wchar_t* path) const;

    INTERNET_PORT m_nHttpPort = 80;
    INTERNET_PORT m_nFtpPort = 21;
    wchar_t m_szServer[20] = {};
    std::unique_ptr<wchar_t[]> m_pszUser;      // 80 units once given
    std::unique_ptr<wchar_t[]> m_pszPassword;  // 80 units once given
    int m_nProtocol = kHttp;
    std::unique_ptr<CFtpConnection> m_pFtpConnection;
    std::unique_ptr<CHttpConnection> m_pHttpConnection;
    std::unique_ptr<CInternetSession> m_pSession;
    std::wstring m_strWriteFolder;
    volatile LONG m_nCancel = 0;  // set by the interface thread, read once per chunk
    volatile LONG m_nAborted = 0; // set by Abort: no new connection
    CHandle m_hStop;              // manual-reset, set by Abort; ends the waits of HTTP requests
    void* m_pContext = nullptr;
    ProgressCallback m_pfnProgress = nullptr;

    DWORD m_nConnectTimeout = 20000;
    DWORD m_nSendTimeout = 5000;
    DWORD m_nReceiveTimeout = 20000;
    CTransferLimits m_limits = kLimits;
    int m_nSessionsCreated = 0;
};
