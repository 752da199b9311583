// Reference lists as whole entries, and documents whose entries name one
// file in different case.
#include <gtest/gtest.h>

#include <cstdio>

#include "deploy/reference_entries.h"
#include "support/test_files.h"

using namespace orvo;
using namespace orvo::test;

namespace {

TEST(ReferenceEntries, CodesMatchAsWholeEntriesAndSamePathsMerge) {
  EXPECT_TRUE(HasProductCode(L"{B}{A}", L"{A}"));
  EXPECT_FALSE(HasProductCode(L"{XA}", L"A}")) << "no substring";
  EXPECT_FALSE(HasProductCode(L"{A}", L""));
  EXPECT_EQ(L"{B}{C}", WithoutProductCode(L"{B}{A}{C}", L"{a}"));

  std::wstring path = ScratchFolder(L"refs") + L"Common_ref.xml";
  const char* extraction = "<ExtractionPath Path=\"%s\"><SubDirectory Path=\"%s\"><File Name=\"%s\" ref=\"%s\"/>";
  char one[200], two[200];
  snprintf(one, sizeof one, extraction, "C:\\Data\\", "Docs\\", "Readme.txt", "{A}");
  snprintf(two, sizeof two, extraction, "c:\\data\\", "DOCS\\", "README.TXT.", "{B}{A}");
  ASSERT_TRUE(WriteFileBytes(path, std::string("<DocumentRoot><Cabinets><Cabinet Name=\"c.cab\">") + one +
                                       "</SubDirectory></ExtractionPath>" + two +
                                       "</SubDirectory></ExtractionPath></Cabinet></Cabinets></DocumentRoot>"));
  XmlDocument document;
  ASSERT_TRUE(document.Load(path));
  EXPECT_TRUE(MergeSamePathEntries(document.root()));
  DomNodeList* files = document.document()->getElementsByTagName(L"File");
  ASSERT_EQ(1u, files->getLength()) << "existing documents' duplicates become one list";
  EXPECT_EQ(L"{A}{B}", AttributeText(static_cast<DomElement*>(files->item(0)), L"ref"));
  EXPECT_FALSE(MergeSamePathEntries(document.root()));
}

}  // namespace
