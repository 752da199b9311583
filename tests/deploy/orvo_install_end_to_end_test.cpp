// OrvoInstall through msiexec: AppIndexWrite and OrvoInit prepare the
// installation, the deferred OrvoInstall extracts the chosen Orvo's cabinet
// into its directory, records the files and marks the Orvo installed; a
// removal leaves the files to the removal step.
#include <gtest/gtest.h>
#include <shlobj.h>

#include "action/installer_session.h"
#include "appindex/app_index.h"
#include "cab_writer.h"
#include "documents/paths.h"
#include "documents/xml_document.h"
#include "support/orvo_product.h"
#include "support/test_files.h"

using namespace orvo;
using namespace orvo::test;

namespace {

void WriteCabinet(const std::wstring& path, const std::string& relative, const std::string& data) {
  std::string index = "k1" + std::string(36, ' ') + relative + "\r\n";
  cab::CabinetWriter writer(ToNarrow(path), {});
  ASSERT_TRUE(writer.StartFolder(cab::Compression::Mszip()) && writer.AddFile({"IndexFile.dat"}, index.data(), index.size()) &&
              writer.AddFile({"k1"}, data.data(), data.size()) && writer.Finish())
      << writer.error();
}

class OrvoInstallEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    media_ = ScratchFolder(L"orvoinstall_media");
    logPath_ = CombinePath(TempFolder(), L"orvo_Install.log");
    DeleteFileW(logPath_.c_str());
    installDir_ = CombinePath(PackageFolder(L"ProgramFilesFolder"), L"OrvoInstallE2E\\");
    RemoveTree(installDir_);
    reference_ = CombinePath(SpecialFolder(CSIDL_COMMON_APPDATA), L"Keltra\\Orvos\\E2EA_ref.xml");
    DeleteFileW(reference_.c_str());
    // Another test may have left a damaged index; the installation makes a new one.
    DeleteFileW(AppIndexPath().c_str());
  }
  void TearDown() override {
    if (!code_.empty()) RunMsiexec(L"/x " + code_ + L" /qn");
    RemoveTree(media_);
    RemoveTree(installDir_);
    DeleteFileW(reference_.c_str());
  }

  // Two Orvos, E2EA and E2EB, one cabinet each into ORVODATA.
  void WriteMedia() {
    EnsureFolder(media_ + L"Content\\");
    WriteFileBytes(media_ + L"Content\\master.xml",
                   "<Master><Orvos>"
                   "<Orvo Name=\"E2EA\" Display=\"true\"><MediaPath>Packs\\A\\A.xml</MediaPath></Orvo>"
                   "<Orvo Name=\"E2EB\" Display=\"true\"><MediaPath>Packs\\B\\B.xml</MediaPath></Orvo>"
                   "</Orvos></Master>");
    for (const char* name : {"A", "B"}) {
      std::string pack = std::string("<Pack><Identification><OrvoId>") + name +
                         "</OrvoId></Identification><Files><Cabinet Sequence=\"0\" Name=\"" + name +
                         ".cab\" Cost=\"10\" FileCount=\"1\" Directory=\"ORVODATA\"/></Files></Pack>";
      std::wstring folder = media_ + L"Content\\Packs\\" + ToWide(name) + L"\\";
      EnsureFolder(folder);
      WriteFileBytes(folder + ToWide(name) + L".xml", pack);
      WriteCabinet(folder + ToWide(name) + L".cab", std::string("Sub\\") + name + ".txt", std::string("content ") + name);
    }
  }

  void MakePackage() {
    OrvoProduct product;
    product.folderName = L"OrvoInstallE2E";
    product.entryPoints = {L"AppIndexWrite", L"OrvoInit", L"OrvoInstall"};
    MsiPackage package(media_ + L"orvoinstall.msi");
    code_ = package.productCode();
    AddOrvoProduct(package, product);
    package.Commit();
  }

  std::wstring media_, logPath_, installDir_, reference_, code_;
};

TEST_F(OrvoInstallEndToEnd, InstallsTheChosenOrvoAndRecordsItsFiles) {
  WriteMedia();
  MakePackage();
  std::wstring data = installDir_ + L"Data\\";
  std::wstring master = installDir_ + L"Orvos\\master.xml";

  ASSERT_EQ(0u, RunMsiexec(L"/i \"" + media_ + L"orvoinstall.msi\" /qn ORVO_SELECTED=E2EA"));
  std::wstring log = ReadUtf16File(logPath_);
  EXPECT_NE(std::wstring::npos, log.find(L" => OrvoInstall complete\r\n"));
  EXPECT_EQ("content A", ReadFileBytes(data + L"Sub\\A.txt"));
  EXPECT_FALSE(FileExists(data + L"Sub\\B.txt")) << "B was not chosen";
  EXPECT_NE(std::wstring::npos, log.find(L"  -> Extracting " + media_ + L"Content\\Packs\\A\\A.cab to " + data));

  XmlDocument reference;
  ASSERT_TRUE(reference.Load(reference_)) << "the shared reference document was not written";
  DomElement* extraction =
      FindChildElement(FindChildElement(FirstChildElement(reference.root(), L"Cabinets"), L"Cabinet", L"Name", L"A.cab"),
                       L"ExtractionPath", L"Path", data);
  DomElement* file = FindChildElement(FindChildElement(extraction, L"SubDirectory", L"Path", L"Sub\\"), L"File", L"Name",
                                      L"A.txt");
  ASSERT_TRUE(file);
  EXPECT_EQ(code_, AttributeText(file, L"ref"));
  EXPECT_EQ(1u, reference.document()->getElementsByTagName(L"File")->getLength()) << "IndexFile.dat is not content";

  XmlDocument installed;
  ASSERT_TRUE(installed.Load(master));
  DomElement* orvos = FirstChildElement(installed.root(), L"Orvos");
  EXPECT_EQ(L"true", AttributeText(FindChildElement(orvos, L"Orvo", L"Name", L"E2EA"), L"Installed"));
  EXPECT_NE(L"true", AttributeText(FindChildElement(orvos, L"Orvo", L"Name", L"E2EB"), L"Installed"));

  DeleteFileW(logPath_.c_str());
  ASSERT_EQ(0u, RunMsiexec(L"/x " + code_ + L" /qn"));
  code_.clear();
  log = ReadUtf16File(logPath_);
  EXPECT_NE(std::wstring::npos, log.find(L" => Nothing to do!\r\n"))
      << "a removal extracts nothing";
}

}  // namespace
