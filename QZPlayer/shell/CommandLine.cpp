#include "CommandLine.h"

#include <algorithm>

namespace {

// Removes every occurrence of sw that stands as a word of its own outside
// double quotes. TRUE when one was found.
bool RemoveSwitch(std::wstring& text, const wchar_t* sw)
{
    bool found = false, quoted = false;
    for (size_t at = 0; at < text.size();) {
        if (text[at] == L'"')
            quoted = !quoted;
        bool word = !quoted && text.compare(at, 2, sw) == 0 && (at == 0 || text[at - 1] == L' ') &&
                    (at + 2 == text.size() || text[at + 2] == L' ');
        if (word) {
            text.erase(at, 2);
            found = true;
        } else {
            ++at;
        }
    }
    return found;
}

// Text in one pair of double quotes (blanks outside them aside) without
// them; any other text as it is.
std::wstring Unquoted(const std::wstring& text)
{
    const size_t first = text.find_first_not_of(L' '), last = text.find_last_not_of(L' ');
    if (first == std::wstring::npos || last == first || text[first] != L'"' || text[last] != L'"')
        return text;
    std::wstring inside = text.substr(first + 1, last - first - 1);
    return inside.find(L'"') == std::wstring::npos ? inside : text;
}

} // namespace

bool StripHiddenSwitch(std::wstring& line)
{
    if (!RemoveSwitch(line, L"-h") && !RemoveSwitch(line, L"-H"))
        return false;
    const size_t text = line.find_first_not_of(L' ');
    line.erase(0, text == std::wstring::npos ? line.size() : text);
    return true;
}

bool ParsePlayerCommand(const std::wstring& line, PlayerCommand* command)
{
    *command = PlayerCommand();
    std::wstring text = line;
    command->hidden = StripHiddenSwitch(text);
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] == L' ') {
            ++i;
            continue;
        }
        if (text[i] != L'-')
            break;
        const wchar_t c = i + 1 < text.size() ? text[i + 1] : L'\0';
        if (c == L'p' || c == L'P')
            command->mode = PlayerCommand::Play;
        else if (c == L'a' || c == L'A')
            command->mode = PlayerCommand::Add;
        else
            return false;
        i += 2;
    }
    const std::wstring target = Unquoted(text.substr(std::min(i, text.size())));
    const size_t bar = target.find(L'|');
    if (bar != std::wstring::npos && bar > 0) {
        command->path = Unquoted(target.substr(0, bar));
        command->title = Unquoted(target.substr(bar + 1));
    } else {
        command->path = target;
    }
    return !command->path.empty();
}
