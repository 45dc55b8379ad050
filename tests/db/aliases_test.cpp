#include <algorithm>

#include "db/aliases.h"
#include "db/errors.h"
#include "db/registry.h"
#include "db_fixture.h"

namespace xb::db::test {
namespace {

class Aliases : public DbFolder {};

TEST_F(Aliases, ListHoldsAliasesAndDsnsSortedWithoutCaseTwins) {
  std::ofstream(dir_ / "aliases.ini") << "[zeta]\nengine=sqlite\ntarget=a.db\n"
                                         "[Alpha]\nengine=sqlite\ntarget=b.db\n"
                                         "[ALPHA]\nengine=sqlite\ntarget=c.db\n"
                                         "[beta]\nengine=odbc\ntarget=XBTEST\n";
  const auto list = AliasList();
  std::vector<std::string> expected = {"Alpha", "beta", "zeta"};
  if (HaveOdbcDriver()) expected = {"Alpha", "beta", "XBTEST", "zeta"};
  EXPECT_EQ(list, expected);
  // The first of two case twins wins when resolving too.
  EXPECT_EQ(ResolveDataSource("alpha").where, (dir_ / "b.db").string());
  EXPECT_EQ(ResolveDataSource("BETA").engine, "odbc");
  EXPECT_EQ(ResolveDataSource(db_path_).engine, "sqlite");
  // A name that is no alias, no DSN and no file is said to be just that.
  try {
    ResolveDataSource("/some/file.db");
    FAIL() << "resolved";
  } catch (const DbError& e) {
    EXPECT_EQ(e.kind(), DbError::Kind::NoSuchDataSource);
    EXPECT_NE(std::string(e.what()).find("no such data source"), std::string::npos) << e.what();
  }
}

TEST_F(Aliases, AMissingFileHoldsNoneAndABadOneIsAnError) {
  fs::remove(dir_ / "aliases.ini");
  EXPECT_NO_THROW(AliasList());
  std::ofstream(dir_ / "aliases.ini") << "[x]\nengine=oracle\ntarget=t\n";
  EXPECT_THROW(AliasList(), DbError);
  std::ofstream(dir_ / "aliases.ini") << "not an ini line\n";
  EXPECT_THROW(AliasList(), DbError);
  // The broken file still lets a path typed by hand connect.
  EXPECT_EQ(ResolveDataSource(db_path_).where, db_path_);
  Connection c;
  c.setConnectionString(ConnectionString(db_path_));
  EXPECT_NO_THROW(c.open());
  fs::remove(dir_ / "aliases.ini");
  fs::create_directory(dir_ / "aliases.ini");
  EXPECT_THROW(AliasList(), DbError);
}

// Whichever editor wrote the file: lines end in LF, CR LF or a lone CR.
TEST_F(Aliases, LinesEndInLfCrLfOrCr) {
  for (const char* eol : {"\r\n", "\r"}) {
    const std::string e = eol;
    std::ofstream(dir_ / "aliases.ini") << "; made elsewhere" + e + "[Gamma] " + e +
                                               " engine = sqlite ;note" + e + "target=g.db" + e;
    const std::string line_end = e.size() == 2 ? "CR LF" : "CR";
    const auto list = AliasList();
    ASSERT_FALSE(list.empty()) << line_end;
    EXPECT_EQ(list.front(), "Gamma") << line_end;
    EXPECT_EQ(ResolveDataSource("gamma").where, (dir_ / "g.db").string()) << line_end;
  }
}

// An engine plugged in from outside: its own data sources join the list, an
// alias may name it, and its target is its own text, not a path of the
// alias file's folder. An alias that names no engine gets the default one,
// whose targets are files.
TEST_F(Aliases, APluggedInEngineListsItsSourcesAndKeepsItsTargets) {
  EngineEntry entry;
  entry.name = "listing";
  entry.open = [](const EngineTarget&) -> std::unique_ptr<Engine> {
    throw DbError("not opened in this test");
  };
  entry.data_sources = [] { return std::vector<std::string>{"Listed_B", "listed_a"}; };
  Registry::instance().add(entry);
  std::ofstream(dir_ / "aliases.ini") << "[mine]\nengine=LISTING\ntarget=rel/x\n"
                                         "[plain]\ntarget=p.db\n";
  auto list = AliasList();
  // Put back as it was for any later test of this process: no sources.
  entry.data_sources = nullptr;
  Registry::instance().add(entry);
  list.erase(std::remove(list.begin(), list.end(), "XBTEST"), list.end());
  EXPECT_EQ(list, (std::vector<std::string>{"listed_a", "Listed_B", "mine", "plain"}));
  EXPECT_EQ(ResolveDataSource("MINE").engine, "listing");
  EXPECT_EQ(ResolveDataSource("MINE").where, "rel/x");
  EXPECT_EQ(ResolveDataSource("plain").engine, Registry::instance().aliasDefault()->name);
  EXPECT_EQ(ResolveDataSource("plain").where, (dir_ / "p.db").string());
}

TEST(AliasFile, EnvironmentOverridesTheConfigFolder) {
  xb::test::ScopedEnv env;
  env.set("XLSBRIDGE_ALIASES", "/x/y.ini");
  EXPECT_EQ(AliasFilePath(), "/x/y.ini");
  env.unset("XLSBRIDGE_ALIASES").set("XDG_CONFIG_HOME", "/cfg");
  EXPECT_EQ(AliasFilePath(), "/cfg/xlsbridge/aliases.ini");
  env.unset("XDG_CONFIG_HOME").set("HOME", "/home/op");
  EXPECT_EQ(AliasFilePath(), "/home/op/.config/xlsbridge/aliases.ini");
}

}  // namespace
}  // namespace xb::db::test
