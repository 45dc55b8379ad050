#include "support/temp_dir.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace xb::test {

namespace fs = std::filesystem;

TempDir::TempDir() {
  std::string templ = (fs::temp_directory_path() / "xb-test-XXXXXX").string();
  if (!mkdtemp(templ.data()))
    throw std::runtime_error("cannot make a temporary folder " + templ + ": " +
                             std::strerror(errno));
  path_ = templ;
}

TempDir::~TempDir() {
  std::error_code ec;
  // A test may have taken permissions away from what it made.
  for (auto it = fs::recursive_directory_iterator(
           path_, fs::directory_options::skip_permission_denied, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_directory(ec) && !it->is_symlink(ec))
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

}  // namespace xb::test
