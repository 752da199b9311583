#include <gtest/gtest.h>
#include <windows.h>
#include <aclapi.h>

#include <string>

#include "action/installer_session.h"
#include "action/unique_handle.h"
#include "documents/linked_folders.h"
#include "documents/paths.h"
#include "support/links.h"
#include "support/test_files.h"

using namespace orvo;
using namespace orvo::test;

namespace {

TEST(PathText, ParentFolderOfDriveUncAndBareNames) {
  EXPECT_EQ(L"C:\\a\\", ParentFolder(L"C:\\a\\b.txt"));
  EXPECT_EQ(L"C:\\", ParentFolder(L"C:\\a\\"));
  EXPECT_EQ(L"", ParentFolder(L"C:\\"));
  EXPECT_EQ(L"C:\\a\\", ParentFolder(L"C:\\a\\\\b\\\\"));
  EXPECT_EQ(L"\\\\server\\share\\", ParentFolder(L"\\\\server\\share\\x"));
  EXPECT_EQ(L"", ParentFolder(L"name"));
  EXPECT_EQ(L"", ParentFolder(L"\\name"));
  EXPECT_EQ(L"", ParentFolder(L""));
}

TEST(PathText, LastPathComponentIgnoresTrailingBackslashes) {
  EXPECT_EQ(L"b", LastPathComponent(L"C:\\a\\b\\"));
  EXPECT_EQ(L"b.txt", LastPathComponent(L"C:\\a\\b.txt"));
  EXPECT_EQ(L"abc\\", LastPathComponent(L"abc\\"));
  EXPECT_EQ(L"\\abc", LastPathComponent(L"\\abc"));
  EXPECT_EQ(L"share", LastPathComponent(L"\\\\srv\\share\\"));
}

TEST(PathText, ExtensionsComeFromTheLastComponentOnly) {
  EXPECT_EQ(L".xml", PathExtension(L"C:\\x\\appIndex.xml"));
  EXPECT_EQ(L"", PathExtension(L"C:\\a.b\\file"));
  EXPECT_EQ(L".gz", PathExtension(L"C:\\a\\b.tar.gz"));

  std::wstring path = L"C:\\x\\appIndex.xml";
  ChangeExtension(path, L".xsd", false);
  EXPECT_EQ(L"C:\\x\\appIndex.xsd", path);
  path = L"C:\\a.b\\file";
  ChangeExtension(path, L"xsd", false);
  EXPECT_EQ(L"C:\\a.b\\file.xsd", path);
  path = L"C:\\a\\b.tar.gz";
  ChangeExtension(path, L"..zip", false);
  EXPECT_EQ(L"C:\\a\\b.tar.zip", path);
}

TEST(PathText, ChangeExtensionRenamesOnlyWhenAsked) {
  std::wstring folder = ScratchFolder(L"ext");
  std::wstring path = folder + L"doc.xml";
  ASSERT_TRUE(WriteFileBytes(path, "x"));
  std::wstring copy = path;
  ChangeExtension(copy, L"bak", false);
  EXPECT_TRUE(FileExists(path));
  EXPECT_FALSE(FileExists(copy));
  ChangeExtension(path, L"bak", true);
  EXPECT_EQ(folder + L"doc.bak", path);
  EXPECT_TRUE(FileExists(folder + L"doc.bak"));
  EXPECT_FALSE(FileExists(folder + L"doc.xml"));
  RemoveTree(folder);
}

TEST(PathText, VolumeRootsAndAbsolutePaths) {
  EXPECT_EQ(L"C:\\", VolumeRoot(L"C:\\a\\b"));
  EXPECT_EQ(L"C:\\", VolumeRoot(L"C:\\"));
  EXPECT_EQ(L"\\\\srv\\share\\", VolumeRoot(L"\\\\srv\\share\\a"));
  EXPECT_EQ(L"\\\\srv\\share\\", VolumeRoot(L"\\\\srv\\share"));
  EXPECT_EQ(L"\\\\srv\\share\\", VolumeRoot(L"\\\\srv\\share\\\\"));
  EXPECT_EQ(L"", VolumeRoot(L"\\\\srv"));
  EXPECT_EQ(L"", VolumeRoot(L"\\\\srv\\"));
  EXPECT_EQ(L"", VolumeRoot(L"name"));

  EXPECT_TRUE(IsNetworkPath(L"\\\\srv\\share"));
  EXPECT_FALSE(IsNetworkPath(L"\\srv\\share"));
  EXPECT_TRUE(IsAbsolutePath(L"C:\\x"));
  EXPECT_TRUE(IsAbsolutePath(L"\\\\s\\x"));
  EXPECT_FALSE(IsAbsolutePath(L"\\\\s\\"));
  EXPECT_FALSE(IsAbsolutePath(L"\\\\srv"));
  EXPECT_FALSE(IsAbsolutePath(L"orvo_Install.log"));
  EXPECT_FALSE(IsAbsolutePath(L"a\\b:c"));
}

TEST(Folders, EnsureFolderCreatesTheWholeChain) {
  std::wstring root = ScratchFolder(L"ensure");
  EXPECT_TRUE(EnsureFolder(root + L"a\\b\\c\\"));
  EXPECT_TRUE(IsFolder(root + L"a\\b\\c"));
  EXPECT_TRUE(EnsureFolder(root + L"x\\y", L"z"));
  EXPECT_TRUE(IsFolder(root + L"x\\y\\z"));
  EXPECT_FALSE(EnsureFolder(root + L"x\\y", L"z")) << "an existing subfolder is not created";
  EXPECT_FALSE(EnsureFolder(L"", L"z"));
  EXPECT_FALSE(IsFolder(root + L"x\\yz"));
  // A folder text as long as the system allows, one short component after
  // another (as a hostile record could hold), is refused by the system and
  // returns; it must not exhaust the stack on the way.
  std::wstring deep = root + L"deep\\";
  while (deep.size() < 32000) deep += L"a\\";
  EXPECT_TRUE(EnsureFolder(deep));
  EXPECT_TRUE(IsFolder(root + L"deep\\a\\a")) << "the part that can exist is made";
  RemoveTree(root);
}

TEST(Folders, SpecialAndTemporaryNames) {
  std::wstring appData = SpecialFolder(35);  // CSIDL_COMMON_APPDATA
  EXPECT_TRUE(IsAbsolutePath(appData)) << appData;
  EXPECT_EQ(L"", SpecialFolder(-7));

  std::wstring folder = ScratchFolder(L"tmpname");
  std::wstring first = TempFileName(folder);
  std::wstring second = TempFileName(folder);
  EXPECT_EQ(folder, ParentFolder(first));
  EXPECT_EQ(0u, LastPathComponent(first).find(L"str"));
  EXPECT_NE(first, second);
  EXPECT_TRUE(FileExists(first));
  EXPECT_EQ(L"", TempFileName(folder + L"missing\\"));
  // A folder whose name leaves no room for the generated one is refused,
  // not written past the end of the name buffer.
  EXPECT_EQ(L"", TempFileName(folder + std::wstring(300, L'n') + L"\\"));
  RemoveTree(folder);
}

// root\f1, root\a\f2, root\a\b\f3, root\c\ ; returns root
std::wstring MakeTree(const std::wstring& name) {
  std::wstring root = ScratchFolder(name);
  EnsureFolder(root + L"a\\b\\");
  EnsureFolder(root + L"c\\");
  WriteFileBytes(root + L"f1.txt", "one");
  WriteFileBytes(root + L"a\\f2.dat", "two");
  WriteFileBytes(root + L"a\\b\\f3.txt", "three");
  return root;
}

TEST(Folders, ListFolderPutsEachFolderBeforeItsContents) {
  std::wstring root = MakeTree(L"list");
  TextList all = ListFolder(root, kListAll, true);
  ASSERT_EQ(6u, all.size());
  int a = IndexOfText(all, root + L"a\\");
  int b = IndexOfText(all, root + L"a\\b\\");
  int f2 = IndexOfText(all, root + L"a\\f2.dat");
  int f3 = IndexOfText(all, root + L"a\\b\\f3.txt");
  ASSERT_GE(a, 0);
  EXPECT_LT(a, b);
  EXPECT_LT(a, f2);
  EXPECT_LT(b, f3);
  EXPECT_GE(IndexOfText(all, root + L"c\\"), 0);

  TextList folders = ListFolder(root, kListFolders, true);
  EXPECT_EQ(3u, folders.size());
  EXPECT_EQ(TextList{root + L"f1.txt"}, ListFolder(root, kListFiles, false));
  EXPECT_EQ(TextList{root + L"a\\f2.dat"}, ListFolder(root + L"a\\*.dat", kListAll, false));

  TextList found = FindFiles(root, L"*.txt", true);
  EXPECT_EQ(2u, found.size());
  EXPECT_GE(IndexOfText(found, root + L"a\\b\\f3.txt"), 0);
  EXPECT_EQ(TextList{root + L"f1.txt"}, FindFiles(root, L"*.txt", false));
  EXPECT_TRUE(ListFolder(root + L"missing", kListAll, true).empty());
  RemoveTree(root);
}

TEST(Folders, DeletePathOfAReadOnlyTree) {
  std::wstring root = MakeTree(L"delete");
  for (const auto& file : ListFolder(root, kListFiles, true))
    SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY);
  std::wstring tree = root + L"a";

  EXPECT_FALSE(DeletePath(tree, false, false)) << "a folder with contents needs the recursive flag";
  EXPECT_FALSE(DeletePath(tree, false, true));
  EXPECT_TRUE(FileExists(root + L"a\\b\\f3.txt"));
  EXPECT_TRUE(FileExists(root + L"a\\f2.dat"));

  EXPECT_TRUE(DeletePath(tree, true, true));
  EXPECT_FALSE(PathExists(tree));
  EXPECT_TRUE(FileExists(root + L"f1.txt"));

  EXPECT_FALSE(DeletePath(root + L"f1.txt", false, false));
  EXPECT_TRUE(DeletePath(root + L"f1.txt", true, false));
  EXPECT_TRUE(DeletePath(root + L"c\\", false, false));
  EXPECT_FALSE(DeletePath(root + L"missing", true, true));
  RemoveTree(root);
}

TEST(Folders, CopyPathCopiesATreeAndStopsAtAnExistingFile) {
  std::wstring root = MakeTree(L"copy");
  std::wstring target = ScratchFolder(L"copytarget");
  RemoveTree(target);

  // The source with a trailing backslash, the target without one.
  ASSERT_TRUE(CopyPath(root, target.substr(0, target.size() - 1), false));
  EXPECT_EQ("three", ReadFileBytes(target + L"a\\b\\f3.txt"));
  EXPECT_EQ("one", ReadFileBytes(target + L"f1.txt"));
  EXPECT_TRUE(IsFolder(target + L"c"));
  RemoveTree(target);

  // Files are taken from the last listed to the first; the middle one exists.
  std::wstring source = ScratchFolder(L"copyflat");
  for (const char* name : {"1", "2", "3"}) WriteFileBytes(source + ToWide(name), name);
  TextList files = ListFolder(source, kListFiles, false);
  ASSERT_EQ(3u, files.size());
  EnsureFolder(target);
  std::wstring existing = target + LastPathComponent(files[1]);
  WriteFileBytes(existing, "kept");

  EXPECT_FALSE(CopyPath(source, target, false));
  EXPECT_EQ("kept", ReadFileBytes(existing));
  EXPECT_TRUE(FileExists(target + LastPathComponent(files[2])));
  EXPECT_FALSE(FileExists(target + LastPathComponent(files[0]))) << "the copy goes on after a failure";

  EXPECT_TRUE(CopyPath(source, target, true));
  EXPECT_EQ(ReadFileBytes(files[1]), ReadFileBytes(existing));
  EXPECT_TRUE(FileExists(target + LastPathComponent(files[0])));

  EXPECT_TRUE(CopyPath(files[0], target + L"new\\deeper\\copy", false)) << "missing folders are made";
  EXPECT_FALSE(CopyPath(source + L"missing", target + L"m", false));
  RemoveTree(target);
  RemoveTree(source);
  RemoveTree(root);
}

unsigned long long FileIndex(const std::wstring& path) {
  unique_hfile file(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr));
  BY_HANDLE_FILE_INFORMATION info = {};
  if (!file || !GetFileInformationByHandle(file.get(), &info)) return 0;
  return (static_cast<unsigned long long>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
}

// Maps Y: to a folder on another file system (tmpfs), so that Y: is a real
// second volume. The mapping is a link in the prefix's device folder, which
// only a host program can make; Wine starts host programs asynchronously.
std::wstring SecondVolume() {
  const std::wstring root = L"Y:\\";
  wchar_t prefix[MAX_PATH] = {0};
  if (!GetEnvironmentVariableW(L"WINEPREFIX", prefix, MAX_PATH)) return std::wstring();
  std::wstring name = prefix;
  for (auto& c : name) {
    if (c == L'/') c = L'_';
  }
  std::wstring hostFolder = L"/dev/shm/orvo" + name;
  CreateDirectoryW((L"Z:" + hostFolder).c_str(), nullptr);
  std::wstring command = L"Z:\\bin\\ln -sfn " + hostFolder + L" " + prefix + L"/dosdevices/y:";
  STARTUPINFOW startup = {sizeof startup};
  PROCESS_INFORMATION process = {};
  if (CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                     &process)) {
    WaitForSingleObject(process.hProcess, 10000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  for (int i = 0; i < 100 && !IsFolder(root); ++i) Sleep(100);
  return IsFolder(root) ? root : std::wstring();
}

TEST(Folders, MovePathRenamesOnOneVolumeAndCopiesAcrossVolumes) {
  std::wstring root = MakeTree(L"move");
  std::wstring renamed = ScratchFolder(L"moved");
  RemoveTree(renamed);
  unsigned long long index = FileIndex(root + L"a\\b\\f3.txt");
  ASSERT_NE(0u, index);
  ASSERT_TRUE(MovePath(root + L"a", renamed));
  EXPECT_EQ(index, FileIndex(renamed + L"b\\f3.txt")) << "a move on one volume renames";
  EXPECT_FALSE(PathExists(root + L"a"));

  std::wstring volume = SecondVolume();
  ASSERT_FALSE(volume.empty()) << "Y: could not be mapped";
  std::wstring across = volume + LastPathComponent(renamed);
  RemoveTree(across);
  SetFileAttributesW((renamed + L"f2.dat").c_str(), FILE_ATTRIBUTE_READONLY);
  ASSERT_TRUE(MovePath(renamed, across));
  EXPECT_EQ("three", ReadFileBytes(across + L"\\b\\f3.txt"));
  EXPECT_EQ("two", ReadFileBytes(across + L"\\f2.dat"));
  EXPECT_FALSE(PathExists(renamed)) << "the source goes, read-only files included";

  // A file moves across volumes by itself.
  ASSERT_TRUE(MovePath(root + L"f1.txt", volume + L"f1.txt"));
  EXPECT_EQ("one", ReadFileBytes(volume + L"f1.txt"));
  DeletePath(volume + L"f1.txt", true, false);
  RemoveTree(across);
  RemoveTree(root);
}

// The allowed entries of a list for one well-known SID, OR-ed.
bool FindEntry(ACL* acl, WELL_KNOWN_SID_TYPE type, ACCESS_MASK& mask, BYTE& flags) {
  BYTE sid[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof sid;
  CreateWellKnownSid(type, nullptr, sid, &size);
  bool found = false;
  mask = 0;
  flags = 0;
  for (DWORD i = 0; acl && i < acl->AceCount; ++i) {
    ACE_HEADER* header = nullptr;
    if (!GetAce(acl, i, reinterpret_cast<void**>(&header)) || header->AceType != ACCESS_ALLOWED_ACE_TYPE)
      continue;
    auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
    if (!EqualSid(&ace->SidStart, sid)) continue;
    found = true;
    mask |= ace->Mask;
    flags |= header->AceFlags;
  }
  return found;
}

// Wine keeps no access lists for files (it maps them to the host's mode
// bits), so what a grant writes is read back from the merged list, built
// from the path's real list exactly as the grant builds it.
TEST(Access, GrantAuthenticatedUsersAddsAnInheritableFullControlEntry) {
  std::wstring folder = ScratchFolder(L"grant");
  std::wstring file = folder + L"appIndex.xml";
  ASSERT_TRUE(WriteFileBytes(file, "<x/>"));

  PACL acl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_EQ(0u, GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                      nullptr, &acl, nullptr, &descriptor));
  unique_hlocal descriptorOwner(descriptor);
  ACCESS_MASK mask = 0;
  BYTE flags = 0;
  ASSERT_FALSE(FindEntry(acl, WinAuthenticatedUserSid, mask, flags));
  ACCESS_MASK systemMask = 0;
  ASSERT_TRUE(FindEntry(acl, WinLocalSystemSid, systemMask, flags));

  ACL* merged = nullptr;
  ASSERT_EQ(0u, MergeAuthenticatedUsersEntry(acl, &merged));
  unique_hlocal mergedOwner(merged);
  ASSERT_TRUE(FindEntry(merged, WinAuthenticatedUserSid, mask, flags));
  EXPECT_EQ(static_cast<ACCESS_MASK>(GENERIC_ALL), mask);
  EXPECT_EQ(OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, flags);
  ACCESS_MASK keptMask = 0;
  EXPECT_TRUE(FindEntry(merged, WinLocalSystemSid, keptMask, flags)) << "the old entries stay";
  EXPECT_EQ(systemMask, keptMask);

  EXPECT_EQ(0u, GrantAuthenticatedUsers(folder));
  EXPECT_EQ(0u, GrantAuthenticatedUsers(file));
  EXPECT_EQ("<x/>", ReadFileBytes(file));

  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  EXPECT_EQ(3u, GrantAuthenticatedUsers(folder + L"missing.xml"));
  fflush(stdout);
  fflush(stderr);
  EXPECT_EQ("", testing::internal::GetCapturedStdout());
  EXPECT_EQ("", testing::internal::GetCapturedStderr());
  RemoveTree(folder);
}

}  // namespace

namespace {

TEST(PathText, PathsCompareAsTheSystemReadsThem) {
  EXPECT_EQ(FoldCase(L"Docs\\Readme.txt"), FoldCase(L"DOCS\\README.TXT"));
  EXPECT_EQ(L"\u00c4B", FoldCase(L"\u00e4b")) << "beyond ASCII too";
  EXPECT_TRUE(SamePathKey(L"C:\\Data\\", L"c:\\data"));
  EXPECT_TRUE(SamePathKey(L"C:\\Data. \\Readme.txt..", L"c:/DATA/readme.TXT")) << "trailing dots and spaces go";
  EXPECT_FALSE(SamePathKey(L"C:\\Data\\a", L"C:\\Data\\b"));
  EXPECT_TRUE(IsStrictlyBelow(L"C:\\ProgramData\\Keltra\\", L"c:\\programdata"));
  EXPECT_FALSE(IsStrictlyBelow(L"C:\\ProgramDataX\\Keltra\\", L"C:\\ProgramData")) << "a separator after it";
  EXPECT_FALSE(IsStrictlyBelow(L"C:\\ProgramData\\", L"C:\\ProgramData\\")) << "strictly below";
  EXPECT_FALSE(IsStrictlyBelow(L"C:\\ProgramData\\..\\Windows\\", L"C:\\ProgramData"));
}

TEST(Folders, LinksOnTheWayAreFoundByEitherSeparator) {
  std::wstring folder = ScratchFolder(L"links");
  ASSERT_TRUE(EnsureFolder(folder + L"target\\"));
  ASSERT_TRUE(PlantFolderLink(folder + L"a", folder + L"target\\"));
  EXPECT_EQ(folder + L"a", LinkOnTheWay(folder + L"a/b\\c.txt"));
  EXPECT_EQ(folder + L"a", LinkOnTheWay(folder + L"a\\"));
  EXPECT_EQ(L"", LinkOnTheWay(folder + L"target\\new\\c.txt"));
  EXPECT_FALSE(EnsureFolder(folder + L"a\\", L"inner")) << "no folder made through a link";
  EXPECT_FALSE(PathExists(folder + L"target\\inner"));

  // Held folders: the link is named and nothing from it down is held; a
  // folder let go keeps its parents held; names compare without case.
  PinnedFolders pins;
  EXPECT_EQ(folder + L"a", pins.Pin(folder + L"a\\b\\"));
  EXPECT_FALSE(pins.Holds(folder + L"a\\"));
  EXPECT_TRUE(pins.Holds(folder));
  ASSERT_TRUE(EnsureFolder(folder + L"target\\x\\y\\"));
  EXPECT_EQ(L"", pins.Pin(folder + L"TARGET\\x\\y\\"));
  EXPECT_TRUE(pins.Holds(folder + L"target\\X\\y"));
  pins.Release(folder + L"target\\x\\");
  EXPECT_FALSE(pins.Holds(folder + L"target\\x\\y\\"));
  EXPECT_TRUE(pins.Holds(folder + L"target\\"));
  pins.Clear();
  RemoveFolderLink(folder + L"a");
  RemoveTree(folder);
}

}  // namespace
