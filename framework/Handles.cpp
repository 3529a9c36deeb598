#include "Handles.h"

#include <vector>

bool ReadFileChunks(const std::wstring& path, size_t chunkSize,
                    const std::function<bool(const BYTE* data, DWORD size)>& take, DWORD share)
{
    CFileHandle file(
        ::CreateFileW(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file)
        return false;
    std::vector<BYTE> buffer(chunkSize);
    for (;;) {
        DWORD read = 0;
        if (!::ReadFile(file.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr))
            return false;
        if (read == 0)
            return true;
        if (!take(buffer.data(), read))
            return false;
    }
}

bool ReadSmallFile(const std::wstring& path, size_t maxBytes, std::string* bytes)
{
    bytes->clear();
    bool tooLarge = false;
    const bool ok = ReadFileChunks(
        path, 4096,
        [&](const BYTE* data, DWORD size) {
            tooLarge = bytes->size() + size > maxBytes;
            if (!tooLarge)
                bytes->append(reinterpret_cast<const char*>(data), size);
            return !tooLarge;
        },
        FILE_SHARE_READ);
    if (ok)
        return true;
    bytes->clear();
    if (tooLarge)
        ::SetLastError(ERROR_FILE_TOO_LARGE);
    return false;
}

bool WriteWholeFile(const std::wstring& path, const void* data, size_t size, bool flush)
{
    CFileHandle file(
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return false;
    DWORD written = 0;
    const bool ok = ::WriteFile(file.Get(), data, static_cast<DWORD>(size), &written, nullptr) && written == size &&
                    (!flush || ::FlushFileBuffers(file.Get()));
    return file.Close() && ok;
}
