#include "MovieFile.h"

#include "Handles.h"

#include <windows.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace sim {
namespace {

// Larger files are not read here.
const uint32_t kMaxLength = 64u << 20;

uint32_t U30(const std::string& abc, size_t* pos)
{
    uint32_t value = 0;
    for (int shift = 0; shift < 35 && *pos < abc.size(); shift += 7) {
        const uint8_t b = static_cast<uint8_t>(abc[(*pos)++]);
        value |= static_cast<uint32_t>(b & 0x7F) << shift;
        if (!(b & 0x80))
            break;
    }
    return value;
}

// The strings of an ABC block's constant pool.
std::vector<std::string> AbcStrings(const std::string& abc)
{
    std::vector<std::string> out;
    size_t pos = 4; // minor and major version
    uint32_t n = U30(abc, &pos);
    for (uint32_t i = 1; i < n && pos < abc.size(); ++i)
        U30(abc, &pos); // ints
    n = U30(abc, &pos);
    for (uint32_t i = 1; i < n && pos < abc.size(); ++i)
        U30(abc, &pos); // uints
    n = U30(abc, &pos);
    if (n > 1)
        pos += 8 * static_cast<size_t>(n - 1); // doubles
    n = U30(abc, &pos);
    for (uint32_t i = 1; i < n && pos < abc.size(); ++i) {
        const uint32_t size = U30(abc, &pos);
        if (pos + size > abc.size())
            break;
        out.push_back(abc.substr(pos, size));
        pos += size;
    }
    return out;
}

} // namespace

MovieFile ReadMovie(const std::wstring& path)
{
    CFileHandle f(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, 0, nullptr));
    if (!f)
        return MovieFile();
    LARGE_INTEGER size = {};
    std::string data;
    if (::GetFileSizeEx(f.Get(), &size) && size.QuadPart >= 8 && size.QuadPart < kMaxLength) {
        data.resize(static_cast<size_t>(size.QuadPart));
        DWORD got = 0;
        if (!::ReadFile(f.Get(), &data[0], static_cast<DWORD>(data.size()), &got, nullptr) || got != data.size())
            data.clear();
    }
    f.Reset();
    MovieReader reader;
    // A file is read whole: a compressed one must inflate to its end.
    if (!reader.Add(data.data(), data.size()) || reader.Unfinished())
        return MovieFile();
    return reader.Movie();
}

MovieReader::~MovieReader()
{
    if (m_z) {
        ::inflateEnd(m_z);
        delete m_z;
    }
}

bool MovieReader::Add(const char* bytes, size_t size)
{
    if (m_bad)
        return false;
    const size_t head = m_head.size() < 8 ? std::min(size, 8 - m_head.size()) : 0;
    m_head.append(bytes, head);
    bytes += head;
    size -= head;
    if (m_head.size() < 8)
        return true;
    if (!m_checked) {
        m_checked = true;
        for (int i = 0; i < 4; ++i)
            m_length |= static_cast<uint32_t>(static_cast<uint8_t>(m_head[4 + i])) << (8 * i);
        if (m_head.compare(0, 3, "CWS") == 0) {
            // The declared length counts the 8 bytes before the stream: the
            // inflated body must fit in the rest.
            if (m_length <= 8 || m_length - 8 > kMaxLength) {
                m_bad = true;
                return false;
            }
            m_z = new z_stream();
            if (::inflateInit(m_z) != Z_OK) {
                m_bad = true;
                return false;
            }
        } else if (m_head.compare(0, 3, "FWS") != 0) {
            m_bad = true; // LZMA ("ZWS") or not a movie: not read here
            return false;
        }
    }
    if (!m_z) {
        m_body.append(bytes, size);
        m_bodySize += size;
    } else if (!m_streamEnd && size) {
        m_z->next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes));
        m_z->avail_in = static_cast<uInt>(size);
        char out[16384];
        while (m_z->avail_in && !m_streamEnd) {
            m_z->next_out = reinterpret_cast<Bytef*>(out);
            m_z->avail_out = sizeof out;
            const int result = ::inflate(m_z, Z_NO_FLUSH);
            const size_t made = sizeof out - m_z->avail_out;
            if ((result != Z_OK && result != Z_STREAM_END) || m_bodySize + made > m_length - 8) {
                m_bad = true;
                return false;
            }
            m_body.append(out, made);
            m_bodySize += made;
            m_streamEnd = result == Z_STREAM_END;
        }
    }
    if (m_bodySize > kMaxLength) {
        m_bad = true;
        return false;
    }
    Parse();
    return true;
}

void MovieReader::Parse()
{
    auto u16 = [&](size_t at) {
        return static_cast<unsigned>(static_cast<uint8_t>(m_body[at]) | (static_cast<uint8_t>(m_body[at + 1]) << 8));
    };
    size_t pos = 0;
    if (!m_movie.readable) {
        if (m_body.empty())
            return;
        const int nbits = static_cast<uint8_t>(m_body[0]) >> 3;
        pos = static_cast<size_t>((5 + 4 * nbits + 7) / 8);
        if (pos + 4 > m_body.size())
            return;
        m_movie.rate = u16(pos) / 256.0;
        m_movie.frames = static_cast<int>(u16(pos + 2));
        m_movie.readable = true;
        pos += 4;
    }
    // Whole tags only: one cut short waits for its remaining bytes.
    while (!m_ended && pos + 2 <= m_body.size()) {
        const unsigned codeLen = u16(pos);
        const unsigned code = codeLen >> 6;
        size_t start = pos + 2;
        size_t length = codeLen & 0x3F;
        if (length == 0x3F) {
            if (start + 4 > m_body.size())
                break;
            length = u16(start) | (static_cast<size_t>(u16(start + 2)) << 16);
            start += 4;
        }
        if (start + length > m_body.size())
            break;
        pos = start + length;
        if (code == 0) {
            m_ended = true;
        } else if (code == 1) {
            ++m_frames;
        } else if (code == 69 && length) {
            m_movie.useNetwork = (m_body[start] & 0x01) != 0;
        } else if (code == 82 || code == 72) {
            std::string abc = m_body.substr(start, length);
            if (code == 82) { // flags, name, then the code
                const size_t nameEnd = abc.find('\0', 4);
                abc = nameEnd == std::string::npos ? std::string() : abc.substr(nameEnd + 1);
            }
            std::vector<std::string> strings = AbcStrings(abc);
            bool registers = false;
            for (const std::string& s : strings)
                registers = registers || s == "addCallback";
            if (registers && m_movie.callbackFrame < 0) {
                m_movie.callbackFrame = m_frames;
                m_movie.names.insert(strings.begin(), strings.end());
            }
        }
    }
    m_body.erase(0, m_ended ? m_body.size() : pos);
}

} // namespace sim
