#include "ldf.h"
#include "lfile.h"
#include "lstore_file.h"
#include "plat_error.h"
#include "plat_file.h"
#include "store_fixture.h"
#include "temp_registry.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

int64_t sizeOf(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

TEST(FileStore, AppendsOnlyWholeCheckedRecordsAtItsPosition) {
    TempFolder dir;
    std::string path = dir / "240517_083000.odl";
    LogHeader h = fx::twoBlockHeader(1715934600);
    {
        CLogFileStore created;
        ASSERT_EQ(fx::createRun(created, path, &h), 0);
    }
    std::vector<uint8_t> recs = fx::records(h, 0, 10, 1715934600);

    // Opened but never started: the write position is 0.
    CLogFileStore store;
    ASSERT_EQ(store.Open(nullptr, path.c_str(), LSTORE_READ | LSTORE_WRITE), 0);
    EXPECT_EQ(store.WriteLog(&h, recs.data(), 1), -1);
    EXPECT_EQ(errno, 87);

    LogHeader r;
    ASSERT_EQ(store.ReadHeader(&r), 0);
    ASSERT_EQ(store.StartLogging(&r), 0);
    // A batch whose second record lacks its marker writes nothing.
    std::vector<uint8_t> broken = recs;
    broken[62] = 0;
    EXPECT_EQ(store.WriteLog(&r, broken.data(), 3), -1);
    EXPECT_EQ(errno, 87);
    EXPECT_EQ(sizeOf(path), h.dataOffset);
    EXPECT_EQ(store.WriteLog(&r, recs.data(), -1), -1);
    ASSERT_EQ(store.WriteLog(&r, recs.data(), 4), 0);
    EXPECT_EQ(store.GetNoLogs(&r), 4);

    // A second writer of the same run is refused by the lock at the end, before it could cut
    // anything; a reader alongside sees whole records only.
    CLogFileStore second;
    ASSERT_EQ(second.Open(nullptr, path.c_str(), LSTORE_READ | LSTORE_WRITE), 0);
    LogHeader r2;
    ASSERT_EQ(second.ReadHeader(&r2), 0);
    LogHeader stale = r2;
    stale.writePos = stale.dataOffset + 62;
    EXPECT_EQ(second.StartLogging(&stale), -1);
    EXPECT_EQ(errno, 33);
    EXPECT_EQ(sizeOf(path), h.dataOffset + 4 * 62);
    ASSERT_EQ(second.Open(nullptr, path.c_str(), LSTORE_READ | LSTORE_WRITE), 0);
    EXPECT_EQ(second.StartLogging(&r2), -1);
    EXPECT_EQ(errno, 33);
    std::thread appender([&] {
        for (int i = 4; i < 10; ++i)
            EXPECT_EQ(store.WriteLog(&r, recs.data() + i * 62, 1), 0);
    });
    CLogFileStore reader;
    ASSERT_EQ(reader.Open(nullptr, path.c_str(), LSTORE_READ), 0);
    LogHeader rr;
    ASSERT_EQ(reader.ReadHeader(&rr), 0);
    for (int seen = 0; seen < 10;) {
        int n = reader.GetNoLogs(&rr);
        ASSERT_GE(n, seen);
        seen = n;
        std::vector<uint8_t> back(static_cast<size_t>(n) * 62);
        ASSERT_EQ(reader.ReadLogs(0, &rr, back.data(), n), n);
        EXPECT_EQ(back, fx::records(h, 0, n, 1715934600));
    }
    appender.join();

    // With significant changes, the valid records end at the first without a changed channel.
    LogHeader sig = r;
    sig.sigChange = 1;
    EXPECT_EQ(store.GetNoValidLogs(&sig), 10);
    std::vector<uint8_t> none(recs.begin() + 5 * 62, recs.begin() + 6 * 62);
    none[2] = 0;
    ASSERT_EQ(store.RewriteLog(5, &r, none.data(), 62), 0);
    EXPECT_EQ(store.GetNoValidLogs(&sig), 5);

    // Rewriting checks every record start, a partial one when its marker is there.
    EXPECT_EQ(store.RewriteLog(2, &r, recs.data(), 62 + 1), 0);
    EXPECT_EQ(store.RewriteLog(2, &r, broken.data(), 62 + 2), -1);
    EXPECT_EQ(store.RewriteLog(2, &r, recs.data() + 2 * 62, 62), 0);

    // Truncate: negative counts and cuts into the header change nothing.
    store.Truncate(&r, -1);
    EXPECT_EQ(plat_GetLastError(), 87u);
    store.Truncate(&r, 11);
    EXPECT_EQ(plat_GetLastError(), 87u);
    EXPECT_EQ(store.GetNoLogs(&r), 10);
    store.Truncate(&r, 3);
    EXPECT_EQ(store.GetNoLogs(&r), 7);
    ASSERT_EQ(store.WriteLog(&r, recs.data() + 7 * 62, 1), 0);
    EXPECT_EQ(store.GetNoLogs(&r), 8);
    store.Close();
    // The lock went with the close: the second store may now start (its failed start closed it).
    ASSERT_EQ(second.Open(nullptr, path.c_str(), LSTORE_READ | LSTORE_WRITE), 0);
    ASSERT_EQ(second.ReadHeader(&r2), 0);
    EXPECT_EQ(r2.recordCount, 8);
    EXPECT_EQ(second.StartLogging(&r2), 0);
}

TEST(FileStore, ClosedRunIsReopenedUnderItsStartNameAndCut) {
    TempFolder dir;
    std::string open = dir / "240517_083000.odl";
    std::string closed = dir / "240517_083000_240517_093000.odl";
    LogHeader h = fx::twoBlockHeader(1715934600);
    {
        CLogFileStore store;
        ASSERT_EQ(fx::createRun(store, open, &h), 0);
        std::vector<uint8_t> recs = fx::records(h, 0, 6, 1715934600);
        ASSERT_EQ(store.WriteLog(&h, recs.data(), 6), 0);
    }
    ASSERT_EQ(rename(open.c_str(), closed.c_str()), 0);
    CLogFileStore store;
    ASSERT_EQ(store.Open(nullptr, closed.c_str(), LSTORE_READ | LSTORE_WRITE), 0);
    LogHeader r;
    ASSERT_EQ(store.ReadHeader(&r), 0);
    r.writePos = r.dataOffset + 4 * 62; // the position the logger last saved
    ASSERT_EQ(store.StartLogging(&r), 0);
    EXPECT_EQ(access(closed.c_str(), F_OK), -1);
    EXPECT_EQ(sizeOf(open), r.dataOffset + 4 * 62);
    char name[260];
    int length = 0;
    store.GetName(name, &length);
    EXPECT_EQ(length, 260);
    EXPECT_EQ(std::string(name), open);
    store.Close();

    CLogFileStore bad;
    std::string odd = dir / "run_2405.odl";
    ASSERT_EQ(rename(open.c_str(), odd.c_str()), 0);
    ASSERT_EQ(bad.Open(nullptr, odd.c_str(), LSTORE_READ | LSTORE_WRITE), 0);
    EXPECT_EQ(bad.StartLogging(&r), -1);
    std::string longName(300, 'a');
    EXPECT_EQ(bad.Open(nullptr, (dir / longName).c_str(), LSTORE_READ), -1);
    EXPECT_EQ(errno, 206);
    EXPECT_EQ(bad.Open(nullptr, (dir / "none.odl").c_str(), LSTORE_READ), -1);
    EXPECT_EQ(errno, 2);
}

TEST(FileStore, CreateRefusesImpossibleHeadersBeforeMakingTheFile) {
    TempFolder dir;
    std::string path = dir / "240517_083000.odl";
    CLogFileStore store;
    LogHeader h = fx::twoBlockHeader(0);
    h.blockCount = 65;
    EXPECT_EQ(fx::createRun(store, path, &h), -1);
    EXPECT_EQ(errno, 87);
    h = fx::twoBlockHeader(0);
    h.blocks[1].last = 4;
    EXPECT_EQ(fx::createRun(store, path, &h), -1);
    h = fx::twoBlockHeader(0);
    h.recordSize = 0;
    EXPECT_EQ(fx::createRun(store, path, &h), -1);
    EXPECT_EQ(access(path.c_str(), F_OK), -1);
}

TEST(FileStore, AFailedAppendIsCutBackSoLaterRecordsStayAligned) {
    TempFolder dir;
    std::string path = dir / "240517_083000.odl";
    LogHeader h = fx::twoBlockHeader(1715934600);
    std::vector<uint8_t> recs = fx::records(h, 0, 8, 1715934600);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The file may not grow past two and a half records: the third append is short.
        CLogFileStore store;
        if (fx::createRun(store, path, &h) != 0) _exit(10);
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit {};
        limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(h.dataOffset + 62 * 2 + 31);
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(11);
        if (store.WriteLog(&h, recs.data(), 1) != 0) _exit(12);
        if (store.WriteLog(&h, recs.data() + 62, 3) != -1) _exit(13);
        if (errno != 223 && errno != 112) _exit(14);
        if (sizeOf(path) != h.dataOffset + 62) _exit(15);
        if (store.WriteLog(&h, recs.data() + 62, 1) != 0) _exit(16);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);
    CLogFileStore reader;
    ASSERT_EQ(reader.Open(nullptr, path.c_str(), LSTORE_READ), 0);
    LogHeader r;
    ASSERT_EQ(reader.ReadHeader(&r), 0);
    ASSERT_EQ(r.recordCount, 2);
    std::vector<uint8_t> back(2 * 62);
    ASSERT_EQ(reader.ReadLogs(0, &r, back.data(), 2), 2);
    EXPECT_EQ(back, fx::records(h, 0, 2, 1715934600));

    // A run may not pass the header's 2 GiB write position.
    CLogFileStore big;
    ASSERT_EQ(big.Open(nullptr, path.c_str(), LSTORE_READ | LSTORE_WRITE), 0);
    r.writePos = INT32_MAX - 100;
    ASSERT_EQ(big.StartLogging(&r), 0);
    EXPECT_EQ(big.WriteLog(&r, recs.data(), 1), 0);
    EXPECT_EQ(big.WriteLog(&r, recs.data(), 1), -1);
    EXPECT_EQ(errno, 223);
    EXPECT_EQ(sizeOf(path), INT64_C(2147483647) - 100 + 62);
}

TEST(FileStore, KilledWriterLeavesWholeRecordsThatReadAndResume) {
    TempFolder dir;
    std::string path = dir / "240517_083000.odl";
    LogHeader h = fx::twoBlockHeader(1715934600);
    {
        CLogFileStore store;
        ASSERT_EQ(fx::createRun(store, path, &h), 0);
    }
    const int batch = 100;
    std::vector<uint8_t> recs = fx::records(h, 0, 20000, 1715934600);
    int64_t written = 0;
    for (int round = 0; round < 12; ++round) {
        int pipeFd[2];
        ASSERT_EQ(pipe(pipeFd), 0);
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(pipeFd[0]);
            CLogFileStore store;
            LogHeader r;
            if (store.Open(nullptr, path.c_str(), LSTORE_READ | LSTORE_WRITE) != 0 ||
                store.ReadHeader(&r) != 0 || store.StartLogging(&r) != 0)
                _exit(2);
            int first = r.recordCount;
            (void)!write(pipeFd[1], "s", 1);
            for (int i = first;; i = (i + batch) % (20000 - batch))
                store.WriteLog(&r, recs.data() + static_cast<size_t>(i) * 62, batch);
        }
        close(pipeFd[1]);
        char c;
        ASSERT_EQ(read(pipeFd[0], &c, 1), 1);
        close(pipeFd[0]);
        // Kill at a different depth each round: wait for the file to grow by a varying amount.
        int64_t target = sizeOf(path) + (round % 4) * 62 * 37 + round * 5;
        while (sizeOf(path) < target)
            std::this_thread::yield();
        kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status));

        CLogFileStore reader;
        ASSERT_EQ(reader.Open(nullptr, path.c_str(), LSTORE_READ), 0);
        LogHeader r;
        ASSERT_EQ(reader.ReadHeader(&r), 0);
        int n = reader.GetNoLogs(&r);
        ASSERT_GE(n, written);
        std::vector<uint8_t> back(static_cast<size_t>(n) * 62);
        ASSERT_EQ(reader.ReadLogs(0, &r, back.data(), n), n);
        for (int i = 0; i < n; ++i) {
            const uint8_t *rec = back.data() + static_cast<size_t>(i) * 62;
            ASSERT_EQ(ldf_Get16(rec), LDF_RECORD_MARKER) << "record " << i;
            ASSERT_EQ(ldf_Get16(rec + 60), LDF_RECORD_END) << "record " << i;
        }
        written = n;
    }
    EXPECT_GT(written, 0);
}

// A header read from a damaged file may claim any record size and data offset: counting the
// valid records reads only what the file holds, whatever the header claims.
// The count runs in a child whose data may grow by 256 MiB at most.
TEST(FileStore, ValidRecordsAreCountedWithinWhatTheFileHolds) {
    TempFolder dir;
    std::string path = dir / "240517_083000.odl";
    LogHeader h = fx::twoBlockHeader(1715934600);
    {
        CLogFileStore store;
        ASSERT_EQ(fx::createRun(store, path, &h), 0);
        std::vector<uint8_t> recs = fx::records(h, 0, 3, 1715934600);
        ASSERT_EQ(store.WriteLog(&h, recs.data(), 3), 0);
    }
    struct Case {
        int32_t recordSize;
        int32_t dataOffset;
        int valid;
    };
    // A negative data offset would make whole records of a huge size out of a small file: the
    // file holds no record before its start.
    for (Case c : {Case{62, h.dataOffset, 3}, Case{INT32_MAX, h.dataOffset, 0},
                   Case{1 << 30, h.dataOffset, 0}, Case{h.dataOffset, h.dataOffset, 0},
                   Case{1 << 30, -(1 << 30) + 100, 0}}) {
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            long kib = 0;
            FILE *status = fopen("/proc/self/status", "r");
            char line[256];
            while (status != nullptr && fgets(line, sizeof line, status) != nullptr)
                if (sscanf(line, "VmData: %ld kB", &kib) == 1) break;
            if (status != nullptr) fclose(status);
            rlim_t limit = static_cast<rlim_t>(kib + 256 * 1024) * 1024;
            struct rlimit data = {limit, limit};
            if (kib == 0 || setrlimit(RLIMIT_DATA, &data) != 0) _exit(2);
            CLogFileStore reader;
            LogHeader r;
            if (reader.Open(nullptr, path.c_str(), LSTORE_READ) != 0 || reader.ReadHeader(&r) != 0)
                _exit(3);
            r.sigChange = 1;
            r.recordSize = c.recordSize;
            r.dataOffset = c.dataOffset;
            // The child never returns into the test runner, whatever the count throws.
            try {
                _exit(reader.GetNoValidLogs(&r) == c.valid ? 0 : 4);
            } catch (...) {
                _exit(5);
            }
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << "record size " << c.recordSize << ": status " << status;
    }
}

} // namespace
