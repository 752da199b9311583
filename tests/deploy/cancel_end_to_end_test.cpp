// A user who cancels, through the installer's own message loop: the
// installation stops at the file it was writing and rolls back, the
// documents stay whole, and running it again completes it; a cancelled
// removal is completed by a second removal.
#include <gtest/gtest.h>
#include <shlobj.h>

#include "action/installer_session.h"
#include "documents/paths.h"
#include "documents/xml_document.h"
#include "support/media_tree.h"
#include "support/message_recorder.h"
#include "support/orvo_product.h"
#include "support/test_files.h"

using namespace orvo;
using namespace orvo::test;

namespace {

std::wstring ReferencePath() {
  return CombinePath(SpecialFolder(CSIDL_COMMON_APPDATA), L"Keltra\\Orvos\\Many_ref.xml");
}

size_t Installed(const std::wstring& folder) { return ListFolder(folder, kListFiles, true).size(); }

TEST(CancelEndToEnd, ACancelledInstallationOrRemovalIsCompletedByTheNextRun) {
  std::wstring media = ScratchFolder(L"cancel_e2e");
  OrvoProduct product;
  product.folderName = L"OrvoCancelE2E";
  product.entryPoints = {L"AppIndexWrite", L"OrvoInit", L"OrvoRemove", L"OrvoInstall", L"OrvoCleanup",
                         L"AppIndexUninstall"};
  std::wstring data = DataFolder(product);
  RemoveTree(ProductFolder(product));
  DeleteFileW(ReferencePath().c_str());

  std::map<std::wstring, std::string> files;
  for (int i = 0; i < 30; ++i) files[L"Set\\f" + std::to_wstring(i) + L".txt"] = "content " + std::to_string(i);
  MasterDocumentSpec master;
  master.orvos.push_back({L"Many", L"true", L"", L"", L"Many\\Many.xml", L"", L""});
  ASSERT_TRUE(WriteMasterDocument(media + L"Content\\", master));
  PackDocumentSpec pack;
  pack.orvoId = L"Many";
  pack.cabinets = {{L"0", L"Many.cab", L"", L"300", L"30", L"ORVODATA", L""}};
  ASSERT_TRUE(WritePackDocument(media + L"Content\\Many\\Many.xml", pack));
  ASSERT_TRUE(WriteContentCabinet(media + L"Content\\Many\\Many.cab", files));
  std::wstring msi = media + L"cancel.msi", code;
  {
    MsiPackage package(msi);
    code = package.productCode();
    AddOrvoProduct(package, product);
    package.Commit();
  }
  MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);

  {
    MessageRecorder recorder;
    recorder.CancelOn(INSTALLMESSAGE_ACTIONDATA, L"f17.txt");
    EXPECT_EQ(1602u, MsiInstallProductW(msi.c_str(), L"ORVO_SELECTED=Many"));
    EXPECT_FALSE(recorder.Of(INSTALLMESSAGE_ACTIONDATA).empty()) << "the file messages reach the user interface";
  }
  size_t afterCancel = Installed(data);
  EXPECT_GT(afterCancel, 0u);
  EXPECT_LT(afterCancel, 30u) << "the extraction stopped at the cancelled file";
  XmlDocument reference;
  if (FileExists(ReferencePath())) EXPECT_TRUE(reference.Load(ReferencePath())) << "the document is whole";

  EXPECT_EQ(0u, MsiInstallProductW(msi.c_str(), L"ORVO_SELECTED=Many"));
  EXPECT_EQ(30u, Installed(data));
  EXPECT_EQ("content 29", ReadFileBytes(data + L"Set\\f29.txt"));
  ASSERT_TRUE(reference.Load(ReferencePath()));
  EXPECT_EQ(30u, reference.document()->getElementsByTagName(L"File")->getLength()) << "each file recorded once";

  {
    MessageRecorder recorder;
    recorder.CancelOn(INSTALLMESSAGE_ACTIONDATA, L"f17.txt");
    EXPECT_EQ(1602u, MsiConfigureProductW(code.c_str(), INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT));
  }
  size_t afterCancelledRemoval = Installed(data);
  EXPECT_GT(afterCancelledRemoval, 0u) << "the removal stopped";
  ASSERT_TRUE(reference.Load(ReferencePath())) << "the document is whole";
  EXPECT_LT(afterCancelledRemoval, 30u);
  EXPECT_EQ(30u, reference.document()->getElementsByTagName(L"File")->getLength())
      << "a cancelled removal saves nothing; the next one finds the deleted files gone";

  EXPECT_EQ(0u, MsiConfigureProductW(code.c_str(), INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT));
  EXPECT_EQ(0u, Installed(data));
  EXPECT_FALSE(FileExists(ReferencePath()));

  RunMsiexec(L"/x " + code + L" /qn");
  RemoveTree(media);
  RemoveTree(ProductFolder(product));
}

}  // namespace
