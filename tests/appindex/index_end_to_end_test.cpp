// Real installations through msiexec record their products in the machine's
// application index. The installer reports a custom action that did not run
// as success, so every case asserts what the actions left behind: the
// index, its schema, log records and registry values formatted from the
// properties the actions set.
#include <gtest/gtest.h>
#include <shlobj.h>

#include <algorithm>

#include "action/installer_session.h"
#include "appindex/app_index.h"
#include "documents/paths.h"
#include "documents/xml_document.h"
#include "support/msi_package.h"
#include "support/test_files.h"

using namespace orvo;
using namespace orvo::test;

namespace {

std::wstring RegistryText(const std::wstring& key, const std::wstring& name) {
  wchar_t buffer[1024] = {0};
  DWORD size = sizeof buffer;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), name.c_str(), RRF_RT_REG_SZ, nullptr, buffer, &size) != 0)
    return L"<missing>";
  return buffer;
}

struct Product {
  std::wstring msi;
  std::wstring code;
  std::wstring key;  // registry key its values go to
};

// A package whose sequence writes the index (twice, to show the second
// write updates in place), publishes the slash-free copies, and writes
// registry values formatted from the properties those actions set.
Product MakeProduct(const std::wstring& folder, const std::wstring& name, const std::wstring& color,
                    const std::wstring& parentCode) {
  Product product;
  product.msi = folder + name + L".msi";
  product.key = L"Software\\OrvoTests\\AppIndex" + name;
  MsiPackage package(product.msi);
  product.code = package.productCode();
  package.Directory(L"ProgramFilesFolder", L"TARGETDIR", L".");
  package.Directory(L"INSTALLDIR", L"ProgramFilesFolder", L"OrvoIndex" + name);
  package.Directory(L"DATADIR", L"INSTALLDIR", L"Data");
  package.Directory(L"AppDataFolder", L"TARGETDIR", L".");
  package.Directory(L"USERDIR", L"AppDataFolder", L"OrvoIndex" + name);
  package.Directory(L"PersonalFolder", L"TARGETDIR", L".");
  package.Directory(L"DOCSDIR", L"PersonalFolder", L"OrvoIndex" + name);
  package.Feature(L"Main");
  package.Component(L"MainComponent", L"INSTALLDIR");
  package.FeatureComponent(L"Main", L"MainComponent");
  package.Registry(L"NoSlash", 2, product.key, L"InstallDir", L"[NOSLASH_INSTALLDIR]", L"MainComponent");
  package.Registry(L"NoSlashData", 2, product.key, L"DataDir", L"[NOSLASH_DATADIR]", L"MainComponent");
  package.Registry(L"Color", 2, product.key, L"Color", L"[COLOR]", L"MainComponent");
  package.Registry(L"Folder", 2, product.key, L"Folder", L"[INSTALLDIR]", L"MainComponent");
  package.Registry(L"Executed", 2, product.key, L"Executed", L"[AppIndexWrite_executed]", L"MainComponent");
  package.Property(L"COLOR", color);
  package.Property(L"SIZE", L"10");
  package.Property(L"INDEXED_PROPERTIES", L"COLOR;SIZE");
  package.Property(L"INDEXED_DIRECTORIES", L"INSTALLDIR;;DATADIR;DOCSDIR");
  package.Property(L"INDEXED_PERUSERDIRS", L"USERDIR");
  package.Property(L"INDEXED_LP_PROPS", L"COLOR;INSTALLDIR");
  package.Property(L"NOBACKSLASHPROPS", L"INSTALLDIR;DATADIR");
  if (!parentCode.empty()) package.Property(L"PARENTPRODUCTCODE", parentCode);
  package.Binary(L"OrvoAction", DllPath());
  package.CustomAction(L"IndexWrite", 1, L"OrvoAction", L"AppIndexWrite");
  package.CustomAction(L"IndexWriteAgain", 1, L"OrvoAction", L"AppIndexWrite");
  package.CustomAction(L"IndexNoSlash", 1, L"OrvoAction", L"AppIndexSetNoBackslashProps");
  package.CustomAction(L"IndexUninstall", 1, L"OrvoAction", L"AppIndexUninstall");
  package.StandardSequence();
  package.Sequence(L"IndexWrite", 1410, L"REMOVE<>\"ALL\"");
  package.Sequence(L"IndexWriteAgain", 1420, L"REMOVE<>\"ALL\"");
  package.Sequence(L"IndexNoSlash", 1430);
  package.Sequence(L"IndexUninstall", 1440, L"REMOVE=\"ALL\"");
  package.Commit();
  return product;
}

// The index as a DOM, read with the document layer.
class IndexView {
 public:
  explicit IndexView(const std::wstring& path) { root_ = document_.Load(path) ? document_.root() : nullptr; }
  DomElement* root() const { return root_; }
  DomElement* Product(const std::wstring& code) const { return FindChildElement(root_, L"Product", L"ProductCode", code); }
  size_t ProductCount(const std::wstring& code) const {
    size_t n = 0;
    for (DomNode* node = root_ ? root_->getFirstChild() : nullptr; node; node = node->getNextSibling()) {
      if (node->getNodeType() == DomNode::ELEMENT_NODE && AttributeText(static_cast<DomElement*>(node), L"ProductCode") == code) ++n;
    }
    return n;
  }
  static size_t ChildCount(const DomElement* parent, const std::wstring& tag) {
    size_t n = 0;
    for (DomNode* node = parent ? parent->getFirstChild() : nullptr; node; node = node->getNextSibling()) {
      if (node->getNodeType() == DomNode::ELEMENT_NODE && std::wstring(node->getNodeName()) == tag) ++n;
    }
    return n;
  }
  static std::wstring Data(const DomElement* parent, const std::wstring& tag, const std::wstring& name,
                           const std::wstring& attribute = L"Data") {
    DomElement* element = FindChildElement(parent, tag, L"Name", name);
    return element ? AttributeText(element, attribute) : L"<missing>";
  }

 private:
  XmlDocument document_;
  DomElement* root_ = nullptr;
};

class IndexEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    indexPath_ = AppIndexPath();
    RemoveTree(ParentFolder(indexPath_));
    logPath_ = CombinePath(TempFolder(), L"appIndex.log");
    DeleteFileW(logPath_.c_str());
    folder_ = ScratchFolder(L"indexe2e");
  }
  void TearDown() override {
    for (const auto& code : installed_) RunMsiexec(L"/x " + code + L" /qn");
    RemoveTree(folder_);
    // The prefix is shared: leave no index behind, broken or not.
    RemoveTree(ParentFolder(indexPath_));
  }
  void Install(const Product& product, const std::wstring& extra = L"") {
    ASSERT_EQ(0u, RunMsiexec(L"/i \"" + product.msi + L"\" /qn " + extra));
    installed_.push_back(product.code);
  }
  void Uninstall(const Product& product) {
    ASSERT_EQ(0u, RunMsiexec(L"/x " + product.code + L" /qn"));
    installed_.erase(std::remove(installed_.begin(), installed_.end(), product.code), installed_.end());
  }
  std::wstring Log() { return ReadUtf16File(logPath_); }

  std::wstring indexPath_, logPath_, folder_;
  std::vector<std::wstring> installed_;
};

TEST_F(IndexEndToEnd, TwoProductsRecordUpdateAndRemoveTheirOwnRecords) {
  Product a = MakeProduct(folder_, L"A", L"red", L"");
  Product b = MakeProduct(folder_, L"B", L"blue", a.code);
  std::wstring user = CurrentUserName();
  std::wstring schemaPath = ParentFolder(indexPath_) + L"appIndex.xsd";

  Install(a);
  ASSERT_TRUE(FileExists(indexPath_)) << "AppIndexWrite did not run";
  EXPECT_TRUE(FileExists(schemaPath));
  std::string index = ReadFileBytes(indexPath_);
  EXPECT_EQ("\xFF\xFE", index.substr(0, 2)) << "saved as UTF-16 with a byte-order mark";
  std::wstring programFiles = PackageFolder(L"ProgramFilesFolder");
  std::wstring installDir = CombinePath(programFiles, L"OrvoIndexA\\");
  std::wstring userDir = CombinePath(SpecialFolder(CSIDL_APPDATA), L"OrvoIndexA\\");
  std::wstring docsDir = CombinePath(SpecialFolder(CSIDL_PERSONAL), L"OrvoIndexA\\");
  {
    IndexView view(indexPath_);
    ASSERT_TRUE(view.root());
    EXPECT_EQ(1u, view.ProductCount(a.code)) << "the second write of one installation updates in place";
    DomElement* product = view.Product(a.code);
    DomElement* properties = FirstChildElement(product, L"Properties");
    EXPECT_EQ(L"red", view.Data(properties, L"Property", L"COLOR"));
    EXPECT_EQ(L"10", view.Data(properties, L"Property", L"SIZE"));
    EXPECT_EQ(L"COLOR;INSTALLDIR", view.Data(properties, L"Property", L"INDEXED_LP_PROPS"));
    EXPECT_EQ(3u, view.ChildCount(properties, L"Property")) << "lists and directories are not repeated";
    DomElement* directories = FirstChildElement(product, L"Directories");
    EXPECT_EQ(4u, view.ChildCount(directories, L"Directory"));
    EXPECT_EQ(installDir, view.Data(directories, L"Directory", L"INSTALLDIR"));
    EXPECT_EQ(installDir + L"Data\\", view.Data(directories, L"Directory", L"DATADIR"));
    EXPECT_EQ(L"", view.Data(directories, L"Directory", L"DATADIR", L"Flags"));
    EXPECT_EQ(L"1", view.Data(directories, L"Directory", L"USERDIR", L"Flags"));
    EXPECT_EQ(L"1", view.Data(directories, L"Directory", L"DOCSDIR", L"Flags")) << "below the documents folder";
    DomElement* userEntry = FindChildElement(FirstChildElement(product, L"Users"), L"User", L"Name", user);
    ASSERT_TRUE(userEntry) << "a user entry for the installing user";
    DomElement* userDirectories = FirstChildElement(userEntry, L"Directories");
    EXPECT_EQ(userDir, view.Data(userDirectories, L"Directory", L"USERDIR"));
    EXPECT_EQ(docsDir, view.Data(userDirectories, L"Directory", L"DOCSDIR"));
    EXPECT_EQ(2u, view.ChildCount(userDirectories, L"Directory"));
  }
  // The slash-free copies and the executed mark reached the registry step.
  EXPECT_EQ(installDir.substr(0, installDir.size() - 1), RegistryText(a.key, L"InstallDir"));
  EXPECT_EQ(installDir + L"Data", RegistryText(a.key, L"DataDir"));
  EXPECT_EQ(L"1", RegistryText(a.key, L"Executed"));
  std::wstring log = Log();
  EXPECT_EQ(1u, CountOf(log, L"\r\n  - Creating appIndex.xml\r\n"));
  EXPECT_EQ(1u, CountOf(log, L"\r\n  - Granting authenticated users GENERIC_ALL access to " + indexPath_ + L"\r\n"));
  EXPECT_EQ(2u, CountOf(log, L"\nAppIndexWrite()"));
  EXPECT_EQ(1u, CountOf(log, L"    => Set: NOSLASH_INSTALLDIR: " + installDir.substr(0, installDir.size() - 1) + L"\r\n"));
  EXPECT_EQ(2u, CountOf(log, L"  => For user " + user + L" directory USERDIR resolves to " + userDir + L"\r\n"));

  // The child product takes COLOR and INSTALLDIR from its parent's record;
  // later steps of its installation see them.
  DeleteFileW(schemaPath.c_str());
  Install(b);
  EXPECT_TRUE(FileExists(schemaPath)) << "the schema is written on every run";
  EXPECT_EQ(L"red", RegistryText(b.key, L"Color"));
  EXPECT_EQ(installDir, RegistryText(b.key, L"Folder"));
  log = Log();
  EXPECT_EQ(1u, CountOf(log, L"  - Creating appIndex.xml")) << "an existing index is not created again";
  EXPECT_EQ(1u, CountOf(log, L"  - Granting authenticated users")) << "nor its access list changed";
  {
    IndexView view(indexPath_);
    EXPECT_EQ(1u, view.ProductCount(a.code));
    EXPECT_EQ(1u, view.ProductCount(b.code));
    DomElement* properties = FirstChildElement(view.Product(b.code), L"Properties");
    // The package writes twice: the second write records the inherited value.
    EXPECT_EQ(L"red", view.Data(properties, L"Property", L"COLOR"));
    EXPECT_EQ(L"<missing>", view.Data(properties, L"Property", L"INDEXED_LP_PROPS"));
  }

  // A repair of A with a new value updates A's record in place.
  Install(a, L"REINSTALL=ALL REINSTALLMODE=omus COLOR=green");
  {
    IndexView view(indexPath_);
    EXPECT_EQ(1u, view.ProductCount(a.code));
    DomElement* properties = FirstChildElement(view.Product(a.code), L"Properties");
    EXPECT_EQ(L"green", view.Data(properties, L"Property", L"COLOR"));
    EXPECT_EQ(3u, view.ChildCount(properties, L"Property"));
    EXPECT_EQ(4u, view.ChildCount(FirstChildElement(view.Product(a.code), L"Directories"), L"Directory"));
  }
  installed_.pop_back();

  Uninstall(b);
  {
    IndexView view(indexPath_);
    EXPECT_EQ(0u, view.ProductCount(b.code));
    EXPECT_EQ(1u, view.ProductCount(a.code)) << "only its own record goes";
  }
  std::string beforeSecondUninstall = ReadFileBytes(indexPath_);
  Uninstall(a);
  {
    IndexView view(indexPath_);
    ASSERT_TRUE(view.root());
    EXPECT_EQ(0u, view.ChildCount(view.root(), L"Product"));
  }
  EXPECT_NE(beforeSecondUninstall, ReadFileBytes(indexPath_));
  EXPECT_EQ(2u, CountOf(Log(), L"\nAppIndexUninstall()"));
}

TEST_F(IndexEndToEnd, AMalformedIndexIsLeftByteForByte) {
  Product a = MakeProduct(folder_, L"A", L"red", L"");
  EnsureFolder(ParentFolder(indexPath_));
  const std::string broken = "\xEF\xBB\xBF<?xml version=\"1.0\"?>\r\n<DocumentRoot><Product ProductCode=\"x\">";
  ASSERT_TRUE(WriteFileBytes(indexPath_, broken));

  Install(a);
  EXPECT_EQ(broken, ReadFileBytes(indexPath_));
  std::wstring log = Log();
  EXPECT_EQ(2u, CountOf(log, L"\r\n !=> Failed to load " + indexPath_ + L"\r\n")) << log;
  EXPECT_EQ(0u, CountOf(log, L"  - Creating appIndex.xml"));
  EXPECT_EQ(L"1", RegistryText(a.key, L"Executed"));

  Uninstall(a);
  EXPECT_EQ(broken, ReadFileBytes(indexPath_));
  EXPECT_EQ(3u, CountOf(Log(), L" !=> Failed to load " + indexPath_));
}

}  // namespace
