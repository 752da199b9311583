// Other users of a product as the library finds them: a hive file saved
// from a key the test fills, and an entry in the machine's application
// index with that user's folders. And the registry read back as text.
#pragma once
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace orvo::test {

void EnablePrivilege(const wchar_t* name);
// Saves HKCU\<seedKey> with everything below it as a hive file, then
// deletes the key.
bool SaveHive(const std::wstring& seedKey, const std::wstring& hiveFile);
// Adds the user to the product's record in the machine's index, or updates
// it, with the given directories (name, folder); the folder above its
// AppDataFolder goes into the profile list as the user's profile. The
// product must be recorded already.
bool RecordUser(const std::wstring& productCode, const std::wstring& user,
                const std::vector<std::pair<std::wstring, std::wstring>>& directories);
// "<no key>", "<no value>", "#<n>" for a REG_DWORD, else the string.
std::wstring RegistryValue(HKEY root, const std::wstring& path, const std::wstring& name);

}  // namespace orvo::test
