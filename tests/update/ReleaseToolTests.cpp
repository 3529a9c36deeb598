// The release tool writes manifests that the updater reads back exactly.
#include "Checksum.h"
#include "Deltas.h"
#include "KeyChain.h"
#include "ManifestWriter.h"
#include "App.h"
#include "Publisher.h"
#include "ReleaseSupport.h"
#include "SafeName.h"
#include "Signature.h"
#include "TestSupport.h"
#include "XmlInfo.h"

#include <gtest/gtest.h>

using testsupport::Exists;
using testsupport::PatternBytes;
using testsupport::ReadBytes;
using testsupport::TempFolder;
using testsupport::WriteBytes;

namespace {

DWORD RunTool(const std::wstring& args)
{
    testsupport::Process tool;
    if (!tool.Start(L"\"" + AfxGetModuleFolder() + L"\\makemanifest.exe\" " + args) || !tool.WaitEnd(30000))
        return 0xFFFFFFFF;
    return tool.ExitCode();
}

// The key a file carries, read the way the updater reads its own.
PublisherKey KeyIn(const std::wstring& file)
{
    HMODULE module = ::LoadLibraryExW(file.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    PublisherKey key = module ? LoadPublisherKey(module) : PublisherKey();
    if (module)
        ::FreeLibrary(module);
    return key;
}

P256PublicKey PublicKeyOf(const std::wstring& folder)
{
    P256PublicKey key{};
    ParsePublicKeyText(ReadBytes(folder + L"\\publisher.pub"), &key);
    return key;
}

std::string Narrow(const std::wstring& ascii)
{
    return std::string(ascii.begin(), ascii.end());
}

uint64_t Utc(const char* text)
{
    uint64_t time = 0;
    return ParseUtcTimeText(text, &time) ? time : 1;
}

} // namespace

TEST(ReleaseTool, AManifestParsesBackToTheSameNamesSizesAndChecksums)
{
    TempFolder release(L"release");
    ASSERT_TRUE(WriteBytes(release / L"ZorvClient.exe", PatternBytes(70001, 1)));
    ASSERT_TRUE(WriteBytes(release / L"skin\\main.bmp", PatternBytes(4096, 2)));
    ASSERT_TRUE(WriteBytes(release / L"skin\\图像\\按钮.bmp", PatternBytes(3, 3)));
    ASSERT_TRUE(WriteBytes(release / L"empty.dat", ""));
    ASSERT_TRUE(WriteBytes(release / L"update.xml", "an old manifest, not part of the release"));

    ManifestRelease rel;
    ASSERT_TRUE(ParseVersionId(L"1.0.0.2", &rel.versionId));
    EXPECT_EQ(rel.versionId, 16777218u);
    rel.verRoot = L"/1.0.0.2";
    rel.description = L"第二版";
    std::vector<ManifestEntry> entries;
    std::wstring error;
    ASSERT_TRUE(WriteManifest(release.path(), rel, &entries, &error)) << testing::PrintToString(error);
    ASSERT_EQ(entries.size(), 4u);

    CXmlInfo info;
    ASSERT_EQ(info.ParseFile((release / L"update.xml").c_str()), 0);
    VersionInfo* v = info.GetLatestVersion();
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(static_cast<uint32_t>(v->ver_id), 16777218u);
    EXPECT_STREQ(v->ver_root, L"/1.0.0.2");
    EXPECT_STREQ(v->ver_desc, L"第二版");
    ASSERT_EQ(v->file_count, 4);
    for (int i = 0; i < 4; ++i) {
        FileInfo* f = v->GetFile(i);
        const ManifestEntry& e = entries[static_cast<size_t>(i)];
        EXPECT_EQ(std::wstring(f->f_name), e.name);
        EXPECT_EQ(static_cast<uint32_t>(f->f_size), e.size);
        EXPECT_EQ(static_cast<uint32_t>(f->f_crc), e.crc);
        std::wstring local = release.path() + e.name;
        for (wchar_t& c : local)
            if (c == L'/')
                c = L'\\';
        EXPECT_EQ(static_cast<uint32_t>(f->f_crc), FileChecksum(local));
    }
    EXPECT_STREQ(v->GetFile(2)->f_name, L"/skin/main.bmp");
    EXPECT_STREQ(v->GetFile(3)->f_name, L"/skin/图像/按钮.bmp");
}

TEST(ReleaseTool, RefusesWhatTheUpdaterWouldRefuseAndSaysWhy)
{
    for (const wchar_t* name : {L"/a&b.txt", L"/a<b", L"/con.txt", L"/dir./x", L"/trail ", L"/a/../b"})
        EXPECT_FALSE(CheckManifestName(name).empty()) << testing::PrintToString(std::wstring(name));
    EXPECT_NE(CheckManifestName(L"/" + std::wstring(63, L'n')).find(L"63 characters"), std::wstring::npos);
    EXPECT_NE(CheckManifestName(L"/" + std::wstring(40, L'测')).find(L"99 bytes"), std::wstring::npos);
    EXPECT_TRUE(CheckManifestName(L"/" + std::wstring(62, L'n')).empty());

    ManifestRelease rel;
    rel.versionId = 5;
    std::string xml;
    std::wstring error;
    std::vector<ManifestEntry> one{{L"/a.txt", 1, 2}};
    EXPECT_TRUE(BuildManifest(rel, one, &xml, &error));

    std::vector<ManifestEntry> bad{{L"/ok.txt", 1, 2}, {L"/x&y.txt", 1, 2}};
    EXPECT_FALSE(BuildManifest(rel, bad, &xml, &error));
    EXPECT_NE(error.find(L"/x&y.txt"), std::wstring::npos);

    ManifestRelease zero;
    EXPECT_FALSE(BuildManifest(zero, one, &xml, &error));
    ManifestRelease slash;
    slash.versionId = 1;
    slash.verRoot = L"/1.0.0.1/";
    EXPECT_FALSE(BuildManifest(slash, one, &xml, &error));
    ManifestRelease desc;
    desc.versionId = 1;
    desc.description = L"two\nlines";
    EXPECT_FALSE(BuildManifest(desc, one, &xml, &error));

    // More files than 10,240 bytes of manifest can hold.
    std::vector<ManifestEntry> many;
    for (int i = 0; i < 200; ++i)
        many.push_back({L"/file" + std::to_wstring(i) + L".dat", 123456, 4000000000u});
    EXPECT_FALSE(BuildManifest(rel, many, &xml, &error));
    EXPECT_NE(error.find(L"10240"), std::wstring::npos);

    uint32_t id = 0;
    EXPECT_FALSE(ParseVersionId(L"1.2.3", &id));
    EXPECT_FALSE(ParseVersionId(L"1.2.3.256", &id));
    EXPECT_FALSE(ParseVersionId(L"4294967296", &id));
    EXPECT_TRUE(ParseVersionId(L"4294967295", &id));
    EXPECT_EQ(id, 4294967295u);
}

TEST(ReleaseTool, TheProgramWritesTheManifestOrRefusesWithAnExitCode)
{
    TempFolder release(L"release");
    ASSERT_TRUE(WriteBytes(release / L"a.dll", PatternBytes(10, 4)));
    EXPECT_EQ(RunTool(L"\"" + release.path() + L"\" 7 /v7 \"版本 7\""), 0u);
    CXmlInfo info;
    ASSERT_EQ(info.ParseFile((release / L"update.xml").c_str()), 0);
    ASSERT_NE(info.GetLatestVersion(), nullptr);
    EXPECT_STREQ(info.GetLatestVersion()->ver_desc, L"版本 7");
    EXPECT_STREQ(info.GetLatestVersion()->GetFile(0)->f_name, L"/a.dll");

    ASSERT_TRUE(WriteBytes(release / L"b&c.dll", "x"));
    EXPECT_EQ(RunTool(L"\"" + release.path() + L"\" 8 /v8"), 1u);
    EXPECT_EQ(RunTool(L"\"" + release.path() + L"\" 1.2 /v8"), 2u);
    ASSERT_TRUE(::DeleteFileW((release / L"b&c.dll").c_str()));

    // The signed flow: a key pair (never made twice in one place), a signed
    // release, a stamped copy of the updater.
    TempFolder keys(L"keys");
    std::wstring updater = keys / L"update.exe";
    ASSERT_TRUE(::CopyFileW((AfxGetModuleFolder() + L"\\update.exe").c_str(), updater.c_str(), FALSE));
    EXPECT_EQ(RunTool(L"--new-key \"" + keys.path() + L"\""), 0u);
    std::string key = ReadBytes(keys / L"publisher.key");
    EXPECT_EQ(RunTool(L"--new-key \"" + keys.path() + L"\""), 1u);
    EXPECT_EQ(ReadBytes(keys / L"publisher.key"), key);
    EXPECT_EQ(RunTool(L"--key \"" + (keys / L"publisher.key") + L"\" \"" + release.path() + L"\" 9 /v9"), 0u);
    EXPECT_EQ(RunTool(L"--stamp \"" + (keys / L"publisher.pub") + L"\" \"" + updater + L"\""), 0u);
    PublisherKey stamped = KeyIn(updater);
    ASSERT_EQ(stamped.state, KeyState::Usable);
    EXPECT_EQ(stamped.key, PublicKeyOf(keys.path()));
    SignedRelease signedRelease;
    EXPECT_EQ(VerifySignatureFile(ReadBytes(release / L"update.sig"), stamped.key, &signedRelease), L"");
    EXPECT_EQ(signedRelease.versionId, 9u);
    EXPECT_EQ(RunTool(L"--stamp \"" + (keys / L"publisher.key") + L"\" \"" + updater + L"\""), 1u);
    EXPECT_EQ(RunTool(L"--key \"" + (keys / L"publisher.key") + L"\""), 2u);

    // 1 to 365 days, 90 unless told; the same files signed again give the same update.xml.
    std::string xml = ReadBytes(release / L"update.xml");
    std::wstring sign = L"--key \"" + (keys / L"publisher.key") + L"\" ";
    std::wstring folder = L" \"" + release.path() + L"\" 9 /v9";
    const std::pair<const wchar_t*, DWORD> validity[] = {{L"0", 2}, {L"366", 2}, {L"3650", 2}, {L"07", 2},
                                                         {L"-5", 2}, {L"", 2},    {L"365", 0}};
    for (const auto& v : validity)
        EXPECT_EQ(RunTool(sign + L"--days " + v.first + folder), v.second) << testing::PrintToString(v.first);
    EXPECT_EQ(RunTool(L"--days 5" + folder), 2u);
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    uint64_t in90Days = ((static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime) / 10000000 * 10000000 +
                        90 * 864000000000ull;
    ASSERT_EQ(RunTool(sign + folder), 0u);
    ASSERT_EQ(VerifySignatureFile(ReadBytes(release / L"update.sig"), stamped.key, &signedRelease), L"");
    EXPECT_GE(signedRelease.expires, in90Days);
    EXPECT_LE(signedRelease.expires, in90Days + 600000000); // the tool's run: under a minute
    EXPECT_EQ(ReadBytes(release / L"update.xml"), xml);
}

// Patches of the changed files from each earlier release, beside the
// release, listed in an index signed with the release's key; a --previous
// that is no release, or a release at the server's root, is refused.
TEST(ReleaseTool, PatchesFromEarlierReleasesLieBesideTheReleaseInASignedIndex)
{
    TempFolder keys(L"keys"), base(L"releases");
    const std::wstring r1 = base / L"1.0.0.1", r2 = base / L"1.0.0.2";
    const std::string oldDll = PatternBytes(80000, 5);
    std::string newDll = oldDll;
    newDll.replace(40000, 6, "change");
    std::string text;
    for (int i = 0; i < 3000; ++i)
        text += "line " + std::to_string(i) + "\n";
    ASSERT_TRUE(WriteBytes(r1 + L"\\a.dll", oldDll) && WriteBytes(r1 + L"\\same.txt", "same"));
    ASSERT_TRUE(WriteBytes(r2 + L"\\a.dll", newDll) && WriteBytes(r2 + L"\\same.txt", "same") &&
                WriteBytes(r2 + L"\\new.txt", text));
    ASSERT_EQ(RunTool(L"--new-key \"" + keys.path() + L"\""), 0u);
    const std::wstring sign = L"--key \"" + (keys / L"publisher.key") + L"\" ";
    ASSERT_EQ(RunTool(sign + L"\"" + r1 + L"\" 1.0.0.1 /1.0.0.1"), 0u);

    for (const std::wstring& refused : {L"--previous \"" + keys.path() + L"\" \"" + r2 + L"\" 1.0.0.2 /1.0.0.2",
                                        L"--previous \"" + r1 + L"\" \"" + r2 + L"\" 1.0.0.2 \"\""}) {
        EXPECT_EQ(RunTool(sign + refused), 1u);
        EXPECT_FALSE(Exists(r2 + L"\\update.xml") || Exists(r2 + L"\\update.dlt"));
    }
    ASSERT_EQ(RunTool(sign + L"--previous \"" + r1 + L"\" \"" + r2 + L"\" 1.0.0.2 /1.0.0.2"), 0u);

    DeltaIndex index;
    ASSERT_EQ(VerifyDeltaIndex(ReadBytes(r2 + L"\\update.dlt"), PublicKeyOf(keys.path()), &index), L"");
    Sha256Digest manifest{}, oldSha{}, newSha{};
    ASSERT_TRUE(Sha256File(r2 + L"\\update.xml", &manifest, nullptr) &&
                Sha256(oldDll.data(), oldDll.size(), &oldSha) && Sha256(newDll.data(), newDll.size(), &newSha));
    EXPECT_EQ(index.manifestSha256, manifest);
    // a.dll from its old content (its bytes do not compress), new.txt compressed alone, same.txt nothing.
    ASSERT_EQ(index.entries.size(), 2u);
    const DeltaEntry& patch = index.entries[0];
    EXPECT_EQ(patch.method, "zstd-pf1");
    EXPECT_EQ(ChooseDelta(index, newSha, &oldSha), &patch);
    EXPECT_LT(patch.patchSize, 1000u);
    EXPECT_EQ(index.entries[1].method, "zstd1");
    EXPECT_FALSE(index.entries[1].hasSource);
    EXPECT_LT(index.entries[1].patchSize, text.size() / 4);

    // Content-addressed, at the server path the index gives, and it makes the new file.
    const std::string hex = ToHex(patch.patch.data(), patch.patch.size());
    EXPECT_EQ(patch.path, "/patches/" + hex + ".zst");
    const std::string bytes = ReadBytes(base / (L"patches\\" + std::wstring(hex.begin(), hex.end()) + L".zst"));
    Sha256Digest patchSha{};
    ASSERT_TRUE(Sha256(bytes.data(), bytes.size(), &patchSha));
    EXPECT_EQ(patchSha, patch.patch);
    TempFolder staging(L"staging");
    CStagedFile made;
    ASSERT_TRUE(made.Create(staging.path(), staging / L"a.dll", CStagedFile::Digest::Sha256));
    EXPECT_EQ(ApplyPatch(patch, oldDll, bytes, static_cast<uint32_t>(newDll.size()), made), L"");
    Sha256Digest madeSha{};
    EXPECT_TRUE(made.Sha256(&madeSha) && madeSha == newSha);
    CStagedFile cut;
    ASSERT_TRUE(cut.Create(staging.path(), staging / L"b.dll", CStagedFile::Digest::None));
    EXPECT_NE(ApplyPatch(patch, oldDll, bytes.substr(0, bytes.size() - 1), static_cast<uint32_t>(newDll.size()), cut),
              L"");
}

TEST(ReleaseTool, ASignedReleaseListsEveryFileAndVerifiesWithItsOwnKeyOnly)
{
    TempFolder keys(L"keys"), otherKeys(L"other"), release(L"release");
    ASSERT_TRUE(WriteBytes(release / L"ZorvClient.exe", PatternBytes(70001, 1)));
    ASSERT_TRUE(WriteBytes(release / L"skin\\图像 1.bmp", PatternBytes(3, 3)));
    ASSERT_TRUE(WriteBytes(release / L"empty.dat", ""));
    // An earlier signature is no more part of the release than the manifest.
    ASSERT_TRUE(WriteBytes(release / L"update.sig", "an old signature"));
    std::string id, otherId;
    std::wstring error;
    ASSERT_TRUE(NewKeyPair(keys.path(), &id, &error)) << testing::PrintToString(error);
    ASSERT_TRUE(NewKeyPair(otherKeys.path(), &otherId, &error));
    EXPECT_NE(id, otherId);

    ManifestRelease rel;
    rel.versionId = 16777218;
    rel.verRoot = L"/1.0.0.2";
    std::vector<ManifestEntry> entries;
    std::string signedWith;
    ASSERT_TRUE(WriteSignedRelease(release.path(), rel, {keys / L"publisher.key", kDefaultValidityDays, L"", {}, {}}, &entries,
                                   &signedWith, &error))
        << testing::PrintToString(error);
    EXPECT_EQ(signedWith, id);
    ASSERT_EQ(entries.size(), 3u);

    SignedRelease signedRelease;
    std::string signature = ReadBytes(release / L"update.sig");
    ASSERT_EQ(VerifySignatureFile(signature, PublicKeyOf(keys.path()), &signedRelease), L"");
    ASSERT_EQ(signedRelease.files.size(), entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        Sha256Digest digest{};
        uint64_t size = 0;
        ASSERT_TRUE(Sha256File(LocalPathOf(release.path(), entries[i].name), &digest, &size));
        EXPECT_EQ(signedRelease.files[i].name, entries[i].name);
        EXPECT_EQ(signedRelease.files[i].size, size);
        EXPECT_EQ(signedRelease.files[i].sha256, digest);
    }
    // The manifest beside it is the signed one, and its version what was signed.
    CXmlInfo info;
    ASSERT_EQ(info.ParseFile((release / L"update.xml").c_str()), 0);
    Sha256Digest manifest{};
    ASSERT_TRUE(Sha256File(release / L"update.xml", &manifest, nullptr));
    ASSERT_NE(info.GetLatestVersion(), nullptr);
    EXPECT_EQ(CompareWithSigned(signedRelease, manifest, *info.GetLatestVersion(), 16777218), L"");
    EXPECT_NE(CompareWithSigned(signedRelease, manifest, *info.GetLatestVersion(), 16777219).find(L"no downgrade"),
              std::wstring::npos);

    EXPECT_NE(VerifySignatureFile(signature, PublicKeyOf(otherKeys.path()), &signedRelease).find(L"trusts key"),
              std::wstring::npos);
    // Upper-case hex is the same number, but not this layout.
    std::string upper = signature;
    for (size_t i = upper.rfind("signature ") + 10; i < upper.size(); ++i)
        upper[i] = static_cast<char>(toupper(upper[i]));
    EXPECT_NE(VerifySignatureFile(upper, PublicKeyOf(keys.path()), &signedRelease).find(L"malformed"),
              std::wstring::npos);

    // A private key is never published, with or without a signature.
    ASSERT_TRUE(WriteBytes(release / L"sub\\publisher.key", ReadBytes(keys / L"publisher.key")));
    EXPECT_FALSE(WriteManifest(release.path(), rel, &entries, &error));
    EXPECT_NE(error.find(L"never part of a release"), std::wstring::npos);
}

TEST(ReleaseTool, ASignedReleaseShipsOnlyUpdatersThatCarryTheKeyItsInstallationsWillTrust)
{
    TempFolder keys(L"keys"), newKeys(L"new"), programs(L"programs");
    std::string id;
    std::wstring error, plain = programs / L"plain.exe", old = programs / L"old.exe", fresh = programs / L"new.exe";
    ASSERT_TRUE(NewKeyPair(keys.path(), &id, &error) && NewKeyPair(newKeys.path(), &id, &error));
    for (const std::wstring& copy : {plain, old, fresh})
        ASSERT_TRUE(::CopyFileW((AfxGetModuleFolder() + L"\\update.exe").c_str(), copy.c_str(), FALSE));
    ASSERT_TRUE(StampUpdater(keys / L"publisher.pub", old, &id, &error) &&
                StampUpdater(newKeys / L"publisher.pub", fresh, &id, &error));
    const std::wstring oldId = testsupport::Utf8ToWide(KeyId(PublicKeyOf(keys.path())));
    const std::wstring newKey = newKeys / L"publisher.key", newPub = newKeys / L"publisher.pub";
    const struct {
        const wchar_t* name;
        const std::wstring& program;
        std::wstring rotateTo;
        std::wstring refusal; // empty: signed
    } cases[] = {
        {L"update.exe", plain, L"", L"/update.exe carries no publisher key, not the signing key " + oldId},
        {L"UPDATE.EXE", plain, L"", L"/UPDATE.EXE carries no publisher key"},
        {L"bin\\Update.exe", plain, L"", L"/bin/Update.exe carries no publisher key"},
        {L"update.exe", fresh, L"", L"/update.exe carries key "},
        {L"update.exe", old, newKey, L"/update.exe carries key " + oldId + L", not the new key"},
        {L"update.exe.old", plain, newKey, L"the release holds no update.exe"},
        // Both keys sign the handover: the new key's public half is not enough.
        {L"update.exe", fresh, newPub, L"--rotate-to takes the new key's private key file"},
        {L"update.exe.old", plain, L"", L""},
        {L"update.exe", old, L"", L""},
        {L"bin\\update.exe", fresh, newKey, L""},
    };
    ManifestRelease rel;
    rel.versionId = 4;
    for (const auto& c : cases) {
        TempFolder release(L"release");
        ASSERT_TRUE(WriteBytes(release / L"a.dll", "a") && WriteBytes(release / c.name, ReadBytes(c.program)));
        std::vector<ManifestEntry> entries;
        error.clear();
        SigningOptions signing{keys / L"publisher.key", kDefaultValidityDays, c.rotateTo, {}, {}};
        bool signs = WriteSignedRelease(release.path(), rel, signing, &entries, &id, &error);
        EXPECT_EQ(signs, c.refusal.empty()) << testing::PrintToString(std::wstring(c.name) + L" " + c.program);
        EXPECT_NE(error.find(c.refusal), std::wstring::npos) << testing::PrintToString(error);
        EXPECT_EQ(Exists(release / L"update.xml") || Exists(release / L"update.sig"), signs);
        // The handover is published with the release and kept beside the new key for the next one.
        EXPECT_EQ(Exists(release / L"update.keys"), signs && !c.rotateTo.empty());
        EXPECT_EQ(Exists(newKeys / L"update.keys"), signs && !c.rotateTo.empty());
    }
    // The program says so by its exit code, and hands over to the new key.
    TempFolder release(L"release");
    ASSERT_TRUE(WriteBytes(release / L"sub\\update.exe", ReadBytes(fresh)));
    std::wstring sign = L"--key \"" + (keys / L"publisher.key") + L"\" ", folder = L"\"" + release.path() + L"\" 4 /v4";
    EXPECT_EQ(RunTool(sign + folder), 1u);
    EXPECT_FALSE(Exists(release / L"update.xml") || Exists(release / L"update.sig"));
    EXPECT_EQ(RunTool(sign + L"--revoke " + oldId + L" " + folder), 2u);
    EXPECT_EQ(RunTool(sign + L"--rotate-to \"" + newPub + L"\" " + folder), 1u);
    const std::string chain = ReadBytes(newKeys / L"update.keys");
    EXPECT_EQ(RunTool(sign + L"--rotate-to \"" + newKey + L"\" " + folder), 0u);
    // Signed again, the same handover: installations that keep the chain see the same bytes.
    EXPECT_EQ(ReadBytes(release / L"update.keys"), chain);
    EXPECT_EQ(ReadBytes(newKeys / L"update.keys"), chain);
    std::vector<Handover> links;
    ASSERT_EQ(ParseKeyChain(chain, &links), L"");
    ASSERT_EQ(links.size(), 1u);
    EXPECT_EQ(links[0].until, 4u);
    SignedRelease signedRelease;
    EXPECT_EQ(VerifySignatureFile(ReadBytes(release / L"update.sig"), PublicKeyOf(keys.path()), &signedRelease), L"");

    // A second handover revokes the first key; one that revokes its own old
    // key is signed by the new one. The old key's folder knows no handover,
    // but the third key's chain is never replaced by another.
    folder = L"\"" + release.path() + L"\" 5 /v5";
    TempFolder thirdKeys(L"third");
    ASSERT_TRUE(NewKeyPair(thirdKeys.path(), &id, &error));
    ASSERT_TRUE(StampUpdater(thirdKeys / L"publisher.pub", release / L"sub\\update.exe", &id, &error));
    const std::wstring thirdKey = L" --rotate-to \"" + (thirdKeys / L"publisher.key") + L"\" ";
    const std::wstring newId = testsupport::Utf8ToWide(KeyId(PublicKeyOf(newKeys.path())));
    EXPECT_EQ(RunTool(L"--key \"" + newKey + L"\"" + thirdKey + L"--revoke 0123456789abcdef " + folder), 1u);
    EXPECT_EQ(RunTool(L"--key \"" + newKey + L"\"" + thirdKey + L"--revoke " + oldId + L" --revoke " + newId + L" " +
                      folder),
              0u);
    ASSERT_EQ(ParseKeyChain(ReadBytes(release / L"update.keys"), &links), L"");
    ASSERT_EQ(links.size(), 2u);
    EXPECT_EQ(links[1].revoked, (std::vector<std::string>{Narrow(oldId), Narrow(newId)}));
    EXPECT_EQ(ReadBytes(thirdKeys / L"update.keys"), ReadBytes(release / L"update.keys"));
    EXPECT_EQ(VerifySignatureFile(ReadBytes(release / L"update.sig"), PublicKeyOf(thirdKeys.path()), &signedRelease),
              L"");
    EXPECT_EQ(RunTool(sign + thirdKey + L"\"" + release.path() + L"\" 6 /v6"), 1u);
}

TEST(ReleaseTool, AKeyChainReadsBackAndABrokenOrUnrelatedOneIsNotFollowed)
{
    testsupport::TestPublisher a, b, c, stranger;
    const std::string idA = KeyId(a.publicKey), ab = a.HandOverTo(b, 1, 10), bc = b.HandOverTo(c, 2, 20, {idA});
    std::vector<Handover> links;
    ASSERT_EQ(ParseKeyChain(ab + bc, &links), L"");
    ASSERT_EQ(links.size(), 2u);
    EXPECT_EQ(links[1].revoked, std::vector<std::string>{idA});
    EXPECT_EQ(HandoverSignedText(links[1]), links[1].signedText);
    EXPECT_EQ(links[1].from, b.publicKey);

    std::string flipped = bc;
    // Another hex digit in the new key's signature (XOR would make "a" or "f" no digit at all).
    char& digit = flipped[flipped.size() - 2];
    digit = digit == '0' ? '1' : '0';
    const std::pair<std::string, const char*> broken[] = {
        {ab + flipped, "handover 2 of the key chain is not signed by its new key"},
        {ab + std::string(bc).replace(bc.find("until 20"), 8, "until 21"), "is not signed by its old key"},
        {b.HandOverTo(c, 2, 20), "handover 1 of the key chain has index 2"},
        {ab + stranger.HandOverTo(c, 2, 20), "hands over from another key"},
        {ab + b.HandOverTo(c, 2, 10), "not after handover 1's 10"},
        {ab + b.HandOverTo(a, 2, 20), "which the chain names already"},
        {a.HandOverTo(b, 1, 10, {KeyId(b.publicKey)}), "does not name before it"},
        {ab.substr(0, ab.rfind("new-signature")), "malformed at line 7"},
    };
    for (const auto& k : broken)
        EXPECT_NE(ParseKeyChain(k.first, &links).find(testsupport::Utf8ToWide(k.second)), std::wstring::npos) << k.second;

    // An updater follows only a chain that holds and names its key, the server's only when it extends the kept one.
    const struct {
        const testsupport::TestPublisher& stamped;
        std::string local, server;
        size_t links;
        const char* ignored;
    } choices[] = {
        {stranger, "", ab, 0, "does not name this updater's key"},
        {a, ab, a.HandOverTo(stranger, 1, 10), 1, "does not extend the 1 handovers"},
        {a, flipped, ab, 1, "the key chain kept in the program folder: "},
    };
    for (const auto& k : choices) {
        KeyChainChoice choice = ChooseKeyChain(k.stamped.publicKey, k.local, k.server);
        EXPECT_EQ(choice.links.size(), k.links) << k.ignored;
        ASSERT_EQ(choice.ignored.size(), 1u) << k.ignored;
        EXPECT_NE(choice.ignored[0].find(testsupport::Utf8ToWide(k.ignored)), std::wstring::npos) << k.ignored;
    }
    // A replacement updater carries the newest key or one a handover introduced: not one revoked or handed over.
    ASSERT_EQ(ParseKeyChain(ab + bc, &links), L"");
    for (const auto& k : {std::make_pair(&c, true), {&b, true}, {&a, false}, {&stranger, false}})
        EXPECT_EQ(CKeyRing(a.publicKey, links).MayCarry(k.first->Trusted()), k.second) << KeyId(k.first->publicKey);
    ASSERT_EQ(ParseKeyChain(ab, &links), L"");
    EXPECT_FALSE(CKeyRing(a.publicKey, links).MayCarry(a.Trusted()));
    EXPECT_TRUE(CKeyRing(a.publicKey, {}).MayCarry(a.Trusted()));
}

TEST(ReleaseTool, ASignatureMadeElsewhereVerifiesAndSha256IsTheStandardOne)
{
    // Made with openssl by the README's commands ("Publishing a release"),
    // its key converted from a publisher.key; only the public key was kept.
    P256PublicKey key{};
    ASSERT_TRUE(FromHex("7dc4f29fdd661430dcc64a3a49fdc56562f4751fbdc773445fca541f781b6a7b"
                        "e7be54c4e8395a7ad392a40b8413879492541bcfbcaed2213ca4825fc200d110",
                        key.data(), key.size()));
    const std::string expires = "expires 2024-01-01T00:00:00Z\n";
    const std::string file =
        "qz-update-signature 2\n"
        "key dbf7a5bebe68b2d1\n"
        "version 7\n" + expires +
        "manifest dd33717c47274be091ef8b901583b4df8687c1b34a6a7d380fd3c49340db57d6\n"
        "file 3 ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad /a.txt\n"
        "signature da49191a7e01f23d55bc607c6f2fde931949afc6e3950ed9bde6642db5daed2d"
        "fcaeca46412b73ffd1966f9e13d38a54b8f50447cb7dc174a4975f092226be78\n";
    EXPECT_EQ(KeyId(key), "dbf7a5bebe68b2d1");
    SignedRelease release;
    // Expired, it verifies all the same: a kept signature still tells what was
    // installed. Whether it may still be installed is asked apart.
    ASSERT_EQ(VerifySignatureFile(file, key, &release), L"");
    EXPECT_EQ(release.versionId, 7u);
    EXPECT_EQ(ExpiryProblem(release, Utc("2023-12-31T23:59:59Z")), L"");
    EXPECT_EQ(ExpiryProblem(release, Utc("2024-01-01T00:00:00Z")),
              L"the signature expired at 2024-01-01T00:00:00Z (current time 2024-01-01T00:00:00Z)");

    ASSERT_EQ(release.files.size(), 1u);
    EXPECT_EQ(release.files[0].name, L"/a.txt");
    // FIPS 180-2's example "abc", and the manifest's bytes, hashed by the system.
    Sha256Digest abc{}, manifest{};
    ASSERT_TRUE(Sha256("abc", 3, &abc));
    ASSERT_TRUE(Sha256("<update_info/>\n", 15, &manifest));
    EXPECT_EQ(release.files[0].sha256, abc);
    EXPECT_EQ(release.manifestSha256, manifest);

    // Layout 1 had no expiry. An expires line that is missing or no real UTC time is malformed.
    EXPECT_NE(VerifySignatureFile("qz-update-signature 1" + file.substr(21), key, &release)
                  .find(L"a layout this updater does not read: qz-update-signature 1"),
              std::wstring::npos);
    const size_t at = file.find(expires);
    for (const char* time : {"", "2024-01-01T00:00:00", "2024-01-01 00:00:00Z", "2024-1-01T00:00:00Z",
                             "+024-01-01T00:00:00Z", "2023-02-29T00:00:00Z", "2100-02-29T00:00:00Z",
                             "2024-04-31T00:00:00Z", "2024-13-01T00:00:00Z", "2024-01-01T24:00:00Z",
                             "2024-12-31T23:59:60Z", "1600-12-31T23:59:59Z", "no line"}) {
        std::string line = std::string(time) == "no line" ? "" : "expires " + std::string(time) + "\n";
        EXPECT_NE(VerifySignatureFile(file.substr(0, at) + line + file.substr(at + expires.size()), key, &release)
                      .find(L"malformed at line 4 (expiry time)"),
                  std::wstring::npos)
            << time;
    }
}

TEST(ReleaseTool, KeyFilesThatAreNoKeysAreRefusedAndNothingIsWrittenOrStamped)
{
    TempFolder keys(L"keys"), otherKeys(L"other"), release(L"release");
    std::string id;
    std::wstring error;
    ASSERT_TRUE(NewKeyPair(keys.path(), &id, &error));
    ASSERT_TRUE(NewKeyPair(otherKeys.path(), &id, &error));
    ASSERT_TRUE(WriteBytes(release / L"a.dll", PatternBytes(100, 1)));
    std::string key = ReadBytes(keys / L"publisher.key"), pub = ReadBytes(keys / L"publisher.pub");
    std::string otherKey = ReadBytes(otherKeys / L"publisher.key");
    // This public half with the other secret: halves that do not belong together.
    std::string mixed = key.substr(0, key.rfind(' ')) + otherKey.substr(otherKey.rfind(' '));
    std::string huge(2 * 1024 * 1024, 'k');

    ManifestRelease rel;
    rel.versionId = 3;
    std::vector<ManifestEntry> entries;
    std::string signedWith;
    for (const std::string& bad : {std::string(), key.substr(0, key.size() / 2), huge, PatternBytes(200, 2), pub, mixed}) {
        ASSERT_TRUE(WriteBytes(keys / L"bad.key", bad));
        error.clear();
        EXPECT_FALSE(WriteSignedRelease(release.path(), rel, {keys / L"bad.key", kDefaultValidityDays, L"", {}, {}}, &entries, &signedWith, &error));
        EXPECT_FALSE(error.empty());
        EXPECT_FALSE(Exists(release / L"update.xml"));
        EXPECT_FALSE(Exists(release / L"update.sig"));
    }

    std::wstring updater = keys / L"update.exe";
    ASSERT_TRUE(::CopyFileW((AfxGetModuleFolder() + L"\\update.exe").c_str(), updater.c_str(), FALSE));
    std::string unstamped = ReadBytes(updater);
    EXPECT_EQ(KeyIn(updater).state, KeyState::None);
    for (const std::string& bad : {std::string(), pub.substr(0, pub.size() - 5), huge, PatternBytes(200, 3), key}) {
        ASSERT_TRUE(WriteBytes(keys / L"bad.pub", bad));
        EXPECT_FALSE(StampUpdater(keys / L"bad.pub", updater, &id, &error));
        EXPECT_EQ(ReadBytes(updater), unstamped);
    }
    // Stamped again, the later key replaces the earlier one.
    ASSERT_TRUE(StampUpdater(keys / L"publisher.pub", updater, &id, &error)) << testing::PrintToString(error);
    ASSERT_TRUE(StampUpdater(otherKeys / L"publisher.pub", updater, &id, &error));
    EXPECT_EQ(KeyIn(updater).key, PublicKeyOf(otherKeys.path()));

    // A resource under the key's name that is no key: such an updater refuses every release.
    HANDLE update = ::BeginUpdateResourceW(updater.c_str(), FALSE);
    ASSERT_NE(update, nullptr);
    std::string garbage = PatternBytes(64, 4);
    ASSERT_TRUE(::UpdateResourceW(update, RT_RCDATA, kPublisherKeyResource, MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL),
                                  &garbage[0], static_cast<DWORD>(garbage.size())));
    ASSERT_TRUE(::EndUpdateResourceW(update, FALSE));
    EXPECT_EQ(KeyIn(updater).state, KeyState::Unusable);
    // A key in another language is found all the same; two keys in two
    // languages are not one to trust.
    std::wstring again = keys / L"again.exe";
    ASSERT_TRUE(WriteBytes(again, unstamped));
    std::string text = ReadBytes(keys / L"publisher.pub");
    for (WORD language : {MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED), MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL)}) {
        update = ::BeginUpdateResourceW(again.c_str(), FALSE);
        ASSERT_NE(update, nullptr);
        ASSERT_TRUE(::UpdateResourceW(update, RT_RCDATA, kPublisherKeyResource, language, &text[0],
                                      static_cast<DWORD>(text.size())));
        ASSERT_TRUE(::EndUpdateResourceW(update, FALSE));
        if (language != MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL)) {
            EXPECT_EQ(KeyIn(again).state, KeyState::Usable);
            EXPECT_EQ(KeyIn(again).key, PublicKeyOf(keys.path()));
        }
    }
    EXPECT_EQ(KeyIn(again).state, KeyState::Unusable);
}
