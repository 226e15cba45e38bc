// One run kept in a database, made with the schema's statements and driven through the store,
// the same way on every engine.
#pragma once

#include "dbacc.h"
#include "ldb.h"
#include "ldf.h"
#include "lstore.h"
#include "lstore_db.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <memory>
#include <vector>

namespace dbrun {

inline std::u16string w(const std::string &s) {
    return ado::FromUtf8(s);
}

// Seconds of a wall-clock time in the system's local-time convention.
inline int32_t at(int y, int mo, int d, int h, int mi, int s) {
    struct tm t = {};
    t.tm_year = y - 1900;
    t.tm_mon = mo - 1;
    t.tm_mday = d;
    t.tm_hour = h;
    t.tm_min = mi;
    t.tm_sec = s;
    return static_cast<int32_t>(static_cast<uint32_t>(timegm(&t)));
}

// Makes the tables of logger `name`, sequence 1, with blocks AI1..AI3 (analogue) and DI1..DI5
// (digital), started at `start`, and its LOGGERS row.
inline void makeRun(const std::string &conn, const std::string &name, const std::string &prefix,
                    int32_t start) {
    CLogITDbAcc acc;
    ASSERT_EQ(acc.OpenCatalog(w(conn), u""), 0) << acc.GetErrorText();
    auto exec = [&](const std::string &sql) {
        EXPECT_EQ(acc.ExecuteStatement(w(sql)), 0) << sql << ": " << acc.GetErrorText();
    };
    exec(ldb_CreateLoggers(false));
    exec(ldb_CreateChannels(prefix));
    std::string cols;
    for (int k = 1; k <= 3; ++k)
        cols += ", AI" + std::to_string(k) + " REAL NULL";
    for (int k = 1; k <= 5; ++k)
        cols += ", DI" + std::to_string(k) + " INTEGER NULL";
    exec(ldb_CreateData(prefix, 0, cols));
    exec(ldb_CreateText(prefix));
    double dt = 0;
    lstore_LocalToDbTime(start, &dt);
    CLogITDbDataAcc data;
    ASSERT_EQ(data.Connect(w(conn), u"", -1), 0);
    ASSERT_EQ(data.OpenRecordset(u"LOGGERS", 3, 3, 8), 0) << data.GetErrorText();
    ASSERT_EQ(data.AddNewIfSupported(), 0);
    data.SetFieldValue(0, ado::Variant::Str(w(name)));
    data.SetFieldValue(1, ado::Variant::I4(1));
    data.SetFieldValue(2, ado::Variant::Date(dt));
    data.SetFieldValue(4, ado::Variant::I4(0));
    data.SetFieldValue(5, ado::Variant::Str(w(prefix)));
    data.SetFieldValue(6, ado::Variant::Str(u"Boiler run"));
    data.SetFieldValue(7, ado::Variant::I4(0));
    data.SetFieldValue(11, ado::Variant::I4(0));
    ASSERT_EQ(data.Update(), 0) << data.GetErrorText();
    ASSERT_EQ(data.OpenRecordset(w(prefix + "CHANNELS"), 3, 3, 8), 0);
    for (int b = 0; b < 2; ++b)
        for (int k = 1; k <= (b ? 5 : 3); ++k) {
            ASSERT_EQ(data.AddNewIfSupported(), 0);
            data.SetFieldValue(0, ado::Variant::I4(b));
            data.SetFieldValue(1, ado::Variant::Str(b ? u"DI" : u"AI"));
            data.SetFieldValue(2, ado::Variant::I4(k));
            data.SetFieldValue(3, ado::Variant::Str(b ? u"Valves" : u"Temperatures"));
            data.SetFieldValue(13, ado::Variant::I4(0));
        }
    ASSERT_EQ(data.Update(), 0) << data.GetErrorText();
    ASSERT_EQ(data.OpenRecordset(w(prefix + "TEXT"), 3, 3, 8), 0);
    for (const char16_t *t : {u"Start", u"Stop"}) {
        ASSERT_EQ(data.AddNewIfSupported(), 0);
        data.SetFieldValue(0, ado::Variant::Str(t));
    }
    ASSERT_EQ(data.Update(), 0);
    data.Disconnect();
}

// A record of the header's layout: analogue values k + 0.5 (AI2 absent), digital states
// alternating.
inline std::vector<uint8_t> record(const LogHeader &h, int32_t time, int16_t ms, int k) {
    std::vector<uint8_t> r(static_cast<size_t>(h.recordSize), 0);
    ldf_Put16(r.data(), 0x8004);
    ldf_Put32(r.data() + 4, time);
    ldf_Put16(r.data() + 8, static_cast<uint16_t>(ms));
    for (int b = 0; b < h.blockCount; ++b) {
        const LogBlockDescriptor &d = h.blocks[b];
        int n = d.last - d.first + 1;
        ldf_Put16(r.data() + d.valuesOffset - 2, 0x8005);
        for (int c = 0; c < n; ++c) {
            uint8_t *flag = r.data() + d.valuesOffset + 4 * c;
            uint8_t *value = r.data() + d.valuesOffset + 4 * n + 4 * c;
            if (b == 0) {
                ldf_Put32(flag, c == 1 ? 0x20 : 0x80);
                ldf_PutFloat(value, c == 1 ? 0.0f : static_cast<float>(k) + 0.5f);
            } else {
                ldf_Put32(flag, (k + c) & 1);
            }
        }
    }
    ldf_Put16(r.data() + h.recordSize - 2, 0x8006);
    return r;
}

// Writes three records (the last after 2038 and after 2106's half) and reads them back.
inline void runStore(const std::string &conn, const std::string &name) {
    const std::string prefix = "Run_00000001_";
    const int32_t start = at(2037, 12, 31, 23, 0, 0);
    makeRun(conn, name, prefix, start);
    if (::testing::Test::HasFatalFailure()) return;

    std::unique_ptr<CLogStore> store(lstore_CreateStore(conn.c_str()));
    ASSERT_TRUE(store);
    ASSERT_NE(dynamic_cast<CLogDbStore *>(store.get()), nullptr);
    EXPECT_EQ(store->Open(nullptr, (conn + ";LoggerName=" + name).c_str(), LSTORE_READ), -1);
    EXPECT_STREQ(store->GetErrorMessage(), "BADLY FORMED PATH NAME");
    std::string identity = conn + ";LoggerName=" + name + ";LoggerSeq=00000001";
    ASSERT_EQ(store->Open(nullptr, identity.c_str(), LSTORE_READ | LSTORE_WRITE), 0)
        << store->GetErrorText() << " / " << store->GetErrorMessage();
    int length = 0;
    store->GetName(nullptr, &length);
    EXPECT_EQ(length, static_cast<int>(conn.size() + name.size() + 32));
    std::vector<char> id(static_cast<size_t>(length), '#');
    store->GetName(id.data(), &length);
    EXPECT_EQ(std::string(id.data()), conn + ";LoggerName=" + name + ";LoggerSeq=00000001");

    LogHeader h{};
    ASSERT_EQ(store->ReadHeader(&h), 0) << store->GetErrorText() << store->GetErrorMessage();
    EXPECT_EQ(h.start, start);
    EXPECT_EQ(h.stop, 0);
    EXPECT_EQ(h.blockCount, 2);
    EXPECT_EQ(std::string(h.blocks[1].prefix, 2), "DI");
    EXPECT_EQ(std::string(h.blocks[0].source), "Temperatures");
    EXPECT_EQ(h.blocks[1].first, 1);
    EXPECT_EQ(h.blocks[1].last, 5);
    EXPECT_EQ(h.recordSize, 86);
    EXPECT_EQ(h.blocks[0].valuesOffset, 18);
    EXPECT_EQ(h.blocks[1].valuesOffset, 44);
    EXPECT_EQ(h.dataOffset, 6226);
    EXPECT_EQ(h.recordCount, 0);
    EXPECT_EQ(h.writePos, h.dataOffset);

    ASSERT_EQ(store->StartLogging(&h), 0) << store->GetErrorText();
    const int32_t times[3] = {start + 1, at(2038, 1, 19, 3, 14, 8),
                              static_cast<int32_t>(0xF0000000u)};
    std::vector<uint8_t> all;
    for (int k = 0; k < 3; ++k) {
        auto r = record(h, times[k], static_cast<int16_t>(100 * k), k);
        all.insert(all.end(), r.begin(), r.end());
    }
    ASSERT_EQ(store->WriteLog(&h, all.data(), 3), 0) << store->GetErrorText();
    EXPECT_EQ(store->GetNoLogs(&h), 3);
    EXPECT_EQ(store->GetNoValidLogs(&h), 0);

    // Read back: analogue values as written, an absent value flagged, digital states as 0x80
    // values 0 or 1.
    std::vector<uint8_t> back(static_cast<size_t>(h.recordSize) * 3);
    EXPECT_EQ(store->ReadLogs(0, &h, back.data(), 3), 3) << store->GetErrorMessage();
    for (int k = 0; k < 3; ++k) {
        const uint8_t *r = back.data() + k * h.recordSize;
        EXPECT_EQ(ldf_Get16(r), 0x8004);
        EXPECT_EQ(static_cast<uint32_t>(ldf_Get32(r + 4)), static_cast<uint32_t>(times[k])) << k;
        EXPECT_EQ(ldf_Get16(r + 8), 100 * k);
        EXPECT_EQ(ldf_Get16(r + 16), 0x8005);
        EXPECT_EQ(ldf_Get32(r + 18), 0x80);
        EXPECT_EQ(ldf_GetFloat(r + 18 + 12), k + 0.5f);
        EXPECT_EQ(ldf_Get32(r + 22), 0x20);
        EXPECT_EQ(ldf_Get32(r + 44), 0x80);
        EXPECT_EQ(ldf_GetFloat(r + 44 + 20), static_cast<float>(k & 1));
        EXPECT_EQ(ldf_Get16(r + 84), 0x8006);
    }
    // A byte count below the record size fills only the channels whose flag and value fit.
    std::vector<uint8_t> small(48, 0xEE);
    ASSERT_EQ(store->ReadLog(2, &h, small.data(), 40), 0);
    EXPECT_EQ(small[40], 0xEE);
    EXPECT_EQ(ldf_Get32(small.data() + 18), 0x80);
    EXPECT_EQ(ldf_Get32(small.data() + 26), 0); // its value would end at 42

    TimeStamp from{times[0], 0, 0}, to{times[2], 100, 0};
    EXPECT_EQ(store->CountLogs(&from, &to, &h), 1); // both bounds exclusive
    std::vector<uint8_t> q(static_cast<size_t>(h.recordSize) * 3);
    EXPECT_EQ(store->QueryLogs(&from, nullptr, &h, q.data(), h.recordSize, 3, 0, nullptr, 1, 0), 2);
    EXPECT_EQ(static_cast<uint32_t>(ldf_Get32(q.data() + 4)), static_cast<uint32_t>(times[2]));
    // Extra columns follow each record, 8 bytes each: times-only records of 16 bytes here.
    std::vector<uint8_t> qx(3 * 32, 0xEE);
    EXPECT_EQ(store->QueryLogs(&from, nullptr, &h, qx.data(), 16, 3, 2, "MS, TX, ", 1, 1), 2);
    for (int k = 0; k < 2; ++k) {
        const uint8_t *r = qx.data() + 32 * k;
        EXPECT_EQ(static_cast<uint32_t>(ldf_Get32(r + 4)), static_cast<uint32_t>(times[2 - k]));
        EXPECT_EQ(ldf_Get32(r + 16), 0x80) << k;
        EXPECT_EQ(ldf_GetFloat(r + 20), 100.0f * (2 - k)) << k;
        EXPECT_EQ(ldf_Get32(r + 24), 0x20) << k; // TX is NULL
    }

    // Texts and positions go to the row of their second.
    EXPECT_EQ(store->WriteText(times[1], "Boiler's alarm", nullptr, nullptr), 0)
        << store->GetErrorText();
    EXPECT_EQ(store->WriteText(times[1], "x", nullptr, "EVENTS"), -1);
    EXPECT_EQ(store->WritePosition(times[2], 1, 2.5f), 0) << store->GetErrorText();
    EXPECT_EQ(store->WriteText(times[0] + 7, "nowhere", nullptr, nullptr), -1);
    EXPECT_STREQ(store->GetErrorMessage(), "CAN'T UPDATE TEXT TABLE");
    char text[512];
    int size = sizeof text;
    EXPECT_EQ(store->ReadSection("TEXT", text, &size), 1) << store->GetErrorMessage();
    EXPECT_STREQ(text, "38/01/19 03:14:08 Boiler's alarm\r\n");
    size = sizeof text;
    EXPECT_EQ(store->ReadSection("positions", text, &size), 1);
    EXPECT_STREQ(text, "97/08/05 09:04:00 2.500000\r\n"); // 2^32 - 2^28 seconds: 2097
    size = sizeof text;
    EXPECT_EQ(store->ReadSection("PREDEFINED", text, &size), 2);
    EXPECT_STREQ(text, "Start\r\nStop\r\n");
    EXPECT_EQ(store->WriteHeaderText("Line one\r\nLine two"), 0);
    size = 0;
    EXPECT_EQ(store->ReadSection("HEADER", nullptr, &size), 2);
    EXPECT_EQ(size, 19);
    // No room at all: nothing of the buffer is read or written.
    for (int given : {0, -1}) {
        char none[2] = {'#', '#'};
        char *lines[2] = {};
        int count = 2;
        size = given;
        EXPECT_EQ(store->ReadSectionLines("HEADER", lines, &count, none, &size), 0);
        EXPECT_EQ(count, 0) << given;
        EXPECT_EQ(std::string(none, 2), "##") << given;
    }
    EXPECT_EQ(store->ReadSection("TARGETS", nullptr, &size), 0);
    EXPECT_EQ(store->ReadSection("OTHER", nullptr, &size), -1);
    int32_t textTime = 0;
    EXPECT_EQ(store->GetTextTime(&textTime), 0);
    EXPECT_NE(textTime, 0);

    // The header's times and completion go to LOGGERS.
    h.stop = times[2];
    EXPECT_EQ(store->WriteHeader(&h, 1), 0) << store->GetErrorText();
    LogHeader again{};
    ASSERT_EQ(store->ReadHeader(&again), 0);
    EXPECT_EQ(static_cast<uint32_t>(again.stop), static_cast<uint32_t>(times[2]));
    EXPECT_EQ(again.recordCount, 3);

    TimeStamp cut{times[1], 0, 0};
    store->DeleteLogs(nullptr, &cut);
    EXPECT_EQ(store->GetNoLogs(&h), 2);
    EXPECT_EQ(store->Close(), 0);
}

} // namespace dbrun
