// Tests that run on each store engine: a SQLite file and a fresh database of the throw-away PostgreSQL cluster.
#pragma once

#include "tests/support/postgres_cluster.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <string>

namespace qv::test {

class EachStoreEngine : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        if (Postgres()) QV_REQUIRE_POSTGRES();
    }
    bool Postgres() const { return GetParam() == "PostgreSQL"; }
    // A new, empty store of the engine.
    std::string NewStore(const TempDir& dir) const {
        return Postgres() ? PostgresCluster::Shared().NewDatabase() : dir.File("store.db");
    }
};

}  // namespace qv::test

#define QV_ON_EACH_STORE_ENGINE(suite)                                                  \
    INSTANTIATE_TEST_SUITE_P(Engines, suite, ::testing::Values("SQLite", "PostgreSQL"), \
                             [](const auto& engine) { return engine.param; })
