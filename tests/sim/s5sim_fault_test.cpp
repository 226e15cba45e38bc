// Every fault rule of the simulator, as a partner on the wire sees it, and the clean exchange
// that follows.
#include "s5sim_wire.h"

#include <gtest/gtest.h>

using namespace wire;
using s5sim::EventKind;

namespace {

const Bytes k_fetchM = Hex("00 00 45 4D 00 00 00 02 FF FF");
const Bytes k_fetchD = Hex("00 00 45 44 0C 00 00 02 FF FF");

struct FaultRig : Rig {
    explicit FaultRig(const std::string &rule, s5sim::Settings s = FastSettings()) : Rig(s) {
        std::string error;
        EXPECT_TRUE(sim.AddFault(rule, &error)) << error;
    }
    // Command handshake up to the simulator's answer to the frame.
    int SendCommand(const Bytes &telegram) {
        line->Send(STX);
        if (line->ReadByte(1000) != DLE) return -1;
        line->Send(Frame(telegram));
        return line->ReadByte(1000);
    }
    void ExpectCleanExchange() {
        EXPECT_EQ(ToHex(line->Exchange(k_fetchM)), "00 00 00 00 00 00") << "no recovery";
    }
};

TEST(S5SimFault, NoAckIgnoresStxUntilThePartnerGivesUp) {
    FaultRig rig("no_ack");
    Line &l = *rig.line;
    for (int i = 0; i < 3; ++i) {
        l.Send(STX);
        EXPECT_EQ(l.ReadByte(150), -1) << "attempt " << i;
    }
    l.Send(NAK);
    ASSERT_TRUE(rig.sim.log().WaitFor(EventKind::NakIn, 0, 1000));
    rig.ExpectCleanExchange();
}

TEST(S5SimFault, NakCommandRefusesEveryRepeatOfTheFrame) {
    FaultRig rig("nak_command@FETCH");
    EXPECT_EQ(rig.SendCommand(k_fetchM), NAK);
    EXPECT_EQ(rig.SendCommand(k_fetchM), NAK);
    rig.line->Send(NAK);
    ASSERT_TRUE(rig.sim.log().WaitFor(EventKind::NakIn, 0, 1000));
    rig.ExpectCleanExchange();
}

TEST(S5SimFault, AckNoReplyAcknowledgesAndStaysSilent) {
    FaultRig rig("ack_no_reply");
    EXPECT_EQ(rig.SendCommand(k_fetchM), DLE);
    EXPECT_EQ(rig.line->ReadByte(300), -1);
    rig.ExpectCleanExchange();
}

TEST(S5SimFault, ErrorByteOnlyWhereTheFilterMatches) {
    FaultRig rig("error_byte:0x0A@FETCH,D,12.0-12.255*2");
    Line &l = *rig.line;
    EXPECT_EQ(ToHex(l.Exchange(k_fetchM)), "00 00 00 00 00 00");
    EXPECT_EQ(ToHex(l.Exchange(Hex("00 00 45 44 0B 00 00 02 FF FF"))), "00 00 00 00 00 00 00 00");
    EXPECT_EQ(ToHex(l.Exchange(k_fetchD)), "00 00 00 0A");
    // A range that reaches into the filter from below matches too.
    EXPECT_EQ(ToHex(l.Exchange(Hex("00 00 41 44 0C 00 00 01 FF FF 00 05"))), "00 00 00 00");
    EXPECT_EQ(ToHex(l.Exchange(k_fetchD)), "00 00 00 0A");
    EXPECT_EQ(ToHex(l.Exchange(k_fetchD)), "00 00 00 00 00 05 00 00");
}

TEST(S5SimFault, ErrorByteOnSendLeavesMemoryAlone) {
    FaultRig rig("error_byte:7@SEND");
    EXPECT_EQ(ToHex(rig.line->Exchange(Hex("00 00 41 4D 00 00 00 01 FF FF 42"))), "00 00 00 07");
    EXPECT_EQ(ToHex(rig.line->Exchange(k_fetchM)), "00 00 00 00 00 00");
}

TEST(S5SimFault, ShortAndLongRepliesByOneElement) {
    FaultRig rig("short_reply@FETCH,D");
    std::string error;
    ASSERT_TRUE(rig.sim.AddFault("long_reply", &error));
    // The first rule only fits D; the M fetch falls to the second.
    EXPECT_EQ(ToHex(rig.line->Exchange(k_fetchD)), "00 00 00 00 00 00");
    EXPECT_EQ(ToHex(rig.line->Exchange(k_fetchM)), "00 00 00 00 00 00 00");
    rig.ExpectCleanExchange();
}

TEST(S5SimFault, TinyAndHugeRepliesAreRepeatedOnEveryAttempt) {
    for (const char *rule : {"tiny_reply", "huge_reply"}) {
        FaultRig rig(rule);
        Line &l = *rig.line;
        ASSERT_EQ(rig.SendCommand(k_fetchM), DLE);
        for (int attempt = 0; attempt < 3; ++attempt) {
            ASSERT_EQ(l.ReadByte(1000), STX) << rule;
            l.Send(DLE);
            bool ok = false;
            Bytes t = l.ReadFrame(true, 1000, &ok);
            EXPECT_TRUE(ok);
            EXPECT_EQ(t.size(), std::string(rule) == "tiny_reply" ? 3u : 150u) << rule;
            l.Send(NAK);
        }
        EXPECT_TRUE(rig.sim.log().WaitFor(EventKind::ReplyFailed, 0, 1000));
        EXPECT_EQ(rig.sim.counters().retransmissions, 2u);
        rig.ExpectCleanExchange();
    }
}

TEST(S5SimFault, BrokenReplyFrames) {
    struct Case {
        const char *rule;
        const char *tail; // the wire after the data of 00 00 00 00 00 00
    };
    for (Case c : {Case{"bad_bcc", "10 03 EC"}, Case{"bad_dle", "10 04"}, Case{"drop_etx", ""}}) {
        FaultRig rig(c.rule);
        Line &l = *rig.line;
        ASSERT_EQ(rig.SendCommand(k_fetchM), DLE);
        ASSERT_EQ(l.ReadByte(1000), STX);
        l.Send(DLE);
        Bytes expected = Hex("00 00 00 00 00 00");
        Bytes tail = Hex(c.tail);
        expected.insert(expected.end(), tail.begin(), tail.end());
        EXPECT_EQ(ToHex(l.Read(expected.size() + 1, 200)), ToHex(expected)) << c.rule;
        l.Send(NAK);
        ASSERT_EQ(l.ReadByte(1000), STX) << c.rule << ": the repeat carries the fault too";
        l.Send(DLE);
        EXPECT_EQ(ToHex(l.Read(expected.size() + 1, 200)), ToHex(expected)) << c.rule;
        l.Send(NAK);
        ASSERT_EQ(l.ReadByte(1000), STX);
        l.Send(NAK);
        EXPECT_TRUE(rig.sim.log().WaitFor(EventKind::ReplyFailed, 0, 1000));
        rig.ExpectCleanExchange();
    }
}

TEST(S5SimFault, SlowBytesLeaveAGapBeforeTheLastByte) {
    FaultRig rig("slow_bytes:250");
    Line &l = *rig.line;
    ASSERT_EQ(rig.SendCommand(k_fetchM), DLE);
    ASSERT_EQ(l.ReadByte(1000), STX);
    l.Send(DLE);
    EXPECT_EQ(ToHex(l.Read(8, 1000)), "00 00 00 00 00 00 10 03");
    EXPECT_EQ(l.ReadByte(200), -1);
    EXPECT_EQ(l.ReadByte(1000), 0x13);
    l.Send(DLE);
    EXPECT_TRUE(rig.sim.WaitReplies(1, 1000));
    rig.ExpectCleanExchange();
}

TEST(S5SimFault, GarbageBeforeStxHoldsNoStx) {
    FaultRig rig("garbage_before_stx:40");
    Line &l = *rig.line;
    ASSERT_EQ(rig.SendCommand(k_fetchM), DLE);
    Bytes junk = l.Read(40, 1000);
    ASSERT_EQ(junk.size(), 40u);
    for (uint8_t b : junk)
        EXPECT_NE(b, STX);
    EXPECT_EQ(l.ReadByte(1000), STX);
    l.Send(DLE);
    bool ok = false;
    EXPECT_EQ(ToHex(l.ReadFrame(true, 1000, &ok)), "00 00 00 00 00 00");
    l.Send(DLE);
    rig.ExpectCleanExchange();
}

TEST(S5SimFault, ConflictWithLowPriorityPartnerSendsItsOwnJob) {
    FaultRig rig("conflict:2");
    std::string error;
    s5sim::Location d1;
    ASSERT_TRUE(s5sim::ParseLocation("D1.0", &d1, &error));
    ASSERT_TRUE(rig.sim.memory().Set(d1, {0xBEEF}, &error));
    Line &l = *rig.line;
    for (int i = 0; i < 2; ++i) {
        l.Send(STX);
        ASSERT_EQ(l.ReadByte(1000), STX) << i;
        l.Send(DLE); // low priority: the partner takes the simulator's block
        bool ok = false;
        EXPECT_EQ(ToHex(l.ReadFrame(true, 1000, &ok)), "00 00 41 44 01 00 00 01 FF FF BE EF");
        EXPECT_TRUE(ok);
        l.Send(DLE);
    }
    // After N conflicts the simulator yields and serves the command.
    EXPECT_EQ(ToHex(l.Exchange(k_fetchM)), "00 00 00 00 00 00");
    EXPECT_EQ(rig.sim.counters().conflicts, 2u);
    rig.ExpectCleanExchange();
}

TEST(S5SimFault, ConflictWithHighPriorityPartnerYieldsAfterN) {
    FaultRig rig("conflict:3");
    Line &l = *rig.line;
    l.Send(STX);
    // The partner waits for DLE; each STX of ours is one more conflict it sees.
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(l.ReadByte(1000), STX) << i;
    ASSERT_EQ(l.ReadByte(1000), DLE);
    l.Send(Frame(k_fetchM));
    ASSERT_EQ(l.ReadByte(1000), DLE);
    ASSERT_EQ(l.ReadByte(1000), STX);
    l.Send(DLE);
    bool ok = false;
    EXPECT_EQ(ToHex(l.ReadFrame(true, 1000, &ok)), "00 00 00 00 00 00");
    l.Send(DLE);
    rig.ExpectCleanExchange();
}

TEST(S5SimFault, EndlessConflictEndsWithThePartnersNak) {
    FaultRig rig("conflict:1000");
    Line &l = *rig.line;
    l.Send(STX);
    ASSERT_EQ(l.ReadByte(1000), STX);
    ASSERT_EQ(l.ReadByte(1000), STX);
    l.Send(NAK); // the partner's bound is reached
    ASSERT_TRUE(rig.sim.log().WaitFor(EventKind::NakIn, 0, 1000));
    // Drain what the simulator sent before it saw the NAK.
    while (l.ReadByte(150) >= 0) {
    }
    rig.ExpectCleanExchange();
}

TEST(S5SimFault, UnsolicitedSendInsteadOfTheReply) {
    FaultRig rig("unsolicited_send");
    EXPECT_EQ(ToHex(rig.line->Exchange(k_fetchM)), "00 00 41 44 01 00 00 01 FF FF 00 00");
    rig.ExpectCleanExchange();
}

TEST(S5SimFault, DelayReplyPostponesTheStx) {
    FaultRig rig("delay_reply:200");
    ASSERT_EQ(rig.SendCommand(k_fetchM), DLE);
    int64_t t0 = NowMs();
    EXPECT_EQ(rig.line->ReadByte(1000), STX);
    EXPECT_GE(NowMs() - t0, 190);
    rig.line->Send(DLE);
    bool ok = false;
    rig.line->ReadFrame(true, 1000, &ok);
    rig.line->Send(DLE);
    rig.ExpectCleanExchange();
}

TEST(S5SimFault, ClosePortPullsTheLine) {
    FaultRig rig("close_port");
    Line &l = *rig.line;
    l.Send(STX);
    ASSERT_EQ(l.ReadByte(1000), DLE);
    l.Send(Frame(k_fetchM));
    ASSERT_TRUE(rig.sim.log().WaitFor(EventKind::PortClosed, 0, 1000));
    pollfd p = {l.fd(), POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 1000), 1);
    EXPECT_TRUE(p.revents & (POLLHUP | POLLERR));
    uint8_t b;
    EXPECT_LE(read(l.fd(), &b, 1), 0);
    // The simulator keeps running without a line until stopped.
    rig.sim.Stop();
    EXPECT_TRUE(rig.sim.log().WaitFor(EventKind::Stopped, 0, 1000));
}

TEST(S5SimFault, CountsProbabilityAndOrder) {
    FaultRig rig("error_byte:1*2");
    std::string error;
    ASSERT_TRUE(rig.sim.AddFault("error_byte:2%100", &error));
    Line &l = *rig.line;
    EXPECT_EQ(ToHex(l.Exchange(k_fetchM)), "00 00 00 01");
    EXPECT_EQ(ToHex(l.Exchange(k_fetchM)), "00 00 00 01");
    EXPECT_EQ(ToHex(l.Exchange(k_fetchM)), "00 00 00 02");
    EXPECT_EQ(ToHex(l.Exchange(k_fetchM)), "00 00 00 02");
    rig.sim.faults().Clear();
    ASSERT_TRUE(rig.sim.AddFault("error_byte:3%0", &error));
    rig.ExpectCleanExchange();
    EXPECT_EQ(rig.sim.counters().faults, 4u);
}

TEST(S5SimFault, ProbabilityIsRepeatableForASeed) {
    auto run = [](uint64_t seed) {
        s5sim::FaultList list(seed);
        s5sim::FaultRule r;
        std::string error;
        EXPECT_TRUE(s5sim::ParseFaultRule("error_byte:1%50", &r, &error));
        list.Add(r);
        s5sim::Command cmd = s5sim::DecodeCommand(k_fetchM.data(), k_fetchM.size());
        std::string hits;
        for (int i = 0; i < 64; ++i)
            hits += list.Match(&cmd, &r) ? '1' : '0';
        return hits;
    };
    EXPECT_EQ(run(7), run(7));
    EXPECT_NE(run(7), run(8));
    std::string h = run(7);
    EXPECT_NE(h.find('1'), std::string::npos);
    EXPECT_NE(h.find('0'), std::string::npos);
}

} // namespace
