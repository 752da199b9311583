// The file-installation step: extracts the cabinets of every Orvo that
// takes part into each of their target directories, for all users or for
// each user, recording every file in the cabinet reference documents.
#pragma once
#include "catalog/orvo_model.h"
#include "documents/xml_document.h"

namespace orvo {

// 0 when the step ran to its end or had nothing to do, 1602 when the user
// cancelled. installingUser: the user whose own per-user content this is, as
// the immediate action handed it over (a deferred action runs as
// LocalSystem); empty in an immediate call takes the running user.
unsigned InstallFiles(XmlDocument& master, OrvoCatalog& catalog, const std::wstring& installingUser = {});

// Elapsed seconds as "%H:%M:%S", the hours within one day.
std::wstring ElapsedText(long long seconds);

}  // namespace orvo
