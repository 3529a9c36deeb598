#include "KeptParts.h"

#include "Folders.h"
#include "Handles.h"
#include "Signature.h"

#include <algorithm>
#include <sstream>

namespace {

const wchar_t kStateSuffix[] = L".state";

std::wstring HexName(const Sha256Digest& digest)
{
    std::string hex = ToHex(digest.data(), digest.size());
    return std::wstring(hex.begin(), hex.end());
}

// The validator travels back in a request header: printable ASCII only, so
// nothing read from the disk can add a header line.
bool PlainHeaderValue(const std::string& text)
{
    if (text.empty() || text.size() > CKeptParts::kMaxValidator)
        return false;
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c <= 0x7E; });
}

bool ParseState(const std::string& bytes, CResumeState* resume)
{
    std::istringstream in(bytes);
    std::string validator, total, rest;
    if (!std::getline(in, validator) || !std::getline(in, total) || std::getline(in, rest) ||
        !PlainHeaderValue(validator) || total.empty() || total.size() > 19 ||
        !std::all_of(total.begin(), total.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    resume->validator.assign(validator.begin(), validator.end());
    resume->total = std::stoull(total);
    return true;
}

uint64_t Ticks(const FILETIME& t)
{
    return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

} // namespace

std::wstring CKeptParts::PathOf(const Sha256Digest& whole) const
{
    return m_folder + L"\\" + HexName(whole);
}

bool CKeptParts::Prepare() const
{
    if (IsPlainFolder(m_folder))
        return true;
    return !IsLink(m_folder) && ::CreateDirectoryW(m_folder.c_str(), nullptr);
}

bool CKeptParts::Load(const Sha256Digest& whole, uint64_t signedSize, CResumeState* resume) const
{
    *resume = CResumeState();
    const std::wstring part = PathOf(whole);
    std::string state;
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    const bool plainPart = IsPlainFolder(m_folder) &&
                           ::GetFileAttributesExW(part.c_str(), GetFileExInfoStandard, &data) &&
                           !(data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
    const uint64_t size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    // Something to continue: a part shorter than the signed file, with the
    // state this updater wrote for that length.
    if (plainPart && size > 0 && size < signedSize && !IsLink(part + kStateSuffix) &&
        ReadSmallFile(part + kStateSuffix, kMaxValidator + 32, &state) && ParseState(state, resume) &&
        resume->total == signedSize)
        return true;
    *resume = CResumeState();
    return false;
}

bool CKeptParts::Save(const Sha256Digest& whole, const CResumeState& resume) const
{
    // Checked before narrowing, which would fold a wide character into a
    // plain one: only printable ASCII goes back into a request header.
    for (wchar_t c : resume.validator)
        if (c > 0x7E)
            return false;
    const std::string validator(resume.validator.begin(), resume.validator.end());
    if (!PlainHeaderValue(validator) || resume.total == 0)
        return false;
    const std::string state = validator + "\n" + std::to_string(resume.total) + "\n";
    const std::wstring path = PathOf(whole) + kStateSuffix;
    return !IsLink(path) && WriteWholeFile(path, state.data(), state.size(), false);
}

void CKeptParts::Forget(const Sha256Digest& whole) const
{
    ::DeleteFileW((PathOf(whole) + kStateSuffix).c_str());
}

void CKeptParts::Drop(const Sha256Digest& whole) const
{
    Forget(whole);
    ::DeleteFileW(PathOf(whole).c_str());
}

void CKeptParts::Prune(const std::vector<SignedFile>& files) const
{
    if (!IsPlainFolder(m_folder))
        return;
    FILETIME nowTime = {};
    ::GetSystemTimeAsFileTime(&nowTime);
    const uint64_t now = Ticks(nowTime);
    std::vector<std::pair<uint64_t, std::wstring>> kept; // write time, part name
    std::vector<std::wstring> doomed;
    ForEachEntry(m_folder, [&](const WIN32_FIND_DATAW& fd) {
        const std::wstring name = fd.cFileName;
        bool signedPart = false;
        if (!(fd.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
            now - std::min(now, Ticks(fd.ftLastWriteTime)) < kMaxAge) {
            for (const SignedFile& f : files)
                signedPart = signedPart || name == HexName(f.sha256) || name == HexName(f.sha256) + kStateSuffix;
        }
        if (!signedPart)
            doomed.push_back(name);
        else if (name.size() == 64)
            kept.emplace_back(Ticks(fd.ftLastWriteTime), name);
        return true;
    });
    std::sort(kept.begin(), kept.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    for (size_t i = kMaxParts; i < kept.size(); ++i) {
        doomed.push_back(kept[i].second);
        doomed.push_back(kept[i].second + kStateSuffix);
    }
    for (const std::wstring& name : doomed) {
        const std::wstring path = m_folder + L"\\" + name;
        // A link goes itself, never what it leads to; a folder only when empty.
        if (!::RemoveDirectoryW(path.c_str()))
            ::DeleteFileW(path.c_str());
    }
}
