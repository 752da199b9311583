// AppIndex operations inside one session, on an index in a scratch folder.
#include <gtest/gtest.h>

#include "action/installer_session.h"
#include "appindex/app_index.h"
#include "support/msi_package.h"
#include "support/test_files.h"

using namespace orvo;
using namespace orvo::test;

namespace {

class AppIndexTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = ScratchFolder(L"appindex");
    {
      MsiPackage package(folder_ + L"p.msi");
      code_ = package.productCode();
      package.Commit();
    }
    session_ = OpenPackage(folder_ + L"p.msi");
    ASSERT_TRUE(session_);
    InstallerSession::Instance().Begin(session_.get(), L"AppIndexTest", L"orvo_appindex_test.log");
    path_ = folder_ + L"appIndex.xml";
    ASSERT_TRUE(WriteResourceFile(kEmptyAppIndex, path_));
  }
  void TearDown() override {
    session_.reset();
    RemoveTree(folder_);
  }
  void Set(const std::wstring& name, const std::wstring& value) { MsiSetPropertyW(session_.get(), name.c_str(), value.c_str()); }
  std::wstring Get(const std::wstring& name) { return InstallerSession::Instance().GetProperty(name, true); }
  void Classify(unsigned type) { InstallerSession::Instance().Classify(InstallTypeToText(type)); }

  std::wstring folder_, path_, code_;
  unique_msihandle session_;
};

TEST_F(AppIndexTest, RepairRestoresTheRecordedFolderAndFirstInstallReplacesIt) {
  Set(L"INDEXED_DIRECTORIES", L"INSTALLDIR");
  Set(L"INDEXED_PROPERTIES", L"COLOR");
  Set(L"COLOR", L"red");
  Set(L"INSTALLDIR", L"C:\\Old\\");
  Classify(IT_NEWINSTALL);
  ASSERT_TRUE(AppIndex(path_).WriteProduct());
  std::string first = ReadFileBytes(path_);
  ASSERT_TRUE(AppIndex(path_).WriteProduct());
  EXPECT_EQ(first, ReadFileBytes(path_)) << "rewriting the same record changes nothing";

  Set(L"INSTALLDIR", L"C:\\New\\");
  Classify(IT_REINSTALL);
  ASSERT_TRUE(AppIndex(path_).WriteProduct());
  EXPECT_EQ(L"C:\\Old\\", Get(L"INSTALLDIR"));
  EXPECT_EQ(L"C:\\Old\\", AppIndex(path_).GetIndexedDirectory(code_, L"INSTALLDIR"));

  Set(L"INSTALLDIR", L"C:\\New\\");
  Classify(IT_NEWINSTALL);
  ASSERT_TRUE(AppIndex(path_).WriteProduct());
  EXPECT_EQ(L"C:\\New\\", AppIndex(path_).GetIndexedDirectory(code_, L"INSTALLDIR"));
  TextList users;
  EXPECT_TRUE(AppIndex(path_).ListUsers(code_, users));
  EXPECT_EQ(TextList{CurrentUserName()}, users) << "a user entry even without per-user directories";

  ASSERT_TRUE(WriteResourceFile(kAppIndexSchema, folder_ + L"appIndex.xsd"));
  AppIndex validated(path_);
  EXPECT_EQ(L"", validated.LookupProperty(code_, L"COLOR")) << "not open yet";
  ASSERT_TRUE(validated.OpenValidated()) << validated.LastError();
  EXPECT_EQ(L"red", validated.LookupProperty(code_, L"COLOR"));
  WriteFileBytes(path_, "<DocumentRoot xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
                        "xsi:noNamespaceSchemaLocation=\"./appIndex.xsd\"><Product ProductCode=\"x\"/></DocumentRoot>");
  EXPECT_FALSE(AppIndex(path_).OpenValidated()) << "a product without its parts breaks the schema";
}

TEST_F(AppIndexTest, PerUserMarkKeepsTheNoWriteBit) {
  std::wstring user = CurrentUserName();
  WriteFileBytes(path_, ToNarrow(L"<DocumentRoot><Product ProductCode=\"" + code_ +
                                 L"\"><Properties/><Directories><Directory Name=\"D\" Data=\"C:\\D\\\" "
                                 L"Flags=\"2\"/></Directories><Users/></Product></DocumentRoot>"));
  Set(L"D", L"C:\\D\\");
  Classify(IT_REINSTALL);
  ASSERT_TRUE(AppIndex(path_).WriteDirectory(code_, L"D", true));
  DirectoryTable product;
  UserDirectoryTables users;
  ASSERT_TRUE(AppIndex(path_).CollectDirectories(code_, product, users));
  EXPECT_EQ(unsigned(AI_FLAG_PERUSER | AI_FLAG_NOWRITE), product[L"D"].flags);
  EXPECT_EQ(L"C:\\D\\", users[user][L"D"].path);
  EXPECT_EQ(unsigned(AI_FLAG_PERUSER), users[user][L"D"].flags);
}

TEST_F(AppIndexTest, NewProductsGoBeforeAnEmbeddedSchemaAndUnknownOnesAreNotRemoved) {
  WriteFileBytes(path_, "<DocumentRoot xmlns:xs=\"http://www.w3.org/2001/XMLSchema\"><Product ProductCode=\"old\">"
                        "<Properties/><Directories/></Product><xs:schema/></DocumentRoot>");
  AppIndex index(path_);
  ASSERT_TRUE(index.Open());
  DomElement* old = index.GetOrCreateProduct(L"old");
  DomElement* created = index.GetOrCreateProduct(L"new");
  ASSERT_TRUE(created);
  EXPECT_NE(old, created);
  EXPECT_EQ(old->getNextSibling(), created);
  EXPECT_EQ(std::wstring(L"xs:schema"), created->getNextSibling()->getNodeName());
  EXPECT_EQ(std::wstring(L"Properties"), created->getFirstChild()->getNodeName());
  EXPECT_EQ(std::wstring(L"Directories"), created->getLastChild()->getNodeName());

  std::string before = ReadFileBytes(path_);
  EXPECT_FALSE(AppIndex(path_).RemoveProduct(L"unknown"));
  EXPECT_EQ(before, ReadFileBytes(path_));
}

TEST_F(AppIndexTest, AnIndexThatDeclaresADocumentTypeIsNeitherFollowedNorRewritten) {
  // Every user may write the index; the installer must not go where a
  // planted declaration points (a file, a share, a server) nor save it back.
  WriteFileBytes(folder_ + L"planted.dtd", "<!ATTLIST Property Data CDATA \"from outside\">");
  WriteFileBytes(path_, ToNarrow(L"<!DOCTYPE DocumentRoot SYSTEM \"planted.dtd\"><DocumentRoot><Product ProductCode=\"" +
                                 code_ + L"\"><Properties><Property Name=\"P\"/></Properties><Directories/>"
                                 L"<Users/></Product></DocumentRoot>"));
  std::string before = ReadFileBytes(path_);
  EXPECT_EQ(L"", AppIndex(path_).GetIndexedProperty(code_, L"P"));
  Set(L"INDEXED_PROPERTIES", L"COLOR");
  Set(L"COLOR", L"red");
  Classify(IT_NEWINSTALL);
  EXPECT_FALSE(AppIndex(path_).WriteProduct());
  EXPECT_EQ(before, ReadFileBytes(path_));
}

TEST_F(AppIndexTest, ResolveUserReferencesEndsOnSelfReferences) {
  Set(L"INDEXED_PERUSERDIRS", L"UDIR");
  Set(L"UDIR", L"C:\\Users\\u\\");
  Classify(IT_NEWINSTALL);
  ASSERT_TRUE(AppIndex(path_).WriteProduct());
  Set(L"UDIR", L"C:\\Property\\");
  Set(L"OTHER", L"C:\\Other\\");
  Set(L"SELF", L"x[SELF]");
  Set(L"PING", L"[PONG]");
  Set(L"PONG", L"[PING]");

  AppIndex index(path_);
  std::wstring text = L"[UDIR]a;[OTHER]b;[UDIR]c";
  index.ResolveUserReferences(code_, CurrentUserName(), text);
  EXPECT_EQ(L"C:\\Users\\u\\a;C:\\Other\\b;C:\\Users\\u\\c", text);
  text = L"[UDIR]";
  index.ResolveUserReferences(code_, L"someone else", text);
  EXPECT_EQ(L"C:\\Property\\", text) << "no entry for that user: the property";
  text = L"[SELF]|[PING]|[MISSING]|[open";
  index.ResolveUserReferences(code_, CurrentUserName(), text);
  EXPECT_EQ(L"x[SELF]|[PING]||[open", text);

  // Folders in the index that name each other twice over would double the
  // text with every name; the expansion stops long before memory runs out.
  std::wstring chain;
  for (int i = 0; i < 24; ++i)
    chain += L"<Directory Name=\"D" + std::to_wstring(i) + L"\" Data=\"[D" + std::to_wstring(i + 1) + L"][D" +
             std::to_wstring(i + 1) + L"]\"/>";
  WriteFileBytes(path_, ToNarrow(L"<DocumentRoot><Product ProductCode=\"" + code_ + L"\"><Properties/><Directories/>"
                                 L"<Users><User Name=\"" + CurrentUserName() + L"\"><Directories>" + chain +
                                 L"<Directory Name=\"D24\" Data=\"leaf\"/></Directories></User></Users></Product>"
                                 L"</DocumentRoot>"));
  AppIndex hostile(path_);
  text = L"[D0]";
  hostile.ResolveUserReferences(code_, CurrentUserName(), text);
  EXPECT_GT(text.size(), 1000u) << "ordinary growth is expanded";
  EXPECT_LE(text.size(), 1u << 20);
}

}  // namespace
