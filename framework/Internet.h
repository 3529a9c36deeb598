// Internet client classes over WinINet. Failures of the platform calls are
// thrown as CInternetException (heap objects, disposed of with Delete()), the
// way the callers' error handling is built.
#pragma once

#include "Handles.h"
#include "Wnd.h"

#include <wininet.h>

class CInternetException : public CException {
public:
    explicit CInternetException(DWORD error, DWORD_PTR context = 1)
        : m_dwError(error), m_dwContext(context) {}
    std::wstring GetErrorMessage() const override;

    DWORD m_dwError;
    DWORD_PTR m_dwContext;
};

// Throws a CInternetException with the calling thread's last error.
[[noreturn]] void AfxThrowInternetException(DWORD_PTR context, DWORD error = 0);

class CInternetSession;
struct CAsyncCall;

// What an asynchronous session's requests may cost at most, whatever the
// server sends (0: no limit). A request that exceeds one fails as a call
// would: ERROR_INTERNET_TIMEOUT for time and rate, ERROR_HTTP_INVALID_SERVER_RESPONSE
// for headers that make the process grow.
struct CTransferLimits {
    // The response headers are complete within this long of sending.
    DWORD headerMs = 0;
    // While they come, the process grows by at most this much: WinINet keeps
    // every header line, and a server that never ends them would fill memory
    // well within the time limit.
    SIZE_T headerGrowth = 0;
    // Once the body has begun: after graceMs, the body's bytes keep coming at
    // this average rate at least.
    DWORD minBytesPerSecond = 0;
    DWORD graceMs = 0;
};

// An open remote file: an FTP file, or the base of an HTTP request.
//
// A request of an asynchronous session (INTERNET_FLAG_ASYNC) behaves like a
// synchronous one to its caller, with one difference: while a call waits for
// the network, setting the session's stop event ends the wait at once with
// ERROR_INTERNET_OPERATION_CANCELLED. (Closing the handle from another thread
// does not end a blocked synchronous call under Wine's WinINet.)
class CInternetFile {
public:
    CInternetFile(HINTERNET file, DWORD_PTR context);
    // Takes over the request object's reference to async.
    CInternetFile(HINTERNET file, DWORD_PTR context, CAsyncCall* async, HANDLE stop);
    virtual ~CInternetFile();
    CInternetFile(const CInternetFile&) = delete;
    CInternetFile& operator=(const CInternetFile&) = delete;

    // Bytes read, 0 at the end of the data; throws on failure.
    UINT Read(void* buffer, UINT count);
    BOOL SetOption(DWORD option, DWORD value);
    void Close();

    HINTERNET m_hFile;
    DWORD_PTR m_dwContext;

    CTransferLimits m_limits;        // asynchronous requests only
    // The server and port of an HTTP request's connection (see Close).
    std::wstring m_strServer;
    INTERNET_PORT m_nPort = 0;

protected:
    // Waits for the call that returned ERROR_IO_PENDING; throws when it
    // failed, the stop event was set, the deadline (a GetTickCount64 value,
    // 0 for none) passed or the process grew by more than `growth` (0: any).
    void WaitAsync(ULONGLONG deadline = 0, SIZE_T growth = 0);

    CComPtr<CAsyncCall> m_pAsync;    // shared with WinINet, see Internet.cpp
    HANDLE m_hStop = nullptr;        // the session's, not owned
    ULONGLONG m_bodyStart = 0;       // when the first read began
    ULONGLONG m_bodyBytes = 0;       // handed out so far
};

class CHttpFile : public CInternetFile {
public:
    using CInternetFile::CInternetFile;
    // Sends the request; throws on failure.
    BOOL SendRequest(LPCWSTR headers = nullptr, DWORD headersLength = 0, void* optional = nullptr,
                     DWORD optionalLength = 0);
    BOOL QueryInfoStatusCode(DWORD& status) const;
    // A response header as the server sent it (HTTP_QUERY_ETAG, ...); false
    // when there is none.
    bool QueryInfo(DWORD level, std::wstring* value) const;
};

class CInternetConnection {
public:
    CInternetConnection(CInternetSession* session, HINTERNET connection, DWORD_PTR context)
        : m_pSession(session), m_hConnection(connection), m_dwContext(context) {}
    virtual ~CInternetConnection() { Close(); }
    CInternetConnection(const CInternetConnection&) = delete;
    CInternetConnection& operator=(const CInternetConnection&) = delete;
    void Close();

    CInternetSession* m_pSession;
    HINTERNET m_hConnection;
    DWORD_PTR m_dwContext;
};

class CHttpConnection : public CInternetConnection {
public:
    using CInternetConnection::CInternetConnection;
    std::wstring m_strServer;
    INTERNET_PORT m_nPort = 0;
    // The caller owns the request; throws on failure.
    CHttpFile* OpenRequest(LPCWSTR verb, LPCWSTR object, LPCWSTR referer = nullptr, DWORD_PTR context = 1,
                           LPCWSTR* acceptTypes = nullptr, LPCWSTR version = nullptr,
                           DWORD flags = INTERNET_FLAG_EXISTING_CONNECT);
};

class CFtpConnection : public CInternetConnection {
public:
    using CInternetConnection::CInternetConnection;
    // The caller owns the file; throws on failure.
    CInternetFile* OpenFile(LPCWSTR name, DWORD access = GENERIC_READ,
                            DWORD flags = FTP_TRANSFER_TYPE_BINARY, DWORD_PTR context = 1);
};

class CInternetSession {
public:
    // Throws when the session cannot be opened. With INTERNET_FLAG_ASYNC in
    // flags its HTTP requests can be stopped (see CInternetFile).
    explicit CInternetSession(LPCWSTR agent = nullptr, DWORD_PTR context = 1,
                              DWORD accessType = INTERNET_OPEN_TYPE_PRECONFIG, LPCWSTR proxy = nullptr,
                              LPCWSTR proxyBypass = nullptr, DWORD flags = 0);
    ~CInternetSession() { Close(); }
    CInternetSession(const CInternetSession&) = delete;
    CInternetSession& operator=(const CInternetSession&) = delete;

    BOOL SetOption(DWORD option, DWORD value);
    // A manual-reset event (not owned) that ends waiting requests when set.
    void SetStopEvent(HANDLE stop) { m_hStop = stop; }
    // The limits of every request opened later (asynchronous sessions only).
    void SetLimits(const CTransferLimits& limits) { m_limits = limits; }
    // The caller owns the connection; throws on failure.
    CHttpConnection* GetHttpConnection(LPCWSTR server, INTERNET_PORT port = INTERNET_INVALID_PORT_NUMBER,
                                       LPCWSTR user = nullptr, LPCWSTR password = nullptr);
    CFtpConnection* GetFtpConnection(LPCWSTR server, LPCWSTR user = nullptr, LPCWSTR password = nullptr,
                                     INTERNET_PORT port = INTERNET_INVALID_PORT_NUMBER, BOOL passive = FALSE);
    void Close();

    HINTERNET m_hSession = nullptr;
    DWORD_PTR m_dwContext;
    bool m_bAsync = false;
    HANDLE m_hStop = nullptr;
    CTransferLimits m_limits;
};
