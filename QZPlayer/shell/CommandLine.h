#pragma once

#include <string>

// The player's command line: one grammar for a first start's own line and for
// the lines clients and later starts send with code 2.
//
//   [-h] [-p | -a]... target[|title]
//
// "-h" (or "-H") hides a first start; it counts only as a word of its own
// outside double quotes, so "D:\v\Concert -HD.wmv" keeps every character.
// The last of "-p" (play, the default) and "-a" (add) wins. The target runs
// to the end; the quotes a shell or a client puts around a path with blanks
// go: one pair around the whole target, around the path or around the title.
struct PlayerCommand {
    enum Mode { Play, Add };
    bool hidden = false;
    Mode mode = Play;
    std::wstring path;
    std::wstring title;
};

// Removes the hidden switch wherever it stands as a word, and the blanks
// before the rest. TRUE when it was there.
bool StripHiddenSwitch(std::wstring& line);

// FALSE when a switch is unknown or no target follows (a line that only
// hides, for example): then *command holds only what was read.
bool ParsePlayerCommand(const std::wstring& line, PlayerCommand* command);
