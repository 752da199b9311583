#include "media_documents.h"

#include <algorithm>

#include "media_rules.h"
#include "xml_text.h"

namespace orvo::media {
namespace {

const char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n";
const char kSchemaInstance[] = " xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"";

std::string Attribute(const char* name, const std::string& value) {
  return std::string(" ") + name + "=\"" + EscapeXml(value) + "\"";
}

std::string Element(const char* name, const std::string& text) {
  return std::string("<") + name + ">" + EscapeXml(text) + "</" + name + ">";
}

std::string Join(const std::vector<std::string>& items) {
  std::string out;
  for (const auto& item : items) out += (out.empty() ? "" : ";") + item;
  return out;
}

void AllOrvos(XmlElement& e, const std::string& name, std::vector<XmlElement*>* found) {
  for (auto& child : e.children) {
    const std::string* n = child->Attribute("Name");
    if (child->name == "Orvo" && n && *n == name) found->push_back(child.get());
    AllOrvos(*child, name, found);
  }
}

// The spaces and tabs that begin the line `offset` is on, up to it.
std::string IndentBefore(const std::string& text, size_t offset) {
  size_t start = offset;
  while (start > 0 && (text[start - 1] == ' ' || text[start - 1] == '\t')) --start;
  if (start > 0 && text[start - 1] != '\n') return std::string();
  return text.substr(start, offset - start);
}

// Puts `child` as the last child of `e`, on a line of its own.
void AppendChild(std::string& text, const XmlElement& e, const std::string& child, const std::string& eol) {
  std::string indent = IndentBefore(text, e.begin);
  std::string inner = indent + "  ";
  if (e.selfClosing) {
    // "<Orvos/>" becomes "<Orvos>...</Orvos>".
    text.replace(e.end - 2, 2, ">" + eol + inner + child + eol + indent + "</" + e.name + ">");
    return;
  }
  size_t lineStart = e.contentEnd;
  while (lineStart > e.contentBegin && (text[lineStart - 1] == ' ' || text[lineStart - 1] == '\t')) --lineStart;
  if (lineStart > e.contentBegin && text[lineStart - 1] == '\n') {
    text.insert(lineStart, inner + child + eol);
  } else {
    text.insert(e.contentEnd, eol + inner + child + eol + indent);
  }
}

}  // namespace

std::string MasterDocumentText() {
  return std::string(kDeclaration) + "<OrvoMaster" + kSchemaInstance + Attribute("xsi:noNamespaceSchemaLocation", kMasterSchemaFile) +
         ">\r\n  <Orvos>\r\n  </Orvos>\r\n</OrvoMaster>\r\n";
}

std::string PackDocumentText(const PackSpec& packSpec) {
  std::string xml = std::string(kDeclaration) + "<OrvoPack" + kSchemaInstance +
                    Attribute("xsi:noNamespaceSchemaLocation", kPackSchemaFile) + ">\r\n";
  xml += "  <Identification>\r\n    " + Element("OrvoId", packSpec.name) + "\r\n";
  if (!packSpec.supersedes.empty()) xml += "    " + Element("Supercedes", Join(packSpec.supersedes)) + "\r\n";
  if (!packSpec.languages.empty()) {
    xml += "    <PreferredLanguages>";
    for (const auto& language : packSpec.languages) xml += Element("Language", language);
    xml += "</PreferredLanguages>\r\n";
  }
  if (!packSpec.regions.empty()) {
    xml += "    <PreferredRegions>";
    for (const auto& region : packSpec.regions) xml += Element("Region", region);
    xml += "</PreferredRegions>\r\n";
  }
  xml += "  </Identification>\r\n";
  if (!packSpec.inherits.empty()) xml += "  " + Element("Inheritance", Join(packSpec.inherits)) + "\r\n";
  xml += "  <Files>\r\n";
  if (packSpec.perUser) {
    // The pack has no flag of its own for this: the product's index decides.
    xml += "    <!-- " + EscapeXml(packSpec.directory) +
           " is a per-user directory: the package lists it in INDEXED_PERUSERDIRS. -->\r\n";
  }
  for (size_t i = 0; i < packSpec.cabinets.size(); ++i) {
    const CabinetSpec& cabinet = packSpec.cabinets[i];
    xml += "    <Cabinet" + Attribute("Sequence", std::to_string(i)) + Attribute("Name", cabinet.name) +
           Attribute("Cost", std::to_string(cabinet.cost)) + Attribute("FileCount", std::to_string(cabinet.fileCount)) +
           Attribute("Directory", packSpec.directory) + (cabinet.sha256.empty() ? "" : Attribute("SHA256", cabinet.sha256));
    if (cabinet.continuations.empty()) {
      xml += "/>\r\n";
      continue;
    }
    xml += ">\r\n";
    for (const ContinuationSpec& next : cabinet.continuations)
      xml += "      <Continuation" + Attribute("Name", next.name) + Attribute("SHA256", next.sha256) + "/>\r\n";
    xml += "    </Cabinet>\r\n";
  }
  xml += "  </Files>\r\n";
  if (!packSpec.profileXml.empty()) {
    std::string fragment = packSpec.profileXml;
    while (!fragment.empty() && (fragment.back() == '\n' || fragment.back() == '\r')) fragment.pop_back();
    xml += "  <Registry>\r\n" + fragment + "\r\n  </Registry>\r\n";
  }
  if (!packSpec.shortcuts.empty()) {
    xml += "  <Shortcuts>\r\n";
    for (const auto& shortcut : packSpec.shortcuts) {
      xml += "    <Shortcut" + Attribute("Name", shortcut.name) + Attribute("Target", shortcut.target);
      if (!shortcut.parameters.empty()) xml += Attribute("Parameters", shortcut.parameters);
      xml += Attribute("TargetDirectory", "DesktopFolder") + "/>\r\n";
    }
    xml += "  </Shortcuts>\r\n";
  }
  return xml + "</OrvoPack>\r\n";
}

bool RegisterOrvo(const std::string& masterBytes, const std::string& name, std::string* updated, std::string* error) {
  XmlDocument document;
  std::string why;
  if (!ParseXml(masterBytes, &document, &why)) {
    *error = why;
    return false;
  }
  XmlElement& root = *document.root;
  if (root.name != "OrvoMaster") {
    *error = "the root element is " + root.name + ", not OrvoMaster";
    return false;
  }
  std::string text = document.text;
  std::string eol = text.find("\r\n") != std::string::npos ? "\r\n" : "\n";
  std::string entry = "<Orvo" + Attribute("Name", name) + Attribute("Display", "true") + ">" +
                      Element("MediaPath", name + "\\" + name + ".xml") + "</Orvo>";
  std::vector<XmlElement*> existing;
  AllOrvos(root, name, &existing);
  if (!existing.empty()) {
    // The installer lets a later entry of a name replace an earlier one:
    // keep one, where the first was.
    for (size_t i = existing.size(); i-- > 1;) {
      size_t begin = existing[i]->begin, end = existing[i]->end;
      while (begin > 0 && (text[begin - 1] == ' ' || text[begin - 1] == '\t')) --begin;
      if (text.compare(end, eol.size(), eol) == 0) end += eol.size();
      text.erase(begin, end - begin);
    }
    text.replace(existing[0]->begin, existing[0]->end - existing[0]->begin, entry);
  } else if (const XmlElement* orvos = root.Child("Orvos")) {
    AppendChild(text, *orvos, entry, eol);
  } else {
    AppendChild(text, root, "<Orvos>" + eol + "    " + entry + eol + "  </Orvos>", eol);
  }
  *updated = EncodeLike(document, text);
  return true;
}

bool CheckProfileFragment(const std::string& fragment, std::string* error) {
  XmlDocument document;
  std::string text = fragment;
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
  if (text.compare(0, 5, "<?xml") == 0) {
    *error = "give the Profile elements alone, without an XML declaration";
    return false;
  }
  // Line numbers stay those of the file: the wrapper is on its first line.
  if (!ParseXml("<Registry>" + text + "</Registry>", &document, error)) return false;
  std::string problems;
  Report report = [&](unsigned line, const std::string& problem) {
    if (problems.empty()) problems = "line " + std::to_string(line) + ": " + problem;
  };
  // Registry entries and registrations travel in the same section; the
  // installer reads them as they come.
  static const char* const kEntries[] = {"HKLM",         "HKCU",          "HKCR", "Group", "DetailsKeynotesDb",
                                         "DetailsComponentsDb", "BroviaCatalog", "BroviaGroup"};
  for (const auto& child : document.root->children) {
    if (child->name == "Profile") {
      CheckProfile(*child, report);
      continue;
    }
    bool entry = false;
    for (const char* name : kEntries) entry = entry || child->name == name;
    if (!entry) report(child->line, child->name + " is not a Profile or a registry entry");
  }
  if (document.root->children.empty()) problems = "no Profile element";
  if (document.root->text.find_first_not_of(" \t\r\n") != std::string::npos) problems = "text between the Profile elements";
  if (!problems.empty()) *error = problems;
  return problems.empty();
}

}  // namespace orvo::media
