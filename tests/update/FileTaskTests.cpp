// Installing staged files over an installation: files in use, read-only files,
// failures that must not lose a file, and nothing written elsewhere.
#include "Installer.h"
#include "KeptParts.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

// An open handle with the given sharing, closed with the object.
struct Held {
    Held(const std::wstring& path, DWORD share)
    {
        h = ::CreateFileW(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
    }
    ~Held()
    {
        if (h != INVALID_HANDLE_VALUE)
            ::CloseHandle(h);
    }
    HANDLE h;
};

// How a running program holds its own image: others may read and rename it,
// not write it.
const DWORD kImageSharing = FILE_SHARE_READ | FILE_SHARE_DELETE;

class InstallTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        app = root / L"app";
        staging = app + L"\\$Temp$";
        ::CreateDirectoryW(app.c_str(), nullptr);
        engine.InitPaths(app.c_str());
        ASSERT_EQ(std::wstring(engine.GetStagingFolder()), staging);
        ASSERT_TRUE(WriteBytes(root / L"neighbour.txt", "leave me"));
    }
    void Stage(const std::wstring& rel, const std::string& bytes) { ASSERT_TRUE(WriteBytes(staging + L"\\" + rel, bytes)); }
    void Install(const std::wstring& rel, const std::string& bytes) { ASSERT_TRUE(WriteBytes(app + L"\\" + rel, bytes)); }
    std::string Installed(const std::wstring& rel) { return ReadBytes(app + L"\\" + rel); }

    TempFolder root{L"install"};
    std::wstring app, staging;
    CInstaller engine;
};

} // namespace

TEST_F(InstallTest, StagedFilesReplaceInstalledOnesInNestedFoldersAndStagingGoes)
{
    Install(L"a.txt", "old a");
    Install(L"sub\\b.txt", "old b");
    Install(L"keep.txt", "untouched");
    Stage(L"a.txt", "new a");
    Stage(L"sub\\b.txt", "new b");
    Stage(L"sub\\deeper\\c.txt", "new c");
    Stage(L"update.xml", "<update_info/>");

    engine.InstallFiles();
    EXPECT_EQ(Installed(L"a.txt"), "new a");
    EXPECT_EQ(Installed(L"sub\\b.txt"), "new b");
    EXPECT_EQ(Installed(L"sub\\deeper\\c.txt"), "new c");
    EXPECT_EQ(Installed(L"keep.txt"), "untouched");
    EXPECT_FALSE(Exists(staging));
    EXPECT_FALSE(Exists(app + L"\\Temp"));

    // Cleanup removes the manifest that travelled along, and any staging left.
    Stage(L"leftover\\x.bin", "x");
    engine.Cleanup();
    EXPECT_FALSE(Exists(app + L"\\update.xml"));
    EXPECT_FALSE(Exists(staging));
    EXPECT_EQ(ListTree(root.path()),
              (std::vector<std::wstring>{L"app\\a.txt", L"app\\keep.txt", L"app\\sub\\b.txt",
                                         L"app\\sub\\deeper\\c.txt", L"neighbour.txt"}));
}

TEST_F(InstallTest, AFileInUseLikeARunningImageIsMovedAsideAndReplaced)
{
    Install(L"sub\\a.dll", "version 1");
    Stage(L"sub\\a.dll", "version 2");
    {
        Held running(app + L"\\sub\\a.dll", kImageSharing);
        ASSERT_NE(running.h, INVALID_HANDLE_VALUE);
        engine.InstallFiles();
        EXPECT_EQ(Installed(L"sub\\a.dll"), "version 2");
        EXPECT_EQ(Installed(L"sub\\Temp\\a.dll0"), "version 1");
        EXPECT_FALSE(Exists(staging));

        // Still running from Temp\a.dll0; the next update takes a.dll1.
        Held runningAgain(app + L"\\sub\\a.dll", kImageSharing);
        Stage(L"sub\\a.dll", "version 3");
        engine.InstallFiles();
        EXPECT_EQ(Installed(L"sub\\a.dll"), "version 3");
        EXPECT_EQ(Installed(L"sub\\Temp\\a.dll0"), "version 1");
        EXPECT_EQ(Installed(L"sub\\Temp\\a.dll1"), "version 2");
    }
    EXPECT_EQ(ListTree(root.path()),
              (std::vector<std::wstring>{L"app\\sub\\Temp\\a.dll0", L"app\\sub\\Temp\\a.dll1", L"app\\sub\\a.dll",
                                         L"neighbour.txt"}));
}

TEST_F(InstallTest, AFileHeldWithoutAnySharingStopsTheWholeInstallUntilItIsReleased)
{
    // All or nothing: the files before and after it in the walk stay old too.
    for (const wchar_t* name : {L"a.dat", L"locked.dat", L"z.dat"}) {
        Install(name, "old");
        Stage(name, "new");
    }
    CInstaller::InstallFailure inUse;
    {
        Held locked(app + L"\\locked.dat", 0);
        ASSERT_NE(locked.h, INVALID_HANDLE_VALUE);
        EXPECT_FALSE(engine.InstallFiles(&inUse));
    }
    EXPECT_EQ(inUse.kind, CInstaller::InstallProblem::InUse);
    EXPECT_EQ(inUse.path, app + L"\\locked.dat");
    for (const wchar_t* name : {L"a.dat", L"locked.dat", L"z.dat"})
        EXPECT_EQ(Installed(name), "old");
    EXPECT_EQ(ListTree(app), (std::vector<std::wstring>{L"$Temp$\\a.dat", L"$Temp$\\locked.dat", L"$Temp$\\z.dat",
                                                        L"a.dat", L"locked.dat", L"z.dat"})); // an empty Temp may stay
    // Released: every file is replaced.
    EXPECT_TRUE(engine.InstallFiles(&inUse));
    for (const wchar_t* name : {L"a.dat", L"locked.dat", L"z.dat"})
        EXPECT_EQ(Installed(name), "new");
    EXPECT_FALSE(Exists(staging));
}

// The journal of an install the process did not finish: the next run puts
// back every file that went aside and removes every file the install added.
// A journal that names anything else is acted on in no part.
TEST_F(InstallTest, AnInstallThatStoppedInTheMiddleIsUndoneByTheNextRunAndNothingElseEver)
{
    const std::wstring journal = app + L"\\Temp\\update.journal";
    auto writeJournal = [&](const std::wstring& text) {
        return WriteBytes(journal, std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2));
    };
    Install(L"a.dat", "old a");
    Install(L"b.dat", "old b");
    ::CreateDirectoryW((app + L"\\Temp").c_str(), nullptr);
    // Stopped after a.dat was replaced and b.dat went aside, before c.dat was added.
    ASSERT_TRUE(::MoveFileW((app + L"\\a.dat").c_str(), (app + L"\\Temp\\a.dat0").c_str()));
    ASSERT_TRUE(::MoveFileW((app + L"\\b.dat").c_str(), (app + L"\\Temp\\b.dat0").c_str()));
    Install(L"a.dat", "new a");
    ASSERT_TRUE(writeJournal(L"qz-update-journal 2\n/a.dat\t0\n/b.dat\t0\n/c.dat\t\n"));
    EXPECT_EQ(engine.RecoverInterruptedInstall(), CInstaller::Recovery::Undone);
    EXPECT_EQ(ListTree(app), (std::vector<std::wstring>{L"a.dat", L"b.dat"}));
    EXPECT_EQ(Installed(L"a.dat"), "old a");
    EXPECT_EQ(Installed(L"b.dat"), "old b");
    EXPECT_EQ(engine.RecoverInterruptedInstall(), CInstaller::Recovery::Nothing); // once

    // Planted, or left by an installation copied from elsewhere: a line that
    // names anything outside, or a form that is not this layout's, stops
    // recovery with nothing touched and the journal kept.
    TempFolder original(L"original");
    ASSERT_TRUE(WriteBytes(original / L"a.dat", "the original's"));
    ASSERT_TRUE(WriteBytes(root / L"Temp\\neighbour.txt0", "an aside outside"));
    const std::wstring outside = root / L"neighbour.txt";
    const std::wstring hostile[] = {
        original / L"a.dat" + L"\t\n" + original / L"b.dat\t" + original / L"Temp\\b.dat0\n", // the old layout
        L"qz-update-journal 2\n" + original / L"a.dat" + L"\t\n",                               // absolute
        L"qz-update-journal 2\n/a.dat\t0\n/../neighbour.txt\t0\n",                              // climbs out
        L"qz-update-journal 2\n//host/share/x.dll\t\n",                                         // UNC
        L"qz-update-journal 2\n\\\\host\\share\\x.dll\t\n",
        L"qz-update-journal 2\n/CON\t\n",                                                       // a device
        L"qz-update-journal 2\n/Temp/a.dat0\t\n",                                               // an aside itself
        L"qz-update-journal 2\n/a.dat\t12\n",
        L"qz-update-journal 2\n/a.dat\t0",                                                      // cut
        L"qz-update-journal 3\n/a.dat\t\n",
    };
    for (const std::wstring& text : hostile) {
        ASSERT_TRUE(writeJournal(text));
        EXPECT_EQ(engine.RecoverInterruptedInstall(), CInstaller::Recovery::Refused)
            << std::string(text.begin(), text.end());
        EXPECT_TRUE(Exists(journal));
        EXPECT_EQ(ReadBytes(original / L"a.dat"), "the original's");
        EXPECT_EQ(ReadBytes(outside), "leave me");
        EXPECT_EQ(Installed(L"a.dat"), "old a");
    }

    // One that cannot be read now (its writer lets nobody read it) waits for
    // a later run; one of 16 MB is no journal of ours and stops the run.
    const std::wstring added = L"qz-update-journal 2\n/a.dat\t\n";
    std::string big(reinterpret_cast<const char*>(added.data()), added.size() * 2);
    big.resize(16u << 20, ' ');
    ASSERT_TRUE(WriteBytes(journal, big));
    {
        Held writing(journal, 0);
        EXPECT_EQ(engine.RecoverInterruptedInstall(), CInstaller::Recovery::Nothing);
    }
    EXPECT_EQ(engine.RecoverInterruptedInstall(), CInstaller::Recovery::Refused);
    EXPECT_TRUE(Exists(journal));
    EXPECT_EQ(Installed(L"a.dat"), "old a");
}

TEST_F(InstallTest, AReadOnlyFileIsReplacedAfterItsAttributeIsCleared)
{
    Install(L"ro.ini", "old");
    ASSERT_TRUE(::SetFileAttributesW((app + L"\\ro.ini").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
    Stage(L"ro.ini", "new");
    engine.InstallFiles();
    EXPECT_EQ(Installed(L"ro.ini"), "new");
    // Cleared only for the replacement: the file keeps all its attributes.
    EXPECT_EQ(::GetFileAttributesW((app + L"\\ro.ini").c_str()),
              static_cast<DWORD>(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_FALSE(Exists(app + L"\\Temp"));
}

TEST_F(InstallTest, WhenTheRetriedCopyFailsTooTheOldFileIsPutBack)
{
    // The staged copy cannot be read: the first copy fails, the installed file
    // is moved aside, the second copy fails as well.
    Install(L"client.exe", "working client");
    Stage(L"client.exe", "new client");
    {
        Held stagedLocked(staging + L"\\client.exe", 0);
        ASSERT_NE(stagedLocked.h, INVALID_HANDLE_VALUE);
        engine.InstallFiles();
        EXPECT_EQ(Installed(L"client.exe"), "working client");
        EXPECT_FALSE(Exists(app + L"\\Temp\\client.exe0"));
    }
    engine.Cleanup();
    EXPECT_EQ(Installed(L"client.exe"), "working client");
    EXPECT_FALSE(Exists(staging));
}

TEST_F(InstallTest, NothingHappensWithoutStagedFilesAndMoveAsideUsesTheNextFreeName)
{
    Install(L"x.bin", "x");
    engine.InstallFiles();
    engine.Cleanup();
    EXPECT_EQ(ListTree(root.path()), (std::vector<std::wstring>{L"app\\x.bin", L"neighbour.txt"}));

    Held held(app + L"\\x.bin", kImageSharing);
    EXPECT_EQ(engine.MoveAside(app, L"x.bin"), app + L"\\Temp\\x.bin0");
    Install(L"x.bin", "y");
    // Temp\x.bin0 is still open: the next name is taken.
    EXPECT_EQ(engine.MoveAside(app + L"\\", L"x.bin"), app + L"\\Temp\\x.bin1");
    EXPECT_EQ(engine.MoveAside(app, L"gone.bin"), L"");
}

namespace {

// The volume's identity of a file: the same after a rename, new after a copy.
ULONGLONG FileId(const std::wstring& path)
{
    HANDLE h = ::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    BY_HANDLE_FILE_INFORMATION info = {};
    ::GetFileInformationByHandle(h, &info);
    ::CloseHandle(h);
    return (static_cast<ULONGLONG>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
}

} // namespace

TEST_F(InstallTest, StagedFilesAreRenamedIntoPlaceNeverCopiedOver)
{
    // A copy over the installed file can be cut short and leave it truncated;
    // a rename leaves the old or the new file, whole.
    Install(L"big.dll", std::string(100000, 'o'));
    Stage(L"big.dll", std::string(200000, 'n'));
    Install(L"sub\\held.dll", "old held");
    Stage(L"sub\\held.dll", "new held");
    ULONGLONG staged = FileId(staging + L"\\big.dll"), stagedHeld = FileId(staging + L"\\sub\\held.dll");
    ASSERT_NE(staged, 0u);
    {
        Held running(app + L"\\sub\\held.dll", kImageSharing);
        engine.InstallFiles();
    }
    EXPECT_EQ(FileId(app + L"\\big.dll"), staged);
    EXPECT_EQ(FileId(app + L"\\sub\\held.dll"), stagedHeld);
    EXPECT_EQ(Installed(L"big.dll"), std::string(200000, 'n'));
    EXPECT_EQ(Installed(L"sub\\Temp\\held.dll0"), "old held");
    // A rename through a handle takes the system's form of the path, a share's too.
    EXPECT_EQ(NtPathOf(L"C:\\app\\a.dll"), L"\\??\\C:\\app\\a.dll");
    EXPECT_EQ(NtPathOf(L"\\\\server\\share\\app\\a.dll"), L"\\??\\UNC\\server\\share\\app\\a.dll");
    EXPECT_EQ(NtPathOf(L"\\\\?\\C:\\app\\a.dll"), L"\\??\\C:\\app\\a.dll");
}

TEST_F(InstallTest, ReadOnlyHiddenAndSystemFilesAreReplacedInPlaceAndKeepTheirAttributes)
{
    const DWORD kinds[] = {FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_SYSTEM,
                           FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM};
    for (int i = 0; i < 4; ++i) {
        std::wstring name = L"f" + std::to_wstring(i) + L".dat";
        Install(name, "old");
        ASSERT_TRUE(::SetFileAttributesW((app + L"\\" + name).c_str(), kinds[i] | FILE_ATTRIBUTE_ARCHIVE));
        ASSERT_EQ(::GetFileAttributesW((app + L"\\" + name).c_str()), kinds[i] | FILE_ATTRIBUTE_ARCHIVE);
        Stage(name, "new " + std::to_string(i));
    }
    // The staged file's own attributes do not carry over.
    ASSERT_TRUE(::SetFileAttributesW((staging + L"\\f0.dat").c_str(), FILE_ATTRIBUTE_HIDDEN));
    engine.InstallFiles();
    for (int i = 0; i < 4; ++i) {
        std::wstring name = L"f" + std::to_wstring(i) + L".dat";
        EXPECT_EQ(Installed(name), "new " + std::to_string(i)) << i;
        EXPECT_EQ(::GetFileAttributesW((app + L"\\" + name).c_str()), kinds[i] | FILE_ATTRIBUTE_ARCHIVE) << i;
    }
    EXPECT_FALSE(Exists(app + L"\\Temp")); // nothing was moved aside
    EXPECT_FALSE(Exists(staging));
}

TEST(StagingPath, AProgramFolderWithoutRoomForTheStagingFolderIsRefusedAndNothingIsTouched)
{
    TempFolder root(L"long");
    std::wstring base = root.path() + L"\\";
    // Exactly as long as still fits, and one character more.
    std::wstring fits = base + std::wstring(MAX_PATH - 1 - 7 - base.size(), L'f');
    std::wstring tooLong = fits + L"g";
    CInstaller engine;
    EXPECT_TRUE(engine.InitPaths(fits.c_str()));
    EXPECT_EQ(std::wstring(engine.GetStagingFolder()), fits + L"\\$Temp$");
    EXPECT_EQ(std::wstring(engine.GetStagingFolder()).size(), static_cast<size_t>(MAX_PATH - 1));

    ASSERT_TRUE(WriteBytes(tooLong.substr(0, tooLong.find_last_of(L'\\')) + L"\\keep.txt", "keep"));
    EXPECT_FALSE(engine.InitPaths(tooLong.c_str()));
    EXPECT_STREQ(engine.GetProgramFolder(), L"");
    EXPECT_STREQ(engine.GetStagingFolder(), L"");
    engine.InstallFiles();
    engine.Cleanup();
    EXPECT_EQ(ListTree(root.path()), std::vector<std::wstring>{L"keep.txt"});
    EXPECT_FALSE(CInstaller::StagingFolderFits(tooLong));
    EXPECT_FALSE(CInstaller::StagingFolderFits(L""));
}

// A junction or folder link in the staging folder, or an installed folder that
// is one, points outside the installation: neither installing nor cleaning up
// may touch what it points to. Links from the build's link folder (see the
// tests' CMakeLists), since Wine cannot make them.
TEST(LinkWalkTest, CleanupAndInstallNeverReachThroughAFolderLink)
{
    const std::wstring base = QZ_LINK_FIXTURE;
    const std::wstring app = base + L"\\app", staging = app + L"\\$Temp$", outside = base + L"\\outside";
    const std::wstring linkedTemp = base + L"\\linkedtemp";
    // What a faulty walk of an earlier run may have left.
    ::CreateDirectoryW(outside.c_str(), nullptr);
    ::DeleteFileW((app + L"\\away\\keep.txt").c_str());
    ::RemoveDirectoryW((app + L"\\away").c_str());
    for (const std::wstring& link : {staging + L"\\away", app + L"\\shared", linkedTemp + L"\\Temp"}) {
        DWORD attributes = ::GetFileAttributesW(link.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
            GTEST_SKIP() << "no folder link at " << std::string(link.begin(), link.end());
    }
    ASSERT_TRUE(WriteBytes(outside + L"\\keep.txt", "not the updater's"));
    // A download is never written through a link on its way.
    for (const std::wstring& path : {staging + L"\\away\\x.bin", app + L"\\shared\\x.bin"}) {
        CStagedFile file;
        EXPECT_FALSE(file.Create(app, path));
    }
    ::DeleteFileW((outside + L"\\new.txt").c_str());
    ::DeleteFileW((app + L"\\real.txt").c_str());
    ASSERT_TRUE(WriteBytes(staging + L"\\real.txt", "staged"));
    ::CreateDirectoryW((staging + L"\\shared").c_str(), nullptr);
    ASSERT_TRUE(WriteBytes(staging + L"\\shared\\new.txt", "would land outside"));

    // A release that needs a folder where a link stands installs nothing at
    // all: installing the rest would report a release that is not there.
    CInstaller engine;
    ASSERT_TRUE(engine.InitPaths(app.c_str()));
    CInstaller::InstallFailure failure;
    EXPECT_FALSE(engine.InstallFiles(&failure));
    EXPECT_EQ(failure.kind, CInstaller::InstallProblem::Unplaceable);
    EXPECT_EQ(failure.path, app + L"\\shared");
    EXPECT_FALSE(Exists(app + L"\\real.txt"));
    EXPECT_FALSE(Exists(app + L"\\away")) << "a link in the staging folder was installed";
    EXPECT_FALSE(Exists(outside + L"\\new.txt")) << "installed through an installed folder link";

    engine.Cleanup();
    engine.DeleteTree(app + L"\\shared");
    EXPECT_EQ(ReadBytes(outside + L"\\keep.txt"), "not the updater's");
    EXPECT_TRUE(Exists(outside));
    EXPECT_FALSE(Exists(staging + L"\\real.txt"));
    EXPECT_FALSE(Exists(staging + L"\\shared"));

    // An installation whose Temp is a link: no backup and no journal goes
    // there, and no journal is read from there.
    CInstaller linked;
    ASSERT_TRUE(linked.InitPaths(linkedTemp.c_str()));
    ASSERT_TRUE(WriteBytes(linkedTemp + L"\\a.txt", "installed"));
    ASSERT_TRUE(WriteBytes(linkedTemp + L"\\$Temp$\\a.txt", "staged"));
    EXPECT_EQ(linked.RecoverInterruptedInstall(), CInstaller::Recovery::Refused);
    EXPECT_FALSE(linked.InstallFiles(&failure));
    EXPECT_EQ(failure.kind, CInstaller::InstallProblem::Unplaceable);
    EXPECT_EQ(ReadBytes(linkedTemp + L"\\a.txt"), "installed");
    EXPECT_EQ(ListTree(outside), std::vector<std::wstring>{L"keep.txt"});
    linked.Cleanup();
}

// A kept part continues only with a state this updater could have written:
// what goes back into a request header is printable ASCII, the length is the
// signed one, and the part is shorter than the file.
TEST(KeptPartsTest, OnlyAPlausibleStateIsContinued)
{
    TempFolder staging(L"parts");
    const CKeptParts parts(staging.path());
    ASSERT_TRUE(parts.Prepare());
    Sha256Digest hash{};
    hash[0] = 7;
    const std::string longValidator(CKeptParts::kMaxValidator + 1, 'a');
    struct Case {
        const char* what;
        std::string state;
        size_t partSize;
        bool continued;
    } cases[] = {
        {"an ETag and the signed length", "\"abc-1\"\n1000\n", 400, true},
        {"a Last-Modified", "Wed, 09 Dec 2026 15:02:12 GMT\n1000\n", 400, true},
        {"a header line smuggled in", "\"abc\"\r\nX-Evil: 1\n1000\n", 400, false},
        {"a validator too long", longValidator + "\n1000\n", 400, false},
        {"another length", "\"abc\"\n999\n", 400, false},
        {"a number that is not one", "\"abc\"\n1e3\n", 400, false},
        {"a third line", "\"abc\"\n1000\nmore\n", 400, false},
        {"an empty part", "\"abc\"\n1000\n", 0, false},
        {"a part as long as the file", "\"abc\"\n1000\n", 1000, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(WriteBytes(parts.PathOf(hash), std::string(c.partSize, 'x')));
        ASSERT_TRUE(WriteBytes(parts.PathOf(hash) + L".state", c.state));
        CResumeState resume;
        EXPECT_EQ(parts.Load(hash, 1000, &resume), c.continued);
        EXPECT_EQ(resume.total, c.continued ? 1000u : 0u);
    }
    // What it saves, it reads back; a validator it could not send is not saved.
    CResumeState saved{L"\"etag-1\"", 1000}, loaded;
    ASSERT_TRUE(parts.Save(hash, saved) && WriteBytes(parts.PathOf(hash), "part"));
    ASSERT_TRUE(parts.Load(hash, 1000, &loaded));
    EXPECT_EQ(loaded.validator, saved.validator);
    EXPECT_FALSE(parts.Save(hash, CResumeState{L"\"\x00e9\"", 1000}));
}
