// SQL Server merge replication of the runs of a database collection: each run is a publication
// named after its table prefix, pushed to the target database. Everything goes through system
// stored procedures sent as single statements (the catalog object) and queries (the data
// connection).
#include "lstore_dbcoll.h"

#include "plat_cp1252.h"
#include "plat_debugout.h"
#include "plat_error.h"
#include "plat_event.h"
#include "plat_system.h"
#include "srv.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <strings.h>

namespace {

std::u16string w(const std::string &cp1252) {
    return plat_Cp1252ToUtf16(cp1252);
}

// The body of an N'...' literal.
std::string lit(const std::string &text) {
    std::string out;
    for (char c : text) {
        out += c;
        if (c == '\'') out += '\'';
    }
    return out;
}

// An item of a copy of the string, or "" when it is missing or too long.
bool takeItem(const std::string &text, const char *key, std::string *value) {
    std::string copy = text;
    char out[100] = {};
    int size = sizeof out;
    if (!lstore_TakeKeyValue(key, copy.data(), &size, out)) return false;
    *value = out;
    return true;
}

const char kPublication1[] =
    " logger database.', @retention = 14, @sync_mode = N'native', @allow_push = N'true', "
    "@allow_pull = N'true', @allow_anonymous = N'true', @enabled_for_internet = N'false', "
    "@centralized_conflicts = N'true', @dynamic_filters = N'false', @snapshot_in_defaultfolder = "
    "N'true', @compress_snapshot = N'false', @ftp_port = 21, @conflict_retention = 14, "
    "@keep_partition_changes = N'false', @allow_subscription_copy = N'false', "
    "@allow_synctoalternate = N'false', @add_to_active_directory = N'false', "
    "@max_concurrent_merge = 0, @max_concurrent_dynamic_snapshots = 0";
const char kPublication2[] =
    ",@use_partition_groups = null, @publication_compatibility_level = N'90RTM', @replicate_ddl "
    "= 1, @allow_subscriber_initiated_snapshot = N'false', @allow_web_synchronization = "
    "N'false', @allow_partition_realignment = N'true', @retention_period_unit = N'days', "
    "@conflict_logging = N'both', @automatic_reinitialization_policy = 0";
const char kSnapshot[] =
    "',@frequency_type = 1, @frequency_interval = 1, @frequency_relative_interval = 0, "
    "@frequency_recurrence_factor = 1, @frequency_subday = 1, @frequency_subday_interval = 0, "
    "@active_start_date = 20050101, @active_end_date = 99991231, @active_start_time_of_day = 0, "
    "@active_end_time_of_day = 235959";
const char kArticle[] =
    "', @type = N'table', @description = null, @status = N'unsynced', @column_tracking = "
    "N'true', @pre_creation_cmd = N'drop', @creation_script = null, @schema_option = "
    "0x000000000000CFF1, @article_resolver = null, @subset_filterclause = null, "
    "@vertical_partition = N'false', @auto_identity_range = N'false', "
    "@verify_resolver_signature = 0, @allow_interactive_resolver = N'false', "
    "@fast_multicol_updateproc = N'true', @check_permissions = 0, @force_invalidate_snapshot = 1";
const char kSubscription[] =
    "', @subscription_type = N'push', @subscriber_type = N'local', @subscription_priority = "
    "0.000000, @sync_type = N'automatic', @frequency_type = 4, @frequency_interval = 1, "
    "@frequency_relative_interval = 2, @frequency_recurrence_factor = 0, @frequency_subday = 4, "
    "@frequency_subday_interval = 1, @active_start_date = 0, @active_end_date = 99991231, "
    "@active_start_time_of_day = 0, @active_end_time_of_day = 235900, @enabled_for_syncmgr = "
    "N'false', @offloadagent = 0, @use_interactive_resolver = N'false'";

constexpr int kSnapshotPolls = 60;
constexpr uint32_t kSnapshotPollMs = 1000;
constexpr int64_t kNotYetRun = 5;

} // namespace

int CLogDbCollection::replicationFail(const char *message, const char *detail, bool trace) {
    fail(detail, message);
    if (trace) {
        std::string line = std::string(message_) + " " + detail_ + "\r\n";
        plat_DebugOutput(line.c_str());
    }
    return -1;
}

int CLogDbCollection::CheckTargetConnection(const char *target, int prune, int keep) {
    target_ = target != nullptr ? target : "";
    if (strncasecmp(connection_.c_str(), "PROVIDER=SQLOLEDB", 17) != 0) return 0;
    auto missing = [this](const char *message) {
        fail("", message);
        plat_SetLastError(0);
        return -1;
    };
    if (!takeItem(target_, "INITIAL CATALOG=", &targetCatalog_))
        return missing("NO INITIAL CATALOG DEFINED IN TARGET CONNECTION STRING");
    if (!takeItem(target_, ";DATA SOURCE=", &targetSource_))
        return missing("NO DATA SOURCE DEFINED IN TARGET CONNECTION STRING");
    if (!takeItem(connection_, "INITIAL CATALOG=", &sourceCatalog_))
        return missing("NO INITIAL CATALOG DEFINED IN DATABASE CONNECTION STRING");
    if (!takeItem(connection_, ";DATA SOURCE=", &sourceName_))
        return missing("NO DATA SOURCE DEFINED IN DATABASE CONNECTION STRING");
    bool bothLocal = srv_IsLocal(targetSource_.c_str()) && srv_IsLocal(sourceName_.c_str());
    bool differ = (strcasecmp(targetSource_.c_str(), sourceName_.c_str()) != 0 && !bothLocal) ||
                  strcasecmp(targetCatalog_.c_str(), sourceCatalog_.c_str()) != 0;
    if (!differ) {
        fail("DATABASE AND TARGET ARE SAME", "DATABASE AND TARGET CONNECTION STRINGS ARE THE SAME");
        plat_SetLastError(0);
        return -1;
    }
    prune_ = prune;
    keep_ = keep;
    replicationEnabled_ = 1;
    if (loggersCreated_) SetUpReplication(logger_.c_str(), 0, 0, 1);
    return 0;
}

// Reads a job id (binary(16)) from the first row of the query as its hex text.
int CLogDbCollection::queryJobId(const std::string &sql, const char *const *columns,
                                 const char *queryFailure, const char *idFailure,
                                 std::string *hex) {
    if (data_.OpenRecordset(w(sql), 3, 1, 1) != 0)
        return replicationFail(queryFailure, data_.GetErrorText());
    ado::Variant id;
    bool found = false;
    for (const char *const *c = columns; *c != nullptr && !found; ++c)
        found = data_.GetFieldValueByName(w(*c), &id) == 0;
    data_.CloseRecordset();
    if (!found) return replicationFail(idFailure, data_.GetErrorText());
    if (id.vt != ado::VT_BYTES) return 1; // the caller names the failure
    hex->clear();
    for (uint8_t b : id.bytes) {
        char two[3];
        snprintf(two, sizeof two, "%02x", b);
        *hex += two;
    }
    return 0;
}

int CLogDbCollection::SetUpReplication(const char *publication, int32_t, int hasText,
                                       int loggersOnly) {
    const std::string pub = publication != nullptr ? publication : "";
    replicationStarted_ = 1;
    DropReplication(pub.c_str());
    auto run = [this](const std::string &sql) { return catalog_.ExecuteStatement(w(sql)) == 0; };

    if (prune_ && !loggersOnly) {
        FindFirst(nullptr);
        std::vector<Run> runs = runs_;
        std::vector<std::string> drop;
        if (pub.size() > 9 && data_.OpenRecordset(u"exec sp_helpmergepublication", 3, 1, 1) == 0) {
            const std::string stem = pub.substr(0, pub.size() - 9);
            ado::Variant eof;
            if (data_.MoveFirst() == 0)
                while (data_.IsEOF(&eof) == 0 && eof.i == 0) {
                    ado::Variant v;
                    if (data_.GetFieldValueByName(u"name", &v) == 0) {
                        std::string name = plat_Utf16ToCp1252(v.s).substr(0, 99);
                        if (name.compare(0, stem.size(), stem) == 0)
                            for (size_t k = static_cast<size_t>(keep_) + 1; k < runs.size(); ++k)
                                if (runs[k].prefix == name) {
                                    drop.push_back(name);
                                    break;
                                }
                    }
                    if (data_.MoveNext() != 0) break;
                }
            data_.CloseRecordset();
        }
        for (const std::string &name : drop)
            DropReplication(name.c_str());
    }

    const std::string add = "exec sp_addmergepublication @publication = N'" + lit(pub) +
                            "', @description = N'Merge publication of " + lit(logger_) +
                            kPublication1;
    auto publish = [&]() { return run(add + kPublication2) || run(add); };
    if (!publish()) {
        run("exec sp_replicationdboption @dbname = N'" + lit(sourceCatalog_) +
            "', @optname = N'merge publish', @value = N'true'");
        if (!publish())
            return replicationFail("CAN'T ADD PUBLICATION", catalog_.GetErrorText(), true);
    }
    if (!run("exec sp_addpublication_snapshot @publication = N'" + lit(pub) + kSnapshot))
        return replicationFail("CAN'T ADD PUBLICATION SNAPSHOT", catalog_.GetErrorText());

    std::vector<std::string> articles;
    if (loggersOnly) {
        articles.push_back("LOGGERS");
    } else {
        articles.push_back(pub + "DATA");
        articles.push_back(pub + "CHANNELS");
        if (hasText) articles.push_back(pub + "TEXT");
    }
    for (const std::string &article : articles)
        if (!run("exec sp_addmergearticle @publication = N'" + lit(pub) + "', @article = N'" +
                 lit(article) + "', @source_owner = N'dbo', @source_object = N'" + lit(article) +
                 kArticle) &&
            strncmp(catalog_.GetErrorText(), "Warning", 7) != 0)
            return replicationFail("CAN'T ADD PUBLICATION ARTICLE", catalog_.GetErrorText());

    static const char *const snapshotColumn[] = {"snapshot_jobid", nullptr};
    std::string job;
    int rc =
        queryJobId("exec sp_helpmergepublication @publication = N'" + lit(pub) + "'",
                   snapshotColumn, "CAN'T GET PUBLICATION INFO", "CAN'T GET SNAPSHOT JOB ID", &job);
    if (rc == 1) return replicationFail("CAN'T GET SNAPSHOT JOB ID", "");
    if (rc != 0) return -1;
    if (!run("exec msdb..sp_start_job @job_id = 0x" + job))
        return replicationFail("CAN'T START SNAPSHOT", catalog_.GetErrorText(), true);

    int64_t outcome = kNotYetRun;
    for (int poll = 0; poll < kSnapshotPolls && outcome == kNotYetRun; ++poll) {
        if (poll > 0) plat_SleepMs(kSnapshotPollMs);
        if (data_.OpenRecordset(
                w("exec msdb..sp_help_job @job_id = 0x" + job + ", @job_aspect = N'job'"), 3, 1,
                1) != 0)
            return replicationFail("CAN'T GET SNAPSHOT STATUS", data_.GetErrorText());
        ado::Variant v;
        int got = data_.GetFieldValueByName(u"last_run_outcome", &v);
        data_.CloseRecordset();
        if (got != 0) return replicationFail("CAN'T GET SNAPSHOT STATUS", data_.GetErrorText());
        outcome = v.AsInt();
    }
    if (outcome == kNotYetRun) return replicationFail("SNAPSHOT DID NOT RUN", "");

    if (!run("exec sp_addmergesubscription @publication = N'" + lit(pub) + "', @subscriber = N'" +
             lit(targetSource_) + "', @subscriber_db = N'" + lit(targetCatalog_) + kSubscription))
        return replicationFail("CAN'T ADD SUBSCRIPTION", catalog_.GetErrorText());

    static const char *const mergeColumns[] = {"merge_jobid", "job_id", nullptr};
    rc = queryJobId(
        "exec sp_helpmergesubscription @subscription_type = N'both', @publication = N'" + lit(pub) +
            "'",
        mergeColumns, "CAN'T GET SUBSCRIPTION INFO", "CAN'T GET SUBSCRIPTION JOB ID", &job);
    if (rc == 1) return replicationFail("CAN'T UPDATE MERGE", "", true);
    if (rc != 0) return -1;
    run("use master");
    run("exec msdb..sp_start_job @job_id = 0x" + job);
    run("use " + sourceCatalog_);
    replicationStarted_ = 0;
    return 0;
}

int CLogDbCollection::DropReplication(const char *publication) {
    const std::string pub = publication != nullptr ? publication : "";
    // Best effort: a publication that is not there is the usual case.
    catalog_.ExecuteStatement(w("exec sp_dropmergesubscription @publication = N'" + lit(pub) +
                                "', @subscriber = N'" + lit(targetSource_) +
                                "', @subscriber_db = N'" + lit(targetCatalog_) +
                                "', @subscription_type = N'push'"));
    catalog_.ExecuteStatement(w("exec sp_dropmergepublication @publication = N'" + lit(pub) + "'"));
    std::string publisher =
        srv_IsLocal(sourceName_.c_str()) ? plat_ComputerName() : sourceName_.substr(0, 16);
    try {
        CLogITDbAcc target;
        if (target.OpenCatalog(w(target_), u"") == 0) {
            target.MarkOpen(0, 0);
            target.ExecuteStatement(w("exec sp_mergesubscription_cleanup @publication = N'" +
                                      lit(pub) + "', @publisher = N'" + lit(publisher) +
                                      "', @publisher_db = N'" + lit(sourceCatalog_) + "'"));
        }
        target.Close();
    } catch (const ado::ComError &) {
    }
    return 0;
}
