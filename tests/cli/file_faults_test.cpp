// Workbooks that vanish, are folders, are held or rewritten by another
// program, and exports that meet a full disk: each ends with a box that
// names the fault and exit status 1, and nothing already there is lost.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/cli.h"
#include "support/schema.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using xb::test::CliOptions;
using xb::test::CliOutcome;

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The loader's box for a workbook that cannot be opened, whatever the cause.
const std::string kCannotOpen =
    "系统错误: 无法连接EXCEL 自动化服务器，\n请确认您的系统已经安装EXCEL 2000 及更高版本。\n";
// The box of a file that cannot be opened: the start box's text, then the
// reader's reason on a line of its own.
bool IsCannotOpen(const std::string& err) {
  return err.rfind(kCannotOpen, 0) == 0 && err.size() > kCannotOpen.size() + 2 &&
         err[kCannotOpen.size()] != '\n' && err.substr(err.size() - 2) == "\n\n" &&
         err.find('\n', kCannotOpen.size()) == err.size() - 2;
}
const std::string kCleanCheck =
    "检查完毕,没有发现问题。\n共读取3行数据,将插入3行,将询问是否覆盖0行,有问题的单元格0个\n";
const std::string kExportFailed = "导出失败: 导出到Excel文件时出现下列错误:\n";

class FileFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    xb::test::UsePrivateSettings(env_, dir_);
    db_ = dir_.file("db.sqlite");
    xb::test::MakeDatabase(db_,
                           "create table ZORVAT (AA varchar2(10) primary key, BB number, CC date,\n"
                           "  SEQ_NN number, DD number);\n"
                           "create sequence SEQ_TBXH;\n"
                           "insert into ZORVAT(AA, BB) values ('0', 1);\n");
  }

  // Runs the program; a file size limit makes every write past it fail with
  // EFBIG, as a full disk fails with ENOSPC.
  static CliOutcome Run(std::vector<std::string> args, rlim_t file_size_limit = RLIM_INFINITY) {
    CliOptions options;
    options.file_size_limit = file_size_limit;
    return xb::test::RunCli(std::move(args), options);
  }

  std::string Rows() {
    return Run({"sql", "--data-source", db_, "select AA, BB, CC from ZORVAT order by AA"}).out;
  }

  std::vector<std::string> TempFiles(const fs::path& dir) {
    std::vector<std::string> found;
    for (const auto& e : fs::directory_iterator(dir))
      if (e.path().filename().string().rfind(".xlsbridge-export-", 0) == 0)
        found.push_back(e.path().string());
    return found;
  }

  static std::string Sample() { return std::string(XB_TEST_DATA) + "/cli/zorvat3.xls"; }

  xb::test::TempDir dir_;
  xb::test::ScopedEnv env_;
  std::string db_;
};

TEST_F(FileFaults, ImportOfAWorkbookThatIsGoneOrNotAFileIsRefused) {
  const std::string before = Rows();
  const std::string sample = Slurp(Sample());
  struct Case {
    const char* name;
    void (*prepare)(const fs::path& path, const std::string& sample);
  } cases[] = {
      {"deleted_after_it_was_chosen",
       [](const fs::path& p, const std::string& s) {
         std::ofstream(p, std::ios::binary) << s;
         fs::remove(p);
       }},
      {"a_folder", [](const fs::path& p, const std::string&) { fs::create_directory(p); }},
      {"cut_to_half_by_a_writer",
       [](const fs::path& p, const std::string& s) {
         std::ofstream(p, std::ios::binary) << s.substr(0, s.size() / 2);
       }},
  };
  for (const auto& c : cases) {
    const fs::path path = dir_.path() / (std::string(c.name) + ".xls");
    c.prepare(path, sample);
    const CliOutcome r = Run({"import", "--data-source", db_, "--existing", "all", path.string()});
    EXPECT_EQ(r.exit_code, 1) << c.name;
    EXPECT_TRUE(IsCannotOpen(r.err)) << c.name << ": " << r.err;
  }
  EXPECT_EQ(Rows(), before);
}

TEST_F(FileFaults, ImportOfAnUnreadableWorkbookIsRefused) {
  const fs::path path = dir_.path() / "locked.xls", readable = dir_.path() / "readable.xls";
  fs::copy_file(Sample(), path);
  fs::copy_file(Sample(), readable);
  fs::permissions(path, fs::perms::none);

  CliOptions options;
  if (geteuid() == 0) {
    // Root reads any file. The import runs from a copy of the program in the
    // test's own folder, whatever the folders above the build allow, and
    // as root still (the owner of the database and of every folder the test
    // made) but without root's power over file permissions.
    options.program = dir_.file("xlsbridge-cli");
    fs::copy_file(xb::test::CliPath(), options.program);
    std::string why;
    if (xb::test::CanKeepFilePermissions(&why)) {
      options.keep_file_permissions = true;
    } else {
      // Else as the user nobody, who needs a way to the program and the
      // database: the folders above the test's own must let others pass.
      const passwd* nobody = getpwnam("nobody");
      if (!nobody)
        GTEST_SKIP() << "NOT CHECKED, cannot be arranged here: " << why
                     << ", and there is no user nobody";
      options.as_user = nobody->pw_uid;
      options.as_group = nobody->pw_gid;
      fs::permissions(dir_.path(), fs::perms::all);
      fs::permissions(db_, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                               fs::perms::group_write | fs::perms::others_read |
                               fs::perms::others_write);
      if (!xb::test::HoldsForCli(options, "test -x \"$1\" && test -w \"$2\" && exec 3<>\"$3\"",
                                 {options.program, dir_.path().string(), db_}))
        GTEST_SKIP() << "NOT CHECKED, cannot be arranged here: " << why
                     << ", and the user nobody cannot reach " << dir_.path()
                     << " (a folder above it is closed to others)";
    }
  }
  if (xb::test::HoldsForCli(options, "exec 3<\"$1\"", {path.string()}))
    GTEST_SKIP() << "NOT CHECKED, cannot be arranged here: user " << geteuid()
                 << " reads a file that has no read permission (a capability?)";

  // The same run reads a readable copy: what refuses the other is its
  // permission alone.
  const CliOutcome check =
      xb::test::RunCli({"import", "--data-source", db_, "--check", readable.string()}, options);
  ASSERT_EQ(check.exit_code, 0) << check.err;
  EXPECT_EQ(check.out, kCleanCheck);

  const std::string before = Rows();
  const CliOutcome r = xb::test::RunCli(
      {"import", "--data-source", db_, "--existing", "all", path.string()}, options);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_TRUE(IsCannotOpen(r.err)) << r.err;
  EXPECT_EQ(Rows(), before);
}

// Another program holds the workbook open for writing, with both kinds of
// lock: the import still reads it, and leaves its bytes and time alone.
TEST_F(FileFaults, AWorkbookHeldAndLockedByAnotherProgramImportsUntouched) {
  const fs::path path = dir_.path() / "held.xls";
  fs::copy_file(Sample(), path);
  const timespec old_time[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), old_time, 0), 0);
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t holder = fork();
  if (holder == 0) {
    const int fd = open(path.c_str(), O_RDWR);
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    const bool locked = fd >= 0 && flock(fd, LOCK_EX) == 0 && fcntl(fd, F_SETLK, &lock) == 0;
    const char answer = locked ? 'y' : 'n';
    (void)!write(ready[1], &answer, 1);
    pause();
    _exit(0);
  }
  char answer = 0;
  ASSERT_EQ(read(ready[0], &answer, 1), 1);
  close(ready[0]), close(ready[1]);
  EXPECT_EQ(answer, 'y');
  const std::string bytes = Slurp(path);

  const CliOutcome r = Run({"import", "--data-source", db_, "--existing", "all", path.string()});
  kill(holder, SIGKILL);
  waitpid(holder, nullptr, 0);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(Rows(),
            "AA\tBB\tCC\n0\t1\t\n1\t33\t2003-08-01\n2\t34\t2003-08-02\n3\t35\t2003-08-03\n");
  EXPECT_EQ(Slurp(path), bytes);
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mtim.tv_sec, 1000000000);
}

// A writer keeps replacing the workbook in place (cut to nothing, then
// rewritten). Every read either sees the whole file or is refused with the
// cannot-open box; never a partial read taken as the workbook.
TEST_F(FileFaults, AWorkbookRewrittenWhileReadIsReadWholeOrRefused) {
  const fs::path path = dir_.path() / "busy.xls";
  const std::string sample = Slurp(Sample());
  std::ofstream(path, std::ios::binary) << sample;
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    while (!stop) {
      std::ofstream out(path, std::ios::binary | std::ios::trunc);
      for (size_t at = 0; at < sample.size(); at += 512) out.write(sample.data() + at, 512).flush();
    }
  });
  int refused = 0;
  for (int i = 0; i < 40; ++i) {
    const CliOutcome r = Run({"import", "--data-source", db_, "--check", path.string()});
    if (r.exit_code == 0) {
      EXPECT_EQ(r.out, kCleanCheck);
    } else {
      ++refused;
      EXPECT_EQ(r.exit_code, 1);
      EXPECT_TRUE(IsCannotOpen(r.err)) << r.err;
    }
  }
  stop = true;
  writer.join();
  std::cout << refused << " of 40 reads refused\n";
}

TEST_F(FileFaults, AFailedExportKeepsTheEarlierFileAndLeavesNoTemporaryFile) {
  // Enough rows that the sheet outgrows the file size limit below while the
  // compressed workbook would still fit under it.
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(db_.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(
                db,
                "with recursive n(i) as (select 1 union all select i + 1 from n where i < 20000) "
                "insert into ZORVAT(AA, BB) select 'k' || i, i * 7 from n",
                nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);

  fs::create_directory(dir_.path() / "a_folder");
  const struct Case {
    const char* name;
    fs::path output;
    rlim_t limit;
    const char* reason;
  } cases[] = {
      {"disk_full", dir_.path() / "earlier.xlsx", 64 * 1024, "无法完整地写入导出的文件"},
      {"no_such_folder", dir_.path() / "missing" / "out.xlsx", RLIM_INFINITY, "文件或文件夹不存在"},
      {"output_is_a_folder", dir_.path() / "a_folder", RLIM_INFINITY, "这是一个文件夹"},
  };
  const std::string earlier = "an earlier export the operator still needs";
  std::ofstream(dir_.path() / "earlier.xlsx", std::ios::binary) << earlier;
  for (const auto& c : cases) {
    const CliOutcome r = Run({"export", "--data-source", db_, "--query", "select * from zorvat",
                              "--output", c.output.string()},
                             c.limit);
    EXPECT_EQ(r.exit_code, 1) << c.name;
    EXPECT_EQ(r.err.rfind(kExportFailed, 0), 0u) << c.name << "\n" << r.err;
    EXPECT_NE(r.err.find(c.reason), std::string::npos) << c.name << "\n" << r.err;
    EXPECT_EQ(r.err.find("[ERROR]"), std::string::npos)
        << c.name << ": a library's own log on stderr\n"
        << r.err;
    EXPECT_EQ(r.err.substr(r.err.size() - 2), "\n\n") << c.name;
    EXPECT_TRUE(TempFiles(dir_.path()).empty()) << c.name;
  }
  EXPECT_EQ(Slurp(dir_.path() / "earlier.xlsx"), earlier);
  EXPECT_TRUE(fs::is_directory(dir_.path() / "a_folder") && fs::is_empty(dir_.path() / "a_folder"));
  EXPECT_FALSE(fs::exists(dir_.path() / "missing"));

  // Without the limit the same export replaces the earlier file.
  const CliOutcome r = Run({"export", "--data-source", db_, "--query", "select * from zorvat",
                            "--output", (dir_.path() / "earlier.xlsx").string()});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_GT(fs::file_size(dir_.path() / "earlier.xlsx"), 100000u);
  EXPECT_TRUE(TempFiles(dir_.path()).empty());
}

}  // namespace
