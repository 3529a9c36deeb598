#include "StagedFile.h"

#include "Folders.h"

#include <cstring>
#include <vector>

std::wstring NtPathOf(const std::wstring& path)
{
    if (path.compare(0, 4, L"\\\\?\\") == 0 || path.compare(0, 4, L"\\\\.\\") == 0)
        return L"\\??\\" + path.substr(4);
    if (path.compare(0, 2, L"\\\\") == 0)
        return L"\\??\\UNC\\" + path.substr(2);
    return L"\\??\\" + path;
}

bool NoLinkOnTheWay(const std::wstring& folder, const std::wstring& path)
{
    if (path.size() <= folder.size() || path.compare(0, folder.size(), folder) != 0 || path[folder.size()] != L'\\')
        return false;
    for (size_t i = folder.size(); i != std::wstring::npos; i = path.find(L'\\', i + 1)) {
        if (!IsPlainFolder(path.substr(0, i)))
            return false;
    }
    return true;
}

CStagedFile::~CStagedFile()
{
    if (!m_file)
        return;
    FILE_DISPOSITION_INFO dispose = {TRUE};
    ::SetFileInformationByHandle(m_file.Get(), FileDispositionInfo, &dispose, sizeof dispose);
}

bool CStagedFile::Create(const std::wstring& staging, const std::wstring& path, Digest digest)
{
    return Open(staging, path, digest, CREATE_ALWAYS) && Restart();
}

bool CStagedFile::Continue(const std::wstring& staging, const std::wstring& path, Digest digest, uint64_t maxBytes)
{
    LARGE_INTEGER size = {};
    if (!Open(staging, path, digest, OPEN_EXISTING) || !::GetFileSizeEx(m_file.Get(), &size) ||
        static_cast<uint64_t>(size.QuadPart) > maxBytes || !Restart(false)) {
        Keep(); // not this caller's to delete
        return false;
    }
    // The digest covers the whole file: the bytes already there first.
    std::vector<BYTE> buffer(1u << 16);
    DWORD read = 0;
    while (::ReadFile(m_file.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr) && read > 0)
        Take(buffer.data(), read);
    if (m_size != static_cast<uint64_t>(size.QuadPart)) {
        Keep();
        return false;
    }
    return true;
}

bool CStagedFile::Open(const std::wstring& staging, const std::wstring& path, Digest digest, DWORD disposition)
{
    if (m_file || !NoLinkOnTheWay(staging, path))
        return false;
    // Not following a link that may have been put there since: the handle is
    // the link's, and refused below.
    m_file.Reset(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr,
                               disposition, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!m_file)
        return false;
    m_path = path;
    FILE_ATTRIBUTE_TAG_INFO tag = {};
    if (!::GetFileInformationByHandleEx(m_file.Get(), FileAttributeTagInfo, &tag, sizeof tag) ||
        (tag.FileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))) {
        m_file.Reset(); // the link itself stays; the staging folder's clean-up removes it
        return false;
    }
    m_digest = digest;
    return true;
}

bool CStagedFile::Restart(bool empty)
{
    LARGE_INTEGER start = {};
    if (!m_file || !::SetFilePointerEx(m_file.Get(), start, nullptr, FILE_BEGIN) ||
        (empty && !::SetEndOfFile(m_file.Get())))
        return false;
    m_size = 0;
    m_checksum = CChecksum();
    m_sha256.reset(m_digest == Digest::Sha256 ? new CSha256 : nullptr);
    return true;
}

bool CStagedFile::Write(const void* data, size_t size)
{
    DWORD written = 0;
    if (!m_file || !::WriteFile(m_file.Get(), data, static_cast<DWORD>(size), &written, nullptr) || written != size)
        return false;
    Take(data, size);
    return true;
}

void CStagedFile::Take(const void* data, size_t size)
{
    if (m_digest == Digest::Checksum)
        m_checksum.Update(data, size);
    else if (m_sha256)
        m_sha256->Update(data, size);
    m_size += size;
}

bool CStagedFile::ReadAll(std::string* bytes, size_t maxBytes) const
{
    bytes->clear();
    LARGE_INTEGER start = {};
    if (!m_file || m_size > maxBytes || !::SetFilePointerEx(m_file.Get(), start, nullptr, FILE_BEGIN))
        return false;
    bytes->resize(static_cast<size_t>(m_size));
    DWORD read = 0;
    bool ok = m_size == 0 || (::ReadFile(m_file.Get(), &(*bytes)[0], static_cast<DWORD>(m_size), &read, nullptr) &&
                              read == m_size);
    LARGE_INTEGER end = {};
    ::SetFilePointerEx(m_file.Get(), end, nullptr, FILE_END);
    return ok;
}

bool CStagedFile::MoveTo(const std::wstring& target)
{
    if (!m_file)
        return false;
    // The rename goes through the handle; its name is the system's own form
    // of the full path.
    const std::wstring name = NtPathOf(target);
    std::vector<BYTE> buffer(sizeof(FILE_RENAME_INFO) + name.size() * sizeof(wchar_t));
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->ReplaceIfExists = TRUE;
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<DWORD>(name.size() * sizeof(wchar_t));
    std::memcpy(info->FileName, name.c_str(), info->FileNameLength);
    if (!::SetFileInformationByHandle(m_file.Get(), FileRenameInfo, info, static_cast<DWORD>(buffer.size())))
        return false;
    ::FlushFileBuffers(m_file.Get());
    m_file.Reset();
    m_path = target;
    return true;
}

void CStagedFile::Keep()
{
    m_file.Reset();
}
