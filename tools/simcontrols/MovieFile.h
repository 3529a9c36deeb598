// What a movie file says about itself, read as the Flash control reads the
// file it is given. [SWF] the published SWF file format, version 10: header
// frame rate (8.8 fixed) and frame count, ShowFrame (1) ends a frame,
// FileAttributes (69) bit UseNetwork, DoABC (82) code; a compressed movie
// ("CWS") is a zlib stream after the first 8 bytes. [AS3-NS] a callback
// exists once the code that calls ExternalInterface.addCallback has run.
#pragma once

#include <set>
#include <string>

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

} // namespace sim
