// Rows per second into a run's DATA table on the embedded engine: through the data access
// object as the database store writes a record (forward-only table recordset, AddNew, one
// SetFieldValue per column, Update) against plain prepared inserts of the same rows, as a
// ratio from one run (1.0 = no overhead). Both sides commit each row on its own.
#include "dbacc.h"
#include "ldb.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

constexpr int k_channels = 16;
constexpr int k_rows = 2000;

double nowUs() {
    return std::chrono::duration<double, std::micro>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

struct Scratch {
    std::string path;
    Scratch() {
        char tmpl[] = "/tmp/kvt-dbstore-bench-XXXXXX";
        path = mkdtemp(tmpl);
    }
    ~Scratch() { std::filesystem::remove_all(path); }
};

std::string columns() {
    std::string c;
    for (int k = 1; k <= k_channels; ++k)
        c += ", AI" + std::to_string(k) + " REAL NULL";
    return c;
}

void BM_StoreRowsAgainstPreparedInserts(benchmark::State &state) {
    Scratch dir;
    const std::string file = dir.path + "/Boiler.mdb";
    const std::u16string conn =
        ado::FromUtf8("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=\"" + file + "\"");
    CLogITDbAcc cat;
    cat.CreateCatalog(conn, u"");
    cat.ExecuteStatement(ado::FromUtf8(ldb_CreateData("A_", 0, columns())));
    cat.ExecuteStatement(ado::FromUtf8(ldb_CreateData("B_", 0, columns())));

    CLogITDbDataAcc log;
    log.Connect(conn, u"", -1);
    log.OpenRecordset(u"A_DATA", 0, 3, 2);

    sqlite3 *db = nullptr;
    sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    sqlite3_exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL", nullptr, nullptr,
                 nullptr);
    std::string sql = "INSERT INTO B_DATA (DT, MS";
    std::string marks = "?, ?";
    for (int k = 1; k <= k_channels; ++k) {
        sql += ", AI" + std::to_string(k);
        marks += ", ?";
    }
    sql += ") VALUES (" + marks + ")";
    sqlite3_stmt *insert = nullptr;
    sqlite3_prepare_v2(db, sql.c_str(), -1, &insert, nullptr);

    double store = 0, plain = 0;
    int32_t t = 2524608000u;
    for (auto _ : state) {
        for (int row = 0; row < k_rows; ++row, ++t) {
            double dt = 0;
            lstore_LocalToDbTime(t, &dt);
            double t0 = nowUs();
            log.AddNewIfSupported();
            log.SetFieldValue(0, ado::Variant::Date(dt));
            log.SetFieldValue(1, ado::Variant::I4(row % 1000));
            for (int k = 0; k < k_channels; ++k)
                log.SetFieldValue(3 + k, ado::Variant::R4(static_cast<float>(row + k)));
            log.Update();
            store += nowUs() - t0;

            t0 = nowUs();
            sqlite3_bind_text(insert, 1, ado::DateText(dt).c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_int(insert, 2, row % 1000);
            for (int k = 0; k < k_channels; ++k)
                sqlite3_bind_double(insert, 3 + k, static_cast<float>(row + k));
            sqlite3_step(insert);
            sqlite3_reset(insert);
            plain += nowUs() - t0;
        }
    }
    sqlite3_finalize(insert);
    sqlite3_close(db);
    log.Disconnect();
    const double rows = static_cast<double>(k_rows) * state.iterations();
    state.counters["store_rows_per_s"] = rows / store * 1e6;
    state.counters["plain_rows_per_s"] = rows / plain * 1e6;
    state.counters["ratio"] = plain / store;
}
BENCHMARK(BM_StoreRowsAgainstPreparedInserts)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

BENCHMARK_MAIN();
