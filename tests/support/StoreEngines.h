// Tests parameterised by the collector's storage engine: SQLite files, and databases in a
// PostgreSQL cluster the test process starts for itself (see PostgresCluster.h).
#pragma once

#include "support/PostgresCluster.h"
#include "support/TestEnv.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace testenv {

enum class StoreEngine { Sqlite, Postgres };

class StoreEngineTest : public ::testing::TestWithParam<StoreEngine> {
protected:
    // A new, empty database of the engine under test: its path or connection string.
    std::string newDatabase() {
        if (GetParam() == StoreEngine::Sqlite) return makeTempDir("collector-store") + "/db.sqlite";
        static std::unique_ptr<PostgresCluster> cluster;
        if (!cluster) cluster = std::make_unique<PostgresCluster>();
        return cluster->newDatabase();
    }
};

inline std::string storeEngineName(const ::testing::TestParamInfo<StoreEngine>& info) {
    return info.param == StoreEngine::Sqlite ? "Sqlite" : "Postgres";
}

}  // namespace testenv

#define INSTANTIATE_STORE_ENGINES(suite)                                                                     \
    INSTANTIATE_TEST_SUITE_P(Engines, suite,                                                                 \
                             ::testing::Values(testenv::StoreEngine::Sqlite, testenv::StoreEngine::Postgres), \
                             testenv::storeEngineName)
