// The simulator's pieces without a line: memory, telegram decoding, rule and option parsing,
// the command input and the event log's waits.
#include "s5sim_command.h"

#include <gtest/gtest.h>

#include <thread>

using namespace s5sim;

namespace {

TEST(S5SimMemory, AreasHaveTheirSizesAndBlocksTheirWords) {
    Memory m;
    std::vector<uint8_t> wire;
    EXPECT_EQ(m.Fetch(AreaFromLetter('M'), 65535, 1, &wire), 0);
    EXPECT_EQ(m.Fetch(AreaFromLetter('M'), 65535, 2, &wire), kErrNoMemory);
    EXPECT_EQ(m.Fetch(AreaFromLetter('S'), 65534, 2, &wire), 0);
    EXPECT_EQ(wire.size(), 4u);
    EXPECT_EQ(m.Fetch(0, 255 << 8 | 255, 1, &wire), 0); // DB255 DW255
    EXPECT_EQ(m.Fetch(0, 255 << 8 | 255, 2, &wire), kErrNoMemory);

    m.DefineBlocks(1, {{5, 300}});
    EXPECT_EQ(m.Fetch(1, 4 << 8, 1, &wire), kErrNoMemory);
    EXPECT_EQ(m.Fetch(1, 5 << 8 | 200, 100, &wire), 0); // a block may reach past word 255
    EXPECT_EQ(m.Fetch(1, 5 << 8 | 200, 101, &wire), kErrNoMemory);
    EXPECT_EQ(m.Fetch(0, 4 << 8, 1, &wire), 0); // D keeps its default blocks
}

TEST(S5SimMemory, WireIsHighByteFirstAndSetChecksWidths) {
    Memory m;
    std::string error;
    const uint8_t data[] = {0x12, 0x34, 0xAB, 0xCD};
    EXPECT_EQ(m.Store(AreaFromLetter('Z'), 9, 2, data), 0);
    std::vector<uint32_t> v;
    ASSERT_TRUE(m.Get(Location{AreaFromLetter('Z'), 0, 9}, 2, &v, &error));
    EXPECT_EQ(v, (std::vector<uint32_t>{0x1234, 0xABCD}));
    EXPECT_FALSE(m.Set(Location{AreaFromLetter('E'), 0, 0}, {0x100}, &error));
    EXPECT_FALSE(m.Set(Location{0, 0, 255}, {1, 2}, &error));
    EXPECT_NE(error.find("D0.255"), std::string::npos);
    ASSERT_TRUE(m.Set(Location{AreaFromLetter('E'), 0, 4}, {0xFF}, &error));
    std::vector<uint8_t> wire;
    EXPECT_EQ(m.Fetch(AreaFromLetter('E'), 4, 1, &wire), 0);
    EXPECT_EQ(wire, std::vector<uint8_t>{0xFF});
}

TEST(S5SimMemory, LocationsParseAndFormat) {
    Location l;
    std::string error;
    ASSERT_TRUE(ParseLocation("D10.5", &l, &error));
    EXPECT_EQ(l.area, 0);
    EXPECT_EQ(l.block, 10);
    EXPECT_EQ(l.address, 5u);
    EXPECT_EQ(FormatLocation(l), "D10.5");
    ASSERT_TRUE(ParseLocation("t12", &l, &error));
    EXPECT_EQ(FormatLocation(l), "T12");
    for (const char *bad : {"", "D10", "D256.0", "M65536", "K1", "M", "M-1", "X1.x"})
        EXPECT_FALSE(ParseLocation(bad, &l, &error)) << bad;
}

TEST(S5SimRk, DecodesAndServesCommands) {
    Memory m;
    std::string error;
    ASSERT_TRUE(m.Set(Location{0, 10, 5}, {100, 500, 65535}, &error));
    const uint8_t fetch[] = {0, 0, 'E', 'D', 10, 5, 0, 3, 0xFF, 0xFF};
    Command c = DecodeCommand(fetch, sizeof fetch);
    EXPECT_EQ(c.op, kOpFetch);
    EXPECT_EQ(c.count, 3);
    EXPECT_EQ(HexBytes(ServeCommand(c, m).data(), 10), "00 00 00 00 00 64 01 F4 FF FF");

    const uint8_t not_rk[] = {1, 0, 'E', 'D', 10, 5, 0, 3, 0xFF, 0xFF};
    EXPECT_EQ(DecodeCommand(not_rk, sizeof not_rk).error, kErrBadTelegram);
    const uint8_t send_short[] = {0, 0, 'A', 'M', 0, 0, 0, 2, 0xFF, 0xFF, 1};
    std::vector<uint8_t> reply = ServeCommand(DecodeCommand(send_short, sizeof send_short), m);
    EXPECT_EQ(HexBytes(reply.data(), reply.size()), "00 00 00 0C");
    EXPECT_EQ(HexBytes(OwnSendJob(0x1234).data(), 12), "00 00 41 44 01 00 00 01 FF FF 12 34");
}

TEST(S5SimFaultRule, ParsesTheRuleGrammar) {
    FaultRule r;
    std::string error;
    ASSERT_TRUE(ParseFaultRule("error_byte:0x0A@FETCH,E", &r, &error)) << error;
    EXPECT_EQ(r.kind, FaultKind::ErrorByte);
    EXPECT_EQ(r.arg, 0x0Au);
    EXPECT_EQ(r.op, kOpFetch);
    EXPECT_EQ(r.area, AreaFromLetter('E'));
    EXPECT_EQ(r.remaining, 1);

    ASSERT_TRUE(ParseFaultRule("ack_no_reply@FETCH,D,12.0-12.255*3", &r, &error)) << error;
    EXPECT_TRUE(r.ranged);
    EXPECT_EQ(r.from, 12u << 16);
    EXPECT_EQ(r.to, 12u << 16 | 255);
    EXPECT_EQ(r.remaining, 3);

    ASSERT_TRUE(ParseFaultRule("slow_bytes:300@any,M,10-20%25", &r, &error)) << error;
    EXPECT_EQ(r.remaining, -1);
    EXPECT_DOUBLE_EQ(r.probability, 25.0);
    EXPECT_EQ(r.from, 10u);

    for (const char *bad :
         {"nothing", "error_byte", "error_byte:256", "no_ack:1", "no_ack@FETCH", "conflict:2@SEND",
          "bad_bcc@READ", "bad_bcc@FETCH,K", "bad_bcc@FETCH,D,12-13", "bad_bcc@ANY,M,20-10",
          "bad_bcc*0", "bad_bcc%101", "bad_bcc@FETCH,ANY,1-2", "bad_bcc@A,M,1-2,3"})
        EXPECT_FALSE(ParseFaultRule(bad, &r, &error)) << bad;
}

TEST(S5SimOptions, CommandLine) {
    const char *argv[] = {
        "s5sim",  "--pty",        "/tmp/x/COM7", "--bcc",  "off",     "--priority",
        "low",    "--char-delay", "50",          "--ack",  "400",     "--retries",
        "2",      "--reaction",   "0",           "--seed", "0x10",    "--db",
        "3:10",   "--dx",         "4",           "--set",  "M7=0x89", "--fault",
        "no_ack", "--log",        "/tmp/x/log"};
    Options o;
    std::string error;
    ASSERT_TRUE(
        ParseOptions(static_cast<int>(std::size(argv)), const_cast<char **>(argv), &o, &error))
        << error;
    EXPECT_EQ(o.pty_link, "/tmp/x/COM7");
    EXPECT_FALSE(o.settings.bcc);
    EXPECT_FALSE(o.settings.high_priority);
    EXPECT_EQ(o.settings.char_delay_ms, 50);
    EXPECT_EQ(o.settings.ack_timeout_ms, 400);
    EXPECT_EQ(o.settings.retries, 2);
    EXPECT_EQ(o.settings.reaction_ms, 0);
    EXPECT_EQ(o.settings.seed, 16u);
    EXPECT_EQ(o.settings.db, (std::vector<std::pair<int, int>>{{3, 10}}));
    EXPECT_EQ(o.settings.dx, (std::vector<std::pair<int, int>>{{4, 256}}));
    EXPECT_EQ(o.faults, std::vector<std::string>{"no_ack"});

    auto fails = [](std::vector<const char *> args) {
        Options o;
        std::string error;
        args.insert(args.begin(), "s5sim");
        return !ParseOptions(static_cast<int>(args.size()), const_cast<char **>(args.data()), &o,
                             &error) &&
               !error.empty();
    };
    EXPECT_TRUE(fails({}));
    EXPECT_TRUE(fails({"--pty", "a", "--port", "b"}));
    EXPECT_TRUE(fails({"--pty", "a", "--bcc", "maybe"}));
    EXPECT_TRUE(fails({"--pty", "a", "--retries", "0"}));
    EXPECT_TRUE(fails({"--pty", "a", "--db", "256"}));
    EXPECT_TRUE(fails({"--pty", "a", "--set", "E1=256"}));
    EXPECT_TRUE(fails({"--pty", "a", "--fault", "bogus"}));
    EXPECT_TRUE(fails({"--pty", "a", "--ack"}));
}

TEST(S5SimCommandInput, SetGetFaultCountersQuit) {
    Simulator sim(Settings{});
    bool quit = false;
    EXPECT_EQ(RunCommand(sim, "set D10.5=1,0x10,65535", &quit), "ok\n");
    EXPECT_EQ(RunCommand(sim, "get D10.5 3", &quit), "value D10.5 1 16 65535\n");
    EXPECT_EQ(RunCommand(sim, "get M0", &quit), "value M0 0\n");
    EXPECT_EQ(RunCommand(sim, "set M0=300", &quit).rfind("error ", 0), 0u);
    EXPECT_EQ(RunCommand(sim, "get D10.255 2", &quit).rfind("error ", 0), 0u);
    EXPECT_EQ(RunCommand(sim, "fault bad_bcc*2", &quit), "ok\n");
    EXPECT_EQ(sim.faults().Rules().size(), 1u);
    EXPECT_EQ(RunCommand(sim, "fault what", &quit).rfind("error ", 0), 0u);
    EXPECT_EQ(RunCommand(sim, "clear-faults", &quit), "ok\n");
    EXPECT_TRUE(sim.faults().Rules().empty());
    EXPECT_EQ(RunCommand(sim, "counters", &quit).rfind("counters commands 0 ", 0), 0u);
    EXPECT_EQ(RunCommand(sim, "   ", &quit), "");
    EXPECT_EQ(RunCommand(sim, "dance", &quit).rfind("error ", 0), 0u);
    EXPECT_FALSE(quit);
    RunCommand(sim, "quit", &quit);
    EXPECT_TRUE(quit);
}

TEST(S5SimEventLog, WaitsEndOnTheEventOrTheirTimeOut) {
    EventLog log;
    uint64_t from = log.NextSeq();
    log.Add(EventKind::Command, "first");
    std::thread later([&] {
        log.Add(EventKind::Command, "second");
        log.Add(EventKind::NakIn);
    });
    Event e;
    EXPECT_TRUE(log.WaitFor(EventKind::NakIn, from, 2000, &e));
    later.join();
    EXPECT_TRUE(log.WaitFor(EventKind::Command, from, 0, &e));
    EXPECT_EQ(e.text, "first");
    EXPECT_FALSE(log.WaitFor(EventKind::BccError, from, 20));
    log.SetCapacity(2);
    EXPECT_EQ(log.Since(0).size(), 2u);
    EXPECT_EQ(log.Since(0).front().text, "second");
}

} // namespace
