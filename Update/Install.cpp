// Installing what was staged, all or nothing: the plan of placements, files
// in use moved aside under fresh names, the journal that lets the next run
// undo an install the machine stopped in, and the clean-up of the staging
// folder. The transfer half of CDownload is in Download.cpp.
#include "Download.h"

#include "App.h"
#include "Folders.h"
#include "Handles.h"
#include "Log.h"
#include "SafeName.h"

#include <shlwapi.h>

#include <algorithm>

std::wstring CDownload::MoveAside(const std::wstring& folderIn, const std::wstring& name)
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

void CDownload::CollectTree(std::wstring source, std::wstring target, std::vector<Placement>* plan)
{
    EnsureBackslash(source);
    EnsureBackslash(target);
    ForEachEntry(source, [&](const WIN32_FIND_DATAW& fd) {
        std::wstring name = fd.cFileName;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            // A link was never downloaded: what it points to is not ours to install.
            UPDATE_LOG(L"Not installed, a link: %ls\n", (source + name).c_str());
            return true;
        }
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            ::CreateDirectoryW((target + name).c_str(), nullptr);
            DWORD installed = ::GetFileAttributesW((target + name).c_str());
            if (installed != INVALID_FILE_ATTRIBUTES && (installed & FILE_ATTRIBUTE_REPARSE_POINT)) {
                // An installed folder that is a link would take the files outside.
                UPDATE_LOG(L"Not installed into a link: %ls\n", (target + name).c_str());
                return true;
            }
            CollectTree(source + name, target + name, plan);
            return true;
        }
        std::wstring from = source + name;
        Placement p;
        p.target = target + name;
        p.place = [from](const std::wstring& to) {
            return ::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
        };
        plan->push_back(std::move(p));
        return true;
    });
}

void CDownload::RemoveEmptyFolders(std::wstring folder)
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

// Where a file of folder + name goes aside: folder + "Temp\" + name + digit,
// a name that is free now (one left by an earlier run that is no longer in
// use is removed), and not one another file of this install was given.
std::wstring FreeAsideName(const std::wstring& target, const std::vector<std::wstring>& taken)
{
    size_t slash = target.find_last_of(L'\\');
    std::wstring aside = target.substr(0, slash + 1) + L"Temp";
    ::CreateDirectoryW(aside.c_str(), nullptr);
    for (int pass = 0; pass < 2; ++pass) {
        for (int i = 0; i < 10; ++i) {
            std::wstring name = aside + L"\\" + target.substr(slash + 1) + static_cast<wchar_t>(L'0' + i);
            if (std::find(taken.begin(), taken.end(), name) != taken.end())
                continue;
            if (::GetFileAttributesW(name.c_str()) == INVALID_FILE_ATTRIBUTES)
                return name;
            if (pass == 1) {
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

std::wstring CDownload::JournalPath() const
{
    return std::wstring(m_szProgramFolder) + L"\\Temp\\update.journal";
}

bool CDownload::Install(std::vector<Placement>& plan, std::wstring* inUse)
{
    inUse->clear();
    if (plan.empty())
        return true;
    // Attributes that keep a file from being replaced.
    const DWORD kProtecting = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    std::vector<std::wstring> taken;
    std::wstring journal;
    for (Placement& p : plan) {
        p.attributes = ::GetFileAttributesW(p.target.c_str());
        if (p.attributes == INVALID_FILE_ATTRIBUTES || (p.attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            p.attributes = INVALID_FILE_ATTRIBUTES;
        } else {
            p.inUse = !Unused(p.target);
            p.backup = FreeAsideName(p.target, taken);
            if (p.backup.empty()) {
                *inUse = p.target;
                return false;
            }
            taken.push_back(p.backup);
        }
        journal += p.target + L"\t" + p.backup + L"\n";
    }
    // Written before the first file moves: an install the machine stopped in
    // the middle of is undone by the next run (see RecoverInterruptedInstall).
    ::CreateDirectoryW((std::wstring(m_szProgramFolder) + L"\\Temp").c_str(), nullptr);
    if (!WriteWholeFile(JournalPath(), journal.data(), journal.size() * sizeof(wchar_t), true)) {
        UPDATE_LOG(L"Could not write the install journal, ErrorCode = %d\n", static_cast<int>(::GetLastError()));
        return false;
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
            *inUse = p.target;
            undo(i);
            return false;
        }
    }
    // Every target is free now: the staged files are renamed into place.
    for (size_t i = 0; i < plan.size(); ++i) {
        Placement& p = plan[i];
        if (!p.place(p.target)) {
            UPDATE_LOG(L"Could not place %ls, ErrorCode = %d: the install is undone\n", p.target.c_str(),
                       static_cast<int>(::GetLastError()));
            *inUse = p.target;
            undo(plan.size());
            return false;
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
    ::RemoveDirectoryW((std::wstring(m_szProgramFolder) + L"\\Temp").c_str());
    return true;
}

bool CDownload::RecoverInterruptedInstall()
{
    if (!m_szProgramFolder[0])
        return false;
    // One of 16 MB or more, far more than any install writes, is not one of
    // ours: it goes, and nothing it names is touched.
    std::string bytes;
    if (!ReadSmallFile(JournalPath(), (16u << 20) - 1, &bytes) && ::GetLastError() != ERROR_FILE_TOO_LARGE)
        return false;
    std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    // Undone, never finished: the staged files may have been changed since.
    // Every backup named there did not exist before that install began.
    for (size_t start = 0, end; (end = text.find(L'\n', start)) != std::wstring::npos; start = end + 1) {
        std::wstring line = text.substr(start, end - start);
        size_t tab = line.find(L'\t');
        if (tab == std::wstring::npos)
            continue;
        std::wstring target = line.substr(0, tab), backup = line.substr(tab + 1);
        if (backup.empty())
            ::DeleteFileW(target.c_str()); // added by that install
        else if (::GetFileAttributesW(backup.c_str()) != INVALID_FILE_ATTRIBUTES)
            PutBack(backup, target, ::GetFileAttributesW(backup.c_str()));
    }
    ::DeleteFileW(JournalPath().c_str());
    UPDATE_LOG(L"An install that was interrupted has been undone\n");
    return true;
}

bool CDownload::InstallStaged(std::vector<StagedEntry>& files, std::wstring* inUse)
{
    inUse->clear();
    if (!m_szStagingFolder[0])
        return false;
    std::vector<Placement> plan;
    for (StagedEntry& entry : files) {
        const std::wstring& name = entry.first;
        if (!entry.second || !IsSafeFileName(name, m_szProgramFolder))
            continue;
        // The folders on the way, none of them a link that would take the file outside.
        std::wstring target = m_szProgramFolder;
        EnsureBackslash(target);
        std::wstring rest = name.substr(1);
        bool inside = true;
        for (size_t slash; inside && (slash = rest.find(L'/')) != std::wstring::npos; rest = rest.substr(slash + 1)) {
            target += rest.substr(0, slash);
            ::CreateDirectoryW(target.c_str(), nullptr);
            DWORD folder = ::GetFileAttributesW(target.c_str());
            inside = folder != INVALID_FILE_ATTRIBUTES && (folder & FILE_ATTRIBUTE_DIRECTORY) &&
                     !(folder & FILE_ATTRIBUTE_REPARSE_POINT);
            target += L'\\';
        }
        if (!inside) {
            UPDATE_LOG(L"Not installed into a link or a missing folder: %ls\n", name.c_str());
            continue;
        }
        CStagedFile* staged = entry.second.get();
        Placement p;
        p.target = target + rest;
        p.place = [staged](const std::wstring& to) { return staged->MoveTo(to); };
        plan.push_back(std::move(p));
    }
    return Install(plan, inUse);
}

void CDownload::DeleteTree(std::wstring folder)
{
    if (folder.empty())
        return; // never the current drive's root
    DWORD own = ::GetFileAttributesW(folder.c_str());
    if (own != INVALID_FILE_ATTRIBUTES && (own & FILE_ATTRIBUTE_REPARSE_POINT)) {
        RemoveLink(folder);
        return;
    }
    EnsureBackslash(folder);
    ForEachEntry(folder, [&](const WIN32_FIND_DATAW& fd) {
        std::wstring path = folder + fd.cFileName;
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

void CDownload::RemoveLink(const std::wstring& path)
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

bool CDownload::InstallFiles(std::wstring* inUse)
{
    std::wstring ignored;
    if (!inUse)
        inUse = &ignored;
    inUse->clear();
    if (!m_szStagingFolder[0])
        return false;
    std::vector<Placement> plan;
    CollectTree(m_szStagingFolder, m_szProgramFolder, &plan);
    if (!Install(plan, inUse))
        return false; // the staged files stay for another attempt
    RemoveEmptyFolders(m_szStagingFolder);
    return true;
}

void CDownload::Cleanup()
{
    if (!m_szProgramFolder[0])
        return;
    // The manifest travelled from the staging folder into the installation.
    ::DeleteFileW((std::wstring(m_szProgramFolder) + L"\\Update.xml").c_str());
    DeleteTree(m_szStagingFolder);
}
