// orvo-inspect run as a program on hand-made documents: what it reports for
// an index, for files recorded by reference documents, and for a master
// document with its packs, and that it leaves every file as it was.
#include <gtest/gtest.h>

#include <algorithm>

#include <windows.h>
#include <shlobj.h>

#include "action/installer_session.h"
#include "action/unique_handle.h"
#include "action/wformat.h"
#include "deploy/reference_document.h"
#include "documents/paths.h"
#include "support/media_tree.h"
#include "support/test_files.h"

using namespace orvo;
using namespace orvo::test;

namespace {

const wchar_t kP1[] = L"{11111111-1111-1111-1111-111111111111}";
const wchar_t kP2[] = L"{22222222-2222-2222-2222-222222222222}";
const wchar_t kP3[] = L"{33333333-3333-3333-3333-333333333333}";

struct Outcome {
  DWORD exitCode = 0xFFFF;
  std::vector<std::wstring> lines;
  bool Has(const std::wstring& line) const { return std::find(lines.begin(), lines.end(), line) != lines.end(); }
  bool HasContaining(const std::wstring& piece) const {
    for (const auto& line : lines)
      if (line.find(piece) != std::wstring::npos) return true;
    return false;
  }
  // The lines after the first one that starts with the text, up to the next such heading.
  std::vector<std::wstring> Section(const std::wstring& heading) const {
    std::vector<std::wstring> out;
    bool in = false;
    for (const auto& line : lines) {
      bool isHeading = line.rfind(L"File: ", 0) == 0 || line.rfind(L"Orvo ", 0) == 0;
      if (in && isHeading) break;
      if (line.rfind(heading, 0) == 0) in = true;
      else if (in) out.push_back(line);
    }
    return out;
  }
};

std::wstring Quoted(std::wstring text) {
  if (!text.empty() && text.back() == L'\\') text += L'\\';  // keep the closing quote
  return L"\"" + text + L"\"";
}

Outcome RunTool(const std::wstring& arguments) {
  Outcome outcome;
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return outcome;
  unique_handle reader(readEnd), writer(writeEnd);
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = startup.hStdError = writeEnd;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  std::wstring command = L"\"" + BinaryPath(L"bin\\orvo-inspect.exe") + L"\" " + arguments;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process))
    return outcome;
  unique_handle processHandle(process.hProcess), threadHandle(process.hThread);
  writer.reset();
  std::string output;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(readEnd, buffer, sizeof(buffer), &got, nullptr) && got > 0) output.append(buffer, got);
  WaitForSingleObject(process.hProcess, 60000);
  GetExitCodeProcess(process.hProcess, &outcome.exitCode);
  outcome.lines = SplitLines(FromUtf8(output));
  return outcome;
}

std::string Utf8Document(const std::wstring& xml) {
  return "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n" + ToNarrow(xml);
}

std::wstring FileElement(const std::wstring& name, const std::wstring& refs, const std::wstring& hash = L"") {
  return L"<File Name=\"" + name + L"\" ref=\"" + refs + L"\"" + (hash.empty() ? L"" : L" hash=\"" + hash + L"\"") +
         L"/>";
}

std::wstring ReferenceDocument(const std::wstring& cabinets) {
  return L"<DocumentRoot xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
         L"xsi:noNamespaceSchemaLocation=\"./orvo_ref.xsd\"><Cabinets>" +
         cabinets + L"</Cabinets></DocumentRoot>";
}

class InspectTool : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = ScratchFolder(L"inspect");
    data_ = folder_ + L"data\\";
    local_ = folder_ + L"local\\alice\\";
    sharedFolder_ = CombinePath(SpecialFolder(CSIDL_COMMON_APPDATA), L"Keltra\\Orvos\\");
    sharedDocument_ = sharedFolder_ + L"InspectToolTest_ref.xml";
    sharedSchema_ = sharedFolder_ + L"orvo_ref.xsd";
  }
  void TearDown() override {
    DeleteFileW(sharedDocument_.c_str());
    if (placedSchema_) DeleteFileW(sharedSchema_.c_str());
    if (madeSharedFolder_) RemoveDirectoryW(sharedFolder_.c_str());
    RemoveTree(folder_);
  }

  void WriteIndex() {
    std::wstring xml =
        L"<DocumentRoot>"
        L"<Product ProductCode=\"" + std::wstring(kP1) + L"\"><Properties>"
        L"<Property Name=\"ProductName\" Data=\"Inspect Tool\"/><Property Name=\"COLOR\" Data=\"red\"/></Properties>"
        L"<Directories><Directory Name=\"INSTALLDIR\" Data=\"" + data_ + L"\" Flags=\"2\"/>"
        L"<Directory Name=\"LocalAppDataFolder\" Data=\"" + local_ + L"\" Flags=\"1\"/></Directories>"
        L"<Users><User Name=\"alice\"><Directories>"
        L"<Directory Name=\"LocalAppDataFolder\" Data=\"" + local_ + L"\" Flags=\"1\"/>"
        L"<Directory Name=\"INSTALLDIR\" Data=\"" + data_ + L"\" Flags=\"3\"/>"
        L"</Directories></User></Users></Product>"
        L"<Product ProductCode=\"" + std::wstring(kP2) + L"\"><Properties/><Directories/></Product>"
        L"</DocumentRoot>";
    ASSERT_TRUE(WriteFileBytes(folder_ + L"appIndex.xml", Utf8Document(xml)));
  }

  std::wstring folder_, data_, local_, sharedFolder_, sharedDocument_, sharedSchema_;
  bool placedSchema_ = false;
  bool madeSharedFolder_ = false;
};

TEST_F(InspectTool, ReportsIndexReferencesAndOrvosWithoutWritingAnything) {
  WriteIndex();
  EnsureFolder(data_ + L"sub");
  ASSERT_TRUE(WriteFileBytes(data_ + L"a.txt", "alpha"));
  ASSERT_TRUE(WriteFileBytes(data_ + L"sub\\b.txt", "beta"));
  ASSERT_TRUE(WriteFileBytes(data_ + L"loose.txt", "nobody's"));
  std::wstring hashA = FileHashText(data_ + L"a.txt");
  ASSERT_FALSE(hashA.empty());

  // alice's document: a.txt for two products, b.txt changed since, gone.txt removed by hand.
  std::wstring userFolder = local_ + L"Keltra\\Orvos\\";
  EnsureFolder(userFolder);
  std::wstring schema = SourcePath(L"src\\documents\\resources\\orvo_ref.xsd");
  ASSERT_TRUE(CopyFileW(schema.c_str(), (userFolder + L"orvo_ref.xsd").c_str(), FALSE));
  ASSERT_TRUE(WriteFileBytes(
      userFolder + L"Base_ref.xml",
      Utf8Document(ReferenceDocument(L"<Cabinet Name=\"base1.cab\"><ExtractionPath Path=\"" + data_ +
                                     L"\"><SubDirectory Path=\"\\\">" +
                                     FileElement(L"a.txt", std::wstring(kP2) + kP1, hashA) +
                                     L"</SubDirectory><SubDirectory Path=\"sub\\\">" +
                                     FileElement(L"b.txt", kP1, L"1;2;3;4;") + FileElement(L"gone.txt", kP1) +
                                     L"</SubDirectory></ExtractionPath></Cabinet>"))));
  ASSERT_TRUE(WriteFileBytes(userFolder + L"Broken_ref.xml", Utf8Document(L"<DocumentRoot><Cabinets>")));
  // The shared document, listed before the users' ones: a.txt for a product the index does not know, and
  // b.txt recorded below a folder that is none of the product's.
  madeSharedFolder_ = !IsFolder(sharedFolder_);
  EnsureFolder(sharedFolder_);
  if (!FileExists(sharedSchema_)) {
    ASSERT_TRUE(CopyFileW(schema.c_str(), sharedSchema_.c_str(), FALSE));
    placedSchema_ = true;
  }
  ASSERT_TRUE(WriteFileBytes(
      sharedDocument_,
      Utf8Document(ReferenceDocument(L"<Cabinet Name=\"shared.cab\"><ExtractionPath Path=\"" + data_ +
                                     L"\"><SubDirectory Path=\"\\\">" + FileElement(L"a.txt", kP3) +
                                     L"</SubDirectory></ExtractionPath><ExtractionPath Path=\"" + data_ +
                                     L"sub\\\"><SubDirectory Path=\"\\\">" + FileElement(L"b.txt", kP1) +
                                     L"</SubDirectory></ExtractionPath></Cabinet>"))));

  // Media and an installed master document with one pack present and one missing.
  std::wstring media = folder_ + L"media\\";
  std::wstring install = folder_ + L"install\\";
  EnsureFolder(media + L"Master\\base\\cabs");
  ASSERT_TRUE(WriteFileBytes(media + L"Master\\base\\cabs\\base1.cab", "cab"));
  MasterDocumentSpec master;
  master.mediaRoot = media;
  master.url = L"http://127.0.0.1:9/media/";
  master.extra = {{L"OrvoInstallRoot", install}, {L"MasterDocumentFolder", L"Master\\"}, {L"ProductCode", kP1}};
  master.orvos = {{L"Base", L"true", L"install", L"false", L"base\\pack.xml", L"", L""},
                  {L"Extra", L"", L"remove", L"true", L"extra\\pack.xml", L"", L""}};
  ASSERT_TRUE(WriteMasterDocument(install, master));
  PackDocumentSpec pack;
  pack.cabFolder = L"cabs";
  pack.url = L"http://127.0.0.1:9/extra/";
  pack.cabinets = {{L"1", L"base2.cab", L"", L"", L"", L"DATADIR", L""},
                   {L"0", L"base1.cab", L"VersionNT", L"", L"", L"INSTALLDIR", L""},
                   {L"1", L"twin.cab", L"", L"", L"", L"INSTALLDIR", L""}};
  ASSERT_TRUE(WritePackDocument(install + L"base\\pack.xml", pack));
  ASSERT_TRUE(WriteFileBytes(folder_ + L"broken.xml", Utf8Document(L"<DocumentRoot><Product>")));

  auto before = ReadTree(folder_, true);
  std::string sharedBefore = ReadFileBytes(sharedDocument_);

  Outcome index = RunTool(L"index " + Quoted(folder_ + L"appIndex.xml"));
  EXPECT_EQ(0u, index.exitCode);
  std::vector<std::wstring> expected = {
      L"Product " + std::wstring(kP1),
      L"  Properties:",
      L"    ProductName = Inspect Tool",
      L"    COLOR = red",
      L"  Directories:",
      L"    INSTALLDIR = " + data_ + L" [no-write]",
      L"    LocalAppDataFolder = " + local_ + L" [per-user]",
      L"  Users:",
      L"    User alice:",
      L"      LocalAppDataFolder = " + local_ + L" [per-user]",
      L"      INSTALLDIR = " + data_ + L" [per-user, no-write]",
      L"",
      L"Product " + std::wstring(kP2),
      L"  Properties:",
      L"    (none)",
      L"  Directories:",
      L"    (none)",
      L"  Users: (none)"};
  auto first = std::find(index.lines.begin(), index.lines.end(), expected[0]);
  ASSERT_NE(index.lines.end(), first);
  EXPECT_EQ(expected, std::vector<std::wstring>(first, std::min(first + expected.size(), index.lines.end())));

  Outcome refs = RunTool(L"refs --index " + Quoted(folder_ + L"appIndex.xml") + L" " + Quoted(folder_ + L"data"));
  EXPECT_EQ(0u, refs.exitCode);
  EXPECT_TRUE(refs.Has(L"  " + userFolder + L"Base_ref.xml (alice)"));
  EXPECT_TRUE(refs.Has(L"  " + sharedDocument_ + L" (All Users)"));
  EXPECT_TRUE(refs.HasContaining(userFolder + L"Broken_ref.xml (alice): does not load"));
  std::vector<std::wstring> a = refs.Section(L"File: " + data_ + L"a.txt");
  std::vector<std::wstring> aExpected = {
      L"  Recorded by " + sharedDocument_ + L" (All Users)",
      L"    Cabinet: shared.cab",
      L"    Extraction path: " + data_,
      L"    Subdirectory: \\",
      L"    Products: " + std::wstring(kP3) + L" (not in the index)",
      L"    Hash: none recorded",
      L"  Recorded by " + userFolder + L"Base_ref.xml (alice)",
      L"    Cabinet: base1.cab",
      L"    Extraction path: " + data_,
      L"    Subdirectory: \\",
      L"    Products: " + std::wstring(kP2) + L" (in the index), " + kP1 + L" (in the index)",
      L"    Hash: " + hashA + L" (the file matches)",
      L"    Note: stays until every listed product is removed (each removal takes away only its own code)",
      L""};
  EXPECT_EQ(aExpected, a);
  std::vector<std::wstring> b = refs.Section(L"File: " + data_ + L"sub\\b.txt");
  EXPECT_NE(b.end(), std::find(b.begin(), b.end(), L"    Hash: 1;2;3;4; (the file differs: user-modified, kept on removal)"));
  EXPECT_NE(b.end(), std::find(b.begin(), b.end(), L"    Subdirectory: sub\\"));
  EXPECT_EQ(1, std::count_if(b.begin(), b.end(), [](const std::wstring& line) {
              return line.find(L"removal refuses to delete here") != std::wstring::npos;
            })) << "only the shared record lies outside the product's folders";
  EXPECT_EQ(std::vector<std::wstring>({L"  Not recorded by any reference document: no removal deletes it.", L""}),
            refs.Section(L"File: " + data_ + L"loose.txt"));
  EXPECT_TRUE(refs.Has(L"File: " + data_ + L"sub\\gone.txt (not on disk)"));

  // One file alone; a path nobody records and that does not exist.
  Outcome single = RunTool(L"refs --index " + Quoted(folder_ + L"appIndex.xml") + L" " + Quoted(data_ + L"sub\\b.txt"));
  EXPECT_EQ(0u, single.exitCode);
  EXPECT_TRUE(single.Has(L"File: " + data_ + L"sub\\b.txt"));
  EXPECT_FALSE(single.HasContaining(L"a.txt"));
  Outcome nowhere = RunTool(L"refs --index " + Quoted(folder_ + L"appIndex.xml") + L" " + Quoted(data_ + L"none.txt"));
  EXPECT_EQ(1u, nowhere.exitCode);
  EXPECT_TRUE(nowhere.HasContaining(L"orvo-inspect: " + data_ + L"none.txt does not exist and no reference document records it"));

  Outcome orvos = RunTool(L"orvos " + Quoted(install + L"master.xml"));
  EXPECT_EQ(0u, orvos.exitCode);
  EXPECT_TRUE(orvos.Has(L"  OrvoInstallRoot: " + install));
  std::vector<std::wstring> base = orvos.Section(L"Orvo Base");
  auto has = [](const std::vector<std::wstring>& lines, const std::wstring& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  };
  EXPECT_TRUE(has(base, L"  Display: \"true\""));
  EXPECT_TRUE(has(base, L"  Action: \"install\""));
  EXPECT_TRUE(has(base, L"  Installed: \"false\""));
  EXPECT_TRUE(has(base, L"  Pack document: " + install + L"base\\pack.xml"));
  std::vector<std::wstring> cabinets(std::find(base.begin(), base.end(), L"  Cabinet 0: base1.cab"), base.end());
  ASSERT_GE(cabinets.size(), 8u) << "the cabinet with the lowest Sequence comes first";
  EXPECT_EQ(L"    Directory: INSTALLDIR", cabinets[1]);
  EXPECT_EQ(L"    Condition: VersionNT", cabinets[2]);
  EXPECT_EQ(L"    Source path: Master\\base\\cabs\\base1.cab", cabinets[3]);
  EXPECT_EQ(L"    Per-user copy: " + install + L"base\\cabs\\base1.cab", cabinets[4]);
  EXPECT_TRUE(has(cabinets, L"    Looks in: " + media + L"Master\\base\\cabs\\base1.cab"));
  EXPECT_TRUE(has(cabinets, L"    Found: " + media + L"Master\\base\\cabs\\base1.cab"));
  std::vector<std::wstring> second(std::find(cabinets.begin(), cabinets.end(), L"  Cabinet 1: base2.cab"),
                                   cabinets.end());
  ASSERT_FALSE(second.empty());
  EXPECT_TRUE(has(second, L"    Not found locally; a download would try:"));
  EXPECT_TRUE(has(second, L"      http://127.0.0.1:9/media/Master/base/cabs/base2.cab"));
  EXPECT_TRUE(has(second, L"      http://127.0.0.1:9/extra/Master/base/cabs/base2.cab"));
  EXPECT_TRUE(has(base, L"  Cabinet twin.cab is never read: its Sequence \"1\" is missing, negative or repeated"));
  std::vector<std::wstring> extra = orvos.Section(L"Orvo Extra");
  EXPECT_TRUE(has(extra, L"  Display: (absent)"));
  EXPECT_TRUE(has(extra, L"  Action: \"remove\""));
  EXPECT_TRUE(has(extra, L"  Pack document: " + install + L"extra\\pack.xml (missing: unavailable unless the media supply it)"));

  // Not found, not loading, bad usage.
  EXPECT_EQ(1u, RunTool(L"index " + Quoted(folder_ + L"missing.xml")).exitCode);
  Outcome broken = RunTool(L"index " + Quoted(folder_ + L"broken.xml"));
  EXPECT_EQ(1u, broken.exitCode);
  EXPECT_TRUE(broken.HasContaining(L"broken.xml does not load: "));
  EXPECT_EQ(1u, RunTool(L"orvos " + Quoted(folder_ + L"broken.xml")).exitCode);
  EXPECT_EQ(1u, RunTool(L"orvos " + Quoted(folder_ + L"nomaster.xml")).exitCode);
  EXPECT_EQ(2u, RunTool(L"").exitCode);
  EXPECT_EQ(2u, RunTool(L"refs").exitCode);
  EXPECT_EQ(2u, RunTool(L"refs --index").exitCode);
  EXPECT_EQ(2u, RunTool(L"orvos a b").exitCode);
  EXPECT_EQ(2u, RunTool(L"decide x").exitCode);

  EXPECT_EQ(before, ReadTree(folder_, true)) << "nothing below the scratch folder changed";
  EXPECT_EQ(sharedBefore, ReadFileBytes(sharedDocument_));
}

}  // namespace
