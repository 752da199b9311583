// Registry data written from text, key trees copied with macro values and
// merged lists, and key deletion and pruning, inside one session.
#include <gtest/gtest.h>

#include "action/installer_session.h"
#include "registry/registry_key.h"
#include "registry/value_text.h"
#include "support/test_session.h"
#include "support/test_files.h"

using namespace orvo;
using namespace orvo::test;

namespace {

const wchar_t kRoot[] = L"Software\\OrvoTests\\RegistryValues";

struct Value {
  DWORD type = REG_NONE;
  std::wstring text;
  DWORD number = 0;
};

Value Read(const std::wstring& path, const std::wstring& name) {
  Value value;
  BYTE data[512] = {};
  DWORD size = sizeof(data) - 2;
  if (RegGetValueW(HKEY_CURRENT_USER, path.c_str(), name.c_str(), RRF_RT_ANY | RRF_NOEXPAND, &value.type, data,
                   &size) != ERROR_SUCCESS) {
    value.type = 0xFFFF;  // missing
    return value;
  }
  if (value.type == REG_DWORD) value.number = *reinterpret_cast<DWORD*>(data);
  if (value.type == REG_SZ || value.type == REG_EXPAND_SZ || value.type == REG_MULTI_SZ) {
    value.text = reinterpret_cast<wchar_t*>(data);
  }
  return value;
}

void Raw(HKEY key, const std::wstring& name, DWORD type, const void* data, DWORD size) {
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, name.c_str(), 0, type, static_cast<const BYTE*>(data), size));
}

class RegistryValues : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = ScratchFolder(L"registry_values");
    ASSERT_TRUE(session_.Open(folder_, L"RegistryValues", L"orvo_registry_values.log"));
    RegDeleteTreeW(HKEY_CURRENT_USER, kRoot);
  }
  void TearDown() override {
    RegDeleteTreeW(HKEY_CURRENT_USER, kRoot);
    session_.Close();
    RemoveTree(folder_);
  }
  std::wstring Log() { return session_.Log(); }

  std::wstring folder_;
  TestSession session_;
};

TEST_F(RegistryValues, TypedAndHashTextsBecomeTheStoredValues) {
  EXPECT_EQ(DWORD(REG_SZ), RegistryTypeFromName(L"REG_SZ"));
  EXPECT_EQ(DWORD(REG_QWORD), RegistryTypeFromName(L"REG_QWORD"));
  EXPECT_EQ(DWORD(REG_NONE), RegistryTypeFromName(L"reg_sz"));
  EXPECT_EQ(DWORD(REG_NONE), RegistryTypeFromName(L"REG_SZ "));

  CRegistryWrite key;
  std::wstring path = std::wstring(kRoot) + L"\\Typed";
  ASSERT_TRUE(key.Open(HKEY_CURRENT_USER, path));
  const struct {
    const wchar_t* name;
    const wchar_t* data;
    DWORD type;
    DWORD expected;
  } numbers[] = {{L"hex", L"0x10", REG_DWORD, 16},          {L"octal", L"010", REG_DWORD, 8},
                 {L"letters", L"abc", REG_DWORD, 0},        {L"big", L"4294967295", REG_DWORD, 2147483647},
                 {L"low", L"-9999999999", REG_DWORD, 0x80000000}, {L"quad", L"5", REG_QWORD, 5}};
  for (const auto& n : numbers) {
    EXPECT_TRUE(SetTypedValue(key.key(), L"", n.name, n.data, n.type));
    Value v = Read(path, n.name);
    EXPECT_EQ(DWORD(REG_DWORD), v.type) << n.name;
    EXPECT_EQ(n.expected, v.number) << n.name;
  }
  // A multi-string entry on a new value is one REG_SZ; an existing
  // expandable value keeps its type.
  EXPECT_TRUE(SetTypedValue(key.key(), L"Deeper\\Still", L"multi", L"a;b", REG_MULTI_SZ));
  Value multi = Read(path + L"\\Deeper\\Still", L"multi");
  EXPECT_EQ(DWORD(REG_SZ), multi.type);
  EXPECT_EQ(L"a;b", multi.text);
  std::wstring expand = L"%TEMP%";
  Raw(key.key(), L"expand", REG_EXPAND_SZ, expand.c_str(), 14);
  EXPECT_TRUE(key.SetString(L"expand", L"%WINDIR%\\x"));
  EXPECT_EQ(DWORD(REG_EXPAND_SZ), Read(path, L"expand").type);
  // Text over a number becomes a well-formed string.
  DWORD seven = 7;
  Raw(key.key(), L"wasNumber", REG_DWORD, &seven, 4);
  EXPECT_TRUE(key.SetString(L"wasNumber", L"text"));
  EXPECT_EQ(DWORD(REG_SZ), Read(path, L"wasNumber").type);
  EXPECT_EQ(L"text", Read(path, L"wasNumber").text);

  EXPECT_TRUE(SetTypedValue(key.key(), L"", L"binary", L"00ff", REG_BINARY));
  EXPECT_EQ(DWORD(0xFFFF), Read(path, L"binary").type);
  EXPECT_NE(std::wstring::npos, Log().find(L"   !=> Unrecognized data type: Value: binary Data: 00ff"));

  EXPECT_TRUE(SetValueText(key.key(), L"", L"h1", L"#42"));
  EXPECT_TRUE(SetValueText(key.key(), L"", L"h2", L"#x1F"));
  EXPECT_TRUE(SetValueText(key.key(), L"", L"h3", L"##42"));
  EXPECT_TRUE(SetValueText(key.key(), L"", L"h4", L"#1#2"));
  EXPECT_EQ(42u, Read(path, L"h1").number);
  EXPECT_EQ(DWORD(REG_DWORD), Read(path, L"h2").type);
  EXPECT_EQ(0u, Read(path, L"h2").number);
  EXPECT_EQ(L"##42", Read(path, L"h3").text);
  EXPECT_EQ(L"#1#2", Read(path, L"h4").text);

  // Readers: first string of a multi-string, nothing from other types.
  const wchar_t pair[] = L"a\0b\0";
  Raw(key.key(), L"pair", REG_MULTI_SZ, pair, sizeof(pair));
  Raw(key.key(), L"twelve", REG_SZ, L"12", 6);
  EXPECT_EQ(L"a", key.GetString(L"pair"));
  EXPECT_EQ(L"", key.GetString(L"hex"));
  EXPECT_EQ(L"", key.GetString(L"missing"));
  EXPECT_EQ(0u, key.GetDword(L"twelve"));
  EXPECT_FALSE(key.HasValueOfType(L"missing", {REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ}));

  EXPECT_TRUE(IsNumberText(L"0x1F"));
  EXPECT_TRUE(IsNumberText(L""));
  EXPECT_FALSE(IsNumberText(L"%SIZE%"));
  EXPECT_EQ(L"%INSTALLDIR%Support", ToPlaceholders(L"[INSTALLDIR]Support"));
  EXPECT_EQ((TextList{L"A", L"B"}), PlaceholderNames(L"%A%\\x\\%B%"));
  EXPECT_EQ(TextList{}, PlaceholderNames(L"x%%y"));
  EXPECT_EQ((TextList{L"A", L"A"}), PlaceholderNames(L"%A%%A%"));
}

TEST_F(RegistryValues, ListsMergeByTheirFlags) {
  EXPECT_EQ(L"C:\\a\\;C:\\b;C:\\c", MergeLists(L"C:\\a\\;C:\\b", L"c:\\A;C:\\c", 1));
  EXPECT_EQ(L"C:\\a\\;C:\\b;c:\\A;C:\\c", MergeLists(L"C:\\a\\;C:\\b", L"c:\\A;C:\\c", 3));
  EXPECT_EQ(L"C:\\a\\;C:\\b;c:\\A;C:\\c", MergeLists(L"C:\\a\\;C:\\b", L"c:\\A;C:\\c", 5));
  EXPECT_EQ(L"y", MergeLists(L"x;y;x", L"-X", 9));
  EXPECT_EQ(L"x;y", MergeLists(L"x;y", L"-z", 9));
  EXPECT_EQ(L"x;y;-z", MergeLists(L"x;y", L"-z", 1));
  EXPECT_EQ(L"n;n", MergeLists(L"", L"n;;n", 1));
  EXPECT_EQ(L"a;b", MergeLists(L"a;;b", L"", 1));
  EXPECT_NE(std::wstring::npos, Log().find(L"    => Merging x;y with -z"));
  EXPECT_NE(std::wstring::npos, Log().find(L"      Result: x;y;-z"));
}

TEST_F(RegistryValues, KeyTreesCopyWithMacrosMergesAndHashNumbers) {
  std::wstring source = std::wstring(kRoot) + L"\\Source", target = std::wstring(kRoot) + L"\\Target";
  {
    CRegistryWrite s, t;
    ASSERT_TRUE(s.Open(HKEY_CURRENT_USER, source));
    ASSERT_TRUE(t.Open(HKEY_CURRENT_USER, target));
    s.SetString(L"Support", L"%ROOT%\\Support");
    s.SetString(L"Number", L"#123");
    s.SetString(L"NotNumber", L"#12a");
    s.SetString(L"Path", L"C:\\new;c:\\old\\");
    s.SetDword(L"Path.ProfileEntryFlags", 1);
    s.SetDword(L".ProfileEntryFlags", 4);
    s.SetDword(L"Count", 7);
    ULONGLONG quad = 9;
    Raw(s.key(), L"Quad", REG_QWORD, &quad, 8);
    Raw(s.key(), L"Blob", REG_BINARY, "xy", 2);
    t.SetString(L"Path", L"C:\\old;C:\\mine");
    t.SetString(L"Mine", L"kept");
    CRegistryWrite nested;
    ASSERT_TRUE(nested.Open(s.key(), L"Sub\\Deeper"));
    nested.SetString(L"Where", L"%ROOT%");

    TextList search{L"%ROOT%"}, replace{L"C:\\Data"};
    EXPECT_TRUE(CopyKeyTree(s.key(), t.key(), &search, &replace));
  }
  EXPECT_EQ(L"C:\\Data\\Support", Read(target, L"Support").text);
  EXPECT_EQ(123u, Read(target, L"Number").number);
  EXPECT_EQ(L"#12a", Read(target, L"NotNumber").text);
  EXPECT_EQ(L"C:\\old;C:\\mine;C:\\new", Read(target, L"Path").text);
  EXPECT_EQ(DWORD(0xFFFF), Read(target, L"Path.ProfileEntryFlags").type);
  EXPECT_EQ(4u, Read(target, L".ProfileEntryFlags").number);
  EXPECT_EQ(7u, Read(target, L"Count").number);
  EXPECT_EQ(DWORD(0xFFFF), Read(target, L"Quad").type);
  EXPECT_EQ(DWORD(0xFFFF), Read(target, L"Blob").type);
  EXPECT_EQ(L"kept", Read(target, L"Mine").text);
  EXPECT_EQ(L"C:\\Data", Read(target + L"\\Sub\\Deeper", L"Where").text);
  std::wstring log = Log();
  EXPECT_NE(std::wstring::npos, log.find(L"      => Evaluating #123 as a potential DWORD"));
  EXPECT_NE(std::wstring::npos, log.find(L"      => Evaluating #12a as a potential DWORD"));
}

TEST_F(RegistryValues, DeletionTakesWholeTreesAndPruningStopsAtTheFirstLevel) {
  std::wstring base = std::wstring(kRoot) + L"\\Del";
  CRegistry reader;
  EXPECT_FALSE(reader.Open(HKEY_CURRENT_USER, base + L"\\X\\Y"));
  EXPECT_FALSE(reader);
  {
    CRegistryWrite deep;
    ASSERT_TRUE(deep.Open(HKEY_CURRENT_USER, base + L"\\Tree\\L1\\L2"));
    deep.SetString(L"v", L"2");
    CRegistryWrite mid;
    ASSERT_TRUE(mid.Open(HKEY_CURRENT_USER, base + L"\\Tree\\L1"));
    mid.SetString(L"v", L"1");
    CRegistryWrite sibling;
    ASSERT_TRUE(sibling.Open(HKEY_CURRENT_USER, base + L"\\Tree\\Other"));
  }
  CRegistryDelete holder;
  ASSERT_TRUE(holder.Open(HKEY_CURRENT_USER, base));
  EXPECT_TRUE(holder.DeleteKey(L"Tree"));
  EXPECT_FALSE(reader.Open(HKEY_CURRENT_USER, base + L"\\Tree"));
  EXPECT_TRUE(holder.DeleteKey(L"NeverWas"));
  EXPECT_FALSE(reader.Open(HKEY_CURRENT_USER, base + L"\\NeverWas"));
  holder.Close();

  // Pruning below the test root: A is the first level and always stays.
  std::wstring prefix = std::wstring(kRoot);
  HKEY root = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, prefix.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                           &root, nullptr));
  {
    CRegistryWrite c;
    ASSERT_TRUE(c.Open(root, L"A\\B\\C"));
    c.SetString(L"held", L"x");
  }
  PruneEmptyKeys(root, L"A\\B\\C");
  EXPECT_TRUE(reader.Open(root, L"A\\B\\C"));
  reader.Close();
  RegDeleteKeyValueW(root, L"A\\B\\C", L"held");
  PruneEmptyKeys(root, L"A\\B\\C");
  EXPECT_FALSE(reader.Open(root, L"A\\B"));
  EXPECT_TRUE(reader.Open(root, L"A"));
  reader.Close();
  RegCloseKey(root);
}

TEST_F(RegistryValues, WalksOfKeysStopAtTheDepthBound) {
  std::wstring base = std::wstring(kRoot) + L"\\Deep", path = base;
  for (unsigned i = 0; i < kMaxKeyDepth + 4; ++i) path += L"\\K";
  {
    CRegistryWrite deepest;
    ASSERT_TRUE(deepest.Open(HKEY_CURRENT_USER, path));
  }
  CRegistry source;
  CRegistryWrite target;
  ASSERT_TRUE(source.Open(HKEY_CURRENT_USER, base));
  ASSERT_TRUE(target.Open(HKEY_CURRENT_USER, std::wstring(kRoot) + L"\\Copy"));
  EXPECT_FALSE(CopyKeyTree(source.key(), target.key(), nullptr, nullptr));
  source.Close();
  CRegistryDelete holder;
  ASSERT_TRUE(holder.Open(HKEY_CURRENT_USER, kRoot));
  EXPECT_FALSE(holder.DeleteKey(L"Deep")) << "too deep to walk: left, not a crash";
  holder.Close();
  RegDeleteTreeW(HKEY_CURRENT_USER, base.c_str());
}

}  // namespace
