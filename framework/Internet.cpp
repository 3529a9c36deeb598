#include "Internet.h"

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

UINT CInternetFile::Read(void* buffer, UINT count)
{
    DWORD read = 0;
    if (!::InternetReadFile(m_hFile, buffer, count, &read))
        AfxThrowInternetException(m_dwContext);
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
    if (!::HttpSendRequestW(m_hFile, headers, headersLength, optional, optionalLength))
        AfxThrowInternetException(m_dwContext);
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
    HINTERNET request = ::HttpOpenRequestW(m_hConnection, verb, object, version, referer, acceptTypes, flags, context);
    if (!request)
        AfxThrowInternetException(context);
    return new CHttpFile(request, context);
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
}

BOOL CInternetSession::SetOption(DWORD option, DWORD value)
{
    return ::InternetSetOptionW(m_hSession, option, &value, sizeof value);
}

CHttpConnection* CInternetSession::GetHttpConnection(LPCWSTR server, INTERNET_PORT port, LPCWSTR user,
                                                     LPCWSTR password)
{
    HINTERNET connection = ::InternetConnectW(m_hSession, server, port, user, password, INTERNET_SERVICE_HTTP, 0,
                                              m_dwContext);
    if (!connection)
        AfxThrowInternetException(m_dwContext);
    return new CHttpConnection(this, connection, m_dwContext);
}

CFtpConnection* CInternetSession::GetFtpConnection(LPCWSTR server, LPCWSTR user, LPCWSTR password,
                                                   INTERNET_PORT port, BOOL passive)
{
    HINTERNET connection = ::InternetConnectW(m_hSession, server, port, user, password, INTERNET_SERVICE_FTP,
                                              passive ? INTERNET_FLAG_PASSIVE : 0, m_dwContext);
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
