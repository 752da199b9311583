// The three questions orvo-inspect answers. Each prints plain text and
// returns the exit status: 0 answered, 1 not found or a document that does
// not load. Nothing is ever written to disk.
#pragma once
#include <string>
#include <vector>

#include "appindex/app_index.h"

namespace orvo::inspect {

enum Status { kOk = 0, kNotFound = 1, kUsage = 2 };

void Out(const std::wstring& line);
// One line on standard error, prefixed with the tool's name.
void Problem(const std::wstring& line);

// The path as the system completes it (current folder, "..").
std::wstring FullPath(const std::wstring& path);
// The parser's message on one line.
std::wstring OneLine(std::wstring text);

// The direct children of that tag, in document order.
std::vector<DomElement*> ChildElements(const DomElement* parent, const std::wstring& tag);
// The index at the path (empty: the machine's); false with the reason.
bool OpenIndex(AppIndex& index, const std::wstring& path, std::wstring& reason);
// "per-user, no-write" and the like; empty for no flags.
std::wstring FlagNames(unsigned flags);

// An empty path: the machine's index.
int ReportIndex(const std::wstring& indexPath);
int ReportReferences(const std::wstring& path, const std::wstring& indexPath);
int ReportMaster(const std::wstring& masterPath);

}  // namespace orvo::inspect
