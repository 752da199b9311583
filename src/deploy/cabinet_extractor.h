// Extraction of one cabinet (and the cabinets that continue it) into a
// target folder: files are placed by the cabinet's "IndexFile.dat", given
// back their stored times and attributes, and every step is reported to a
// message handler.
#pragma once
#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "action/wformat.h"

namespace orvo {

// Message codes of the extractor, beside the decoder's notification codes.
constexpr int EXTRACT_TEXT = 0x25001;
constexpr int EXTRACT_SKIP = 0x25002;
constexpr int EXTRACT_FOLDER_FAILED = 0x25003;
constexpr int EXTRACT_FOLDER = 0x25004;
constexpr int EXTRACT_WRITTEN = 0x25005;

constexpr int fdintCABINET_INFO = 0;
constexpr int fdintPARTIAL_FILE = 1;
constexpr int fdintCOPY_FILE = 2;
constexpr int fdintCLOSE_FILE_INFO = 3;
constexpr int fdintNEXT_CABINET = 4;
constexpr int fdintENUMERATE = 5;

// A handler gets a printf-style format with its arguments (paths come as the
// format itself with every "%" doubled) and answers 0, 2 (cancel) or, to
// fdintCOPY_FILE, EXTRACT_SKIP. FormatArgs turns the pieces into the text.
using ExtractHandler = std::function<int(int code, std::wstring_view format, const FormatArg* args, size_t count)>;

enum class ExtractNaming {
  kIndexFile,    // targets from the "IndexFile.dat" map
  kStoredNames,  // each file under its stored name (cabinets without a map)
};

// 1: the whole cabinet was extracted; 11: a failure message was answered
// with 2; 0: any other failure. No handler selects DefaultExtractHandler.
int ExtractCabinet(const std::wstring& cabinetPath, const std::wstring& targetFolder,
                   const ExtractHandler& handler = nullptr, ExtractNaming naming = ExtractNaming::kIndexFile);

// Prints the name of every file about to be written and every status line;
// answers 0 to everything.
int DefaultExtractHandler(int code, std::wstring_view format, const FormatArg* args, size_t count);

// The target of a stored name (UTF-8) in the running extraction; empty when
// the name has none or its mapped path would leave the target folder.
std::wstring ResolveTarget(const std::string& storedName);
// Reads the temporary "IndexFile.dat" into the process-wide map.
void LoadIndexFile();
bool CreateFolderChain(const std::wstring& folder);

// Stored name to relative path, from every "IndexFile.dat" met so far.
const std::map<std::wstring, std::wstring>& ExtractIndexMap();
// Most bytes the decoder held at once during the last extraction.
size_t LastExtractionPeakMemory();
// The console printers are on by default; a tool with its own output turns
// them off.
void SetExtractDiagnostics(bool enabled);

std::wstring EscapePercent(std::wstring_view text);
const wchar_t* DecoderErrorText(int code);

// Into a 260-byte buffer: false (and `out` untouched) when the text does not fit.
bool WideToUtf8Limited(std::wstring_view text, std::string& out);
// Empty on failure.
std::wstring Utf8ToWide(const char* text);

// The two console printers: the line printer (77 characters and the line
// end to standard error) and the conversion printer (78 and the line end to
// standard output).
void PrintLineText(std::wstring text);
void PrintConversionText(std::wstring text);
template <class... A>
void PrintLine(std::wstring_view format, const A&... args) {
  PrintLineText(Format(format, args...));
}
template <class... A>
void PrintConversion(std::wstring_view format, const A&... args) {
  PrintConversionText(Format(format, args...));
}

}  // namespace orvo
