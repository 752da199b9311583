#include <algorithm>

#include "catalog/orvo_model.h"

namespace orvo {

namespace {
std::wstring CaseOf(std::wstring text, bool upper) {
  for (auto& c : text) {
    if (upper && c >= L'a' && c <= L'z') c = wchar_t(c - L'a' + L'A');
    if (!upper && c >= L'A' && c <= L'Z') c = wchar_t(c - L'A' + L'a');
  }
  return text;
}

// Element texts of the named children, cased, first occurrence kept.
void ReadList(const DomElement* parent, const std::wstring& tag, bool upper, TextList& list) {
  if (!parent) return;
  for (DomNode* node = parent->getFirstChild(); node; node = node->getNextSibling()) {
    if (node->getNodeType() != DomNode::ELEMENT_NODE) continue;
    if (std::wstring(static_cast<DomElement*>(node)->getTagName()) != tag) continue;
    std::wstring text = CaseOf(ElementText(node), upper);
    if (!text.empty() && std::find(list.begin(), list.end(), text) == list.end()) list.push_back(text);
  }
}
}  // namespace

void PackIdentificationCommon::ReadIdentification(const DomElement* identification) {
  orvoId = ChildText(identification, L"OrvoId");
  languages.clear();
  regions.clear();
  ReadList(FirstChildElement(identification, L"PreferredLanguages"), L"Language", false, languages);
  DomElement* preferred = FirstChildElement(identification, L"PreferredRegions");
  std::wstring any = AttributeText(preferred, L"PreferAnyRegion");
  preferAnyRegion = any == L"true" || any == L"1";
  if (!preferAnyRegion) ReadList(preferred, L"Region", true, regions);
  DomElement* cab = FirstChildElement(identification, L"CabFolder");
  cabFolder = ElementText(cab);
  if (cab && AttributeText(cab, L"UseIdAsCabFolder") == L"yes" && !orvoId.empty()) cabFolder = orvoId;
  url = ChildText(identification, L"URL");
}

bool PackIdentificationCommon::MatchesLanguageAndRegion(const std::wstring& language,
                                                        const std::wstring& region) const {
  if (languages.empty() || IndexOfText(languages, language) < 0) return false;
  return preferAnyRegion || IndexOfText(regions, region) >= 0;
}

bool PackIdentificationCommon::MatchesLanguageOnly(const std::wstring& language) const {
  return IndexOfText(languages, language) >= 0 && !preferAnyRegion && regions.empty();
}

bool PackIdentificationCommon::IdContainsLanguageAndRegion(const std::wstring& language,
                                                           const std::wstring& region) const {
  return orvoId.find(language + L"-" + region) != std::wstring::npos;
}

// "-XX": the language, a dash and two more characters.
bool PackIdentificationCommon::IdContainsLanguageAnyRegion(const std::wstring& language) const {
  std::wstring wanted = language + L"-";
  for (size_t at = orvoId.find(wanted); at != std::wstring::npos; at = orvoId.find(wanted, at + 1)) {
    if (at + wanted.size() + 2 <= orvoId.size()) return true;
  }
  return false;
}

bool PackIdentificationCommon::IdRegionIs(const std::wstring& region) const {
  size_t dash = orvoId.find(L'-');
  if (dash == std::wstring::npos) return false;
  size_t end = orvoId.find(L'-', dash + 1);
  if (end == std::wstring::npos) end = orvoId.size();
  return orvoId.substr(dash + 1, end - dash - 1) == region;
}

}  // namespace orvo
