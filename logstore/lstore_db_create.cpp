// Filling a new run of the database store: its LOGGERS, TEXT and CHANNELS rows.
#include "lstore_db.h"

#include "chrec.h"
#include "ldb.h"
#include "ldf.h"
#include "lstore_db_channels.h"
#include "plat_cp1252.h"
#include "plat_error.h"
#include "tag.h"

#include <cstdio>
#include <cstring>
#include <set>
#include <vector>

namespace {
std::u16string w(const std::string &cp1252) {
    return plat_Cp1252ToUtf16(cp1252);
}
ado::Variant text(const std::string &cp1252) {
    return ado::Variant::Str(w(cp1252));
}
} // namespace

int CLogDbStore::InitNewRun(const char *connection, const char *prefix, const char *logger,
                            int32_t seq, LogHeader *h, const char *headerText, const char *server,
                            const void *const *records) {
    digitalText_ = ldb_DigitalText(nullptr) ? 1 : 0;
    access_ = LSTORE_READ | LSTORE_WRITE;
    loggerName_ = logger ? logger : "";
    prefix_ = prefix ? prefix : "";
    seq_ = seq;
    if (connect(connection ? connection : "") != 0) return -1;
    auto failed = [&](const char *message) {
        fail(reader_.GetErrorText(), message);
        reader_.Disconnect();
        return -1;
    };
    std::string header;
    std::vector<std::string> lines;
    bool hasHeader =
        headerText && ldb_SplitHeaderText(headerText, ldb_IsJet(connection), &header, &lines);
    // LOGGERS row.
    if (reader_.OpenRecordset(u"LOGGERS", 3, 3, 8) != 0) return failed("CAN'T FIND LOGGERS TABLE");
    if (reader_.AddNewIfSupported() != 0) return failed("CAN'T ADD TO LOGGERS TABLE");
    double start = 0, stop = 0;
    lstore_LocalToDbTime(h->start, &start);
    lstore_LocalToDbTime(h->stop, &stop);
    int32_t zone = 0;
    std::memcpy(&zone, h->carried + 84, 4);
    auto ref = [](const LogChannelRef &r) { return std::string(r.prefix, strnlen(r.prefix, 2)); };
    ado::Variant null = ado::Variant::Null();
    ado::Variant values[16] = {
        text(loggerName_),
        ado::Variant::I4(seq),
        ado::Variant::Date(start),
        h->stop ? ado::Variant::Date(stop) : null,
        ado::Variant::I4(0),
        text(prefix_),
        hasHeader ? text(header) : null,
        ado::Variant::I4(h->tagColumns),
        ado::Variant::I4(0),
        ado::Variant::I4(0),
        ado::Variant::I4(zone),
        ado::Variant::I4(h->sigChange),
        h->sigChange ? text(ref(h->trigger)) : null,
        h->sigChange ? ado::Variant::I4(h->trigger.number) : null,
        h->sigChange ? text(ref(h->lag)) : null,
        h->sigChange ? ado::Variant::I4(h->lag.number) : null,
    };
    for (int k = 0; k < 16; ++k)
        if (reader_.SetFieldValue(k, values[k]) != 0) return failed("CAN'T UPDATE LOGGERS TABLE");
    if (reader_.Update() != 0) return failed("CAN'T UPDATE LOGGERS TABLE");
    // TEXT rows.
    if (hasHeader && std::string(headerText).find("\r\n[PREDEFINED]") != std::string::npos) {
        if (reader_.OpenRecordset(w(prefix_ + "TEXT"), 3, 3, 8) != 0)
            return failed("CAN'T OPEN TEXT TABLE");
        for (const std::string &line : lines) {
            if (reader_.AddNewIfSupported() != 0) return failed("CAN'T ADD TO TEXT TABLE");
            if (reader_.SetFieldValue(0, text(line)) != 0) return failed("CAN'T ADD TO TEXT TABLE");
        }
        if (reader_.Update() != 0) return failed("CAN'T UPDATE TEXT TABLE");
    }
    // CHANNELS rows: every block, every channel, then one update.
    if (reader_.OpenRecordset(w(prefix_ + "CHANNELS"), 3, 3, 8) != 0)
        return failed("CAN'T OPEN CHANNELS TABLE");
    std::set<std::string> taken; // the names made as the DATA table's were
    for (int b = 0; b < h->blockCount && b < 64; ++b) {
        const LogBlockDescriptor &d = h->blocks[b];
        std::vector<ChannelRecord> recs;
        int rc = ldbch_BlockRecords(*h, b, records, server, &recs);
        if (rc == LDBCH_NO_SEGMENT) return failed("CAN'T FIND CHANNEL CONFIG");
        if (rc != 0) {
            fail("CAN'T GET CHANNEL CONFIGURATION", "CAN'T GET CHANNEL CONFIGS");
            reader_.Disconnect();
            return -1;
        }
        std::string blockPrefix(d.prefix, strnlen(d.prefix, 2));
        std::string source(d.source, strnlen(d.source, sizeof d.source));
        for (int c = d.first; c <= d.last; ++c) {
            const ChannelRecord &r = recs[static_cast<size_t>(c - d.first)];
            bool enabled = chrec_TestFlag(r, 7) != 0;
            uint8_t type = chrec_GetType(r);
            bool analogue = enabled && (type & 1) == 0;
            bool digital = enabled && (type & 1) == 1;
            ado::Variant row[14] = {
                ado::Variant::I4(b),
                text(blockPrefix),
                ado::Variant::I4(c),
                text(source),
                text(tag_GetTag(r)),
                text(tag_GetDescription(r)),
                enabled ? ado::Variant::I4(type) : null,
                analogue ? text(tag_GetUnits(r)) : null,
                analogue ? ado::Variant::R4(chrec_Get(r, ChannelAnalog::MinimumUnits)) : null,
                analogue ? ado::Variant::R4(chrec_Get(r, ChannelAnalog::MaximumUnits)) : null,
                digital ? text(chrec_GetText(r, ChannelDigital::LowStateText)) : null,
                digital ? text(chrec_GetText(r, ChannelDigital::HighStateText)) : null,
                text(ldbch_UniqueColumn(ldbch_ColumnName(*h, b, c, r), &taken)),
                ado::Variant::I4(d.spare[1] ? 1 : 0),
            };
            if (reader_.AddNewIfSupported() != 0) return failed("CAN'T ADD TO CHANNELS TABLE");
            for (int k = 0; k < 14; ++k)
                if (reader_.SetFieldValue(k, row[k]) != 0)
                    return failed("CAN'T ADD TO CHANNELS TABLE");
        }
    }
    if (reader_.Update() != 0) return failed("CAN'T UPDATE CHANNELS TABLE");
    loggingStarted_ = 0;
    setConnectionString(connection ? connection : "");
    if (StartLogging(h) != 0) {
        reader_.Disconnect();
        return -1;
    }
    return 0;
}

int CLogDbStore::ReadChannelInfo(LogHeader *h, void *records, int block, int first, int count) {
    current_ = -1;
    if (!h || block < 0 || block >= h->blockCount || block >= 64 || first < 0 || count < 0 ||
        first + count > ldf_BlockChannels(h->blocks[block]))
        return fail("", "CHANNEL NOT IN HEADER");
    if (count > 0 && !records) return plat_Fail(WERR_INVALID_PARAMETER);
    auto *out = static_cast<ChannelRecord *>(records);
    const LogBlockDescriptor &d = h->blocks[block];
    // Every column is read before the record is touched, so a failing channel leaves it as
    // it was.
    ado::Variant v;
    auto column = [&](const char16_t *name) { return reader_.GetFieldValueByName(name, &v) == 0; };
    auto textOf = [&]() {
        if (v.IsEmptyOrNull()) return std::string();
        return plat_Utf16ToCp1252(v.vt == ado::VT_BSTR ? v.s : ado::FromUtf8(v.AsUtf8()));
    };
    for (int k = 0; k < count; ++k) {
        int channel = d.first + first + k;
        char sql[400];
        std::snprintf(sql, sizeof sql,
                      "select * from %sCHANNELS where sPrefix = '%s' AND nChannelNumber = %d",
                      prefix_.c_str(),
                      ldb_Quote(std::string(d.prefix, strnlen(d.prefix, 2))).c_str(), channel);
        LdbChannelRow row;
        bool ok = reader_.OpenRecordset(w(sql), 3, 1, 8) == 0;
        ok = ok && column(u"sTag");
        if (ok) row.tag = textOf();
        ok = ok && column(u"sDescription");
        if (ok) row.description = textOf();
        ok = ok && column(u"nType");
        if (ok && !v.IsEmptyOrNull()) row.type = static_cast<int>(v.AsInt());
        ok = ok && column(u"sUnits");
        if (ok) row.units = textOf();
        ok = ok && column(u"fMinScale");
        if (ok) row.minimum = v.IsEmptyOrNull() ? 0.0f : static_cast<float>(v.AsDouble());
        ok = ok && column(u"fMaxScale");
        if (ok) row.maximum = v.IsEmptyOrNull() ? 0.0f : static_cast<float>(v.AsDouble());
        ok = ok && column(u"sLowStateDesc");
        if (ok) row.lowState = textOf();
        ok = ok && column(u"sHighStateDesc");
        if (ok) row.highState = textOf();
        if (!ok) return fail(reader_.GetErrorText(), "CAN'T FIND CHANNEL");
        ldbch_FillRecord(row, &out[k]);
    }
    return 0;
}
