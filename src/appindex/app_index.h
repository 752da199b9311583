// The machine-wide application index "appIndex.xml": per product, the
// recorded installer properties, the folders of its directories, and each
// user's own folders for the per-user ones.
#pragma once
#include <map>
#include <string>

#include "documents/text_lists.h"
#include "documents/xml_document.h"

namespace orvo {

// Directory flag bits.
enum : unsigned {
  AI_FLAG_PERUSER = 1,
  AI_FLAG_NOWRITE = 2,
};

struct DirectoryEntry {
  std::wstring path;
  unsigned flags = 0;
};
// Directory name to entry, and user name to that user's table.
using DirectoryTable = std::map<std::wstring, DirectoryEntry>;
using UserDirectoryTables = std::map<std::wstring, DirectoryTable>;

// The log of the application-index actions, in the temporary folder.
inline constexpr wchar_t kAppIndexLogName[] = L"appIndex.log";

// Common application data, "Keltra", "appIndex.xml" (CombinePath form).
std::wstring AppIndexPath();
// The same file by the other form: the special folder without trailing
// backslashes, then "\Keltra\appIndex.xml".
std::wstring AppIndexValidatedPath();
// GetUserNameW, at most 260 characters.
std::wstring CurrentUserName();

class AppIndex : public XmlDocument {
 public:
  // An empty path: the machine's index (AppIndexPath, or the other form
  // for OpenValidated).
  explicit AppIndex(const std::wstring& path = std::wstring());

  bool Open();
  bool OpenValidated();
  bool opened() const { return opened_; }
  DomDocument* index() const { return index_; }

  // Empty product codes mean the "ProductCode" property, except where the
  // code is "used as given" (GetOrCreateProduct, GetUserDirectory,
  // ListUsers, CollectDirectories, LookupProperty).
  DomElement* GetOrCreateProduct(const std::wstring& productCode);
  DomElement* CurrentUserDirectories(DomElement* product);
  DomElement* SetNameData(DomElement* parent, const std::wstring& tag, const std::wstring& name,
                          const std::wstring& data);

  // The running product's record from the installer properties; true when
  // the final save succeeded.
  bool WriteProduct();
  bool WriteDirectory(const std::wstring& productCode, const std::wstring& name, bool perUser);
  bool SetIndexedProperty(const std::wstring& productCode, const std::wstring& name, const std::wstring& data);
  std::wstring GetIndexedProperty(const std::wstring& productCode, const std::wstring& name);
  std::wstring GetIndexedDirectory(const std::wstring& productCode, const std::wstring& name);
  bool GetUserDirectory(const std::wstring& productCode, const std::wstring& userName,
                        const std::wstring& directoryName, std::wstring& folder);
  bool ListUsers(const std::wstring& productCode, TextList& users);
  bool CollectDirectories(const std::wstring& productCode, DirectoryTable& product, UserDirectoryTables& users);
  // Replaces each "[name]" by the user's folder of that directory or the
  // installer property of that name; a name whose value brings it back is
  // expanded once only, and the text grows to a bounded length.
  void ResolveUserReferences(const std::wstring& productCode, const std::wstring& userName, std::wstring& text);
  bool RemoveProduct(const std::wstring& productCode);
  std::wstring LookupProperty(const std::wstring& productCode, const std::wstring& name);

  // Below the current user's profile (application data's parent) or
  // documents folder, compared without regard to case.
  static bool IsPerUserPath(const std::wstring& folder);

 private:
  void ImportParentProperties();
  // WriteDirectory without the save.
  bool RecordDirectory(const std::wstring& productCode, const std::wstring& name, bool perUser);
  DomElement* FindProduct(const std::wstring& productCode);
  std::wstring CodeOrCurrent(const std::wstring& productCode);

  std::wstring indexPath_;
  DomDocument* index_ = nullptr;
  bool opened_ = false;
};

}  // namespace orvo
