// Installing what a run staged, all or nothing: the plan of placements,
// files in use moved aside under fresh names, the journal that lets the next
// run undo an install the machine stopped in, and the clean-up of the staging
// folder. Owns the run's two folders: the installation and its staging room.
#pragma once

#include "StagedFile.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class CInstaller {
public:
    // Program folder: the executable's folder (or the given one); staging
    // folder: program folder + "\$Temp$". False, and both stay empty, when
    // the staging folder does not fit a path buffer: a cut path would name
    // another folder, the installation itself at worst.
    bool InitPaths(const wchar_t* programFolder = nullptr);
    static bool StagingFolderFits(const std::wstring& programFolder);
    const wchar_t* GetProgramFolder() const { return m_szProgramFolder; }
    const wchar_t* GetStagingFolder() const { return m_szStagingFolder; }

    // Checksum of program folder + name ("/"-separated); 0 for a missing file
    // and for a name that is not a safe relative path.
    uint32_t GetFileChecksum(const wchar_t* name);

    // Why an install did not happen; in every case nothing was changed.
    enum class InstallProblem {
        None,
        InUse,       // an installed file a program holds without letting it be renamed
        Unplaceable, // a folder on the way is a link or a plain file, or a name is unsafe
        Failed,      // the disk refused: flushing, the journal, a placement (undone)
    };
    struct InstallFailure {
        InstallProblem kind = InstallProblem::None;
        std::wstring path; // the full path concerned
    };
    // Installs the staged tree, all or nothing: every installed file that
    // is replaced goes aside first, and when one cannot (a program holds it
    // without letting it be renamed) everything goes back, nothing changes,
    // the failure names it and the staged files stay. An entry that cannot be
    // placed at all fails the whole install before anything moves. A journal
    // in Temp lets the next run undo an install the machine stopped in the
    // middle of.
    bool InstallFiles(InstallFailure* failure = nullptr);
    // A staged file and its name in the release ("/"-separated).
    using StagedEntry = std::pair<std::wstring, std::unique_ptr<CStagedFile>>;
    // The same for exactly these files, each through its own handle; whatever
    // else lies in the staging folder is left for Cleanup. Besides release
    // names, the updater's own records (IsRecordName) may be placed.
    bool InstallStaged(std::vector<StagedEntry>& files, InstallFailure* failure);
    // Undoes an install that a stopped process left half done (its journal).
    // Refused: a journal that names anything but this installation's own
    // files and their asides (or is of the old layout) is kept and nothing is
    // touched; the run must not go on over it.
    enum class Recovery { Nothing, Undone, Refused };
    Recovery RecoverInterruptedInstall();
    // Removes the staging folder (but for the parts a keyed run kept for the
    // next, see KeptParts.h) and the manifest an unkeyed run placed.
    void Cleanup();

    // Folder operations used by the installation.
    // Renames folder + name into folder + "Temp\" + name + digit; the path used,
    // or empty when all ten names failed.
    std::wstring MoveAside(const std::wstring& folder, const std::wstring& name);
    // Neither walk descends into a junction or symbolic link: DeleteTree
    // removes the link itself, InstallFiles neither installs one nor installs
    // through one.
    // spare: an entry of folder's own (a plain folder, not a link) that
    // stays, and folder with it.
    void DeleteTree(std::wstring folder, const wchar_t* spare = nullptr);

private:
    // One staged file and the installed one it replaces.
    struct Placement {
        std::wstring target;                             // full path
        std::function<bool(const std::wstring&)> place; // renames the staged file to a full path, writing through
        std::function<bool()> flush;                     // the staged data onto the disk
        std::wstring backup;                             // where the installed file goes aside; empty: none
        DWORD attributes = INVALID_FILE_ATTRIBUTES;      // the installed file's
        bool inUse = false;                              // another program has it open
        bool placed = false;
    };
    bool Install(std::vector<Placement>& plan, InstallFailure* failure);
    bool CollectTree(std::wstring source, std::wstring target, std::vector<Placement>* plan, InstallFailure* failure);
    // Makes the folders of a name below the program folder; false when one
    // is a link or a plain file, or cannot be made.
    bool MakeFoldersOf(const std::wstring& target, InstallFailure* failure) const;
    static void RemoveEmptyFolders(std::wstring folder);
    std::wstring JournalPath() const;
    static void RemoveLink(const std::wstring& path);

    wchar_t m_szProgramFolder[MAX_PATH] = {};
    wchar_t m_szStagingFolder[MAX_PATH] = {};
};
