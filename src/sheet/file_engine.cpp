// The file engine: imports read workbooks directly (through the reader their
// content calls for); the export is written as .xlsx and shown by the
// desktop's spreadsheet application.

#include "sheet/file_engine.h"
#include "sheet/xlsx_string.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xlsxwriter.h>
#include <zip.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <optional>
#include <string_view>
#include <vector>

#include "sheet/grid.h"
#include "sheet/open_workbook.h"
#include "sheet/sheet_cells.h"
#include "sheet/viewer.h"

namespace xb::sheet {
namespace {

std::string ErrnoText(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

// The export cannot be saved at `path`, for the system's reason in errno.
SheetError SaveError(const std::string& what, const std::string& path) {
  const int number = errno;
  return SheetError(Reason::CannotSaveExport, ErrnoText(what, path), path, number);
}

void MakeDirs(const std::string& dir) {
  std::string partial;
  size_t pos = 0;
  while (pos != std::string::npos) {
    pos = dir.find('/', pos + 1);
    partial = dir.substr(0, pos);
    if (partial.empty()) continue;
    if (mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST)
      throw SaveError("cannot create the folder", partial);
  }
  struct stat st;
  if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    throw SheetError(Reason::CannotSaveExport, "cannot use the folder " + dir, dir, ENOTDIR);
}

std::string DirOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// The writer library puts the sheet through temporary files whose write
// errors it does not check: on a full disk it can close a workbook whose
// sheet was silently cut short, at its end or anywhere inside. So the saved
// file is read back: the package must open whole, its sheet part must
// inflate completely (its checksum matching), end the sheet, and hold every
// written row, the last one last. Streamed, so a large export needs no more
// memory for the check.
bool SheetIsComplete(const std::string& path, int last_row, size_t rows) {
  int error = 0;
  zip_t* archive = zip_open(path.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &error);
  if (!archive) return false;
  struct ArchiveCloser {
    zip_t* archive;
    ~ArchiveCloser() { zip_discard(archive); }
  } archive_closer{archive};
  zip_file_t* part = zip_fopen(archive, "xl/worksheets/sheet1.xml", 0);
  if (!part) return false;
  struct PartCloser {
    zip_file_t* part;
    ~PartCloser() { zip_fclose(part); }
  } part_closer{part};
  const std::string marker = "<row r=\"" + std::to_string(last_row) + "\"";
  const std::string_view row_tag = "<row ";
  // The bytes kept from one piece to the next: enough for a tag that
  // begins in one and ends in the next, and for the sheet's end tag.
  constexpr size_t kKept = 64;
  bool marker_seen = last_row < 1;
  size_t rows_seen = 0;
  std::string tail;
  std::vector<char> buffer(1 << 16);
  for (;;) {
    const zip_int64_t n = zip_fread(part, buffer.data(), buffer.size());
    if (n < 0) return false;  // damaged data or a checksum that does not match
    if (n == 0) break;
    // Tags found before are wholly within the bytes kept only when they
    // started there: count from the first byte that can start a new one.
    const size_t fresh = tail.size() >= row_tag.size() ? tail.size() - row_tag.size() + 1 : 0;
    tail.append(buffer.data(), size_t(n));
    for (size_t at = tail.find(row_tag, fresh); at != std::string::npos;
         at = tail.find(row_tag, at + 1))
      ++rows_seen;
    if (!marker_seen && tail.find(marker) != std::string::npos) marker_seen = true;
    if (tail.size() > kKept) tail.erase(0, tail.size() - kKept);
  }
  while (!tail.empty() && (tail.back() == '\n' || tail.back() == '\r')) tail.pop_back();
  const std::string end = "</worksheet>";
  return marker_seen && rows_seen == rows && tail.size() >= end.size() &&
         tail.compare(tail.size() - end.size(), end.size(), end) == 0;
}

// A write that failed for want of room, a file size limit or a device error.
bool IsWriteFailure(int error) {
  return error == ENOSPC || error == EFBIG || error == EDQUOT || error == EIO;
}

// The writer library reports its failures on stderr as well; the operator
// gets them in the export's own box. Where asked (FileEngineOptions::
// quiet_writer_library), those lines are held back while the workbook is
// closed. The saved stderr is closed on exec: a program started meanwhile
// must not keep it.
class QuietStderr {
 public:
  QuietStderr() {
    std::fflush(stderr);
    saved_ = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0);
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved_ >= 0 && null >= 0) dup2(null, STDERR_FILENO);
    if (null >= 0) close(null);
  }
  ~QuietStderr() {
    std::fflush(stderr);
    if (saved_ >= 0) {
      dup2(saved_, STDERR_FILENO);
      close(saved_);
    }
  }
  QuietStderr(const QuietStderr&) = delete;
  QuietStderr& operator=(const QuietStderr&) = delete;

 private:
  int saved_ = -1;
};

class FileInstance : public Instance {
 public:
  explicit FileInstance(const FileEngineOptions& options) : options_(options) {}
  ~FileInstance() override { FileInstance::quit(); }

  void setVisible(bool visible) override {
    if (!visible || !workbook_) return;
    Close();
    if (!options_.output_path.empty()) {
      if (std::rename(temp_path_.c_str(), options_.output_path.c_str()) != 0) {
        const SheetError error = SaveError("cannot save the export as", options_.output_path);
        unlink(temp_path_.c_str());
        temp_path_.clear();
        throw error;
      }
      temp_path_.clear();
      return;
    }
    const std::string saved = SaveUnique();
    if (options_.launch_viewer) {
      if (!options_.launch_viewer(saved) && options_.on_unviewable) options_.on_unviewable(saved);
      return;
    }
    options_.viewer->show(saved, [unviewable = options_.on_unviewable, saved](bool shown) {
      if (!shown && unviewable) unviewable(saved);
    });
  }

  void openWorkbook(const std::string& path) override {
    Discard();
    sheet_.reset();
    last_row_read_ = last_column_read_ = 0;
    try {
      sheet_ = SheetCells::Read(*OpenWorkbookReader(path));
    } catch (const SheetError& e) {
      SheetError named("Cannot read the workbook " + path + ": " + e.what());
      static_cast<Reasoned&>(named) = e;
      // The operator is told which file could not be read.
      if (named.subject().empty()) named.setReason(e.reason(), path, e.code(), e.detail());
      throw named;
    } catch (const std::bad_alloc&) {
      throw SheetError(Reason::OutOfMemory,
                       "Cannot read the workbook " + path + ": not enough memory");
    }
  }

  void addWorkbook() override {
    Discard();
    sheet_.reset();
    std::string dir;
    if (!options_.output_path.empty()) {
      dir = DirOf(options_.output_path);
    } else {
      dir_ = options_.exports_dir.empty() ? DefaultExportsDir() : options_.exports_dir;
      MakeDirs(dir_);
      dir = dir_;
    }
    std::string templ = dir + "/.xlsbridge-export-XXXXXX";
    const int fd = mkstemp(templ.data());
    if (fd < 0) throw SaveError("cannot create a file in", dir);
    // mkstemp makes the file private; the export gets the usual permissions.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    close(fd);
    temp_path_ = templ;
    lxw_workbook_options opts{};
    opts.constant_memory = LXW_TRUE;
    // The rows wait in temporary files beside the export, on the disk it is
    // written to (not in /tmp, which may be small or held in memory).
    temp_dir_ = dir;
    opts.tmpdir = temp_dir_.data();
    workbook_ = workbook_new_opt(temp_path_.c_str(), &opts);
    if (!workbook_) {
      unlink(temp_path_.c_str());
      temp_path_.clear();
      throw SheetError("cannot start a new workbook");
    }
    sheet_w_ = workbook_add_worksheet(workbook_, nullptr);
    if (!sheet_w_) {
      Discard();
      throw SheetError("cannot add a worksheet to the new workbook");
    }
    last_row_ = 0;
    last_text_row_ = 0;
    text_rows_ = 0;
    write_error_ = 0;
  }

  std::string cellText(int row, int column) override {
    if (!sheet_) throw SheetError("no workbook is open");
    // The import reads a cell twice in a row (its key form, then its
    // value): the second time needs no spelling of the number again.
    if (row == last_row_read_ && column == last_column_read_) return last_text_;
    std::string text = sheet_->cellText(row, column, &last_is_error_);
    last_text_.assign(text);
    last_row_read_ = row;
    last_column_read_ = column;
    return text;
  }

  bool cellIsError(int row, int column) override {
    if (!sheet_) throw SheetError("no workbook is open");
    if (row == last_row_read_ && column == last_column_read_) return last_is_error_;
    return sheet_->isError(row, column);
  }

  void setCell(int row, int column, const std::string& text) override {
    if (!workbook_) throw SheetError("no new workbook to write to");
    if (row < 1 || column < 1) throw SheetError("cell address out of range");
    if (row > kMaxRows)
      throw SheetError(Reason::ResultTooLong,
                       "the result does not fit on one sheet: it holds at most " +
                           std::to_string(kMaxRows) + " rows",
                       {}, kMaxRows);
    if (column > kMaxColumns)
      throw SheetError(Reason::ResultTooWide,
                       "the result does not fit on one sheet: it holds at most " +
                           std::to_string(kMaxColumns) + " columns",
                       {}, kMaxColumns);
    // Rows already flushed to disk cannot be written again.
    if (row < last_row_)
      throw SheetError("cells must be written row by row; row " + std::to_string(row) +
                       " comes after row " + std::to_string(last_row_));
    last_row_ = row;
    if (text.empty()) return;
    if (row != last_text_row_) ++text_rows_;
    last_text_row_ = row;
    const std::string stored = XlsxCellString(text);
    // A finished row goes to the temporary file here; the library does not
    // check that write, but the system's reason is left in errno.
    errno = 0;
    const lxw_error rc = worksheet_write_string(sheet_w_, lxw_row_t(row - 1), lxw_col_t(column - 1),
                                                stored.c_str(), nullptr);
    if (write_error_ == 0 && IsWriteFailure(errno)) write_error_ = errno;
    if (rc != LXW_NO_ERROR)
      throw SheetError(std::string("cannot write a cell: ") + lxw_strerror(rc));
  }

  void quit() noexcept override {
    Discard();
    sheet_.reset();
  }

 private:
  void Close() {
    lxw_workbook* wb = workbook_;
    // The sheet's rows went to a temporary file as they came; a write that
    // failed there (a full disk, a file size limit) is only seen in errno.
    std::string failure;
    if (write_error_ != 0)
      failure =
          std::string("a temporary file could not be written: ") + std::strerror(write_error_);
    workbook_ = nullptr;
    sheet_w_ = nullptr;
    lxw_error rc;
    int close_errno;
    {
      std::optional<QuietStderr> quiet;
      if (options_.quiet_writer_library) quiet.emplace();
      errno = 0;
      rc = workbook_close(wb);
      close_errno = errno;
    }
    if (failure.empty() && rc != LXW_NO_ERROR) {
      failure = lxw_strerror(rc);
      if (close_errno != 0) failure += std::string(" (") + std::strerror(close_errno) + ")";
    }
    if (failure.empty() && !SheetIsComplete(temp_path_, last_text_row_, text_rows_))
      failure = "the written workbook is incomplete (is the disk full?)";
    if (!failure.empty()) {
      unlink(temp_path_.c_str());
      temp_path_.clear();
      throw SheetError(Reason::ExportIncomplete, "cannot save the export workbook: " + failure);
    }
  }

  // Moves the closed workbook to a new name, never replacing a file.
  std::string SaveUnique() {
    char stamp[32];
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &tm);
    for (int n = 1; n < 100000; ++n) {
      std::string target = dir_ + "/" + ShownExportName(stamp, n);
      if (link(temp_path_.c_str(), target.c_str()) == 0) {
        unlink(temp_path_.c_str());
        temp_path_.clear();
        return target;
      }
      if (errno != EEXIST) {
        const SheetError error = SaveError("cannot save the export as", target);
        unlink(temp_path_.c_str());
        temp_path_.clear();
        throw error;
      }
    }
    unlink(temp_path_.c_str());
    temp_path_.clear();
    throw SheetError(Reason::CannotSaveExport, "cannot find a free file name in " + dir_, dir_,
                     EEXIST);
  }

  void Discard() noexcept {
    if (workbook_) lxw_workbook_free(workbook_);
    workbook_ = nullptr;
    sheet_w_ = nullptr;
    if (!temp_path_.empty()) unlink(temp_path_.c_str());
    temp_path_.clear();
  }

  FileEngineOptions options_;
  std::optional<SheetCells> sheet_;
  // The cell read last: its text and whether it is an error.
  int last_row_read_ = 0, last_column_read_ = 0;
  std::string last_text_;
  bool last_is_error_ = false;
  lxw_workbook* workbook_ = nullptr;
  lxw_worksheet* sheet_w_ = nullptr;
  std::string temp_path_;
  std::string dir_;
  int last_row_ = 0;
  int last_text_row_ = 0;  // the last row that holds a cell
  size_t text_rows_ = 0;   // rows that hold a cell
  int write_error_ = 0;    // the first write that failed, as errno says it
  std::string temp_dir_;   // where the writer library keeps the rows meanwhile
};

class FileServer : public Server {
 public:
  explicit FileServer(FileEngineOptions options) : options_(std::move(options)) {
    if (!options_.viewer) options_.viewer = MakeDesktopViewer();
  }
  bool isRunning() override {
    try {
      return options_.viewer->running();
    } catch (...) {
      return false;
    }
  }
  std::unique_ptr<Instance> create() override { return std::make_unique<FileInstance>(options_); }

 private:
  FileEngineOptions options_;
};

}  // namespace

std::unique_ptr<Server> MakeFileServer(FileEngineOptions options) {
  return std::make_unique<FileServer>(std::move(options));
}

}  // namespace xb::sheet
