// The MariaDB store and collection against the test run's private server: runs written and read
// back record for record, listed, pruned and dropped; batches within the server's placeholder
// limit; and the connection string's items.
#include "chrec.h"
#include "dbrun_cases.h"
#include "lstore_dbcoll_cases.h"
#include "ipc_prefix.h"
#include "ldf.h"
#include "lstore_dbcoll.h"
#include "lstore_file.h"
#include "lstore_filecoll.h"
#include "lstore_mysql.h"
#include "plat_error.h"
#include "plat_registry.h"
#include "reg.h"
#include "store_fixture.h"
#include "tag.h"
#include "temp_registry.h"
#include "test_mariadb.h"

#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <sys/stat.h>
#include <thread>

namespace {

std::string run(const std::string &command) {
    std::string out;
    FILE *p = popen(command.c_str(), "r");
    if (!p) return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    pclose(p);
    return out;
}

std::string serverDir() {
    const char *dir = std::getenv("KVT_TEST_MARIADB_DIR");
    if (!dir || !*dir) dir = KVT_TEST_MARIADB_DIR_DEFAULT;
    return dir;
}

// "PASSWORD=" holds the base64 form of "kvt-test".
std::string mysqlString(const mdb::Database &db) {
    return "PROVIDER=MYSQL;HOST=127.0.0.1;PORT=" + db.port() + ";USER=kvt;DB=" + db.name() +
           ";PASSWORD=a3Z0LXRlc3Q=";
}

LogBlockDescriptor block(const char *prefix, int first, int last, int kind) {
    LogBlockDescriptor b{};
    memcpy(b.prefix, prefix, 2);
    b.first = static_cast<uint16_t>(first);
    b.last = static_cast<uint16_t>(last);
    b.valueKind = static_cast<uint16_t>(kind);
    snprintf(b.source, sizeof b.source, "PLANT  ");
    return b;
}

std::vector<uint8_t> analogueRecords(int count, const char *tagStem) {
    std::vector<uint8_t> out(size_t{LDF_CHANNEL_SIZE} * count);
    for (int i = 0; i < count; ++i) {
        ChannelRecord rec{};
        chrec_SetType(&rec, CHANNEL_TYPE_AI);
        chrec_SetFlag(&rec, ChannelAnalog::Enable, 1);
        tag_SetTag(&rec, (std::string(tagStem) + std::to_string(i + 1)).c_str());
        tag_SetDescription(&rec, "Boiler feed");
        tag_SetUnits(&rec, "m3/h");
        chrec_Set(&rec, ChannelAnalog::MinimumUnits, -5.0f);
        chrec_Set(&rec, ChannelAnalog::MaximumUnits, 250.0f);
        memcpy(out.data() + size_t{LDF_CHANNEL_SIZE} * i, rec.bytes, LDF_CHANNEL_SIZE);
    }
    return out;
}

void putFlag(uint8_t *rec, const LogBlockDescriptor &b, int i, int32_t flag, const void *value) {
    int n = b.last - b.first + 1;
    ldf_Put32(rec + b.valuesOffset + 4 * i, flag);
    memcpy(rec + b.valuesOffset + 4 * n + 4 * i, value, 4);
}

// Batches of INSERTs into one DATA table, as rows per statement, from the server's general log
// (switched on as root over the server's socket; other tests share the server).
class GeneralLog {
public:
    GeneralLog() : root_("mariadb --no-defaults -uroot -S " + serverDir() + "/sock -N -B -e ") {
        run(root_ + "\"SET GLOBAL log_output = 'TABLE'; SET GLOBAL general_log = 1\"");
    }
    // Rows of every INSERT into the table, in order.
    std::vector<int> Batches(const std::string &table) {
        std::string out =
            run(root_ +
                "\"SELECT (LENGTH(argument) - LENGTH(REPLACE(argument, '),(', ''))) DIV 3 + 1 "
                "FROM mysql.general_log WHERE command_type = 'Execute' AND argument LIKE "
                "'INSERT INTO " +
                table + " VALUES %' ORDER BY event_time\"");
        std::vector<int> rows;
        for (const char *p = out.c_str(); *p;) {
            char *end;
            long v = strtol(p, &end, 10);
            if (end == p) break;
            rows.push_back(static_cast<int>(v));
            p = end;
            while (*p == '\n' || *p == '\r')
                ++p;
        }
        return rows;
    }

private:
    std::string root_;
};

// The server's connections to the test's database once they are `want`, or after 20 s: the
// server lists a closed connection a moment after the client has let it go.
int connectionsSettleAt(const mdb::Database &db, int want) {
    ado::Connection c;
    c.Open(mdb::connectionString(db.port(), "kvt_none") + ";Database=");
    const std::string sql =
        "SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE DB = '" + db.name() + "'";
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (;;) {
        int n = static_cast<int>(c.Execute(sql)->Collect(ado::Variant::I4(0)).AsInt());
        if (n == want || std::chrono::steady_clock::now() > end) return n;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// A run of one analogue block of two channels; with `refused`, the second channel's scale is
// one the server does not store (NaN), so the run's CHANNELS rows fail after its LOGGERS row.
CLogStore *createRun(CLogCollection &col, bool refused) {
    LogHeader h{};
    h.blockCount = 1;
    h.blocks[0] = block("A1", 1, 2, 8);
    h.start = 1700000000;
    ldf_LayoutRecord(&h);
    std::vector<uint8_t> analogue = analogueRecords(2, "T");
    if (refused) {
        ChannelRecord rec;
        memcpy(rec.bytes, analogue.data() + LDF_CHANNEL_SIZE, LDF_CHANNEL_SIZE);
        chrec_Set(&rec, ChannelAnalog::MinimumUnits, std::nanf(""));
        memcpy(analogue.data() + LDF_CHANNEL_SIZE, rec.bytes, LDF_CHANNEL_SIZE);
    }
    const void *records[1] = {analogue.data()};
    int32_t start = h.start;
    return col.CreateLoggerEx(&start, 0, 0, &h, "[HEADER]\r\nTrial\r\n", 0, nullptr, 0, records);
}

} // namespace

TEST(LogMySqlItems, KeysAtItemStartsAndBase64Passwords) {
    LogConnectionString items;
    lstore_ParseMySqlConnection("PROVIDER=MYSQL;host=db1;USER=ops;DB=plant", &items);
    EXPECT_EQ(items.host, "db1");
    EXPECT_EQ(items.user, "ops");
    EXPECT_EQ(items.db, "plant");
    EXPECT_EQ(items.port, 0u);
    EXPECT_EQ(items.password, "");
    // A password whose base64 ends in "db=" stands before DB=: the database is still "plant".
    lstore_ParseMySqlConnection("PROVIDER=MYSQL;PASSWORD=aGVsbG8db=;USER=ops; DB=plant;PORT=3307",
                                &items);
    EXPECT_EQ(items.db, "plant");
    EXPECT_EQ(items.password, std::string("hello\x1D")); // decoding stops at the first '='
    EXPECT_EQ(items.port, 3307u);
    // A host over 256 characters counts as absent.
    lstore_ParseMySqlConnection(("HOST=" + std::string(300, 'h') + ";USER=u;DB=d").c_str(), &items);
    EXPECT_EQ(items.host, "localhost");
    EXPECT_EQ(lstore_Base64Decode("a3Z0LXRlc3Q="), "kvt-test");
    EXPECT_EQ(lstore_Base64Decode("a3Z0*LXRlc3Q="), "kvt");
    EXPECT_EQ(lstore_Base64Encode("kvt-test"), "a3Z0LXRlc3Q=");
    EXPECT_EQ(lstore_Base64Encode("kv"), "a3Y=");
}

TEST(LogMySql, ARunWrittenReadBackListedAndPruned) {
    mdb::Database db("mysql_run");
    KVT_REQUIRE_MARIADB(db);
    const std::string conn = mysqlString(db);
    std::unique_ptr<CLogCollection> made(lstore_CreateCollection(conn.c_str()));
    auto *col = dynamic_cast<CLogDbMySQLCollection *>(made.get());
    ASSERT_NE(col, nullptr);
    const char *logger = "Boiler's";
    ASSERT_EQ(col->Open(conn.c_str(), "", logger, "Boiler", LSTORE_READ | LSTORE_WRITE), 0)
        << col->GetErrorMessage() << ": " << col->GetErrorText();
    EXPECT_TRUE(col->CreatedLoggers());
    {
        CLogDbMySQLCollection again; // LOGGERS exists: error 1050 is accepted
        ASSERT_EQ(again.Open(conn.c_str(), "", logger, "", LSTORE_READ | LSTORE_WRITE), 0);
        EXPECT_TRUE(again.CreatedLoggers());
    }
    int size = 0;
    ASSERT_EQ(col->FindFirst(&size), 1);
    EXPECT_EQ(size, 20);
    EXPECT_EQ(col->FindNext(nullptr, nullptr, nullptr), 0);

    LogHeader h{};
    h.blockCount = 2;
    h.blocks[0] = block("A1", 1, 3, 8);
    h.blocks[1] = block("D1", 1, 2, 4);
    h.blocks[1].spare[1] = 1; // lag byte
    h.tagColumns = 1;
    h.sigChange = 1;
    memcpy(h.trigger.prefix, "A1", 2);
    h.trigger.number = 2;
    memcpy(h.lag.prefix, "D1", 2);
    h.lag.number = 1;
    const uint32_t start = 2524608000u + 3723u; // 2050-01-01 01:02:03, past 2038
    h.start = static_cast<int32_t>(start);
    ldf_LayoutRecord(&h);
    std::vector<uint8_t> analogue = analogueRecords(3, "Flow Rate ");
    std::vector<uint8_t> digital(2 * LDF_CHANNEL_SIZE);
    for (int i = 0; i < 2; ++i) {
        ChannelRecord rec{};
        chrec_SetType(&rec, CHANNEL_TYPE_DI);
        chrec_SetFlag(&rec, ChannelDigital::Enable, 1);
        // "DT" falls back to the channel code; punctuation becomes '_'.
        tag_SetTag(&rec, i == 0 ? "DT" : "P.1/O'Brien");
        chrec_SetText(&rec, ChannelDigital::LowStateText, "Stopped");
        chrec_SetText(&rec, ChannelDigital::HighStateText, "Running");
        memcpy(digital.data() + size_t{LDF_CHANNEL_SIZE} * i, rec.bytes, LDF_CHANNEL_SIZE);
    }
    const void *records[2] = {analogue.data(), digital.data()};
    int32_t startArg = h.start;
    std::unique_ptr<CLogStore> store(col->CreateLoggerEx(
        &startArg, 1, 0, &h, "[HEADER]\r\nBoiler 2 trial\r\n[PREDEFINED]\r\nline 1\r\n", 0, nullptr,
        0, records));
    ASSERT_NE(store, nullptr) << col->GetErrorMessage() << ": " << col->GetErrorText();
    auto *mine = static_cast<CLogDbMySQLStore *>(store.get());
    EXPECT_EQ(mine->TablePrefix(), "Boiler_"); // the run-name prefix, plain-name flag

    // Three records: microseconds that truncation would get wrong, a missing value.
    struct Want {
        uint32_t t;
        uint16_t ms, us;
    } want[3] = {{start, 7, 7}, {start + 1, 123, 500}, {start + 2, 999, 999}};
    std::vector<uint8_t> recs(3 * static_cast<size_t>(h.recordSize));
    for (int r = 0; r < 3; ++r) {
        uint8_t *rec = recs.data() + r * h.recordSize;
        ldf_Put16(rec, LDF_RECORD_MARKER);
        rec[2] = static_cast<uint8_t>(r + 1);
        ldf_Put32(rec + 4, static_cast<int32_t>(want[r].t));
        ldf_Put16(rec + 8, want[r].ms);
        ldf_Put16(rec + 10, want[r].us);
        ldf_PutFloat(rec + 12, 0.5f * r);
        for (int i = 0; i < 3; ++i) {
            bool missing = r == 1 && i == 2;
            float v = missing ? 0.0f : 10.25f * (r + 1) + i;
            putFlag(rec, h.blocks[0], i, missing ? LDF_FLAG_INVALID : LDF_FLAG_PRESENT, &v);
        }
        for (int i = 0; i < 2; ++i) {
            int32_t v = 0;
            putFlag(rec, h.blocks[1], i, (r + i) & 1, &v);
        }
    }
    ASSERT_EQ(store->WriteLog(&h, recs.data(), 3), 0) << store->GetErrorText();
    ASSERT_EQ(store->WriteLog(&h, recs.data(), 0), 0);

    // Read back through a store opened by name: header, channels, every record.
    char name[40] = {};
    LogTimePair ts{}, te{};
    size = sizeof name;
    ASSERT_EQ(col->FindLogger(name, &size, &ts, &te, 1), 1);
    EXPECT_STREQ(name, "LoggerSeq=00000001");
    EXPECT_EQ(ts.seconds, start);
    EXPECT_EQ(te.seconds, 0u);
    std::unique_ptr<CLogStore> reader(col->OpenLogger(name, LSTORE_READ));
    ASSERT_NE(reader, nullptr) << col->GetErrorText();
    LogHeader got{};
    ASSERT_EQ(reader->ReadHeader(&got), 0) << reader->GetErrorText();
    EXPECT_EQ(static_cast<uint32_t>(got.start), start);
    EXPECT_EQ(got.stop, 0);
    EXPECT_EQ(got.recordCount, 3);
    EXPECT_EQ(got.blockCount, 2);
    EXPECT_EQ(got.marker, 0x8001);
    EXPECT_EQ(got.recordSize, h.recordSize);
    EXPECT_EQ(got.blocks[1].valuesOffset, h.blocks[1].valuesOffset);
    EXPECT_EQ(std::string(got.blocks[0].source), "PLANT");
    EXPECT_EQ(got.blocks[1].spare[1], 1);
    EXPECT_EQ(got.sigChange, 1);
    EXPECT_EQ(memcmp(got.lag.prefix, "D1", 2), 0);
    EXPECT_EQ(got.trigger.number, 2);
    std::vector<uint8_t> info(3 * LDF_CHANNEL_SIZE);
    ASSERT_EQ(reader->ReadChannelInfo(&got, info.data(), 0, 0, 3), 0) << reader->GetErrorText();
    ChannelRecord ch;
    memcpy(ch.bytes, info.data() + LDF_CHANNEL_SIZE, LDF_CHANNEL_SIZE);
    EXPECT_EQ(tag_GetTag(ch), "Flow Rate 2");
    EXPECT_EQ(tag_GetUnits(ch), "m3/h");
    EXPECT_EQ(chrec_Get(ch, ChannelAnalog::MaximumUnits), 250.0f);
    ASSERT_EQ(reader->ReadChannelInfo(&got, info.data(), 1, 1, 1), 0);
    memcpy(ch.bytes, info.data(), LDF_CHANNEL_SIZE);
    EXPECT_EQ(chrec_GetText(ch, ChannelDigital::HighStateText), "Running");
    EXPECT_EQ(reader->ReadChannelInfo(&got, info.data(), 1, 1, 2), -1);
    EXPECT_STREQ(reader->GetErrorMessage(), "CHANNEL NOT IN HEADER");

    // The writer's header (kind 4 digital block) reads integers; the read header floats.
    std::vector<uint8_t> one(static_cast<size_t>(h.recordSize));
    for (int r = 0; r < 3; ++r) {
        std::fill(one.begin(), one.end(), 0);
        ASSERT_EQ(reader->ReadLog(r, &h, one.data(), h.recordSize), 0) << reader->GetErrorText();
        const uint8_t *in = recs.data() + r * h.recordSize;
        EXPECT_EQ(static_cast<uint32_t>(ldf_Get32(one.data() + 4)), want[r].t) << r;
        EXPECT_EQ(ldf_Get16(one.data() + 8), want[r].ms) << r;
        EXPECT_EQ(ldf_Get16(one.data() + 10), want[r].us) << r;
        EXPECT_EQ(one[2], r + 1);
        EXPECT_EQ(ldf_GetFloat(one.data() + 12), 0.5f * r);
        // Channel flags and values as written, byte for byte.
        EXPECT_EQ(memcmp(one.data() + h.blocks[0].valuesOffset, in + h.blocks[0].valuesOffset, 24),
                  0)
            << r;
        for (int i = 0; i < 2; ++i)
            EXPECT_EQ(ldf_Get32(one.data() + h.blocks[1].valuesOffset + 4 * i), (r + i) & 1);
    }
    // Only the time columns for 16 bytes; a buffer too short for the second block leaves it.
    std::fill(one.begin(), one.end(), 0xEE);
    ASSERT_EQ(reader->ReadLog(1, &got, one.data(), h.blocks[1].valuesOffset), 0);
    EXPECT_EQ(ldf_Get32(one.data() + h.blocks[0].valuesOffset + 8), LDF_FLAG_INVALID);
    EXPECT_EQ(one[h.blocks[1].valuesOffset], 0xEE);
    std::vector<uint8_t> three(3 * static_cast<size_t>(h.recordSize));
    EXPECT_EQ(reader->ReadLogs(1, &got, three.data(), 5), 2);
    EXPECT_EQ(reader->ReadLog(3, &got, one.data(), 16), -1);
    EXPECT_STREQ(reader->GetErrorMessage(), "CAN'T GET DATA");

    EXPECT_EQ(reader->ReadSection("targets", nullptr, &size), 0);
    EXPECT_EQ(reader->ReadSection("FORMULAE", nullptr, &size), -1);
    char full[400];
    int length = 0;
    reader->GetName(full, &length);
    EXPECT_EQ(length, static_cast<int>(strlen(full)) + 1);

    // A run that does not exist cannot be opened.
    CLogDbMySQLStore missing;
    EXPECT_EQ(
        missing.Open(nullptr, (conn + ";LoggerName=Boiler's;LoggerSeq=9").c_str(), LSTORE_READ),
        -1);
    EXPECT_STREQ(missing.GetErrorMessage(), "CAN'T FIND LOGGER NAME AND SEQ");
    EXPECT_EQ(plat_GetLastError(), 0u);

    // Stop and complete the run; a second run takes counter 2 and lists first.
    h.stop = static_cast<int32_t>(start + 60);
    ASSERT_EQ(store->WriteHeader(&h, 1), 0) << store->GetErrorText();
    store->Close();
    LogHeader h2 = h;
    h2.start = static_cast<int32_t>(start + 3600);
    h2.stop = 0;
    startArg = h2.start;
    std::unique_ptr<CLogStore> second(
        col->CreateLoggerEx(&startArg, 1, 0, &h2, nullptr, 0, nullptr, 0, records));
    ASSERT_NE(second, nullptr) << col->GetErrorText();
    EXPECT_EQ(static_cast<CLogDbMySQLStore *>(second.get())->TablePrefix(), "Boiler_00000002_");
    ASSERT_EQ(col->FindFirst(&size), 1);
    ASSERT_EQ(col->FindNext(name, &ts, &te), 1);
    EXPECT_STREQ(name, "LoggerSeq=00000002");
    ASSERT_EQ(col->FindNext(name, &ts, &te), 1);
    EXPECT_STREQ(name, "LoggerSeq=00000001");
    EXPECT_EQ(te.seconds, start + 60);
    EXPECT_EQ(col->FindNext(name, &ts, &te), 0);

    // Pruning keeps the open run; closing it without a start drops it.
    int32_t limit = static_cast<int32_t>(start + 7200);
    col->DeleteOlderThan(&limit);
    ASSERT_EQ(col->FindFirst(&size), 1);
    ASSERT_EQ(col->FindNext(name, &ts, &te), 1);
    EXPECT_STREQ(name, "LoggerSeq=00000002");
    EXPECT_EQ(col->FindNext(name, &ts, &te), 0);
    EXPECT_EQ(col->CloseLogger(second.get(), nullptr, nullptr, 0), 0);
    ASSERT_EQ(col->FindFirst(&size), 1);
    EXPECT_EQ(col->FindNext(name, &ts, &te), 0);
    std::string client = "mariadb --no-defaults -h127.0.0.1 -P" + db.port() +
                         " -ukvt -pkvt-test -N -B " + db.name() + " -e 'SHOW TABLES'";
    EXPECT_EQ(run(client), "LOGGERS\n");
}

TEST(LogMySql, BatchesStayWithinThePlaceholderLimit) {
    mdb::Database db("mysql_wide");
    KVT_REQUIRE_MARIADB(db);
    GeneralLog log;
    const std::string conn = mysqlString(db);
    std::unique_ptr<CLogCollection> col(lstore_CreateCollection(conn.c_str()));
    ASSERT_NE(col, nullptr);
    // Table names of this test's own: the log holds those of earlier runs too.
    ASSERT_EQ(col->Open(conn.c_str(), "", db.name().c_str(), "", LSTORE_READ | LSTORE_WRITE), 0)
        << col->GetErrorText();
    auto make = [&](int channels, int count, std::string *prefix) {
        LogHeader h{};
        h.blockCount = 1;
        h.blocks[0] = block("A1", 1, channels, 8);
        h.start = 1700000000;
        ldf_LayoutRecord(&h);
        std::vector<uint8_t> analogue = analogueRecords(channels, "T");
        const void *records[1] = {analogue.data()};
        int32_t start = h.start;
        std::unique_ptr<CLogStore> store(
            col->CreateLoggerEx(&start, 0, 0, &h, nullptr, 0, nullptr, 0, records));
        if (!store) return -1;
        *prefix = static_cast<CLogDbMySQLStore *>(store.get())->TablePrefix();
        std::vector<uint8_t> recs(static_cast<size_t>(count) * h.recordSize);
        for (int r = 0; r < count; ++r) {
            uint8_t *rec = recs.data() + static_cast<size_t>(r) * h.recordSize;
            ldf_Put32(rec + 4, h.start + r);
            for (int i = 0; i < channels; ++i) {
                float v = static_cast<float>(r + i);
                putFlag(rec, h.blocks[0], i, LDF_FLAG_PRESENT, &v);
            }
        }
        if (store->WriteLog(&h, recs.data(), count) != 0) return -1;
        return store->GetNoLogs(&h);
    };
    std::string narrow, wide;
    EXPECT_EQ(make(2, 2500, &narrow), 2500) << col->GetErrorText();
    EXPECT_EQ(make(100, 700, &wide), 700) << col->GetErrorText();
    EXPECT_EQ(log.Batches(narrow + "DATA"), (std::vector<int>{1000, 1000, 500}));
    // 104 columns a row: 630 rows use 65520 of the 65535 placeholders.
    EXPECT_EQ(log.Batches(wide + "DATA"), (std::vector<int>{630, 70}));
}

TEST(LogMySql, EveryTagAUserCanTypeNamesAColumn) {
    mdb::Database db("mysql_tags");
    KVT_REQUIRE_MARIADB(db);
    const std::string conn = mysqlString(db);
    CLogDbMySQLCollection col;
    ASSERT_EQ(col.Open(conn.c_str(), "", "Boiler", "", LSTORE_READ | LSTORE_WRITE), 0)
        << col.GetErrorText();
    dbcoll::oddTagRun(col, db.text(), 1700000000, [](CLogStore &s) {
        return static_cast<CLogDbMySQLStore &>(s).TablePrefix();
    });
}

TEST(LogMySql, StateTextsReadBackAsNoValue) {
    UniqueIpcPrefix ipc("mysqltext");
    TempRegistry reg;
    const char on[] = "On";
    uint32_t type = PLAT_REG_SZ, size = sizeof on;
    ASSERT_EQ(0u, reg_AccessValue(PLAT_HKEY_LOCAL_MACHINE, REG_PRODUCT_KEY, PLAT_KEY_SET_VALUE,
                                  "DatabaseDigitalText", &type, const_cast<char *>(on), &size));
    mdb::Database db("mysql_text");
    KVT_REQUIRE_MARIADB(db);
    const std::string conn = mysqlString(db);
    CLogDbMySQLCollection col;
    ASSERT_EQ(col.Open(conn.c_str(), "", "Pumps", "", LSTORE_READ | LSTORE_WRITE), 0)
        << col.GetErrorText();
    LogHeader h{};
    h.blockCount = 1;
    h.blocks[0] = block("D1", 1, 1, 8);
    h.start = 1700000000;
    ldf_LayoutRecord(&h);
    std::vector<uint8_t> digital(LDF_CHANNEL_SIZE);
    ChannelRecord rec{};
    chrec_SetType(&rec, CHANNEL_TYPE_DI);
    chrec_SetFlag(&rec, ChannelDigital::Enable, 1);
    memcpy(digital.data(), rec.bytes, LDF_CHANNEL_SIZE);
    const void *records[1] = {digital.data()};
    int32_t start = h.start;
    std::unique_ptr<CLogStore> store(
        col.CreateLoggerEx(&start, 0, 0, &h, nullptr, 0, nullptr, 0, records));
    ASSERT_NE(store, nullptr) << col.GetErrorText();
    std::vector<uint8_t> one(static_cast<size_t>(h.recordSize));
    ldf_Put32(one.data() + 4, h.start);
    int32_t value = 0;
    putFlag(one.data(), h.blocks[0], 0, 1, &value); // a digital 1, stored as its state text
    ASSERT_EQ(store->WriteLog(&h, one.data(), 1), 0) << store->GetErrorText();
    std::fill(one.begin(), one.end(), 0);
    ASSERT_EQ(store->ReadLog(0, &h, one.data(), h.recordSize), 0) << store->GetErrorText();
    EXPECT_EQ(ldf_Get32(one.data() + h.blocks[0].valuesOffset), LDF_FLAG_INVALID);
}

TEST(LogMySql, AFailedRunCreationLeavesNeitherTablesNorItsRow) {
    mdb::Database db("mysql_failed");
    KVT_REQUIRE_MARIADB(db);
    const std::string conn = mysqlString(db);
    CLogDbMySQLCollection col;
    ASSERT_EQ(col.Open(conn.c_str(), "", "Boiler", "", LSTORE_READ | LSTORE_WRITE), 0)
        << col.GetErrorText();
    EXPECT_EQ(createRun(col, true), nullptr);
    EXPECT_STREQ(col.GetErrorMessage(), "CAN'T CONNECT TO DATABASE");
    EXPECT_NE(std::string(col.GetErrorText()).find("fMinScale"), std::string::npos)
        << col.GetErrorText(); // after the LOGGERS row
    std::string client = "mariadb --no-defaults -h127.0.0.1 -P" + db.port() +
                         " -ukvt -pkvt-test -N -B " + db.name() + " -e ";
    EXPECT_EQ(run(client + "'SHOW TABLES'"), "LOGGERS\n");
    EXPECT_EQ(run(client + "'SELECT COUNT(*) FROM LOGGERS'"), "0\n");
    // The next run takes the first counter again.
    std::unique_ptr<CLogStore> made(createRun(col, false));
    ASSERT_NE(made, nullptr) << col.GetErrorText();
    EXPECT_EQ(static_cast<CLogDbMySQLStore *>(made.get())->TablePrefix(), "Boiler_00000001_");
}

TEST(LogMySql, EveryFailedOpenAndEveryDestructorClosesTheConnection) {
    mdb::Database db("mysql_conns");
    KVT_REQUIRE_MARIADB(db);
    const std::string conn = mysqlString(db);
    const std::string first = conn + ";LoggerName=Boiler;LoggerSeq=1";
    EXPECT_EQ(connectionsSettleAt(db, 0), 0);
    {
        CLogDbMySQLStore early; // no LOGGERS yet: the run's lookup cannot be prepared
        EXPECT_EQ(early.Open(nullptr, first.c_str(), LSTORE_READ), -1);
        EXPECT_STREQ(early.GetErrorMessage(), "SELECT failed");
        EXPECT_EQ(connectionsSettleAt(db, 0), 0);
    }
    auto col = std::make_unique<CLogDbMySQLCollection>();
    ASSERT_EQ(col->Open(conn.c_str(), "", "Boiler", "", LSTORE_READ | LSTORE_WRITE), 0);
    ASSERT_EQ(col->Open(conn.c_str(), "", "Boiler", "", LSTORE_READ | LSTORE_WRITE), 0);
    EXPECT_EQ(connectionsSettleAt(db, 1), 1); // the second Open replaced the first connection
    {
        CLogDbMySQLStore missing; // no such run
        EXPECT_EQ(missing.Open(nullptr, first.c_str(), LSTORE_READ), -1);
        EXPECT_STREQ(missing.GetErrorMessage(), "CAN'T FIND LOGGER NAME AND SEQ");
        EXPECT_EQ(connectionsSettleAt(db, 1), 1);
    }
    EXPECT_EQ(createRun(*col, true), nullptr); // its store had connected
    EXPECT_EQ(connectionsSettleAt(db, 1), 1);
    {
        CLogDbMySQLStore direct; // a run without tables: its CHANNELS rows cannot be written
        LogHeader h{};
        h.blockCount = 1;
        h.blocks[0] = block("A1", 1, 2, 8);
        std::vector<std::vector<uint8_t>> records(1, std::vector<uint8_t>(2 * LDF_CHANNEL_SIZE));
        EXPECT_EQ(direct.CreateRun(conn, "Other_", "Other", 1, h, nullptr, records), -1);
        EXPECT_STREQ(direct.GetErrorMessage(), "INSERT failed");
        EXPECT_EQ(connectionsSettleAt(db, 1), 1);
    }
    std::unique_ptr<CLogStore> made(createRun(*col, false));
    ASSERT_NE(made, nullptr) << col->GetErrorText();
    EXPECT_EQ(connectionsSettleAt(db, 2), 2);
    {
        std::unique_ptr<CLogStore> reader(col->OpenLogger("LoggerSeq=00000001", LSTORE_READ));
        ASSERT_NE(reader, nullptr) << col->GetErrorText();
        EXPECT_EQ(connectionsSettleAt(db, 3), 3);
    } // destroyed without Close
    EXPECT_EQ(connectionsSettleAt(db, 2), 2);
    made.reset();
    EXPECT_EQ(connectionsSettleAt(db, 1), 1);
    col.reset();
    EXPECT_EQ(connectionsSettleAt(db, 0), 0);
}

TEST(LogStoreNames, EveryBuilderWritesAtMostTheGivenLengthElse260Bytes) {
    mdb::Database db("mysql_names");
    KVT_REQUIRE_MARIADB(db);
    const std::string logger(250, 'L');
    const std::string seq = ";LoggerSeq=00000001";
    TempFolder tmp;
    const std::string jet = "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + (tmp / "names.mdb");
    {
        CLogITDbAcc cat;
        ASSERT_EQ(cat.CreateCatalog(dbrun::w(jet), u""), 0);
    }
    dbrun::makeRun(jet, logger, "Run_", 1700000000);
    CLogDbStore adoStore;
    ASSERT_EQ(adoStore.Open(nullptr, (jet + ";LoggerName=" + logger + seq).c_str(), LSTORE_READ), 0)
        << adoStore.GetErrorMessage();
    CLogDbCollection adoCollection;
    ASSERT_EQ(adoCollection.Open(jet.c_str(), "", logger.c_str(), "", LSTORE_READ), 0);
    const std::string conn = mysqlString(db);
    CLogDbMySQLCollection myCollection;
    ASSERT_EQ(
        myCollection.Open(conn.c_str(), "", logger.c_str(), "Names", LSTORE_READ | LSTORE_WRITE),
        0);
    std::unique_ptr<CLogStore> myStore(createRun(myCollection, false));
    ASSERT_NE(myStore, nullptr) << myCollection.GetErrorText();
    // A file run's path is bounded by its field, so its builders are tried with the longest.
    const std::string folder = tmp.path() + "/" + std::string(240 - tmp.path().size(), 'f');
    ASSERT_EQ(mkdir(folder.c_str(), 0777), 0);
    const std::string runPath = folder + "/240517_083000.odl";
    CLogFileStore fileStore;
    LogHeader fileHeader = fx::twoBlockHeader(1715934600);
    ASSERT_EQ(fx::createRun(fileStore, runPath, &fileHeader), 0);
    CLogFileCollection fileCollection;
    ASSERT_EQ(fileCollection.Open(nullptr, folder.c_str(), "", "", LSTORE_READ), 0);

    const struct {
        const char *what;
        std::function<void(char *, int *)> build;
        std::string name;
        int out; // the length handed back, when not the name's own
    } builders[] = {
        {"ADO store", [&](char *b, int *l) { adoStore.GetName(b, l); },
         jet + ";LoggerName=" + logger + seq, 0},
        {"ADO collection",
         [&](char *b, int *l) { adoCollection.MakeStoreName("LoggerSeq=00000001", b, l); },
         jet + ";LoggerName=" + logger + seq, 0},
        {"MariaDB store", [&](char *b, int *l) { myStore->GetName(b, l); },
         conn + ";LoggerName=" + logger + seq, 0},
        {"MariaDB collection",
         [&](char *b, int *l) { myCollection.MakeStoreName("LoggerSeq=00000001", b, l); },
         conn + ";LoggerName=" + logger + seq, 0},
        {"file store", [&](char *b, int *l) { fileStore.GetName(b, l); }, runPath, 260},
        {"file collection",
         [&](char *b, int *l) { fileCollection.MakeStoreName("240517_083000.odl", b, l); }, runPath,
         0},
    };
    for (const auto &b : builders) {
        ASSERT_GT(b.name.size(), 250u);
        // No length, a length of 0, a short one, and the whole name's.
        for (int given : {-1, 0, 40, static_cast<int>(b.name.size() + 1)}) {
            SCOPED_TRACE(std::string(b.what) + " " + std::to_string(given));
            std::vector<char> buffer(std::max<size_t>(b.name.size(), 260) + 50, '#');
            int length = given;
            b.build(buffer.data(), given < 0 ? nullptr : &length);
            size_t bound = given > 0 ? static_cast<size_t>(given) : 260;
            EXPECT_EQ(std::string(buffer.data()), b.name.substr(0, bound - 1));
            EXPECT_EQ(buffer[bound], '#');
            if (given >= 0) {
                EXPECT_EQ(length, b.out != 0 ? b.out : static_cast<int>(b.name.size() + 1));
            }
        }
    }
}
