#include "MovieFile.h"

#include "Handles.h"

#include <windows.h>
#include <zlib.h>

#include <cstdint>
#include <vector>

namespace sim {
namespace {

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
    MovieFile movie;
    CFileHandle f(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, 0, nullptr));
    if (!f)
        return movie;
    LARGE_INTEGER size = {};
    std::string data;
    if (::GetFileSizeEx(f.Get(), &size) && size.QuadPart >= 8 && size.QuadPart < (64 << 20)) {
        data.resize(static_cast<size_t>(size.QuadPart));
        DWORD got = 0;
        if (!::ReadFile(f.Get(), &data[0], static_cast<DWORD>(data.size()), &got, nullptr) || got != data.size())
            data.clear();
    }
    f.Reset();
    if (data.size() < 8)
        return movie;
    std::string body;
    if (data.compare(0, 3, "FWS") == 0) {
        body = data.substr(8);
    } else if (data.compare(0, 3, "CWS") == 0) {
        // The header declares the whole length, the 8 bytes before the
        // stream included: the inflated body must fit in the rest.
        uint32_t declared = 0;
        for (int i = 0; i < 4; ++i)
            declared |= static_cast<uint32_t>(static_cast<uint8_t>(data[4 + i])) << (8 * i);
        if (declared <= 8 || declared - 8 > (64u << 20))
            return movie;
        body.resize(declared - 8);
        uLongf size = static_cast<uLongf>(body.size());
        if (::uncompress(reinterpret_cast<Bytef*>(&body[0]), &size, reinterpret_cast<const Bytef*>(data.data()) + 8,
                         static_cast<uLong>(data.size() - 8)) != Z_OK)
            return movie;
        body.resize(size);
    } else {
        return movie; // LZMA ("ZWS") or not a movie: not read here
    }
    if (body.empty())
        return movie;
    const int nbits = static_cast<uint8_t>(body[0]) >> 3;
    size_t pos = static_cast<size_t>((5 + 4 * nbits + 7) / 8);
    if (pos + 4 > body.size())
        return movie;
    auto u16 = [&](size_t at) { return static_cast<unsigned>(static_cast<uint8_t>(body[at]) | (static_cast<uint8_t>(body[at + 1]) << 8)); };
    movie.rate = u16(pos) / 256.0;
    movie.frames = static_cast<int>(u16(pos + 2));
    pos += 4;
    int frame = 0;
    while (pos + 2 <= body.size()) {
        const unsigned codeLen = u16(pos);
        pos += 2;
        const unsigned code = codeLen >> 6;
        size_t length = codeLen & 0x3F;
        if (length == 0x3F) {
            if (pos + 4 > body.size())
                break;
            length = u16(pos) | (static_cast<size_t>(u16(pos + 2)) << 16);
            pos += 4;
        }
        if (pos + length > body.size())
            break;
        const std::string payload = body.substr(pos, length);
        pos += length;
        if (code == 0)
            break;
        if (code == 1) {
            ++frame;
        } else if (code == 69 && !payload.empty()) {
            movie.useNetwork = (payload[0] & 0x01) != 0;
        } else if (code == 82 || code == 72) {
            std::string abc = payload;
            if (code == 82) { // flags, name, then the code
                const size_t nameEnd = payload.find('\0', 4);
                abc = nameEnd == std::string::npos ? std::string() : payload.substr(nameEnd + 1);
            }
            std::vector<std::string> strings = AbcStrings(abc);
            bool registers = false;
            for (const std::string& s : strings)
                registers = registers || s == "addCallback";
            if (registers && movie.callbackFrame < 0) {
                movie.callbackFrame = frame;
                movie.names.insert(strings.begin(), strings.end());
            }
        }
    }
    movie.readable = true;
    return movie;
}

} // namespace sim
