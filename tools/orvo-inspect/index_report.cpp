#include <string>

#include "action/wformat.h"
#include "documents/paths.h"
#include "inspect.h"

namespace orvo::inspect {

std::vector<DomElement*> ChildElements(const DomElement* parent, const std::wstring& tag) {
  std::vector<DomElement*> children;
  for (DomElement* child = parent ? parent->getFirstElementChild() : nullptr; child;
       child = child->getNextElementSibling()) {
    if (tag == child->getTagName()) children.push_back(child);
  }
  return children;
}

bool OpenIndex(AppIndex& index, const std::wstring& path, std::wstring& reason) {
  if (!PathExists(path)) {
    reason = path + L" does not exist";
    return false;
  }
  if (IsFolder(path)) {
    reason = path + L" is a folder, not an index";
    return false;
  }
  if (!index.Open() || !index.root()) {
    reason = path + L" does not load: " + OneLine(index.LastError());
    return false;
  }
  return true;
}

std::wstring FlagNames(unsigned flags) {
  std::wstring names;
  auto add = [&](const std::wstring& name) { names += (names.empty() ? L"" : L", ") + name; };
  if (flags & AI_FLAG_PERUSER) add(L"per-user");
  if (flags & AI_FLAG_NOWRITE) add(L"no-write");
  unsigned other = flags & ~unsigned(AI_FLAG_PERUSER | AI_FLAG_NOWRITE);
  if (other) add(Format(L"other flags %u", other));
  return names;
}

namespace {

void PrintDirectories(const DomElement* directories, const std::wstring& indent) {
  std::vector<DomElement*> entries = ChildElements(directories, L"Directory");
  if (entries.empty()) Out(indent + L"(none)");
  for (DomElement* entry : entries) {
    unsigned flags = static_cast<unsigned>(wcstoul(AttributeText(entry, L"Flags").c_str(), nullptr, 10));
    std::wstring names = FlagNames(flags);
    Out(indent + AttributeText(entry, L"Name") + L" = " + AttributeText(entry, L"Data") +
        (names.empty() ? L"" : L" [" + names + L"]"));
  }
}

}  // namespace

int ReportIndex(const std::wstring& indexPath) {
  std::wstring path = indexPath.empty() ? AppIndexPath() : indexPath;
  AppIndex index(path);
  std::wstring reason;
  if (!OpenIndex(index, path, reason)) {
    Problem(L"index " + reason);
    return kNotFound;
  }
  Out(L"Index: " + path);
  std::vector<DomElement*> products = ChildElements(index.root(), L"Product");
  if (products.empty()) Out(L"No product is recorded.");
  for (DomElement* product : products) {
    Out(L"");
    Out(L"Product " + AttributeText(product, L"ProductCode"));
    Out(L"  Properties:");
    std::vector<DomElement*> properties = ChildElements(FirstChildElement(product, L"Properties"), L"Property");
    if (properties.empty()) Out(L"    (none)");
    for (DomElement* property : properties)
      Out(L"    " + AttributeText(property, L"Name") + L" = " + AttributeText(property, L"Data"));
    Out(L"  Directories:");
    PrintDirectories(FirstChildElement(product, L"Directories"), L"    ");
    std::vector<DomElement*> users = ChildElements(FirstChildElement(product, L"Users"), L"User");
    Out(users.empty() ? L"  Users: (none)" : L"  Users:");
    for (DomElement* user : users) {
      Out(L"    User " + AttributeText(user, L"Name") + L":");
      PrintDirectories(FirstChildElement(user, L"Directories"), L"      ");
    }
  }
  return kOk;
}

}  // namespace orvo::inspect
