#include "support/orvo_product.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include "action/installer_session.h"
#include "documents/paths.h"
#include "support/test_files.h"

namespace orvo::test {

void AddOrvoProduct(MsiPackage& package, const OrvoProduct& product) {
  package.Property(L"_ORVOGUID", product.guid);
  package.Property(L"ORVO_DOCUMENT", product.document);
  package.Property(L"INDEXED_DIRECTORIES", L"INSTALLDIR;ORVODATA");
  if (!product.perUserFolder.empty())
    package.Property(L"INDEXED_PERUSERDIRS", L"USERDATA;AppDataFolder;LocalAppDataFolder");
  for (const auto& [name, value] : product.properties) package.Property(name, value);
  package.Directory(L"ProgramFilesFolder", L"TARGETDIR", L".");
  package.Directory(L"INSTALLDIR", L"ProgramFilesFolder", product.folderName);
  if (product.sharedDataFolder.empty()) {
    package.Directory(L"ORVODATA", L"INSTALLDIR", L"Data");
  } else {
    package.Directory(L"CommonAppDataFolder", L"TARGETDIR", L".");
    package.Directory(L"ORVODATA", L"CommonAppDataFolder", product.sharedDataFolder);
  }
  if (!product.perUserFolder.empty()) {
    package.Directory(L"AppDataFolder", L"TARGETDIR", L".");
    package.Directory(L"USERDATA", L"AppDataFolder", product.perUserFolder);
  }
  package.Feature(L"Main");
  package.Component(L"MainComponent", L"INSTALLDIR");
  package.FeatureComponent(L"Main", L"MainComponent");
  package.Binary(L"OrvoAction", DllPath());
  package.StandardSequence();
  for (const auto& entry : product.entryPoints) {
    if (entry == L"AppIndexWrite") {
      package.CustomAction(L"IndexWrite", 1, L"OrvoAction", entry);
      package.Sequence(L"IndexWrite", 1410, L"REMOVE<>\"ALL\"");
    } else if (entry == L"OrvoInit") {
      package.CustomAction(L"Init", 1, L"OrvoAction", entry);
      package.Sequence(L"Init", 1420);
    } else if (entry == L"OrvoRemove") {
      package.CustomAction(L"orvo_Remove" + product.guid, 1 + 1024, L"OrvoAction", entry);
      package.Sequence(L"orvo_Remove" + product.guid, 3900);
    } else if (entry == L"OrvoCleanup") {
      package.CustomAction(L"Cleanup", 1, L"OrvoAction", entry);
      package.Sequence(L"Cleanup", 6630, L"REMOVE=\"ALL\"");
    } else if (entry == L"AppIndexUninstall") {
      package.CustomAction(L"IndexUninstall", 1, L"OrvoAction", entry);
      package.Sequence(L"IndexUninstall", 6640, L"REMOVE=\"ALL\"");
    } else if (entry == L"OrvoRegistry") {
      // After the script, as the product include schedules it.
      package.CustomAction(L"Registry", 1, L"OrvoAction", entry);
      package.Sequence(L"Registry", 6610);
    } else if (entry == L"OrvoShortcuts") {
      package.CustomAction(L"Shortcuts", 1, L"OrvoAction", entry);
      package.Sequence(L"Shortcuts", 6620);
    } else if (entry == L"OrvoInstall") {
      // Deferred: its CustomActionData is the property of its own name.
      package.CustomAction(L"orvo_Install" + product.guid, 1 + 1024, L"OrvoAction", entry);
      package.Sequence(L"orvo_Install" + product.guid, 4100);
    } else if (entry == L"OrvoRollback") {
      // The journal's rollback action before the file actions, its commit after them.
      package.CustomAction(L"orvo_Rollback" + product.guid, 1 + 256 + 1024, L"OrvoAction", entry);
      package.Sequence(L"orvo_Rollback" + product.guid, 3890);
      package.CustomAction(L"orvo_Commit" + product.guid, 1 + 512 + 1024, L"OrvoAction", entry);
      package.Sequence(L"orvo_Commit" + product.guid, 4190);
    } else if (entry == L"FailAfterFiles") {
      // A deferred step after the file actions that fails when ORVO_TEST_FAIL
      // is set: the installation rolls back.
      package.Binary(L"FailAction", BinaryPath(L"bin\\orvo_fail_action.dll"));
      package.CustomAction(L"FailAfterFiles", 1 + 1024, L"FailAction", L"FailAction");
      package.Sequence(L"FailAfterFiles", 4180, L"ORVO_TEST_FAIL");
    } else {
      ADD_FAILURE() << "no schedule for " << ToNarrow(entry);
    }
  }
}

std::wstring DataFolder(const OrvoProduct& product) {
  if (product.sharedDataFolder.empty()) return ProductFolder(product) + L"Data\\";
  return CombinePath(SpecialFolder(CSIDL_COMMON_APPDATA), product.sharedDataFolder + L"\\");
}

std::wstring ProductFolder(const OrvoProduct& product) {
  return CombinePath(PackageFolder(L"ProgramFilesFolder"), product.folderName + L"\\");
}

}  // namespace orvo::test
