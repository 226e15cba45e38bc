// The three logger records: their fields and offsets, the period codes, the hex helpers and
// the conversions between the structured view of a "stand" record and its other parts.
#include "lgr.h"
#include "lgr_internal.h"

#include <cstring>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <vector>

namespace {
// Offsets of every row of the three field tables, as the record layouts give them.
const std::map<std::string, uint32_t> k_resub = {
    {"Name", 1},
    {"Autostart", 0},
    {"ExpiryTimeEnable", 131},
    {"ExpiryTime", 132},
    {"OverrideDestination", 140},
    {"DestinationDirectory", 144},
    {"DatabaseDestinationUse", 404},
    {"DatabaseDestination", 408},
    {"GenerateAlarmOnChannelAlarm", 1432},
    {"PriorityAlarmOnChannelAlarm", 1433},
    {"CommonAlarmOnChannelAlarm", 1434},
    {"DelayAlarmOnChannelAlarm", 1442},
    {"GenerateAlarmOnChannelError", 1435},
    {"PriorityAlarmOnChannelError", 1436},
    {"CommonAlarmOnChannelError", 1437},
    {"DelayAlarmOnChannelError", 1444},
    {"GenerateAlarmOnCommTimeout", 1438},
    {"PriorityAlarmOnCommTimeout", 1439},
    {"CommonAlarmOnCommTimeout", 1440},
    {"DelayAlarmOnCommTimeout", 1446},
    {"DestinationCanUpdateText", 1452},
    {"DestinationCanUpdateChannels", 1460},
    {"DestinationCanAckAlarms", 1468},
    {"ArchiveEnable", 1472},
    {"ArchiveDepthType", 1473},
    {"ArchiveDepth", 1474},
};

const std::map<std::string, uint32_t> k_repub = {
    {"Name", 1},
    {"SourceLogger", 84},
    {"SourceStorage", 348},
    {"SourceDirectory", 88},
    {"SourceLogin", 1576},
    {"SourceLoginUserName", 1580},
    {"SourceLoginPassword", 1837},
    {"SourceDatabase", 352},
    {"SourcePrefix", 1376},
    {"DestinationConnectionType", 2100},
    {"DestinationServer", 2104},
    {"DestinationStorage", 3680},
    {"DestinationDirectory", 3417},
    {"DestinationLogin", 4908},
    {"DestinationLoginUserName", 4912},
    {"DestinationLoginPassword", 5169},
    {"DestinationDatabase", 3684},
    {"DestinationPrefix", 4708},
    {"DestinationMarkFilesReadOnly", 5428},
    {"DestinationUpdatesToTextLogs", 76},
    {"Autostart", 0},
    {"UpdateRate", 72},
    {"StartTime", 57},
    {"StopTime", 63},
    {"Cycle", 28},
    {"CycleEvery", 51},
    {"CyclePublishFor", 45},
    {"DeleteSource", 26},
    {"DeleteSourceOlderThan", 33},
    {"DeleteDestination", 27},
    {"DeleteDestinationOlderThan", 39},
    {"RenameAllocatedSubscription", 3388},
    {"RenameLoggerName", 3392},
    {"BufferSize", 80},
    {"NetworkConnection", 5432},
    {"ThrottleBandwidth", 5536},
    {"BandwidthThrottleKbs", 5540},
    {"ChannelFilter", 79},
};

const std::map<std::string, uint32_t> k_stand = {
    {"Name", 1},
    {"Autostart", 0},
    {"Storage", 14556},
    {"Type", 158},
    {"PreEventLogs", 160},
    {"PeriodPreEventRate", 164},
    {"EventLogs", 159},
    {"EventRate", 168},
    {"PostEventLogs", 172},
    {"PostEventRate", 176},
    {"StartMode", 27},
    {"StartTime", 50},
    {"StopTime", 56},
    {"Delete", 26},
    {"DeleteOlderThan", 32},
    {"Cycle", 28},
    {"CycleEvery", 44},
    {"CycleMode", 15584},
    {"CycleLogFor", 38},
    {"RofCTriggerChannel.Prefix", 14292},
    {"RofCTriggerChannel.Number", 14294},
    {"RofCTriggerTag", 18728},
    {"RateofChangeType", 14288},
    {"RateofChangeValue", 14328},
    {"RateofChangeChannel.Prefix", 14296},
    {"RateofChangeChannel.Number", 14298},
    {"RateofChangeTag", 18743},
    {"RofCLaggedTriggerChannel.Prefix", 14300},
    {"RofCLaggedTriggerChannel.Number", 14302},
    {"RofCLaggedTriggerTag", 18758},
    {"RofCRewindType", 22628},
    {"RofCRewindValue", 22632},
    {"RofCRewindChannel.Prefix", 22636},
    {"RofCRewindChannel.Number", 22638},
    {"RofCRewindTag", 22640},
    {"TextLogging", 288},
    {"BufferSize", 280},
    {"WritetoDiskRate", 284},
    {"LogByTag", 14028},
    {"Directory", 289},
    {"Database", 14560},
    {"Replicate", 18724},
    {"ReplicationTarget", 17700},
    {"DropMerge", 22616},
    {"DropMergeCylce", 22620},
    {"DiskSpaceChecking", 5864},
    {"DiskSpaceThreshold", 5868},
    {"SaveConfigurationFile", 14332},
    {"MarkFilesReadOnly", 14336},
    {"DateAsTableSeqNo", 22624},
    {"NamePrefix", 14356},
    {"ForceDeviceScanRates", 14340},
    {"WarnIfNoDeviceUpdates", 14344},
    {"AutoEnableDevices", 14348},
    {"DataExport", 1320},
    {"ExportType", 1324},
    {"ExportCommand", 1328},
    {"ExportParameters", 2428},
    {"ExportHeaderType", 3528},
    {"ExportTimeBaseType", 3529},
    {"ExportTimeBaseUnits", 3530},
    {"ExportDataLogsDateDisplay", 14352},
    {"ExportFileOptions", 3532},
    {"ExportFileName", 5582},
    {"ExportHeaderText", 3533},
    {"ExportSplitFiles", 5838},
    {"ExportSkipFrequency", 5840},
    {"ExportDateFormat", 5844},
    {"ExportValueWidth", 5848},
    {"ExportValuePrecision", 5852},
    {"ExportEOLString", 5856},
    {"ExportSepString", 5859},
    {"ExportDataLogs", 30644},
    {"ExportStatistics", 30648},
    {"ExportTextLogs", 30652},
    {"ExportTextNewLine", 30656},
    {"ExportColumnHeaders", 30660},
    {"ExportColumnHeaderAsTags", 30664},
    {"ExportLoggerInfo", 30668},
    {"ExportChannelHeaderTags", 30672},
    {"ExportDateTimeColumns", 22655},
    {"ExportDateSkipType", 22656},
    {"ExportMsCol", 22657},
    {"ExportTextHeaderWorksheet", 22658},
    {"ExportUseExcelTemplate", 22659},
    {"ExportTemplateName", 22660},
    {"ExportHeaderDateFormat", 22920},
    {"ExportTextLogsDateDisplay", 22921},
    {"ExportHeaderUnits", 22922},
    {"UseEmail", 10468},
    {"EmailAddresses", 10472},
    {"EmailMAPIProfile", 10600},
    {"EmailNTUser", 10680},
    {"EmailNTDomain", 10720},
    {"EmailSubject", 10740},
    {"EmailText", 10996},
    {"EmailSMTPSender", 13045},
    {"EmailSMTPSenderBox", 13085},
    {"EmailSMTPHost", 13125},
    {"EmailSMTPLogin", 13165},
    {"EmailSMTPPort", 13208},
    {"EmailSMTPEncryption", 13212},
    {"EmailUseMAPI", 13216},
    {"EmailLogOnAs", 13220},
    {"EmailUseSMTPLogin", 13224},
    {"EmailSendFile", 13228},
    {"EmailAttachFile", 13232},
    {"EmailZipFile", 14024},
    {"EmailDeleteFile", 13236},
    {"EmailMAPIPassword", 30676},
    {"EmailNTPassword", 31190},
    {"EmailSMTPPassword", 31704},
};

// Array entries: "<array>.<i>.<element>" at base + size x i + the element's offset.
struct ArrayRows {
    const char *array;
    uint32_t base, size;
    std::map<std::string, uint32_t> elements;
};

void checkKind(int kind, const std::map<std::string, uint32_t> &rows,
               const std::vector<ArrayRows> &arrays, int leaves) {
    const std::vector<StructsLeaf> &all = lgr_Leaves(kind);
    ASSERT_EQ(static_cast<int>(all.size()), leaves);
    std::map<std::string, uint32_t> seen;
    for (const StructsLeaf &leaf : all) {
        EXPECT_TRUE(seen.emplace(leaf.name, leaf.offset).second) << leaf.name;
        EXPECT_LE(leaf.offset + leaf.type->size, static_cast<uint32_t>(lgr_KindSize(kind)));
    }
    size_t expected = rows.size();
    for (const auto &[name, offset] : rows) {
        ASSERT_TRUE(seen.count(name)) << name;
        EXPECT_EQ(seen[name], offset) << name;
    }
    for (const ArrayRows &a : arrays) {
        for (uint32_t i = 0; i < 64; ++i) {
            for (const auto &[element, offset] : a.elements) {
                std::string name = std::string(a.array) + "." + std::to_string(i) +
                                   (element.empty() ? "" : "." + element);
                ASSERT_TRUE(seen.count(name)) << name;
                EXPECT_EQ(seen[name], a.base + a.size * i + offset) << name;
                ++expected;
            }
        }
    }
    EXPECT_EQ(expected, all.size());
}
} // namespace

TEST(LoggerRecords, FieldsLieWhereTheLayoutsPutThem) {
    checkKind(LGR_KIND_RESUB, k_resub, {}, LGR_RESUB_LEAVES);
    checkKind(LGR_KIND_REPUB, k_repub,
              {{"FilterChannels", 5544, 6, {{"Prefix", 0}, {"From", 2}, {"To", 4}}},
               {"FilterChannelsName", 5928, 33, {{"", 0}}}},
              LGR_REPUB_LEAVES);
    checkKind(LGR_KIND_STAND, k_stand,
              {{"LogChannels",
                22964,
                84,
                {{"Source", 0},
                 {"Range.Prefix", 34},
                 {"Range.From", 36},
                 {"Range.To", 38},
                 {"Tags.From", 40},
                 {"Tags.To", 55},
                 {"Average", 72},
                 {"Lag", 76},
                 {"Recalc", 80}}},
               {"EventChannels",
                28340,
                36,
                {{"Range.Prefix", 0},
                 {"Range.From", 2},
                 {"Range.To", 4},
                 {"Tags.From", 6},
                 {"Tags.To", 21}}}},
              LGR_STAND_LEAVES);
    // The last row ends two bytes before the end of the "stand" record.
    uint32_t end = 0;
    for (const StructsLeaf &leaf : lgr_Leaves(LGR_KIND_STAND))
        end = std::max(end, leaf.offset + leaf.type->size);
    EXPECT_EQ(end, 32218u);
}

TEST(LoggerRecords, KindsAreChosenByTheirFirstFiveCharacters) {
    EXPECT_EQ(lgr_KindOf("STANDARD"), LGR_KIND_STAND);
    EXPECT_EQ(lgr_KindOf("RePub"), LGR_KIND_REPUB);
    EXPECT_EQ(lgr_KindOf("resubscriber"), LGR_KIND_RESUB);
    EXPECT_EQ(lgr_KindOf("resu"), LGR_KIND_UNKNOWN);
    EXPECT_EQ(lgr_KindOf(nullptr), LGR_KIND_UNKNOWN);
    EXPECT_EQ(lgr_KindSize(LGR_KIND_UNKNOWN), 0);
    EXPECT_EQ(lgr_KindType(LGR_KIND_UNKNOWN), nullptr);
}

TEST(LoggerRecords, PeriodCodesCountMinutesExactly) {
    struct {
        uint8_t period[6];
        uint8_t code;
    } cases[] = {
        {{0, 0, 0, 0, 30, 0}, 1}, {{0, 0, 0, 1, 0, 0}, 2},   {{0, 0, 0, 2, 0, 0}, 3},
        {{0, 0, 0, 4, 0, 0}, 4},  {{0, 0, 0, 8, 0, 0}, 5},   {{0, 0, 0, 12, 0, 0}, 6},
        {{0, 0, 1, 0, 0, 0}, 7},  {{0, 0, 7, 0, 0, 0}, 8},   {{0, 0, 14, 0, 0, 0}, 9},
        {{0, 1, 0, 0, 0, 0}, 10}, {{0, 2, 0, 0, 0, 0}, 11},  {{0, 3, 0, 0, 0, 0}, 12},
        {{0, 0, 0, 1, 30, 0}, 0}, {{0, 0, 0, 0, 60, 0}, 2},  {{9, 0, 1, 0, 0, 0}, 7},
        {{0, 0, 0, 0, 0, 0}, 0},  {{0, 0, 31, 0, 0, 0}, 10}, {{0, 0, 0, 0, 0, 30}, 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(lgr_PeriodCode(c.period), c.code)
            << int(c.period[1]) << " " << int(c.period[2]) << " " << int(c.period[3]) << " "
            << int(c.period[4]);

    std::vector<uint8_t> repub(LGR_REPUB_SIZE, 0);
    repub[LgrRepub::DeleteSourceOlderThan + 2] = 1;
    repub[LgrRepub::DeleteDestinationOlderThan + 3] = 2;
    repub[LgrRepub::CyclePublishFor + 1] = 1;
    repub[LgrRepub::CycleEvery + 4] = 30;
    lgr_RepubPeriodCodes(repub.data());
    EXPECT_EQ(repub[29], 7);
    EXPECT_EQ(repub[30], 3);
    EXPECT_EQ(repub[31], 10);
    EXPECT_EQ(repub[32], 1);
}

TEST(LoggerRecords, HexHelpersStopAtTheFirstNonDigitPair) {
    const uint8_t bytes[] = {0x00, 0xAB, 0x7f};
    char text[7];
    lgr_HexEncode(text, bytes, 3);
    EXPECT_STREQ(text, "00ab7f");
    uint8_t out[4] = {};
    EXPECT_EQ(lgr_HexDecode(out, "00AB7f", 4), 3);
    EXPECT_EQ(out[1], 0xAB);
    EXPECT_EQ(lgr_HexDecode(out, "0102x3", 4), 2);
    EXPECT_EQ(lgr_HexDecode(out, "01020", 4), 2); // a lone last digit
    EXPECT_EQ(lgr_HexDecode(out, "0102030405", 4), 4);
    EXPECT_EQ(lgr_HexDecode(out, "", 4), 0);
}

TEST(LoggerRecords, StandViewAndPartsAgreeBothWays) {
    namespace S = LgrStand;
    std::vector<uint8_t> r(LGR_STAND_SIZE, 0);
    uint8_t *p = r.data();
    // The structured view: channel 3 and 40, an event channel, export flags, passwords.
    uint32_t e3 = S::LogChannels + 84 * 3, e40 = S::LogChannels + 84 * 40;
    memcpy(p + e3 + S::ChSource, "Boiler feed", 11);
    memcpy(p + e3 + S::ChRange, "AI", 2);
    lgr_SetU16(p, e3 + S::ChRange + 2, 5);
    lgr_SetU16(p, e3 + S::ChRange + 4, 9);
    memcpy(p + e3 + S::ChTags, "TAG-FROM-ABCDEF", 14); // 14 characters: the first 12 move
    memcpy(p + e3 + S::ChTags + 15, "TAG-TO", 6);
    lgr_SetI32(p, e3 + S::ChAverage, 1);
    lgr_SetI32(p, e3 + S::ChLag, 1);
    lgr_SetI32(p, e3 + S::ChRecalc, 1);
    lgr_SetI32(p, e40 + S::ChAverage, 1);
    uint32_t v2 = S::EventChannels + 36 * 2;
    memcpy(p + v2 + S::EvRange, "DI", 2);
    memcpy(p + v2 + S::EvTags, "EVENT-TAG", 9);
    p[S::ExportFlagFields + 4 * 0] = 1;
    p[S::ExportFlagFields + 4 * 5] = 1;
    memcpy(p + S::ExportFileName, "out.XLS", 7);
    memcpy(p + S::SmtpPasswordText, "0aFF10", 6);
    memcpy(p + S::MapiPasswordText, "41424z", 6); // decodes two bytes, stores two
    lgr_StandFromView(p);

    EXPECT_EQ(lgr_I32(p, S::Averages + 4 * 3), 1);
    EXPECT_EQ(lgr_I32(p, S::Averages + 4 * 40), 1);
    EXPECT_EQ(lgr_I32(p, S::Lags + 4 * 3), 1);
    EXPECT_EQ(p[S::RecalcBytes + 3], 1);
    EXPECT_EQ(memcmp(p + S::Sources + 33 * 3, "Boiler feed", 12), 0);
    EXPECT_EQ(memcmp(p + S::LogRanges + 6 * 3, p + e3 + S::ChRange, 6), 0);
    EXPECT_EQ(memcmp(p + S::LogTags + 30 * 3, p + e3 + S::ChTags, 30), 0);
    EXPECT_EQ(memcmp(p + S::EventRanges + 6 * 2, "DI", 2), 0);
    EXPECT_EQ(memcmp(p + S::EventTags + 30 * 2, "EVENT-TAG", 9), 0);
    // Older parts: channels below 16 only; 12 tag bytes in the 24-byte slots.
    EXPECT_EQ(lgr_U16(p, S::OldAverageBits), 1u << 3);
    EXPECT_EQ(memcmp(p + S::OldLogRanges + 18, p + e3 + S::ChRange, 6), 0);
    EXPECT_EQ(memcmp(p + S::OldLogTags + 72, "TAG-FROM-ABC", 12), 0);
    EXPECT_EQ(p[S::OldLogTags + 72 + 12], 0);
    EXPECT_EQ(memcmp(p + S::OldEventRanges + 12, "DI", 2), 0);
    EXPECT_EQ(memcmp(p + S::OldEventTags + 48, "EVENT-TAG", 9), 0);
    EXPECT_EQ(p[S::ExportFlags], 0x21);
    EXPECT_EQ(p[S::ExportFileType], 1);
    EXPECT_EQ(p[S::ChannelsValid], 1);
    EXPECT_EQ(p[S::PasswordsValid], 1);
    EXPECT_EQ(lgr_I32(p, S::SmtpPasswordLength), 3);
    EXPECT_EQ(p[S::SmtpPassword + 1], 0xFF);
    EXPECT_EQ(lgr_I32(p, S::MapiPasswordLength), 2);
    EXPECT_EQ(lgr_I32(p, S::NtPasswordLength), 0);

    // Back: the view is rebuilt from the parts; flags keep their other three bytes.
    std::vector<uint8_t> view = r;
    memset(view.data() + S::LogChannels, 0, 5376 + 2304);
    view[S::ExportFlagFields + 4 * 5 + 1] = 0x77;
    memset(view.data() + S::SmtpPasswordText, 0, 514);
    lgr_StandToView(view.data());
    EXPECT_EQ(memcmp(view.data() + e3, p + e3, 84), 0);
    EXPECT_EQ(memcmp(view.data() + v2, p + v2, 36), 0);
    EXPECT_EQ(view[S::ExportFlagFields + 4 * 5], 1);
    EXPECT_EQ(view[S::ExportFlagFields + 4 * 5 + 1], 0x77);
    EXPECT_STREQ(reinterpret_cast<char *>(view.data() + S::SmtpPasswordText), "0aff10");
    EXPECT_STREQ(reinterpret_cast<char *>(view.data() + S::MapiPasswordText), "4142");

    // Export file types by the last four characters.
    const std::pair<const char *, uint8_t> names[] = {{"a.csv", 0}, {"A.CSV", 0}, {"b.dif", 2},
                                                      {"c.txt", 4}, {"d.xls", 1}, {".csv", 1},
                                                      {"e.doc", 1}, {"", 1}};
    for (const auto &[name, code] : names) {
        memset(p + S::ExportFileName, 0, 256);
        memcpy(p + S::ExportFileName, name, strlen(name));
        lgr_StandFromView(p);
        EXPECT_EQ(p[S::ExportFileType], code) << name;
    }
}

TEST(LoggerRecords, PasswordLengthsFromAFileAreBounded) {
    namespace S = LgrStand;
    std::vector<uint8_t> r(LGR_STAND_SIZE, 0x5A);
    r[S::ChannelsValid] = 1;
    r[S::PasswordsValid] = 1;
    lgr_SetI32(r.data(), S::MapiPasswordLength, 100000);
    lgr_SetI32(r.data(), S::NtPasswordLength, -5);
    lgr_SetI32(r.data(), S::SmtpPasswordLength, 2);
    lgr_StandToView(r.data());
    EXPECT_EQ(strnlen(reinterpret_cast<char *>(r.data() + S::MapiPasswordText), 514), 512u);
    EXPECT_EQ(r[S::NtPasswordText], 0);
    EXPECT_STREQ(reinterpret_cast<char *>(r.data() + S::SmtpPasswordText), "5a5a");

    // Not yet valid: every password is empty.
    r[S::PasswordsValid] = 0;
    lgr_StandToView(r.data());
    EXPECT_EQ(r[S::SmtpPasswordText], 0);
    EXPECT_EQ(r[S::PasswordsValid], 1);

    // Back from an odd text: the length is what was decoded, the rest of the bytes zero.
    memset(r.data() + S::SmtpPasswordText, 0, 514);
    memcpy(r.data() + S::SmtpPasswordText, "abcde", 5);
    lgr_StandFromView(r.data());
    EXPECT_EQ(lgr_I32(r.data(), S::SmtpPasswordLength), 2);
    EXPECT_EQ(r[S::SmtpPassword + 2], 0);
    EXPECT_EQ(r[S::SmtpPassword + 255], 0);
}

TEST(LoggerRecords, UpgradeFillsTheSixtyFourChannelPartsFromTheOlderOnes) {
    namespace S = LgrStand;
    std::vector<uint8_t> r(LGR_STAND_SIZE, 0);
    uint8_t *p = r.data();
    memcpy(p + S::OldLogRanges + 6 * 2, "AI\x01\x00\x04\x00", 6);
    memcpy(p + S::OldEventRanges + 6 * 15, "DI\x02\x00\x03\x00", 6);
    lgr_SetU16(p, S::OldAverageBits, (1u << 2) | (1u << 15));
    memcpy(p + S::OldLogTags + 24 * 2, "FIRST-TAG-12xxxxxxxxxxxx", 24);
    memset(p + S::LogTags + 30 * 2, 'q', 30);  // stale: the tail is cleared
    memset(p + S::Sources + 33 * 20, 'q', 33); // channel 20 is cleared
    lgr_SetI32(p, S::Averages + 4 * 63, 1);
    EXPECT_EQ(lgr_UpgradeStandRecord(nullptr), -1);
    EXPECT_EQ(lgr_UpgradeStandRecord(p), 1);
    EXPECT_EQ(memcmp(p + S::LogRanges + 12, "AI\x01\x00\x04\x00", 6), 0);
    EXPECT_EQ(memcmp(p + S::EventRanges + 90, "DI\x02\x00\x03\x00", 6), 0);
    EXPECT_EQ(lgr_I32(p, S::Averages + 8), 1);
    EXPECT_EQ(lgr_I32(p, S::Averages + 60), 1);
    EXPECT_EQ(lgr_I32(p, S::Averages + 4 * 63), 0);
    EXPECT_EQ(memcmp(p + S::LogTags + 60, "FIRST-TAG-12", 12), 0);
    EXPECT_EQ(p[S::LogTags + 60 + 12], 0);
    EXPECT_EQ(p[S::LogTags + 60 + 29], 0);
    EXPECT_EQ(p[S::Sources + 33 * 20], 0);
    EXPECT_EQ(p[S::ChannelsValid], 1);

    // An older record shown as a view keeps its 16 channels.
    std::vector<uint8_t> old(LGR_STAND_SIZE, 0);
    memcpy(old.data() + S::OldLogRanges + 6 * 2, "AI\x01\x00\x04\x00", 6);
    lgr_StandToView(old.data());
    EXPECT_EQ(memcmp(old.data() + S::LogChannels + 84 * 2 + S::ChRange, "AI\x01\x00\x04\x00", 6),
              0);

    // Downgrade: the view's first 16 channels to both other parts.
    std::vector<uint8_t> d(LGR_STAND_SIZE, 0);
    memcpy(d.data() + S::LogChannels + 84 * 5 + S::ChRange, "AO", 2);
    memcpy(d.data() + S::LogChannels + 84 * 20 + S::ChRange, "AO", 2);
    lgr_SetI32(d.data(), S::LogChannels + 84 * 5 + S::ChAverage, 1);
    EXPECT_EQ(lgr_DowngradeStandRecord(nullptr), -1);
    EXPECT_EQ(lgr_DowngradeStandRecord(d.data()), 1);
    EXPECT_EQ(memcmp(d.data() + S::OldLogRanges + 30, "AO", 2), 0);
    EXPECT_EQ(memcmp(d.data() + S::LogRanges + 30, "AO", 2), 0);
    EXPECT_EQ(d[S::LogRanges + 120], 0);
    EXPECT_EQ(lgr_U16(d.data(), S::OldAverageBits), 1u << 5);
}
