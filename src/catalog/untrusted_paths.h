// Checks for the names that master and pack documents turn into paths.
#pragma once
#include <string>

#include "documents/xml_document.h"

namespace orvo {

// A relative path that stays below the folder it is joined to.
bool IsSafeRelativeName(const std::wstring& text);
// A relative path as above, or a full path that lies below the media root
// (the rest being such a relative path).
bool IsSafeMediaPath(const std::wstring& text, const std::wstring& mediaRoot);

// Whether the master document's path fields ("OrvoInstallRoot",
// "MasterDocumentFolder", "MediaRoot") agree with the folder the document
// was loaded from: the install root is that folder, the media root a full
// path, the master folder inside the media. When they do not, nothing from
// them is used.
bool MasterPathsAgree(const XmlDocument& master);
// "MediaRoot" when the paths agree, else empty.
std::wstring TrustedMediaRoot(const XmlDocument& master);

}  // namespace orvo
