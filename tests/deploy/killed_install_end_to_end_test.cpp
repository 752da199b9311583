// msiexec killed while OrvoInstall extracts: the documents on disk still
// load, and the next run completes the installation, recording each file
// once.
#include <gtest/gtest.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include "action/installer_session.h"
#include "documents/paths.h"
#include "documents/xml_document.h"
#include "support/media_tree.h"
#include "support/orvo_product.h"
#include "support/test_files.h"

using namespace orvo;
using namespace orvo::test;

namespace {

// Every msiexec of the prefix: the one started and the custom-action
// servers it started.
void KillInstallers() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    if (_wcsicmp(entry.szExeFile, L"msiexec.exe") != 0) continue;
    HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, entry.th32ProcessID);
    if (process) {
      TerminateProcess(process, 1);
      CloseHandle(process);
    }
  }
  CloseHandle(snapshot);
}

TEST(KilledInstallEndToEnd, TheNextRunCompletesWhatAKilledOneBegan) {
  std::wstring media = ScratchFolder(L"killed_e2e");
  OrvoProduct product;
  product.folderName = L"OrvoKilledE2E";
  product.entryPoints = {L"AppIndexWrite", L"OrvoInit", L"OrvoRemove", L"OrvoInstall", L"OrvoCleanup",
                         L"AppIndexUninstall"};
  std::wstring data = DataFolder(product);
  std::wstring reference = CombinePath(SpecialFolder(CSIDL_COMMON_APPDATA), L"Keltra\\Orvos\\Big_ref.xml");
  std::wstring master = ProductFolder(product) + L"Orvos\\master.xml";
  RemoveTree(ProductFolder(product));
  DeleteFileW(reference.c_str());

  const int kFiles = 3000;
  std::map<std::wstring, std::string> files;
  for (int i = 0; i < kFiles; ++i)
    files[L"D" + std::to_wstring(i % 30) + L"\\f" + std::to_wstring(i) + L".txt"] = std::string(200, char('a' + i % 26));
  MasterDocumentSpec spec;
  spec.orvos.push_back({L"Big", L"true", L"", L"", L"Big\\Big.xml", L"", L""});
  ASSERT_TRUE(WriteMasterDocument(media + L"Content\\", spec));
  PackDocumentSpec pack;
  pack.orvoId = L"Big";
  pack.cabinets = {{L"0", L"Big.cab", L"", L"600000", L"3000", L"ORVODATA", L""}};
  ASSERT_TRUE(WritePackDocument(media + L"Content\\Big\\Big.xml", pack));
  ASSERT_TRUE(WriteContentCabinet(media + L"Content\\Big\\Big.cab", files));
  std::wstring code;
  {
    MsiPackage package(media + L"killed.msi");
    code = package.productCode();
    AddOrvoProduct(package, product);
    package.Commit();
  }

  std::wstring command = L"msiexec.exe /i \"" + media + L"killed.msi\" /qn ORVO_SELECTED=Big";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  ASSERT_TRUE(CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
  CloseHandle(process.hThread);
  // Killed once the extraction is under way.
  size_t seen = 0;
  for (int wait = 0; wait < 600 && seen < 50; ++wait) {
    Sleep(50);
    seen = PathExists(data) ? ListFolder(data, kListFiles, true).size() : 0;
  }
  KillInstallers();
  WaitForSingleObject(process.hProcess, 30000);
  CloseHandle(process.hProcess);
  size_t afterKill = PathExists(data) ? ListFolder(data, kListFiles, true).size() : 0;
  EXPECT_GT(afterKill, 0u) << "the extraction had begun";
  EXPECT_LT(afterKill, size_t(kFiles)) << "killed before it ended";
  XmlDocument document;
  if (FileExists(reference)) EXPECT_TRUE(document.Load(reference)) << "the reference document is whole";
  if (FileExists(master)) EXPECT_TRUE(document.Load(master)) << "the master document is whole";

  EXPECT_EQ(0u, RunMsiexec(L"/i \"" + media + L"killed.msi\" /qn ORVO_SELECTED=Big"));
  EXPECT_EQ(size_t(kFiles), ListFolder(data, kListFiles, true).size());
  ASSERT_TRUE(document.Load(reference));
  EXPECT_EQ(XMLSize_t(kFiles), document.document()->getElementsByTagName(L"File")->getLength());

  EXPECT_EQ(0u, RunMsiexec(L"/x " + code + L" /qn"));
  EXPECT_FALSE(PathExists(data + L"D0\\"));
  RemoveTree(media);
  RemoveTree(ProductFolder(product));
}

}  // namespace
