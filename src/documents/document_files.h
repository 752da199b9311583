// File plumbing of the document layer: a document or resource is written
// whole into a file beside its target and replaces the target only when
// complete, so a failure part-way never leaves a damaged file behind.
#pragma once
#include <windows.h>

#include <xercesc/framework/XMLFormatter.hpp>

#include <string>

namespace orvo {

// Something that is not a folder exists at the path.
bool IsExistingFile(const std::wstring& path);

class PendingFile : public xercesc::XMLFormatTarget {
 public:
  explicit PendingFile(const std::wstring& target);
  ~PendingFile() override;  // an uncommitted file is removed
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  // Creates the temporary file "<target>.~N" beside the target; where none
  // can be made, the content is kept in memory and written over the target
  // (the old content put back on failure).
  bool Open();
  void Append(const void* bytes, size_t count);
  void writeChars(const XMLByte* bytes, XMLSize_t count, xercesc::XMLFormatter*) override { Append(bytes, count); }
  void flush() override {}
  // UTF-16LE output: a line feed written without a carriage return before
  // it gets one, so text content with line breaks ends its lines the same
  // way. Parsers read CR LF back as a line feed, so content is unchanged.
  void EndLinesWithCrLf() { crLf_ = true; }
  // Writes what is buffered and closes the file; false when any write failed.
  bool Finish();
  // Puts the finished file in the target's place, keeping the target's
  // access list.
  bool Commit();

  DWORD error() const { return error_; }
  const std::wstring& temporaryPath() const { return temporary_; }

  // Fault injection for the tests: every file written after this call fails
  // as a full disk would once it holds that many bytes; negative: no limit.
  static void FailWritesAfterForTesting(long long bytes);

 private:
  void WriteBuffer();
  bool CommitInPlace();
  void Store(const char* bytes, size_t count);

  std::wstring target_;
  std::wstring temporary_;
  HANDLE file_ = INVALID_HANDLE_VALUE;
  std::string buffer_;
  long long written_ = 0;
  DWORD error_ = 0;
  bool committed_ = false;
  bool inPlace_ = false;
  bool crLf_ = false;
  long long offset_ = 0;        // bytes appended, for the UTF-16 code unit boundaries
  unsigned char lowByte_ = 0;   // first byte of a code unit split across writes
  bool lastWasCr_ = false;
};

}  // namespace orvo
