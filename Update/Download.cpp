#include "Download.h"

#include "App.h"
#include "Checksum.h"
#include "Folders.h"
#include "Handles.h"
#include "Log.h"
#include "SafeName.h"

#include <shlwapi.h>

#include <algorithm>
#include <cwchar>

namespace {

void CopyField(wchar_t* field, size_t units, const wchar_t* value)
{
    lstrcpynW(field, value ? value : L"", static_cast<int>(units));
}

// The request path with everything outside printable ASCII sent as escaped
// UTF-8: WinINet would otherwise pass non-ASCII names through the ANSI code
// page, and a Chinese file name would reach the server as question marks.
// A file name has "%", "#" and "?" escaped as well, since they are part of
// the name; a root is an address the publisher wrote and keeps them.
std::wstring EscapeUrlPath(const wchar_t* path, bool name = true)
{
    static const wchar_t hex[] = L"0123456789ABCDEF";
    std::wstring out;
    const wchar_t* p = path;
    while (*p) {
        wchar_t c = *p;
        if (c > 0x20 && c < 0x7F && (!name || (c != L'%' && c != L'#' && c != L'?'))) {
            out += c;
            ++p;
            continue;
        }
        // One character (a surrogate pair counts as one) as UTF-8 bytes.
        int units = (c >= 0xD800 && c <= 0xDBFF && p[1] >= 0xDC00 && p[1] <= 0xDFFF) ? 2 : 1;
        char bytes[8];
        int n = ::WideCharToMultiByte(CP_UTF8, 0, p, units, bytes, sizeof bytes, nullptr, nullptr);
        for (int i = 0; i < n; ++i) {
            unsigned char b = static_cast<unsigned char>(bytes[i]);
            out += L'%';
            out += hex[b >> 4];
            out += hex[b & 15];
        }
        p += units;
    }
    return out;
}

// Always from the server and never into the user's internet cache: a cached
// manifest at an unchanged address would hide a newly published release.
// Nothing of the user's goes along: no cookies, no credentials sent by
// themselves (a redirect to an intranet host would otherwise get the user's
// logon), no dialog. Redirects to other hosts are followed: publishers serve
// files from other hosts; one from https to http is not (WinINet's own check,
// left on, and CHttpFile's).
const DWORD kRequestFlags = INTERNET_FLAG_EXISTING_CONNECT | INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                            INTERNET_FLAG_PRAGMA_NOCACHE | INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_AUTH |
                            INTERNET_FLAG_NO_UI;

std::wstring PathFolder(const wchar_t* path)
{
    std::wstring p = path ? path : L"";
    size_t slash = p.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : p.substr(0, slash);
}

// The If-Range value of an answer: its ETag when strong (a weak one may not
// stand for a range), else its Last-Modified; empty when it has neither.
std::wstring ValidatorOf(const CHttpFile& answer)
{
    std::wstring value;
    if (answer.QueryInfo(HTTP_QUERY_ETAG, &value) && !value.empty() && value.compare(0, 2, L"W/") != 0)
        return value;
    answer.QueryInfo(HTTP_QUERY_LAST_MODIFIED, &value);
    return value;
}

uint64_t ContentLength(const CHttpFile& answer)
{
    std::wstring value;
    if (!answer.QueryInfo(HTTP_QUERY_CONTENT_LENGTH, &value) || value.empty())
        return 0;
    return wcstoull(value.c_str(), nullptr, 10);
}

// "bytes first-last/total", the only Content-Range a single range gets.
bool ContentRangeOf(const CHttpFile& answer, uint64_t* first, uint64_t* last, uint64_t* total)
{
    std::wstring value;
    if (!answer.QueryInfo(HTTP_QUERY_CONTENT_RANGE, &value) || value.compare(0, 6, L"bytes ") != 0)
        return false;
    const wchar_t* p = value.c_str() + 6;
    wchar_t* end = nullptr;
    *first = wcstoull(p, &end, 10);
    if (end == p || *end != L'-')
        return false;
    p = end + 1;
    *last = wcstoull(p, &end, 10);
    if (end == p || *end != L'/')
        return false;
    p = end + 1;
    *total = wcstoull(p, &end, 10);
    return end != p && *end == 0;
}

} // namespace

CDownload::CDownload() : m_hStop(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

CDownload::~CDownload()
{
    CloseAll();
}

void CDownload::Abort()
{
    m_nCancel = 1;
    m_nAborted = 1;
    ::SetEvent(m_hStop.Get());
}

void CDownload::SetProgressCallback(ProgressCallback callback, void* context)
{
    m_pfnProgress = callback;
    m_pContext = context;
}

void CDownload::SetServer(const wchar_t* server, INTERNET_PORT ftpPort, INTERNET_PORT httpPort,
                          const wchar_t* user, const wchar_t* password)
{
    CopyField(m_szServer, sizeof m_szServer / sizeof(wchar_t), server);
    m_nFtpPort = ftpPort;
    m_nHttpPort = httpPort;
    if (user) {
        if (!m_pszUser)
            m_pszUser.reset(new wchar_t[80]);
        CopyField(m_pszUser.get(), 80, user);
    }
    if (password) {
        if (!m_pszPassword)
            m_pszPassword.reset(new wchar_t[80]);
        CopyField(m_pszPassword.get(), 80, password);
    }
}

void CDownload::SetTimeouts(DWORD connectMs, DWORD sendMs, DWORD receiveMs)
{
    m_nConnectTimeout = connectMs;
    m_nSendTimeout = sendMs;
    m_nReceiveTimeout = receiveMs;
}

int CDownload::CreateSession(int protocol)
{
    m_pSession.reset();
    // HTTP asynchronous, so that a wait for a stalled server can be ended by
    // Abort; FTP stays synchronous (no operation here switches to it).
    DWORD flags = protocol == kHttp ? INTERNET_FLAG_ASYNC : 0;
    m_pSession.reset(new CInternetSession(L"Update.exe", 1, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, flags));
    m_pSession->SetStopEvent(m_hStop.Get());
    m_pSession->SetLimits(m_limits);
    ++m_nSessionsCreated;
    m_pSession->SetOption(INTERNET_OPTION_MAX_CONNS_PER_SERVER, 100);
    m_pSession->SetOption(INTERNET_OPTION_CONNECT_TIMEOUT, m_nConnectTimeout);
    m_pSession->SetOption(INTERNET_OPTION_SEND_TIMEOUT, m_nSendTimeout);
    m_pSession->SetOption(INTERNET_OPTION_RECEIVE_TIMEOUT, m_nReceiveTimeout);
    return 1;
}

int CDownload::ConnectServer(int protocol)
{
    if (m_nAborted)
        return -1;
    INTERNET_PORT port = protocol == kHttp ? m_nHttpPort : m_nFtpPort;
    try {
        if (protocol == kHttp) {
            if (!m_pHttpConnection) {
                CreateSession();
                m_pHttpConnection.reset(
                    m_pSession->GetHttpConnection(m_szServer, m_nHttpPort, m_pszUser.get(), m_pszPassword.get()));
                if (!m_pHttpConnection) {
                    UPDATE_LOG(L"Open Http Connection Error, ErrorCode = %d\n", static_cast<int>(::GetLastError()));
                    return -1;
                }
            }
        } else if (!m_pFtpConnection) {
            CreateSession(protocol);
            m_pFtpConnection.reset(m_pSession->GetFtpConnection(m_szServer, m_pszUser.get(), m_pszPassword.get(),
                                                                m_nFtpPort, FALSE));
            if (!m_pFtpConnection) {
                UPDATE_LOG(L"Open Ftp Connection Error, ErrorCode = %d\n", static_cast<int>(::GetLastError()));
                return -1;
            }
        }
    } catch (CInternetException* e) {
        UPDATE_LOG(L"<ConnectServer>catch error srvip = %ls, port = %d, ErrorCode = %d\n", m_szServer,
                   static_cast<int>(port), static_cast<int>(e->m_dwError));
        e->Delete();
        CloseConnections();
        return -1;
    }
    return 0;
}

CInternetFile* CDownload::OpenFile(const wchar_t* remotePath, int protocol, const wchar_t* root,
                                   const std::wstring& headers, DWORD* status)
{
    if (!root)
        root = L"";
    std::unique_ptr<CInternetFile> file;
    try {
        if (protocol == kHttp) {
            if (!m_pHttpConnection)
                return nullptr;
            std::wstring object = EscapeUrlPath(root, false) + EscapeUrlPath(remotePath);
            std::unique_ptr<CHttpFile> request(m_pHttpConnection->OpenRequest(
                L"GET", object.c_str(), nullptr, 1, nullptr, nullptr, kRequestFlags));
            if (!request) {
                UPDATE_LOG(L"Open Remote Http File Error. errorcode = %d\n", static_cast<int>(::GetLastError()));
                return nullptr;
            }
            file.reset(request.release());
            // Requests do not always take the session's time-outs over (Wine's
            // WinINet does not): without them a stalled server would hold the
            // transfer until it closes the connection.
            file->SetOption(INTERNET_OPTION_CONNECT_TIMEOUT, m_nConnectTimeout);
            file->SetOption(INTERNET_OPTION_SEND_TIMEOUT, m_nSendTimeout);
            file->SetOption(INTERNET_OPTION_RECEIVE_TIMEOUT, m_nReceiveTimeout);
            UPDATE_LOG(L"CDownload::OpenFile, SendRequest - 1");
            auto* http = static_cast<CHttpFile*>(file.get());
            DWORD code = 0;
            if (!http->SendRequest(headers.empty() ? nullptr : headers.c_str(), static_cast<DWORD>(headers.size())) ||
                !http->QueryInfoStatusCode(code) || (!status && code != 200))
                file.reset();
            if (status)
                *status = code;
            UPDATE_LOG(L"CDownload::OpenFile, SendRequest - 2");
            return file.release();
        }
        if (!m_pFtpConnection)
            return nullptr;
        std::wstring name = std::wstring(root) + remotePath;
        file.reset(m_pFtpConnection->OpenFile(name.c_str(), GENERIC_READ, FTP_TRANSFER_TYPE_BINARY, 1));
        if (!file) {
            UPDATE_LOG(L"Open Remote Ftp File Error. errorcode = %d\n", static_cast<int>(::GetLastError()));
            return nullptr;
        }
        if (status)
            *status = 200;
        return file.release();
    } catch (CInternetException* e) {
        UPDATE_LOG(L"<OpenFile>catch error ErrorCode = %d\n", static_cast<int>(e->m_dwError));
        e->Delete();
        file.reset();
        CloseConnections();
        return nullptr;
    }
}

bool CDownload::InsideWriteFolder(const wchar_t* path) const
{
    if (m_strWriteFolder.empty() || !path)
        return false;
    wchar_t full[MAX_PATH];
    DWORD n = ::GetFullPathNameW(path, MAX_PATH, full, nullptr);
    if (n == 0 || n >= MAX_PATH)
        return false;
    std::wstring base(m_strWriteFolder);
    EnsureBackslash(base);
    return n > base.size() && ::CompareStringOrdinal(full, static_cast<int>(base.size()), base.c_str(),
                                                     static_cast<int>(base.size()), TRUE) == CSTR_EQUAL;
}

int CDownload::DownloadFile(const wchar_t* remotePath, const wchar_t* localPath, DWORD expectedSize,
                            const wchar_t* root, uint64_t maxBytes)
{
    // Downloads only ever write into the installation.
    if (!InsideWriteFolder(localPath)) {
        UPDATE_LOG(L"Refused local file outside the program folder: %ls\n", localPath ? localPath : L"(none)");
        return -1;
    }
    // Created once the server has answered, never through a link, and kept
    // as it is, a part of a body too: the caller reads it by its path.
    CStagedFile file;
    auto create = [&] {
        if (file.Create(PathFolder(localPath), localPath))
            return true;
        UPDATE_LOG(L"Create Local File Error, ErrorCode = %d\n", static_cast<int>(::GetLastError()));
        return false;
    };
    int result = Transfer(remotePath, root, expectedSize, maxBytes,
                          [&](const BYTE* data, UINT size) { return file.Write(data, size); }, create);
    file.Keep();
    return result;
}

int CDownload::DownloadTo(const wchar_t* remotePath, CStagedFile& file, DWORD expectedSize, const wchar_t* root,
                          uint64_t maxBytes, CResumeState* resume, uint64_t wholeSize)
{
    if (!InsideWriteFolder(file.Path().c_str()))
        return -1;
    if (resume)
        return Resume(remotePath, file, expectedSize, root, maxBytes, *resume, wholeSize);
    return Transfer(remotePath, root, expectedSize, maxBytes,
                    [&](const BYTE* data, UINT size) { return file.Write(data, size); });
}

int CDownload::Resume(const wchar_t* remotePath, CStagedFile& file, DWORD expectedSize, const wchar_t* root,
                      uint64_t maxBytes, CResumeState& resume, uint64_t wholeSize)
{
    const Sink write = [&](const BYTE* data, UINT size) { return file.Write(data, size); };
    const uint64_t have = file.Size();
    const uint64_t whole = wholeSize ? wholeSize : resume.total;
    std::wstring headers;
    if (have > 0) {
        if (m_nProtocol == kHttp && !resume.validator.empty() && whole != 0 && have <= whole)
            headers = L"Range: bytes=" + std::to_wstring(have) + L"-\r\nIf-Range: " + resume.validator + L"\r\n";
        else if (!file.Restart())
            return -1;
    }
    if (ConnectServer(m_nProtocol) != 0)
        return -1;
    DWORD status = 0;
    std::unique_ptr<CInternetFile> remote(OpenFile(remotePath, m_nProtocol, root, headers, &status));
    if (!remote)
        return -1;
    if (m_nProtocol != kHttp) {
        resume = CResumeState(); // no ranges over FTP here
        return ReadBody(remote, remotePath, expectedSize, 0, maxBytes, write);
    }
    const auto& answer = static_cast<const CHttpFile&>(*remote);
    uint64_t first = 0, last = 0, total = 0;
    if (status == 206 && !headers.empty() && ContentRangeOf(answer, &first, &last, &total) && first == have &&
        total == whole && last + 1 == whole) {
        UPDATE_LOG(L"%ls continues from byte %llu of %llu\n", remotePath, static_cast<unsigned long long>(have),
                   static_cast<unsigned long long>(whole));
        return ReadBody(remote, remotePath, expectedSize, have, maxBytes, write);
    }
    if (status == 200) {
        // The whole file, also in answer to a range: the server ignores
        // ranges, or the file changed since its first part came.
        if (have > 0 && !file.Restart())
            return -1;
        resume.validator = ValidatorOf(answer);
        resume.total = ContentLength(answer);
        return ReadBody(remote, remotePath, expectedSize, 0, maxBytes, write);
    }
    if (status != 206 && status != 416)
        return -1; // what the file holds stays for the next attempt
    // WinINet takes the body's length from Content-Length whatever the
    // status: read out, the connection serves the next request.
    ReadBody(remote, remotePath, expectedSize, 0, maxBytes, Sink());
    if (status == 416 && !headers.empty() && have == whole)
        return 0; // nothing was missing: the caller verifies what it has
    UPDATE_LOG(L"%ls: answer %u does not continue the %llu bytes held; starting again\n", remotePath,
               static_cast<unsigned>(status), static_cast<unsigned long long>(have));
    file.Restart();
    resume = CResumeState();
    return -1;
}

int CDownload::DownloadToMemory(const wchar_t* remotePath, std::string* bytes, size_t maxBytes)
{
    bytes->clear();
    return Transfer(remotePath, L"", 4096, maxBytes, [&](const BYTE* data, UINT size) {
        bytes->append(reinterpret_cast<const char*>(data), size);
        return true;
    });
}

int CDownload::Transfer(const wchar_t* remotePath, const wchar_t* root, DWORD expectedSize, uint64_t maxBytes,
                        const Sink& sink, const std::function<bool()>& opened)
{
    if (ConnectServer(m_nProtocol) != 0)
        return -1;
    std::unique_ptr<CInternetFile> remote(OpenFile(remotePath, m_nProtocol, root));
    if (!remote || (opened && !opened()))
        return -1;
    return ReadBody(remote, remotePath, expectedSize, 0, maxBytes, sink);
}

int CDownload::ReadBody(std::unique_ptr<CInternetFile>& remote, const wchar_t* remotePath, DWORD expectedSize,
                        uint64_t already, uint64_t maxBytes, const Sink& sink)
{
    try {
        std::vector<BYTE> buffer(kChunk);
        uint64_t whole = already;
        for (;;) {
            UINT read = remote->Read(buffer.data(), kChunk);
            if (read == 0)
                break;
            whole += read;
            if (whole > maxBytes) {
                // Nothing longer can be what is expected: the rest is not even read.
                UPDATE_LOG(L"%ls is longer than %llu bytes, discarded\n", remotePath,
                           static_cast<unsigned long long>(maxBytes));
                return kTooLong;
            }
            if (!sink)
                continue; // drained
            if (!sink(buffer.data(), read)) {
                UPDATE_LOG(L"Write Local File Error, ErrorCode = %d\n", static_cast<int>(::GetLastError()));
                return -1;
            }
            if (m_pfnProgress)
                m_pfnProgress(expectedSize, static_cast<DWORD>(whole), m_pContext);
            if (m_nCancel == 1)
                break;
        }
        return 0;
    } catch (CInternetException* e) {
        UPDATE_LOG(L"<DownloadFile>catch error ErrorCode = %d\n", static_cast<int>(e->m_dwError));
        e->Delete();
        remote.reset();
        CloseConnections();
        return -1;
    }
}

void CDownload::CloseConnections()
{
    m_pFtpConnection.reset();
    m_pHttpConnection.reset();
    m_pSession.reset();
}

void CDownload::CloseAll()
{
    CloseConnections();
}
