// The file checksum that a manifest's f_crc carries: the sum, modulo 2^32, of
// the file read as little-endian 32-bit words. A last read of 1 to 3 bytes
// replaces only the low bytes of the previous word before it is added, so
// the bytes 01 02 03 04 05 06 sum the words 04030201 and 04030605.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class CChecksum {
public:
    // Feeds the next bytes of the file; any split into blocks gives the same sum.
    void Update(const void* data, size_t size);
    uint32_t Final() const;

private:
    uint32_t m_sum = 0;
    uint32_t m_lastWord = 0;  // the previous full word, for a short tail
    uint8_t m_partial[4] = {};
    size_t m_partialSize = 0;
};

// Block size of the file reads: large enough to make each read cheap, small
// enough that the block is still in the processor's cache when it is summed.
constexpr size_t kChecksumBlock = 256 * 1024;

// Checksum and size of a whole file, read in kChecksumBlock blocks; false when the file
// cannot be opened or read.
bool ComputeFileChecksum(const std::wstring& path, uint32_t* sum, uint64_t* size = nullptr);

// Checksum of a whole file; 0 when it cannot be opened or read.
uint32_t FileChecksum(const std::wstring& path);
