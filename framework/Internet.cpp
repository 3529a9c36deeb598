#include "Internet.h"

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
    ~CAsyncCall()
    {
        if (completed)
            ::CloseHandle(completed);
    }
    CAsyncCall(const CAsyncCall&) = delete;
    CAsyncCall& operator=(const CAsyncCall&) = delete;

    void Release()
    {
        if (::InterlockedDecrement(&refs) == 0)
            delete this;
    }

    LONG refs = 2;                  // the request object's and WinINet's
    HANDLE completed;               // auto-reset: the call in progress completed
    INTERNET_ASYNC_RESULT result = {};
    DWORD read = 0;      // bytes WinINet put into buffer

    DWORD taken = 0;     // of those, handed out already
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
    if (status == INTERNET_STATUS_REQUEST_COMPLETE && info && length >= sizeof(INTERNET_ASYNC_RESULT)) {
        call->result = *static_cast<const INTERNET_ASYNC_RESULT*>(info);
        ::SetEvent(call->completed);
    } else if (status == INTERNET_STATUS_HANDLE_CLOSING) {
        call->Release();
    }
}

} // namespace

CInternetFile::~CInternetFile()
{
    Close();
    if (m_pAsync)
        m_pAsync->Release();
}

void CInternetFile::WaitAsync()
{
    HANDLE events[2] = {m_pAsync->completed, m_hStop};
    DWORD wait = ::WaitForMultipleObjects(m_hStop ? 2 : 1, events, FALSE, INFINITE);
    if (wait != WAIT_OBJECT_0)
        throw new CInternetException(ERROR_INTERNET_OPERATION_CANCELLED, m_dwContext);
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
    CAsyncCall& call = *m_pAsync;
    if (call.taken == call.read) {
        ::ResetEvent(call.completed);
        call.read = call.taken = 0;
        if (!::InternetReadFile(m_hFile, call.buffer, CAsyncCall::kBuffer, &call.read)) {
            if (::GetLastError() != ERROR_IO_PENDING)
                AfxThrowInternetException(m_dwContext);
            WaitAsync();
        }
    }
    read = call.read - call.taken < count ? call.read - call.taken : count;
    memcpy(buffer, call.buffer + call.taken, read);
    call.taken += read;
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
    }
}

BOOL CHttpFile::SendRequest(LPCWSTR headers, DWORD headersLength, void* optional, DWORD optionalLength)
{
    if (m_pAsync)
        ::ResetEvent(m_pAsync->completed);
    if (!::HttpSendRequestW(m_hFile, headers, headersLength, optional, optionalLength)) {
        if (!m_pAsync || ::GetLastError() != ERROR_IO_PENDING)
            AfxThrowInternetException(m_dwContext);
        WaitAsync();
    }
    return TRUE;
}

BOOL CHttpFile::QueryInfoStatusCode(DWORD& status) const
{
    DWORD size = sizeof status;
    return ::HttpQueryInfoW(m_hFile, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr);
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
    HINTERNET request = ::HttpOpenRequestW(m_hConnection, verb, object, version, referer, acceptTypes, flags,
                                           reinterpret_cast<DWORD_PTR>(call));
    if (!request) {
        DWORD error = ::GetLastError();
        delete call; // WinINet never had it
        AfxThrowInternetException(context, error);
    }
    return new CHttpFile(request, context, call, m_pSession->m_hStop);
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
    return new CHttpConnection(this, connection, m_dwContext);
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
