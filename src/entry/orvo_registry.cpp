#include "registry/orvo_registry.h"

#include "action/frame.h"
#include "catalog/orvo_model.h"
#include "media/media_locator.h"
#include "registry/profiles.h"
#include "registry/registry_step.h"

namespace orvo {

int RunRegistrySteps(OrvoCatalog& catalog, const std::function<int(OrvoCatalog&)>& profileStep,
                     const UserObserver& afterUser) {
  auto& session = InstallerSession::Instance();
  int result = profileStep(catalog);
  if (result != 0) {
    session.Log(L"!=> cloneprofiles returning %d", result);
    return result;
  }
  result = RegistryStep(catalog, afterUser);
  if (result != 0) {
    session.Log(L"!=> registry returning %d", result);
    return result;
  }
  return 0;
}

}  // namespace orvo

extern "C" UINT __stdcall OrvoRegistry(MSIHANDLE handle) {
  return orvo::GuardEntryPoint(L"OrvoRegistry", [&]() -> UINT {
    orvo::Frame frame(handle, L"OrvoRegistry");
    orvo::XmlDocument master;
    orvo::DomDocument* document = nullptr;
    if (!orvo::LoadDocument(master, orvo::InstalledMasterDocumentPath(), document) || !document) return ERROR_SUCCESS;
    orvo::MediaLocator::Instance().SetUp(orvo::ChildText(master.root(), L"MediaRoot"),
                                         orvo::ChildText(master.root(), L"URL"));
    orvo::OrvoCatalog catalog;
    catalog.Load(master, false);
    // The master document is read only here: it is not saved.
    return static_cast<UINT>(orvo::RunRegistrySteps(catalog, orvo::CloneProfiles));
  });
}
