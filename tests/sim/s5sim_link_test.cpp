// The simulator's passive side, its replies and its responder, driven over its pty with
// hand-written frames.
#include "s5sim_wire.h"

#include <gtest/gtest.h>

using namespace wire;
using s5sim::EventKind;
using s5sim::Location;

namespace {

std::vector<uint32_t> Get(s5sim::Simulator &sim, const std::string &where, uint32_t n) {
    Location loc;
    std::string error;
    std::vector<uint32_t> v;
    EXPECT_TRUE(s5sim::ParseLocation(where, &loc, &error)) << error;
    EXPECT_TRUE(sim.memory().Get(loc, n, &v, &error)) << error;
    return v;
}

void Set(s5sim::Simulator &sim, const std::string &where, const std::vector<uint32_t> &v) {
    Location loc;
    std::string error;
    ASSERT_TRUE(s5sim::ParseLocation(where, &loc, &error)) << error;
    ASSERT_TRUE(sim.memory().Set(loc, v, &error)) << error;
}

TEST(S5SimLink, FetchAnswersWithGoldenFrames) {
    Rig rig;
    ASSERT_TRUE(rig.opened);
    Set(rig.sim, "D10.5", {100, 500, 65535});
    Line &l = *rig.line;
    l.Send(STX);
    EXPECT_EQ(l.ReadByte(1000), DLE);
    l.Send(Hex("00 00 45 44 0A 05 00 03 FF FF 10 03 1E"));
    EXPECT_EQ(l.ReadByte(1000), DLE);
    EXPECT_EQ(l.ReadByte(1000), STX);
    l.Send(DLE);
    EXPECT_EQ(ToHex(l.Read(13, 1000)), "00 00 00 00 00 64 01 F4 FF FF 10 03 82");
    l.Send(DLE);
    EXPECT_TRUE(rig.sim.WaitReplies(1, 2000));
    EXPECT_EQ(rig.sim.counters().commands, 1u);
}

TEST(S5SimLink, SendWritesMemoryAndAnswersGoldenReply) {
    Rig rig;
    Line &l = *rig.line;
    l.Send(STX);
    ASSERT_EQ(l.ReadByte(1000), DLE);
    l.Send(Hex("00 00 41 4D 00 07 00 01 FF FF 89 10 03 90"));
    ASSERT_EQ(l.ReadByte(1000), DLE);
    ASSERT_EQ(l.ReadByte(1000), STX);
    l.Send(DLE);
    EXPECT_EQ(ToHex(l.Read(7, 1000)), "00 00 00 00 10 03 13");
    l.Send(DLE);
    EXPECT_TRUE(rig.sim.WaitReplies(1, 2000));
    EXPECT_EQ(Get(rig.sim, "M7", 1), std::vector<uint32_t>{0x89});
}

TEST(S5SimLink, DleIsDoubledInHeaderAndDataAndCoveredByBcc) {
    Rig rig;
    std::vector<uint32_t> words(16, 0x1010);
    words[3] = 0x0210;
    Set(rig.sim, "D16.16", words);
    Line &l = *rig.line;
    l.Send(STX);
    ASSERT_EQ(l.ReadByte(1000), DLE);
    l.Send(Hex("00 00 45 44 10 10 10 10 00 10 10 FF FF 10 03 12"));
    ASSERT_EQ(l.ReadByte(1000), DLE);
    ASSERT_EQ(l.ReadByte(1000), STX);
    l.Send(DLE);
    Bytes telegram = {0, 0, 0, 0};
    for (uint32_t w : words) {
        telegram.push_back(static_cast<uint8_t>(w >> 8));
        telegram.push_back(static_cast<uint8_t>(w));
    }
    Bytes expected = Frame(telegram);
    EXPECT_EQ(ToHex(l.Read(expected.size(), 1000)), ToHex(expected));
    l.Send(DLE);
    EXPECT_TRUE(rig.sim.WaitReplies(1, 2000));
    auto cmds = rig.sim.log().Since(0);
    bool seen = false;
    for (const auto &e : cmds)
        seen |= e.kind == EventKind::Command && e.text == "FETCH D16.16 count 16";
    EXPECT_TRUE(seen);
}

TEST(S5SimLink, BlockCheckOffSendsAndExpectsNoBcc) {
    s5sim::Settings s = FastSettings();
    s.bcc = false;
    Rig rig(s);
    Set(rig.sim, "T3", {0x1234});
    EXPECT_EQ(ToHex(rig.line->Exchange(Hex("00 00 45 54 00 03 00 01 FF FF"), false)),
              "00 00 00 00 12 34");
    // With the check off a trailing byte is not a BCC: it is a stray byte in idle.
    EXPECT_EQ(rig.line->ReadByte(150), -1);
}

TEST(S5SimLink, BadFramesAreNakedAndTheNextOneServed) {
    Rig rig;
    Line &l = *rig.line;
    Bytes good = Frame(Hex("00 00 45 4D 00 00 00 01 FF FF"));

    Bytes bad_bcc = good;
    bad_bcc.back() ^= 0x01;
    l.Send(STX);
    ASSERT_EQ(l.ReadByte(1000), DLE);
    l.Send(bad_bcc);
    EXPECT_EQ(l.ReadByte(1000), NAK);

    l.Send(STX);
    ASSERT_EQ(l.ReadByte(1000), DLE);
    l.Send(Hex("00 00 10 41"));
    EXPECT_EQ(l.ReadByte(1000), NAK);

    // A byte that does not come within the character delay.
    l.Send(STX);
    ASSERT_EQ(l.ReadByte(1000), DLE);
    int64_t t0 = NowMs();
    l.Send(Hex("00 00 45"));
    EXPECT_EQ(l.ReadByte(1000), NAK);
    EXPECT_GE(NowMs() - t0, 90);

    EXPECT_EQ(ToHex(l.Exchange(Hex("00 00 45 4D 00 00 00 01 FF FF"))), "00 00 00 00 00");
    EXPECT_EQ(rig.sim.counters().naks_sent, 3u);
    bool bcc = false, dle = false, timeout = false;
    for (const auto &e : rig.sim.log().Since(0)) {
        bcc |= e.kind == EventKind::BccError;
        dle |= e.kind == EventKind::DleError;
        timeout |= e.kind == EventKind::Timeout;
    }
    EXPECT_TRUE(bcc && dle && timeout);
}

TEST(S5SimLink, IdleIgnoresEverythingButStx) {
    Rig rig;
    Line &l = *rig.line;
    l.Send(Hex("10 15 55 03 FF"));
    EXPECT_EQ(l.ReadByte(150), -1);
    EXPECT_EQ(ToHex(l.Exchange(Hex("00 00 45 45 00 00 00 01 FF FF"))), "00 00 00 00 00");
}

TEST(S5SimLink, ErrorRepliesForTelegramsTheControllerCannotTake) {
    s5sim::Settings s = FastSettings();
    s.db = {{3, 10}};
    Rig rig(s);
    Line &l = *rig.line;
    // Under 10 bytes, unknown command, unknown letter: 0x0C, acknowledged, not NAKed.
    EXPECT_EQ(ToHex(l.Exchange(Hex("00 00 45 44"))), "00 00 00 0C");
    EXPECT_EQ(ToHex(l.Exchange(Hex("00 00 46 44 03 00 00 01 FF FF"))), "00 00 00 0C");
    EXPECT_EQ(ToHex(l.Exchange(Hex("00 00 45 4B 00 00 00 01 FF FF"))), "00 00 00 0C");
    // SEND data that is not count x element size.
    EXPECT_EQ(ToHex(l.Exchange(Hex("00 00 41 44 03 00 00 02 FF FF 00 01 00"))), "00 00 00 0C");
    // Only DB 3 with 10 words exists.
    EXPECT_EQ(ToHex(l.Exchange(Hex("00 00 45 44 04 00 00 01 FF FF"))), "00 00 00 0A");
    EXPECT_EQ(ToHex(l.Exchange(Hex("00 00 45 44 03 08 00 03 FF FF"))), "00 00 00 0A");
    EXPECT_EQ(ToHex(l.Exchange(Hex("00 00 45 44 03 08 00 02 FF FF"))), "00 00 00 00 00 00 00 00");
    // Past the end of a byte area and of a word area.
    EXPECT_EQ(ToHex(l.Exchange(Hex("00 00 45 45 FF FF 00 02 FF FF"))), "00 00 00 0A");
    EXPECT_EQ(ToHex(l.Exchange(Hex("00 00 41 5A FF FF 00 02 FF FF 00 01 00 02"))), "00 00 00 0A");
    EXPECT_EQ(rig.sim.counters().naks_sent, 0u);
}

TEST(S5SimLink, EveryAreaIsFetchedAndSentHighByteFirst) {
    Rig rig;
    Line &l = *rig.line;
    const std::string letters = "DXEAPQMZTBS";
    for (char a : letters) {
        int area = s5sim::AreaFromLetter(a);
        int size = s5sim::AreaElementSize(area);
        bool block = s5sim::AreaIsBlock(area);
        Bytes header = {
            0, 0,    'A', static_cast<uint8_t>(a), static_cast<uint8_t>(block ? 7 : 0), 20, 0,
            2, 0xFF, 0xFF};
        Bytes data = size == 2 ? Hex("12 34 AB CD") : Hex("5A A5");
        Bytes send = header;
        send.insert(send.end(), data.begin(), data.end());
        EXPECT_EQ(ToHex(l.Exchange(send)), "00 00 00 00") << a;
        std::string where = std::string(1, a) + (block ? "7.20" : "20");
        std::vector<uint32_t> want =
            size == 2 ? std::vector<uint32_t>{0x1234, 0xABCD} : std::vector<uint32_t>{0x5A, 0xA5};
        EXPECT_EQ(Get(rig.sim, where, 2), want) << a;
        Bytes fetch = header;
        fetch[2] = 'E';
        Bytes reply = {0, 0, 0, 0};
        reply.insert(reply.end(), data.begin(), data.end());
        EXPECT_EQ(ToHex(l.Exchange(fetch)), ToHex(reply)) << a;
    }
}

TEST(S5SimLink, ReplyIsRepeatedAfterNakAndCounted) {
    Rig rig;
    Line &l = *rig.line;
    l.Send(STX);
    ASSERT_EQ(l.ReadByte(1000), DLE);
    l.Send(Frame(Hex("00 00 45 4D 00 00 00 01 FF FF")));
    ASSERT_EQ(l.ReadByte(1000), DLE);
    ASSERT_EQ(l.ReadByte(1000), STX);
    l.Send(DLE);
    bool ok = false;
    l.ReadFrame(true, 1000, &ok);
    ASSERT_TRUE(ok);
    l.Send(NAK);
    ASSERT_EQ(l.ReadByte(1000), STX);
    l.Send(DLE);
    EXPECT_EQ(ToHex(l.ReadFrame(true, 1000, &ok)), "00 00 00 00 00");
    l.Send(DLE);
    ASSERT_TRUE(rig.sim.WaitReplies(1, 2000));
    auto c = rig.sim.counters();
    EXPECT_EQ(c.naks_received, 1u);
    EXPECT_EQ(c.retransmissions, 1u);
}

TEST(S5SimLink, DeafPartnerGetsRetriesStxAtAckIntervals) {
    Rig rig; // 3 retries, 300 ms acknowledgement
    Line &l = *rig.line;
    l.Send(STX);
    ASSERT_EQ(l.ReadByte(1000), DLE);
    l.Send(Frame(Hex("00 00 45 4D 00 00 00 01 FF FF")));
    ASSERT_EQ(l.ReadByte(1000), DLE);
    std::vector<int64_t> at;
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(l.ReadByte(1000), STX);
        at.push_back(NowMs());
    }
    EXPECT_EQ(l.ReadByte(500), -1);
    EXPECT_GE(at[1] - at[0], 280);
    EXPECT_GE(at[2] - at[1], 280);
    s5sim::Event e;
    EXPECT_TRUE(rig.sim.log().WaitFor(EventKind::ReplyFailed, 0, 2000, &e));
    EXPECT_EQ(rig.sim.counters().retransmissions, 2u);
}

TEST(S5SimLink, ConflictOnReplyAtHighPriorityKeepsWaitingForDle) {
    Rig rig;
    Line &l = *rig.line;
    l.Send(STX);
    ASSERT_EQ(l.ReadByte(1000), DLE);
    l.Send(Frame(Hex("00 00 45 4D 00 00 00 01 FF FF")));
    ASSERT_EQ(l.ReadByte(1000), DLE);
    ASSERT_EQ(l.ReadByte(1000), STX);
    l.Send(STX); // the partner starts a block of its own at the same moment
    EXPECT_EQ(l.ReadByte(100), -1);
    l.Send(DLE); // and yields
    bool ok = false;
    EXPECT_EQ(ToHex(l.ReadFrame(true, 1000, &ok)), "00 00 00 00 00");
    EXPECT_TRUE(ok);
    l.Send(DLE);
    EXPECT_TRUE(rig.sim.WaitReplies(1, 2000));
    EXPECT_EQ(rig.sim.counters().conflicts, 1u);
    EXPECT_EQ(rig.sim.counters().retransmissions, 0u);
}

TEST(S5SimLink, ConflictOnReplyAtLowPriorityTakesPartnerBlockThenRetries) {
    s5sim::Settings s = FastSettings();
    s.high_priority = false;
    Rig rig(s);
    Line &l = *rig.line;
    l.Send(STX);
    ASSERT_EQ(l.ReadByte(1000), DLE);
    l.Send(Frame(Hex("00 00 45 4D 00 00 00 01 FF FF")));
    ASSERT_EQ(l.ReadByte(1000), DLE);
    ASSERT_EQ(l.ReadByte(1000), STX);
    l.Send(STX);
    ASSERT_EQ(l.ReadByte(1000), DLE); // it takes our block
    l.Send(Frame(Hex("00 00 41 4D 00 01 00 01 FF FF 77")));
    ASSERT_EQ(l.ReadByte(1000), DLE); // acknowledged and dropped
    ASSERT_EQ(l.ReadByte(1000), STX); // its reply again
    l.Send(DLE);
    bool ok = false;
    EXPECT_EQ(ToHex(l.ReadFrame(true, 1000, &ok)), "00 00 00 00 00");
    l.Send(DLE);
    EXPECT_TRUE(rig.sim.WaitReplies(1, 2000));
    EXPECT_EQ(Get(rig.sim, "M1", 1), std::vector<uint32_t>{0}); // dropped, not served
    EXPECT_TRUE(rig.sim.log().WaitFor(EventKind::Dropped, 0, 100));
}

TEST(S5SimLink, EventLogIsStampedInOrderAndCoversTheWire) {
    Rig rig;
    rig.line->Exchange(Hex("00 00 45 4D 00 00 00 01 FF FF"));
    ASSERT_TRUE(rig.sim.WaitReplies(1, 2000));
    auto events = rig.sim.log().Since(0);
    ASSERT_FALSE(events.empty());
    size_t rx = 0, tx = 0;
    for (size_t i = 1; i < events.size(); ++i) {
        EXPECT_GE(events[i].ms, events[i - 1].ms);
        EXPECT_EQ(events[i].seq, events[i - 1].seq + 1);
    }
    for (const auto &e : events) {
        rx += e.kind == EventKind::Rx;
        tx += e.kind == EventKind::Tx;
    }
    // STX, 13 frame bytes, DLE, DLE in; DLE, DLE, STX, frame out.
    EXPECT_EQ(rx, 1u + 13u + 2u);
    EXPECT_EQ(tx, 4u);
}

TEST(S5SimLink, PartnerThatClosesAndReopensTheLineIsServedAgain) {
    Rig rig;
    std::string path = rig.sim.PortPath();
    rig.line->Close();
    // No partner: the simulator waits without spinning and serves the next open.
    Line again(path);
    ASSERT_TRUE(again.ok());
    EXPECT_EQ(ToHex(again.Exchange(Hex("00 00 45 4D 00 00 00 01 FF FF"))), "00 00 00 00 00");
}

TEST(S5SimLink, PtyIsPublishedAsSymlinkAndRemovedAtExit) {
    char tmpl[] = "/tmp/s5sim_link_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    std::string link = std::string(tmpl) + "/COM7";
    {
        s5sim::Simulator sim(FastSettings());
        std::string error;
        ASSERT_TRUE(sim.OpenPty(link, &error)) << error;
        char target[256] = {};
        ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
        EXPECT_EQ(std::string(target), sim.PortPath());
        sim.Start();
        Line l(link);
        ASSERT_TRUE(l.ok());
        EXPECT_EQ(ToHex(l.Exchange(Hex("00 00 45 4D 00 00 00 01 FF FF"))), "00 00 00 00 00");
    }
    EXPECT_NE(access(link.c_str(), F_OK), 0);
    rmdir(tmpl);
}

} // namespace
