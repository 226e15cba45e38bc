// A run on another computer, read through the runtime stand-in's file service over TLS.
#include "ldf.h"
#include "lfile.h"
#include "lstore_file.h"
#include "sim_net.h"
#include "srv.h"
#include "srv_kinds.h"
#include "store_fixture.h"
#include "temp_registry.h"
#include "test_ipc.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sys/stat.h>

namespace {

TEST(RemoteStore, ReadsARunThroughTheServerInBoundedPieces) {
    test_UseUniqueIpcPrefix("lstore");
    srv_RegisterServerKinds();
    TempFolder folder;
    mkdir((folder / "LINE").c_str(), 0777);
    LogHeader h = fx::twoBlockHeader(1715934600);
    {
        CLogFileStore store;
        ASSERT_EQ(fx::createRun(store, folder / "LINE/240517_083000.odl", &h), 0);
        std::vector<uint8_t> recs = fx::records(h, 0, 2000, 1715934600);
        ASSERT_EQ(store.WriteLog(&h, recs.data(), 2000), 0);
    }
    SimNetSettings settings;
    settings.filesRoot = folder.path();
    SimNetEndpoint server(settings);
    ASSERT_TRUE(server.start()) << server.error();
    std::string spec = "tls://127.0.0.2:" + std::to_string(server.port());

    const char path[] = "KVT_CURRENT_CONFIG\\LINE\\240517_083000.odl";
    CLogFileStore store;
    ASSERT_EQ(store.Open(nullptr, path, LSTORE_READ), -1); // no such file here, and no server
    ASSERT_EQ(store.Open(spec.c_str(), path, LSTORE_READ), 0);
    LogHeader r;
    ASSERT_EQ(store.ReadHeader(&r), 0);
    EXPECT_EQ(r.recordCount, 2000);
    EXPECT_EQ(r.dataOffset, h.dataOffset);
    EXPECT_EQ(r.carried[84], 0x3C);

    // One request carries at most 65512 bytes: 1056 records of 62.
    server.clearRequests();
    std::vector<uint8_t> back(2000 * 62);
    EXPECT_EQ(store.ReadLogs(0, &r, back.data(), 2000), 1056);
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].bytes.substr(0, 3 + sizeof path - 1 + 7),
              std::string("RF,") + path + "\t65472\t");
    EXPECT_EQ(store.ReadLogs(1056, &r, back.data() + 1056 * 62, 944), 944);
    EXPECT_EQ(back, fx::records(h, 0, 2000, 1715934600));
    std::vector<uint8_t> one(62);
    EXPECT_EQ(store.ReadLog(1999, &r, one.data(), 62), 0);
    EXPECT_EQ(store.ReadLog(2000, &r, one.data(), 62), -1);
    std::vector<uint8_t> channels(216 * 3);
    EXPECT_EQ(store.ReadChannelInfo(&r, channels.data(), 0, 0, 3), 0);
    EXPECT_EQ(channels[216 * 2], 0x12);

    // The run's text sections, read and written through the server.
    {
        std::ofstream(folder / "LINE/240517_083000.txt", std::ios::binary)
            << "[HEADER]\r\nh\r\n[TEXT]\r\n";
    }
    char text[128];
    int size = sizeof text;
    EXPECT_EQ(store.ReadSection("HEADER", text, &size), 1);
    EXPECT_STREQ(text, "h\r\n");
    EXPECT_EQ(store.WriteText(1715934600, "remote event", nullptr, nullptr), 0);
    EXPECT_EQ(store.WriteHeaderText("new header"), 0);
    std::ifstream in(folder / "LINE/240517_083000.txt", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}),
              "[HEADER]\r\nnew header\r\n[TEXT]\r\n24/05/17 08:30:00 remote event\r\n");
    int32_t when = 0;
    EXPECT_EQ(store.GetTextTime(&when), 0);
    struct stat st;
    ASSERT_EQ(stat((folder / "LINE/240517_083000.txt").c_str(), &st), 0);
    EXPECT_EQ(lfile_TimeOf(when), st.st_mtim.tv_sec);
    EXPECT_EQ(store.WriteTextW(1715934600, u"x", nullptr, nullptr), -1); // UTF-16 only here
    // A text file under another name of the run is found through the server's listing.
    ASSERT_EQ(rename((folder / "LINE/240517_083000.txt").c_str(),
                     (folder / "LINE/240517_083000_240517_100000.txt").c_str()),
              0);
    size = sizeof text;
    EXPECT_EQ(store.ReadSection("HEADER", text, &size), 1);
    EXPECT_STREQ(text, "new header\r\n");

    // Nothing is written through the server.
    EXPECT_EQ(store.WriteLog(&r, back.data(), 1), -1);
    EXPECT_EQ(store.RewriteLog(0, &r, back.data(), 62), -1);

    // A run created for another computer takes its channel records from the server's current
    // values; a short reply fails the creation.
    std::string hexRecord;
    for (int c = 1; c <= 6; ++c) {
        std::string reply = std::string("1,000216");
        reply += std::string(216, static_cast<char>(0x60 + c));
        std::string hex;
        for (unsigned char b : reply) {
            char two[3];
            snprintf(two, sizeof two, "%02x", b);
            hex += two;
        }
        const char *prefix = c <= 3 ? "ai" : "di";
        ASSERT_TRUE(
            server.script(std::string("CV,") + prefix + "," + std::to_string(c) + " raw " + hex));
    }
    CLogFileStore created;
    LogHeader nh = fx::twoBlockHeader(1715934600);
    std::string local = folder / "LINE/240517_093000.odl";
    ASSERT_EQ(created.Create(local.c_str(), 0, &nh, spec.c_str(), nullptr), 0);
    std::vector<uint8_t> got(216 * 2);
    ASSERT_EQ(created.ReadChannelInfo(&nh, got.data(), 1, 0, 2), 0);
    EXPECT_EQ(got[0], 0x65);
    EXPECT_EQ(got[216], 0x66);
    created.Close();
    ASSERT_TRUE(server.script("CV,di,6 1,short"));
    nh = fx::twoBlockHeader(1715934600);
    EXPECT_EQ(created.Create(local.c_str(), 0, &nh, spec.c_str(), nullptr), -1);
    EXPECT_EQ(errno, 13);
    server.stop();
    srv_CloseAll();
}

} // namespace
