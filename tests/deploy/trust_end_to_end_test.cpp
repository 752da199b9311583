// Everything a user can write, planted at once under msiexec: folders added
// to the product's record of the index, a reference document listing files
// outside, a master document with moved paths, a link inside the shared
// content folder, pack defaults aimed at the hand-over, and two products
// recording one file in different case. Install, repair and removal leave
// everything outside the product's folders as it was, and log each refusal.
#include <gtest/gtest.h>
#include <shlobj.h>

#include "action/installer_session.h"
#include "action/wformat.h"
#include "appindex/app_index.h"
#include "documents/paths.h"
#include "documents/xml_document.h"
#include "support/links.h"
#include "support/media_tree.h"
#include "support/orvo_product.h"
#include "support/other_users.h"
#include "support/test_files.h"

using namespace orvo;
using namespace orvo::test;

namespace {

const wchar_t kPlantedReference[] =
    L"<DocumentRoot xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
    L"xsi:noNamespaceSchemaLocation=\"./orvo_ref.xsd\"><Cabinets><Cabinet Name=\"Common.cab\"><ExtractionPath Path=\"%s\"><SubDirectory Path=\"\\\">"
    L"<File Name=\"precious.txt\" ref=\"%s\"/></SubDirectory></ExtractionPath></Cabinet></Cabinets></DocumentRoot>";

class TrustEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    for (auto* product : {&first_, &second_}) {
      product->sharedDataFolder = L"OrvoTrustE2E";
      product->perUserFolder = L"OrvoTrustE2E";
      product->entryPoints = {L"AppIndexWrite", L"OrvoInit", L"OrvoRemove", L"OrvoInstall", L"OrvoCleanup",
                              L"AppIndexUninstall"};
    }
    first_.folderName = L"OrvoTrustOne";
    first_.guid = L"_ONE";
    second_.folderName = L"OrvoTrustTwo";
    second_.guid = L"_TWO";
    media_ = ScratchFolder(L"trust_e2e");
    // Outside every profile and product folder.
    outside_ = VolumeRoot(TempFolder()) + L"orvo_trust_outside\\";
    shared_ = DataFolder(first_);
    userReference_ = CombinePath(SpecialFolder(CSIDL_LOCAL_APPDATA), L"Keltra\\Orvos\\Common_ref.xml");
    Clean();
  }
  void TearDown() override {
    for (const auto& code : {code1_, code2_})
      if (!code.empty()) RunMsiexec(L"/x " + code + L" /qn");
    Clean();
  }
  void Clean() {
    RemoveFolderLink(shared_ + L"Docs\\Linked");
    for (const auto& path : {media_, outside_}) RemoveTree(path);
    RemoveTree(shared_);
    DeleteFileW(userReference_.c_str());
    DeleteFileW(CombinePath(ParentFolder(userReference_), L"orvo_ref.xsd").c_str());
    DeleteFileW(SharedReference().c_str());
  }
  static std::wstring SharedReference() {
    return CombinePath(SpecialFolder(CSIDL_COMMON_APPDATA), L"Keltra\\Orvos\\Common_ref.xml");
  }
  void WriteMedia(const std::wstring& folder, OrvoProduct& product, std::wstring& code,
                  const std::map<std::wstring, std::string>& files) {
    MasterDocumentSpec master;
    master.orvos.push_back({L"Common", L"true", L"", L"", L"Common\\Common.xml", L"", L""});
    PackDocumentSpec pack;
    pack.orvoId = L"Common";
    pack.cabinets = {{L"0", L"Common.cab", L"", L"10", L"2", L"ORVODATA", L""}};
    pack.applicationDefaults = {{L"orvo_Install" + product.guid, L"planted"}, {L"ZIRBHOSTAPPREGROOT", L"Planted"}};
    ASSERT_TRUE(WritePackDocument(folder + L"Content\\Common\\Common.xml", pack));
    ASSERT_TRUE(WriteContentCabinet(folder + L"Content\\Common\\Common.cab", files));
    ASSERT_TRUE(WriteMasterDocument(folder + L"Content\\", master));
    MsiPackage package(folder + product.folderName + L".msi");
    code = package.productCode();
    AddOrvoProduct(package, product);
    package.Commit();
  }
  DWORD Run(const std::wstring& arguments) {
    DeleteFileW(log_.c_str());
    DWORD result = RunMsiexec(arguments);
    log_text_ += ReadUtf16File(log_);
    return result;
  }
  void ExpectLogged(const std::wstring& line) {
    EXPECT_NE(std::wstring::npos, log_text_.find(line)) << ToNarrow(line);
  }

  OrvoProduct first_, second_;
  std::wstring media_, outside_, shared_, userReference_, code1_, code2_;
  std::wstring log_ = CombinePath(TempFolder(), L"orvo_Install.log"), log_text_;
};

TEST_F(TrustEndToEnd, NothingAUserPlantsSteersTheElevatedActions) {
  const std::wstring one = media_ + L"one\\", two = media_ + L"two\\";
  WriteMedia(one, first_, code1_, {{L"Docs\\Readme.txt", "shared"}, {L"Docs\\Linked\\inner.txt", "inner"}});
  WriteMedia(two, second_, code2_, {{L"DOCS\\README.TXT", "shared"}, {L"DOCS\\LINKED\\inner.txt", "planted"}});
  ASSERT_EQ(0u, Run(L"/i \"" + one + L"OrvoTrustOne.msi\" /qn ORVO_SELECTED=Common"));
  ASSERT_EQ("inner", ReadFileBytes(shared_ + L"Docs\\Linked\\inner.txt"));
  ExpectLogged(L"  !-> Refused property orvo_Install_ONE: the library's own");
  ExpectLogged(L"  !-> Refused property ZIRBHOSTAPPREGROOT: the library's own");

  // The plants: the outside folder, and what leads there.
  const std::map<std::wstring, std::string> outsideFiles = {
      {L"precious.txt", "keep me"}, {L"inner.txt", "outside"}, {L"Local\\keep.txt", "mine"}};
  for (const auto& [name, bytes] : outsideFiles) {
    EnsureFolder(ParentFolder(outside_ + name));
    ASSERT_TRUE(WriteFileBytes(outside_ + name, bytes));
  }
  ASSERT_TRUE(RecordUser(code1_, L"intruder", {{L"LocalAppDataFolder", outside_ + L"Local\\"},
                                               {L"USERDATA", outside_}}));
  ASSERT_TRUE(RecordUser(code1_, CurrentUserName(), {{L"PLANTED", outside_}}));
  EnsureFolder(ParentFolder(userReference_));
  ASSERT_TRUE(WriteFileBytes(userReference_, ToNarrow(Format(kPlantedReference, outside_, code1_))));
  ASSERT_TRUE(CopyFileW(CombinePath(ParentFolder(SharedReference()), L"orvo_ref.xsd").c_str(),
                        CombinePath(ParentFolder(userReference_), L"orvo_ref.xsd").c_str(), FALSE));
  {
    AppIndex index;
    ASSERT_TRUE(index.Open());
    index.SetNameData(FirstChildElement(index.GetOrCreateProduct(code1_), L"Directories"), L"Directory", L"PLANTED",
                      outside_);
    ASSERT_TRUE(index.Save());
  }
  std::wstring installed = ProductFolder(first_) + L"Orvos\\master.xml";
  {
    XmlDocument master;
    ASSERT_TRUE(master.Load(installed));
    SetChildText(master.root(), L"OrvoInstallRoot", outside_);
    SetChildText(master.root(), L"MasterDocumentFolder", L"..\\..\\");
    ASSERT_TRUE(master.Save(L"UTF-16", L"\r\n"));
  }
  RemoveTree(shared_ + L"Docs\\Linked\\");
  ASSERT_TRUE(PlantFolderLink(shared_ + L"Docs\\Linked", outside_)) << "Wine made no link";

  ASSERT_EQ(0u, Run(L"/i \"" + one + L"OrvoTrustOne.msi\" /qn REINSTALL=ALL REINSTALLMODE=amus"));
  ASSERT_EQ(0u, Run(L"/i \"" + two + L"OrvoTrustTwo.msi\" /qn ORVO_SELECTED=Common"));
  std::wstring references = ReadUtf16File(SharedReference());
  EXPECT_EQ(1u, CountOf(FoldCase(references), L"NAME=\"README.TXT\"")) << "one reference list, either case";
  EXPECT_NE(std::wstring::npos, references.find(L"ref=\"" + code2_ + code1_ + L"\""));
  ASSERT_EQ(0u, Run(L"/x " + code1_ + L" /qn"));
  code1_.clear();
  EXPECT_EQ("shared", ReadFileBytes(shared_ + L"Docs\\Readme.txt")) << "the second product still references it";
  ASSERT_EQ(0u, Run(L"/x " + code2_ + L" /qn"));
  code2_.clear();
  EXPECT_FALSE(FileExists(shared_ + L"Docs\\Readme.txt"));

  EXPECT_EQ(outsideFiles, ReadTree(outside_)) << "nothing outside the product's folders changes";
  ExpectLogged(L"  !-> Refused folder " + outside_ + L" of directory PLANTED for user " + CurrentUserName() +
               L": not inside the user's profile folder");
  ExpectLogged(L"  !-> Refused folder " + outside_ +
               L" of directory PLANTED: not a folder the installer resolved for this product");
  ExpectLogged(L"  !-> Refused folder " + outside_ + L"Local\\ of directory LocalAppDataFolder for user intruder");
  ExpectLogged(L"  !-> Refused " + outside_ + L": not a folder of this product");
  ExpectLogged(L"  !=> Refused OrvoInstallRoot, MasterDocumentFolder and MediaRoot of " + installed);
  ExpectLogged(L"!=> Failed to create folder: " + shared_ + L"DOCS\\LINKED\\inner.txt (refused: " + shared_ +
               L"DOCS\\LINKED is a link)");
  ExpectLogged(L"  !-> Refused " + shared_ + L"Docs\\Linked\\: " + shared_ + L"Docs\\Linked is a link");
}

}  // namespace
