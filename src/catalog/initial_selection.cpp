#include "catalog/initial_selection.h"

#include <windows.h>

#include <algorithm>
#include <functional>

#include "action/install_type.h"
#include "action/installer_session.h"

namespace orvo {

namespace {
bool InChoiceOfContent() {
  return (InstallerSession::Instance().installType() & (IT_NEWINSTALL | IT_ADDREMOVE)) != 0;
}

std::wstring UserRegion() {
  LCID lcid = GetUserDefaultLCID();
  if (lcid == 1024) lcid = GetSystemDefaultLCID();
  wchar_t name[85] = {};
  if (!LCIDToLocaleName(lcid, name, 85, 0)) return std::wstring();
  std::wstring text(name);
  if (text.size() > 2) text = text.substr(text.size() - 2);
  for (auto& c : text) {
    if (c >= L'a' && c <= L'z') c = wchar_t(c - L'a' + L'A');
  }
  return text;
}

void AppendMissing(TextList& list, const std::wstring& entry) {
  if (IndexOfText(list, entry) < 0) list.push_back(entry);
}
}  // namespace

std::wstring StoreSelection(const std::wstring& selection, DomElement* root) {
  if (InChoiceOfContent()) {
    if (root) SetChildText(root, L"InitialSelection", selection);
  } else {
    InstallerSession::Instance().SetProperty(L"ORVO_SELECTED", L"%s", selection);
  }
  return selection;
}

std::wstring InitialSelection(DomElement* root, const OrvoCatalog& catalog) {
  auto& session = InstallerSession::Instance();
  std::wstring text;
  if (InChoiceOfContent()) {
    text = session.GetProperty(L"ORVO_SELECTED");
    if (text == L";") return std::wstring();
  }
  if (text.empty()) text = ChildText(root, L"InitialSelection");
  TextList list;
  SplitText(text, L";", list, true);
  if (list.empty()) {
    std::wstring lang = session.GetProperty(L"LANG2LONG");
    if (lang == L"zh-CN") lang = L"chs-CN";
    if (lang == L"zh-TW") lang = L"cht-CN";
    std::wstring language = lang.substr(0, lang.find(L'-'));
    std::wstring region = UserRegion();
    bool anyLanguage = false;
    auto stage = [&](const std::function<bool(const Orvo&)>& matches) {
      if (!list.empty()) return;
      for (const auto& [name, orvo] : catalog.orvos()) {
        if (!orvo->languages.empty()) anyLanguage = true;
        if (matches(*orvo)) AppendMissing(list, orvo->orvoId);
      }
    };
    stage([&](const Orvo& o) { return o.MatchesLanguageAndRegion(language, region); });
    stage([&](const Orvo& o) { return o.MatchesLanguageOnly(language); });
    stage([&](const Orvo& o) { return !o.languages.empty() && IndexOfText(o.languages, language) >= 0; });
    if (!anyLanguage) {
      stage([&](const Orvo& o) { return o.IdContainsLanguageAndRegion(language, region); });
      stage([&](const Orvo& o) { return o.IdContainsLanguageAnyRegion(language); });
      stage([&](const Orvo& o) { return o.IdRegionIs(region); });
    }
    TextList always, defaults, deselect;
    SplitText(ChildText(root, L"DefaultAlwaysSelection"), L";", always, true);
    SplitText(ChildText(root, L"DefaultSelection"), L";", defaults, true);
    SplitText(ChildText(root, L"DefaultAlwaysDeselection"), L";", deselect, true);
    for (const auto& entry : always) AppendMissing(list, entry);
    if (list.empty()) {
      for (const auto& entry : defaults) AppendMissing(list, entry);
    }
    for (const auto& entry : deselect) {
      auto found = std::find(list.begin(), list.end(), entry);
      if (found != list.end()) list.erase(found);
    }
  }
  return StoreSelection(JoinText(list, L";"), root);
}

}  // namespace orvo
