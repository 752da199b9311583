// Decides, before anything is executed, which Orvos an installation
// installs or removes, and publishes that choice for the later actions.
#pragma once
#include <functional>
#include <string>

#include "appindex/app_index.h"
#include "catalog/orvo_model.h"
#include "documents/xml_document.h"

namespace orvo {

// 0, or 1608 when a first installation finds no master document.
// afterHandOver runs right after the hand-over properties are published
// (and only then), before the choices are recorded in the index.
int InitializeCatalog(OrvoCatalog& catalog, const std::function<void()>& afterHandOver = {});

std::wstring InstalledMasterFolder();
std::wstring ResolveMasterDocumentPath();
std::wstring FindSetupFolder(const std::wstring& sourceFolder);
bool MergeDeploymentDocument(XmlDocument& master);
bool IsNewUser(AppIndex& index);
void RegisterDirectories(const Orvo& orvo, AppIndex& index);

}  // namespace orvo
