// A run on another computer, read through the runtime stand-in's file service over TLS.
#include "ldf.h"
#include "lstore_file.h"
#include "sim_net.h"
#include "srv.h"
#include "srv_kinds.h"
#include "store_fixture.h"
#include "temp_registry.h"
#include "test_ipc.h"

#include <gtest/gtest.h>

#include <cerrno>
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

    // Nothing is written through the server.
    EXPECT_EQ(store.WriteLog(&r, back.data(), 1), -1);
    EXPECT_EQ(store.RewriteLog(0, &r, back.data(), 62), -1);
    server.stop();
    srv_CloseAll();
}

} // namespace
