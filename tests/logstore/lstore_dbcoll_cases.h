// A collection of runs in one database, driven the same way on every engine.
#pragma once

#include "chrec.h"
#include "dbrun_cases.h"
#include "lstore_dbcoll.h"
#include "tag.h"

#include <array>
#include <cctype>
#include <functional>
#include <set>

namespace dbcoll {

struct Channels {
    std::array<ChannelRecord, 3> analogue{};
    std::array<ChannelRecord, 2> digital{};
    const void *blocks[2];
    Channels(const char *tag0 = "Flow Rate", const char *tag1 = "DT") {
        for (int k = 0; k < 3; ++k) {
            chrec_SetType(&analogue[k], CHANNEL_TYPE_AI);
            chrec_SetFlag(&analogue[k], 7, 1);
            tag_SetUnits(&analogue[k], "m3/h");
            tag_SetDescription(&analogue[k], "Feed line");
            chrec_Set(&analogue[k], ChannelAnalog::MinimumUnits, -5.0f);
            chrec_Set(&analogue[k], ChannelAnalog::MaximumUnits, 250.0f);
        }
        tag_SetTag(&analogue[0], tag0);
        tag_SetTag(&analogue[1], tag1);
        for (auto &d : digital) {
            chrec_SetType(&d, CHANNEL_TYPE_DI);
            chrec_SetFlag(&d, 7, 1);
            chrec_SetText(&d, ChannelDigital::HighStateText, "OPEN");
            chrec_SetText(&d, ChannelDigital::LowStateText, "SHUT");
        }
        blocks[0] = analogue.data();
        blocks[1] = digital.data();
    }
};

inline LogHeader header(int32_t start, bool tagColumns) {
    LogHeader h{};
    h.start = start;
    h.blockCount = 2;
    std::memcpy(h.blocks[0].prefix, "AI", 2);
    h.blocks[0].first = 1;
    h.blocks[0].last = 3;
    h.blocks[0].valueKind = 8;
    std::memcpy(h.blocks[0].source, "Pumps", 5);
    std::memcpy(h.blocks[1].prefix, "DI", 2);
    h.blocks[1].first = 4;
    h.blocks[1].last = 5;
    h.blocks[1].valueKind = 8;
    h.tagColumns = tagColumns ? 1 : 0;
    ldf_LayoutRecord(&h);
    return h;
}

inline std::vector<std::string> listRuns(CLogCollection &c) {
    std::vector<std::string> out;
    int size = 0;
    if (c.FindFirst(&size) != 1) return out;
    EXPECT_EQ(size, 20);
    char name[20];
    LogTimePair start{}, stop{};
    while (c.FindNext(name, &start, &stop) == 1)
        out.push_back(std::string(name) + " " + std::to_string(start.seconds) + " " +
                      std::to_string(stop.seconds));
    return out;
}

inline std::string coll_connection(CLogCollection &c) {
    return dynamic_cast<CLogDbCollection &>(c).ConnectionString();
}

// Reserved words, names that begin with a digit, fixed columns in another case, tags that
// differ only in case and two that give one name.
inline const std::vector<std::string> kOddTags = {"ORDER", "Select",      "101FIC",    "1E5",
                                                  "123",   "101-FIC-001", "dt",        "TP",
                                                  "ai1",   "AI1",         "Flow Rate", "Flow-Rate"};

// A run of one analogue block tagged kOddTags: two records, each channel its own value, read
// back with every value's bits; the CHANNELS rows name columns unique without case and apart
// from the fixed ones (read through `peekConnection`). The run is dropped again.
inline void oddTagRun(CLogCollection &coll, const std::string &peekConnection, int32_t start,
                      const std::function<std::string(CLogStore &)> &prefixOf) {
    const int n = static_cast<int>(kOddTags.size());
    std::vector<ChannelRecord> recs(kOddTags.size());
    for (int k = 0; k < n; ++k) {
        chrec_SetType(&recs[k], CHANNEL_TYPE_AI);
        chrec_SetFlag(&recs[k], 7, 1);
        tag_SetTag(&recs[k], kOddTags[k].c_str());
    }
    const void *blocks[1] = {recs.data()};
    LogHeader h{};
    h.start = start;
    h.blockCount = 1;
    std::memcpy(h.blocks[0].prefix, "AI", 2);
    h.blocks[0].first = 1;
    h.blocks[0].last = n;
    h.blocks[0].valueKind = 8;
    h.tagColumns = 1;
    ldf_LayoutRecord(&h);
    std::unique_ptr<CLogStore> run(
        coll.CreateLoggerEx(&start, 0, 0, &h, nullptr, 0, nullptr, 0, blocks));
    ASSERT_TRUE(run) << coll.GetErrorMessage() << " / " << coll.GetErrorText();
    std::vector<std::vector<uint8_t>> sent;
    for (int r = 0; r < 2; ++r) {
        sent.push_back(dbrun::record(h, start + r, 0, r));
        for (int c = 0; c < n; ++c) {
            uint8_t *at = sent.back().data() + h.blocks[0].valuesOffset;
            ldf_Put32(at + 4 * c, 0x80);
            ldf_PutFloat(at + 4 * n + 4 * c, 1000.0f * r + static_cast<float>(c) + 0.125f);
        }
        ASSERT_EQ(run->WriteLog(&h, sent.back().data(), 1), 0) << run->GetErrorText();
    }
    for (int r = 0; r < 2; ++r) {
        std::vector<uint8_t> got(static_cast<size_t>(h.recordSize));
        ASSERT_EQ(run->ReadLog(r, &h, got.data(), h.recordSize), 0) << run->GetErrorText();
        for (int c = 0; c < n; ++c) {
            size_t v = static_cast<size_t>(h.blocks[0].valuesOffset + 4 * n + 4 * c);
            EXPECT_EQ(ldf_Get32(got.data() + v), ldf_Get32(sent[r].data() + v))
                << kOddTags[c] << " record " << r;
        }
    }
    CLogITDbDataAcc peek;
    ASSERT_EQ(peek.Connect(dbrun::w(peekConnection), u"", -1), 0) << peek.GetErrorText();
    ASSERT_EQ(peek.OpenQuery(dbrun::w("SELECT sColumnName FROM " + prefixOf(*run) +
                                      "CHANNELS ORDER BY nChannelNumber"),
                             u""),
              0)
        << peek.GetErrorText();
    std::set<std::string> names = {"DT", "MS", "TX", "TP", "LL", "LV"};
    for (int c = 0; c < n; ++c) {
        ado::Variant eof, v;
        peek.IsEOF(&eof);
        ASSERT_EQ(eof.i, 0) << kOddTags[c];
        peek.GetFieldValue(0, &v);
        std::string got = ado::ToUtf8(v.s);
        got = got.substr(0, got.find_last_not_of(' ') + 1);
        for (char &ch : got)
            ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        EXPECT_TRUE(names.insert(got).second) << kOddTags[c] << " named " << got;
        peek.MoveNext();
    }
    peek.Disconnect();
    EXPECT_EQ(coll.CloseLogger(run.get(), nullptr, nullptr, 0), 0);
}

// Creates runs, logs into them, lists, opens, trims and drops them.
inline void runCollection(const std::string &conn) {
    using dbrun::at;
    std::unique_ptr<CLogCollection> coll(lstore_CreateCollection(conn.c_str()));
    ASSERT_TRUE(coll);
    ASSERT_NE(dynamic_cast<CLogDbCollection *>(coll.get()), nullptr);
    ASSERT_EQ(coll->Open(conn.c_str(), "", "Boiler 2", "", LSTORE_READ | 0x40000000u), 0)
        << coll->GetErrorText() << " / " << coll->GetErrorMessage();
    EXPECT_TRUE(listRuns(*coll).empty());

    Channels ch;
    int32_t t1 = at(2040, 3, 1, 10, 0, 0);
    LogHeader h = header(t1, true);
    std::unique_ptr<CLogStore> run1(coll->CreateLoggerEx(
        &t1, 1, 0, &h, "[HEADER]\r\nFirst\r\n[PREDEFINED]\r\nStart\r\nStop\r\n", 0, nullptr, 0,
        ch.blocks));
    ASSERT_TRUE(run1) << coll->GetErrorText() << " / " << coll->GetErrorMessage();
    char prefix[260];
    dynamic_cast<CLogDbStore *>(run1.get())->GetTablePrefix(prefix, nullptr);
    EXPECT_STREQ(prefix, "Boiler_2_"); // plain form for the first run
    std::vector<uint8_t> recs;
    for (int k = 0; k < 4; ++k) {
        auto r = dbrun::record(h, t1 + 60 * k, 0, k);
        recs.insert(recs.end(), r.begin(), r.end());
    }
    ASSERT_EQ(run1->WriteLog(&h, recs.data(), 4), 0) << run1->GetErrorText();
    h.stop = t1 + 180;
    ASSERT_EQ(run1->WriteHeader(&h, 1), 0);
    EXPECT_EQ(coll->CloseLogger(run1.get(), &h.start, &h.stop, 0), 0);

    // The second run skips the plain form; with the date flag it takes the date form.
    int32_t t2 = at(2040, 3, 2, 8, 0, 0);
    LogHeader h2 = header(t2, false);
    std::unique_ptr<CLogStore> run2(
        coll->CreateLoggerEx(&t2, 1, 0, &h2, nullptr, 0, nullptr, 1, ch.blocks));
    ASSERT_TRUE(run2) << coll->GetErrorMessage();
    dynamic_cast<CLogDbStore *>(run2.get())->GetTablePrefix(prefix, nullptr);
    EXPECT_STREQ(prefix, "Boiler_2_20400302_");
    EXPECT_EQ(dynamic_cast<CLogDbStore *>(run2.get())->GetSequence(), 20400302);
    // The same day again falls back to the counter.
    int32_t t3 = t2 + 3600;
    LogHeader h3 = header(t3, false);
    std::unique_ptr<CLogStore> run3(
        coll->CreateLoggerEx(&t3, 1, 0, &h3, nullptr, 0, nullptr, 1, ch.blocks));
    ASSERT_TRUE(run3) << coll->GetErrorMessage();
    dynamic_cast<CLogDbStore *>(run3.get())->GetTablePrefix(prefix, nullptr);
    EXPECT_STREQ(prefix, "Boiler_2_00000002_");
    run3->Close();

    // Newest start first; open runs are listed with stop 0.
    EXPECT_EQ(listRuns(*coll),
              (std::vector<std::string>{
                  "LoggerSeq=00000002 " + std::to_string(static_cast<uint32_t>(t3)) + " 0",
                  "LoggerSeq=20400302 " + std::to_string(static_cast<uint32_t>(t2)) + " 0",
                  "LoggerSeq=00000001 " + std::to_string(static_cast<uint32_t>(t1)) + " " +
                      std::to_string(static_cast<uint32_t>(t1 + 180))}));

    // Tag columns: "Flow Rate" gives Flow_Rate, "DT" the channel code.
    std::unique_ptr<CLogStore> back(coll->OpenLogger("LoggerSeq=00000001", LSTORE_READ));
    ASSERT_TRUE(back) << coll->GetErrorMessage();
    LogHeader rh{};
    ASSERT_EQ(back->ReadHeader(&rh), 0) << back->GetErrorMessage();
    EXPECT_EQ(rh.recordCount, 4);
    EXPECT_EQ(rh.tagColumns, 1);
    char text[256];
    int size = sizeof text;
    EXPECT_EQ(back->ReadSection("PREDEFINED", text, &size), 2);
    size = sizeof text;
    EXPECT_EQ(back->ReadSection("HEADER", text, &size), 1);
    EXPECT_STREQ(text, "First");
    std::vector<uint8_t> q(static_cast<size_t>(rh.recordSize));
    ASSERT_EQ(back->ReadLog(3, &rh, q.data(), rh.recordSize), 0);
    EXPECT_EQ(ldf_GetFloat(q.data() + 18 + 12), 3.5f);
    // Channel records come back from the CHANNELS rows. A tag longer than 15 characters is
    // cut and its trailing blanks dropped; a channel without a row fails; a range outside the
    // header fails before any query and leaves the buffer alone.
    {
        CLogITDbAcc cat;
        ASSERT_EQ(cat.OpenCatalog(dbrun::w(coll_connection(*coll)), u""), 0);
        EXPECT_EQ(cat.ExecuteStatement(u"UPDATE Boiler_2_CHANNELS SET sTag = 'Flow Rate      X' "
                                       u"WHERE sPrefix = 'AI' AND nChannelNumber = 1"),
                  0)
            << cat.GetErrorText();
        EXPECT_EQ(cat.ExecuteStatement(u"DELETE FROM Boiler_2_CHANNELS WHERE sPrefix = 'DI' AND "
                                       u"nChannelNumber = 5"),
                  0)
            << cat.GetErrorText();
    }
    struct Read {
        int block, first, count;
        const char *message; // null: read
    };
    const Read reads[] = {
        {0, 0, 3, nullptr},
        {1, 0, 1, nullptr},
        {1, 1, 1, "CAN'T FIND CHANNEL"},
        {1, 1, 2, "CHANNEL NOT IN HEADER"},
        {2, 0, 1, "CHANNEL NOT IN HEADER"},
        {0, -1, 1, "CHANNEL NOT IN HEADER"},
        {-1, 0, 1, "CHANNEL NOT IN HEADER"},
    };
    for (const Read &r : reads) {
        SCOPED_TRACE(std::to_string(r.block) + "," + std::to_string(r.first) + "," +
                     std::to_string(r.count));
        std::array<ChannelRecord, 3> info;
        for (auto &c : info)
            std::memset(c.bytes, 0x5A, sizeof c.bytes);
        if (r.message) {
            EXPECT_EQ(back->ReadChannelInfo(&rh, info.data(), r.block, r.first, r.count), -1);
            EXPECT_STREQ(back->GetErrorMessage(), r.message);
            if (std::string(r.message) == "CHANNEL NOT IN HEADER") {
                EXPECT_STREQ(back->GetErrorText(), "");
                EXPECT_EQ(info[0].bytes[0], 0x5A);
            }
            continue;
        }
        ASSERT_EQ(back->ReadChannelInfo(&rh, info.data(), r.block, r.first, r.count), 0)
            << back->GetErrorMessage() << " " << back->GetErrorText();
        for (int k = 0; k < r.count; ++k) {
            const ChannelRecord &c = info[static_cast<size_t>(k)];
            ChannelRecord want{};
            const ChannelRecord &sent = r.block == 0 ? ch.analogue[static_cast<size_t>(k)]
                                                     : ch.digital[static_cast<size_t>(k)];
            tag_SetTag(&want, tag_GetTag(sent).c_str());
            tag_SetDescription(&want, tag_GetDescription(sent).c_str());
            chrec_SetFlag(&want, ChannelAnalog::Enable, 1);
            chrec_SetType(&want, chrec_GetType(sent));
            if (r.block == 0) {
                tag_SetUnits(&want, "m3/h");
                chrec_Set(&want, ChannelAnalog::MinimumUnits, -5.0f);
                chrec_Set(&want, ChannelAnalog::MaximumUnits, 250.0f);
            } else {
                chrec_SetText(&want, ChannelDigital::LowStateText, "SHUT");
                chrec_SetText(&want, ChannelDigital::HighStateText, "OPEN");
            }
            // Nothing else of the sent record is kept: the rest of the record reads as zeros.
            EXPECT_EQ(std::memcmp(c.bytes, want.bytes, sizeof c.bytes), 0) << "channel " << k;
        }
        if (r.block == 0) {
            EXPECT_EQ(tag_GetTag(info[0]), "Flow Rate");
            EXPECT_EQ(tag_GetDescription(info[0]), "Feed line");
            EXPECT_EQ(chrec_Get(info[0], ChannelAnalog::MaximumUnits), 250.0f);
            EXPECT_EQ(tag_GetTag(info[1]), "DT");
        } else {
            EXPECT_EQ(chrec_GetText(info[0], ChannelDigital::LowStateText), "SHUT");
        }
    }
    back->Close();
    CLogITDbDataAcc peek;
    ASSERT_EQ(peek.Connect(dbrun::w(coll_connection(*coll)), u"", -1), 0);
    EXPECT_EQ(peek.OpenQuery(u"SELECT Flow_Rate, AI2, DI4 FROM Boiler_2_DATA", u""), 0)
        << peek.GetErrorText();
    EXPECT_EQ(peek.OpenQuery(u"SELECT sColumnName FROM Boiler_2_CHANNELS WHERE nChannelNumber = 1 "
                             "AND sPrefix = 'AI'",
                             u""),
              0);
    ado::Variant v;
    peek.GetFieldValue(0, &v);
    EXPECT_EQ(ado::ToUtf8(v.s).substr(0, 9), "Flow_Rate");

    // Trimming inside run 1 keeps it, moves its start; an open run is never touched.
    int32_t cut = t1 + 90;
    coll->DeleteOlderThan(&cut);
    auto runs = listRuns(*coll);
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_EQ(runs[2], "LoggerSeq=00000001 " + std::to_string(static_cast<uint32_t>(t1 + 120)) +
                           " " + std::to_string(static_cast<uint32_t>(t1 + 180)));

    // Dropping a run without a TEXT table removes its LOGGERS row too.
    EXPECT_EQ(coll->CloseLogger(run2.get(), nullptr, nullptr, 0), 0);
    runs = listRuns(*coll);
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].substr(0, 18), "LoggerSeq=00000002");

    // Every tag a user can type gets a column of its own.
    int32_t t4 = at(2040, 3, 3, 0, 0, 0);
    LogHeader h4 = header(t4, true);
    oddTagRun(*coll, coll_connection(*coll), t4 - 3600, [](CLogStore &s) {
        char prefix[64] = "";
        dynamic_cast<CLogDbStore &>(s).GetTablePrefix(prefix, nullptr);
        return std::string(prefix);
    });

    char name[400];
    int length = sizeof name;
    coll->MakeStoreName("LoggerSeq=00000002", name, &length);
    EXPECT_EQ(std::string(name),
              coll_connection(*coll) + ";LoggerName=Boiler 2;LoggerSeq=00000002");
    EXPECT_EQ(length, static_cast<int>(coll_connection(*coll).size() + 8 + 18 + 14));

    // One statement through the collection's catalog object: 0, or -1 when it fails.
    auto &db = dynamic_cast<CLogDbCollection &>(*coll);
    EXPECT_EQ(db.ExecuteStatement("CREATE TABLE Boiler_2_extra (a integer)"), 0);
    EXPECT_EQ(db.ExecuteStatement("CREATE TABLE Boiler_2_extra (a integer)"), -1);

    // Logger names and run-name prefixes with characters that no unquoted identifier takes:
    // they become '_' in the table prefix, so the runs are made, listed and found by the
    // prefix they were made with.
    const std::pair<const char *, const char *> odds[] = {{"Boiler's", "Boiler_s_00000001_"},
                                                          {"other.x", "other_x_00000001_"}};
    for (const auto &[name, want] : odds) {
        SCOPED_TRACE(name);
        std::unique_ptr<CLogCollection> odd(lstore_CreateCollection(conn.c_str()));
        ASSERT_EQ(odd->Open(conn.c_str(), "", name, name, LSTORE_READ), 0);
        EXPECT_TRUE(listRuns(*odd).empty());
        std::unique_ptr<CLogStore> made(
            odd->CreateLoggerEx(&t4, 0, 0, &h4, nullptr, 0, nullptr, 0, ch.blocks));
        ASSERT_TRUE(made) << odd->GetErrorMessage() << " / " << odd->GetErrorText();
        dynamic_cast<CLogDbStore *>(made.get())->GetTablePrefix(prefix, nullptr);
        EXPECT_STREQ(prefix, want);
        made->Close();
        EXPECT_EQ(listRuns(*odd).size(), 1u);
        char run[32] = "";
        EXPECT_EQ(odd->FindLogger(run, nullptr, nullptr, nullptr, 0), 1);
        EXPECT_STREQ(run, "LoggerSeq=00000001");
    }

    // Tags with punctuation name columns that every engine takes; the run reads back by its
    // CHANNELS rows.
    Channels tags("FIC101.PV", "O'Brien");
    tag_SetTag(&tags.analogue[2], "A/B");
    int32_t t5 = t4 + 86400;
    LogHeader h5 = header(t5, true);
    std::unique_ptr<CLogStore> tagged(
        coll->CreateLoggerEx(&t5, 0, 0, &h5, nullptr, 0, nullptr, 0, tags.blocks));
    ASSERT_TRUE(tagged) << coll->GetErrorMessage() << " / " << coll->GetErrorText();
    auto r5 = dbrun::record(h5, t5, 0, 1);
    ASSERT_EQ(tagged->WriteLog(&h5, r5.data(), 1), 0) << tagged->GetErrorText();
    std::vector<uint8_t> q5(static_cast<size_t>(h5.recordSize));
    ASSERT_EQ(tagged->ReadLog(0, &h5, q5.data(), h5.recordSize), 0) << tagged->GetErrorText();
    EXPECT_EQ(std::memcmp(q5.data() + 18, r5.data() + 18, 24), 0);
    dynamic_cast<CLogDbStore *>(tagged.get())->GetTablePrefix(prefix, nullptr);
    ASSERT_EQ(peek.OpenQuery(dbrun::w(std::string("SELECT sColumnName FROM ") + prefix +
                                      "CHANNELS WHERE sPrefix = 'AI' ORDER BY nChannelNumber"),
                             u""),
              0)
        << peek.GetErrorText();
    for (const char *want : {"FIC101_PV", "O_Brien", "A_B"}) {
        ado::Variant eof, v;
        peek.IsEOF(&eof);
        ASSERT_EQ(eof.i, 0) << want;
        peek.GetFieldValue(0, &v);
        std::string got = ado::ToUtf8(v.s);
        EXPECT_EQ(got.substr(0, got.find_last_not_of(' ') + 1), want); // char(32) may pad
        peek.MoveNext();
    }
    peek.Disconnect();
    // Dropped again, so that the runs above stay the logger's newest.
    EXPECT_EQ(coll->CloseLogger(tagged.get(), nullptr, nullptr, 0), 0);
}

} // namespace dbcoll
