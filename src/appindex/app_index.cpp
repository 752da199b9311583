#include "appindex/app_index.h"

#include <windows.h>
#include <shlobj.h>

#include <cwchar>
#include <set>

#include <xercesc/util/XMLUni.hpp>

#include "action/install_type.h"
#include "action/installer_session.h"
#include "documents/paths.h"

namespace orvo {

namespace {

const wchar_t kProduct[] = L"Product";
const wchar_t kProductCode[] = L"ProductCode";
const wchar_t kProperties[] = L"Properties";
const wchar_t kProperty[] = L"Property";
const wchar_t kDirectories[] = L"Directories";
const wchar_t kDirectory[] = L"Directory";
const wchar_t kUsers[] = L"Users";
const wchar_t kUser[] = L"User";
const wchar_t kName[] = L"Name";
const wchar_t kData[] = L"Data";
const wchar_t kFlags[] = L"Flags";
const wchar_t kLpProps[] = L"INDEXED_LP_PROPS";

InstallerSession& Session() { return InstallerSession::Instance(); }

// Every user may write the index, and no index declares a document type: a
// declaration planted in it would have the installer fetch whatever it
// names (a file, a share, a server), so such a file does not load.
FeatureList WithoutDocumentType(FeatureList features) {
  features.push_back(xercesc::XMLUni::fgDOMDisallowDoctype);
  return features;
}

template <class... A>
void Log(std::wstring_view format, const A&... args) {
  InstallLog::Write(format, args...);
}

// DOM calls report trouble by throwing; here it becomes "none".
DomElement* NewElement(DomElement* parent, const wchar_t* tag) {
  if (!parent) return nullptr;
  try {
    return parent->getOwnerDocument()->createElement(tag);
  } catch (...) {
    return nullptr;
  }
}

DomElement* AppendNew(DomElement* parent, const wchar_t* tag) {
  DomElement* element = NewElement(parent, tag);
  if (!element) return nullptr;
  try {
    parent->appendChild(element);
  } catch (...) {
    return nullptr;
  }
  return element;
}

DomElement* InsertNewBefore(DomElement* parent, const wchar_t* tag, DomNode* before) {
  DomElement* element = NewElement(parent, tag);
  if (!element) return nullptr;
  try {
    parent->insertBefore(element, before);
  } catch (...) {
    return nullptr;
  }
  return element;
}

bool SetAttribute(DomElement* element, const wchar_t* name, const std::wstring& value) {
  if (!element) return false;
  try {
    element->setAttribute(name, value.c_str());
    return true;
  } catch (...) {
    return false;
  }
}

unsigned FlagsOf(const DomElement* element) {
  std::wstring text = AttributeText(element, kFlags);
  return static_cast<unsigned>(std::wcstoul(text.c_str(), nullptr, 10));
}

// Sets the per-user bit and keeps the others: a recorded AI_FLAG_NOWRITE
// must survive a repair.
void MarkPerUser(DomElement* element) {
  SetAttribute(element, kFlags, std::to_wstring(FlagsOf(element) | AI_FLAG_PERUSER));
}

void ReadDirectoryTable(const DomElement* directories, DirectoryTable& table) {
  for (DomNode* node = directories ? directories->getFirstChild() : nullptr; node; node = node->getNextSibling()) {
    if (node->getNodeType() != DomNode::ELEMENT_NODE) continue;
    auto* element = static_cast<DomElement*>(node);
    if (std::wstring(element->getTagName()) != kDirectory) continue;
    DirectoryEntry& entry = table[AttributeText(element, kName)];
    entry.path = AttributeText(element, kData);
    entry.flags = FlagsOf(element);
  }
}

// The longest text ResolveUserReferences builds.
constexpr size_t kLongestResolvedText = 1u << 20;

// Whether the folder lies in (or is) the prefix folder; an unknown prefix
// matches nothing.
bool IsBelow(const std::wstring& folder, const std::wstring& prefix) {
  if (prefix.empty()) return false;
  std::wstring base = CombinePath(FoldCase(prefix));
  return CombinePath(FoldCase(folder)).compare(0, base.size(), base) == 0;
}

}  // namespace

std::wstring AppIndexPath() {
  return CombinePath(CombinePath(SpecialFolder(CSIDL_COMMON_APPDATA), L"Keltra"), L"appIndex.xml");
}

std::wstring AppIndexValidatedPath() {
  std::wstring folder = SpecialFolder(CSIDL_COMMON_APPDATA);
  StripTrailingBackslashes(folder);
  return folder + L"\\Keltra\\appIndex.xml";
}

std::wstring CurrentUserName() {
  wchar_t buffer[260] = {0};
  DWORD size = 260;
  if (!GetUserNameW(buffer, &size)) return std::wstring();
  buffer[259] = 0;
  return buffer;
}

AppIndex::AppIndex(const std::wstring& path) : indexPath_(path) {}

bool AppIndex::Open() {
  if (opened_) return true;
  std::wstring path = indexPath_.empty() ? AppIndexPath() : indexPath_;
  DomDocument* document = Load(path, WithoutDocumentType(FeatureList()));
  if (!document) {
    Log(L" !=> Failed to load %s", path);
    Log(L"     > %s", LastError());
    return false;
  }
  std::wstring warning = LastError();
  if (!warning.empty()) Log(L" !=> %s", warning);
  index_ = document;
  opened_ = true;
  return true;
}

bool AppIndex::OpenValidated() {
  if (opened_) return true;
  std::wstring path = indexPath_.empty() ? AppIndexValidatedPath() : indexPath_;
  if (!PathExists(path)) return false;
  DomDocument* document = Load(path, WithoutDocumentType(FullValidation()));
  if (!document) return false;
  index_ = document;
  opened_ = true;
  return true;
}

std::wstring AppIndex::CodeOrCurrent(const std::wstring& productCode) {
  return productCode.empty() ? Session().GetProperty(kProductCode, true) : productCode;
}

DomElement* AppIndex::FindProduct(const std::wstring& productCode) {
  return index_ ? FindChildElement(index_->getDocumentElement(), kProduct, kProductCode, productCode) : nullptr;
}

DomElement* AppIndex::GetOrCreateProduct(const std::wstring& productCode) {
  if (!index_) return nullptr;
  DomElement* root = index_->getDocumentElement();
  if (!root) return nullptr;
  // Only a Product directly under the root is one. A search of the root's
  // children: marking every Product's code as an ID first costs half a
  // second on a large index.
  DomElement* product = FindProduct(productCode);
  if (product) return product;

  product = NewElement(root, kProduct);
  if (!product || !SetAttribute(product, kProductCode, productCode)) return nullptr;
  try {
    root->insertBefore(product, FirstChildElement(root, L"xs:schema"));
  } catch (...) {
    return nullptr;
  }
  DomElement* directories = FirstChildElement(product, kDirectories);
  if (!directories) directories = AppendNew(product, kDirectories);
  if (!FirstChildElement(product, kProperties)) InsertNewBefore(product, kProperties, directories);
  return product;
}

DomElement* AppIndex::CurrentUserDirectories(DomElement* product) {
  if (!product) return nullptr;
  std::wstring user = CurrentUserName();
  DomElement* users = FirstChildElement(product, kUsers);
  if (!users) users = AppendNew(product, kUsers);
  if (!users) {
    Log(L" !=> Failed to create Users element");
    return nullptr;
  }
  DomElement* entry = FindChildElement(users, kUser, kName, user);
  if (!entry) {
    entry = AppendNew(users, kUser);
    SetAttribute(entry, kName, user);
  }
  DomElement* directories = entry ? FirstChildElement(entry, kDirectories) : nullptr;
  if (!directories && entry) directories = AppendNew(entry, kDirectories);
  if (!directories) Log(L" !=> Failed to create User/Directories element");
  return directories;
}

DomElement* AppIndex::SetNameData(DomElement* parent, const std::wstring& tag, const std::wstring& name,
                                  const std::wstring& data) {
  if (!parent) return nullptr;
  DomElement* element = FindChildElement(parent, tag, kName, name);
  if (!element) {
    element = AppendNew(parent, tag.c_str());
    if (!SetAttribute(element, kName, name)) return nullptr;
  }
  return SetAttribute(element, kData, data) ? element : nullptr;
}

bool AppIndex::WriteProduct() {
  if (!Open()) return false;
  auto& session = Session();
  std::wstring code = session.GetProperty(kProductCode);
  std::wstring indexedProperties = session.GetProperty(L"INDEXED_PROPERTIES");

  DomElement* product = GetOrCreateProduct(code);
  if (!product) {
    Log(L" !=> Failed to access Product element");
    return false;
  }
  if (!CurrentUserDirectories(product)) {
    Log(L" !=> Failed to access User/Directories element");
    return false;
  }
  DomElement* users = FirstChildElement(product, kUsers);
  if (!users) {
    Log(L" !=> Failed to access Users element");
    return false;
  }
  DomElement* directories = FirstChildElement(product, kDirectories);
  if (!directories) directories = InsertNewBefore(product, kDirectories, users);
  if (!directories) {
    Log(L" !=> Failed to access Directories element");
    return false;
  }
  DomElement* properties = FirstChildElement(product, kProperties);
  if (!properties) properties = InsertNewBefore(product, kProperties, directories);
  if (!properties) {
    Log(L" !=> Failed to access Properties element");
    return false;
  }

  TextList propertyNames;
  SplitText(indexedProperties, L";", propertyNames, true);
  for (const auto& name : propertyNames) SetNameData(properties, kProperty, name, session.GetProperty(name));

  TextList directoryNames, perUserNames;
  SplitText(session.GetProperty(L"INDEXED_DIRECTORIES"), L";", directoryNames, true);
  SplitText(session.GetProperty(L"INDEXED_PERUSERDIRS"), L";", perUserNames, true);
  for (const auto& name : perUserNames) {
    if (IndexOfText(directoryNames, name) < 0) directoryNames.push_back(name);
  }
  // One save for the whole record: the index can hold hundreds of products.
  for (const auto& name : directoryNames) RecordDirectory(code, name, IndexOfText(perUserNames, name) >= 0);

  if (!session.GetProperty(L"PARENTPRODUCTCODE").empty()) {
    ImportParentProperties();
  } else {
    std::wstring lpProps = session.GetProperty(kLpProps);
    SetNameData(properties, kProperty, kLpProps, lpProps);
    TextList lpNames;
    SplitText(lpProps, L";", lpNames, true);
    for (const auto& name : lpNames) {
      if (IndexOfText(propertyNames, name) >= 0 || IndexOfText(perUserNames, name) >= 0 ||
          IndexOfText(directoryNames, name) >= 0)
        continue;
      SetNameData(properties, kProperty, name, session.GetProperty(name));
    }
  }
  return Save(L"UTF-16", L"\r\n");
}

bool AppIndex::WriteDirectory(const std::wstring& productCode, const std::wstring& name, bool perUser) {
  return RecordDirectory(productCode, name, perUser) && Save(L"UTF-16", L"\r\n");
}

bool AppIndex::RecordDirectory(const std::wstring& productCode, const std::wstring& name, bool perUser) {
  if (!Open()) return false;
  auto& session = Session();
  std::wstring folder = session.GetProperty(name);
  std::wstring code = CodeOrCurrent(productCode);

  DomElement* product = FindProduct(code);
  DomElement* directories = product ? FirstChildElement(product, kDirectories) : nullptr;
  if (!directories) return false;

  bool firstInstall = (session.installType() & IT_NEWINSTALL) != 0;
  DomElement* directory = FindChildElement(directories, kDirectory, kName, name);
  if (!directory || firstInstall) directory = SetNameData(directories, kDirectory, name, folder);
  if (!directory) return false;

  if (FlagsOf(directory) & AI_FLAG_PERUSER) {
    perUser = true;
  } else {
    // Outside a first installation the recorded folder wins and is handed
    // back to the installer.
    folder = AttributeText(directory, kData);
    if (!firstInstall) session.SetProperty(name, L"%s", folder);
  }

  if (perUser || IsPerUserPath(folder)) {
    MarkPerUser(directory);
    if (!FirstChildElement(product, kUsers)) return false;
    DomElement* userDirectories = CurrentUserDirectories(product);
    if (!userDirectories) return false;
    Log(L"  => For user %s directory %s resolves to %s", CurrentUserName(), name, folder);
    MarkPerUser(SetNameData(userDirectories, kDirectory, name, folder));
  }
  return true;
}

void AppIndex::ImportParentProperties() {
  auto& session = Session();
  DomElement* parent = GetOrCreateProduct(session.GetProperty(L"PARENTPRODUCTCODE"));
  if (!parent) {
    Log(L" !=> Failed to access Product element");
    return;
  }
  DomElement* properties = FirstChildElement(parent, kProperties);
  if (!properties) {
    Log(L" !=> Failed to access Product/Properties element");
    return;
  }
  DomElement* directories = FirstChildElement(parent, kDirectories);
  if (!directories) {
    Log(L" !=> Failed to access Product/Directories element");
    return;
  }
  DomElement* userDirectories = CurrentUserDirectories(parent);
  if (!userDirectories) {
    Log(L" !=> Failed to access User/Directories element");
    return;
  }
  DomElement* list = FindChildElement(properties, kProperty, kName, kLpProps);
  if (!list) {
    Log(L" !=> Failed to access %s property", kLpProps);
    return;
  }
  TextList names;
  SplitText(AttributeText(list, kData), L";", names, true);
  for (const auto& name : names) {
    // A directory is recorded as a Directory, a property as a Property.
    DomElement* found = FindChildElement(userDirectories, kDirectory, kName, name);
    if (!found) found = FindChildElement(directories, kDirectory, kName, name);
    if (!found) found = FindChildElement(properties, kProperty, kName, name);
    if (!found) {
      Log(L" !=> Failed to access %s by Name", name);
      continue;
    }
    session.SetProperty(name, L"%s", AttributeText(found, kData));
  }
}

bool AppIndex::SetIndexedProperty(const std::wstring& productCode, const std::wstring& name,
                                  const std::wstring& data) {
  if (!Open()) return false;
  DomElement* product = FindProduct(CodeOrCurrent(productCode));
  DomElement* properties = product ? FirstChildElement(product, kProperties) : nullptr;
  if (!properties) return false;
  SetNameData(properties, kProperty, name, data);
  Save(L"UTF-16", L"\r\n");
  return true;
}

std::wstring AppIndex::GetIndexedProperty(const std::wstring& productCode, const std::wstring& name) {
  if (!Open()) return std::wstring();
  DomElement* product = FindProduct(CodeOrCurrent(productCode));
  DomElement* properties = product ? FirstChildElement(product, kProperties) : nullptr;
  return AttributeText(FindChildElement(properties, kProperty, kName, name), kData);
}

std::wstring AppIndex::GetIndexedDirectory(const std::wstring& productCode, const std::wstring& name) {
  if (!Open()) return std::wstring();
  DomElement* product = FindProduct(CodeOrCurrent(productCode));
  DomElement* directories = product ? FirstChildElement(product, kDirectories) : nullptr;
  return AttributeText(FindChildElement(directories, kDirectory, kName, name), kData);
}

bool AppIndex::GetUserDirectory(const std::wstring& productCode, const std::wstring& userName,
                                const std::wstring& directoryName, std::wstring& folder) {
  if (!Open()) return false;
  DomElement* product = FindProduct(productCode);
  if (!product || !FirstChildElement(product, kDirectories)) return false;
  DomElement* user = FindChildElement(FirstChildElement(product, kUsers), kUser, kName, userName);
  DomElement* directory = FindChildElement(FirstChildElement(user, kDirectories), kDirectory, kName, directoryName);
  if (!directory) return false;
  folder = AttributeText(directory, kData);
  return true;
}

bool AppIndex::ListUsers(const std::wstring& productCode, TextList& users) {
  users.clear();
  if (!Open()) return false;
  DomElement* product = FindProduct(productCode);
  if (!product || !FirstChildElement(product, kDirectories)) return false;
  DomElement* usersElement = FirstChildElement(product, kUsers);
  if (!usersElement) return false;
  for (DomNode* node = usersElement->getFirstChild(); node; node = node->getNextSibling()) {
    if (node->getNodeType() != DomNode::ELEMENT_NODE) continue;
    auto* element = static_cast<DomElement*>(node);
    if (std::wstring(element->getTagName()) == kUser) users.push_back(AttributeText(element, kName));
  }
  return true;
}

bool AppIndex::CollectDirectories(const std::wstring& productCode, DirectoryTable& product,
                                  UserDirectoryTables& users) {
  if (!Open()) return false;
  DomElement* productElement = FindProduct(productCode);
  DomElement* directories = productElement ? FirstChildElement(productElement, kDirectories) : nullptr;
  DomElement* usersElement = productElement ? FirstChildElement(productElement, kUsers) : nullptr;
  if (!directories || !usersElement) return false;
  ReadDirectoryTable(directories, product);
  for (DomNode* node = usersElement->getFirstChild(); node; node = node->getNextSibling()) {
    if (node->getNodeType() != DomNode::ELEMENT_NODE) continue;
    auto* element = static_cast<DomElement*>(node);
    if (std::wstring(element->getTagName()) != kUser) continue;
    DirectoryTable table;
    ReadDirectoryTable(FirstChildElement(element, kDirectories), table);
    users[AttributeText(element, kName)] = std::move(table);
  }
  return true;
}

void AppIndex::ResolveUserReferences(const std::wstring& productCode, const std::wstring& userName,
                                     std::wstring& text) {
  // Each name is expanded once: a value that holds its own bracketed name
  // (directly or through other names) keeps that reference as text instead
  // of growing without end.
  std::set<std::wstring> expanded;
  size_t from = 0;
  for (;;) {
    size_t open = text.find(L'[', from);
    if (open == std::wstring::npos) break;
    size_t close = text.find(L']', open + 1);
    if (close == std::wstring::npos) break;
    std::wstring name = text.substr(open + 1, close - open - 1);
    if (expanded.count(name)) {
      from = open + 1;
      continue;
    }
    std::wstring value;
    if (!GetUserDirectory(productCode, userName, name, value)) value = Session().GetProperty(name);
    expanded.insert(name);
    std::wstring reference = L"[" + name + L"]";
    // Names whose values hold other names twice over (a hostile index can
    // chain its folders so) double the text with each one; past a length no
    // folder or value comes near, the reference stays as it is.
    size_t count = 0;
    for (size_t at = text.find(reference); at != std::wstring::npos; at = text.find(reference, at + reference.size()))
      ++count;
    if (value.size() > reference.size() &&
        (text.size() >= kLongestResolvedText ||
         value.size() - reference.size() > (kLongestResolvedText - text.size()) / count)) {
      from = open + 1;
      continue;
    }
    ReplaceAll(text, reference, value);
    from = 0;
  }
}

bool AppIndex::RemoveProduct(const std::wstring& productCode) {
  if (!Open()) return false;
  DomElement* product = FindProduct(CodeOrCurrent(productCode));
  if (!product) return false;
  try {
    // Not released: the document's ID table may still point at it.
    product->getParentNode()->removeChild(product);
  } catch (...) {
    return false;
  }
  return Save(L"UTF-16", L"\r\n");
}

std::wstring AppIndex::LookupProperty(const std::wstring& productCode, const std::wstring& name) {
  if (!opened_) return std::wstring();
  DomElement* product = FindProduct(productCode);
  DomElement* properties = product ? FirstChildElement(product, kProperties) : nullptr;
  return AttributeText(FindChildElement(properties, kProperty, kName, name), kData);
}

bool AppIndex::IsPerUserPath(const std::wstring& folder) {
  if (IsBelow(folder, ParentFolder(SpecialFolder(CSIDL_APPDATA)))) return true;
  return IsBelow(folder, SpecialFolder(CSIDL_PERSONAL));
}

}  // namespace orvo
