// OrvoRegistry: gives every user the Orvos' profiles and registry entries.
#include "action/frame.h"
#include "catalog/orvo_model.h"
#include "catalog/untrusted_paths.h"
#include "entry/entry_points.h"
#include "media/media_locator.h"
#include "registry/profiles.h"
#include "registry/registry_steps.h"

extern "C" UINT __stdcall OrvoRegistry(MSIHANDLE handle) {
  return orvo::GuardEntryPoint(L"OrvoRegistry", [&]() -> UINT {
    orvo::Frame frame(handle, L"OrvoRegistry");
    orvo::XmlDocument master;
    orvo::DomDocument* document = nullptr;
    if (!orvo::LoadDocument(master, orvo::InstalledMasterDocumentPath(), document) || !document) return ERROR_SUCCESS;
    orvo::MediaLocator::Instance().SetUp(orvo::TrustedMediaRoot(master),
                                         orvo::ChildText(master.root(), L"URL"));
    orvo::OrvoCatalog catalog;
    catalog.Load(master, false);
    // The master document is read only here: it is not saved.
    return static_cast<UINT>(orvo::RunRegistrySteps(catalog, orvo::CloneProfiles));
  });
}
