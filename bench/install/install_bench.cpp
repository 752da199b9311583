// Installs a content folder as one Orvo through OrvoInit, OrvoInstall and
// OrvoRemove in a real session in this process, timing the two file
// actions, and times msiexec installing and removing a package whose own
// InstallFiles carries the same files (made by run-install-bench.sh), and
// the floor: plain Win32 calls writing and deleting the same files.
//   install_bench CONTENT REFERENCE.msi EMPTY.msi [mszip|lzx]
#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <shlobj.h>

#include <cstdio>
#include <string>

#include "action/installer_session.h"
#include "appindex/app_index.h"
#include "catalog/hand_over_data.h"
#include "documents/journal.h"
#include "content_pack.h"
#include "floor_writer.h"
#include "documents/paths.h"
#include "documents/xml_document.h"
#include "support/media_tree.h"
#include "support/msi_package.h"
#include "support/test_files.h"

extern "C" UINT __stdcall AppIndexWrite(MSIHANDLE handle);
extern "C" UINT __stdcall OrvoInit(MSIHANDLE handle);
extern "C" UINT __stdcall OrvoInstall(MSIHANDLE handle);
extern "C" UINT __stdcall OrvoRemove(MSIHANDLE handle);

using namespace orvo;
using namespace orvo::test;

namespace {

double Now() {
  LARGE_INTEGER frequency, counter;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&counter);
  return double(counter.QuadPart) / double(frequency.QuadPart);
}

// Waits (at most 20 s) until the host has written back what the last
// phase left in its page cache: otherwise that write-back lands on the
// next phase, and a removal timed right after its installation pays for it.
// Read through the host's own file of memory figures; where there is none,
// nothing waits.
double SettleDisk() {
  double start = Now();
  for (int tries = 0; tries < 100; ++tries) {
    FILE* meminfo = _wfopen(L"Z:\\proc\\meminfo", L"r");
    if (!meminfo) break;
    char line[256];
    long dirty = -1;
    while (fgets(line, sizeof line, meminfo)) {
      if (sscanf(line, "Dirty: %ld kB", &dirty) == 1) break;
    }
    fclose(meminfo);
    if (dirty < 32768) break;
    Sleep(200);
  }
  return Now() - start;
}

// The same files written and deleted by plain Win32 calls.
struct Floor {
  double install = 0, remove = 0;
  bool written = false, removed = false;
};

Floor MeasureFloor(const std::vector<bench::FloorFile>& files, const std::wstring& target, double& settled) {
  Floor floor;
  settled += SettleDisk();
  double start = Now();
  floor.written = bench::WriteFloor(files, target);
  floor.install = Now() - start;
  settled += SettleDisk();
  start = Now();
  floor.removed = bench::RemoveFloor(files, target);
  floor.remove = Now() - start;
  if (!floor.written || !floor.removed) fwprintf(stderr, L"the floor failed: %lu\n", GetLastError());
  return floor;
}

double TimedMsiexec(const std::wstring& arguments) {
  SettleDisk();
  double start = Now();
  DWORD code = RunMsiexec(arguments);
  double seconds = Now() - start;
  if (code != 0) fwprintf(stderr, L"msiexec %ls: %lu\n", arguments.c_str(), code);
  return seconds;
}

// Sets the Orvo's Action in the installed master document, as OrvoInit
// would for a removal.
bool SetAction(const std::wstring& master, const wchar_t* action) {
  XmlDocument document;
  if (!document.Load(master)) return false;
  DomElement* orvo = FindChildElement(FirstChildElement(document.root(), L"Orvos"), L"Orvo", L"Name", L"Bench");
  if (!orvo) return false;
  orvo->setAttribute(L"Action", action);
  return document.Save();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 4) {
    fwprintf(stderr, L"usage: install_bench CONTENT REFERENCE.msi EMPTY.msi [mszip|lzx] [journal|nojournal]\n");
    return 2;
  }
  std::wstring content = argv[1], reference = argv[2], empty = argv[3];
  bool lzx = argc > 4 && std::wstring(argv[4]) == L"lzx";
  // With the rollback journal, as an installation runs; without it, to show its cost.
  bool journal = !(argc > 5 && std::wstring(argv[5]) == L"nojournal");
  size_t files = ListFolder(CombinePath(content), kListFiles, true).size();
  std::wstring work = ScratchFolder(L"install_bench");
  std::wstring target = work + L"Installed\\";
  std::wstring product = work + L"Product\\";

  // Media: one Orvo, one cabinet of the whole folder.
  cab::PackOptions options;
  options.compression = lzx ? cab::Compression::Lzx(21) : cab::Compression::Mszip();
  cab::PackResult packed;
  std::string error;
  EnsureFolder(work + L"media\\Content\\Bench\\");
  double packStart = Now();
  if (!cab::PackFolder(ToNarrow(work + L"media\\Content\\Bench\\Bench.cab"), ToNarrow(content), options, &packed,
                       &error)) {
    fwprintf(stderr, L"pack: %hs\n", error.c_str());
    return 1;
  }
  double packSeconds = Now() - packStart;
  MasterDocumentSpec master;
  master.orvos.push_back({L"Bench", L"true", L"", L"", L"Bench\\Bench.xml", L"", L""});
  PackDocumentSpec pack;
  pack.orvoId = L"Bench";
  pack.cabinets = {{L"0", L"Bench.cab", L"", L"1000", std::to_wstring(files), L"ORVODATA", L""}};
  if (!WriteMasterDocument(work + L"media\\Content\\", master) ||
      !WritePackDocument(work + L"media\\Content\\Bench\\Bench.xml", pack)) {
    fwprintf(stderr, L"cannot write the media\n");
    return 1;
  }

  std::wstring code;
  {
    MsiPackage package(work + L"media\\bench.msi");
    code = package.productCode();
    package.Property(L"_ORVOGUID", L"_B");
    package.Property(L"ORVO_DOCUMENT", L"Content\\master.xml");
    package.Property(L"INSTALLDIR", product);
    package.Property(L"ORVODATA", target);
    package.Property(L"INDEXED_DIRECTORIES", L"INSTALLDIR;ORVODATA");
    package.Property(L"ORVO_SELECTED", L"Bench");
    package.Commit();
  }
  if (!PathExists(AppIndexPath())) WriteResourceFile(kEmptyAppIndex, AppIndexPath());
  MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
  unique_msihandle session = OpenPackage(work + L"media\\bench.msi");
  if (!session) return 1;
  AppIndexWrite(session.get());
  OrvoInit(session.get());
  HandOverData data = HandOverData::Decode(InstallerSession::Instance().GetProperty(L"orvo_Install_B", true));
  if (!journal) data.transaction.clear();
  std::wstring handOver = data.Encode();
  MsiSetPropertyW(session.get(), L"CustomActionData", handOver.c_str());
  // The floor once before and once after, so that a disk slowing down or
  // speeding up during the run weighs on both sides alike.
  double settled = 0;
  auto floorFiles = bench::ReadFloorFiles(CombinePath(content));
  Floor before = MeasureFloor(floorFiles, work + L"FloorBefore\\", settled);
  settled += SettleDisk();
  double installStart = Now();
  UINT installed = OrvoInstall(session.get());
  double installSeconds = Now() - installStart;
  size_t written = ListFolder(target, kListFiles, true).size();

  std::wstring masterPath = product + L"Orvos\\master.xml";
  SetAction(masterPath, L"remove");
  data.installType = InstallTypeToText(IT_REINSTALL | IT_UNINSTALL);
  std::wstring removal = data.Encode();
  MsiSetPropertyW(session.get(), L"CustomActionData", removal.c_str());
  settled += SettleDisk();
  double removeStart = Now();
  UINT removed = OrvoRemove(session.get());
  double removeSeconds = Now() - removeStart;
  // What the commit action does afterwards: the removed files kept aside go.
  double commitStart = Now();
  CommitJournals(JournalFolder(masterPath), data.transaction);
  double commitSeconds = Now() - commitStart;
  size_t left = PathExists(target) ? ListFolder(target, kListFiles, true).size() : 0;
  session.reset();
  AppIndex index;
  if (index.Open()) index.RemoveProduct(code);

  Floor after = MeasureFloor(floorFiles, work + L"FloorAfter\\", settled);
  double floorInstall = (before.install + after.install) / 2, floorRemove = (before.remove + after.remove) / 2;
  bool floorWritten = before.written && after.written, floorRemoved = before.removed && after.removed;

  // The reference: msiexec's own file installation, less an empty package's run.
  double emptyInstall = TimedMsiexec(L"/i \"" + empty + L"\" /qn");
  double emptyRemove = TimedMsiexec(L"/x \"" + empty + L"\" /qn");
  double referenceInstall = TimedMsiexec(L"/i \"" + reference + L"\" /qn");
  double referenceRemove = TimedMsiexec(L"/x \"" + reference + L"\" /qn");
  double msiInstall = referenceInstall - emptyInstall, msiRemove = referenceRemove - emptyRemove;

  wprintf(L"%zu files, %llu bytes; cabinet %ls, %llu bytes, packed in %.1f s\n", files,
          (unsigned long long)packed.totals.uncompressedBytes, lzx ? L"LZX 21" : L"MSZIP",
          (unsigned long long)packed.totals.cabinetBytes, packSeconds);
  wprintf(L"journal       %ls (commit afterwards %.2f s)\n", journal ? L"kept" : L"off", commitSeconds);
  wprintf(L"write-back    %.1f s waited before the timed phases\n", settled);
  wprintf(L"OrvoInstall   %7.2f s  %7.1f us/file  (result %u, %zu files written)\n", installSeconds,
          1e6 * installSeconds / double(files), installed, written);
  wprintf(L"OrvoRemove    %7.2f s  %7.1f us/file  (result %u, %zu files left)\n", removeSeconds,
          1e6 * removeSeconds / double(files), removed, left);
  wprintf(L"msiexec files %7.2f s install, %7.2f s removal (runs of %.2f s and %.2f s less an empty package's "
          L"%.2f s and %.2f s)\n",
          msiInstall, msiRemove, referenceInstall, referenceRemove, emptyInstall, emptyRemove);
  wprintf(L"floor         %7.2f s install, %7.2f s removal (CreateFileW, WriteFile, SetFileTime, CloseHandle, "
          L"SetFileAttributesW; DeleteFileW)\n",
          floorInstall, floorRemove);
  wprintf(L"floor before  %7.2f s install, %7.2f s removal; after %.2f s, %.2f s\n", before.install, before.remove,
          after.install, after.remove);
  if (msiInstall > 0 && msiRemove > 0)
    wprintf(L"ratio OrvoInstall / msiexec installation %.2f; OrvoRemove / msiexec removal %.2f\n",
            installSeconds / msiInstall, removeSeconds / msiRemove);
  if (floorInstall > 0 && floorRemove > 0)
    wprintf(L"ratio OrvoInstall / floor %.2f; OrvoRemove / floor %.2f\n", installSeconds / floorInstall,
            removeSeconds / floorRemove);
  RemoveTree(work);
  return installed == 0 && removed == 0 && written == files && left == 0 && floorWritten && floorRemoved ? 0 : 1;
}
