// Named profiles of the host application: machine-wide master copies
// written at initialisation, user copies built from them (bases first,
// the profile's own data last) with each user's macro values put in.
#pragma once
#include <string>

#include "documents/text_lists.h"
#include "registry/user_hives.h"

namespace orvo {

class Orvo;
class OrvoCatalog;

int InitProfiles(OrvoCatalog& catalog);
void CreateMachineProfiles(const Orvo& orvo, MacroSet& macros, bool overwrite);
void SeedDefaultProfile(MacroSet& macros);
int CloneProfiles(OrvoCatalog& catalog);
// Into the hive HKEY_CURRENT_USER stands for now.
bool CloneProfile(const std::wstring& profile, const TextList& search, const TextList& replace);
void BackupForReset(const std::wstring& profile);
bool DeleteProfile(const std::wstring& profile);
// The machine-wide master profiles and macro store of a removed product.
void RemoveMachineProfiles();

}  // namespace orvo
