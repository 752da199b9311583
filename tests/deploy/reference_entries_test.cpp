// Reference lists as whole entries, and documents whose entries name one
// file in different case.
#include <gtest/gtest.h>

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
  ASSERT_TRUE(WriteFileBytes(path,
                             "<DocumentRoot><Cabinets><Cabinet Name=\"c.cab\">"
                             "<ExtractionPath Path=\"C:\\Data\\\"><SubDirectory Path=\"Docs\\\">"
                             "<File Name=\"Readme.txt\" ref=\"{A}\"/></SubDirectory></ExtractionPath>"
                             "<ExtractionPath Path=\"c:\\data\\\"><SubDirectory Path=\"DOCS\\\">"
                             "<File Name=\"README.TXT.\" ref=\"{B}{A}\"/><File Name=\"other.txt\" ref=\"{B}\"/>"
                             "</SubDirectory></ExtractionPath></Cabinet></Cabinets></DocumentRoot>"));
  XmlDocument document;
  ASSERT_TRUE(document.Load(path));
  EXPECT_TRUE(MergeSamePathEntries(document.root()));
  DomNodeList* files = document.document()->getElementsByTagName(L"File");
  ASSERT_EQ(2u, files->getLength());
  EXPECT_EQ(L"{A}{B}", AttributeText(static_cast<DomElement*>(files->item(0)), L"ref"));
  EXPECT_EQ(1u, document.document()->getElementsByTagName(L"ExtractionPath")->getLength());
  EXPECT_FALSE(MergeSamePathEntries(document.root())) << "nothing left to merge";
}

}  // namespace
