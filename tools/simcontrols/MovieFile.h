// What a movie file says about itself, read as the Flash control reads the
// file it is given. [SWF] the published SWF file format, version 10: the
// file header (signature, version, file length: the length of the whole
// file, uncompressed), header frame rate (8.8 fixed) and frame count,
// ShowFrame (1) ends a frame, FileAttributes (69) bit UseNetwork, DoABC (82)
// code; a compressed movie ("CWS") is a zlib stream after the first 8 bytes.
// The format streams: a frame can be shown once its tags up to its
// ShowFrame are in, before the rest of the file. [AS3-NS] a callback exists
// once the code that calls ExternalInterface.addCallback has run.
#pragma once

#include <cstdint>
#include <set>
#include <string>

struct z_stream_s;

namespace sim {

struct MovieFile {
    bool readable = false;
    int frames = 0;          // header frame count
    double rate = 0;         // frames per second
    bool useNetwork = false; // FileAttributes
    int callbackFrame = -1;  // the frame whose code registers callbacks [AS3-NS]
    std::set<std::string> names; // names in that code's constant pool
};

MovieFile ReadMovie(const std::wstring& path);

// A movie read as its bytes come, in pieces of any size.
class MovieReader {
public:
    MovieReader() = default;
    ~MovieReader();
    MovieReader(const MovieReader&) = delete;
    MovieReader& operator=(const MovieReader&) = delete;

    // More of the file; false once the bytes are not a movie read here (then
    // what was read stays as it was).
    bool Add(const char* bytes, size_t size);
    // The file header is in: the signature was a movie's, Length() is known.
    bool HeaderIn() const { return m_checked && !m_bad; }
    uint32_t Length() const { return m_length; }
    // How much of the file, as its length counts it, has been read.
    uint64_t Loaded() const { return m_head.size() + m_bodySize; }
    // What the movie says so far: readable once its frame header is in.
    const MovieFile& Movie() const { return m_movie; }
    // Frames whose ShowFrame is in.
    int Frames() const { return m_frames; }
    // A compressed body whose stream has not ended (short or damaged).
    bool Unfinished() const { return m_bad || (m_z && !m_streamEnd); }

private:
    void Parse();

    std::string m_head, m_body;
    uint64_t m_bodySize = 0; // inflated so far; m_body loses what was parsed
    uint32_t m_length = 0;
    bool m_checked = false, m_bad = false, m_streamEnd = false, m_ended = false;
    z_stream_s* m_z = nullptr;
    MovieFile m_movie;
    int m_frames = 0;
};

} // namespace sim
