// Remote files and runtime requests against the stand-in's file service over the TLS socket.
#include "plat_error.h"
#include "plat_file.h"
#include "req.h"
#include "rfile.h"
#include "sim_net.h"
#include "srv.h"
#include "srv_kinds.h"
#include "temp_registry.h"
#include "test_ipc.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {
std::string slurp(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

class RemoteFiles : public ::testing::Test {
protected:
    void SetUp() override {
        test_UseUniqueIpcPrefix("rfile");
        srv_RegisterServerKinds();
        mkdir((folder_ / "LINE").c_str(), 0777);
        SimNetSettings settings;
        settings.filesRoot = folder_.path();
        server_ = std::make_unique<SimNetEndpoint>(settings);
        ASSERT_TRUE(server_->start()) << server_->error();
        spec_ = "tls://127.0.0.2:" + std::to_string(server_->port());
    }
    void TearDown() override { srv_CloseAll(); }
    size_t sent() const { return server_->requests().size(); }
    std::string lastRequest() const { return server_->requests().back().bytes; }

    TempFolder folder_;
    std::unique_ptr<SimNetEndpoint> server_;
    std::string spec_;
};

const char k_file[] = "KVT_CURRENT_CONFIG\\LINE\\data.bin";
} // namespace

TEST_F(RemoteFiles, WrittenFileReadsBackByteForByte) {
    std::string data;
    for (int i = 0; i < 3000; ++i)
        data += static_cast<char>(i % 7 == 0 ? 0 : i);
    int written = -1;
    ASSERT_NE(rfile_WriteFile(spec_.c_str(), -1, k_file, data.data(), static_cast<int>(data.size()),
                              &written, 0, 0, RFILE_CREATE),
              0);
    EXPECT_EQ(written, 3000);
    EXPECT_EQ(slurp(folder_ / "LINE/data.bin"), data);
    std::string header =
        "WF,KVT_CURRENT_CONFIG\\LINE\\data.bin\t3000\t0\t0\t-1073741824\t3\t1\t2\t128\t";
    EXPECT_EQ(lastRequest(), header + data + '\0');

    EXPECT_EQ(rfile_GetFileSize(spec_.c_str(), k_file), 3000);
    EXPECT_EQ(lastRequest(),
              std::string("SF,KVT_CURRENT_CONFIG\\LINE\\data.bin\t-2147483648\t3\t0\t3\t128") +
                  '\0');

    std::vector<char> back(200, '#');
    int got = -1;
    ASSERT_NE(rfile_ReadFile(spec_.c_str(), -1, k_file, back.data(), 100, &got, 8, 0), 0);
    EXPECT_EQ(
        lastRequest(),
        std::string("RF,KVT_CURRENT_CONFIG\\LINE\\data.bin\t100\t8\t0\t-2147483648\t3\t0\t3\t128") +
            '\0');
    EXPECT_EQ(got, 100);
    EXPECT_EQ(std::string(back.data(), 100), data.substr(8, 100));
    EXPECT_EQ(back[100], '#');
    // Near the end fewer bytes come back.
    ASSERT_NE(rfile_ReadFile(spec_.c_str(), -1, k_file, back.data(), 100, &got, 2950, 0), 0);
    EXPECT_EQ(got, 50);
    EXPECT_EQ(std::string(back.data(), 50), data.substr(2950));

    // Appending with disposition 3 at an offset.
    ASSERT_NE(
        rfile_WriteFile(spec_.c_str(), -1, k_file, "\0\0z", 3, &written, 3000, 0, RFILE_APPEND), 0);
    EXPECT_EQ(rfile_GetFileSize(spec_.c_str(), k_file), 3003);

    uint64_t times[3] = {};
    ASSERT_NE(rfile_GetFileTime(spec_.c_str(), -1, k_file, &times[0], &times[1], &times[2]), 0);
    struct stat st;
    ASSERT_EQ(stat((folder_ / "LINE/data.bin").c_str(), &st), 0);
    uint64_t expected = (static_cast<uint64_t>(st.st_mtim.tv_sec) + 11644473600ull) * 10000000ull +
                        static_cast<uint64_t>(st.st_mtim.tv_nsec) / 100;
    EXPECT_EQ(times[2], expected);
    EXPECT_GT(times[0], 0u);

    // Missing files and paths outside the configuration folder.
    EXPECT_EQ(rfile_GetFileSize(spec_.c_str(), "KVT_CURRENT_CONFIG\\LINE\\none"), -1);
    EXPECT_EQ(errno, 2);
    EXPECT_EQ(rfile_GetFileSize(spec_.c_str(), "KVT_CURRENT_CONFIG\\..\\etc\\passwd"), -1);
    EXPECT_EQ(errno, 5);
    EXPECT_EQ(rfile_ReadFile(spec_.c_str(), -1, "/etc/passwd", back.data(), 10, &got, 0, 0), 0);
    EXPECT_EQ(plat_GetLastError(), 5u);
    EXPECT_EQ(got, 0);
}

TEST_F(RemoteFiles, LimitsAndMalformedReplies) {
    std::vector<char> buffer(70000);
    int got = -1;
    EXPECT_EQ(rfile_ReadFile(spec_.c_str(), -1, k_file, buffer.data(), 65513, &got, 0, 0), 0);
    EXPECT_EQ(plat_GetLastError(), 87u);
    int written = -1;
    EXPECT_EQ(rfile_WriteFile(spec_.c_str(), -1, k_file, buffer.data(), 32768 - 60, &written, 0, 0,
                              RFILE_CREATE),
              0);
    EXPECT_EQ(plat_GetLastError(), 122u);
    EXPECT_EQ(written, 0);
    EXPECT_EQ(sent(), 0u);

    struct Case {
        const char *script;
        int count;
    } reads[] = {{"RF 1,ab", 10},    // shorter than the field
                 {"RF 1,abcd,5", 4}, // more than asked for
                 {"RF 1,abcd,x", 4}, // no number
                 {"RF 1,abcd,", 4}}; // no digit
    for (const Case &c : reads) {
        ASSERT_TRUE(server_->script(c.script));
        got = -1;
        EXPECT_EQ(rfile_ReadFile(spec_.c_str(), -1, k_file, buffer.data(), c.count, &got, 0, 0), 0)
            << c.script;
        EXPECT_EQ(plat_GetLastError(), 13u) << c.script;
        EXPECT_EQ(got, 0) << c.script;
    }
    ASSERT_TRUE(server_->script("RF 1,abcd,3"));
    EXPECT_NE(rfile_ReadFile(spec_.c_str(), -1, k_file, buffer.data(), 4, &got, 0, 0), 0);
    EXPECT_EQ(got, 3);
    ASSERT_TRUE(server_->script("RF -1,32"));
    EXPECT_EQ(rfile_ReadFile(spec_.c_str(), -1, k_file, buffer.data(), 4, &got, 0, 0), 0);
    EXPECT_EQ(plat_GetLastError(), 32u);

    // A failed write reports nothing written.
    ASSERT_TRUE(server_->script("WF -1,5"));
    written = -1;
    EXPECT_EQ(rfile_WriteFile(spec_.c_str(), -1, k_file, "ab", 2, &written, 0, 0, RFILE_CREATE), 0);
    EXPECT_EQ(written, 0);
    EXPECT_EQ(errno, 5);

    // Sizes of ten digits and more fit the reply.
    ASSERT_TRUE(server_->script("SF 123456789012"));
    EXPECT_EQ(rfile_GetFileSize(spec_.c_str(), k_file), 123456789012);
    ASSERT_TRUE(server_->script("SF 12x"));
    EXPECT_EQ(rfile_GetFileSize(spec_.c_str(), k_file), -1);
    EXPECT_EQ(plat_GetLastError(), 13u);

    uint64_t t[3];
    ASSERT_TRUE(server_->script("TF 1,1,2,3,4,5"));
    EXPECT_EQ(rfile_GetFileTime(spec_.c_str(), -1, k_file, &t[0], &t[1], &t[2]), 0);
    EXPECT_EQ(plat_GetLastError(), 13u);
    ASSERT_TRUE(server_->script("TF 1,1,2,3,4,5,-1"));
    EXPECT_NE(rfile_GetFileTime(spec_.c_str(), -1, k_file, &t[0], &t[1], &t[2]), 0);
    EXPECT_EQ(t[0], (1ull << 32) | 2);
    EXPECT_EQ(t[2], (5ull << 32) | 0xFFFFFFFFull);
}

TEST_F(RemoteFiles, ListingPagesThroughLongFolders) {
    std::vector<std::string> names;
    for (int i = 0; i < 300; ++i) {
        char prefix[8];
        snprintf(prefix, sizeof prefix, "%03d", i);
        names.push_back(prefix + std::string(247, 'n'));
        std::ofstream(folder_ / ("LINE/" + names.back())) << "x";
    }
    std::ofstream(folder_ / "LINE/other.txt") << "x";
    std::vector<char[RFILE_NAME_SLOT]> slots(400);
    EXPECT_EQ(rfile_ListFiles(spec_.c_str(), "KVT_CURRENT_CONFIG\\LINE", "*n", 400, slots.data()),
              300);
    for (int i = 0; i < 300; ++i)
        ASSERT_EQ(names[static_cast<size_t>(i)], slots[static_cast<size_t>(i)]);
    std::vector<SimRequest> requests = server_->requests();
    ASSERT_GE(requests.size(), 2u);
    EXPECT_EQ(requests[0].bytes, std::string("DF,KVT_CURRENT_CONFIG\\LINE\t*n\t0") + '\0');
    // The second page starts where the first ended.
    std::string second = requests[1].bytes.c_str();
    int start = atoi(second.c_str() + second.rfind('\t') + 1);
    EXPECT_GT(start, 200);
    EXPECT_LT(start, 300);
    EXPECT_EQ(rfile_ListFiles(spec_.c_str(), "KVT_CURRENT_CONFIG\\LINE", "*", 0, nullptr), 301);
    EXPECT_EQ(rfile_ListFiles(spec_.c_str(), "KVT_CURRENT_CONFIG\\LINE", "*", 5, slots.data()), 5);

    // Empty pieces, long names cut to their slot, a failure.
    ASSERT_TRUE(server_->script("DF,x 3,a,,b," + std::string(300, 'L')));
    EXPECT_EQ(rfile_ListFiles(spec_.c_str(), "x", "*", 10, slots.data()), 3);
    EXPECT_STREQ(slots[1], "b");
    EXPECT_EQ(std::string(slots[2]), std::string(255, 'L'));
    EXPECT_EQ(rfile_ListFiles(spec_.c_str(), "KVT_CURRENT_CONFIG\\NONE", "*", 10, slots.data()),
              -1);
    EXPECT_EQ(errno, 3);

    // A server that repeats a full reply ends the listing.
    std::string full = "999";
    while (full.size() < 65400)
        full += "," + std::string(200, 'r');
    ASSERT_TRUE(server_->script("DF,y " + full));
    server_->clearRequests();
    EXPECT_EQ(rfile_ListFiles(spec_.c_str(), "y", "*", 10, slots.data()), 10);
    // Each name once: the repeated reply adds nothing.
    EXPECT_EQ(rfile_ListFiles(spec_.c_str(), "y", "*", 0, nullptr),
              std::count(full.begin(), full.end(), ','));
    EXPECT_EQ(server_->requests().size(), 4u);
}

TEST_F(RemoteFiles, OpenHandleNeverSendsARequest) {
    std::string path = folder_ / "local.bin";
    std::ofstream(path) << "0123456789";
    int fd = plat_FileOpen(path.c_str(), PLAT_FILE_READ_WRITE);
    ASSERT_GE(fd, 0);
    char buffer[16] = {};
    int got = 0;
    EXPECT_NE(rfile_ReadFile(spec_.c_str(), fd, "ignored", buffer, 4, &got, 3, 0), 0);
    EXPECT_EQ(std::string(buffer, 4), "3456");
    // -1 reads on from the position.
    EXPECT_NE(rfile_ReadFile(spec_.c_str(), fd, "ignored", buffer, 10, &got, -1, 0), 0);
    EXPECT_EQ(std::string(buffer, static_cast<size_t>(got)), "789");
    int written = 0;
    EXPECT_NE(rfile_WriteFile(spec_.c_str(), fd, "ignored", "AB", 2, &written, -2, 2, RFILE_APPEND),
              0);
    EXPECT_EQ(written, 2);
    uint64_t t[3] = {};
    EXPECT_NE(rfile_GetFileTime(spec_.c_str(), fd, "ignored", &t[0], &t[1], &t[2]), 0);
    EXPECT_GT(t[2], 0u);
    plat_FileClose(fd);
    EXPECT_EQ(slurp(path), "01234567AB");
    EXPECT_EQ(rfile_ReadFile(spec_.c_str(), 9999, "ignored", buffer, 4, &got, 0, 0), 0);
    EXPECT_EQ(errno, 6);
    EXPECT_EQ(sent(), 0u);
}

TEST_F(RemoteFiles, SendersWithoutCallersAndWholeFileCopies) {
    for (const char *s : {"UF 1", "NF 2", "OF 3", "BF 4", "EF 5", "MF 1,moved to here"})
        ASSERT_TRUE(server_->script(s));
    EXPECT_EQ(rfile_SendUF(spec_.c_str(), "p"), 1);
    EXPECT_EQ(rfile_SendNF(spec_.c_str(), "p"), 2);
    EXPECT_EQ(rfile_SendOF(spec_.c_str(), "p"), 3);
    EXPECT_EQ(rfile_SendBF(spec_.c_str(), "p"), 4);
    EXPECT_EQ(rfile_SendEF(spec_.c_str(), "p", "q"), 5);
    EXPECT_EQ(lastRequest(), std::string("EF,p\tq", 7));
    char text[9];
    EXPECT_EQ(rfile_SendMF(spec_.c_str(), "p", "q", text, sizeof text), 1);
    EXPECT_STREQ(text, "moved to");
    EXPECT_EQ(lastRequest(), std::string("MF,p\tq", 7));
    std::vector<std::string> lines;
    for (const SimRequest &r : server_->requests())
        lines.push_back(r.bytes.c_str());
    EXPECT_EQ(lines[0], "UF,p");
    EXPECT_EQ(lines[3], "BF,p");

    std::string data;
    for (int i = 0; i < 70000; ++i)
        data += static_cast<char>((i * 31) % 256);
    std::ofstream(folder_ / "source.bin", std::ios::binary) << data;
    server_->clearRequests();
    ASSERT_NE(rfile_CopyToServer(spec_.c_str(), (folder_ / "source.bin").c_str(), k_file), 0);
    EXPECT_EQ(slurp(folder_ / "LINE/data.bin"), data);
    std::vector<SimRequest> wf = server_->requests();
    ASSERT_EQ(wf.size(), 3u);
    for (const SimRequest &r : wf)
        EXPECT_LE(r.bytes.size(), 32768u);
    EXPECT_NE(wf[0].bytes.find("\t2\t128\t"), std::string::npos);
    EXPECT_NE(wf[1].bytes.find("\t3\t128\t"), std::string::npos);

    server_->clearRequests();
    ASSERT_NE(rfile_CopyFromServer(spec_.c_str(), k_file, (folder_ / "copy.bin").c_str()), 0);
    EXPECT_EQ(slurp(folder_ / "copy.bin"), data);
    std::vector<SimRequest> rf = server_->requests();
    ASSERT_EQ(rf.size(), 4u);
    EXPECT_EQ(rf[0].bytes.substr(0, 3), "SF,");
    EXPECT_NE(rf[1].bytes.find("\t32744\t0\t0\t"), std::string::npos);
    EXPECT_NE(rf[2].bytes.find("\t32744\t32744\t0\t"), std::string::npos);
    EXPECT_EQ(
        rfile_CopyFromServer(spec_.c_str(), "KVT_CURRENT_CONFIG\\none", (folder_ / "c2").c_str()),
        0);
    EXPECT_EQ(errno, 2);
}

TEST_F(RemoteFiles, RuntimeRequests) {
    ASSERT_TRUE(server_->script("CV 2,A1:1=5;A1:2=6"));
    std::vector<char> reply(REQ_REPLY_SIZE);
    EXPECT_EQ(req_CurrentValues(spec_.c_str(), "A1:1,A1:2", reply.data()), 2);
    EXPECT_STREQ(reply.data(), "2,A1:1=5;A1:2=6");
    EXPECT_EQ(lastRequest(), std::string("CV,A1:1,A1:2", 13));
    std::string longList(32765, 'c');
    size_t before = sent();
    EXPECT_EQ(req_CurrentValues(spec_.c_str(), longList.c_str(), reply.data()), -1);
    EXPECT_EQ(errno, 122);
    EXPECT_EQ(sent(), before);
    std::string fits(32764, 'c');
    ASSERT_TRUE(server_->script("CV,ccc 1"));
    EXPECT_EQ(req_CurrentValues(spec_.c_str(), fits.c_str(), reply.data()), 1);

    ASSERT_TRUE(server_->script("RV 1,r"));
    EXPECT_EQ(req_ReadValues(spec_.c_str(), "A1:1", reply.data()), 1);
    for (const char *s : {"SV 7", "FV 7", "BS 7", "RS 7", "AS 7", "OS 7"})
        ASSERT_TRUE(server_->script(s));
    server_->clearRequests();
    EXPECT_EQ(req_SetValue(spec_.c_str(), "a", "b", "c"), 7);
    EXPECT_EQ(req_ForceValue(spec_.c_str(), "a", "b", "c", 2.5), 7);
    EXPECT_EQ(req_SendBS(spec_.c_str()), 7);
    EXPECT_EQ(req_SendRS(spec_.c_str()), 7);
    EXPECT_EQ(req_SendAS(spec_.c_str(), "x"), 7);
    EXPECT_EQ(req_SendOS(spec_.c_str()), 7);
    std::vector<std::string> lines;
    for (const SimRequest &r : server_->requests())
        lines.push_back(r.bytes.c_str());
    EXPECT_EQ(lines,
              (std::vector<std::string>{"SV,a,b,c,", "FV,a,b,c,2.5", "BS", "RS", "AS,x", "OS"}));
}

namespace {
// A kind-2 transport that answers each request with what the test's function gives, so that
// replies no server of ours would send (a reply filling the whole buffer, a file that stops
// short) can be handed over byte for byte.
std::string (*g_answer)(const std::string &request);
std::vector<std::string> g_asked;

int standInOpen(ServerConnection *) {
    return 1;
}
int standInTransact(ServerConnection *, const char *request, int length, char *reply, int *size) {
    g_asked.emplace_back(request, static_cast<size_t>(length));
    std::string text = g_answer(g_asked.back());
    *size = static_cast<int>(std::min(text.size(), static_cast<size_t>(*size)));
    memcpy(reply, text.data(), static_cast<size_t>(*size));
    return 1;
}
void standInClose(ServerConnection *) {}
const ServerTransport k_standIn = {standInOpen, standInTransact, standInClose, 0};

class StandInReplies : public ::testing::Test {
protected:
    void SetUp() override {
        test_UseUniqueIpcPrefix("rfile_standin");
        srv_RegisterServerKinds();
        srv_RegisterTransport(SRV_KIND_TLS, &k_standIn);
        g_asked.clear();
    }
    void TearDown() override {
        srv_CloseAll();
        srv_RegisterServerKinds();
    }
    const char *spec_ = "tls://stand.in";
    TempFolder folder_;
};

// The RF reply of count bytes: "1," + the field + ',' + the number (no NUL).
std::string readReply(const std::string &request, const std::string &data, const char *number) {
    std::vector<std::string> fields;
    std::string line = request.c_str();
    for (size_t from = 0;;) {
        size_t tab = line.find('\t', from);
        fields.push_back(line.substr(from, tab - from));
        if (tab == std::string::npos) break;
        from = tab + 1;
    }
    size_t count = static_cast<size_t>(atoi(fields[1].c_str()));
    size_t offset = static_cast<size_t>(atoi(fields[2].c_str()));
    std::string field = offset < data.size() ? data.substr(offset, count) : "";
    field.resize(count, '\0');
    return "1," + field + "," + number;
}
} // namespace

TEST_F(StandInReplies, AReadIsTakenOnlyFromTheReplysOwnBytes) {
    // The number ends at the buffer's last byte: 65536 bytes, no NUL after the digits.
    g_answer = [](const std::string &request) {
        return readReply(request, std::string(65512, 'd'), "000000000000000065512");
    };
    std::vector<char> buffer(RFILE_MAX_READ);
    int got = -1;
    ASSERT_EQ(readReply("RF,p\t65512\t0", "", "000000000000000065512").size(), 65536u);
    EXPECT_NE(rfile_ReadFile(spec_, -1, "p", buffer.data(), RFILE_MAX_READ, &got, 0, 0), 0);
    EXPECT_EQ(got, RFILE_MAX_READ);
    g_answer = [](const std::string &request) {
        return readReply(request, "", "000000000000000065513");
    };
    EXPECT_EQ(rfile_ReadFile(spec_, -1, "p", buffer.data(), RFILE_MAX_READ, &got, 0, 0), 0);
    EXPECT_EQ(plat_GetLastError(), 13u);
    EXPECT_EQ(got, 0);
}

TEST_F(StandInReplies, ACopyThatStopsShortIsNoCopy) {
    struct Case {
        std::string (*answer)(const std::string &);
        uint32_t error;
    } cases[] = {
        // The file holds 40000 bytes, the server stops sending after 32744.
        {[](const std::string &r) -> std::string {
             if (r.compare(0, 3, "SF,") == 0) return "40000";
             bool first = r.find("remote\t32744\t") != std::string::npos;
             return readReply(r, std::string(32744, 'x'), first ? "32744" : "0");
         },
         38},
        // The second piece fails.
        {[](const std::string &r) -> std::string {
             if (r.compare(0, 3, "SF,") == 0) return "40000";
             if (r.find("remote\t32744\t") == std::string::npos) return "-1,5";
             return readReply(r, std::string(40000, 'x'), "32744");
         },
         5},
    };
    for (const Case &c : cases) {
        g_answer = c.answer;
        std::string local = folder_ / "copy.bin";
        errno = 0;
        EXPECT_EQ(rfile_CopyFromServer(spec_, "remote", local.c_str()), 0);
        EXPECT_EQ(errno, static_cast<int>(c.error));
        EXPECT_EQ(plat_GetLastError(), c.error);
        EXPECT_NE(access(local.c_str(), F_OK), 0) << "a partial copy was left";
    }
    g_answer = [](const std::string &r) -> std::string {
        if (r.compare(0, 3, "SF,") == 0) return "40000";
        std::string data(40000, 'x');
        return readReply(r, data,
                         r.find("remote\t32744\t") != std::string::npos ? "32744" : "7256");
    };
    ASSERT_NE(rfile_CopyFromServer(spec_, "remote", (folder_ / "copy.bin").c_str()), 0);
    EXPECT_EQ(slurp(folder_ / "copy.bin"), std::string(40000, 'x'));
}

TEST_F(StandInReplies, AListingEndsWithTheFirstRoundThatBringsNoNewName) {
    // Every reply is full; the second differs from the first but holds no name, the third
    // would bring one more.
    g_answer = [](const std::string &) -> std::string {
        std::string reply = "1";
        if (g_asked.size() == 1)
            while (reply.size() < 65400)
                reply += "," + std::string(100, 'n');
        else if (g_asked.size() == 2)
            reply += std::string(65400, ',');
        else
            reply += ",late";
        return reply;
    };
    EXPECT_EQ(rfile_ListFiles(spec_, "f", "*", 0, nullptr), 648);
    EXPECT_EQ(g_asked.size(), 2u);
}
