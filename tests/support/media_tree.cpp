#include "support/media_tree.h"

#include <windows.h>

#include "content_pack.h"
#include "action/installer_session.h"
#include "documents/paths.h"
#include "support/test_files.h"

namespace orvo::test {
namespace {

std::wstring Attribute(const wchar_t* name, const std::wstring& value) {
  return value.empty() ? std::wstring() : std::wstring(L" ") + name + L"=\"" + EscapeXml(value) + L"\"";
}

std::wstring Element(const wchar_t* name, const std::wstring& text) {
  return text.empty() ? std::wstring() : std::wstring(L"<") + name + L">" + EscapeXml(text) + L"</" + name + L">";
}

bool WriteDocument(const std::wstring& path, const std::wstring& xml, const wchar_t* schema) {
  EnsureFolder(ParentFolder(path));
  if (!WriteFileBytes(path, "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n" + ToNarrow(xml))) return false;
  std::wstring schemaPath = CombinePath(ParentFolder(path), schema);
  return CopyFileW(SourcePath(std::wstring(L"samples\\media\\") + schema).c_str(), schemaPath.c_str(), FALSE) != 0;
}

std::wstring OrvoElement(const MasterOrvoSpec& orvo) {
  return L"<Orvo" + Attribute(L"Name", orvo.name) + Attribute(L"Display", orvo.display) +
         Attribute(L"Action", orvo.action) + Attribute(L"Installed", orvo.installed) +
         Attribute(L"Standalone", orvo.standalone) + L">" + Element(L"MediaPath", orvo.mediaPath) +
         Element(L"StandalonePath", orvo.standalonePath) + L"</Orvo>\r\n";
}

const wchar_t kSchemaInstance[] = L" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"";

}  // namespace

std::wstring EscapeXml(const std::wstring& text) {
  std::wstring out;
  for (wchar_t c : text) {
    switch (c) {
      case L'&': out += L"&amp;"; break;
      case L'<': out += L"&lt;"; break;
      case L'>': out += L"&gt;"; break;
      case L'"': out += L"&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

bool WriteMasterDocument(const std::wstring& folder, const MasterDocumentSpec& spec) {
  std::wstring xml = std::wstring(L"<OrvoMaster") + kSchemaInstance +
                     L" xsi:noNamespaceSchemaLocation=\"master.xsd\">\r\n";
  xml += Element(L"MediaRoot", spec.mediaRoot) + Element(L"URL", spec.url) +
         Element(L"InitialSelection", spec.initialSelection);
  for (const auto& [name, text] : spec.extra) xml += L"<" + name + L">" + EscapeXml(text) + L"</" + name + L">";
  xml += L"\r\n<Orvos>\r\n";
  for (const auto& orvo : spec.orvos) xml += OrvoElement(orvo);
  xml += L"</Orvos>\r\n</OrvoMaster>\r\n";
  return WriteDocument(CombinePath(folder, L"master.xml"), xml, L"master.xsd");
}

bool WritePackDocument(const std::wstring& path, const PackDocumentSpec& spec) {
  std::wstring location = spec.schemaLocation.empty() ? L"orvo_pack.xsd" : spec.schemaLocation;
  std::wstring xml = std::wstring(L"<OrvoPack") + kSchemaInstance + L" xsi:noNamespaceSchemaLocation=\"" +
                     EscapeXml(location) + L"\">\r\n<Identification>";
  xml += Element(L"OrvoId", spec.orvoId) + Element(L"Supercedes", spec.supercedes);
  if (!spec.languages.empty()) {
    xml += L"<PreferredLanguages>";
    for (const auto& language : spec.languages) xml += Element(L"Language", language);
    xml += L"</PreferredLanguages>";
  }
  if (!spec.regions.empty() || !spec.preferAnyRegion.empty()) {
    xml += L"<PreferredRegions" + Attribute(L"PreferAnyRegion", spec.preferAnyRegion) + L">";
    for (const auto& region : spec.regions) xml += Element(L"Region", region);
    xml += L"</PreferredRegions>";
  }
  if (!spec.cabFolder.empty() || !spec.useIdAsCabFolder.empty()) {
    xml += L"<CabFolder" + Attribute(L"UseIdAsCabFolder", spec.useIdAsCabFolder) + L">" + EscapeXml(spec.cabFolder) +
           L"</CabFolder>";
  }
  xml += Element(L"URL", spec.url) + L"</Identification>\r\n" + Element(L"Inheritance", spec.inheritance);
  xml += L"\r\n<Files>";
  if (!spec.published.empty()) {
    xml += L"<PublishedDirectories>";
    for (const auto& [id, directory] : spec.published) {
      xml += L"<Publish" + Attribute(L"Id", id) + Attribute(L"Directory", directory) + L"/>";
    }
    xml += L"</PublishedDirectories>";
  }
  for (const auto& cabinet : spec.cabinets) {
    xml += L"\r\n<Cabinet" + Attribute(L"Sequence", cabinet.sequence) + Attribute(L"Name", cabinet.name) +
           Attribute(L"Condition", cabinet.condition) + Attribute(L"Cost", cabinet.cost) +
           Attribute(L"FileCount", cabinet.fileCount) + Attribute(L"Directory", cabinet.directory) +
           Attribute(L"Subscribe", cabinet.subscribe) + Attribute(L"SHA256", cabinet.sha256) + L"/>";
  }
  xml += L"</Files>\r\n<Registry>";
  for (const auto& profile : spec.profiles) {
    xml += L"<Profile" + Attribute(L"Name", profile.name) + Attribute(L"Visible", profile.visible) + L">" +
           Element(L"Inheritance", profile.inheritance);
    for (const auto& entry : profile.entries) {
      xml += L"<ProfileEntry" + Attribute(L"Subkey", entry.subkey) + Attribute(L"Name", entry.name) +
             Attribute(L"Type", entry.type) + Attribute(L"Flags", entry.flags) + L">" + EscapeXml(entry.data) +
             L"</ProfileEntry>";
    }
    xml += L"</Profile>";
  }
  xml += spec.registryXml + L"</Registry>\r\n";
  if (!spec.shortcutsXml.empty()) xml += L"<Shortcuts>" + spec.shortcutsXml + L"</Shortcuts>\r\n";
  if (!spec.applicationDefaults.empty()) {
    xml += L"<ApplicationDefaults>";
    for (const auto& property : spec.applicationDefaults) {
      xml += L"<Property" + Attribute(L"Name", property.name) + L" Value=\"" + EscapeXml(property.value) + L"\"/>";
    }
    xml += L"</ApplicationDefaults>\r\n";
  }
  xml += L"</OrvoPack>\r\n";
  return WriteDocument(path, xml, L"orvo_pack.xsd");
}

bool WriteDeploymentDocument(const std::wstring& path,
                             const std::vector<std::pair<std::wstring, std::vector<MasterOrvoSpec>>>& products) {
  std::wstring xml = L"<KeltraContent>\r\n";
  for (const auto& [productCode, orvos] : products) {
    xml += L"<Orvos" + Attribute(L"ProductCode", productCode) + L">\r\n";
    for (const auto& orvo : orvos) xml += OrvoElement(orvo);
    xml += L"</Orvos>\r\n";
  }
  xml += L"</KeltraContent>\r\n";
  EnsureFolder(ParentFolder(path));
  return WriteFileBytes(path, "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n" + ToNarrow(xml));
}

bool WriteContentCabinet(const std::wstring& path, const std::map<std::wstring, std::string>& files) {
  EnsureFolder(ParentFolder(path));
  std::vector<cab::PackItem> items;
  for (const auto& [relative, bytes] : files) {
    cab::PackItem item;
    item.relativePath = ToNarrow(relative);
    item.bytes.assign(bytes.begin(), bytes.end());
    items.push_back(std::move(item));
  }
  cab::PackResult result;
  std::string error;
  return cab::PackItems(ToNarrow(path), items, cab::PackOptions(), &result, &error);
}

}  // namespace orvo::test
