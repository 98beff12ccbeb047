// qvservice init, which the packaged unit runs before serve: a fresh store
// for a fresh install, and never a change to a store that holds records.
#include "tests/support/service_process.h"
#include "qvservice/store/sqlite_db.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>

namespace {

using namespace qv::test;

TEST(InitCommand, MakesAStoreServeOpensAndLeavesAFilledOneAlone) {
  TempDir dir;
  const std::string fresh = dir.File("fresh.db");
  const ToolResult made = RunQvservice({"init", "--store", fresh});
  ASSERT_EQ(made.exitCode, 0) << made.err;
  EXPECT_EQ(made.out, "");
  ServiceProcess service({"serve", "--store", fresh, "--listen", "127.0.0.1:0"});
  EXPECT_NE(service.WaitUntilListening(), "") << service.Log();
  EXPECT_EQ(service.Stop(SIGTERM), 0) << service.Log();

  const std::string filled = dir.File("filled.db");
  WriteRecords(filled, {{"anna", "WS-01", "app.exe", "App", "Main", 1'700'000'000'000, 1000, 1, 1}});
  ASSERT_EQ(RunQvservice({"init", "--store", filled}).exitCode, 0);
  qv::server::SqliteDatabase db(filled, qv::server::Database::Mode::ReadOnly);
  qv::server::Statement count(db, "SELECT COUNT(*) FROM activity");
  ASSERT_TRUE(count.Step());
  EXPECT_EQ(count.Int64(0), 1);

  const std::string text = dir.File("text.db");
  const std::string words = "this is not a database, just some text that is long enough to look like a header";
  std::ofstream(text) << words;
  const ToolResult refused = RunQvservice({"init", "--store", text});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_NE(refused.err.find("qvservice: "), std::string::npos) << refused.err;
  EXPECT_EQ(ReadFile(text), words);

  // A store of a newer program is refused by every command, and left alone.
  qv::server::SqliteDatabase(fresh, qv::server::Database::Mode::ReadWrite).SetSchemaVersion(2);
  for (const char* command : {"init", "serve"}) {
    const ToolResult newer = RunQvservice({command, "--store", fresh});
    EXPECT_EQ(newer.exitCode, 1) << command;
    EXPECT_NE(newer.err.find("holds a store of version 2, written by a newer qvservice"), std::string::npos)
        << command << ": " << newer.err;
  }
  EXPECT_EQ(qv::server::SqliteDatabase(fresh, qv::server::Database::Mode::ReadOnly).SchemaVersion(), 2);

  // An empty file is no store yet: serve says how to make one.
  const std::string empty = dir.File("empty.db");
  std::ofstream(empty).flush();
  const ToolResult unfilled = RunQvservice({"serve", "--store", empty, "--listen", "127.0.0.1:0"});
  EXPECT_EQ(unfilled.exitCode, 1);
  EXPECT_NE(unfilled.err.find("holds no Quorvis store; qvservice init"), std::string::npos) << unfilled.err;

  EXPECT_EQ(RunQvservice({"init"}).exitCode, 2);
  EXPECT_EQ(RunQvservice({"init", "--store", fresh, "extra"}).exitCode, 2);
}

}  // namespace
