// A new run's channel records taken from the runtime's configuration segments, as the runtime
// stand-in publishes them, through the file, Jet and MariaDB collections: the blocks a segment
// holds are taken, the others refused, also when the segment's header claims more than it holds.
#include "chrec.h"
#include "ipc_prefix.h"
#include "ldf.h"
#include "lstore.h"
#include "plat_ado.h"
#include "plat_cp1252.h"
#include "plat_error.h"
#include "plat_registry.h"
#include "plat_event.h"
#include "reg.h"
#include "shm.h"
#include "sim_runtime.h"
#include "tag.h"
#include "temp_registry.h"
#include "test_mariadb.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <sstream>
#include <sys/stat.h>
#include <string>
#include <vector>

namespace {

void noPause(uint32_t) {}

LogHeader oneBlock(const char *prefix, int first, int last) {
    LogHeader h{};
    h.blockCount = 1;
    memcpy(h.blocks[0].prefix, prefix, 2);
    h.blocks[0].first = static_cast<uint16_t>(first);
    h.blocks[0].last = static_cast<uint16_t>(last);
    h.blocks[0].valueKind = 8;
    ldf_LayoutRecord(&h);
    return h;
}

struct Kind {
    std::string connection;
    std::string folder;
    const char *refusal;  // the message of a refused block; "" for the last error 87
    std::string database; // the database as ADO opens it, and how it lists the DATA tables
    const char *tables;
};

// The text kept for DI 2 in the VALVES run's DATA table.
std::string storedText(const std::string &database, const char *tables) {
    ado::Connection c;
    c.Open(database);
    std::unique_ptr<ado::Recordset> names = c.Execute(tables);
    if (!names || names->Eof()) return "<no table>";
    std::string table = plat_Utf16ToCp1252(names->Collect(ado::Variant::I4(0)).s);
    std::unique_ptr<ado::Recordset> rows = c.Execute("SELECT DI2 FROM " + table);
    if (!rows || rows->Eof()) return "<no row>";
    return plat_Utf16ToCp1252(rows->Collect(ado::Variant::I4(0)).s);
}

} // namespace

TEST(LstoreRuntimeChannels, BlocksAreTakenFromTheSegmentAndRefusedBeyondWhatItHolds) {
    UniqueIpcPrefix ipc("lstrtch");
    TempRegistry registry;
    const char on[] = "On";
    uint32_t type = PLAT_REG_SZ, size = sizeof on;
    ASSERT_EQ(0u, reg_AccessValue(PLAT_HKEY_LOCAL_MACHINE, REG_PRODUCT_KEY, PLAT_KEY_SET_VALUE,
                                  "DatabaseDigitalText", &type, const_cast<char *>(on), &size));
    TempFolder root;
    dm_ResetForTests();
    SimDescription d;
    std::string error;
    ASSERT_EQ(
        sim_ParseDescription("root " + root.path() + "\ntable AI 8 4\ntable DI 4 1\n", &d, &error),
        0)
        << error;
    SimRuntime rt(d);
    ASSERT_EQ(rt.create(), 0) << rt.lastError();
    for (int c = 1; c <= 4; ++c) {
        std::istringstream in("conf AI " + std::to_string(c) + " TANK_" + std::to_string(c) + "\n");
        std::ostringstream out;
        std::atomic<bool> stop{false};
        ASSERT_EQ(rt.runScript(in, out, stop), 0) << rt.lastError();
    }
    SegmentHeader *ai = dm_GetConfSegment("AI");
    SegmentHeader *di = dm_GetConfSegment("DI");
    ASSERT_NE(ai, nullptr);
    ASSERT_NE(di, nullptr);
    const int32_t aiLength = ai->payloadLength;
    ASSERT_EQ(aiLength, 4 * 216);

    mdb::Database db("lstrtch");
    const std::string jet = "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + (root / "plant.mdb");
    std::vector<Kind> kinds = {
        {root / "LINE", root / "LINE", "", "", nullptr},
        {jet, "", "CAN'T CREATE DATA TABLE", jet,
         "SELECT name FROM sqlite_master WHERE type = 'table' AND name LIKE 'VALVES%DATA'"},
    };
    if (db.ready())
        kinds.push_back({"PROVIDER=MYSQL;HOST=127.0.0.1;PORT=" + db.port() +
                             ";USER=kvt;DB=" + db.name() + ";PASSWORD=a3Z0LXRlc3Q=",
                         "", "CAN'T FIND CHANNELS", db.text(),
                         "SELECT table_name FROM information_schema.tables WHERE table_schema = "
                         "DATABASE() AND table_name LIKE 'VALVES%DATA'"});
    else if (mdb::underCi())
        ADD_FAILURE() << db.why();
    ASSERT_EQ(mkdir((root / "LINE").c_str(), 0777), 0);

    PlatSleepHook previous = plat_SetSleepHook(noPause);
    int32_t start = 1700000000;
    for (const Kind &kind : kinds) {
        SCOPED_TRACE(kind.connection);
        std::unique_ptr<CLogCollection> coll(lstore_CreateCollection(kind.connection.c_str()));
        ASSERT_TRUE(coll);
        ASSERT_EQ(coll->Open(kind.connection.c_str(), kind.folder.c_str(), "LINE", "",
                             LSTORE_READ | LSTORE_WRITE),
                  0)
            << coll->GetErrorMessage();
        // A run of the next start time; the header comes back as the store laid it out.
        auto create = [&](CLogCollection &into, LogHeader *h, const void *const *records) {
            h->start = start += 100;
            int32_t at = start;
            return std::unique_ptr<CLogStore>(
                into.CreateLoggerEx(&at, 1, 0, h, "", 0, nullptr, 0, records));
        };
        auto refused = [&](LogHeader h) {
            plat_SetLastError(0);
            std::unique_ptr<CLogStore> run = create(*coll, &h, nullptr);
            if (run) {
                run->Close();
                return false;
            }
            return *kind.refusal == '\0' ? plat_GetLastError() == WERR_INVALID_PARAMETER
                                         : std::string(coll->GetErrorMessage()) == kind.refusal;
        };

        // The block the segment holds: its records are the run's.
        LogHeader h = oneBlock("AI", 1, 4);
        std::unique_ptr<CLogStore> run = create(*coll, &h, nullptr);
        ASSERT_TRUE(run) << coll->GetErrorText() << " / " << coll->GetErrorMessage();
        ChannelRecord rec{};
        ASSERT_EQ(run->ReadChannelInfo(&h, &rec, 0, 2, 1), 0) << run->GetErrorText();
        EXPECT_EQ(tag_GetTag(rec), "TANK_3");
        run->Close();

        // Channels past the segment's four records, with the header true and then claiming
        // eight: refused either way, nothing read from the tables behind the payload.
        EXPECT_TRUE(refused(oneBlock("AI", 3, 6)));
        ai->payloadLength = 8 * 216;
        EXPECT_TRUE(refused(oneBlock("AI", 3, 6)));
        EXPECT_TRUE(refused(oneBlock("AI", 5, 5)));
        ai->payloadLength = aiLength;

        // A digital value stored as its state text looks its channel up in the segment. DI 2
        // lies past the one record "DI" holds, where a digital record with texts stands in the
        // segment's own tables; its header claims two records.
        if (kind.tables == nullptr) continue;
        std::unique_ptr<CLogCollection> valves(lstore_CreateCollection(kind.connection.c_str()));
        ASSERT_EQ(
            valves->Open(kind.connection.c_str(), "", "VALVES", "", LSTORE_READ | LSTORE_WRITE), 0)
            << valves->GetErrorMessage();
        ChannelRecord given{};
        chrec_SetType(&given, CHANNEL_TYPE_DI);
        chrec_SetFlag(&given, ChannelDigital::Enable, 1);
        chrec_SetText(&given, ChannelDigital::HighStateText, "OPEN");
        memcpy(shm_Payload(di) + 216, given.bytes, 216);
        di->payloadLength = 2 * 216;
        const void *records[1] = {given.bytes};
        h = oneBlock("DI", 2, 2);
        run = create(*valves, &h, records);
        ASSERT_TRUE(run) << valves->GetErrorText() << " / " << valves->GetErrorMessage();
        std::vector<uint8_t> one(static_cast<size_t>(h.recordSize), 0);
        ldf_Put16(one.data(), LDF_RECORD_MARKER);
        ldf_Put32(one.data() + 4, h.start);
        ldf_Put16(one.data() + h.blocks[0].valuesOffset - 2, LDF_VALUES_MARKER);
        ldf_Put32(one.data() + h.blocks[0].valuesOffset, 1);
        ldf_Put16(one.data() + h.recordSize - 2, LDF_RECORD_END);
        EXPECT_EQ(run->WriteLog(&h, one.data(), 1), 0) << run->GetErrorText();
        run->Close();
        EXPECT_EQ(storedText(kind.database, kind.tables), "");
    }
    plat_SetSleepHook(previous);
}
