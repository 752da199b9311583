// The selection of Orvos: what the user chose, what was recorded, or the
// default from language, region and the master document's lists.
#include <gtest/gtest.h>

#include "action/installer_session.h"
#include "catalog/initial_selection.h"
#include "catalog/orvo_model.h"
#include "support/test_session.h"
#include "support/test_files.h"

using namespace orvo;
using namespace orvo::test;

namespace {

class InitialSelectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = ScratchFolder(L"selection");
    ASSERT_TRUE(session_.Open(folder_, L"SelectionTest", L"orvo_selection_test.log"));
  }
  void TearDown() override {
    session_.Close();
    RemoveTree(folder_);
  }
  DomElement* Master(const std::wstring& children) {
    std::wstring path = folder_ + L"master.xml";
    WriteFileBytes(path, ToNarrow(L"<Master>" + children + L"<Orvos/></Master>"));
    master_ = std::make_unique<XmlDocument>();
    return master_->Load(path) ? master_->root() : nullptr;
  }
  void Add(const std::wstring& id, TextList languages, bool anyRegion = false, TextList regions = {}) {
    auto orvo = std::make_unique<Orvo>();
    orvo->name = id;
    orvo->orvoId = id;
    orvo->languages = languages;
    orvo->preferAnyRegion = anyRegion;
    orvo->regions = regions;
    catalog_.orvos()[id] = std::move(orvo);
  }
  void Type(unsigned type) { session_.Type(type); }
  void Set(const std::wstring& name, const std::wstring& value) { session_.Set(name, value); }
  std::wstring Get(const std::wstring& name) { return session_.Get(name); }

  std::wstring folder_;
  TestSession session_;
  std::unique_ptr<XmlDocument> master_;
  OrvoCatalog catalog_;
};

TEST_F(InitialSelectionTest, DefaultsFollowLanguageThenTheMasterLists) {
  Add(L"en-any", {L"en"}, true);
  Add(L"fr-only", {L"fr"});
  Add(L"chinese", {L"cht"});
  Type(IT_NEWINSTALL);
  Set(L"LANG2LONG", L"en-US");
  DomElement* root = Master(L"<DefaultAlwaysSelection>extra;gone</DefaultAlwaysSelection>"
                            L"<DefaultAlwaysDeselection>gone</DefaultAlwaysDeselection>");
  ASSERT_TRUE(root);
  EXPECT_EQ(L"en-any;extra", InitialSelection(root, catalog_));
  EXPECT_EQ(L"en-any;extra", ChildText(root, L"InitialSelection")) << "recorded in a choice of content";

  Set(L"LANG2LONG", L"zh-TW");
  root = Master(L"");
  EXPECT_EQ(L"chinese", InitialSelection(root, catalog_));

  // Nothing matches and no lists: empty, and recorded as empty.
  Set(L"LANG2LONG", L"de-DE");
  root = Master(L"<InitialSelection>old</InitialSelection><DefaultSelection></DefaultSelection>");
  Set(L"ORVO_SELECTED", L"");
  SetChildText(root, L"InitialSelection", L"");
  EXPECT_EQ(L"", InitialSelection(root, catalog_));
  EXPECT_EQ(L"", ChildText(root, L"InitialSelection"));
  root = Master(L"<DefaultSelection>fr-only;;fr-only</DefaultSelection>");
  EXPECT_EQ(L"fr-only", InitialSelection(root, catalog_));
}

TEST_F(InitialSelectionTest, ChosenRecordedAndPublishedSelections) {
  Add(L"A", {});
  Add(L"B", {});
  Type(IT_ADDREMOVE);
  DomElement* root = Master(L"<InitialSelection>A</InitialSelection>");
  ASSERT_TRUE(root);
  Set(L"ORVO_SELECTED", L";");
  EXPECT_EQ(L"", InitialSelection(root, catalog_));
  EXPECT_EQ(L"A", ChildText(root, L"InitialSelection")) << "a lone separator records nothing";
  Set(L"ORVO_SELECTED", L"B;;A;");
  EXPECT_EQ(L"B;A", InitialSelection(root, catalog_));
  EXPECT_EQ(L"B;A", ChildText(root, L"InitialSelection"));

  // Outside a choice of content the user's property is not read: the
  // recorded selection is published in it.
  Type(IT_REINSTALL | IT_REPAIRFIL);
  Set(L"ORVO_SELECTED", L"B");
  root = Master(L"<InitialSelection>A;B</InitialSelection>");
  EXPECT_EQ(L"A;B", InitialSelection(root, catalog_));
  EXPECT_EQ(L"A;B", Get(L"ORVO_SELECTED"));
}

}  // namespace
