// The undo journal of the deferred file actions. Windows Installer rolls
// back only what it did itself; what OrvoInstall and OrvoRemove change on
// disk is written down here first, so that a rollback action can put it
// back, and a commit (or the next run of a later transaction) can forget it.
//
// A transaction's journals live in one folder (the product's own, beside
// the installed master document), as "<transaction>-<n>.journal", one per
// action, each with a folder "<transaction>-<n>.aside" of what it moved out
// of the way. Entries are written before the change they describe and are
// undone newest first; every undo step can be repeated, so a rollback that
// is itself killed can be run again.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "action/unique_handle.h"

namespace orvo {

class Journal {
 public:
  // The journal of the running action (inactive outside one).
  static Journal& Active();

  // Starts a new journal of the transaction in the folder. Journals of other
  // transactions found there are settled first: rolled back where their
  // rollback had begun, else committed. False (and inactive) when the
  // journal cannot be written; the action then runs without one.
  bool Begin(const std::wstring& folder, const std::wstring& transaction);
  // Closes the journal; it stays for the rollback or commit.
  void End();
  bool active() const { return static_cast<bool>(file_); }

  // Before a file is written: an existing one is moved aside with its
  // attributes, a new one is noted. False only when an existing file could
  // not be moved aside.
  // The attributes are those the caller just read (INVALID_FILE_ATTRIBUTES
  // when nothing stands there): the look is shared.
  bool BeforeWrite(const std::wstring& path, unsigned long attributes);
  // Instead of deleting a file: moves it aside. False when not journaling or
  // the move failed (the caller then deletes it as before).
  bool MoveAside(const std::wstring& path);
  // Instead of deleting every file of a folder: moves the folder aside in
  // one rename, when it holds exactly these files (whatever their case) and
  // nothing else. False when not journaling or it does not, or the move
  // failed: the caller then goes file by file. The folder's place aside.
  bool MoveFolderAside(const std::wstring& folder, const std::vector<std::wstring>& names, std::wstring& aside);
  // Puts such a folder back where it was (its journal entry then finds
  // nothing aside).
  bool MoveFolderBack(const std::wstring& folder, const std::wstring& aside);
  // Before a document is rewritten or deleted in place: keeps a copy.
  void KeepCopy(const std::wstring& path);
  // A folder the action created.
  void FolderCreated(const std::wstring& folder);

 private:
  Journal() = default;
  bool Append(wchar_t operation, const std::wstring& path, const std::wstring& aside);
  std::wstring NextAside();

  unique_hfile file_;
  std::wstring asideFolder_;
  unsigned long asideCount_ = 0;
};

// Keeps the journal of one action while it lives.
class JournalScope {
 public:
  JournalScope(const std::wstring& folder, const std::wstring& transaction) {
    Journal::Active().Begin(folder, transaction);
  }
  ~JournalScope() { Journal::Active().End(); }
  JournalScope(const JournalScope&) = delete;
  JournalScope& operator=(const JournalScope&) = delete;
};

// Undoes the transaction's journals in the folder, newest first, then
// removes them. Repeatable. The number of journals undone.
int RollBackJournals(const std::wstring& folder, const std::wstring& transaction);
// Forgets the transaction's journals and what they moved aside.
void CommitJournals(const std::wstring& folder, const std::wstring& transaction);
// The folder of a product's journals, beside its installed master document.
std::wstring JournalFolder(const std::wstring& masterDocument);

// A patch's cabinets go to the temporary folder of the elevated actions, and
// its data names no transaction: its journal is kept there, under the
// product's code (one installation of a product runs at a time).
std::wstring PatchJournalFolder();

}  // namespace orvo
