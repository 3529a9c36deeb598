#include "Checksum.h"

#include <windows.h>

#include <cstring>
#include <vector>

void CChecksum::Update(const void* data, size_t size)
{
    auto* p = static_cast<const uint8_t*>(data);
    // Complete a word begun by the previous block.
    while (m_partialSize > 0 && m_partialSize < 4 && size > 0) {
        m_partial[m_partialSize++] = *p++;
        --size;
    }
    if (m_partialSize == 4) {
        std::memcpy(&m_lastWord, m_partial, 4);
        m_sum += m_lastWord;
        m_partialSize = 0;
    }
    size_t words = size / 4;
    // Independent lanes, so that the adds do not wait on each other.
    uint32_t lane[16] = {};
    size_t i = 0;
    for (; i + 16 <= words; i += 16) {
        for (size_t k = 0; k < 16; ++k) {
            uint32_t w;
            std::memcpy(&w, p + (i + k) * 4, 4);
            lane[k] += w;
        }
    }
    uint32_t sum = m_sum;
    for (uint32_t l : lane)
        sum += l;
    for (; i < words; ++i) {
        uint32_t w;
        std::memcpy(&w, p + i * 4, 4);
        sum += w;
    }
    m_sum = sum;
    if (words > 0)
        std::memcpy(&m_lastWord, p + (words - 1) * 4, 4);
    p += words * 4;
    size -= words * 4;
    for (size_t i = 0; i < size; ++i)
        m_partial[m_partialSize++] = p[i];
}

uint32_t CChecksum::Final() const
{
    if (m_partialSize == 0)
        return m_sum;
    uint8_t word[4];
    std::memcpy(word, &m_lastWord, 4);
    std::memcpy(word, m_partial, m_partialSize);
    uint32_t tail;
    std::memcpy(&tail, word, 4);
    return m_sum + tail;
}

bool ComputeFileChecksum(const std::wstring& path, uint32_t* sum, uint64_t* size)
{
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    CChecksum checksum;
    uint64_t total = 0;
    std::vector<uint8_t> buffer(kChecksumBlock);
    bool ok = true;
    for (;;) {
        DWORD read = 0;
        if (!::ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr)) {
            ok = false;
            break;
        }
        if (read == 0)
            break;
        checksum.Update(buffer.data(), read);
        total += read;
    }
    ::CloseHandle(file);
    if (ok) {
        *sum = checksum.Final();
        if (size)
            *size = total;
    }
    return ok;
}

uint32_t FileChecksum(const std::wstring& path)
{
    uint32_t sum = 0;
    return ComputeFileChecksum(path, &sum) ? sum : 0;
}
