// OrvoShortcuts through msiexec, with OrvoInit deciding and OrvoInstall
// marking the Orvos installed: the shortcut list chosen at the first
// installation, a change that takes one Orvo away and adds another, and
// the removal. The .lnk files are read back through the shell link object.
#include <gtest/gtest.h>
#include <shobjidl.h>

#include "appindex/app_index.h"
#include "documents/paths.h"
#include "shortcuts/com_owner.h"
#include "support/media_tree.h"
#include "support/orvo_product.h"
#include "support/test_files.h"

using namespace orvo;
using namespace orvo::test;

namespace {

std::wstring LinkTarget(const std::wstring& path) {
  ComApartment apartment;
  ComPointer<IShellLinkW> link;
  ComPointer<IPersistFile> file;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.put())) ||
      FAILED(link->QueryInterface(IID_IPersistFile, file.put())) || FAILED(file->Load(path.c_str(), STGM_READ)))
    return L"<unreadable>";
  wchar_t target[MAX_PATH] = {0}, arguments[MAX_PATH] = {0};
  link->GetPath(target, MAX_PATH, nullptr, 0);
  link->GetArguments(arguments, MAX_PATH);
  return std::wstring(target) + L" " + arguments;
}

class ShortcutsEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    media_ = ScratchFolder(L"shortcuts_e2e");
    links_ = media_ + L"Links\\";
    EnsureFolder(links_);
    product_.folderName = L"OrvoShortcutsE2E";
    product_.properties = {{L"LINKDIR", links_}};
    product_.entryPoints = {L"AppIndexWrite", L"OrvoInit", L"OrvoShortcuts", L"OrvoInstall"};
    RemoveTree(ProductFolder(product_));
  }
  void TearDown() override {
    if (!code_.empty()) RunMsiexec(L"/x " + code_ + L" /qn");
    RemoveTree(media_);
    RemoveTree(ProductFolder(product_));
  }

  // A, B (a shortcut made whether or not wanted) and C, each with one file.
  void WriteMedia() {
    MasterDocumentSpec master;
    for (const wchar_t* name : {L"A", L"B", L"C"}) {
      std::wstring n = name;
      master.orvos.push_back({n, L"true", L"", L"", n + L"\\" + n + L".xml", L"", L""});
      PackDocumentSpec pack;
      pack.orvoId = n;
      pack.cabinets = {{L"0", n + L".cab", L"", L"1", L"1", L"ORVODATA", L""}};
      pack.shortcutsXml = L"<Shortcut Name=\"" + n + L" tool\" Target=\"[ORVODATA]" + n + L".txt\" Parameters=\"-" + n +
                          L"\" TargetDirectory=\"LINKDIR\"" + (n == L"B" ? L" AlwaysInstall=\"yes\"" : L"") + L"/>";
      ASSERT_TRUE(WritePackDocument(media_ + L"Content\\" + n + L"\\" + n + L".xml", pack));
      ASSERT_TRUE(WriteContentCabinet(media_ + L"Content\\" + n + L"\\" + n + L".cab", {{n + L".txt", "x"}}));
    }
    ASSERT_TRUE(WriteMasterDocument(media_ + L"Content\\", master));
  }
  std::wstring Links() {
    std::wstring names;
    for (const auto& path : ListFolder(links_, kListFiles, false)) names += LastPathComponent(path) + L";";
    return names;
  }
  std::wstring StoredList() {
    AppIndex index;
    return index.GetIndexedProperty(code_, L"ORVO_SHORTCUT");
  }

  OrvoProduct product_;
  std::wstring media_, links_, code_;
};

TEST_F(ShortcutsEndToEnd, TheChosenOrvosHaveShortcutsThroughTheirLife) {
  WriteMedia();
  {
    MsiPackage package(media_ + L"shortcuts.msi");
    code_ = package.productCode();
    AddOrvoProduct(package, product_);
    package.Commit();
  }
  std::wstring data = ProductFolder(product_) + L"Data\\";
  ASSERT_EQ(0u, RunMsiexec(L"/i \"" + media_ + L"shortcuts.msi\" /qn ORVO_SELECTED=A;B ORVO_SHORTCUT=A"));
  EXPECT_TRUE(FileExists(data + L"A.txt")) << "OrvoInstall did not run";
  EXPECT_EQ(L"A tool.lnk;B tool.lnk;", Links()) << "A is wanted; B always gets its shortcut";
  EXPECT_EQ(data + L"A.txt -A", LinkTarget(links_ + L"A tool.lnk"));
  EXPECT_EQ(L"A", StoredList());

  // B goes and C comes; only C is wanted now.
  ASSERT_EQ(0u, RunMsiexec(L"/i \"" + media_ + L"shortcuts.msi\" /qn ORVO_ADDREMOVE=1 ORVO_SELECTED=A;C "
                           L"ORVO_SHORTCUT=C REINSTALL=ALL REINSTALLMODE=os"));
  EXPECT_EQ(L"C tool.lnk;", Links()) << "A stays installed without being wanted; B is removed";
  EXPECT_EQ(data + L"C.txt -C", LinkTarget(links_ + L"C tool.lnk"));
  EXPECT_EQ(L"C", StoredList());

  // A repair keeps the stored choice.
  ASSERT_EQ(0u, RunMsiexec(L"/i \"" + media_ + L"shortcuts.msi\" /qn REINSTALL=ALL REINSTALLMODE=amus"));
  EXPECT_EQ(L"C tool.lnk;", Links());

  ASSERT_EQ(0u, RunMsiexec(L"/x " + code_ + L" /qn"));
  code_.clear();
  EXPECT_EQ(L"", Links()) << "every shortcut goes with the product";
}

}  // namespace
