// The collection of runs kept in one database: LOGGERS lists the runs of the loggers, each run
// has its own tables. Without a connection string the database is a Jet file per logger in the
// logged-data folder (a SQLite file under its ".mdb" name).
#pragma once

#include "dbacc.h"
#include "lstore.h"
#include "lstore_db.h"

#include <string>
#include <vector>

// "Provider=Microsoft.Jet.OLEDB.4.0; Jet OLEDB:Engine Type=5; Data Source="<folder>/<logger>.mdb""
std::string lstore_MakeJetConnection(const char *folder, const char *logger);

class CLogDbCollection : public CLogCollection {
public:
    CLogDbCollection() = default;
    ~CLogDbCollection() override;

    int Open(const char *connection, const char *folder, const char *logger, const char *prefix,
             uint32_t access) override;
    void DeleteOlderThan(int32_t *time) override;
    int FindFirst(int *nameSize) override;
    int FindNext(char *name, LogTimePair *start, LogTimePair *stop) override;
    int FindLogger(char *name, int *nameSize, LogTimePair *start, LogTimePair *stop,
                   int anyName) override;
    CLogStore *CreateLogger(int32_t *start, int ignored, int storeArgument, LogHeader *header,
                            const char16_t *headerText, int archive, const char *server,
                            int ignored2, const void *const *channelRecords) override;
    CLogStore *CreateLoggerEx(int32_t *start, int plainName, int ignored, LogHeader *header,
                              const char *headerText, int ignored2, const char *server,
                              int dateName, const void *const *channelRecords) override;
    CLogStore *OpenLogger(const char *name, uint32_t access) override;
    int UseforLogging(CLogStore *store, LogHeader *header, const char *prefix, int textFile,
                      int archive) override;
    int CloseLogger(CLogStore *store, const int32_t *start, const int32_t *stop,
                    int readOnly) override;
    const char *GetErrorText() override { return detail_; }
    const char *GetErrorMessage() override { return message_; }
    void MakeStoreName(const char *name, char *buffer, int *length) override;

    const std::string &ConnectionString() const { return connection_; }

    // The identity of the newest run of the string's logger, as lstore_MakeIdentity gives it
    // but always through a collection of this class; "" on any failure.
    static std::string MakeIdentity(const char *connection);
    // One statement through the catalog object: 0, or -1 when it fails.
    int ExecuteStatement(const char *sql);

    // Drops a run's tables and, when its TEXT and DATA tables are gone, its LOGGERS row.
    void DropLoggerTables(const char *prefix);
    // SQL Server merge replication of each run to a target database (lstore_dbrepl.cpp). Only
    // CheckTargetConnection enables it; 0 without a "PROVIDER=SQLOLEDB" database.
    int CheckTargetConnection(const char *target, int prune, int keep);
    int SetUpReplication(const char *publication, int32_t seq, int hasText, int loggersOnly);
    int DropReplication(const char *publication);

private:
    struct Run {
        int32_t seq;
        uint32_t start;
        uint32_t stop;
        std::string prefix;
    };
    int fail(const char *detail, const char *message);
    int createLoggers();
    bool exec(const std::string &sql);
    std::string columnList(const LogHeader &h, const char *server, const void *const *records,
                           int *error);
    void dropRun(const std::string &prefix, bool text);

    CLogITDbAcc catalog_;
    CLogITDbDataAcc data_;
    std::string connection_;
    std::string logger_;
    std::string runPrefix_;
    std::vector<Run> runs_;
    size_t next_ = 0;
    char detail_[1000] = {};
    char message_[31] = {};
    int32_t indexes_ = 1;
    uint32_t access_ = 0;
    int32_t loggersCreated_ = 0;
    int32_t replicationEnabled_ = 0;
    int32_t replicationStarted_ = 0;
    std::string target_;
    std::string targetSource_, targetCatalog_, sourceName_, sourceCatalog_;
    int32_t prune_ = 0;
    int32_t keep_ = 0;
    int replicationFail(const char *message, const char *detail, bool trace = false);
    int queryJobId(const std::string &sql, const char *const *columns, const char *queryFailure,
                   const char *idFailure, std::string *hex);

public:
    bool ReplicationEnabled() const { return replicationEnabled_ != 0; }
    bool ReplicationStarted() const { return replicationStarted_ != 0; }
};
