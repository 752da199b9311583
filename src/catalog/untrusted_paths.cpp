#include "catalog/untrusted_paths.h"

#include "action/installer_session.h"
#include "documents/contained_path.h"
#include "documents/paths.h"

#include <algorithm>

namespace orvo {

namespace {
// A full path without "." or ".." steps (a root alone counts).
bool IsPlainFullPath(const std::wstring& path) {
  if (!IsAbsolutePath(path)) return false;
  std::wstring rest = path.substr(std::min(path.size(), VolumeRoot(path).size()));
  StripTrailingBackslashes(rest);
  return rest.empty() || IsContainedRelativePath(rest);
}
}  // namespace

bool IsSafeRelativeName(const std::wstring& text) { return IsContainedRelativePath(text); }

bool IsSafeMediaPath(const std::wstring& text, const std::wstring& mediaRoot) {
  if (IsContainedRelativePath(text)) return true;
  return IsAbsolutePath(text) && IsAbsolutePath(mediaRoot) && IsStrictlyBelow(text, mediaRoot);
}

bool MasterPathsAgree(const XmlDocument& master) {
  DomElement* root = master.root();
  if (!root) return false;
  std::wstring installRoot = ChildText(root, L"OrvoInstallRoot");
  std::wstring masterFolder = ChildText(root, L"MasterDocumentFolder");
  std::wstring mediaRoot = ChildText(root, L"MediaRoot");
  if (!installRoot.empty() && !SamePathKey(installRoot, ParentFolder(master.path()))) return false;
  if (!mediaRoot.empty() && !IsPlainFullPath(mediaRoot)) return false;
  std::wstring folder = masterFolder;
  StripTrailingBackslashes(folder);
  return folder.empty() || SamePathKey(folder, mediaRoot) || IsSafeMediaPath(folder, mediaRoot);
}

std::wstring TrustedMediaRoot(const XmlDocument& master) {
  return MasterPathsAgree(master) ? ChildText(master.root(), L"MediaRoot") : std::wstring();
}

}  // namespace orvo
