#include "tests/support/postgres_cluster.h"

#include <libpq-fe.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace qv::test {
namespace {

using Connection = std::unique_ptr<PGconn, decltype(&PQfinish)>;

Connection Connect(const std::string& uri) { return {PQconnectdb(uri.c_str()), &PQfinish}; }

// The first value the statement returns, or the error it meets, marked so.
std::string Ask(PGconn* connection, const std::string& sql) {
  const std::unique_ptr<PGresult, decltype(&PQclear)> result(PQexec(connection, sql.c_str()), &PQclear);
  const ExecStatusType status = PQresultStatus(result.get());
  if (status == PGRES_COMMAND_OK) return "ok";
  if (status != PGRES_TUPLES_OK) return "error: " + std::string(PQerrorMessage(connection));
  return PQntuples(result.get()) > 0 ? PQgetvalue(result.get(), 0, 0) : "no rows";
}

std::string Ask(const std::string& uri, const std::string& sql) { return Ask(Connect(uri).get(), sql); }

TEST(PostgresCluster, GivesSeparateDatabasesThatOutliveAKillAndARestart) {
  QV_REQUIRE_POSTGRES();
  PostgresCluster& cluster = PostgresCluster::Shared();
  const std::string first = cluster.NewDatabase();
  const std::string second = cluster.NewDatabase();
  ASSERT_EQ(Ask(first, "CREATE TABLE kept (x int); INSERT INTO kept VALUES (7)"), "ok");
  EXPECT_EQ(Ask(second, "SELECT count(*) FROM pg_tables WHERE tablename = 'kept'"), "0");

  const Connection held = Connect(first);
  ASSERT_EQ(Ask(held.get(), "SELECT x FROM kept"), "7");
  cluster.Kill();
  EXPECT_NE(Ask(held.get(), "SELECT x FROM kept").rfind("error: ", 0), std::string::npos);
  EXPECT_EQ(PQstatus(Connect(second).get()), CONNECTION_BAD);

  cluster.Restart();
  EXPECT_EQ(Ask(first, "SELECT x FROM kept"), "7");

  // A test that stops between Kill() and Restart() leaves a working cluster to the next.
  cluster.Kill();
  EXPECT_EQ(Ask(cluster.NewDatabase(), "SELECT 1"), "1");
}

}  // namespace
}  // namespace qv::test
