#include <gtest/gtest.h>

#include "documents/text_lists.h"

using namespace orvo;

namespace {

TEST(SplitText, DropsEmptyFields) {
  TextList list{L"kept"};
  EXPECT_EQ(0, SplitText(L"", L";", list, false));
  EXPECT_EQ(TextList{L"kept"}, list);
  EXPECT_EQ(3, SplitText(L"a;;b;", L";", list, false));
  EXPECT_EQ((TextList{L"kept", L"a", L"b"}), list);
  EXPECT_EQ(1, SplitText(L";a", L";", list, true));
  EXPECT_EQ(TextList{L"a"}, list);
  EXPECT_EQ(2, SplitText(L"a||b", L"||", list, true));
  EXPECT_EQ((TextList{L"a", L"b"}), list);
  EXPECT_EQ(-1, SplitText(L"a", L"", list, true));
  EXPECT_EQ(0, SplitText(L";;;", L";", list, true));
}

TEST(SplitFields, KeepsEmptyFieldsButNotALeadingOne) {
  TextList list{L"old"};
  EXPECT_EQ(4, SplitFields(L"a;;b;", L';', list));
  EXPECT_EQ((TextList{L"a", L"", L"b", L""}), list);
  EXPECT_EQ(1, SplitFields(L";a", L';', list));
  EXPECT_EQ(TextList{L"a"}, list);
  EXPECT_EQ(0, SplitFields(L"", L';', list));
  EXPECT_EQ(4, SplitFields(L"a;;;b", L';', list));
  EXPECT_EQ((TextList{L"a", L"", L"", L"b"}), list);
  EXPECT_EQ(3, SplitFields(L"INSTALLDIR;;DATADIR", L';', list));
  EXPECT_EQ((TextList{L"INSTALLDIR", L"", L"DATADIR"}), list);
}

TEST(FieldAt, CountsEmptyFields) {
  std::wstring field;
  EXPECT_TRUE(FieldAt(L"a;;b", 1, field));
  EXPECT_EQ(L"", field);
  EXPECT_TRUE(FieldAt(L"a;;b", 2, field));
  EXPECT_EQ(L"b", field);
  EXPECT_FALSE(FieldAt(L"a;;b", 3, field));
  EXPECT_FALSE(FieldAt(L"a;", 1, field));
  EXPECT_FALSE(FieldAt(L"", 0, field));
  EXPECT_TRUE(FieldAt(L"x;path;", 1, field));
  EXPECT_EQ(L"path", field);
  EXPECT_EQ(L"", FieldAt(L"0101;C:\\m.xml", 2));
}

TEST(TextOperations, JoinStripReplaceFind) {
  EXPECT_EQ(L"", JoinText({}, L";"));
  EXPECT_EQ(L"a;;b", JoinText({L"a", L"", L"b"}, L";"));
  EXPECT_EQ(L"ab", JoinText({L"a", L"b"}, L""));
  EXPECT_EQ(L"Dir", StripPrefix(L"NOSLASH_Dir", L"NOSLASH_"));
  EXPECT_EQ(L"Dir", StripPrefix(L"Dir", L"NOSLASH_"));
  EXPECT_EQ(L"Dir", StripPrefix(L"Dir", L""));

  std::wstring text = L"aaa";
  EXPECT_EQ(3, ReplaceAll(text, L"a", L"aa"));
  EXPECT_EQ(L"aaaaaa", text);
  EXPECT_EQ(0, ReplaceAll(text, L"", L"x"));
  text = L"C:\\a\\\\b\\\\";
  EXPECT_EQ(2, ReplaceAll(text, L"\\\\", L"\\"));
  EXPECT_EQ(L"C:\\a\\b\\", text);

  TextList list{L"ABC", L"x", L"x"};
  EXPECT_EQ(1, IndexOfText(list, L"x"));
  EXPECT_EQ(-1, IndexOfText(list, L"abc"));
  EXPECT_TRUE(ContainsText(list, L"abc", false));
  EXPECT_FALSE(ContainsText(list, L"abc", true));
  EXPECT_TRUE(ContainsText(list, L"ABC", true));
  EXPECT_FALSE(ContainsText(list, L"ab", false));
}

TEST(SystemErrorText, NamesTheCodeAndTheSystemText) {
  std::wstring text = SystemErrorText(5);
  EXPECT_EQ(0u, text.find(L"5: "));
  EXPECT_GT(text.size(), 4u);
  EXPECT_NE(std::wstring::npos, text.find(L"ccess")) << "access denied";
}

}  // namespace
