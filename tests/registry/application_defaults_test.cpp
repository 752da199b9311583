// Which Orvo's application defaults win, through a real session: the
// passes run from the last Orvo to the first, then the imperial Orvo, then
// the preferred one after the Orvos it inherits from.
#include <gtest/gtest.h>

#include "action/installer_session.h"
#include "catalog/orvo_model.h"
#include "registry/application_defaults.h"
#include "support/test_session.h"
#include "support/test_files.h"

using namespace orvo;
using namespace orvo::test;

namespace {

class ApplicationDefaultsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = ScratchFolder(L"appdefaults");
    ASSERT_TRUE(session_.Open(folder_, L"ApplicationDefaultsTest", L"orvo_appdefaults_test.log",
                              {{L"INSTALLDIR", L"C:\\Product\\"}}));
  }
  void TearDown() override {
    session_.Close();
    RemoveTree(folder_);
  }
  // An Orvo whose pack document sets X (and its own name into LAST_<name>).
  void Add(const std::wstring& name, int request, int current, const std::wstring& inheritance = L"",
           bool withDefaults = true) {
    auto orvo = std::make_unique<Orvo>();
    orvo->name = name;
    orvo->request = request;
    orvo->current = current;
    orvo->packDocumentPath = folder_ + name + L".xml";
    std::wstring body = L"<Pack><Inheritance>" + inheritance + L"</Inheritance>";
    if (withDefaults)
      body += L"<ApplicationDefaults><Property Name=\"X\" Value=\"" + name +
              L"\"/><Property Name=\"DATA_" + name + L"\" Value=\"[INSTALLDIR]Data\"/></ApplicationDefaults>";
    WriteFileBytes(orvo->packDocumentPath, ToNarrow(body + L"</Pack>"));
    ASSERT_TRUE(orvo->packDocument.Load(orvo->packDocumentPath));
    catalog_.orvos()[name] = std::move(orvo);
  }
  void Set(const std::wstring& name, const std::wstring& value) { session_.Set(name, value); }
  std::wstring Get(const std::wstring& name) { return InstallerSession::Instance().GetProperty(name, true); }
  std::wstring LogText() { return session_.Log(); }

  std::wstring folder_;
  TestSession session_;
  OrvoCatalog catalog_;
};

TEST_F(ApplicationDefaultsTest, PassesOrderTheWinners) {
  Add(L"A", kRequestInstall, kCurrentlyNotInstalled);
  Add(L"B", kRequestNull, kCurrentlyInstalled);
  Add(L"C", kRequestInstall, kCurrentlyNotInstalled, L"A;Missing;B");
  Add(L"D", kRequestRemove, kCurrentlyInstalled);
  Add(L"E", kRequestInstall, kCurrentlyNotInstalled, L"", false);

  // Plain pass: from the last to the first, so A, the first, stays.
  EXPECT_EQ(0, SetApplicationDefaults(catalog_));
  EXPECT_EQ(L"A", Get(L"X"));
  EXPECT_EQ(L"C:\\Product\\Data", Get(L"DATA_A")) << "values are formatted";
  EXPECT_EQ(L"C:\\Product\\Data", Get(L"DATA_D")) << "an Orvo going away is applied in the removal pass";
  std::wstring log = LogText();
  EXPECT_NE(std::wstring::npos, log.find(L" - Set props for removal - B")) << "B has no action";
  EXPECT_NE(std::wstring::npos, log.find(L" - Set props for removal - D"));
  EXPECT_EQ(std::wstring::npos, log.find(L" - Set ApplicationDefaults - D")) << "D goes away";

  // Imperial B wins over A and is not applied in the plain pass.
  size_t before = log.size();
  Set(L"SETIMPERIALDEFAULTS", L"1");
  Set(L"IMPERIALPACK", L"B");
  Set(L"X", L"");
  SetApplicationDefaults(catalog_);
  log = LogText().substr(before);
  EXPECT_EQ(L"B", Get(L"X"));
  EXPECT_EQ(std::wstring::npos, log.find(L" - Set ApplicationDefaults - B"));
  EXPECT_NE(std::wstring::npos, log.find(L" - Set Imperial pack - B"));
  EXPECT_EQ(std::wstring::npos, log.find(L" - Set preferred pack")) << "IMPERIALPACK set: no preferred Orvo";

  // Preferred C after its bases A and B, skipping a name that is no Orvo.
  before = LogText().size();
  Set(L"ORVO_PREFERENCE", L"C");
  SetApplicationDefaults(catalog_);
  log = LogText().substr(before);
  EXPECT_EQ(L"C", Get(L"X"));
  size_t a = log.find(L" - Set preferred pack inheritance - A");
  size_t b = log.find(L" - Set preferred pack inheritance - B");
  size_t c = log.find(L" - Set preferred pack - C");
  ASSERT_NE(std::wstring::npos, a);
  EXPECT_TRUE(a < b && b < c && c != std::wstring::npos);
  EXPECT_EQ(std::wstring::npos, log.find(L"inheritance - Missing"));
}

}  // namespace
