#pragma once
// What went wrong, as a code, where the program itself says it (not the
// database or the system): the errors of the database, workbook and export
// layers carry one, and the operator is told it in Chinese from the
// catalogue (texts::ReasonText, OperatorReason). Their own message text
// stays for logs and tests; a message that is the database's own has no code
// and is shown as the database wrote it. Below every layer that raises or
// shows one: it depends on nothing of the program's.

#include <string>

namespace xb {

enum class Reason {
  None,
  // reading a workbook
  NotAWorkbook,
  OldWorkbookFormat,
  WorkbookDamaged,
  WorkbookEncrypted,
  UnsupportedWorkbookFormat,
  NoWorksheet,     // subject: the active sheet's name
  FileUnreadable,  // code: the system's error number
  NotAFile,
  FileChanged,
  OutOfMemory,
  CellError,  // subject: the cell's name, detail: its error value
  // writing the export
  ResultTooLong,     // code: the most rows a sheet holds
  ResultTooWide,     // code: the most columns
  CannotSaveExport,  // subject: the file or folder, code: the system's error number
  NoHomeFolder,
  ExportIncomplete,
  NotUtf8,  // subject: the cell's name
  // the database
  NoDataSource,
  NoSuchDataSource,          // subject: the name
  UnknownEngine,             // subject: the engine's name
  AliasFileUnreadable,       // subject: the alias file
  AliasFileFault,            // subject: the alias file, code: the line (0: the file as a whole)
  NoSuchDatabaseFile,        // subject: the path
  NotADatabaseFile,          // subject: the path
  CannotOpenDatabase,        // subject: the path, detail: the database's words
  DatabaseLocked,            // subject: the path
  DatabaseGone,              // subject: the path
  CannotConnect,             // detail: the client library's words
  ConnectionLost,            // detail: the client library's words, if any
  ConnectionLostRolledBack,  // detail: as ConnectionLost
  CommitUncertain,
  RolledBackByServer,
  ServerSilent,  // code: the seconds waited
  NoRowSet,
  EmptyStatement,
  MoreThanOneStatement,
  TrailingSemicolon,
  NulInStatement,
  Last = NulInStatement,  // keep it the last: the catalogue's test walks up to it
};

// Mixed into an error type: the code, and the parts its text names.
class Reasoned {
 public:
  Reason reason() const { return reason_; }
  const std::string& subject() const { return subject_; }
  const std::string& detail() const { return detail_; }
  long code() const { return code_; }

  void setReason(Reason reason, std::string subject = {}, long code = 0, std::string detail = {}) {
    reason_ = reason;
    subject_ = std::move(subject);
    code_ = code;
    detail_ = std::move(detail);
  }

 private:
  Reason reason_ = Reason::None;
  std::string subject_;
  std::string detail_;
  long code_ = 0;
};

}  // namespace xb
