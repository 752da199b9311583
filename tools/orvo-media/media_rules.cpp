#include "media_rules.h"

#include <initializer_list>

namespace orvo::media {
namespace {

const char kSchemaInstance[] = "http://www.w3.org/2001/XMLSchema-instance";

bool Blank(const std::string& text) { return text.find_first_not_of(" \t\r\n") == std::string::npos; }

void TextOnly(const XmlElement& e, const Report& report) {
  if (!e.children.empty()) report(e.children[0]->line, e.name + " may hold only text, not " + e.children[0]->name);
}

void Empty(const XmlElement& e, const Report& report) {
  TextOnly(e, report);
  if (!Blank(e.text)) report(e.line, e.name + " may not hold text");
}

// Element-only content: no text, and only the listed children.
void Children(const XmlElement& e, std::initializer_list<const char*> allowed, const Report& report) {
  if (!Blank(e.text)) report(e.line, e.name + " may not hold text");
  for (const auto& child : e.children) {
    bool ok = false;
    for (const char* name : allowed) ok |= child->name == name;
    if (!ok) report(child->line, child->name + " is not allowed in " + e.name);
  }
}

void Required(const XmlElement& e, const char* attribute, const Report& report) {
  if (!e.Attribute(attribute)) report(e.line, e.name + " has no " + attribute + " attribute");
}

void Number(const XmlElement& e, const char* attribute, bool allowNegative, const Report& report) {
  const std::string* value = e.Attribute(attribute);
  if (value && !IsWholeNumber(*value, allowNegative)) {
    report(e.line, e.name + " " + attribute + "=\"" + *value + "\" is not a " +
                       (allowNegative ? "whole number" : "non-negative whole number"));
  }
}

void CheckCabinet(const XmlElement& e, const Report& report) {
  Children(e, {"Continuation"}, report);
  for (const auto& child : e.children) {
    if (child->name != "Continuation") continue;
    Empty(*child, report);
    Required(*child, "Name", report);
    Required(*child, "SHA256", report);
  }
  Required(e, "Name", report);
  Number(e, "Sequence", true, report);
  Number(e, "Cost", false, report);
  Number(e, "FileCount", false, report);
}

void CheckProfileEntry(const XmlElement& e, const Report& report) { TextOnly(e, report); }

// Open sections take anything, but the elements the schema declares
// globally are still checked wherever they appear.
void CheckOpen(const XmlElement& e, const Report& report) {
  for (const auto& child : e.children) {
    if (child->name == "Profile") {
      CheckProfile(*child, report);
    } else if (child->name == "ProfileEntry") {
      CheckProfileEntry(*child, report);
    } else if (child->name == "Cabinet") {
      CheckCabinet(*child, report);
    } else {
      if (child->name == "Shortcut") {
        // Without them the installer makes a link named ".lnk" to nothing.
        Required(*child, "Name", report);
        Required(*child, "Target", report);
      }
      CheckOpen(*child, report);
    }
  }
}

void CheckIdentification(const XmlElement& e, const Report& report) {
  Children(e, {"OrvoId", "Supercedes", "PreferredLanguages", "PreferredRegions", "CabFolder", "URL"}, report);
  for (const auto& child : e.children) {
    if (child->name == "PreferredLanguages" || child->name == "PreferredRegions") {
      const char* item = child->name == "PreferredLanguages" ? "Language" : "Region";
      Children(*child, {item}, report);
      for (const auto& c : child->children) TextOnly(*c, report);
    } else {
      TextOnly(*child, report);
    }
  }
}

void CheckFiles(const XmlElement& e, const Report& report) {
  Children(e, {"PublishedDirectories", "Cabinet"}, report);
  for (const auto& child : e.children) {
    if (child->name == "Cabinet") {
      CheckCabinet(*child, report);
    } else if (child->name == "PublishedDirectories") {
      Children(*child, {"Publish"}, report);
      for (const auto& publish : child->children) {
        Empty(*publish, report);
        Required(*publish, "Id", report);
        Required(*publish, "Directory", report);
      }
    }
  }
}

}  // namespace

bool IsWholeNumber(const std::string& text, bool allowNegative) {
  size_t start = text.find_first_not_of(" \t\r\n");
  if (start == std::string::npos) return false;
  size_t end = text.find_last_not_of(" \t\r\n") + 1;
  if (text[start] == '+' || (allowNegative && text[start] == '-')) ++start;
  if (start == end) return false;
  for (size_t i = start; i < end; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
  }
  return true;
}

std::string SchemaLocation(const XmlElement& root, const Report& report) {
  const std::string* location = root.Attribute("xsi:noNamespaceSchemaLocation");
  if (!location) {
    report(root.line, root.name + " names no schema (xsi:noNamespaceSchemaLocation)");
    return std::string();
  }
  const std::string* ns = root.Attribute("xmlns:xsi");
  if (!ns || *ns != kSchemaInstance) report(root.line, std::string("the xsi prefix is not bound to ") + kSchemaInstance);
  return *location;
}

void CheckMasterStructure(const XmlElement& root, const Report& report) {
  if (root.name != "OrvoMaster") report(root.line, "the root element is " + root.name + ", not OrvoMaster");
  Children(root,
           {"MediaRoot", "URL", "OrvoInstallRoot", "MasterDocumentFolder", "ProductCode", "SkipFolders",
            "InitialSelection", "DefaultAlwaysSelection", "DefaultSelection", "DefaultAlwaysDeselection", "Orvos"},
           report);
  for (const auto& child : root.children) {
    if (child->name != "Orvos") {
      TextOnly(*child, report);
      continue;
    }
    Children(*child, {"Orvo"}, report);
    for (const auto& orvo : child->children) {
      if (orvo->name != "Orvo") continue;
      Required(*orvo, "Name", report);
      Children(*orvo, {"MediaPath", "StandalonePath", "InstallPath"}, report);
      for (const auto& c : orvo->children) TextOnly(*c, report);
    }
  }
}

void CheckPackStructure(const XmlElement& root, const Report& report) {
  if (root.name != "OrvoPack") report(root.line, "the root element is " + root.name + ", not OrvoPack");
  Children(root, {"Identification", "Inheritance", "Files", "Registry", "Shortcuts", "ApplicationDefaults"}, report);
  for (const auto& child : root.children) {
    const std::string& name = child->name;
    if (name == "Identification") {
      CheckIdentification(*child, report);
    } else if (name == "Inheritance") {
      TextOnly(*child, report);
    } else if (name == "Files") {
      CheckFiles(*child, report);
    } else if (name == "Registry" || name == "Shortcuts") {
      CheckOpen(*child, report);
    } else if (name == "ApplicationDefaults") {
      Children(*child, {"Property"}, report);
      for (const auto& property : child->children) {
        Empty(*property, report);
        Required(*property, "Name", report);
      }
    }
  }
}

void CheckProfile(const XmlElement& profile, const Report& report) {
  Required(profile, "Name", report);
  Children(profile, {"Inheritance", "ProfileEntry"}, report);
  for (const auto& child : profile.children) {
    if (child->name == "Inheritance") TextOnly(*child, report);
    if (child->name == "ProfileEntry") CheckProfileEntry(*child, report);
  }
}

}  // namespace orvo::media
