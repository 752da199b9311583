// Owners of one open registry key each, with the library's one choice of
// access rights, one rule for the type of string values and one recursive
// deletion. They log nothing: their callers do.
#pragma once
#include <windows.h>

#include <initializer_list>
#include <string>

namespace orvo {

class CRegistry {
 public:
  CRegistry() = default;
  CRegistry(const CRegistry&) = delete;
  CRegistry& operator=(const CRegistry&) = delete;
  virtual ~CRegistry() { Close(); }

  // Read-only open; the parent is a root or another object's key and is
  // never closed here.
  virtual bool Open(HKEY parent, const std::wstring& path);
  virtual void Close();

  bool HasValueOfType(const std::wstring& name, std::initializer_list<DWORD> types) const;
  // Text up to the first NUL of a string value; empty for anything else.
  std::wstring GetString(const std::wstring& name) const;
  // A REG_DWORD value, 0 for anything else.
  DWORD GetDword(const std::wstring& name) const;
  // REG_NONE when the value cannot be queried.
  DWORD ValueType(const std::wstring& name) const;

  HKEY key() const { return key_; }
  explicit operator bool() const { return key_ != nullptr; }

 protected:
  HKEY key_ = nullptr;
};

class CRegistryWrite : public CRegistry {
 public:
  // Creates missing keys along the path.
  bool Open(HKEY parent, const std::wstring& path) override;

  // Keeps an existing string type; a new value, a REG_NONE one or one of a
  // non-string type becomes REG_SZ (text under a number type is malformed).
  bool SetString(const std::wstring& name, const std::wstring& text);
  bool SetDword(const std::wstring& name, DWORD value);
};

// The deepest a recursive walk of keys goes: far below what the host
// application writes, far above what a stack cannot hold.
inline constexpr unsigned kMaxKeyDepth = 64;

class CRegistryDelete : public CRegistryWrite {
 public:
  // The subkey with everything below it; false for a tree deeper than
  // kMaxKeyDepth below this key.
  bool DeleteKey(const std::wstring& name, unsigned depth = 0);
  bool DeleteAllSubKeys(unsigned depth = 0);
};

// The string type a text written to the value gets in that key.
DWORD StringTypeFor(HKEY key, const std::wstring& name);

// After a removal at the path: deletes it if empty, then each emptied
// ancestor; the level directly under the root always stays.
void PruneEmptyKeys(HKEY root, const std::wstring& path);

}  // namespace orvo
