// Opening a workbook: the file is read once, read-only and without a lock,
// and its first bytes say which reader takes it.

#include "sheet/open_workbook.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "sheet/cfb.h"
#include "sheet/sheet.h"
#include "sheet/xls_reader.h"
#include "sheet/xlsx/xlsx_reader.h"

namespace xb::sheet {
namespace {

SheetError Why(const char* what) {
  const int number = errno;
  return SheetError(Reason::FileUnreadable, std::string(what) + ": " + std::strerror(number), {},
                    number);
}

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_size == b.st_size && a.st_mtim.tv_sec == b.st_mtim.tv_sec &&
         a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

}  // namespace

std::unique_ptr<WorkbookReader> OpenWorkbookReader(const std::string& path) {
  // Read-only and without any lock: a workbook another program holds open
  // is read as it stands, and nothing of it is ever changed.
  const Fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (fd.get() < 0) throw Why("cannot open it");
  struct stat before {};
  if (fstat(fd.get(), &before) != 0) throw Why("cannot read it");
  if (S_ISDIR(before.st_mode)) throw SheetError(Reason::NotAFile, "it is a folder, not a file");
  if (!S_ISREG(before.st_mode)) throw SheetError(Reason::NotAFile, "it is not a regular file");

  // A zip package is an .xlsx workbook, whatever the file is called.
  char head[4] = {};
  const ssize_t got = pread(fd.get(), head, sizeof head, 0);
  if (got < 0) throw Why("cannot read it");
  if (got == sizeof head && std::memcmp(head, "PK\x03\x04", 4) == 0) return OpenXlsxReader(path);

  std::string data;
  data.reserve(static_cast<size_t>(before.st_size));
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(fd.get(), buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      throw Why("cannot read it");
    }
    data.append(buffer, static_cast<size_t>(n));
  }
  // Another program rewriting the file under us leaves a mix of old and new
  // bytes; such a read is refused rather than trusted.
  struct stat after {};
  if (fstat(fd.get(), &after) != 0 || !SameFile(before, after) ||
      data.size() != static_cast<size_t>(before.st_size))
    throw SheetError(Reason::FileChanged, "it was changed by another program while it was read");
  // A password-protected .xlsx is saved as a compound file holding the
  // encrypted package (EncryptionInfo + EncryptedPackage streams), not as a
  // zip: it is named as encrypted here, in the words the .xlsx reader uses,
  // rather than as a compound file without a workbook stream.
  if (HasCfbSignature(data)) {
    bool encrypted = false;
    try {
      ReadCfbStream(data, {"EncryptionInfo"});
      encrypted = true;
    } catch (const SheetError&) {
    }
    if (encrypted)
      throw SheetError(
          Reason::WorkbookEncrypted,
          "the workbook is encrypted (it needs a password to open); save it without a password and "
          "try again");
  }
  // Everything else goes to the .xls reader, which names what the file is
  // not (an old Excel format, a zip file, no compound file at all).
  return OpenXlsReader(std::move(data));
}

}  // namespace xb::sheet
