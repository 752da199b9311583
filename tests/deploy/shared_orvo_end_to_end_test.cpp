// Two products through msiexec that install one Orvo into the same shared
// folder, with a per-user Orvo reaching a second user of the index from the
// cached cabinet: the references follow each product, and each removal
// takes exactly what no product references any more.
#include <gtest/gtest.h>
#include <shlobj.h>

#include "action/installer_session.h"
#include "appindex/app_index.h"
#include "documents/paths.h"
#include "support/media_tree.h"
#include "support/orvo_product.h"
#include "support/other_users.h"
#include "support/test_files.h"

using namespace orvo;
using namespace orvo::test;

namespace {

std::wstring ReferencePath(const std::wstring& orvo) {
  return CombinePath(SpecialFolder(CSIDL_COMMON_APPDATA), L"Keltra\\Orvos\\" + orvo + L"_ref.xml");
}

// The "ref" list of a file in an Orvo's shared reference document, or a
// mark for a missing document or file.
std::wstring Refs(const std::wstring& orvo, const std::wstring& subDirectory, const std::wstring& name) {
  XmlDocument document;
  std::wstring path = ReferencePath(orvo);
  if (!FileExists(path)) return L"<no document>";
  if (!document.Load(path)) return L"<unreadable>";
  DomNodeList* folders = document.document()->getElementsByTagName(L"SubDirectory");
  for (XMLSize_t i = 0; i < folders->getLength(); ++i) {
    auto* folder = static_cast<DomElement*>(folders->item(i));
    if (AttributeText(folder, L"Path") != subDirectory) continue;
    if (DomElement* file = FindChildElement(folder, L"File", L"Name", name)) return AttributeText(file, L"ref");
  }
  return L"<no file>";
}

class SharedOrvoEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    media_ = ScratchFolder(L"shared_e2e");
    for (auto* product : {&first_, &second_}) {
      product->sharedDataFolder = L"OrvoSharedE2E";
      product->perUserFolder = L"OrvoSharedE2E";
      product->entryPoints = {L"AppIndexWrite", L"OrvoInit",    L"OrvoRemove",       L"OrvoInstall",
                              L"OrvoCleanup",   L"AppIndexUninstall"};
    }
    first_.folderName = L"OrvoSharedOne";
    first_.guid = L"_ONE";
    second_.folderName = L"OrvoSharedTwo";
    second_.guid = L"_TWO";
    shared_ = DataFolder(first_);
    RemoveTree(shared_);
    secondHome_ = media_ + L"Users\\second\\";
    for (const wchar_t* orvo : {L"Common", L"Solo", L"Personal"}) DeleteFileW(ReferencePath(orvo).c_str());
    DeleteFileW(CombinePath(SpecialFolder(CSIDL_LOCAL_APPDATA), L"Keltra\\Orvos\\Personal_ref.xml").c_str());
  }
  void TearDown() override {
    for (const auto& code : {code1_, code2_})
      if (!code.empty()) RunMsiexec(L"/x " + code + L" /qn");
    RemoveTree(media_);
    RemoveTree(shared_);
    RemoveTree(userData_);
  }

  void WriteMedia() {
    MasterDocumentSpec master;
    const struct {
      const wchar_t* name;
      const wchar_t* directory;
      std::map<std::wstring, std::string> files;
    } orvos[] = {{L"Common", L"ORVODATA", {{L"Docs\\common.txt", "common"}, {L"Docs\\Deep\\deeper.txt", "deeper"}}},
                 {L"Solo", L"ORVODATA", {{L"Solo\\Inner\\solo.txt", "solo"}}},
                 {L"Personal", L"USERDATA", {{L"Macros\\mine.mac", "mine"}}}};
    for (const auto& orvo : orvos) {
      std::wstring n = orvo.name;
      master.orvos.push_back({n, L"true", L"", L"", n + L"\\" + n + L".xml", L"", L""});
      PackDocumentSpec pack;
      pack.orvoId = n;
      pack.cabinets = {{L"0", n + L".cab", L"", L"10", L"2", orvo.directory, L""}};
      ASSERT_TRUE(WritePackDocument(media_ + L"Content\\" + n + L"\\" + n + L".xml", pack));
      ASSERT_TRUE(WriteContentCabinet(media_ + L"Content\\" + n + L"\\" + n + L".cab", orvo.files));
    }
    ASSERT_TRUE(WriteMasterDocument(media_ + L"Content\\", master));
    for (auto [product, code] : {std::pair{&first_, &code1_}, std::pair{&second_, &code2_}}) {
      MsiPackage package(media_ + product->folderName + L".msi");
      *code = package.productCode();
      AddOrvoProduct(package, *product);
      package.Commit();
    }
  }
  DWORD Install(const OrvoProduct& product, const std::wstring& arguments) {
    return RunMsiexec(L"/i \"" + media_ + product.folderName + L".msi\" /qn " + arguments);
  }
  // The second user, recorded for the first product with folders of its own.
  void AddSecondUser() {
    ASSERT_TRUE(RecordUser(code1_, L"second", {{L"AppDataFolder", secondHome_ + L"Roaming\\"},
                                               {L"LocalAppDataFolder", secondHome_ + L"Local\\"},
                                               {L"USERDATA", secondHome_ + L"Roaming\\OrvoSharedE2E\\"}}));
  }

  OrvoProduct first_, second_;
  std::wstring media_, shared_, secondHome_, userData_, code1_, code2_;
};

TEST_F(SharedOrvoEndToEnd, EachRemovalTakesWhatNoProductReferences) {
  WriteMedia();
  userData_ = CombinePath(SpecialFolder(CSIDL_APPDATA), L"OrvoSharedE2E\\");
  RemoveTree(userData_);
  ASSERT_EQ(0u, Install(first_, L"ORVO_SELECTED=Common;Solo"));
  EXPECT_EQ("common", ReadFileBytes(shared_ + L"Docs\\common.txt"));
  EXPECT_EQ("solo", ReadFileBytes(shared_ + L"Solo\\Inner\\solo.txt"));
  EXPECT_EQ(code1_, Refs(L"Common", L"Docs\\", L"common.txt"));

  // The per-user Orvo comes in a change: the running user from the media,
  // the second user from the copy kept beside the installed pack document.
  AddSecondUser();
  ASSERT_EQ(0u, Install(first_, L"ORVO_ADDREMOVE=1 ORVO_SELECTED=Common;Solo;Personal REINSTALL=ALL REINSTALLMODE=os"));
  EXPECT_EQ("mine", ReadFileBytes(userData_ + L"Macros\\mine.mac"));
  EXPECT_EQ("mine", ReadFileBytes(secondHome_ + L"Roaming\\OrvoSharedE2E\\Macros\\mine.mac"));
  EXPECT_TRUE(FileExists(secondHome_ + L"Local\\Keltra\\Orvos\\Personal_ref.xml")) << "the second user's references";
  EXPECT_TRUE(FileExists(ProductFolder(first_) + L"Orvos\\Personal\\Personal.cab")) << "the cached cabinet";

  ASSERT_EQ(0u, Install(second_, L"ORVO_SELECTED=Common"));
  EXPECT_EQ(code2_ + code1_, Refs(L"Common", L"Docs\\", L"common.txt")) << "the newer product in front";

  ASSERT_EQ(0u, RunMsiexec(L"/x " + code1_ + L" /qn"));
  code1_.clear();
  EXPECT_EQ("common", ReadFileBytes(shared_ + L"Docs\\common.txt")) << "the second product still uses it";
  EXPECT_EQ("deeper", ReadFileBytes(shared_ + L"Docs\\Deep\\deeper.txt"));
  EXPECT_EQ(code2_, Refs(L"Common", L"Docs\\", L"common.txt"));
  EXPECT_FALSE(FileExists(shared_ + L"Solo\\Inner\\solo.txt"));
  EXPECT_FALSE(PathExists(shared_ + L"Solo\\")) << "emptied folders go";
  EXPECT_FALSE(FileExists(userData_ + L"Macros\\mine.mac"));
  EXPECT_FALSE(PathExists(ProductFolder(first_) + L"Orvos\\")) << "the installed master document goes";

  ASSERT_EQ(0u, RunMsiexec(L"/x " + code2_ + L" /qn"));
  code2_.clear();
  EXPECT_FALSE(FileExists(shared_ + L"Docs\\common.txt"));
  EXPECT_FALSE(PathExists(shared_ + L"Docs\\"));
  EXPECT_EQ(L"<no document>", Refs(L"Common", L"Docs\\", L"common.txt")) << "an emptied reference document goes";
  EXPECT_EQ(L"<no document>", Refs(L"Solo", L"Solo\\Inner\\", L"solo.txt"));
}

}  // namespace
