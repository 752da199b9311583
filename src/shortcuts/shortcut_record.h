// One shortcut of an Orvo, as its pack document describes it.
#pragma once
#include <string>
#include <vector>

namespace orvo {

struct ShortcutRecord {
  std::wstring linkPath;  // full path of the .lnk file
  std::wstring target;
  std::wstring arguments;
  std::wstring description;
  std::wstring folder;  // holds the .lnk file
  std::wstring workingDirectory;
  std::wstring icon;
  bool alwaysInstall = false;  // even when the Orvo is not in the shortcut list
  int iconIndex = 0;
};

using ShortcutList = std::vector<ShortcutRecord>;

}  // namespace orvo
