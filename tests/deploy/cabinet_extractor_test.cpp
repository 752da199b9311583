#include <gtest/gtest.h>
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <functional>
#include <stdexcept>
#include <set>

#include "cab_writer.h"
#include "action/installer_session.h"
#include "deploy/cabinet_extractor.h"
#include "deploy/deployment_state.h"
#include "support/test_files.h"

namespace cab = orvo::cab;
using orvo::EXTRACT_FOLDER;
using orvo::EXTRACT_SKIP;
using orvo::EXTRACT_TEXT;
using orvo::EXTRACT_WRITTEN;
using orvo::ExtractCabinet;
using orvo::ExtractNaming;
using namespace orvo::test;

namespace {

struct Item {
  std::string name;
  std::string data;
  uint16_t attribs = cab::kAttribArchive;
  uint16_t date = cab::DosDate(2021, 6, 15);
  uint16_t time = cab::DosTime(13, 45, 30);
};

std::vector<std::wstring> MakeCabinet(const std::wstring& path, const std::vector<Item>& items,
                                      cab::Compression compression = cab::Compression::Mszip(),
                                      cab::CabinetSetOptions set = {}) {
  cab::CabinetWriter writer(ToNarrow(path), set);
  EXPECT_TRUE(writer.StartFolder(compression)) << writer.error();
  for (const Item& item : items) {
    cab::FileEntry entry{item.name, item.date, item.time, item.attribs};
    EXPECT_TRUE(writer.AddFile(entry, item.data.data(), item.data.size())) << writer.error();
  }
  EXPECT_TRUE(writer.Finish()) << writer.error();
  std::vector<std::wstring> paths;
  for (const std::string& p : writer.cabinetPaths()) paths.push_back(ToWide(p));
  return paths;
}

std::string IndexLine(std::string key, const std::string& path) {
  key.resize(38, ' ');
  return key + path + "\r\n";
}

std::string Pattern(size_t size, unsigned seed) {
  std::string s(size, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < size; ++i) {
    x = x * 1103515245u + 12345u;
    s[i] = char((i % 7 == 0) ? (x >> 24) : ('a' + (i / 11) % 26));
  }
  return s;
}

struct Recorder {
  std::vector<std::pair<int, std::wstring>> messages;
  std::vector<std::wstring> formats;
  std::function<int(int, const std::wstring&)> answer;

  orvo::ExtractHandler Handler() {
    return [this](int code, std::wstring_view format, const orvo::FormatArg* args, size_t count) {
      std::wstring text = orvo::FormatArgs(format, args, count);
      messages.emplace_back(code, text);
      formats.emplace_back(format);
      return answer ? answer(code, text) : 0;
    };
  }
  std::vector<std::wstring> Of(int code) const {
    std::vector<std::wstring> out;
    for (const auto& [c, t] : messages) {
      if (c == code) out.push_back(t);
    }
    return out;
  }
  bool Has(int code, const std::wstring& text) const {
    for (const std::wstring& t : Of(code)) {
      if (t == text) return true;
    }
    return false;
  }
};

// Every file and folder below a folder ("\" after a folder's name).
std::set<std::wstring> TreeOf(const std::wstring& folder) {
  std::set<std::wstring> out;
  for (const auto& entry : ReadTree(folder, true)) out.insert(entry.first);
  return out;
}

class CabinetExtraction : public ::testing::Test {
 protected:
  void SetUp() override {
    orvo::DeploymentState::Instance().abortRequested = false;
    orvo::SetExtractDiagnostics(false);
    scratch_ = ScratchFolder(L"extract");
    target_ = scratch_ + L"target\\";
  }
  void TearDown() override {
    orvo::DeploymentState::Instance().abortRequested = false;
    RemoveTree(scratch_);
  }
  std::wstring Cabinet(const std::wstring& name) { return scratch_ + name; }

  std::wstring scratch_, target_;
  Recorder recorder_;
};

TEST_F(CabinetExtraction, IndexFilePlacesStoredFilesAndRestoresTimesAndAttributes) {
  const std::string fullKey(38, 'K');  // no padding: the path starts in column 39
  std::string index = IndexLine("k1", "Sub\\a.txt") + IndexLine(fullKey, "Sub\\Deeper\\b.bin") +
                      IndexLine("k3", "top.txt") + IndexLine("k1", "Sub\\a.txt");
  Item a{"k1", "alpha"}, b{fullKey, Pattern(70000, 1)}, top{"k3", "top"};
  b.attribs = cab::kAttribReadOnly | cab::kAttribHidden | cab::kAttribSystem | cab::kAttribArchive | 0x40;
  top.date = cab::DosDate(1999, 12, 31);
  top.time = cab::DosTime(23, 59, 58);
  auto cabinet = MakeCabinet(Cabinet(L"a.cab"), {{"IndexFile.dat", index}, a, b, top});

  ASSERT_EQ(1, ExtractCabinet(cabinet[0], target_, recorder_.Handler()));
  EXPECT_EQ("alpha", ReadFileBytes(target_ + L"Sub\\a.txt"));
  EXPECT_EQ(b.data, ReadFileBytes(target_ + L"Sub\\Deeper\\b.bin"));
  EXPECT_EQ("top", ReadFileBytes(target_ + L"top.txt"));
  EXPECT_EQ((std::set<std::wstring>{L"Sub\\", L"Sub\\a.txt", L"Sub\\Deeper\\", L"Sub\\Deeper\\b.bin", L"top.txt"}),
            TreeOf(target_));
  EXPECT_FALSE(FileExists(orvo::TempFolder() + L"IndexFile.dat"));
  int subFolders = 0;
  for (const std::wstring& folder : recorder_.Of(EXTRACT_FOLDER)) subFolders += folder == target_ + L"Sub\\";
  EXPECT_EQ(1, subFolders);
  EXPECT_TRUE(recorder_.Has(EXTRACT_TEXT, L"Processing cabinet " + cabinet[0] + L", 4 files."));
  EXPECT_TRUE(recorder_.Has(orvo::fdintCLOSE_FILE_INFO, target_ + L"Sub\\Deeper\\b.bin"));
  size_t written = 0;
  for (const std::wstring& count : recorder_.Of(EXTRACT_WRITTEN)) written += std::stoul(count);
  EXPECT_EQ(index.size() + 5 + b.data.size() + 3, written);

  // Attributes are masked to read-only, hidden, system and archive.
  EXPECT_EQ(DWORD(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE),
            GetFileAttributesW((target_ + L"Sub\\Deeper\\b.bin").c_str()));
  // The stored local time comes back as both creation and last-write time.
  HANDLE file = CreateFileW((target_ + L"top.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                            nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  FILETIME created, written_, local;
  GetFileTime(file, &created, nullptr, &written_);
  CloseHandle(file);
  WORD date = 0, time = 0;
  FileTimeToLocalFileTime(&written_, &local);
  FileTimeToDosDateTime(&local, &date, &time);
  EXPECT_EQ(top.date, date);
  EXPECT_EQ(top.time, time);
  EXPECT_EQ(0, CompareFileTime(&created, &written_));
}

TEST_F(CabinetExtraction, UnicodeIndexFileAndMapKeptForLaterCabinets) {
  // UTF-16 with a byte-order mark and CR LF line ends.
  std::wstring lines = L"\xFEFFu1" + std::wstring(36, L' ') + L"S\x00FC" L"d\\\x00F6.txt\r\n" + L"later" +
                       std::wstring(33, L' ') + L"Later\\l.txt\r\n";
  std::string index;
  for (wchar_t c : lines) {
    index += char(c & 0xFF);
    index += char(c >> 8);
  }
  auto first = MakeCabinet(Cabinet(L"u.cab"), {{"IndexFile.dat", index}, {"u1", "unicode"}});
  ASSERT_EQ(1, ExtractCabinet(first[0], target_, recorder_.Handler()));
  EXPECT_EQ("unicode", ReadFileBytes(target_ + L"S\x00FC" L"d\\\x00F6.txt"));

  // A cabinet without an index of its own uses what earlier ones mapped; a
  // file mapped nowhere is skipped without disturbing the others.
  auto second = MakeCabinet(Cabinet(L"later.cab"), {{"later", "one"}, {"unmapped", "x"}, {"u1", "again"}},
                            cab::Compression::Stored());
  ASSERT_EQ(1, ExtractCabinet(second[0], target_, recorder_.Handler()));
  EXPECT_EQ("one", ReadFileBytes(target_ + L"Later\\l.txt"));
  EXPECT_EQ("again", ReadFileBytes(target_ + L"S\x00FC" L"d\\\x00F6.txt"));
  EXPECT_TRUE(recorder_.Has(orvo::fdintCOPY_FILE, L""));
  EXPECT_EQ(L"Later\\l.txt", orvo::ExtractIndexMap().at(L"later"));
}

TEST_F(CabinetExtraction, PlaceholderPercentAndReadOnlyTarget) {
  std::string index = IndexLine("p", "Empty\\empty.dir") + IndexLine("pct", "100%s %d%%\\r.txt") +
                      IndexLine("ro", "ro.txt");
  std::wstring pctPath = target_ + L"100%s %d%%\\r.txt";
  ASSERT_TRUE(CreateDirectoryW(target_.c_str(), nullptr));
  WriteFileBytes(target_ + L"ro.txt", "old read-only content");
  SetFileAttributesW((target_ + L"ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  auto cabinet = MakeCabinet(Cabinet(L"p.cab"), {{"IndexFile.dat", index},
                                                 {"p", ""},
                                                 {"pct", "percent"},
                                                 {"ro", "new"}});
  ASSERT_EQ(1, ExtractCabinet(cabinet[0], target_, recorder_.Handler()));

  // The placeholder leaves its folder, empty; the handler hears of it once.
  EXPECT_EQ((std::set<std::wstring>{L"Empty\\", L"100%s %d%%\\", L"100%s %d%%\\r.txt", L"ro.txt"}),
            TreeOf(target_));
  EXPECT_TRUE(recorder_.Has(orvo::fdintCOPY_FILE, target_ + L"Empty\\empty.dir"));
  EXPECT_FALSE(recorder_.Has(orvo::fdintCLOSE_FILE_INFO, target_ + L"Empty\\empty.dir"));

  EXPECT_EQ("percent", ReadFileBytes(pctPath));
  EXPECT_TRUE(recorder_.Has(orvo::fdintCOPY_FILE, pctPath));
  EXPECT_TRUE(recorder_.Has(EXTRACT_FOLDER, target_ + L"100%s %d%%\\"));
  bool escaped = false;
  for (const std::wstring& f : recorder_.formats) escaped |= f == target_ + L"100%%s %%d%%%%\\r.txt";
  EXPECT_TRUE(escaped);

  EXPECT_EQ("new", ReadFileBytes(target_ + L"ro.txt"));
  EXPECT_EQ(DWORD(FILE_ATTRIBUTE_ARCHIVE), GetFileAttributesW((target_ + L"ro.txt").c_str()));
}

// Files that go back and forth between folders, a hidden file replaced, a
// declined one left as it was, and a file standing where a folder must go.
TEST_F(CabinetExtraction, FoldersRevisitedProtectedTargetsAndAFileInTheWay) {
  std::string index = IndexLine("1", "A\\B\\1.txt") + IndexLine("2", "C\\2.txt") + IndexLine("3", "A\\B\\3.txt") +
                      IndexLine("h", "C\\hidden.txt") + IndexLine("d", "C\\declined.txt");
  ASSERT_TRUE(CreateDirectoryW(target_.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW((target_ + L"C").c_str(), nullptr));
  for (const wchar_t* name : {L"C\\hidden.txt", L"C\\declined.txt"}) {
    WriteFileBytes(target_ + name, "old");
    SetFileAttributesW((target_ + name).c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY);
  }
  auto cabinet = MakeCabinet(Cabinet(L"f.cab"), {{"IndexFile.dat", index}, {"1", "one"}, {"2", "two"},
                                                 {"3", "three"}, {"h", "new"}, {"d", "new"}});
  recorder_.answer = [&](int code, const std::wstring& text) {
    return code == orvo::fdintCOPY_FILE && text == target_ + L"C\\declined.txt" ? EXTRACT_SKIP : 0;
  };
  ASSERT_EQ(1, ExtractCabinet(cabinet[0], target_, recorder_.Handler()));
  EXPECT_EQ("three", ReadFileBytes(target_ + L"A\\B\\3.txt"));
  std::vector<std::wstring> folders;
  for (const std::wstring& folder : recorder_.Of(EXTRACT_FOLDER))
    if (folder.compare(0, target_.size(), target_) == 0) folders.push_back(folder.substr(target_.size()));
  EXPECT_EQ((std::vector<std::wstring>{L"A\\B\\", L"C\\", L"A\\B\\", L"C\\"}), folders)
      << "every change of folder is told, though each is made once";
  EXPECT_EQ("new", ReadFileBytes(target_ + L"C\\hidden.txt"));
  EXPECT_EQ(DWORD(FILE_ATTRIBUTE_ARCHIVE), GetFileAttributesW((target_ + L"C\\hidden.txt").c_str()));
  EXPECT_EQ("old", ReadFileBytes(target_ + L"C\\declined.txt"));
  const DWORD kProtective = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY;
  EXPECT_EQ(kProtective, GetFileAttributesW((target_ + L"C\\declined.txt").c_str()) & kProtective)
      << "a declined file is not touched";
  SetFileAttributesW((target_ + L"C\\declined.txt").c_str(), FILE_ATTRIBUTE_NORMAL);

  // A file where a folder must go: the folder cannot be made, the copy fails.
  RemoveTree(target_);
  ASSERT_TRUE(CreateDirectoryW(target_.c_str(), nullptr));
  WriteFileBytes(target_ + L"A", "in the way");
  recorder_.messages.clear();
  recorder_.answer = nullptr;
  EXPECT_EQ(0, ExtractCabinet(cabinet[0], target_, recorder_.Handler()));
  EXPECT_TRUE(recorder_.Has(orvo::EXTRACT_FOLDER_FAILED, target_ + L"A\\B\\"));
  EXPECT_EQ("in the way", ReadFileBytes(target_ + L"A"));
  EXPECT_FALSE(orvo::CreateFolderChain(target_ + L"A\\B\\"));
  EXPECT_TRUE(orvo::CreateFolderChain(target_ + L"X\\Y\\Z\\"));
  EXPECT_TRUE(orvo::CreateFolderChain(target_ + L"X\\Y\\"));
}

TEST_F(CabinetExtraction, SkipAnswerAndCancelAnswers) {
  std::string index = IndexLine("a", "a.txt") + IndexLine("b", "b.txt");
  auto cabinet = MakeCabinet(Cabinet(L"c.cab"), {{"IndexFile.dat", index}, {"a", "aaa"}, {"b", "bbb"}});

  recorder_.answer = [&](int code, const std::wstring& text) {
    return code == orvo::fdintCOPY_FILE && text == target_ + L"a.txt" ? EXTRACT_SKIP : 0;
  };
  ASSERT_EQ(1, ExtractCabinet(cabinet[0], target_, recorder_.Handler()));
  EXPECT_FALSE(FileExists(target_ + L"a.txt"));
  EXPECT_EQ("bbb", ReadFileBytes(target_ + L"b.txt"));
  RemoveTree(target_);

  // Cancel on the first written block: the copy stops with "User aborted";
  // a cancel answer to that failure makes the result 11.
  recorder_.answer = [](int code, const std::wstring& text) {
    return code == EXTRACT_WRITTEN || text.find(L"FDICopy() failed") != std::wstring::npos ? 2 : 0;
  };
  EXPECT_EQ(11, ExtractCabinet(cabinet[0], target_, recorder_.Handler()));
  EXPECT_TRUE(recorder_.Has(EXTRACT_TEXT, L"  FDICopy() failed: code 11 [User aborted]"));
  EXPECT_TRUE(orvo::DeploymentState::Instance().abortRequested);
  EXPECT_FALSE(FileExists(target_ + L"b.txt"));

  // Once cancelled, a later extraction stops at its first notification.
  recorder_.messages.clear();
  recorder_.answer = nullptr;
  EXPECT_EQ(0, ExtractCabinet(cabinet[0], target_, recorder_.Handler()));
  EXPECT_TRUE(recorder_.Of(orvo::fdintCOPY_FILE).empty());
  EXPECT_TRUE(recorder_.Has(EXTRACT_TEXT, L"  FDICopy() failed: code 11 [User aborted]"));
}

TEST_F(CabinetExtraction, MissingCabinetNotACabinetAndTooLongTarget) {
  std::wstring missing = Cabinet(L"missing.cab");
  EXPECT_EQ(0, ExtractCabinet(missing, target_, recorder_.Handler()));
  EXPECT_TRUE(recorder_.Has(EXTRACT_TEXT, L"Unable to open '" + missing + L"' for input"));

  std::wstring text = Cabinet(L"text.cab");
  WriteFileBytes(text, "MSCX this is not a cabinet at all, just some text");
  EXPECT_EQ(0, ExtractCabinet(text, target_, recorder_.Handler()));
  EXPECT_TRUE(recorder_.Has(EXTRACT_TEXT, L"FDIIsCabinet() failed: '" + text + L"' is not a cabinet"));

  auto cabinet = MakeCabinet(Cabinet(L"t.cab"), {{"IndexFile.dat", IndexLine("a", "a.txt")}, {"a", "aaa"}});
  // 130 two-byte characters are fewer than 260 units and more than 259 bytes.
  for (const std::wstring& folder : {target_ + std::wstring(260, L'x'), target_ + std::wstring(130, L'\x00E9')}) {
    recorder_.messages.clear();
    EXPECT_EQ(0, ExtractCabinet(cabinet[0], folder, recorder_.Handler()));
    ASSERT_EQ(1u, recorder_.messages.size());
    EXPECT_EQ(EXTRACT_TEXT, recorder_.messages[0].first);
    EXPECT_NE(std::wstring::npos, recorder_.messages[0].second.find(L"cannot be used"));
  }
  recorder_.answer = [](int, const std::wstring&) { return 2; };
  EXPECT_EQ(11, ExtractCabinet(cabinet[0], target_ + std::wstring(300, L'y'), recorder_.Handler()));
  EXPECT_FALSE(FileExists(target_));
}

TEST_F(CabinetExtraction, BrokenDataLeavesNoPartFileUnderTheTargetName) {
  // Stored blocks hold at most 32 KB: the first blocks of big.bin are written
  // before the cut-off ones are missed.
  std::string big = Pattern(200000, 3);
  std::string index = IndexLine("small", "small.txt") + IndexLine("big", "Sub\\big.bin");
  auto cabinet = MakeCabinet(Cabinet(L"cut.cab"), {{"IndexFile.dat", index}, {"small", "whole"}, {"big", big}},
                             cab::Compression::Stored());
  std::string bytes = ReadFileBytes(cabinet[0]);
  ASSERT_TRUE(WriteFileBytes(cabinet[0], bytes.substr(0, bytes.size() - 100000)));

  EXPECT_EQ(0, ExtractCabinet(cabinet[0], target_, recorder_.Handler()));
  EXPECT_FALSE(recorder_.Of(EXTRACT_WRITTEN).empty());
  EXPECT_TRUE(recorder_.Has(EXTRACT_TEXT, L"  FDICopy() failed: code 4 [Corrupt cabinet]"));
  // What was whole stays; the cut file is gone, not kept short.
  EXPECT_EQ("whole", ReadFileBytes(target_ + L"small.txt"));
  EXPECT_FALSE(FileExists(target_ + L"Sub\\big.bin"));
}

TEST_F(CabinetExtraction, HandlerFailingAfterTheCloseLeavesOtherDescriptorsAlone) {
  auto cabinet = MakeCabinet(Cabinet(L"d.cab"), {{"IndexFile.dat", IndexLine("a", "a.txt")}, {"a", "aaa"}});
  // The handler takes the lowest free descriptor, the one the file just gave
  // back, and then fails.
  int mine = -1;
  std::wstring other = Cabinet(L"other.bin");
  recorder_.answer = [&](int code, const std::wstring&) -> int {
    if (code != orvo::fdintCLOSE_FILE_INFO) return 0;
    mine = _wopen(other.c_str(), _O_CREAT | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
    throw std::runtime_error("handler failed");
  };
  EXPECT_EQ(0, ExtractCabinet(cabinet[0], target_, recorder_.Handler()));
  ASSERT_NE(-1, mine);
  EXPECT_EQ(2, _write(mine, "ok", 2));
  EXPECT_EQ(0, _close(mine));
  EXPECT_EQ("ok", ReadFileBytes(other));
}

TEST_F(CabinetExtraction, OversizedIndexFileIsRefusedAndRemoved) {
  // Read a character at a time, an index of gigabytes would hold the
  // installation for hours and exhaust memory; it is refused at its size.
  std::string index = IndexLine("huge_key", "huge.txt") + std::string(16 << 20, 'x');
  auto cabinet = MakeCabinet(Cabinet(L"huge.cab"), {{"IndexFile.dat", index}, {"huge_key", "data"}});
  DWORD start = GetTickCount();
  EXPECT_EQ(1, ExtractCabinet(cabinet[0], target_, recorder_.Handler()));
  EXPECT_LT(GetTickCount() - start, 5000u);
  EXPECT_EQ(0u, orvo::ExtractIndexMap().count(L"huge_key"));
  EXPECT_FALSE(FileExists(target_ + L"huge.txt"));
  EXPECT_FALSE(FileExists(orvo::TempFolder() + L"IndexFile.dat"));
  bool told = false;
  for (const std::wstring& line : recorder_.Of(EXTRACT_TEXT)) told |= line.find(L"IndexFile.dat") != std::wstring::npos;
  EXPECT_TRUE(told);
}

TEST_F(CabinetExtraction, FileSpanningTwoCabinetsComesOutWhole) {
  cab::CabinetSetOptions set;
  set.maxCabinetSize = 40000;
  std::string big = Pattern(60000, 7);
  auto cabinets = MakeCabinet(Cabinet(L"span.cab"), {{"IndexFile.dat", IndexLine("big", "Big\\big.bin")}, {"big", big}},
                              cab::Compression::Stored(), set);
  ASSERT_EQ(2u, cabinets.size());
  ASSERT_EQ(1, ExtractCabinet(cabinets[0], target_, recorder_.Handler()));
  EXPECT_EQ(big, ReadFileBytes(target_ + L"Big\\big.bin"));
  std::vector<std::wstring> next = recorder_.Of(orvo::fdintNEXT_CABINET);
  ASSERT_EQ(1u, next.size());
  std::wstring second = cabinets[1].substr(cabinets[1].find_last_of(L'\\') + 1);
  EXPECT_EQ(L"fdintNEXT_CABINET\n   name of next cabinet where file continued = " + second +
                L"\n   name of next disk where file continued    = \n   cabinet path name                         = " +
                scratch_ + L"\n",
            next[0]);
}

TEST_F(CabinetExtraction, PathsLeavingTheTargetFolderAreRefused) {
  std::wstring outside = L"evil_" + std::to_wstring(GetCurrentProcessId()) + L".txt";
  std::string evil = ToNarrow(outside);
  const std::vector<std::string> hostile = {
      "..\\" + evil,        "Sub\\..\\..\\" + evil, "Sub/../../" + evil, "C:\\" + evil,   "C:" + evil,
      "\\" + evil,          "\\\\srv\\share\\" + evil, "\\\\?\\C:\\" + evil, "CON",        "Sub\\nul.txt",
      "lpt1",               "COM9.log",           "good.txt:stream",     "...\\" + evil, ". .\\" + evil,
      "Sub\\*.txt",         "Sub\\"};
  std::string index = IndexLine("good", "good.txt");
  std::vector<Item> items = {{"IndexFile.dat", ""}, {"good", "good"}};
  for (size_t i = 0; i < hostile.size(); ++i) {
    index += IndexLine("h" + std::to_string(i), hostile[i]);
    items.push_back({"h" + std::to_string(i), "hostile"});
  }
  items[0].data = index;
  auto cabinet = MakeCabinet(Cabinet(L"hostile.cab"), items);
  ASSERT_EQ(1, ExtractCabinet(cabinet[0], target_, recorder_.Handler()));
  EXPECT_EQ(std::set<std::wstring>{L"good.txt"}, TreeOf(target_));
  EXPECT_EQ("good", ReadFileBytes(target_ + L"good.txt"));
  EXPECT_FALSE(FileExists(scratch_ + outside));
  EXPECT_FALSE(FileExists(orvo::TempFolder() + outside));
  EXPECT_FALSE(FileExists(L"C:\\" + outside));
  for (size_t i = 0; i < hostile.size(); ++i) {
    bool named = false;
    for (const std::wstring& line : recorder_.Of(EXTRACT_TEXT)) {
      named |= line.find(L"'" + ToWide(hostile[i]) + L"'") != std::wstring::npos;
    }
    EXPECT_TRUE(named) << hostile[i];
  }

  // Stored names are held to the same rule when they are the targets.
  auto named = MakeCabinet(Cabinet(L"names.cab"), {{"..\\" + evil, "x"}, {"ok\\in.txt", "in"}});
  ASSERT_EQ(1, ExtractCabinet(named[0], target_ + L"names\\", recorder_.Handler(), ExtractNaming::kStoredNames));
  EXPECT_EQ("in", ReadFileBytes(target_ + L"names\\ok\\in.txt"));
  EXPECT_FALSE(FileExists(target_ + outside));
}

}  // namespace
