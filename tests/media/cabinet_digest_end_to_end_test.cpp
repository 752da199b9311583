// Media whose cabinet is not the one its pack document records, under
// msiexec: the installation fails before any file is written; with the
// right cabinet in the intranet folder it takes that one. The download
// limits reach the deferred action.
#include <gtest/gtest.h>
#include <shlobj.h>

#include "action/installer_session.h"
#include "documents/paths.h"
#include "media/sha256.h"
#include "media_support.h"
#include "support/media_tree.h"
#include "support/orvo_product.h"
#include "support/test_files.h"

using namespace orvo;
using namespace orvo::test;

namespace {

std::wstring ReferencePath(const std::wstring& orvo) {
  return CombinePath(SpecialFolder(CSIDL_COMMON_APPDATA), L"Keltra\\Orvos\\" + orvo + L"_ref.xml");
}

std::wstring DigestOfFile(const std::wstring& path) {
  std::string bytes = ReadFileBytes(path);
  Sha256 hash;
  hash.Update(bytes.data(), bytes.size());
  return FromUtf8(hash.FinishHex());
}

TEST(CabinetDigestEndToEnd, AlteredCabinetFailsTheInstallationAndTheRightCopyIsTakenFromTheIntranet) {
  RemoveIntranetSetting();
  std::wstring media = ScratchFolder(L"digest_e2e");
  std::wstring intranet = ScratchFolder(L"digest_intranet");
  OrvoProduct product;
  product.folderName = L"OrvoDigestE2E";
  product.entryPoints = {L"AppIndexWrite", L"OrvoInit", L"OrvoRemove", L"OrvoInstall", L"OrvoCleanup",
                         L"AppIndexUninstall"};
  const std::wstring data = DataFolder(product);
  RemoveTree(ProductFolder(product));
  for (const wchar_t* orvo : {L"Good", L"Bad"}) DeleteFileW(ReferencePath(orvo).c_str());

  MasterDocumentSpec master;
  for (const wchar_t* name : {L"Good", L"Bad"}) {
    std::wstring n = name;
    master.orvos.push_back({n, L"true", L"", L"", n + L"\\" + n + L".xml", L"", L""});
    // The author's cabinet; the media get another one of Bad.
    std::wstring made = intranet + L"Content\\" + n + L"\\" + n + L".cab";
    ASSERT_TRUE(WriteContentCabinet(made, {{n + L".txt", "made by the author"}}));
    PackDocumentSpec pack;
    pack.orvoId = n;
    pack.cabinets = {{L"0", n + L".cab", L"", L"1", L"1", L"ORVODATA", L"", DigestOfFile(made)}};
    ASSERT_TRUE(WritePackDocument(media + L"Content\\" + n + L"\\" + n + L".xml", pack));
    ASSERT_TRUE(WriteContentCabinet(media + L"Content\\" + n + L"\\" + n + L".cab",
                                    {{n + L".txt", n == L"Bad" ? "swapped in" : "made by the author"}}));
  }
  ASSERT_TRUE(WriteMasterDocument(media + L"Content\\", master));
  DeletePath(intranet + L"Content\\Good", true, false);
  MsiPackage package(media + L"digest.msi");
  std::wstring code = package.productCode();
  AddOrvoProduct(package, product);
  package.Commit();
  const std::wstring log = CombinePath(TempFolder(), L"orvo_Install.log");

  DeleteFileW(log.c_str());
  EXPECT_EQ(1603u, RunMsiexec(L"/i \"" + media + L"digest.msi\" /qn ORVO_SELECTED=Good;Bad ORVO_DOWNLOAD_DEADLINE=1234 "
                              L"ORVO_DOWNLOAD_STALL=7"));
  EXPECT_FALSE(FileExists(data + L"Good.txt")) << "nothing is extracted, not even the good cabinet";
  EXPECT_FALSE(FileExists(data + L"Bad.txt"));
  EXPECT_FALSE(FileExists(ReferencePath(L"Good")));
  std::wstring text = ReadUtf16File(log);
  std::wstring badCab = media + L"Content\\Bad\\Bad.cab";
  std::wstring recorded = DigestOfFile(intranet + L"Content\\Bad\\Bad.cab");
  EXPECT_NE(std::wstring::npos, text.find(L"   !=> " + badCab + L" has SHA-256 " + DigestOfFile(badCab) +
                                          L", not the recorded " + recorded + L": not used"))
      << text;
  EXPECT_NE(std::wstring::npos, text.find(L" !=> Bad.cab of Bad: no copy has the recorded SHA-256. Nothing is installed"));
  EXPECT_NE(std::wstring::npos, text.find(L"!=> OrvoInstall returning 1603"));
  // The deferred action, which reads no properties, was handed the limits.
  bool handed = false;
  for (size_t at = text.find(L";1234;7\r\n"); at != std::wstring::npos; at = text.find(L";1234;7\r\n", at + 1))
    handed |= text.compare(text.rfind(L"\r\n", at) + 2, 30, L"    => Get: CustomActionData: ") == 0;
  EXPECT_TRUE(handed);
  EXPECT_TRUE(FileExists(badCab)) << "a cabinet on the media is not ours to delete";

  {
    ScopedIntranetSetting setting(intranet);
    DeleteFileW(log.c_str());
    EXPECT_EQ(0u, RunMsiexec(L"/i \"" + media + L"digest.msi\" /qn ORVO_SELECTED=Good;Bad"));
    EXPECT_EQ("made by the author", ReadFileBytes(data + L"Good.txt"));
    EXPECT_EQ("made by the author", ReadFileBytes(data + L"Bad.txt"));
    text = ReadUtf16File(log);
    EXPECT_NE(std::wstring::npos, text.find(L"  => Found " + intranet + L"Content\\Bad\\Bad.cab"));
  }
  EXPECT_EQ(0u, RunMsiexec(L"/x " + code + L" /qn"));
  EXPECT_FALSE(FileExists(data + L"Bad.txt"));
  RemoveTree(media);
  RemoveTree(intranet);
  RemoveTree(ProductFolder(product));
}

}  // namespace
