// The elements an XML logger file must hold, by the values of the elements already read.
#include "lgr.h"

#include "xml.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_set>

namespace {
namespace S = LgrStand;
namespace P = LgrRepub;
namespace U = LgrResub;

// Walks the rules; the first missing element stops it. A "stand" file names a thousand
// elements and its rules ask for hundreds: the names are looked up in a set made once.
struct Check {
    Check(const char *list, const void *record) : found(list), r(record) {
        // A name counts between two commas, as the list's own search finds it.
        std::string_view all = list != nullptr ? list : "";
        for (size_t at = all.find(','); at != std::string_view::npos;) {
            size_t next = all.find(',', at + 1);
            if (next == std::string_view::npos) break;
            names.insert(all.substr(at + 1, next - at - 1));
            at = next;
        }
    }
    const char *found;
    const void *r;
    std::unordered_set<std::string_view> names;
    bool failed = false;

    bool need(const char *name) {
        // The list's own search sets the message of the element that is missing.
        if (!failed && !has(name) && lgr_RequireField(found, name) != 0) failed = true;
        return !failed;
    }
    void need(std::initializer_list<const char *> list) {
        for (const char *n : list)
            need(n);
    }
    bool has(const char *name) const { return names.count(name) != 0; }
    uint8_t u8(uint32_t offset) const { return lgr_U8(r, offset); }
    int32_t i32(uint32_t offset) const { return lgr_I32(r, offset); }
};

void resub(Check &c) {
    c.need({"Name", "Autostart", "ExpiryTimeEnable"});
    if (c.u8(U::ExpiryTimeEnable)) c.need("ExpiryTime");
    c.need("OverrideDestination");
    if (c.u8(U::OverrideDestination)) {
        c.need({"DestinationDirectory", "DatabaseDestinationUse"});
        if (c.u8(U::DatabaseDestinationUse)) c.need("DatabaseDestination");
    }
    static const struct {
        const char *suffix;
        uint32_t generate;
    } k_alarms[] = {{"OnChannelAlarm", U::GenerateAlarmOnChannelAlarm},
                    {"OnChannelError", U::GenerateAlarmOnChannelError},
                    {"OnCommTimeout", U::GenerateAlarmOnCommTimeout}};
    for (const auto &a : k_alarms) {
        std::string s = a.suffix;
        c.need(("GenerateAlarm" + s).c_str());
        if (c.u8(a.generate)) {
            c.need(("PriorityAlarm" + s).c_str());
            c.need(("CommonAlarm" + s).c_str());
            c.need(("DelayAlarm" + s).c_str());
        }
    }
}

void repub(Check &c) {
    c.need({"Name", "SourceLogger", "SourceStorage"});
    int32_t source = c.i32(P::SourceStorage);
    if (source == 0) {
        c.need({"SourceDirectory", "SourceLogin"});
        if (c.u8(P::SourceLogin)) c.need({"SourceLoginUserName", "SourceLoginPassword"});
    } else if (source == 1) {
        c.need("SourceDatabase");
    }
    c.need(
        {"SourcePrefix", "DestinationConnectionType", "DestinationServer", "DestinationStorage"});
    int32_t destination = c.i32(P::DestinationStorage);
    if (destination == 0) {
        c.need({"DestinationDirectory", "DestinationLogin", "DestinationMarkFilesReadOnly"});
        if (c.i32(P::DestinationLogin))
            c.need({"DestinationLoginUserName", "DestinationLoginPassword"});
    } else if (destination == 1) {
        c.need("DestinationDatabase");
    }
    c.need({"DestinationPrefix", "DestinationUpdatesToTextLogs", "Autostart", "UpdateRate",
            "StartTime", "StopTime", "Cycle"});
    if (c.u8(P::Cycle) != 0) c.need({"CycleEvery", "CyclePublishFor"});
    c.need("DeleteSource");
    if (c.u8(P::DeleteSource)) c.need("DeleteSourceOlderThan");
    c.need("DeleteDestination");
    if (c.u8(P::DeleteDestination)) c.need("DeleteDestinationOlderThan");
    c.need("RenameAllocatedSubscription");
    if (c.i32(P::RenameAllocatedSubscription)) c.need("RenameLoggerName");
    c.need({"BufferSize", "NetworkConnection", "ThrottleBandwidth"});
    if (c.u8(P::ThrottleBandwidth)) c.need("BandwidthThrottleKbs");
    c.need("ChannelFilter");
    if (c.failed || !c.u8(P::ChannelFilter)) return;
    // The filter list ends at the first entry that is not all there.
    for (int i = 0; i < 64; ++i) {
        char names[4][48];
        snprintf(names[0], sizeof names[0], "FilterChannels.%d.Prefix", i);
        snprintf(names[1], sizeof names[1], "FilterChannels.%d.From", i);
        snprintf(names[2], sizeof names[2], "FilterChannels.%d.To", i);
        snprintf(names[3], sizeof names[3], "FilterChannelsName.%d", i);
        for (const char *n : names)
            if (!c.has(n)) return;
    }
}

void stand(Check &c) {
    c.need({"Name", "Autostart", "Storage", "Type"});
    uint8_t type = c.u8(S::Type);
    if (type == 0) {
        c.need("PeriodPreEventRate");
    } else if (type == 1) {
        c.need({"PeriodPreEventRate", "EventLogs"});
        if (c.u8(S::EventLogs) != 0) c.need("EventRate");
    } else if (type == 2) {
        c.need({"PreEventLogs", "PostEventLogs"});
        if (c.u8(S::EventLogs) != 0) c.need("EventRate");
    }
    c.need({"StartMode", "StartTime", "StopTime", "Delete"});
    if (c.u8(S::Delete)) c.need("DeleteOlderThan");
    c.need("Cycle");
    if (c.u8(S::Cycle) != 0) c.need({"CycleEvery", "CycleMode", "CycleLogFor"});
    static const char *const k_log[] = {"Range.Prefix", "Range.From", "Range.To", "Tags.From",
                                        "Tags.To",      "Average",    "Lag"};
    for (int i = 0; i < 64 && !c.failed; ++i)
        for (const char *e : k_log)
            c.need(("LogChannels." + std::to_string(i) + "." + e).c_str());
    if (type == 1 || type == 2) {
        static const char *const k_event[] = {"Range.Prefix", "Range.From", "Range.To", "Tags.From",
                                              "Tags.To"};
        for (int i = 0; i < 64 && !c.failed; ++i)
            for (const char *e : k_event)
                c.need(("EventChannels." + std::to_string(i) + "." + e).c_str());
    }
    if (type == 3) {
        c.need({"RofCTriggerChannel.Prefix", "RofCTriggerChannel.Number", "RofCTriggerTag",
                "RateofChangeType"});
        int32_t rate = c.i32(S::RateofChangeType);
        if (rate == 0)
            c.need({"RateofChangeChannel.Prefix", "RateofChangeChannel.Number", "RateofChangeTag"});
        else if (rate == 1)
            c.need("RateofChangeValue");
        c.need({"RofCLaggedTriggerChannel.Prefix", "RofCLaggedTriggerChannel.Number",
                "RofCLaggedTriggerTag", "RofCRewindType"});
        int32_t rewind = c.i32(S::RofCRewindType);
        if (rewind == 0)
            c.need({"RofCRewindChannel.Prefix", "RofCRewindChannel.Number", "RofCRewindTag"});
        else if (rewind == 1)
            c.need("RofCRewindValue");
    }
    c.need({"TextLogging", "BufferSize", "WritetoDiskRate", "LogByTag"});
    int32_t storage = c.i32(S::Storage);
    if (storage == 0) {
        c.need("Directory");
    } else if (storage == 1) {
        c.need({"Database", "Replicate"});
        if (c.u8(S::Replicate)) c.need({"ReplicationTarget", "DropMerge", "DropMergeCylce"});
    }
    c.need("DiskSpaceChecking");
    if (c.u8(S::DiskSpaceChecking)) c.need("DiskSpaceThreshold");
    c.need({"SaveConfigurationFile", "MarkFilesReadOnly", "DateAsTableSeqNo", "NamePrefix",
            "ForceDeviceScanRates", "WarnIfNoDeviceUpdates", "AutoEnableDevices", "DataExport"});
    if (c.u8(S::DataExport)) {
        c.need("ExportType");
        int32_t exportType = c.i32(S::ExportType);
        if (exportType == 0) {
            c.need({"ExportCommand", "ExportParameters"});
        } else if (exportType == 1) {
            c.need({"ExportHeaderType",
                    "ExportTimeBaseType",
                    "ExportTimeBaseUnits",
                    "ExportDataLogsDateDisplay",
                    "ExportFileOptions",
                    "ExportFileName",
                    "ExportHeaderText",
                    "ExportSplitFiles",
                    "ExportSkipFrequency",
                    "ExportDateFormat",
                    "ExportValueWidth",
                    "ExportValuePrecision",
                    "ExportEOLString",
                    "ExportSepString",
                    "ExportDataLogs",
                    "ExportStatistics",
                    "ExportTextLogs",
                    "ExportTextNewLine",
                    "ExportColumnHeaders",
                    "ExportColumnHeaderAsTags",
                    "ExportLoggerInfo",
                    "ExportChannelHeaderTags",
                    "ExportDateTimeColumns",
                    "ExportDateSkipType",
                    "ExportMsCol",
                    "ExportTextHeaderWorksheet",
                    "ExportUseExcelTemplate",
                    "ExportTemplateName",
                    "ExportHeaderDateFormat",
                    "ExportTextLogsDateDisplay",
                    "ExportHeaderUnits"});
        }
    }
    c.need("UseEmail");
    if (!c.u8(S::UseEmail)) return;
    c.need("EmailUseMAPI");
    if (c.u8(S::EmailUseMAPI)) {
        c.need({"EmailMAPIProfile", "EmailLogOnAs"});
        if (c.u8(S::EmailLogOnAs))
            c.need({"EmailNTUser", "EmailNTDomain", "EmailNTPassword"});
        else
            c.need("EmailMAPIPassword");
    } else {
        c.need({"EmailSMTPSender", "EmailSMTPSenderBox", "EmailSMTPHost", "EmailSMTPPort",
                "EmailSMTPEncryption", "EmailUseSMTPLogin"});
        if (c.u8(S::EmailUseSMTPLogin)) c.need({"EmailSMTPLogin", "EmailSMTPPassword"});
    }
    c.need({"EmailSubject", "EmailText", "EmailSendFile", "EmailAttachFile", "EmailDeleteFile"});
}
} // namespace

int lgr_RequireField(const char *found, const char *name) {
    std::string key = std::string(",") + (name != nullptr ? name : "") + ",";
    if (found != nullptr && strstr(found, key.c_str()) != nullptr) return 0;
    xml_SetErrorf(XML_E_FAIL, "<%s> tag not found", name != nullptr ? name : "");
    return -1;
}

int lgr_CheckRequiredFields(const char *found, const char *kind, const void *record) {
    Check c{found, record};
    switch (lgr_KindOf(kind)) {
    case LGR_KIND_RESUB:
        resub(c);
        break;
    case LGR_KIND_REPUB:
        repub(c);
        break;
    case LGR_KIND_STAND:
        stand(c);
        break;
    default:
        break;
    }
    return c.failed ? -1 : 0;
}
