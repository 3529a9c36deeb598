// Simulated player controls: stand-ins for the Flash, Windows Media and Real
// ActiveX controls on machines that have none of them. One in-process server
// serves the three class ids.
//
// A simulated control models what the real control does, derived from the
// real inputs it gets, never from what the player expects. Each behaviour
// below names the public source it was taken from:
//
//  [FLASH-TLB]  the Flash control's type library as imported by public hosts
//               (a unit generated from Flash.ocx's type library): member
//               kinds, dispatch ids, argument types.
//  [FLASH-API]  "Scripting with Flash Player and ActiveX", as kept in a public
//               Flash runtime's declarations of the control's API: the frame
//               of CurrentFrame/GotoFrame counts from 0; PercentLoaded 0 to
//               100; Play starts the timeline, StopPlay stops it, Rewind goes
//               to the first frame. ReadyState is the control's ready state
//               (DISPID_READYSTATE): 0 loading ... 4 complete.
//  [SWF]        the published SWF file format, version 10: header frame
//               rate (8.8 fixed) and frame count, ShowFrame (1) ends a frame,
//               FileAttributes (69) bit UseNetwork, DoABC (82) code.
//  [FLASH-SEC]  Adobe's Flash Player security documentation: a local movie
//               without UseNetwork is local-with-file-system (no network
//               loads), with it local-with-networking (no local files).
//  [AS3-NS]     ActionScript 3 reference, NetStream: FLV and MP4 (H.264)
//               sources; ExternalInterface.addCallback registers a function
//               for CallFunction when the code that calls it runs.
//  [WMP-IDL]    Wine's include/wmp.idl, with the Windows
//               SDK for controls.currentItem, which Wine declares without
//               propget: ids, kinds and types of the player, controls,
//               settings, network and media objects; WMPPlayState values.
//  [WMP-DOC]    Microsoft's Windows Media Player SDK: playState values
//               (9 transitioning, 6 buffering, 10 ready, 8 media ended);
//               settings.autoStart defaults to true; network.bufferingProgress
//               is a percentage; a URL that cannot be opened leaves the player
//               ready (10), which it keeps.
//  [WMP-KB]     Microsoft KB 316992 "File types supported by Windows Media
//               Player" (Player 12): .asf .wma .wmv .wm .avi .mpg .mpeg .mp2
//               .mp3 .wav .mov .m4a .mp4 .m4v .3gp .aac .m2ts .flac ...; no
//               .flv and no RealMedia without codecs added.
//  [REAL-WRAP]  a public MFC wrapper generated from the Real control
//               {CFCDAA03-...} (a textbook's multimedia example): every member
//               is a method except the properties (NoLabels 0x69 ...), with
//               its argument types (SetVolume short, SetPosition long ...).
//  [REAL-DOC]   RealNetworks' "Extending RealPlayer" guide (service.real.com,
//               .../guides/extend/, appendices A and B): GetPlayState 0
//               stopped, 1 contacting, 2 buffering, 3 playing, 4 paused,
//               5 seeking; GetBufferingTimeRemaining in milliseconds; an error
//               is reported through OnErrorMessage and the clip is closed
//               (OnClipClosed), after which the control reads stopped (0).
//  [COM]        IDispatch::Invoke documentation: DISP_E_MEMBERNOTFOUND for a
//               member or kind that does not exist, DISP_E_BADPARAMCOUNT,
//               DISP_E_TYPEMISMATCH with puArgErr, DISPID_PROPERTYPUT named
//               argument for a property put; ITypeInfo::Invoke: a member that
//               returns an error HRESULT comes back as DISP_E_EXCEPTION with
//               the HRESULT in EXCEPINFO.scode. Where the declarations say a
//               type, only that type is taken (no coercion): the strict
//               reading where the documentation is silent.
//
// What no control can be given here is media: the simulation decodes
// nothing, so a source's name stands for its content. "...-<n>s.<ext>" lasts
// n seconds (default 5); "-buffer<n>s" anywhere in the name buffers for n
// seconds, with progress, before it plays; a source whose text contains
// "missing" (any case) cannot be opened (not found). Whether a format can be
// opened at all is each control's own rule ([WMP-KB], [AS3-NS]). The name is
// read without regard to case; the source itself is kept as given.
//
// QZ_SIM_LOG names a log file (one line per call, appended, shared);
// QZ_SIM_OPENING_MS is how long opening takes (default 300 ms).
#include <ole2.h>
#include <ocidl.h>
#include <olectl.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <set>
#include <string>
#include <vector>

namespace {

const CLSID kFlash = {0xd27cdb6e, 0xae6d, 0x11cf, {0x96, 0xb8, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const CLSID kMedia = {0x6bf52a52, 0x394a, 0x11d3, {0xb1, 0x53, 0x00, 0xc0, 0x4f, 0x79, 0xfa, 0xa6}};
const CLSID kReal = {0xcfcdaa03, 0x8be4, 0x11cf, {0xb8, 0x4b, 0x00, 0x20, 0xaf, 0xbb, 0xcc, 0xfa}};

HINSTANCE g_module = nullptr;
LONG g_live = 0;
LONG g_locks = 0;

ULONGLONG OpeningMs()
{
    static const ULONGLONG ms = [] {
        wchar_t v[32];
        return ::GetEnvironmentVariableW(L"QZ_SIM_OPENING_MS", v, 32) ? static_cast<ULONGLONG>(_wtoi(v)) : 300ULL;
    }();
    return ms;
}

// Milliseconds from then to now, never negative: one clock read per call is
// handed down, so a later read can never lie before an earlier one.
ULONGLONG Since(ULONGLONG now, ULONGLONG then)
{
    return now > then ? now - then : 0;
}

std::wstring Upper(std::wstring s)
{
    for (wchar_t& c : s)
        if (c >= L'a' && c <= L'z')
            c = static_cast<wchar_t>(c - L'a' + L'A');
    return s;
}

void Log(const std::wstring& line)
{
    wchar_t path[MAX_PATH];
    if (!::GetEnvironmentVariableW(L"QZ_SIM_LOG", path, MAX_PATH))
        return;
    HANDLE f = ::CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return;
    std::wstring text = line + L"\r\n";
    int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                      nullptr);
    std::string utf8(static_cast<size_t>(bytes), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &utf8[0], bytes, nullptr, nullptr);
    DWORD written = 0;
    ::WriteFile(f, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
    ::CloseHandle(f);
}

std::wstring Number(double v)
{
    wchar_t b[64];
    swprintf(b, 64, L"%g", v);
    return b;
}

std::wstring Clock(double seconds)
{
    const long s = static_cast<long>(seconds);
    wchar_t b[32];
    swprintf(b, 32, L"%02ld:%02ld:%02ld", s / 3600, (s % 3600) / 60, s % 60);
    return b;
}

bool StartsWithNoCase(const std::wstring& s, const wchar_t* prefix)
{
    return Upper(s.substr(0, wcslen(prefix))) == Upper(prefix);
}

// ---------------------------------------------------------------------------
// A zlib stream (RFC 1950) inflated (RFC 1951): the body of a compressed
// movie [SWF]. Windows offers no inflater to a program, so it is here.

class Inflater {
public:
    Inflater(const uint8_t* data, size_t size, size_t limit) : m_in(data), m_size(size), m_limit(limit) {}

    bool Run(std::string* out)
    {
        if (m_size < 2 || (m_in[0] & 0x0F) != 8 || ((m_in[0] << 8) | m_in[1]) % 31 != 0)
            return false;
        m_pos = 2;
        int last = 0;
        do {
            last = Bits(1);
            const int type = Bits(2);
            bool ok = false;
            if (type == 0)
                ok = Stored();
            else if (type == 1)
                ok = Fixed();
            else if (type == 2)
                ok = Dynamic();
            if (!ok || m_bad)
                return false;
        } while (!last);
        *out = std::move(m_out);
        return true;
    }

private:
    struct Huffman {
        short count[16] = {};
        short symbol[320] = {};
    };

    int Bits(int need)
    {
        while (m_count < need) {
            if (m_pos >= m_size) {
                m_bad = true;
                return 0;
            }
            m_buffer |= static_cast<uint32_t>(m_in[m_pos++]) << m_count;
            m_count += 8;
        }
        const int value = static_cast<int>(m_buffer & ((1u << need) - 1));
        m_buffer >>= need;
        m_count -= need;
        return value;
    }

    bool Stored()
    {
        m_buffer = 0;
        m_count = 0;
        if (m_pos + 4 > m_size)
            return false;
        const unsigned len = m_in[m_pos] | (m_in[m_pos + 1] << 8);
        const unsigned nlen = m_in[m_pos + 2] | (m_in[m_pos + 3] << 8);
        m_pos += 4;
        if (len != (~nlen & 0xFFFFu) || m_pos + len > m_size || m_out.size() + len > m_limit)
            return false;
        m_out.append(reinterpret_cast<const char*>(m_in + m_pos), len);
        m_pos += len;
        return true;
    }

    // Canonical code from code lengths; false when over-subscribed.
    static bool Build(Huffman* h, const short* lengths, int n)
    {
        for (short& c : h->count)
            c = 0;
        for (int i = 0; i < n; ++i)
            h->count[lengths[i]]++;
        h->count[0] = 0;
        int left = 1;
        for (int len = 1; len < 16; ++len) {
            left = (left << 1) - h->count[len];
            if (left < 0)
                return false;
        }
        short offsets[16] = {};
        for (int len = 1; len < 15; ++len)
            offsets[len + 1] = static_cast<short>(offsets[len] + h->count[len]);
        for (int i = 0; i < n; ++i)
            if (lengths[i])
                h->symbol[offsets[lengths[i]]++] = static_cast<short>(i);
        return true;
    }

    int Decode(const Huffman& h)
    {
        int code = 0, first = 0, index = 0;
        for (int len = 1; len < 16; ++len) {
            code |= Bits(1);
            const int count = h.count[len];
            if (code - count < first)
                return h.symbol[index + (code - first)];
            index += count;
            first += count;
            first <<= 1;
            code <<= 1;
            if (m_bad)
                return -1;
        }
        return -1;
    }

    bool Codes(const Huffman& lengths, const Huffman& distances)
    {
        static const short lbase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                        31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
        static const short lextra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                         2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
        static const short dbase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                        193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
        static const short dextra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6,
                                         6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
        for (;;) {
            int symbol = Decode(lengths);
            if (symbol < 0 || m_bad)
                return false;
            if (symbol < 256) {
                if (m_out.size() >= m_limit)
                    return false;
                m_out.push_back(static_cast<char>(symbol));
                continue;
            }
            if (symbol == 256)
                return true;
            symbol -= 257;
            if (symbol >= 29)
                return false;
            const size_t len = static_cast<size_t>(lbase[symbol] + Bits(lextra[symbol]));
            const int d = Decode(distances);
            if (d < 0 || d >= 30)
                return false;
            const size_t dist = static_cast<size_t>(dbase[d] + Bits(dextra[d]));
            if (m_bad || dist > m_out.size() || m_out.size() + len > m_limit)
                return false;
            for (size_t i = 0; i < len; ++i)
                m_out.push_back(m_out[m_out.size() - dist]);
        }
    }

    bool Fixed()
    {
        short lengths[320];
        int i = 0;
        for (; i < 144; ++i)
            lengths[i] = 8;
        for (; i < 256; ++i)
            lengths[i] = 9;
        for (; i < 280; ++i)
            lengths[i] = 7;
        for (; i < 288; ++i)
            lengths[i] = 8;
        Huffman lit, dist;
        Build(&lit, lengths, 288);
        for (i = 0; i < 30; ++i)
            lengths[i] = 5;
        Build(&dist, lengths, 30);
        return Codes(lit, dist);
    }

    bool Dynamic()
    {
        static const short order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
        const int nlen = Bits(5) + 257, ndist = Bits(5) + 1, ncode = Bits(4) + 4;
        if (nlen > 286 || ndist > 30 || m_bad)
            return false;
        short lengths[320] = {};
        for (int i = 0; i < ncode; ++i)
            lengths[order[i]] = static_cast<short>(Bits(3));
        Huffman code;
        if (!Build(&code, lengths, 19))
            return false;
        int index = 0;
        while (index < nlen + ndist) {
            int symbol = Decode(code);
            if (symbol < 0 || m_bad)
                return false;
            if (symbol < 16) {
                lengths[index++] = static_cast<short>(symbol);
                continue;
            }
            short value = 0;
            int repeat = 0;
            if (symbol == 16) {
                if (index == 0)
                    return false;
                value = lengths[index - 1];
                repeat = 3 + Bits(2);
            } else if (symbol == 17) {
                repeat = 3 + Bits(3);
            } else {
                repeat = 11 + Bits(7);
            }
            if (index + repeat > nlen + ndist)
                return false;
            while (repeat--)
                lengths[index++] = value;
        }
        Huffman lit, dist;
        return Build(&lit, lengths, nlen) && Build(&dist, lengths + nlen, ndist) && Codes(lit, dist);
    }

    const uint8_t* m_in;
    size_t m_size;
    size_t m_limit;
    size_t m_pos = 0;
    uint32_t m_buffer = 0;
    int m_count = 0;
    bool m_bad = false;
    std::string m_out;
};

// ---------------------------------------------------------------------------
// What a movie file says about itself [SWF]: read from the file the control
// is given, as the real control reads it.

struct MovieFile {
    bool readable = false;
    int frames = 0;          // header frame count
    double rate = 0;         // frames per second
    bool useNetwork = false; // FileAttributes
    int callbackFrame = -1;  // the frame whose code registers callbacks [AS3-NS]
    std::set<std::string> names; // names in that code's constant pool
};

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

MovieFile ReadMovie(const std::wstring& path)
{
    MovieFile movie;
    HANDLE f = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return movie;
    LARGE_INTEGER size = {};
    std::string data;
    if (::GetFileSizeEx(f, &size) && size.QuadPart >= 8 && size.QuadPart < (64 << 20)) {
        data.resize(static_cast<size_t>(size.QuadPart));
        DWORD got = 0;
        if (!::ReadFile(f, &data[0], static_cast<DWORD>(data.size()), &got, nullptr) || got != data.size())
            data.clear();
    }
    ::CloseHandle(f);
    if (data.size() < 8)
        return movie;
    std::string body;
    if (data.compare(0, 3, "FWS") == 0) {
        body = data.substr(8);
    } else if (data.compare(0, 3, "CWS") == 0) {
        Inflater inflater(reinterpret_cast<const uint8_t*>(data.data()) + 8, data.size() - 8, 64 << 20);
        if (!inflater.Run(&body))
            return movie;
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

// ---------------------------------------------------------------------------
// A media item: what its name stands for (see the top of the file), and its
// clock. Every transition happens at the time it is due, whenever it is
// read, so that what a control answers depends on the time only.

struct MediaInfo {
    std::wstring name;      // the last part of the source, without a query
    std::wstring extension; // upper case, with the dot
    double length = 5;
    double buffering = 0;
    bool missing = false;
};

// The decimal number that ends just before end, and where it starts; -1
// when there is none.
long NumberBefore(const std::wstring& upper, size_t end, size_t* start)
{
    size_t b = end;
    while (b > 0 && iswdigit(upper[b - 1]))
        --b;
    *start = b;
    return b < end ? _wtol(upper.substr(b, end - b).c_str()) : -1;
}

MediaInfo Describe(const std::wstring& source)
{
    MediaInfo info;
    std::wstring name = source;
    const size_t query = name.find(L'?');
    if (query != std::wstring::npos)
        name.resize(query);
    const size_t slash = name.find_last_of(L"\\/");
    if (slash != std::wstring::npos)
        name = name.substr(slash + 1);
    info.name = name;
    const std::wstring upper = Upper(name);
    const size_t dot = upper.rfind(L'.');
    info.extension = dot == std::wstring::npos ? L"" : upper.substr(dot);
    size_t start = 0;
    if (dot != std::wstring::npos && dot > 1 && upper[dot - 1] == L'S') {
        const long n = NumberBefore(upper, dot - 1, &start);
        if (n >= 0 && start > 0 && upper[start - 1] == L'-')
            info.length = n;
    }
    const size_t buffer = upper.find(L"-BUFFER");
    if (buffer != std::wstring::npos) {
        const size_t s = upper.find(L'S', buffer + 7);
        if (s != std::wstring::npos) {
            const long n = NumberBefore(upper, s, &start);
            if (n > 0 && start == buffer + 7)
                info.buffering = n;
        }
    }
    info.missing = Upper(source).find(L"MISSING") != std::wstring::npos;
    return info;
}

class MediaClock {
public:
    enum State { Idle, Opening, Buffering, Playing, Paused, Stopped, Ended, Failed };

    // canOpen: whether the control can open this item at all.
    void Load(const std::wstring& source, bool canOpen)
    {
        m_source = source;
        m_info = Describe(source);
        m_canOpen = canOpen && !m_info.missing;
        m_loaded = true;
        m_state = Idle;
        m_opened = false;
        m_pos = 0;
    }
    bool Loaded() const { return m_loaded; }
    const MediaInfo& Info() const { return m_info; }

    void Play(ULONGLONG now)
    {
        Update(now);
        switch (m_state) {
        case Opening:
        case Buffering:
        case Playing:
            return;
        case Paused:
            if (m_opened) {
                Start(m_pos, now);
                return;
            }
            break;
        default:
            break;
        }
        if (!m_loaded)
            return;
        m_state = Opening;
        m_since = now;
        m_pos = 0;
    }
    void Pause(ULONGLONG now)
    {
        Update(now);
        if (m_state == Playing || m_state == Buffering || m_state == Opening) {
            m_pos = PositionAt(now);
            m_state = Paused;
        }
    }
    void Stop(ULONGLONG now)
    {
        Update(now);
        if (m_state != Idle && m_state != Failed)
            m_state = Stopped;
        m_pos = 0;
    }
    void Seek(double s, ULONGLONG now)
    {
        Update(now);
        if (!m_opened)
            return;
        s = s < 0 ? 0 : s > m_info.length ? m_info.length : s;
        if (m_state == Playing)
            Start(s, now);
        else
            m_pos = s;
    }
    State Get(ULONGLONG now)
    {
        Update(now);
        return m_state;
    }
    double Position(ULONGLONG now)
    {
        Update(now);
        return PositionAt(now);
    }
    // The length is known once the item has opened.
    double Duration(ULONGLONG now)
    {
        Update(now);
        return m_opened ? m_info.length : 0;
    }
    // Buffering done, in percent.
    long BufferingPercent(ULONGLONG now)
    {
        Update(now);
        if (m_state == Buffering)
            return static_cast<long>(Since(now, m_since) / (m_info.buffering * 10.0));
        return m_opened ? 100 : 0;
    }
    double BufferingLeft(ULONGLONG now)
    {
        Update(now);
        return m_state == Buffering ? m_info.buffering - Since(now, m_since) / 1000.0 : 0;
    }

private:
    void Start(double from, ULONGLONG at)
    {
        m_state = Playing;
        m_pos = from;
        m_since = at;
    }
    double PositionAt(ULONGLONG now) const
    {
        if (m_state == Playing) {
            const double p = m_pos + Since(now, m_since) / 1000.0;
            return p < m_info.length ? p : m_info.length;
        }
        return m_state == Stopped || m_state == Failed ? 0 : m_pos;
    }
    // Each step starts at the moment the one before ended, not at now.
    void Update(ULONGLONG now)
    {
        if (m_state == Opening && Since(now, m_since) >= OpeningMs()) {
            const ULONGLONG at = m_since + OpeningMs();
            if (!m_canOpen) {
                m_state = Failed;
                m_pos = 0;
            } else {
                m_opened = true;
                if (m_info.buffering > 0) {
                    m_state = Buffering;
                    m_since = at;
                } else {
                    Start(0, at);
                }
            }
        }
        if (m_state == Buffering && Since(now, m_since) >= static_cast<ULONGLONG>(m_info.buffering * 1000))
            Start(m_pos, m_since + static_cast<ULONGLONG>(m_info.buffering * 1000));
        if (m_state == Playing && m_pos + Since(now, m_since) / 1000.0 >= m_info.length) {
            m_state = Ended;
            m_pos = m_info.length;
        }
    }

    std::wstring m_source;
    MediaInfo m_info;
    bool m_loaded = false;
    bool m_canOpen = false;
    bool m_opened = false;
    State m_state = Idle;
    double m_pos = 0;
    ULONGLONG m_since = 0;
};

const wchar_t* StateName(MediaClock::State s)
{
    static const wchar_t* const names[] = {L"idle",   L"opening", L"buffering", L"playing",
                                           L"paused", L"stopped", L"ended",     L"cannot be opened"};
    return names[s];
}

// ---------------------------------------------------------------------------
// Dispatch by declared members [COM]: each id answers only to the kinds the
// real interface declares, with exactly the argument types it declares.

enum Kind : WORD { Method = DISPATCH_METHOD, Get = DISPATCH_PROPERTYGET, Put = DISPATCH_PROPERTYPUT };

struct Member {
    DISPID id;
    WORD kind;
    VARTYPE args[2];
    UINT argc;
};

#define M0(id, kind) {id, kind, {VT_EMPTY, VT_EMPTY}, 0}
#define M1(id, kind, a) {id, kind, {a, VT_EMPTY}, 1}

// Arguments as declared (last first in rgvarg), already checked.
struct Args {
    DISPPARAMS* dp;
    const VARIANT& At(UINT i) const { return dp->rgvarg[dp->cArgs - 1 - i]; }
    std::wstring Str(UINT i) const { return At(i).bstrVal ? At(i).bstrVal : L""; }
    bool Bool(UINT i) const { return At(i).boolVal != VARIANT_FALSE; }
    long Long(UINT i) const { return At(i).lVal; }
    short Short(UINT i) const { return At(i).iVal; }
    double Dbl(UINT i) const { return At(i).dblVal; }
};

class DispatchBase : public IDispatch {
public:
    DispatchBase(const wchar_t* name, const Member* members, size_t count)
        : m_logName(name), m_members(members), m_count(count)
    {
        ::InterlockedIncrement(&g_live);
    }
    virtual ~DispatchBase() { ::InterlockedDecrement(&g_live); }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(::InterlockedIncrement(&m_refs)); }
    STDMETHODIMP_(ULONG) Release() override
    {
        LONG left = ::InterlockedDecrement(&m_refs);
        if (!left)
            delete this;
        return static_cast<ULONG>(left);
    }
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        *out = (iid == IID_IUnknown || iid == IID_IDispatch) ? static_cast<IDispatch*>(this) : nullptr;
        if (!*out)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP GetTypeInfoCount(UINT* n) override
    {
        *n = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return DISP_E_UNKNOWNNAME; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* dp, VARIANT* result, EXCEPINFO* info,
                        UINT* argError) override
    {
        if (result)
            ::VariantInit(result);
        DISPPARAMS none = {};
        if (!dp)
            dp = &none;
        WORD kind = 0;
        const HRESULT hr = Check(id, flags, dp, &kind, argError);
        if (FAILED(hr)) {
            Log(std::wstring(m_logName) + L" refused " + std::to_wstring(id) + L" flags " + std::to_wstring(flags) +
                L" (0x" + Hex(hr) + L")");
            return hr;
        }
        return Call(id, static_cast<Kind>(kind), Args{dp}, result, info);
    }

protected:
    virtual HRESULT Call(DISPID id, Kind kind, const Args& a, VARIANT* result, EXCEPINFO* info) = 0;

    static HRESULT Answer(VARIANT* r, long v)
    {
        if (r) {
            r->vt = VT_I4;
            r->lVal = v;
        }
        return S_OK;
    }
    static HRESULT AnswerBool(VARIANT* r, bool v)
    {
        if (r) {
            r->vt = VT_BOOL;
            r->boolVal = v ? VARIANT_TRUE : VARIANT_FALSE;
        }
        return S_OK;
    }
    static HRESULT Answer(VARIANT* r, double v)
    {
        if (r) {
            r->vt = VT_R8;
            r->dblVal = v;
        }
        return S_OK;
    }
    static HRESULT Answer(VARIANT* r, const std::wstring& v)
    {
        if (r) {
            r->vt = VT_BSTR;
            r->bstrVal = ::SysAllocStringLen(v.data(), static_cast<UINT>(v.size()));
        }
        return S_OK;
    }
    static HRESULT Answer(VARIANT* r, IDispatch* v)
    {
        if (r) {
            r->vt = VT_DISPATCH;
            r->pdispVal = v;
        } else if (v) {
            v->Release();
        }
        return S_OK;
    }
    static HRESULT Raise(EXCEPINFO* info, SCODE code, const wchar_t* text)
    {
        if (info) {
            ZeroMemory(info, sizeof *info);
            info->scode = code;
            info->bstrSource = ::SysAllocString(L"ShockwaveFlash");
            if (text)
                info->bstrDescription = ::SysAllocString(text);
        }
        return DISP_E_EXCEPTION;
    }
    static std::wstring Hex(HRESULT hr)
    {
        wchar_t b[16];
        swprintf(b, 16, L"%08lX", static_cast<unsigned long>(hr));
        return b;
    }

    const wchar_t* m_logName;

private:
    HRESULT Check(DISPID id, WORD flags, DISPPARAMS* dp, WORD* kind, UINT* argError) const
    {
        const Member* found = nullptr;
        bool known = false;
        for (size_t i = 0; i < m_count; ++i) {
            if (m_members[i].id != id)
                continue;
            known = true;
            if (flags & m_members[i].kind) {
                found = &m_members[i];
                break;
            }
        }
        if (!known || !found)
            return DISP_E_MEMBERNOTFOUND;
        if (found->kind == Put) {
            if (dp->cNamedArgs != 1 || !dp->rgdispidNamedArgs || dp->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)
                return DISP_E_PARAMNOTOPTIONAL;
        } else if (dp->cNamedArgs) {
            return DISP_E_NONAMEDARGS;
        }
        if (dp->cArgs != found->argc)
            return DISP_E_BADPARAMCOUNT;
        for (UINT i = 0; i < found->argc; ++i) {
            if (dp->rgvarg[dp->cArgs - 1 - i].vt != found->args[i]) {
                if (argError)
                    *argError = dp->cArgs - 1 - i;
                return DISP_E_TYPEMISMATCH;
            }
        }
        *kind = found->kind;
        return S_OK;
    }

    LONG m_refs = 1;
    const Member* m_members;
    size_t m_count;
};

// ---------------------------------------------------------------------------
// What every simulated control does as an embedded object: it takes a site,
// makes a child window of the site's window at in-place activation and takes
// it down at deactivation. The window shows what the control plays.

const wchar_t kWindowClass[] = L"QZSimulatedControl";
const UINT_PTR kPaintTimer = 1;

class ControlBase : public DispatchBase, public IOleObject, public IOleInPlaceObject {
public:
    ControlBase(const wchar_t* name, const wchar_t* title, const Member* members, size_t count)
        : DispatchBase(name, members, count), m_name(name), m_title(title)
    {
        Log(std::wstring(m_name) + L" create");
    }
    ~ControlBase() override
    {
        Log(std::wstring(m_name) + L" release");
        if (m_wnd)
            ::DestroyWindow(m_wnd);
        if (m_site)
            m_site->Release();
    }
    STDMETHODIMP_(ULONG) AddRef() override { return DispatchBase::AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return DispatchBase::Release(); }
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        *out = nullptr;
        if (iid == IID_IUnknown || iid == IID_IOleObject)
            *out = static_cast<IOleObject*>(this);
        else if (iid == IID_IOleWindow || iid == IID_IOleInPlaceObject)
            *out = static_cast<IOleInPlaceObject*>(this);
        else if (iid == IID_IDispatch)
            *out = static_cast<IDispatch*>(this);
        if (!*out)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }

    STDMETHODIMP SetClientSite(IOleClientSite* site) override
    {
        if (site)
            site->AddRef();
        if (m_site)
            m_site->Release();
        m_site = site;
        return S_OK;
    }
    STDMETHODIMP GetClientSite(IOleClientSite** out) override
    {
        *out = m_site;
        if (m_site)
            m_site->AddRef();
        return S_OK;
    }
    STDMETHODIMP SetHostNames(LPCOLESTR, LPCOLESTR) override { return S_OK; }
    STDMETHODIMP Close(DWORD) override { return S_OK; }
    STDMETHODIMP SetMoniker(DWORD, IMoniker*) override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
    STDMETHODIMP InitFromData(IDataObject*, BOOL, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP GetClipboardData(DWORD, IDataObject**) override { return E_NOTIMPL; }
    STDMETHODIMP DoVerb(LONG verb, LPMSG, IOleClientSite*, LONG, HWND, LPCRECT) override
    {
        if (verb != OLEIVERB_INPLACEACTIVATE && verb != OLEIVERB_SHOW)
            return E_NOTIMPL;
        if (m_wnd)
            return S_OK;
        IOleInPlaceSite* site = nullptr;
        if (!m_site || FAILED(m_site->QueryInterface(IID_IOleInPlaceSite, reinterpret_cast<void**>(&site))))
            return E_NOINTERFACE;
        HWND parent = nullptr;
        site->GetWindow(&parent);
        IOleInPlaceFrame* frame = nullptr;
        IOleInPlaceUIWindow* doc = nullptr;
        RECT pos = {}, clip = {};
        OLEINPLACEFRAMEINFO fi = {};
        fi.cb = sizeof fi;
        site->GetWindowContext(&frame, &doc, &pos, &clip, &fi);
        if (frame)
            frame->Release();
        if (doc)
            doc->Release();
        site->OnInPlaceActivate();
        site->Release();
        RegisterWindowClass();
        m_wnd = ::CreateWindowExW(0, kWindowClass, m_name, WS_CHILD, pos.left, pos.top, pos.right - pos.left,
                                  pos.bottom - pos.top, parent, nullptr, g_module, nullptr);
        if (!m_wnd)
            return E_FAIL;
        ::SetWindowLongPtrW(m_wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        ::SetTimer(m_wnd, kPaintTimer, 250, nullptr);
        return S_OK;
    }
    STDMETHODIMP EnumVerbs(IEnumOLEVERB**) override { return E_NOTIMPL; }
    STDMETHODIMP Update() override { return S_OK; }
    STDMETHODIMP IsUpToDate() override { return S_OK; }
    STDMETHODIMP GetUserClassID(CLSID*) override { return E_NOTIMPL; }
    STDMETHODIMP GetUserType(DWORD, LPOLESTR*) override { return E_NOTIMPL; }
    STDMETHODIMP SetExtent(DWORD, SIZEL*) override { return E_NOTIMPL; }
    STDMETHODIMP GetExtent(DWORD, SIZEL*) override { return E_NOTIMPL; }
    STDMETHODIMP Advise(IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP Unadvise(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP EnumAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }
    STDMETHODIMP GetMiscStatus(DWORD, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP SetColorScheme(LOGPALETTE*) override { return E_NOTIMPL; }

    STDMETHODIMP GetWindow(HWND* out) override
    {
        *out = m_wnd;
        return m_wnd ? S_OK : E_FAIL;
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP InPlaceDeactivate() override
    {
        Log(std::wstring(m_name) + L" deactivate");
        if (m_wnd)
            ::DestroyWindow(m_wnd);
        m_wnd = nullptr;
        IOleInPlaceSite* site = nullptr;
        if (m_site && SUCCEEDED(m_site->QueryInterface(IID_IOleInPlaceSite, reinterpret_cast<void**>(&site)))) {
            site->OnInPlaceDeactivate();
            site->Release();
        }
        return S_OK;
    }
    STDMETHODIMP UIDeactivate() override { return S_OK; }
    STDMETHODIMP SetObjectRects(LPCRECT pos, LPCRECT) override
    {
        if (m_wnd && pos)
            ::MoveWindow(m_wnd, pos->left, pos->top, pos->right - pos->left, pos->bottom - pos->top, TRUE);
        return S_OK;
    }
    STDMETHODIMP ReactivateAndUndo() override { return E_NOTIMPL; }

    // What the window shows: the item, its state and clock, one more line.
    struct Shown {
        std::wstring item, state, extra;
        double position = 0, duration = 0;
    };
    virtual Shown Show(ULONGLONG now) = 0;

    static void Unregister()
    {
        if (g_module)
            ::UnregisterClassW(kWindowClass, g_module);
    }

protected:
    void Trace(const std::wstring& what) { Log(std::wstring(m_name) + L" " + what); }
    // The clock's part of what is shown; the caller adds its own line.
    Shown ClockShown(ULONGLONG now, MediaClock::State* state)
    {
        Shown s;
        *state = m_clock.Get(now);
        s.item = m_clock.Info().name;
        s.state = StateName(*state);
        s.position = m_clock.Position(now);
        s.duration = m_clock.Duration(now);
        return s;
    }

    const wchar_t* m_name;
    MediaClock m_clock;
    HWND m_wnd = nullptr;

private:
    static void RegisterWindowClass()
    {
        WNDCLASSW wc = {};
        if (::GetClassInfoW(g_module, kWindowClass, &wc))
            return;
        wc.style = CS_HREDRAW | CS_VREDRAW;
        wc.lpfnWndProc = &WindowProc;
        wc.hInstance = g_module;
        wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
        wc.lpszClassName = kWindowClass;
        ::RegisterClassW(&wc);
    }

    static LRESULT CALLBACK WindowProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp)
    {
        auto* self = reinterpret_cast<ControlBase*>(::GetWindowLongPtrW(wnd, GWLP_USERDATA));
        switch (msg) {
        case WM_TIMER:
            if (wp == kPaintTimer) {
                ::InvalidateRect(wnd, nullptr, FALSE);
                return 0;
            }
            break;
        case WM_ERASEBKGND:
            return 1;
        case WM_PAINT:
            if (self) {
                self->Paint(wnd);
                return 0;
            }
            break;
        case WM_DESTROY:
            ::KillTimer(wnd, kPaintTimer);
            ::SetWindowLongPtrW(wnd, GWLP_USERDATA, 0);
            break;
        default:
            break;
        }
        return ::DefWindowProcW(wnd, msg, wp, lp);
    }

    void Paint(HWND wnd)
    {
        PAINTSTRUCT ps;
        HDC dc = ::BeginPaint(wnd, &ps);
        RECT client;
        ::GetClientRect(wnd, &client);
        ::FillRect(dc, &client, static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
        const Shown s = Show(::GetTickCount64());
        const int height = client.bottom - client.top;
        HFONT big = ::CreateFontW(-(height > 200 ? 22 : 14), 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0,
                                  CLEARTYPE_QUALITY, 0, L"宋体");
        HFONT small = ::CreateFontW(-(height > 200 ? 16 : 12), 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0,
                                    CLEARTYPE_QUALITY, 0, L"宋体");
        HGDIOBJ old = ::SelectObject(dc, big);
        ::SetBkMode(dc, TRANSPARENT);
        RECT r = client;
        ::InflateRect(&r, -12, -10);
        ::SetTextColor(dc, RGB(120, 200, 255));
        const std::wstring title = std::wstring(m_title) + L" (simulated)";
        ::DrawTextW(dc, title.c_str(), -1, &r, DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
        TEXTMETRICW tm;
        ::GetTextMetricsW(dc, &tm);
        r.top += tm.tmHeight + 8;
        ::SetTextColor(dc, RGB(255, 255, 255));
        ::DrawTextW(dc, (s.item.empty() ? L"(nothing loaded)" : s.item.c_str()), -1, &r,
                    DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX | DT_PATH_ELLIPSIS);
        r.top += tm.tmHeight + 8;
        const std::wstring clock = Clock(s.position) + L" / " + Clock(s.duration) + L"   " + s.state;
        ::SetTextColor(dc, RGB(255, 220, 90));
        ::DrawTextW(dc, clock.c_str(), -1, &r, DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
        r.top += tm.tmHeight + 8;
        if (!s.extra.empty()) {
            ::SelectObject(dc, small);
            ::SetTextColor(dc, RGB(170, 170, 170));
            ::DrawTextW(dc, s.extra.c_str(), -1, &r, DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
        }
        // The position as a bar along the bottom.
        if (s.duration > 0) {
            RECT bar = {client.left + 12, client.bottom - 14, client.right - 12, client.bottom - 8};
            HBRUSH dim = ::CreateSolidBrush(RGB(60, 60, 60));
            ::FillRect(dc, &bar, dim);
            ::DeleteObject(dim);
            bar.right = bar.left + static_cast<LONG>((bar.right - bar.left) * (s.position / s.duration));
            HBRUSH lit = ::CreateSolidBrush(RGB(120, 200, 255));
            ::FillRect(dc, &bar, lit);
            ::DeleteObject(lit);
        }
        ::SelectObject(dc, old);
        ::DeleteObject(big);
        ::DeleteObject(small);
        ::EndPaint(wnd, &ps);
    }

    const wchar_t* m_title;
    IOleClientSite* m_site = nullptr;
};

// ---------------------------------------------------------------------------
// Flash [FLASH-TLB]: the movie is read from the file the control is given;
// its frame advances at the movie's own rate; the requests are answered by
// the callbacks the movie's code registers (our shell movie's four).

const Member kFlashMembers[] = {
    M0(102, Get), M1(102, Put, VT_BSTR), // Movie
    M0(106, Get), M1(106, Put, VT_BOOL), // Loop
    M0(107, Get), M1(107, Put, VT_I4),   // FrameNum
    M0(DISPID_READYSTATE, Get),          // ReadyState (read-only)
    M0(0x70, Method),                    // Play()
    M0(0x74, Method),                    // Rewind()
    M0(124, Get),                        // TotalFrames (read-only)
    M0(125, Get), M1(125, Put, VT_BOOL), // Playing
    M0(0x7e, Method),                    // StopPlay()
    M0(128, Method),                     // CurrentFrame()
    M0(130, Method),                     // PercentLoaded()
    M0(137, Get), M1(137, Put, VT_BSTR), // Scale
    M1(198, Method, VT_BSTR),            // CallFunction(request) -> string
    M0(201, Get), M1(201, Put, VT_BSTR), // AllowNetworking
    M0(202, Get), M1(202, Put, VT_BSTR), // AllowFullScreen
};

std::wstring Unescape(const std::wstring& s)
{
    std::wstring out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == L'%' && i + 2 < s.size() && iswxdigit(s[i + 1]) && iswxdigit(s[i + 2])) {
            out += static_cast<wchar_t>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

// A variable of a movie address ("...?a=1&b=2"), decoded; empty when absent.
std::wstring Variable(const std::wstring& address, const std::wstring& name)
{
    const size_t q = address.find(L'?');
    if (q == std::wstring::npos)
        return L"";
    size_t at = q + 1;
    while (at < address.size()) {
        size_t end = address.find(L'&', at);
        if (end == std::wstring::npos)
            end = address.size();
        const std::wstring pair = address.substr(at, end - at);
        const size_t eq = pair.find(L'=');
        if (eq != std::wstring::npos && pair.substr(0, eq) == name)
            return Unescape(pair.substr(eq + 1));
        at = end + 1;
    }
    return L"";
}

// The text between <tag> and </tag> after position from, or empty.
std::wstring Element(const std::wstring& s, const std::wstring& tag, size_t* from)
{
    const std::wstring open = L"<" + tag + L">", close = L"</" + tag + L">";
    size_t b = s.find(open, *from);
    if (b == std::wstring::npos)
        return L"";
    b += open.size();
    size_t e = s.find(close, b);
    if (e == std::wstring::npos)
        return L"";
    *from = e + close.size();
    return s.substr(b, e - b);
}

bool NetworkSource(const std::wstring& s)
{
    return StartsWithNoCase(s, L"http://") || StartsWithNoCase(s, L"https://") || StartsWithNoCase(s, L"rtmp://");
}

class FlashControl : public ControlBase {
public:
    FlashControl() : ControlBase(L"flash", L"Flash", kFlashMembers, sizeof kFlashMembers / sizeof *kFlashMembers) {}

protected:
    HRESULT Call(DISPID id, Kind kind, const Args& a, VARIANT* r, EXCEPINFO* info) override
    {
        const ULONGLONG now = ::GetTickCount64();
        switch (id) {
        case 102: // Movie: loads the movie; its first frame (0) is entered at once
            if (kind == Get)
                return Answer(r, m_movie);
            m_movie = a.Str(0);
            Trace(L"Movie=" + m_movie);
            LoadMovie(now);
            return S_OK;
        case 106: // Loop (default true): back to frame 0 after the last one
            if (kind == Get)
                return AnswerBool(r, m_loop);
            m_loop = a.Bool(0);
            Trace(std::wstring(L"Loop=") + (m_loop ? L"true" : L"false"));
            return S_OK;
        case 107: // FrameNum: counts from 0 [FLASH-API]
            if (kind == Put) {
                m_held = a.Long(0);
                Trace(L"FrameNum=" + std::to_wstring(m_held));
                return S_OK;
            } else {
                const long frame = Frame(now);
                Trace(L"FrameNum -> " + std::to_wstring(frame));
                return Answer(r, frame);
            }
        case DISPID_READYSTATE: // complete once the movie file is read; one
            // that cannot be read here (on the network, missing) never is
            return Answer(r, static_cast<long>(m_file.readable ? 4 : 0));
        case 130: // PercentLoaded()
            return Answer(r, static_cast<long>(m_file.readable ? 100 : 0));
        case 0x70: // Play(): the timeline goes on from where it stands
            Trace(L"Play");
            if (m_held >= 0)
                m_frameFrom = now - static_cast<ULONGLONG>(m_held * 1000.0 / (m_file.rate > 0 ? m_file.rate : 1));
            m_held = -1;
            return S_OK;
        case 0x7e: // StopPlay(): the timeline holds its frame
            Trace(L"StopPlay");
            if (m_held < 0)
                m_held = Frame(now);
            return S_OK;
        case 0x74: // Rewind(): back to the first frame, playing or not
            Trace(L"Rewind");
            if (m_held >= 0)
                m_held = 0;
            else
                m_frameFrom = now;
            return S_OK;
        case 124: // TotalFrames: the header's count
            return Answer(r, static_cast<long>(m_file.readable ? m_file.frames : 0));
        case 125:
            if (kind == Get)
                return AnswerBool(r, m_held < 0);
            return S_OK;
        case 128: // CurrentFrame(): as FrameNum
            return Answer(r, Frame(now));
        case 137:
            if (kind == Get)
                return Answer(r, m_scale);
            m_scale = a.Str(0);
            Trace(L"Scale=" + m_scale);
            return S_OK;
        case 198:
            return CallFunction(a.Str(0), now, r, info);
        case 201:
            if (kind == Get)
                return Answer(r, m_networking);
            m_networking = a.Str(0);
            Trace(L"AllowNetworking=" + m_networking);
            return S_OK;
        case 202:
            if (kind == Get)
                return Answer(r, m_fullScreen);
            m_fullScreen = a.Str(0);
            Trace(L"AllowFullScreen=" + m_fullScreen);
            return S_OK;
        default:
            return DISP_E_MEMBERNOTFOUND;
        }
    }

    Shown Show(ULONGLONG now) override
    {
        Shown s;
        if (m_movie.empty())
            return s;
        RunCode(now);
        const long frame = Frame(now);
        s.extra = L"movie " + Describe(m_movie).name + L": frame " + std::to_wstring(frame) + L" of " +
                  std::to_wstring(m_file.readable ? m_file.frames : 0) +
                  (m_file.readable ? L"" : L" (cannot be read)") +
                  (Registered(now) ? L", callbacks registered" : L"");
        if (m_clock.Loaded()) {
            s.item = m_clock.Info().name;
            s.state = m_refused ? L"refused by the sandbox" : StateName(m_clock.Get(now));
            s.position = m_clock.Position(now);
            s.duration = m_clock.Duration(now);
        } else {
            s.item = Describe(m_movie).name;
            s.state = L"";
        }
        return s;
    }

private:
    void LoadMovie(ULONGLONG now)
    {
        m_loadedAt = m_frameFrom = now;
        m_held = -1;
        const size_t q = m_movie.find(L'?');
        const std::wstring path = m_movie.substr(0, q);
        // A movie on the network is not fetched here: it cannot be read.
        m_file = NetworkSource(path) ? MovieFile() : ReadMovie(path);
        m_clock = MediaClock();
        m_refused = false;
        m_started = false;
        // Frame 0's code runs as the movie shows its first frame: our shell
        // movie then reads its variables and, with autostart, starts.
        RunCode(now);
    }

    // The movie's code runs when the movie reaches the frame that holds it,
    // however late this learns of it.
    void RunCode(ULONGLONG now)
    {
        if (!m_started && Registered(now))
            StartMovieCode(m_loadedAt + static_cast<ULONGLONG>(m_file.callbackFrame * 1000.0 /
                                                               (m_file.rate > 0 ? m_file.rate : 1)));
    }

    long Frame(ULONGLONG now) const
    {
        if (!m_file.readable || m_file.frames <= 1 || m_file.rate <= 0)
            return 0;
        if (m_held >= 0)
            return m_held < m_file.frames ? m_held : m_file.frames - 1;
        const ULONGLONG k = static_cast<ULONGLONG>(Since(now, m_frameFrom) * m_file.rate / 1000.0);
        if (m_loop)
            return static_cast<long>(k % static_cast<ULONGLONG>(m_file.frames));
        return static_cast<long>(k < static_cast<ULONGLONG>(m_file.frames) ? k : m_file.frames - 1);
    }

    // Whether the movie's code has registered its callbacks by now: it does
    // when it reaches the frame that holds that code [AS3-NS].
    bool Registered(ULONGLONG now) const
    {
        if (!m_file.readable || m_file.callbackFrame < 0)
            return false;
        if (m_file.callbackFrame == 0)
            return true;
        if (m_file.rate <= 0)
            return false;
        const double due = m_file.callbackFrame * 1000.0 / m_file.rate;
        return Since(now, m_loadedAt) >= due;
    }
    bool Offers(const char* name) const { return m_file.names.count(name) != 0; }

    // The shell movie's start(): a source the sandbox refuses never plays
    // [FLASH-SEC]; NetStream opens FLV and MP4 [AS3-NS].
    void StartMovieCode(ULONGLONG now)
    {
        if (m_started)
            return;
        m_started = true;
        const std::wstring file = Variable(m_movie, L"file");
        if (file.empty())
            return;
        const std::wstring ext = Describe(file).extension;
        const bool decodes = ext == L".FLV" || ext == L".F4V" || ext == L".MP4" || ext == L".M4V";
        m_clock.Load(file, decodes);
        if (Variable(m_movie, L"autostart") == L"true")
            Start(now);
    }
    void Start(ULONGLONG now)
    {
        const bool networkSource = NetworkSource(Variable(m_movie, L"file"));
        // A movie read from a local file sits in a local sandbox.
        m_refused = m_file.useNetwork ? !networkSource : networkSource;
        if (m_refused) {
            Trace(L"sandbox refuses " + Variable(m_movie, L"file"));
            return;
        }
        m_clock.Play(now);
    }

    HRESULT CallFunction(const std::wstring& request, ULONGLONG now, VARIANT* r, EXCEPINFO* info)
    {
        Trace(L"CallFunction " + request);
        size_t at = request.find(L"<invoke name=\"");
        std::wstring name;
        if (at != std::wstring::npos) {
            at += 14;
            name = request.substr(at, request.find(L'"', at) - at);
        }
        const std::string ascii(name.begin(), name.end());
        // The real control fails a call to a function the movie has not
        // registered (yet): E_FAIL from CallFunction, which reaches a
        // dispatch caller as DISP_E_EXCEPTION [COM].
        if (name.empty() || !Registered(now) || !Offers(ascii.c_str()))
            return Raise(info, E_FAIL, nullptr);
        RunCode(now);
        const MediaClock::State s = m_clock.Get(now);
        const bool playing = !m_refused && (s == MediaClock::Opening || s == MediaClock::Buffering ||
                                            s == MediaClock::Playing);
        if (name == L"getPlayState")
            return Answer(r, L"<number>" + std::to_wstring(playing ? 1 : s == MediaClock::Paused ? 2 : 0) +
                                 L"</number>");
        if (name == L"getDuration")
            return Answer(r, L"<number>" + std::to_wstring(static_cast<long>(m_clock.Duration(now))) +
                                 L"</number>");
        if (name == L"getPosition")
            return Answer(r, L"<number>" +
                                 std::to_wstring(playing || s == MediaClock::Paused
                                                     ? static_cast<long>(m_clock.Position(now))
                                                     : 0L) +
                                 L"</number>");
        if (name == L"getFrame")
            return Answer(r, L"<number>" + std::to_wstring(Frame(now) + 1) + L"</number>");
        if (name == L"sendEvent") {
            size_t from = 0;
            const std::wstring ev = Element(request, L"string", &from);
            const std::wstring n = Element(request, L"number", &from);
            if (ev == L"playpause") {
                if (playing)
                    m_clock.Pause(now);
                else if (s == MediaClock::Paused)
                    m_clock.Play(now);
                else
                    Start(now);
            } else if (ev == L"stop") {
                m_clock.Stop(now);
            } else if (ev == L"position") {
                if (playing || s == MediaClock::Paused)
                    m_clock.Seek(_wtof(n.c_str()), now);
            }
            return Answer(r, std::wstring(L"<undefined/>"));
        }
        return Answer(r, std::wstring(L"<undefined/>"));
    }

    std::wstring m_movie, m_scale, m_networking, m_fullScreen;
    MovieFile m_file;
    ULONGLONG m_loadedAt = 0;
    ULONGLONG m_frameFrom = 0; // when the timeline stood at frame 0
    bool m_loop = true;
    long m_held = -1;
    bool m_refused = false;
    bool m_started = false;
};

// ---------------------------------------------------------------------------
// Windows Media [WMP-IDL]: the control, its controls, settings and network
// objects, and the media item.

const Member kPlayerMembers[] = {
    M0(1, Get),  M1(1, Put, VT_BSTR),  // URL
    M0(2, Get),                        // openState
    M0(3, Method),                     // close()
    M0(4, Get),                        // controls
    M0(5, Get),                        // settings
    M0(6, Get),                        // currentMedia
    M0(7, Get),                        // network
    M0(10, Get),                       // playState
    M0(19, Get), M1(19, Put, VT_BOOL), // enabled
    M0(21, Get), M1(21, Put, VT_BOOL), // fullScreen
    M0(23, Get), M1(23, Put, VT_BSTR), // uiMode
    M0(24, Get), M1(24, Put, VT_BOOL), // stretchToFit
};
const Member kControlsMembers[] = {
    M0(51, Method), M0(52, Method), M0(53, Method),    // play, stop, pause
    M0(56, Get),    M1(56, Put, VT_R8),                // currentPosition
    M0(60, Get),    M1(60, Put, VT_DISPATCH),          // currentItem
};
const Member kSettingsMembers[] = {
    M0(101, Get), M1(101, Put, VT_BOOL), // autoStart
    M0(104, Get), M1(104, Put, VT_BOOL), // mute
    M0(107, Get), M1(107, Put, VT_I4),   // volume
};
const Member kNetworkMembers[] = {
    M0(807, Get), // bufferingCount
    M0(808, Get), // bufferingProgress
    M0(809, Get), M1(809, Put, VT_I4), // bufferingTime
};
const Member kMediaMembers[] = {
    M0(751, Get), // sourceURL
    M0(757, Get), // duration
    M0(764, Get), // name
};

// The formats Windows Media opens as it comes [WMP-KB].
bool MediaOpens(const std::wstring& extension)
{
    static const wchar_t* const known[] = {L".ASF", L".WMA", L".WMV", L".WM",  L".AVI", L".MPG", L".MPEG",
                                           L".MP2", L".MP3", L".MPA", L".WAV", L".MOV", L".M4A", L".MP4",
                                           L".M4V", L".3GP", L".AAC", L".M2TS", L".FLAC", L".MID", L".ASX"};
    for (const wchar_t* k : known)
        if (extension == k)
            return true;
    return false;
}

long MediaPlayState(MediaClock::State s)
{
    switch (s) {
    case MediaClock::Idle:
        return 0; // undefined: nothing opened yet
    case MediaClock::Opening:
        return 9; // transitioning
    case MediaClock::Buffering:
        return 6;
    case MediaClock::Playing:
        return 3;
    case MediaClock::Paused:
        return 2;
    case MediaClock::Stopped:
        return 1;
    case MediaClock::Ended:
        return 8; // media ended
    case MediaClock::Failed:
        return 10; // ready, and it stays so [WMP-DOC]
    }
    return 0;
}

class MediaItem : public DispatchBase {
public:
    MediaItem(const std::wstring& url, const std::wstring& name, double duration)
        : DispatchBase(L"media item", kMediaMembers, sizeof kMediaMembers / sizeof *kMediaMembers), m_url(url),
          m_name(name), m_duration(duration)
    {
    }

protected:
    HRESULT Call(DISPID id, Kind, const Args&, VARIANT* r, EXCEPINFO*) override
    {
        switch (id) {
        case 751:
            return Answer(r, m_url);
        case 757:
            Log(L"media duration -> " + Number(m_duration));
            return Answer(r, m_duration);
        default:
            return Answer(r, m_name);
        }
    }

private:
    std::wstring m_url, m_name;
    double m_duration;
};

// The controls, settings and network objects keep the control alive while
// held.
class MediaPart : public DispatchBase {
public:
    enum Part { Controls, Settings, Network };

    MediaPart(IDispatch* owner, MediaClock* clock, const std::wstring* url, Part part, bool* autoStart)
        : DispatchBase(part == Controls ? L"media controls" : part == Settings ? L"media settings" : L"media network",
                       part == Controls ? kControlsMembers : part == Settings ? kSettingsMembers : kNetworkMembers,
                       part == Controls   ? sizeof kControlsMembers / sizeof *kControlsMembers
                       : part == Settings ? sizeof kSettingsMembers / sizeof *kSettingsMembers
                                          : sizeof kNetworkMembers / sizeof *kNetworkMembers),
          m_owner(owner), m_clock(clock), m_url(url), m_part(part), m_autoStart(autoStart)
    {
        m_owner->AddRef();
    }
    ~MediaPart() override
    {
        if (m_part != Network)
            Log(std::wstring(m_logName) + L" release");
        m_owner->Release();
    }

protected:
    HRESULT Call(DISPID id, Kind kind, const Args& a, VARIANT* r, EXCEPINFO*) override
    {
        const ULONGLONG now = ::GetTickCount64();
        if (m_part == Settings) {
            switch (id) {
            case 101:
                if (kind == Get)
                    return AnswerBool(r, *m_autoStart);
                *m_autoStart = a.Bool(0);
                return S_OK;
            case 104:
                if (kind == Get)
                    return AnswerBool(r, m_mute);
                m_mute = a.Bool(0);
                Log(std::wstring(L"media settings.mute=") + (m_mute ? L"true" : L"false"));
                return S_OK;
            default:
                if (kind == Get)
                    return Answer(r, m_volume);
                m_volume = a.Long(0);
                Log(L"media settings.volume=" + std::to_wstring(m_volume));
                return S_OK;
            }
        }
        if (m_part == Network) {
            switch (id) {
            case 808:
                return Answer(r, m_clock->BufferingPercent(now));
            case 809:
                return kind == Get ? Answer(r, 5000L) : S_OK;
            default:
                return Answer(r, 0L);
            }
        }
        switch (id) {
        case 51:
            Log(L"media controls.play");
            m_clock->Play(now);
            return S_OK;
        case 52:
            Log(L"media controls.stop");
            m_clock->Stop(now);
            return S_OK;
        case 53:
            Log(L"media controls.pause");
            m_clock->Pause(now);
            return S_OK;
        case 56:
            if (kind == Put) {
                Log(L"media controls.currentPosition=" + Number(a.Dbl(0)));
                m_clock->Seek(a.Dbl(0), now);
                return S_OK;
            }
            return Answer(r, m_clock->Position(now));
        default: // 60 currentItem: the media of the URL, once one is set
            if (kind == Put)
                return S_OK;
            if (!m_clock->Loaded())
                return Answer(r, static_cast<IDispatch*>(nullptr));
            return Answer(r, static_cast<IDispatch*>(
                                 new MediaItem(*m_url, m_clock->Info().name, m_clock->Duration(now))));
        }
    }

private:
    IDispatch* m_owner;
    MediaClock* m_clock;
    const std::wstring* m_url;
    Part m_part;
    bool* m_autoStart;
    bool m_mute = false;
    long m_volume = 50;
};

class MediaControl : public ControlBase {
public:
    MediaControl()
        : ControlBase(L"media", L"Windows Media", kPlayerMembers, sizeof kPlayerMembers / sizeof *kPlayerMembers)
    {
    }

protected:
    HRESULT Call(DISPID id, Kind kind, const Args& a, VARIANT* r, EXCEPINFO*) override
    {
        const ULONGLONG now = ::GetTickCount64();
        switch (id) {
        case 1: // URL: opens it, and with autoStart (default true) plays it
            if (kind == Get)
                return Answer(r, m_url);
            m_url = a.Str(0);
            Trace(L"URL=" + m_url);
            m_clock.Load(m_url, MediaOpens(Describe(m_url).extension));
            if (m_autoStart)
                m_clock.Play(now);
            return S_OK;
        case 2:
            return Answer(r, 0L);
        case 3:
            m_clock = MediaClock();
            return S_OK;
        case 4:
            Trace(L"controls");
            return Answer(r, static_cast<IDispatch*>(new MediaPart(static_cast<IDispatch*>(this), &m_clock, &m_url,
                                                                   MediaPart::Controls, &m_autoStart)));
        case 5:
            Trace(L"settings");
            return Answer(r, static_cast<IDispatch*>(new MediaPart(static_cast<IDispatch*>(this), &m_clock, &m_url,
                                                                   MediaPart::Settings, &m_autoStart)));
        case 6:
            if (!m_clock.Loaded())
                return Answer(r, static_cast<IDispatch*>(nullptr));
            return Answer(r, static_cast<IDispatch*>(new MediaItem(m_url, m_clock.Info().name, m_clock.Duration(now))));
        case 7:
            return Answer(r, static_cast<IDispatch*>(new MediaPart(static_cast<IDispatch*>(this), &m_clock, &m_url,
                                                                   MediaPart::Network, &m_autoStart)));
        case 10:
            return Answer(r, MediaPlayState(m_clock.Get(now)));
        case 19:
            return kind == Get ? AnswerBool(r, true) : S_OK;
        case 21:
            if (kind == Get)
                return AnswerBool(r, m_full);
            m_full = a.Bool(0);
            Trace(std::wstring(L"fullScreen=") + (m_full ? L"true" : L"false"));
            return S_OK;
        case 23:
            if (kind == Get)
                return Answer(r, m_uiMode);
            m_uiMode = a.Str(0);
            Trace(L"uiMode=" + m_uiMode);
            return S_OK;
        default: // 24
            if (kind == Get)
                return AnswerBool(r, m_stretch);
            m_stretch = a.Bool(0);
            Trace(std::wstring(L"stretchToFit=") + (m_stretch ? L"true" : L"false"));
            return S_OK;
        }
    }

    Shown Show(ULONGLONG now) override
    {
        if (!m_clock.Loaded())
            return Shown();
        MediaClock::State state;
        Shown s = ClockShown(now, &state);
        s.extra = L"playState " + std::to_wstring(MediaPlayState(state));
        if (state == MediaClock::Buffering)
            s.extra += L", buffering " + std::to_wstring(m_clock.BufferingPercent(now)) + L"%";
        return s;
    }

private:
    std::wstring m_url, m_uiMode = L"full";
    bool m_autoStart = true;
    bool m_full = false;
    bool m_stretch = false;
};

// ---------------------------------------------------------------------------
// Real [REAL-WRAP]: methods by dispatch id, times in milliseconds.

const Member kRealMembers[] = {
    M0(105, Get),  M1(105, Put, VT_BOOL), // NoLabels
    M0(202, Method),                      // DoStop
    M0(214, Method),                      // GetSource
    M1(215, Method, VT_BSTR),             // SetSource
    M0(218, Method),                      // GetControls
    M1(219, Method, VT_BSTR),             // SetControls
    M0(226, Method),                      // GetVolume
    M1(227, Method, VT_I2),               // SetVolume(short)
    M0(228, Method),                      // GetMute
    M1(229, Method, VT_BOOL),             // SetMute
    M1(235, Method, VT_BOOL),             // SetImageStatus
    M0(257, Method),                      // DoPlay
    M0(258, Method),                      // DoPause
    M0(259, Method),                      // GetPosition
    M0(260, Method),                      // GetPlayState
    M0(261, Method),                      // GetLength
    M1(269, Method, VT_I4),               // SetPosition(long)
    M1(275, Method, VT_BOOL),             // SetNoLogo
    M0(293, Method),                      // SetFullScreen
    M0(317, Method),                      // GetBufferingTimeElapsed
    M0(318, Method),                      // GetBufferingTimeRemaining
    M1(343, Method, VT_BOOL),             // SetPreFetch
};

// What RealPlayer opens: its own formats.
bool RealOpens(const std::wstring& extension)
{
    return extension == L".RM" || extension == L".RMVB" || extension == L".RA" || extension == L".RAM" ||
           extension == L".RV";
}

long RealPlayState(MediaClock::State s)
{
    switch (s) {
    case MediaClock::Opening:
        return 1; // contacting [REAL-DOC]
    case MediaClock::Buffering:
        return 2;
    case MediaClock::Playing:
        return 3;
    case MediaClock::Paused:
        return 4;
    default:
        return 0; // stopped, ended, or closed after an error [REAL-DOC]
    }
}

class RealControl : public ControlBase {
public:
    RealControl() : ControlBase(L"real", L"Real", kRealMembers, sizeof kRealMembers / sizeof *kRealMembers) {}

protected:
    HRESULT Call(DISPID id, Kind kind, const Args& a, VARIANT* r, EXCEPINFO*) override
    {
        const ULONGLONG now = ::GetTickCount64();
        switch (id) {
        case 105:
            if (kind == Get)
                return AnswerBool(r, m_noLabels);
            m_noLabels = a.Bool(0);
            Trace(std::wstring(L"105=") + (m_noLabels ? L"true" : L"false"));
            return S_OK;
        case 214:
            return Answer(r, m_source);
        case 215:
            m_source = a.Str(0);
            Trace(L"SetSource " + m_source);
            m_clock.Load(m_source, RealOpens(Describe(m_source).extension));
            return S_OK;
        case 218:
            return Answer(r, m_controls);
        case 219:
            m_controls = a.Str(0);
            Trace(L"SetControls " + m_controls);
            return S_OK;
        case 226:
            if (r) {
                r->vt = VT_I2;
                r->iVal = m_volume;
            }
            return S_OK;
        case 227:
            m_volume = a.Short(0);
            Trace(L"SetVolume " + std::to_wstring(m_volume));
            return S_OK;
        case 228:
            return AnswerBool(r, m_mute);
        case 229:
            m_mute = a.Bool(0);
            Trace(std::wstring(L"SetMute ") + (m_mute ? L"true" : L"false"));
            return S_OK;
        case 235:
        case 275:
        case 343:
            Trace(std::to_wstring(id) + L" " + (a.Bool(0) ? L"true" : L"false"));
            return S_OK;
        case 257:
            Trace(L"DoPlay");
            m_clock.Play(now);
            return S_OK;
        case 258:
            Trace(L"DoPause");
            m_clock.Pause(now);
            return S_OK;
        case 202:
            Trace(L"DoStop");
            m_clock.Stop(now);
            return S_OK;
        case 259:
            return Answer(r, static_cast<long>(m_clock.Position(now) * 1000));
        case 260:
            return Answer(r, RealPlayState(m_clock.Get(now)));
        case 261:
            return Answer(r, static_cast<long>(m_clock.Duration(now) * 1000));
        case 269:
            Trace(L"SetPosition " + std::to_wstring(a.Long(0)));
            m_clock.Seek(a.Long(0) / 1000.0, now);
            return S_OK;
        case 293:
            Trace(L"SetFullScreen");
            return S_OK;
        case 317:
            return Answer(r, 0L);
        default: // 318
            return Answer(r, static_cast<long>(m_clock.BufferingLeft(now) * 1000));
        }
    }

    Shown Show(ULONGLONG now) override
    {
        if (!m_clock.Loaded())
            return Shown();
        MediaClock::State state;
        Shown s = ClockShown(now, &state);
        s.extra = L"GetPlayState " + std::to_wstring(RealPlayState(state));
        return s;
    }

private:
    std::wstring m_source, m_controls;
    bool m_noLabels = false;
    bool m_mute = false;
    short m_volume = 100;
};

// ---------------------------------------------------------------------------

class Factory : public IClassFactory {
public:
    explicit Factory(int kind) : m_kind(kind) {}
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        *out = (iid == IID_IUnknown || iid == IID_IClassFactory) ? static_cast<IClassFactory*>(this) : nullptr;
        return *out ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override
    {
        *out = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        ControlBase* c = m_kind == 1 ? static_cast<ControlBase*>(new FlashControl)
                         : m_kind == 2 ? static_cast<ControlBase*>(new MediaControl)
                                       : static_cast<ControlBase*>(new RealControl);
        HRESULT hr = c->QueryInterface(iid, out);
        c->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL lock) override
    {
        if (lock)
            ::InterlockedIncrement(&g_locks);
        else
            ::InterlockedDecrement(&g_locks);
        return S_OK;
    }

private:
    int m_kind;
};

Factory g_flash(1), g_media(2), g_real(3);

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = module;
        ::DisableThreadLibraryCalls(module);
    } else if (reason == DLL_PROCESS_DETACH) {
        ControlBase::Unregister();
    }
    return TRUE;
}

extern "C" HRESULT __stdcall SimGetClassObject(REFCLSID clsid, REFIID iid, void** out)
{
    Factory* f = clsid == kFlash ? &g_flash : clsid == kMedia ? &g_media : clsid == kReal ? &g_real : nullptr;
    if (!f) {
        *out = nullptr;
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    return f->QueryInterface(iid, out);
}

extern "C" HRESULT __stdcall SimCanUnloadNow()
{
    return (g_live == 0 && g_locks == 0) ? S_OK : S_FALSE;
}

// Objects alive now (controls and their sub-objects), for leak tests.
extern "C" LONG __stdcall SimLiveObjects()
{
    return g_live;
}
