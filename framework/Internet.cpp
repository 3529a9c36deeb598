// Sockets first: their header must come before windows.h.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "Internet.h"

#include <psapi.h>

#include <cstring>

std::wstring CInternetException::GetErrorMessage() const
{
    wchar_t* text = nullptr;
    DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE |
                                   FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                               ::GetModuleHandleW(L"wininet.dll"), m_dwError, 0,
                               reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    std::wstring message = n && text ? std::wstring(text, n) : FormatString(L"Internet error %lu", m_dwError);
    if (text)
        ::LocalFree(text);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r'))
        message.pop_back();
    return message;
}

void AfxThrowInternetException(DWORD_PTR context, DWORD error)
{
    if (error == 0)
        error = ::GetLastError();
    throw new CInternetException(error, context);
}

// What one request of an asynchronous session shares with WinINet: the
// outcome of the call in progress, and the buffer and count WinINet fills when
// a read completes late. WinINet may complete a call after the request object
// gave up waiting and closed its handle, so this lives until both the request
// object and WinINet (INTERNET_STATUS_HANDLE_CLOSING) let go of it.
struct CAsyncCall {
    // Reads ask WinINet for this much and hand it out in the callers' sizes:
    // each asynchronous call costs more than a synchronous one, so fewer are
    // made. (Like a synchronous read, one that has to wait returns when all
    // it asked for is there, or at the end of the data.)
    static constexpr DWORD kBuffer = 65536;

    CAsyncCall() : completed(::CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
    CAsyncCall(const CAsyncCall&) = delete;
    CAsyncCall& operator=(const CAsyncCall&) = delete;

    void Release()
    {
        if (::InterlockedDecrement(&refs) == 0)
            delete this;
    }

    LONG refs = 2;                  // the request object's and WinINet's
    bool pending = false;           // a call returned ERROR_IO_PENDING and was not seen to complete
    CHandle completed;              // auto-reset: the call in progress completed
    INTERNET_ASYNC_RESULT result = {};
    DWORD read = 0;      // bytes WinINet put into buffer

    DWORD taken = 0;     // of those, handed out already
    bool secure = false;       // the last address it was sent to was https
    bool downgraded = false;   // a redirect went from https to http
    BYTE buffer[kBuffer];
};

namespace {

// Only requests of asynchronous sessions have a nonzero context (their
// CAsyncCall); WinINet reports nothing for handles with context 0.
void CALLBACK AsyncStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD length)
{
    auto* call = reinterpret_cast<CAsyncCall*>(context);
    if (!call)
        return;
    if (status == INTERNET_STATUS_REDIRECT && info && length > 0) {
        // The new address: wide for a wide callback on some systems, narrow
        // on others; its first bytes tell which.
        const char* narrow = static_cast<const char*>(info);
        const wchar_t* wide = static_cast<const wchar_t*>(info);
        bool isWide = length >= 2 && narrow[1] == 0;
        auto starts = [&](const char* scheme) {
            for (size_t i = 0; scheme[i]; ++i) {
                if (length < (i + 1) * (isWide ? 2 : 1))
                    return false;
                int c = isWide ? static_cast<int>(wide[i]) : static_cast<unsigned char>(narrow[i]);
                if (c >= 'A' && c <= 'Z')
                    c += 'a' - 'A';
                if (c != scheme[i])
                    return false;
            }
            return true;
        };
        bool secure = starts("https:");
        if (call->secure && !secure)
            call->downgraded = true;
        call->secure = secure;
    } else if (status == INTERNET_STATUS_REQUEST_COMPLETE && info && length >= sizeof(INTERNET_ASYNC_RESULT)) {
        call->result = *static_cast<const INTERNET_ASYNC_RESULT*>(info);
        ::SetEvent(call->completed.Get());
    } else if (status == INTERNET_STATUS_HANDLE_CLOSING) {
        call->Release();
    }
}

} // namespace

CInternetFile::CInternetFile(HINTERNET file, DWORD_PTR context) : m_hFile(file), m_dwContext(context) {}

CInternetFile::CInternetFile(HINTERNET file, DWORD_PTR context, CAsyncCall* async, HANDLE stop)
    : m_hFile(file), m_dwContext(context), m_hStop(stop)
{
    m_pAsync.Attach(async);
}

CInternetFile::~CInternetFile()
{
    Close();
}

namespace {

// What the process has committed for itself: where WinINet's header lines
// go. (Wine reports PrivateUsage as 0 and the commit as PagefileUsage, which
// Windows keeps equal to it.)
SIZE_T PrivateBytes()
{
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    return ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters) ? counters.PagefileUsage : 0;
}

// Wine's WinINet reads a response's headers to their end even after the
// request's handle is closed: a server that never ends them would go on
// filling memory behind a request given up long ago. So a request given up
// in the middle of a call has its sockets shut down: those of this process
// connected to its server and port (only shut down: WinINet still closes
// them, and its reading ends with an error).
void ShutDownSocketsTo(const std::wstring& server, INTERNET_PORT port)
{
    ADDRINFOW hints = {}, *found = nullptr;
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    if (server.empty() || ::GetAddrInfoW(server.c_str(), nullptr, &hints, &found) != 0)
        return;
    const ULONG address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
    ::FreeAddrInfoW(found);
    // Socket handles are small multiples of four; a process that made a few
    // hundred handles has none beyond this.
    for (UINT_PTR value = 4; value < 0x4000; value += 4) {
        const SOCKET s = static_cast<SOCKET>(value);
        int type = 0, size = sizeof type;
        if (::getsockopt(s, SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &size) != 0 || type != SOCK_STREAM)
            continue;
        sockaddr_in peer = {};
        int length = sizeof peer;
        if (::getpeername(s, reinterpret_cast<sockaddr*>(&peer), &length) == 0 && peer.sin_family == AF_INET &&
            peer.sin_addr.s_addr == address && ntohs(peer.sin_port) == port)
            ::shutdown(s, SD_BOTH);
    }
}

// How often a wait with a growth limit looks at the process: at the ~80 MB/s
// a local server sends endless headers, 50 ms is 4 MB.
constexpr DWORD kGrowthLookMs = 50;

} // namespace

void CInternetFile::WaitAsync(ULONGLONG deadline, SIZE_T growth)
{
    HANDLE events[2] = {m_pAsync->completed.Get(), m_hStop};
    m_pAsync->pending = true;
    const SIZE_T before = growth ? PrivateBytes() : 0;
    for (;;) {
        DWORD wait = INFINITE;
        if (deadline) {
            const ULONGLONG now = ::GetTickCount64();
            wait = now >= deadline ? 0 : static_cast<DWORD>(deadline - now < INFINITE - 1 ? deadline - now : INFINITE - 1);
        }
        if (growth && wait > kGrowthLookMs)
            wait = kGrowthLookMs;
        const DWORD woke = ::WaitForMultipleObjects(m_hStop ? 2 : 1, events, FALSE, wait);
        if (woke == WAIT_OBJECT_0) {
            m_pAsync->pending = false;
            break;
        }
        if (woke != WAIT_TIMEOUT)
            throw new CInternetException(ERROR_INTERNET_OPERATION_CANCELLED, m_dwContext);
        if (deadline && ::GetTickCount64() >= deadline)
            throw new CInternetException(ERROR_INTERNET_TIMEOUT, m_dwContext);
        if (growth && PrivateBytes() > before + growth)
            throw new CInternetException(ERROR_HTTP_INVALID_SERVER_RESPONSE, m_dwContext);
    }
    if (!m_pAsync->result.dwResult)
        throw new CInternetException(m_pAsync->result.dwError, m_dwContext);
}

UINT CInternetFile::Read(void* buffer, UINT count)
{
    DWORD read = 0;
    if (!m_pAsync) {
        if (!::InternetReadFile(m_hFile, buffer, count, &read))
            AfxThrowInternetException(m_dwContext);
        return read;
    }
    // A read that completes late writes into the shared buffer, never into
    // the caller's, which may be gone by then.
    CAsyncCall& call = *m_pAsync.Get();
    if (call.taken == call.read) {
        if (!m_bodyStart)
            m_bodyStart = ::GetTickCount64();
        ::ResetEvent(call.completed.Get());
        call.read = call.taken = 0;
        if (!::InternetReadFile(m_hFile, call.buffer, CAsyncCall::kBuffer, &call.read)) {
            if (::GetLastError() != ERROR_IO_PENDING)
                AfxThrowInternetException(m_dwContext);
            // By when this read must be done for the body to keep its
            // minimum rate: a read completes only once all it asked for is
            // there (or the data ends), so it may take as long as its bytes
            // take at that rate.
            ULONGLONG deadline = 0;
            if (m_limits.minBytesPerSecond)
                deadline = m_bodyStart + m_limits.graceMs +
                           (m_bodyBytes + CAsyncCall::kBuffer) * 1000 / m_limits.minBytesPerSecond;
            WaitAsync(deadline);
        }
    }
    read = call.read - call.taken < count ? call.read - call.taken : count;
    memcpy(buffer, call.buffer + call.taken, read);
    call.taken += read;
    m_bodyBytes += read;
    return read;
}

BOOL CInternetFile::SetOption(DWORD option, DWORD value)
{
    return ::InternetSetOptionW(m_hFile, option, &value, sizeof value);
}

void CInternetFile::Close()
{
    if (m_hFile) {
        ::InternetCloseHandle(m_hFile);
        m_hFile = nullptr;
        if (m_pAsync && m_pAsync->pending)
            ShutDownSocketsTo(m_strServer, m_nPort);
    }
}

BOOL CHttpFile::SendRequest(LPCWSTR headers, DWORD headersLength, void* optional, DWORD optionalLength)
{
    if (m_pAsync)
        ::ResetEvent(m_pAsync->completed.Get());
    const ULONGLONG sent = ::GetTickCount64();
    if (!::HttpSendRequestW(m_hFile, headers, headersLength, optional, optionalLength)) {
        if (!m_pAsync || ::GetLastError() != ERROR_IO_PENDING)
            AfxThrowInternetException(m_dwContext);
        WaitAsync(m_limits.headerMs ? sent + m_limits.headerMs : 0, m_limits.headerGrowth);
    }
    // What was asked for over https does not come back over plain http.
    if (m_pAsync && m_pAsync->downgraded)
        AfxThrowInternetException(m_dwContext, ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR);
    return TRUE;
}

BOOL CHttpFile::QueryInfoStatusCode(DWORD& status) const
{
    DWORD size = sizeof status;
    return ::HttpQueryInfoW(m_hFile, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr);
}

bool CHttpFile::QueryInfo(DWORD level, std::wstring* value) const
{
    value->clear();
    wchar_t text[256];
    DWORD size = sizeof text;
    // Longer values are no validators or ranges this code takes.
    if (!::HttpQueryInfoW(m_hFile, level, text, &size, nullptr))
        return false;
    value->assign(text, size / sizeof(wchar_t));
    return true;
}

void CInternetConnection::Close()
{
    if (m_hConnection) {
        ::InternetCloseHandle(m_hConnection);
        m_hConnection = nullptr;
    }
}

CHttpFile* CHttpConnection::OpenRequest(LPCWSTR verb, LPCWSTR object, LPCWSTR referer, DWORD_PTR context,
                                        LPCWSTR* acceptTypes, LPCWSTR version, DWORD flags)
{
    if (!m_pSession || !m_pSession->m_bAsync) {
        HINTERNET request =
            ::HttpOpenRequestW(m_hConnection, verb, object, version, referer, acceptTypes, flags, context);
        if (!request)
            AfxThrowInternetException(context);
        return new CHttpFile(request, context);
    }
    auto* call = new CAsyncCall;
    call->secure = (flags & INTERNET_FLAG_SECURE) != 0;
    HINTERNET request = ::HttpOpenRequestW(m_hConnection, verb, object, version, referer, acceptTypes, flags,
                                           reinterpret_cast<DWORD_PTR>(call));
    if (!request) {
        DWORD error = ::GetLastError();
        delete call; // WinINet never had it
        AfxThrowInternetException(context, error);
    }
    auto* file = new CHttpFile(request, context, call, m_pSession->m_hStop);
    file->m_limits = m_pSession->m_limits;
    file->m_strServer = m_strServer;
    file->m_nPort = m_nPort;
    return file;
}

CInternetFile* CFtpConnection::OpenFile(LPCWSTR name, DWORD access, DWORD flags, DWORD_PTR context)
{
    HINTERNET file = ::FtpOpenFileW(m_hConnection, name, access, flags, context);
    if (!file)
        AfxThrowInternetException(context);
    return new CInternetFile(file, context);
}

CInternetSession::CInternetSession(LPCWSTR agent, DWORD_PTR context, DWORD accessType, LPCWSTR proxy,
                                   LPCWSTR proxyBypass, DWORD flags)
    : m_dwContext(context)
{
    m_hSession = ::InternetOpenW(agent, accessType, proxy, proxyBypass, flags);
    if (!m_hSession)
        AfxThrowInternetException(context);
    if (flags & INTERNET_FLAG_ASYNC) {
        m_bAsync = true;
        ::InternetSetStatusCallbackW(m_hSession, AsyncStatus);
    }
}

BOOL CInternetSession::SetOption(DWORD option, DWORD value)
{
    return ::InternetSetOptionW(m_hSession, option, &value, sizeof value);
}

CHttpConnection* CInternetSession::GetHttpConnection(LPCWSTR server, INTERNET_PORT port, LPCWSTR user,
                                                     LPCWSTR password)
{
    // In an asynchronous session only requests have a context (see AsyncStatus).
    HINTERNET connection = ::InternetConnectW(m_hSession, server, port, user, password, INTERNET_SERVICE_HTTP, 0,
                                              m_bAsync ? 0 : m_dwContext);
    if (!connection)
        AfxThrowInternetException(m_dwContext);
    auto* http = new CHttpConnection(this, connection, m_dwContext);
    http->m_strServer = server ? server : L"";
    http->m_nPort = port;
    return http;
}

CFtpConnection* CInternetSession::GetFtpConnection(LPCWSTR server, LPCWSTR user, LPCWSTR password,
                                                   INTERNET_PORT port, BOOL passive)
{
    HINTERNET connection = ::InternetConnectW(m_hSession, server, port, user, password, INTERNET_SERVICE_FTP,
                                              passive ? INTERNET_FLAG_PASSIVE : 0, m_bAsync ? 0 : m_dwContext);
    if (!connection)
        AfxThrowInternetException(m_dwContext);
    return new CFtpConnection(this, connection, m_dwContext);
}

void CInternetSession::Close()
{
    if (m_hSession) {
        ::InternetCloseHandle(m_hSession);
        m_hSession = nullptr;
    }
}
