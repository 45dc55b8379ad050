// xlsbridge-cli: import, export and plain SQL without a window, for
// scheduled and scripted runs. It drives the same loader, import run and
// export as the window and only answers the operator differently.

#include <unistd.h>

#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/script.h"
#include "cli/terminal_operator.h"
#include "db/connection.h"
#include "db/connection_string.h"
#include "db/connection_test.h"
#include "db/errors.h"
#include "export/exporter.h"
#include "import/check.h"
#include "import/importer.h"
#include "operator/operator.h"
#include "operator/texts.h"
#include "sheet/file_engine.h"

namespace {

using xb::cli::ExistingPolicy;

constexpr const char* kUsage =
    "usage:\n"
    "  xlsbridge-cli import --data-source DS [--user U] [--password P]\n"
    "                       [--existing ask|yes|ignore|all|abort] WORKBOOK\n"
    "  xlsbridge-cli import --data-source DS [--user U] [--password P]\n"
    "                       --check [--format text|json] WORKBOOK\n"
    "  xlsbridge-cli export --data-source DS [--user U] [--password P]\n"
    "                       (--query TEXT | --query-file F) --output FILE\n"
    "  xlsbridge-cli sql    --data-source DS [--user U] [--password P] (--file F | STATEMENT)\n"
    "  xlsbridge-cli --help | --version\n"
    "\n"
    "DS is a data source as typed in the window: an alias of the alias file,\n"
    "an ODBC data source name, or the path of a SQLite database file.\n";

struct UsageError {
  std::string message;
};

struct Args {
  std::string command;
  std::map<std::string, std::string> options;
  bool check = false;
  std::vector<std::string> positional;
};

Args ParseArgs(int argc, char** argv) {
  static const std::map<std::string, std::vector<std::string>> kOptions = {
      {"import", {"data-source", "user", "password", "existing", "format"}},
      {"export", {"data-source", "user", "password", "query", "query-file", "output"}},
      {"sql", {"data-source", "user", "password", "file"}},
  };
  Args args;
  if (argc < 2) throw UsageError{"no command given"};
  args.command = argv[1];
  const auto known = kOptions.find(args.command);
  if (known == kOptions.end()) throw UsageError{"unknown command '" + args.command + "'"};
  for (int i = 2; i < argc; ++i) {
    std::string word = argv[i];
    if (word == "--") {
      for (++i; i < argc; ++i) args.positional.push_back(argv[i]);
      break;
    }
    if (word.rfind("--", 0) != 0 || word.size() == 2) {
      args.positional.push_back(word);
      continue;
    }
    std::string name = word.substr(2);
    std::optional<std::string> value;
    if (const auto eq = name.find('='); eq != std::string::npos) {
      value = name.substr(eq + 1);
      name.erase(eq);
    }
    if (name == "check" && args.command == "import" && !value) {
      args.check = true;
      continue;
    }
    bool allowed = false;
    for (const auto& o : known->second) allowed = allowed || o == name;
    if (!allowed) throw UsageError{"unknown option '--" + name + "' for " + args.command};
    if (!value) {
      if (i + 1 >= argc) throw UsageError{"option '--" + name + "' needs a value"};
      value = argv[++i];
    }
    if (args.options.count(name)) throw UsageError{"option '--" + name + "' given twice"};
    args.options[name] = *value;
  }
  if (!args.options.count("data-source")) throw UsageError{"--data-source is required"};
  return args;
}

std::string Option(const Args& args, const std::string& name) {
  const auto it = args.options.find(name);
  return it == args.options.end() ? std::string() : it->second;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read '" + path + "'");
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

xb::db::ConnectionSettings Settings(const Args& args) {
  return {Option(args, "data-source"), Option(args, "user"), Option(args, "password")};
}

// The connection string is built exactly as the window builds it; unlike the
// window's connection test, a failure here is reported.
bool Connect(xb::db::DbSession& session, const Args& args) {
  try {
    session.myconnection.setConnectionString(xb::db::BuildConnectionString(Settings(args)));
    session.myconnection.open();
    return true;
  } catch (const std::exception& e) {
    std::cerr << "xlsbridge-cli: cannot connect to \"" << Option(args, "data-source")
              << "\": " << e.what() << "\n";
    return false;
  }
}

// The window's default error report for an error no handler caught.
void DefaultErrorReport(const std::string& title, const std::exception& e) {
  std::cerr << xb::cli::FormatBox(title, xb::DefaultErrorText(xb::OperatorReason(e))) << std::flush;
}

// The pre-flight check: the whole workbook against the table, nothing
// written. 0 when nothing is at fault, 1 otherwise.
int RunCheck(xb::db::DbSession& session, const std::string& workbook, bool json,
             const std::string& title) {
  auto server = xb::sheet::MakeFileServer();
  std::unique_ptr<xb::sheet::Instance> instance;
  try {
    instance = server->create();
    if (!instance) throw xb::sheet::SheetError("no spreadsheet instance");
    instance->openWorkbook(workbook);
  } catch (const std::exception& e) {
    // The loader's box for a file it cannot open, with the reader's reason.
    if (instance) instance->quit();
    std::cerr << xb::cli::FormatBox(
                     xb::texts::kSystemError,
                     std::string(xb::texts::kCannotStartSpreadsheet) + "\n" + xb::OperatorReason(e))
              << std::flush;
    return 1;
  }
  const xb::sheet::InstanceGuard quit_on_return(instance.get());
  try {
    const xb::import::CheckReport report = xb::import::CheckWorkbook(session, *instance);
    std::cout << (json ? xb::import::ReportJson(report) : xb::import::ReportText(report))
              << std::flush;
    return report.clean() ? 0 : 1;
  } catch (const std::exception& e) {
    DefaultErrorReport(title, e);
    return 1;
  }
}

int RunImport(const Args& args, const std::string& title) {
  if (args.positional.size() != 1) throw UsageError{"import needs exactly one WORKBOOK"};
  ExistingPolicy policy = isatty(STDIN_FILENO) ? ExistingPolicy::Ask : ExistingPolicy::Abort;
  if (args.options.count("existing")) {
    static const std::map<std::string, ExistingPolicy> kPolicies = {
        {"ask", ExistingPolicy::Ask},
        {"yes", ExistingPolicy::Yes},
        {"ignore", ExistingPolicy::Ignore},
        {"all", ExistingPolicy::All},
        {"abort", ExistingPolicy::Abort}};
    const auto it = kPolicies.find(Option(args, "existing"));
    if (it == kPolicies.end()) throw UsageError{"--existing takes ask, yes, ignore, all or abort"};
    policy = it->second;
  }

  if (args.options.count("format") && !args.check) throw UsageError{"--format goes with --check"};
  if (args.check && args.options.count("existing"))
    throw UsageError{"--check writes nothing: --existing has no use with it"};
  const std::string format = args.options.count("format") ? Option(args, "format") : "text";
  if (format != "text" && format != "json") throw UsageError{"--format takes text or json"};

  xb::db::DbSession session;
  if (!Connect(session, args)) return 1;
  if (args.check) return RunCheck(session, args.positional[0], format == "json", title);
  xb::cli::TerminalOperator op(std::cerr, std::cout, std::cin, isatty(STDERR_FILENO) != 0);
  op.setWorkbook(args.positional[0]);
  op.setExistingPolicy(policy);
  auto server = xb::sheet::MakeFileServer();
  xb::import::Importer importer(session, *server, op);
  importer.setCheckRunningInstance(false);

  try {
    const auto connection_test = [&] {
      switch (xb::db::TestConnection(session, Settings(args))) {
        case xb::db::ConnectionTestOutcome::Connected: op.showMessage(xb::ConnectedBox()); break;
        case xb::db::ConnectionTestOutcome::TimedOut:
          op.showMessage(xb::ConnectTimedOutBox());
          break;
        case xb::db::ConnectionTestOutcome::Failed: break;
      }
    };
    if (importer.ReadWorkbook(connection_test) == xb::import::ReadOutcome::Succeeded)
      importer.OfferImport();
  } catch (const std::exception& e) {
    DefaultErrorReport(title, e);
    return 1;
  }
  return importer.lastRunSucceeded() ? 0 : 1;
}

int RunExport(const Args& args, const std::string& title) {
  if (!args.positional.empty()) throw UsageError{"export takes no positional argument"};
  const bool has_query = args.options.count("query"), has_file = args.options.count("query-file");
  if (has_query == has_file)
    throw UsageError{"export needs exactly one of --query and --query-file"};
  if (Option(args, "output").empty()) throw UsageError{"export needs --output FILE"};
  std::string query;
  if (has_query) {
    query = Option(args, "query");
  } else {
    try {
      query = ReadFile(Option(args, "query-file"));
    } catch (const std::exception& e) {
      throw UsageError{e.what()};
    }
  }

  xb::db::DbSession session;
  if (!Connect(session, args)) return 1;
  xb::cli::TerminalOperator op(std::cerr, std::cout, std::cin, isatty(STDERR_FILENO) != 0);
  op.countRecords();
  xb::sheet::FileEngineOptions options;
  options.output_path = Option(args, "output");
  // Its stderr carries the boxes, and nothing else runs while it exports.
  options.quiet_writer_library = true;
  auto server = xb::sheet::MakeFileServer(options);
  try {
    return xb::exporting::Export(session, *server, op, query) ? 0 : 1;
  } catch (const std::exception& e) {
    DefaultErrorReport(title, e);
    return 1;
  }
}

int RunSql(const Args& args) {
  const bool has_file = args.options.count("file");
  if (has_file == (args.positional.size() == 1) || args.positional.size() > 1)
    throw UsageError{"sql needs exactly one of --file F and STATEMENT"};
  std::vector<std::string> statements;
  if (has_file) {
    try {
      statements = xb::cli::SplitScript(ReadFile(Option(args, "file")));
    } catch (const std::runtime_error& e) {
      throw UsageError{e.what()};
    }
  } else {
    statements.push_back(args.positional[0]);
  }

  xb::db::DbSession session;
  if (!Connect(session, args)) return 1;
  xb::db::Query query(session.myconnection);
  for (const auto& statement : statements) {
    try {
      query.close();
      query.setSql(statement);
      if (xb::cli::ReturnsRows(statement)) {
        try {
          query.open();
        } catch (const xb::db::NoRowSetError&) {
          continue;  // carried out, committed on its own, nothing to print
        }
        std::string line;
        for (int i = 0; i < query.fieldCount(); ++i)
          line += (i ? "\t" : "") + xb::cli::EscapeField(query.fieldName(i));
        std::cout << line << '\n';
        for (; !query.eof(); query.next()) {
          line.clear();
          for (int i = 0; i < query.fieldCount(); ++i)
            line += (i ? "\t" : "") + xb::cli::EscapeField(query.fieldText(i));
          std::cout << line << '\n';
        }
        query.close();
      } else {
        // Each statement commits on its own.
        session.myconnection.beginTransaction();
        query.execute();
        session.myconnection.commitTransaction();
      }
    } catch (const std::exception& e) {
      std::cout << std::flush;
      std::cerr << e.what() << "\n";
      return 1;
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  const std::string title = xb::ProgramTitle(argc > 0 ? argv[0] : "xlsbridge-cli");
  if (argc == 2 && std::string(argv[1]) == "--help") {
    std::cout << kUsage;
    return 0;
  }
  if (argc == 2 && std::string(argv[1]) == "--version") {
    std::cout << "xlsbridge-cli " << XLSBRIDGE_VERSION << "\n";
    return 0;
  }
  try {
    const Args args = ParseArgs(argc, argv);
    if (args.command == "import") return RunImport(args, title);
    if (args.command == "export") return RunExport(args, title);
    return RunSql(args);
  } catch (const UsageError& e) {
    std::cerr << "xlsbridge-cli: " << e.message << "\n" << kUsage;
    return 2;
  }
}
