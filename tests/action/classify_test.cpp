#include <gtest/gtest.h>

#include "action/installer_session.h"
#include "support/msi_package.h"
#include "support/test_files.h"

using namespace orvo;
using namespace orvo::test;

namespace {

class ClassifyTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    path_ = new std::wstring(UniqueTempPath(L"classify") + L".msi");
    MsiPackage package(*path_);
    package.Commit();
  }
  void SetUp() override {
    session_ = OpenPackage(*path_);
    ASSERT_TRUE(session_);
    logName_ = L"orvo_classify_test_" + std::to_wstring(GetCurrentProcessId()) + L".log";
  }
  // Sets the properties, then begins an immediate action, which classifies.
  unsigned ClassifyWith(const std::vector<std::pair<std::wstring, std::wstring>>& properties) {
    for (const auto& p : properties) MsiSetPropertyW(session_.get(), p.first.c_str(), p.second.c_str());
    DeleteFileW(CombinePath(TempFolder(), logName_).c_str());
    InstallerSession::Instance().Begin(session_.get(), L"ClassifyTest", logName_);
    return InstallerSession::Instance().installType();
  }
  std::vector<std::wstring> Lines() { return SplitLines(ReadUtf16File(InstallerSession::Instance().logPath())); }
  bool HasLine(const std::wstring& line) {
    for (const auto& l : Lines())
      if (l == line) return true;
    return false;
  }

  static std::wstring* path_;
  unique_msihandle session_;
  std::wstring logName_;
};
std::wstring* ClassifyTest::path_ = nullptr;

TEST_F(ClassifyTest, FirstInstallationIsNewInstallOnly) {
  EXPECT_EQ(0x080u, ClassifyWith({}));
  EXPECT_EQ(std::wstring(24, L'0') + L"10000000", InstallerSession::Instance().installTypeText());
  EXPECT_TRUE(HasLine(L"    => dwInstallType: IT_NEWINSTALL"));
  // Every condition, in order, leaves its line.
  std::vector<std::wstring> conditions;
  for (const auto& l : Lines())
    if (l.find(L"    => Condition \"") == 0) conditions.push_back(l.substr(18, l.find(L"\" evaluates") - 18));
  EXPECT_EQ((std::vector<std::wstring>{L"NOT Installed", L"Installed", L"VEXA_SECONDARY_INSTALL", L"REMOVE=\"ALL\"",
                                       L"PATCH OR STRUOPATCHFEATURES", L"MSIPATCHREMOVE", L"QUILSELECTION=\"1\"",
                                       L"ORVO_ADDREMOVE", L"THISUSERHASNOTRUNTHEPRODUTCYET"}),
            conditions);
  EXPECT_TRUE(HasLine(L"    => Get: REINSTALLMODE: "));
}

TEST_F(ClassifyTest, ReinstallModeLettersAreLowerCaseOnly) {
  EXPECT_EQ(unsigned(IT_NEWINSTALL | IT_REPAIRREG), ClassifyWith({{L"REINSTALLMODE", L"omus"}}));
  EXPECT_EQ(unsigned(IT_NEWINSTALL | IT_REPAIRREG | IT_REPAIRFIL), ClassifyWith({{L"REINSTALLMODE", L"ecmus"}}));
  EXPECT_EQ(unsigned(IT_NEWINSTALL), ClassifyWith({{L"REINSTALLMODE", L"AE"}}));
  EXPECT_TRUE(HasLine(L"    => Get: REINSTALLMODE: AE"));
}

TEST_F(ClassifyTest, PropertiesSetTheirBits) {
  EXPECT_EQ(unsigned(IT_NEWINSTALL | IT_ADDREMOVE), ClassifyWith({{L"ORVO_ADDREMOVE", L"1"}}));
  EXPECT_TRUE(HasLine(L"    => dwInstallType: IT_NEWINSTALL | IT_ADDREMOVE"));
  unsigned all = ClassifyWith({{L"VEXA_SECONDARY_INSTALL", L"1"}, {L"STRUOPATCHFEATURES", L"f"},
                               {L"MSIPATCHREMOVE", L"p"}, {L"QUILSELECTION", L"1"},
                               {L"THISUSERHASNOTRUNTHEPRODUTCYET", L"1"}, {L"REMOVE", L"ALL"}});
  EXPECT_EQ(unsigned(IT_NEWINSTALL | IT_ADDREMOVE | IT_SECONDARY | IT_PATCH | IT_PATCHREMOVE | IT_DEPLOYMENT |
                     IT_NEWUSER | IT_UNINSTALL),
            all);
  EXPECT_EQ(unsigned(IT_NEWINSTALL | IT_ADDREMOVE | IT_SECONDARY | IT_PATCHREMOVE | IT_DEPLOYMENT | IT_NEWUSER |
                     IT_UNINSTALL),
            ClassifyWith({{L"STRUOPATCHFEATURES", L""}, {L"QUILSELECTION", L"1"}}));
}

TEST_F(ClassifyTest, RemovalOfAnInstalledProduct) {
  EXPECT_EQ(0x003u, ClassifyWith({{L"Installed", L"1"}, {L"REMOVE", L"ALL"}}));
  EXPECT_TRUE(HasLine(L"    => dwInstallType: IT_REINSTALL | IT_UNINSTALL"));
}

TEST_F(ClassifyTest, FromTextEvaluatesNothing) {
  ClassifyWith({});
  auto& s = InstallerSession::Instance();
  size_t before = Lines().size();
  s.Classify(std::wstring(32, L'1'));
  EXPECT_EQ(0xFFFFFFFFu, s.installType());
  auto lines = Lines();
  ASSERT_EQ(before + 1, lines.size());
  EXPECT_EQ(L"    => dwInstallType: IT_NEWINSTALL | IT_SECONDARY | IT_REINSTALL | IT_REPAIRFIL | IT_REPAIRREG | "
            L"IT_UNINSTALL | IT_DEPLOYMENT | IT_PATCH | IT_PATCHREMOVE | IT_ADDREMOVE | IT_NEWUSER",
            lines.back());
  s.Classify(std::wstring(32, L'0'));
  EXPECT_EQ(0u, s.installType());
  EXPECT_EQ(L"    => dwInstallType: ", Lines().back());
}

TEST(InstallTypeText, RoundTripsAndReadsShortTexts) {
  for (unsigned word : {0u, 0x080u, 0x698u, 0x28Cu, 0x80000001u, 0xFFFFFFFFu}) {
    std::wstring text = InstallTypeToText(word);
    ASSERT_EQ(32u, text.size());
    EXPECT_EQ(word, InstallTypeFromText(text));
  }
  EXPECT_EQ(L"00000000000000000000011010011000", InstallTypeToText(0x698));
  EXPECT_EQ(0x80000000u, InstallTypeFromText(L"1"));
  EXPECT_EQ(0x40000000u, InstallTypeFromText(L"x1"));
  EXPECT_EQ(1u, InstallTypeFromText(std::wstring(31, L'0') + L"1111"));
  EXPECT_EQ(L"IT_REINSTALL | IT_UNINSTALL", InstallTypeNames(0x003));
}

}  // namespace
