// The package of a product that uses the library, for end-to-end tests:
// the properties the actions read, INSTALLDIR under Program Files with
// ORVODATA below it, one feature and component, the DLL, and the entry
// points asked for, each scheduled as a product schedules it.
#pragma once
#include <string>
#include <vector>

#include "support/msi_package.h"
#include "support/test_session.h"

namespace orvo::test {

struct OrvoProduct {
  std::wstring folderName;            // below Program Files
  std::wstring guid = L"_E2E";        // "_ORVOGUID"
  std::wstring document = L"Content\\master.xml";
  PropertyList properties;            // further properties
  // ORVODATA below common application data instead of INSTALLDIR, so that
  // products can share it.
  std::wstring sharedDataFolder;
  // USERDATA below each user's application data, a per-user directory.
  std::wstring perUserFolder;
  // Of AppIndexWrite, OrvoInit, OrvoRemove, OrvoInstall, OrvoRegistry,
  // OrvoShortcuts, OrvoCleanup, AppIndexUninstall, OrvoRollback (the
  // journal's rollback and commit actions), scheduled as
  // integration/orvo.wxi does, and FailAfterFiles (a deferred step that
  // fails when ORVO_TEST_FAIL is set); more can be added to the package.
  std::vector<std::wstring> entryPoints;
};

// Everything but the commit, so that callers can add rows of their own.
void AddOrvoProduct(MsiPackage& package, const OrvoProduct& product);
// Program Files\<folderName>\ as the installation resolves it.
std::wstring ProductFolder(const OrvoProduct& product);
// Where ORVODATA resolves.
std::wstring DataFolder(const OrvoProduct& product);

}  // namespace orvo::test
