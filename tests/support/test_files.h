// File helpers for the tests: byte reads and writes, unique scratch paths,
// and the Windows view of the source and build trees.
#pragma once
#include <map>
#include <string>
#include <vector>

namespace orvo::test {

std::string ToNarrow(const std::wstring& text);
std::wstring ToWide(const std::string& text);

std::string ReadFileBytes(const std::wstring& path);
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
bool FileExists(const std::wstring& path);
// A path that does not exist yet, in the process's temporary folder.
std::wstring UniqueTempPath(const std::wstring& stem);
// A fresh, empty folder (with trailing backslash) for one test.
std::wstring ScratchFolder(const std::wstring& name);
void RemoveTree(const std::wstring& path);

// Windows paths of the trees the tests were built from.
std::wstring SourcePath(const std::wstring& relative = L"");
std::wstring BinaryPath(const std::wstring& relative = L"");
std::wstring DllPath();

// The UTF-16LE content of a file (after an optional byte-order mark).
std::wstring ReadUtf16File(const std::wstring& path);
std::vector<std::wstring> SplitLines(const std::wstring& text);  // on CR LF
// Every file below a folder, by its relative path ("\" separators), with
// its bytes; with folders, each folder too, as "name\" with empty bytes.
std::map<std::wstring, std::string> ReadTree(const std::wstring& folder, bool withFolders = false);
// How often the needle occurs in the text, overlapping occurrences included.
size_t CountOf(const std::wstring& text, const std::wstring& needle);

}  // namespace orvo::test
