#include "Checksum.h"

#include "Handles.h"

#include <cstring>

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
    CChecksum checksum;
    uint64_t total = 0;
    if (!ReadFileChunks(path, kChecksumBlock, [&](const BYTE* data, DWORD read) {
            checksum.Update(data, read);
            total += read;
            return true;
        }))
        return false;
    *sum = checksum.Final();
    if (size)
        *size = total;
    return true;
}

uint32_t FileChecksum(const std::wstring& path)
{
    uint32_t sum = 0;
    return ComputeFileChecksum(path, &sum) ? sum : 0;
}
