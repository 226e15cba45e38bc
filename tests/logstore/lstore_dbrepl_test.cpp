// Merge replication of the runs of a SQL Server collection, as statement sequences against the
// recording engine: enabling, publishing a run (with the retries, tolerated warnings, snapshot
// polls and job ids), pruning older publications, and the best-effort drops on both servers.
#include "lstore_dbcoll.h"
#include "plat_error.h"
#include "plat_event.h"
#include "recording_backend.h"
#include "temp_registry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using ado::Variant;

namespace {

const char kDatabase[] = "Provider=SQLOLEDB;Data Source=plantdb;Initial Catalog=Logs";
const char kTarget[] = "Provider=SQLOLEDB;Data Source=archive;Initial Catalog=Copy";

int sleeps = 0;
void countSleep(uint32_t ms) {
    EXPECT_EQ(ms, 1000u);
    ++sleeps;
}

struct SleepCounter {
    SleepCounter() {
        sleeps = 0;
        plat_SetSleepHook(countSleep);
    }
    ~SleepCounter() { plat_SetSleepHook(nullptr); }
};

Variant jobId(uint8_t first) {
    std::vector<uint8_t> b(16);
    for (size_t k = 0; k < b.size(); ++k)
        b[k] = static_cast<uint8_t>(first + k);
    return Variant::Bytes(b);
}

// The statements' heads (up to the first blank after "exec ..." or the whole short text).
std::vector<std::string> heads(const std::vector<std::string> &statements) {
    std::vector<std::string> out;
    for (const std::string &s : statements) {
        size_t at = s.find(" @");
        out.push_back(at == std::string::npos ? s : s.substr(0, at));
    }
    return out;
}

void scriptJobs(rec::RecordingBackend &db, int notYetRun) {
    db.rows(rec::Prefix, "exec sp_helpmergepublication @publication",
            {{"snapshot_jobid", ado::VT_BYTES}}, {{jobId(0xA0)}});
    db.rows(rec::Prefix, "exec msdb..sp_help_job", {{"last_run_outcome", ado::VT_I4}},
            {{Variant::I4(5)}}, notYetRun);
    db.rows(rec::Prefix, "exec msdb..sp_help_job", {{"last_run_outcome", ado::VT_I4}},
            {{Variant::I4(1)}});
    db.rows(rec::Prefix, "exec sp_helpmergesubscription", {{"job_id", ado::VT_BYTES}},
            {{jobId(0x10)}});
}

} // namespace

TEST(DbReplication, OnlyADifferentSqlServerTargetEnablesIt) {
    TempRegistry reg;
    {
        rec::RecordingBackend other("MSDASQL");
        CLogDbCollection col;
        col.Open("Provider=MSDASQL;Data Source=x;Initial Catalog=y", "", "Boiler", "", LSTORE_READ);
        EXPECT_EQ(col.CheckTargetConnection(kTarget, 0, 0), 0);
        EXPECT_FALSE(col.ReplicationEnabled());
        for (const rec::Entry &e : other.log)
            EXPECT_EQ(e.text.find("sp_"), std::string::npos) << e.text;
    }
    rec::RecordingBackend db;
    CLogDbCollection col;
    col.Open(kDatabase, "", "Boiler", "", LSTORE_READ);
    db.log.clear();
    struct Case {
        const char *target;
        const char *message;
        const char *detail;
    } cases[] = {
        {"Provider=SQLOLEDB;Data Source=archive", "NO INITIAL CATALOG DEFINED IN ", ""},
        {"Provider=SQLOLEDB;Initial Catalog=Copy", "NO DATA SOURCE DEFINED IN TARGE", ""},
        {"Provider=SQLOLEDB;Data Source=PLANTDB;Initial Catalog=logs",
         "DATABASE AND TARGET CONNECTION", "DATABASE AND TARGET ARE SAME"},
    };
    for (const Case &c : cases) {
        plat_SetLastError(5);
        EXPECT_EQ(col.CheckTargetConnection(c.target, 0, 0), -1) << c.target;
        EXPECT_STREQ(col.GetErrorMessage(), std::string(c.message).substr(0, 30).c_str());
        EXPECT_STREQ(col.GetErrorText(), c.detail);
        EXPECT_EQ(plat_GetLastError(), 0u);
        EXPECT_FALSE(col.ReplicationEnabled());
    }
    // The same catalog on another server is a different database.
    EXPECT_EQ(col.CheckTargetConnection(
                  "Provider=SQLOLEDB;Data Source=archive;Initial Catalog=Logs", 0, 0),
              0);
    EXPECT_TRUE(col.ReplicationEnabled());
    EXPECT_TRUE(db.statements().empty()); // LOGGERS was not created by this collection
}

TEST(DbReplication, ARunIsPublishedAndPushedStepByStep) {
    TempRegistry reg;
    SleepCounter counter;
    rec::RecordingBackend db;
    // The long publication form is refused, the short one taken; an article warning is
    // tolerated; the snapshot has not run for two polls.
    db.error(rec::Regex, "^exec sp_addmergepublication .*automatic_reinitialization_policy = 0$",
             0x80040E14, "unknown parameter", 1);
    db.error(rec::Prefix,
             "exec sp_addmergearticle @publication = N'Boiler_00000002_', @article "
             "= N'Boiler_00000002_CHANNELS'",
             0x80040E14, "Warning: only a warning", 1);
    scriptJobs(db, 2);
    CLogDbCollection col;
    col.Open(kDatabase, "", "Boiler's", "", LSTORE_READ);
    ASSERT_EQ(col.CheckTargetConnection(kTarget, 0, 0), 0);
    db.log.clear();
    EXPECT_EQ(col.SetUpReplication("Boiler_00000002_", 2, 1, 0), 0) << col.GetErrorMessage();
    EXPECT_FALSE(col.ReplicationStarted());
    EXPECT_EQ(sleeps, 2);
    EXPECT_EQ(
        heads(db.statements()),
        (std::vector<std::string>{
            "exec sp_dropmergesubscription", "exec sp_dropmergepublication",
            "exec sp_mergesubscription_cleanup", "exec sp_addmergepublication",
            "exec sp_addmergepublication", "exec sp_addpublication_snapshot",
            "exec sp_addmergearticle", "exec sp_addmergearticle", "exec sp_addmergearticle",
            "exec sp_helpmergepublication", "exec msdb..sp_start_job", "exec msdb..sp_help_job",
            "exec msdb..sp_help_job", "exec msdb..sp_help_job", "exec sp_addmergesubscription",
            "exec sp_helpmergesubscription", "use master", "exec msdb..sp_start_job", "use Logs"}));
    std::vector<std::string> s = db.statements();
    EXPECT_EQ(s[0], "exec sp_dropmergesubscription @publication = N'Boiler_00000002_', "
                    "@subscriber = N'archive', @subscriber_db = N'Copy', @subscription_type = "
                    "N'push'");
    EXPECT_EQ(s[2], "exec sp_mergesubscription_cleanup @publication = N'Boiler_00000002_', "
                    "@publisher = N'plantdb', @publisher_db = N'Logs'");
    EXPECT_EQ(s[4].substr(0, 151),
              "exec sp_addmergepublication @publication = N'Boiler_00000002_', @description = "
              "N'Merge publication of Boiler''s logger database.', @retention = 14, @sy");
    EXPECT_EQ(s[4].substr(s[4].size() - 37), "@max_concurrent_dynamic_snapshots = 0");
    EXPECT_NE(s[8].find("@article = N'Boiler_00000002_TEXT', @source_owner = N'dbo', "
                        "@source_object = N'Boiler_00000002_TEXT', @type = N'table'"),
              std::string::npos);
    EXPECT_EQ(s[10], "exec msdb..sp_start_job @job_id = 0xa0a1a2a3a4a5a6a7a8a9aaabacadaeaf");
    EXPECT_EQ(s[11], "exec msdb..sp_help_job @job_id = 0xa0a1a2a3a4a5a6a7a8a9aaabacadaeaf, "
                     "@job_aspect = N'job'");
    EXPECT_EQ(s[14].substr(0, 129),
              "exec sp_addmergesubscription @publication = N'Boiler_00000002_', @subscriber = "
              "N'archive', @subscriber_db = N'Copy', @subscriptio");
    EXPECT_EQ(s[15], "exec sp_helpmergesubscription @subscription_type = N'both', @publication "
                     "= N'Boiler_00000002_'");
    EXPECT_EQ(s[17], "exec msdb..sp_start_job @job_id = 0x101112131415161718191a1b1c1d1e1f");
    // The cleanup runs on a connection opened with the target string.
    int cleanupConnection = 0;
    for (const rec::Entry &e : db.log)
        if (e.kind == "sql" && e.text.rfind("exec sp_mergesubscription_cleanup", 0) == 0)
            cleanupConnection = e.connection;
    bool onTarget = false;
    for (const rec::Entry &e : db.log)
        if (e.kind == "open" && e.connection == cleanupConnection) onTarget = e.text == kTarget;
    EXPECT_TRUE(onTarget);
}

TEST(DbReplication, FailuresStopTheSetUpAndLeaveItMarked) {
    TempRegistry reg;
    SleepCounter counter;
    struct Case {
        const char *name;
        void (*script)(rec::RecordingBackend &);
        const char *message;
        int sleeps;
    } cases[] = {
        {"snapshot never runs", [](rec::RecordingBackend &db) { scriptJobs(db, 100); },
         "SNAPSHOT DID NOT RUN", 59},
        {"snapshot id not binary",
         [](rec::RecordingBackend &db) {
             db.rows(rec::Prefix, "exec sp_helpmergepublication @publication",
                     {{"snapshot_jobid", ado::VT_I4}}, {{Variant::I4(7)}});
         },
         "CAN'T GET SNAPSHOT JOB ID", 0},
        {"merge id not binary",
         [](rec::RecordingBackend &db) {
             db.rows(rec::Prefix, "exec sp_helpmergesubscription", {{"merge_jobid", ado::VT_BSTR}},
                     {{Variant::Utf8("x")}});
             scriptJobs(db, 0);
         },
         "CAN'T UPDATE MERGE", 0},
        {"article refused",
         [](rec::RecordingBackend &db) {
             db.error(rec::Prefix, "exec sp_addmergearticle", 0x80040E14, "no such table");
         },
         "CAN'T ADD PUBLICATION ARTICLE", 0},
        {"publication refused",
         [](rec::RecordingBackend &db) {
             db.error(rec::Prefix, "exec sp_addmergepublication", 0x80040E14, "not enabled");
         },
         "CAN'T ADD PUBLICATION", 0},
    };
    for (const Case &c : cases) {
        rec::RecordingBackend db;
        c.script(db);
        sleeps = 0;
        CLogDbCollection col;
        col.Open(kDatabase, "", "Boiler", "", LSTORE_READ);
        ASSERT_EQ(col.CheckTargetConnection(kTarget, 0, 0), 0);
        db.log.clear();
        EXPECT_EQ(col.SetUpReplication("Boiler_00000002_", 2, 0, 0), -1) << c.name;
        EXPECT_STREQ(col.GetErrorMessage(), c.message) << c.name;
        EXPECT_TRUE(col.ReplicationStarted()) << c.name;
        EXPECT_EQ(sleeps, c.sleeps) << c.name;
        if (std::string(c.message) == "CAN'T ADD PUBLICATION") {
            std::vector<std::string> h = heads(db.statements());
            EXPECT_EQ(std::vector<std::string>(h.begin() + 3, h.end()),
                      (std::vector<std::string>{
                          "exec sp_addmergepublication", "exec sp_addmergepublication",
                          "exec sp_replicationdboption", "exec sp_addmergepublication",
                          "exec sp_addmergepublication"}));
        }
    }
}

TEST(DbReplication, PruningDropsPublicationsBeyondTheKeptRuns) {
    TempRegistry reg;
    rec::RecordingBackend db;
    db.rows(rec::Substring, "from LOGGERS where sLoggerName",
            {{"nLoggerSequence", ado::VT_I4},
             {"dStartTime", ado::VT_DATE},
             {"dStopTime", ado::VT_DATE},
             {"bCompleted", ado::VT_I4},
             {"sTablePrefix", ado::VT_BSTR}},
            {{Variant::I4(3), Variant::Date(45003), Variant::Null(), Variant::I4(0),
              Variant::Utf8("Boiler_00000003_")},
             {Variant::I4(2), Variant::Date(45002), Variant::Date(45002.5), Variant::I4(1),
              Variant::Utf8("Boiler_00000002_")},
             {Variant::I4(1), Variant::Date(45001), Variant::Date(45001.5), Variant::I4(1),
              Variant::Utf8("Boiler_00000001_")}});
    scriptJobs(db, 0);
    db.rows(rec::Prefix, "exec sp_helpmergepublication", {{"name", ado::VT_BSTR}},
            {{Variant::Utf8("Boiler_00000001_")},
             {Variant::Utf8("Boiler_00000002_")},
             {Variant::Utf8("Other_00000001_")}});
    CLogDbCollection col;
    col.Open(kDatabase, "", "Boiler", "", LSTORE_READ);
    ASSERT_EQ(col.CheckTargetConnection(kTarget, 1, 1), 0);
    db.log.clear();
    EXPECT_EQ(col.SetUpReplication("Boiler_00000004_", 4, 0, 0), 0) << col.GetErrorMessage();
    std::vector<std::string> drops;
    for (const std::string &s : db.statements())
        if (s.rfind("exec sp_dropmergepublication", 0) == 0) drops.push_back(s);
    EXPECT_EQ(drops, (std::vector<std::string>{
                         "exec sp_dropmergepublication @publication = N'Boiler_00000004_'",
                         "exec sp_dropmergepublication @publication = N'Boiler_00000001_'"}));
}
