// Installing what a run staged, all or nothing; see Installer.h.
#include "Installer.h"

#include "App.h"
#include "Folders.h"
#include "Handles.h"
#include "KeptParts.h"
#include "Log.h"
#include "SafeName.h"

#include <shlwapi.h>

#include <algorithm>

bool CInstaller::StagingFolderFits(const std::wstring& programFolder)
{
    return !programFolder.empty() && programFolder.size() + wcslen(L"\\$Temp$") < MAX_PATH;
}

bool CInstaller::InitPaths(const wchar_t* programFolder)
{
    std::wstring folder = programFolder ? programFolder : AfxGetModuleFolder();
    m_szProgramFolder[0] = m_szStagingFolder[0] = L'\0';
    if (!StagingFolderFits(folder)) {
        UPDATE_LOG(L"The staging folder does not fit beside %ls\n", folder.c_str());
        return false;
    }
    lstrcpynW(m_szProgramFolder, folder.c_str(), MAX_PATH);
    lstrcpynW(m_szStagingFolder, (folder + L"\\$Temp$").c_str(), MAX_PATH);
    return true;
}

uint32_t CInstaller::GetFileChecksum(const wchar_t* name)
{
    if (!name || !IsSafeFileName(name, m_szProgramFolder)) {
        UPDATE_LOG(L"Refused unsafe file name: %ls\n", name ? name : L"(none)");
        return 0;
    }
    return FileChecksum(LocalPathOf(m_szProgramFolder, name));
}

std::wstring CInstaller::MoveAside(const std::wstring& folderIn, const std::wstring& name)
{
    std::wstring folder = folderIn;
    EnsureBackslash(folder);
    std::wstring aside = folder + L"Temp";
    if (!::PathFileExistsW(aside.c_str()))
        ::CreateDirectoryW(aside.c_str(), nullptr);
    std::wstring from = folder + name;
    for (int i = 0; i < 10; ++i) {
        std::wstring to = aside + L"\\" + name + static_cast<wchar_t>(L'0' + i);
        if (::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING))
            return to;
    }
    return std::wstring();
}

bool CInstaller::CollectTree(std::wstring source, std::wstring target, std::vector<Placement>* plan,
                            InstallFailure* failure)
{
    EnsureBackslash(source);
    EnsureBackslash(target);
    bool ok = true;
    ForEachEntry(source, [&](const WIN32_FIND_DATAW& fd) {
        std::wstring name = fd.cFileName;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            // A link was never downloaded: what it points to is not ours to install.
            UPDATE_LOG(L"Not installed, a link: %ls\n", (source + name).c_str());
            return true;
        }
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            // An installed folder that is a link would take the files outside;
            // a plain file there leaves them nowhere to go.
            ok = MakeFoldersOf(target + name + L"\\x", failure) &&
                 CollectTree(source + name, target + name, plan, failure);
            return ok;
        }
        std::wstring from = source + name;
        Placement p;
        p.target = target + name;
        p.place = [from](const std::wstring& to) {
            return ::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
        };
        p.flush = [from]() {
            CFileHandle file(::CreateFileW(from.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                           FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
            return file && ::FlushFileBuffers(file.Get());
        };
        plan->push_back(std::move(p));
        return true;
    });
    return ok;
}

bool CInstaller::MakeFoldersOf(const std::wstring& target, InstallFailure* failure) const
{
    std::wstring folder = m_szProgramFolder;
    for (size_t slash = folder.size() + 1; (slash = target.find(L'\\', slash)) != std::wstring::npos; ++slash) {
        std::wstring path = target.substr(0, slash);
        ::CreateDirectoryW(path.c_str(), nullptr);
        if (!IsPlainFolder(path)) {
            UPDATE_LOG(L"Cannot install below %ls: a link, a file or no folder; nothing is installed\n",
                       path.c_str());
            failure->kind = InstallProblem::Unplaceable;
            failure->path = path;
            return false;
        }
    }
    return true;
}

void CInstaller::RemoveEmptyFolders(std::wstring folder)
{
    EnsureBackslash(folder);
    ForEachEntry(folder, [&](const WIN32_FIND_DATAW& fd) {
        if ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            RemoveEmptyFolders(folder + fd.cFileName);
        return true;
    });
    ::RemoveDirectoryW(folder.c_str());
}

namespace {

// The aside folder of a target's folder, made when missing; empty when it is
// a link (the backups would land where it points) or cannot be made.
std::wstring AsideFolderOf(const std::wstring& target)
{
    std::wstring aside = target.substr(0, target.find_last_of(L'\\') + 1) + L"Temp";
    ::CreateDirectoryW(aside.c_str(), nullptr);
    if (!IsPlainFolder(aside))
        return std::wstring();
    return aside;
}

// Where a file of folder + name goes aside: folder + "Temp\" + name + digit,
// a name that is free now (one left by an earlier run that is no longer in
// use is removed), and not one another file of this install was given.
std::wstring FreeAsideName(const std::wstring& target, const std::vector<std::wstring>& taken)
{
    std::wstring aside = AsideFolderOf(target);
    if (aside.empty())
        return std::wstring();
    std::wstring leaf = target.substr(target.find_last_of(L'\\') + 1);
    for (int pass = 0; pass < 2; ++pass) {
        for (int i = 0; i < 10; ++i) {
            std::wstring name = aside + L"\\" + leaf + static_cast<wchar_t>(L'0' + i);
            if (std::find(taken.begin(), taken.end(), name) != taken.end())
                continue;
            if (::GetFileAttributesW(name.c_str()) == INVALID_FILE_ATTRIBUTES)
                return name;
            if (pass == 1 && !IsLink(name)) {
                ::SetFileAttributesW(name.c_str(), FILE_ATTRIBUTE_NORMAL);
                if (::DeleteFileW(name.c_str()))
                    return name;
            }
        }
    }
    return std::wstring();
}

// No other program has the file open: it can go aside and come back at will.
bool Unused(const std::wstring& path)
{
    CFileHandle file(
        ::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    return static_cast<bool>(file);
}

// Puts the installed file back from where it went aside.
void PutBack(const std::wstring& backup, const std::wstring& target, DWORD attributes)
{
    ::SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!::MoveFileExW(backup.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        UPDATE_LOG(L"Could not put %ls back, ErrorCode = %d\n", target.c_str(), static_cast<int>(::GetLastError()));
    else if (attributes != INVALID_FILE_ATTRIBUTES)
        ::SetFileAttributesW(target.c_str(), attributes);
}

} // namespace

std::wstring CInstaller::JournalPath() const
{
    return std::wstring(m_szProgramFolder) + L"\\Temp\\update.journal";
}

namespace {

// The journal names files relative to the program folder, so that it can
// reach nothing else: "<header>\n" then "<name>\t<digit>\n" per file, name
// as in the manifest ("/"-separated), digit the aside's (folder\Temp\<leaf><digit>),
// none for a file the install adds. UTF-16.
const wchar_t kJournalHeader[] = L"qz-update-journal 2";

// A target or aside reached through no link: every existing folder from the
// program folder down, and the file itself.
bool ReachedWithoutLink(const std::wstring& program, const std::wstring& path)
{
    for (size_t i = program.size(); (i = path.find(L'\\', i + 1)) != std::wstring::npos;)
        if (IsLink(path.substr(0, i)))
            return false;
    return !IsLink(path);
}

struct JournalLine {
    std::wstring target, aside; // full paths; aside empty for an added file
};

// The journal's lines when every one names a file of this installation and
// its aside; false for anything else, the old layout with absolute paths included.
bool ParseJournal(const std::wstring& program, const std::wstring& text, std::vector<JournalLine>* lines)
{
    size_t end = text.find(L'\n');
    if (end == std::wstring::npos || text.compare(0, end, kJournalHeader) != 0)
        return false;
    for (size_t start = end + 1; start < text.size(); start = end + 1) {
        end = text.find(L'\n', start);
        if (end == std::wstring::npos)
            return false;
        std::wstring line = text.substr(start, end - start);
        size_t tab = line.find(L'\t');
        if (tab == std::wstring::npos)
            return false;
        std::wstring name = line.substr(0, tab), digit = line.substr(tab + 1);
        if (!(IsSafeFileName(name, program) || IsRecordName(name)) || digit.size() > 1 || (digit.size() == 1 && (digit[0] < L'0' || digit[0] > L'9')))
            return false;
        JournalLine parsed;
        parsed.target = LocalPathOf(program, name);
        if (!digit.empty()) {
            size_t slash = parsed.target.find_last_of(L'\\');
            parsed.aside = parsed.target.substr(0, slash + 1) + L"Temp\\" + parsed.target.substr(slash + 1) + digit;
        }
        if (!ReachedWithoutLink(program, parsed.target) ||
            (!parsed.aside.empty() && !ReachedWithoutLink(program, parsed.aside)))
            return false;
        lines->push_back(std::move(parsed));
    }
    return true;
}

} // namespace

bool CInstaller::Install(std::vector<Placement>& plan, InstallFailure* failure)
{
    *failure = InstallFailure();
    if (plan.empty())
        return true;
    const std::wstring program = m_szProgramFolder;
    auto fail = [failure](InstallProblem kind, const std::wstring& path) {
        failure->kind = kind;
        failure->path = path;
        return false;
    };
    // Attributes that keep a file from being replaced.
    const DWORD kProtecting = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    // The journal's folder: never a link, which would put the journal (and
    // what a later run undoes from it) anywhere.
    if (AsideFolderOf(program + L"\\journal").empty()) {
        UPDATE_LOG(L"Not installed: %ls\\Temp is a link or cannot be made\n", program.c_str());
        return fail(InstallProblem::Unplaceable, program + L"\\Temp");
    }
    std::vector<std::wstring> taken;
    std::wstring journal = std::wstring(kJournalHeader) + L"\n";
    for (Placement& p : plan) {
        p.attributes = ::GetFileAttributesW(p.target.c_str());
        if (p.target.size() <= program.size() + 1 || p.target.compare(0, program.size(), program) != 0 ||
            p.target[program.size()] != L'\\' ||
            (p.attributes != INVALID_FILE_ATTRIBUTES &&
             (p.attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))) {
            UPDATE_LOG(L"Cannot be placed: %ls (a folder or a link stands there); nothing is installed\n",
                       p.target.c_str());
            return fail(InstallProblem::Unplaceable, p.target);
        }
        std::wstring name = p.target.substr(program.size());
        std::replace(name.begin(), name.end(), L'\\', L'/');
        if (p.attributes != INVALID_FILE_ATTRIBUTES) {
            p.inUse = !Unused(p.target);
            p.backup = FreeAsideName(p.target, taken);
            if (p.backup.empty()) {
                bool link = AsideFolderOf(p.target).empty();
                return fail(link ? InstallProblem::Unplaceable : InstallProblem::InUse, p.target);
            }
            taken.push_back(p.backup);
        }
        journal += name + L"\t" + (p.backup.empty() ? std::wstring() : p.backup.substr(p.backup.size() - 1)) + L"\n";
    }
    // On the disk before anything moves: the backups go right after the commit.
    for (Placement& p : plan) {
        if (p.flush && !p.flush()) {
            UPDATE_LOG(L"Could not flush the staged %ls, ErrorCode = %d\n", p.target.c_str(),
                       static_cast<int>(::GetLastError()));
            return fail(InstallProblem::Failed, p.target);
        }
    }
    // Written before the first file moves: an install the machine stopped in
    // the middle of is undone by the next run (see RecoverInterruptedInstall).
    // Whole or not at all: written beside and renamed, so that a journal cut
    // in its writing never stands (it could not be told from a planted one).
    // A link left in either place is removed, never written through.
    const std::wstring written = JournalPath() + L".new";
    ::DeleteFileW(written.c_str());
    if (IsLink(written) || !WriteWholeFile(written, journal.data(), journal.size() * sizeof(wchar_t), true) ||
        !::MoveFileExW(written.c_str(), JournalPath().c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        ::DeleteFileW(written.c_str());
        UPDATE_LOG(L"Could not write the install journal, ErrorCode = %d\n", static_cast<int>(::GetLastError()));
        return fail(InstallProblem::Failed, JournalPath());
    }
    // Every installed file out of the way before any is replaced: one held by
    // a program that lets nobody rename it stops the install with nothing changed.
    auto undo = [&](size_t done) {
        for (size_t i = done; i-- > 0;) {
            if (plan[i].placed)
                ::DeleteFileW(plan[i].target.c_str());
            if (!plan[i].backup.empty())
                PutBack(plan[i].backup, plan[i].target, plan[i].attributes);
        }
        ::DeleteFileW(JournalPath().c_str());
    };
    for (size_t i = 0; i < plan.size(); ++i) {
        Placement& p = plan[i];
        if (p.backup.empty())
            continue;
        if (p.attributes & kProtecting)
            ::SetFileAttributesW(p.target.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (!::MoveFileExW(p.target.c_str(), p.backup.c_str(), MOVEFILE_WRITE_THROUGH)) {
            UPDATE_LOG(L"In use, not installed: %ls, ErrorCode = %d\n", p.target.c_str(),
                       static_cast<int>(::GetLastError()));
            ::SetFileAttributesW(p.target.c_str(), p.attributes);
            undo(i);
            return fail(InstallProblem::InUse, p.target);
        }
    }
    // Every target is free now: the staged files are renamed into place.
    for (size_t i = 0; i < plan.size(); ++i) {
        Placement& p = plan[i];
        if (!p.place(p.target)) {
            UPDATE_LOG(L"Could not place %ls, ErrorCode = %d: the install is undone\n", p.target.c_str(),
                       static_cast<int>(::GetLastError()));
            undo(plan.size());
            return fail(InstallProblem::InUse, p.target);
        }
        p.placed = true;
        // The installed file's attributes stay.
        if (p.attributes != INVALID_FILE_ATTRIBUTES)
            ::SetFileAttributesW(p.target.c_str(), p.attributes);
    }
    ::DeleteFileW(JournalPath().c_str()); // from here on the new set is the installed one
    // What was not in use goes; a file a program still runs from stays aside, as it always did.
    for (const Placement& p : plan) {
        if (p.backup.empty() || p.inUse)
            continue;
        ::SetFileAttributesW(p.backup.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW(p.backup.c_str());
        ::RemoveDirectoryW(p.backup.substr(0, p.backup.find_last_of(L'\\')).c_str());
    }
    ::RemoveDirectoryW((program + L"\\Temp").c_str());
    return true;
}

CInstaller::Recovery CInstaller::RecoverInterruptedInstall()
{
    if (!m_szProgramFolder[0])
        return Recovery::Nothing;
    const std::wstring program = m_szProgramFolder;
    // Never read through a link: whoever made it chose what it says.
    if (IsLink(program + L"\\Temp") || IsLink(JournalPath())) {
        UPDATE_LOG(L"The install journal or its folder is a link: nothing is undone, the run stops\n");
        return Recovery::Refused;
    }
    // One cut in its writing: no file had moved yet.
    ::DeleteFileW((JournalPath() + L".new").c_str());
    std::string bytes;
    if (!ReadSmallFile(JournalPath(), (16u << 20) - 1, &bytes)) {
        if (::GetLastError() != ERROR_FILE_TOO_LARGE)
            return Recovery::Nothing; // none, or one its writer still holds: a later run sees it
        UPDATE_LOG(L"The install journal is 16 MB or more, no journal of ours: it stays, the run stops\n");
        return Recovery::Refused;
    }
    std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    // Every line checked before any is acted on: a journal that names one
    // thing outside this installation (planted, or one of an installation
    // copied from elsewhere) is not ours to act on at all.
    std::vector<JournalLine> lines;
    if (bytes.size() % sizeof(wchar_t) != 0 || !ParseJournal(program, text, &lines)) {
        UPDATE_LOG(L"The install journal names something other than this installation's files: nothing is "
                   L"undone, the run stops\n");
        return Recovery::Refused;
    }
    // Undone, never finished: the staged files may have been changed since.
    // Every backup named there did not exist before that install began.
    for (const JournalLine& line : lines) {
        if (line.aside.empty())
            ::DeleteFileW(line.target.c_str()); // added by that install
        else if (::GetFileAttributesW(line.aside.c_str()) != INVALID_FILE_ATTRIBUTES)
            PutBack(line.aside, line.target, ::GetFileAttributesW(line.aside.c_str()));
    }
    ::DeleteFileW(JournalPath().c_str());
    UPDATE_LOG(L"An install that was interrupted has been undone\n");
    return Recovery::Undone;
}

bool CInstaller::InstallStaged(std::vector<StagedEntry>& files, InstallFailure* failure)
{
    *failure = InstallFailure();
    if (!m_szStagingFolder[0])
        return false;
    std::vector<Placement> plan;
    for (StagedEntry& entry : files) {
        const std::wstring& name = entry.first;
        const std::wstring target = LocalPathOf(m_szProgramFolder, name);
        if (!entry.second || !(IsSafeFileName(name, m_szProgramFolder) || IsRecordName(name))) {
            UPDATE_LOG(L"Cannot be placed, an unsafe name: %ls; nothing is installed\n", name.c_str());
            failure->kind = InstallProblem::Unplaceable;
            failure->path = target;
            return false;
        }
        // The folders on the way, none of them a link that would take the file outside.
        if (!MakeFoldersOf(target, failure))
            return false;
        CStagedFile* staged = entry.second.get();
        Placement p;
        p.target = target;
        p.place = [staged](const std::wstring& to) { return staged->MoveTo(to); };
        p.flush = [staged]() { return staged->Flush(); };
        plan.push_back(std::move(p));
    }
    return Install(plan, failure);
}

void CInstaller::DeleteTree(std::wstring folder, const wchar_t* spare)
{
    if (folder.empty())
        return; // never the current drive's root
    if (IsLink(folder)) {
        RemoveLink(folder);
        return;
    }
    EnsureBackslash(folder);
    ForEachEntry(folder, [&](const WIN32_FIND_DATAW& fd) {
        std::wstring path = folder + fd.cFileName;
        if (spare && lstrcmpiW(fd.cFileName, spare) == 0 && IsPlainFolder(path))
            return true;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            // A junction or symbolic link goes itself; what it points to stays.
            RemoveLink(path);
        } else if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            DeleteTree(path);
        } else if (!::DeleteFileW(path.c_str()) && (fd.dwFileAttributes & FILE_ATTRIBUTE_READONLY)) {
            ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            ::DeleteFileW(path.c_str());
        }
        return true;
    });
    ::RemoveDirectoryW(folder.c_str());
}

void CInstaller::RemoveLink(const std::wstring& path)
{
    // Deleted through a handle on the link itself. Where the system opens
    // what the link points to instead (Wine 8 does, and its RemoveDirectory
    // removes an empty target), the link stays: a staging folder that cannot
    // be emptied fails the run, which is better than a deleted foreign folder.
    CFileHandle link(::CreateFileW(path.c_str(), DELETE | FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!link) {
        UPDATE_LOG(L"Could not open the link %ls, ErrorCode = %d\n", path.c_str(), static_cast<int>(::GetLastError()));
        return;
    }
    FILE_ATTRIBUTE_TAG_INFO tag = {};
    FILE_DISPOSITION_INFO dispose = {TRUE};
    if (!::GetFileInformationByHandleEx(link.Get(), FileAttributeTagInfo, &tag, sizeof tag) ||
        !(tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        UPDATE_LOG(L"Left in place, the link could not be opened itself: %ls\n", path.c_str());
    else if (!::SetFileInformationByHandle(link.Get(), FileDispositionInfo, &dispose, sizeof dispose))
        UPDATE_LOG(L"Could not remove the link %ls, ErrorCode = %d\n", path.c_str(),
                   static_cast<int>(::GetLastError()));
}

bool CInstaller::InstallFiles(InstallFailure* failure)
{
    InstallFailure ignored;
    if (!failure)
        failure = &ignored;
    *failure = InstallFailure();
    if (!m_szStagingFolder[0])
        return false;
    std::vector<Placement> plan;
    if (!CollectTree(m_szStagingFolder, m_szProgramFolder, &plan, failure) || !Install(plan, failure))
        return false; // the staged files stay for another attempt
    RemoveEmptyFolders(m_szStagingFolder);
    return true;
}

void CInstaller::Cleanup()
{
    if (!m_szProgramFolder[0])
        return;
    // The manifest travelled from the staging folder into the installation.
    ::DeleteFileW((std::wstring(m_szProgramFolder) + L"\\Update.xml").c_str());
    // Parts a keyed run kept for the next stay (an unkeyed run never keeps any).
    DeleteTree(m_szStagingFolder, CKeptParts::kFolder);
}
