// Broken and planted documents under msiexec: a pack document that does not
// load drops its Orvo, a reference document that does not load keeps its
// cabinet out and is left as it is, a reference entry planted to point
// outside the product deletes nothing, and a master document that does not
// load stops nothing. Each is logged; the installations succeed.
#include <gtest/gtest.h>
#include <shlobj.h>

#include "action/installer_session.h"
#include "documents/paths.h"
#include "documents/xml_document.h"
#include "support/media_tree.h"
#include "support/orvo_product.h"
#include "support/test_files.h"

using namespace orvo;
using namespace orvo::test;

namespace {

std::wstring ReferencePath(const std::wstring& orvo) {
  return CombinePath(SpecialFolder(CSIDL_COMMON_APPDATA), L"Keltra\\Orvos\\" + orvo + L"_ref.xml");
}

class HostileDocuments : public ::testing::Test {
 protected:
  void SetUp() override {
    media_ = ScratchFolder(L"hostile_e2e");
    victim_ = ScratchFolder(L"hostile_victim");
    product_.folderName = L"OrvoHostileE2E";
    product_.entryPoints = {L"AppIndexWrite", L"OrvoInit", L"OrvoRemove", L"OrvoInstall", L"OrvoCleanup",
                            L"AppIndexUninstall"};
    data_ = DataFolder(product_);
    RemoveTree(ProductFolder(product_));
    for (const wchar_t* orvo : {L"Good", L"BadPack", L"BadRef"}) DeleteFileW(ReferencePath(orvo).c_str());
    log_ = CombinePath(TempFolder(), L"orvo_Install.log");
  }
  void TearDown() override {
    if (!code_.empty()) RunMsiexec(L"/x " + code_ + L" /qn");
    RemoveTree(media_);
    RemoveTree(victim_);
    RemoveTree(ProductFolder(product_));
    for (const wchar_t* orvo : {L"Good", L"BadPack", L"BadRef"}) DeleteFileW(ReferencePath(orvo).c_str());
  }
  void Package() {
    MsiPackage package(media_ + L"hostile.msi");
    code_ = package.productCode();
    AddOrvoProduct(package, product_);
    package.Commit();
  }
  std::wstring Log() { return ReadUtf16File(log_); }

  OrvoProduct product_;
  std::wstring media_, victim_, data_, code_, log_;
};

TEST_F(HostileDocuments, BrokenAndPlantedDocumentsAreLoggedAndHarmNothing) {
  MasterDocumentSpec master;
  for (const wchar_t* name : {L"Good", L"BadPack", L"BadRef"}) {
    std::wstring n = name;
    master.orvos.push_back({n, L"true", L"", L"", n + L"\\" + n + L".xml", L"", L""});
    PackDocumentSpec pack;
    pack.orvoId = n;
    pack.cabinets = {{L"0", n + L".cab", L"", L"1", L"1", L"ORVODATA", L""}};
    ASSERT_TRUE(WritePackDocument(media_ + L"Content\\" + n + L"\\" + n + L".xml", pack));
    ASSERT_TRUE(WriteContentCabinet(media_ + L"Content\\" + n + L"\\" + n + L".cab", {{n + L".txt", "x"}}));
  }
  ASSERT_TRUE(WriteMasterDocument(media_ + L"Content\\", master));
  ASSERT_TRUE(WriteFileBytes(media_ + L"Content\\BadPack\\BadPack.xml", "<OrvoPack><Identification>"));
  const std::string brokenReference = "<DocumentRoot><Cabinets><Cabinet Name=";
  EnsureFolder(ParentFolder(ReferencePath(L"BadRef")));
  ASSERT_TRUE(WriteFileBytes(ReferencePath(L"BadRef"), brokenReference));
  Package();

  DeleteFileW(log_.c_str());
  ASSERT_EQ(0u, RunMsiexec(L"/i \"" + media_ + L"hostile.msi\" /qn ORVO_SELECTED=Good;BadPack;BadRef"));
  EXPECT_TRUE(FileExists(data_ + L"Good.txt"));
  EXPECT_FALSE(FileExists(data_ + L"BadPack.txt")) << "an Orvo without a readable pack document is dropped";
  EXPECT_FALSE(FileExists(data_ + L"BadRef.txt")) << "nothing is extracted that cannot be recorded";
  EXPECT_EQ(brokenReference, ReadFileBytes(ReferencePath(L"BadRef"))) << "a broken document is left as it is";
  std::wstring log = Log();
  EXPECT_NE(std::wstring::npos, log.find(L"  -> Failed to load " + ProductFolder(product_) + L"Orvos\\BadPack\\BadPack.xml"));
  EXPECT_NE(std::wstring::npos, log.find(L"   !-> Failed to load " + ReferencePath(L"BadRef")));

  // A planted entry: the product's code on a file outside its folders.
  ASSERT_TRUE(WriteFileBytes(victim_ + L"precious.txt", "keep me"));
  {
    XmlDocument reference;
    ASSERT_TRUE(reference.Load(ReferencePath(L"Good")));
    DomDocument* document = reference.document();
    DomElement* cabinet = FirstChildElement(FirstChildElement(reference.root(), L"Cabinets"), L"Cabinet");
    ASSERT_TRUE(cabinet);
    DomElement* extraction = document->createElement(L"ExtractionPath");
    extraction->setAttribute(L"Path", victim_.c_str());
    DomElement* folder = document->createElement(L"SubDirectory");
    folder->setAttribute(L"Path", L"\\");
    DomElement* file = document->createElement(L"File");
    file->setAttribute(L"Name", L"precious.txt");
    file->setAttribute(L"ref", code_.c_str());
    folder->appendChild(file);
    extraction->appendChild(folder);
    cabinet->appendChild(extraction);
    DomElement* inside = FirstChildElement(FirstChildElement(cabinet, L"ExtractionPath"), L"SubDirectory");
    ASSERT_TRUE(inside);
    DomElement* escape = document->createElement(L"File");
    escape->setAttribute(L"Name", (L"..\\..\\..\\" + LastPathComponent(victim_) + L"\\precious.txt").c_str());
    escape->setAttribute(L"ref", code_.c_str());
    inside->appendChild(escape);
    ASSERT_TRUE(reference.Save());
  }
  DeleteFileW(log_.c_str());
  ASSERT_EQ(0u, RunMsiexec(L"/x " + code_ + L" /qn"));
  code_.clear();
  EXPECT_EQ("keep me", ReadFileBytes(victim_ + L"precious.txt"));
  EXPECT_FALSE(FileExists(data_ + L"Good.txt")) << "the product's own file still goes";
  log = Log();
  EXPECT_NE(std::wstring::npos, log.find(L"  !-> Refused " + victim_ + L": not a folder of this product"));
  EXPECT_NE(std::wstring::npos, log.find(L"  !-> Refused ..\\..\\..\\")) << log;
}

TEST_F(HostileDocuments, AMasterDocumentThatDoesNotLoadStopsNothing) {
  EnsureFolder(media_ + L"Content\\");
  ASSERT_TRUE(WriteFileBytes(media_ + L"Content\\master.xml", "<OrvoMaster><Orvos>"));
  Package();
  DeleteFileW(log_.c_str());
  EXPECT_EQ(0u, RunMsiexec(L"/i \"" + media_ + L"hostile.msi\" /qn"));
  EXPECT_NE(std::wstring::npos, Log().find(L" !=> Failed to load " + ProductFolder(product_) + L"Orvos\\master.xml"));
  EXPECT_EQ(0u, RunMsiexec(L"/x " + code_ + L" /qn"));
  code_.clear();
}

}  // namespace
