// Structs types of the three logger records. The field order is the element order of the XML
// form, its schema and the change history; offsets are offsets in the record.
#include "lgr.h"
#include "structs_settings.h"

#include "structs_type_array.h"
#include "structs_type_boolean.h"
#include "structs_type_float.h"
#include "structs_type_id.h"
#include "structs_type_int.h"
#include "structs_type_string.h"
#include "structs_type_struct.h"

#include <cstring>
#include <strings.h>

namespace {
#define TEXT(n) const structs_type k_text##n = STRUCTS_BOUNDEDSTRING_TYPE(n)
TEXT(15);
TEXT(20);
TEXT(25);
TEXT(33);
TEXT(40);
TEXT(101);
TEXT(128);
TEXT(130);
TEXT(200);
TEXT(256);
TEXT(257);
TEXT(260);
TEXT(514);
TEXT(1024);
TEXT(1100);
TEXT(2049);
#undef TEXT

// A channel's table id ("AI", "DI"): both bytes hold text, NUL-terminated only when shorter, as
// the block descriptors and the channel tables carry it; a longer text is refused. The type
// name, and so the schema's maxLength 2, is that of the bounded strings around it.
int prefixBinify(const structs_type *type, const char *ascii, void *data, char *ebuf, size_t emax) {
    const size_t len = strlen(ascii);
    if (len > type->size) {
        structs_set_error(ebuf, emax, "string is too long for bounded length buffer");
        return -1;
    }
    memcpy(data, ascii, len < type->size ? len + 1 : len);
    return 0;
}
const structs_type k_prefix = {
    2,
    "fixedstring",
    STRUCTS_TYPE_PRIMITIVE,
    structs_region_init,
    structs_region_copy,
    structs_boundedstring_equal,
    structs_boundedstring_ascify,
    prefixBinify,
    structs_string_encode,
    structs_string_decode,
    structs_nothing_free,
    {{.i = 0}, {.i = 0}, {.i = 0}},
};

constexpr const structs_type *k_bool8 = &structs_type_boolean_char_onoff;
constexpr const structs_type *k_bool32 = &structs_type_boolean_int_onoff;
constexpr const structs_type *k_u8 = &structs_type_uint8;
constexpr const structs_type *k_u16 = &structs_type_uint16;
constexpr const structs_type *k_u32 = &structs_type_uint32;
constexpr const structs_type *k_float = &structs_type_float;
constexpr const structs_type *k_date = &structs_time_date_any_type;
constexpr const structs_type *k_period = &structs_time_period_type;

// Each id field has a table of its own; names compare exactly.
const structs_id k_storageNames[] = {{"FILE", 0, 0}, {"DATABASE", 1, 0}, {nullptr, 0, 0}};
const structs_id k_connectionNames[] = {{"WebService", 0, 0}, {"Directory", 1, 0}, {nullptr, 0, 0}};
const structs_id k_cycleNames[] = {
    {"NONE", 0, 0}, {"ON TIME", 1, 0}, {"ON EVENT", 2, 0}, {nullptr, 0, 0}};
const structs_id k_typeNames[] = {{"PERIOD", 0, 0},
                                  {"PERIOD-EVENT", 1, 0},
                                  {"EVENT", 2, 0},
                                  {"RATE OF CHANGE", 3, 0},
                                  {nullptr, 0, 0}};
const structs_id k_startModeNames[] = {{"APPEND", 0, 0}, {"CREATE", 1, 0}, {nullptr, 0, 0}};
const structs_id k_cycleModeNames[] = {{"CREATE", 0, 0}, {"APPEND", 1, 0}, {nullptr, 0, 0}};
const structs_id k_exportTypeNames[] = {
    {"RUN COMMAND", 0, 0}, {"DATA EXPORT", 1, 0}, {nullptr, 0, 0}};
const structs_id k_headerTypeNames[] = {
    {"NONE", 0, 0}, {"TEXT FILE", 1, 0}, {"USER DEFINED", 2, 0}, {nullptr, 0, 0}};
const structs_id k_timeBaseTypeNames[] = {
    {"ELAPSED", 0, 0}, {"DIFFERENTIAL", 1, 0}, {"ABSOLUTE", 2, 0}, {nullptr, 0, 0}};
const structs_id k_unitsNames[] = {
    {"SECONDS", 0, 0}, {"MINUTES", 1, 0}, {"HOURS", 2, 0}, {nullptr, 0, 0}};
const structs_id k_dateFormatNames[] = {
    {"SHORT", 0, 0},      {"LONG", 1, 0},     {"dd/MM/yyyy", 2, 0},   {"dd/MM/yy", 3, 0},
    {"MM/dd/yyyy", 4, 0}, {"MM/dd/yy", 5, 0}, {"yy/MM/dd", 6, 0},     {"yyyy/MM/dd", 7, 0},
    {"yyyy-MM-dd", 8, 0}, {"yy-MM-dd", 9, 0}, {"dd-MMM-yyyy", 10, 0}, {"dd-MMM-yy", 11, 0},
    {nullptr, 0, 0}};
const structs_id k_skipNames[] = {{"EXPORT ALL", 0, 0},
                                  {"SKIP EVERY", 1, 0},
                                  {"SKIP TIME FREQUENCY", 2, 0},
                                  {"SKIP DUPLICATES", 3, 0},
                                  {nullptr, 0, 0}};

// repub
const structs_type k_sourceStorage = STRUCTS_ID_TYPE(k_storageNames, 4);
const structs_type k_connectionType = STRUCTS_ID_TYPE(k_connectionNames, 4);
const structs_type k_destinationStorage = STRUCTS_ID_TYPE(k_storageNames, 4);
const structs_type k_repubCycle = STRUCTS_ID_TYPE(k_cycleNames, 1);
// stand
const structs_type k_storage = STRUCTS_ID_TYPE(k_storageNames, 4);
const structs_type k_type = STRUCTS_ID_TYPE(k_typeNames, 1);
const structs_type k_startMode = STRUCTS_ID_TYPE(k_startModeNames, 1);
const structs_type k_cycle = STRUCTS_ID_TYPE(k_cycleNames, 1);
const structs_type k_cycleMode = STRUCTS_ID_TYPE(k_cycleModeNames, 4);
const structs_type k_rateofChangeType = STRUCTS_ID_TYPE(k_storageNames, 4);
const structs_type k_rewindType = STRUCTS_ID_TYPE(k_storageNames, 4);
const structs_type k_exportType = STRUCTS_ID_TYPE(k_exportTypeNames, 4);
const structs_type k_headerType = STRUCTS_ID_TYPE(k_headerTypeNames, 1);
const structs_type k_timeBaseType = STRUCTS_ID_TYPE(k_timeBaseTypeNames, 1);
const structs_type k_timeBaseUnits = STRUCTS_ID_TYPE(k_unitsNames, 1);
const structs_type k_fileOptions = STRUCTS_ID_TYPE(k_unitsNames, 1);
const structs_type k_dateFormat = STRUCTS_ID_TYPE(k_dateFormatNames, 4);
const structs_type k_skipType = STRUCTS_ID_TYPE(k_skipNames, 1);
const structs_type k_headerDateFormat = STRUCTS_ID_TYPE(k_dateFormatNames, 1);

constexpr structs_field at(const char *name, const structs_type *type, uint32_t size,
                           uint32_t offset) {
    return {name, type, static_cast<uint16_t>(size), static_cast<uint16_t>(offset)};
}
constexpr structs_field END = STRUCTS_STRUCT_FIELD_END;

#define STRUCTURE(size, fields)                                                                    \
    {                                                                                              \
        (size), "structure", STRUCTS_TYPE_STRUCTURE, structs_struct_init, structs_struct_copy,     \
            structs_struct_equal, structs_notsupp_ascify, structs_notsupp_binify,                  \
            structs_struct_encode, structs_struct_decode, structs_struct_free, {                   \
            {.v = (fields)}, {.i = 0}, {                                                           \
                .i = 0                                                                             \
            }                                                                                      \
        }                                                                                          \
    }

// A channel range and a pair of tags, as entries of the channel arrays use them.
constexpr structs_field k_rangeFields[] = {at("Prefix", &k_prefix, 2, 0), at("From", k_u16, 2, 2),
                                           at("To", k_u16, 2, 4), END};
const structs_type k_range = STRUCTURE(6, k_rangeFields);
constexpr structs_field k_tagFields[] = {at("From", &k_text15, 15, 0), at("To", &k_text15, 15, 15),
                                         END};
const structs_type k_tags = STRUCTURE(30, k_tagFields);
// A channel named by prefix and number.
constexpr structs_field k_channelFields[] = {at("Prefix", &k_prefix, 2, 0),
                                             at("Number", k_u16, 2, 2), END};
const structs_type k_channel = STRUCTURE(4, k_channelFields);

// ---- resub ----
constexpr structs_field k_resubFields[] = {
    at("Name", &k_text130, 130, 1),
    at("Autostart", k_bool8, 1, 0),
    at("ExpiryTimeEnable", k_bool8, 1, 131),
    at("ExpiryTime", k_date, 6, 132),
    at("OverrideDestination", k_bool8, 1, 140),
    at("DestinationDirectory", &k_text260, 260, 144),
    at("DatabaseDestinationUse", k_bool8, 1, 404),
    at("DatabaseDestination", &k_text1024, 1024, 408),
    at("GenerateAlarmOnChannelAlarm", k_bool8, 1, 1432),
    at("PriorityAlarmOnChannelAlarm", k_u8, 1, 1433),
    at("CommonAlarmOnChannelAlarm", k_bool8, 1, 1434),
    at("DelayAlarmOnChannelAlarm", k_u16, 2, 1442),
    at("GenerateAlarmOnChannelError", k_bool8, 1, 1435),
    at("PriorityAlarmOnChannelError", k_u8, 1, 1436),
    at("CommonAlarmOnChannelError", k_bool8, 1, 1437),
    at("DelayAlarmOnChannelError", k_u16, 2, 1444),
    at("GenerateAlarmOnCommTimeout", k_bool8, 1, 1438),
    at("PriorityAlarmOnCommTimeout", k_u8, 1, 1439),
    at("CommonAlarmOnCommTimeout", k_bool8, 1, 1440),
    at("DelayAlarmOnCommTimeout", k_u16, 2, 1446),
    at("DestinationCanUpdateText", k_bool8, 1, 1452),
    at("DestinationCanUpdateChannels", k_bool8, 1, 1460),
    at("DestinationCanAckAlarms", k_bool8, 1, 1468),
    at("ArchiveEnable", k_bool8, 1, 1472),
    at("ArchiveDepthType", k_u8, 1, 1473),
    at("ArchiveDepth", k_date, 6, 1474),
    END,
};

// ---- repub ----
constexpr structs_field k_filterFields[] = {at("Prefix", &k_prefix, 2, 0), at("From", k_u16, 2, 2),
                                            at("To", k_u16, 2, 4), END};
const structs_type k_filter = STRUCTURE(6, k_filterFields);
const structs_type k_filterArray = STRUCTS_FIXEDARRAY_TYPE(&k_filter, 6, 64, "FilterChannels");
const structs_type k_filterNameArray =
    STRUCTS_FIXEDARRAY_TYPE(&k_text33, 33, 64, "FilterChannelsName");

constexpr structs_field k_repubFields[] = {
    at("Name", &k_text25, 25, 1),
    at("SourceLogger", k_u32, 4, 84),
    at("SourceStorage", &k_sourceStorage, 4, 348),
    at("SourceDirectory", &k_text260, 260, 88),
    at("SourceLogin", k_bool8, 1, 1576),
    at("SourceLoginUserName", &k_text257, 257, 1580),
    at("SourceLoginPassword", &structs_password_type, 257, 1837),
    at("SourceDatabase", &k_text1024, 1024, 352),
    at("SourcePrefix", &k_text200, 200, 1376),
    at("DestinationConnectionType", &k_connectionType, 4, 2100),
    at("DestinationServer", &structs_server_type, 1284, 2104),
    at("DestinationStorage", &k_destinationStorage, 4, 3680),
    at("DestinationDirectory", &k_text260, 260, 3417),
    at("DestinationLogin", k_bool32, 4, 4908),
    at("DestinationLoginUserName", &k_text257, 257, 4912),
    at("DestinationLoginPassword", &structs_password_type, 257, 5169),
    at("DestinationDatabase", &k_text1024, 1024, 3684),
    at("DestinationPrefix", &k_text200, 200, 4708),
    at("DestinationMarkFilesReadOnly", k_bool8, 1, 5428),
    at("DestinationUpdatesToTextLogs", k_bool8, 1, 76),
    at("Autostart", k_bool8, 1, 0),
    at("UpdateRate", k_u32, 4, 72),
    at("StartTime", k_date, 6, 57),
    at("StopTime", k_date, 6, 63),
    at("Cycle", &k_repubCycle, 1, 28),
    at("CycleEvery", k_period, 6, 51),
    at("CyclePublishFor", k_period, 6, 45),
    at("DeleteSource", k_bool8, 1, 26),
    at("DeleteSourceOlderThan", k_period, 6, 33),
    at("DeleteDestination", k_bool8, 1, 27),
    at("DeleteDestinationOlderThan", k_period, 6, 39),
    at("RenameAllocatedSubscription", k_bool32, 4, 3388),
    at("RenameLoggerName", &k_text25, 25, 3392),
    at("BufferSize", k_u32, 4, 80),
    at("NetworkConnection", &k_text101, 101, 5432),
    at("ThrottleBandwidth", k_bool8, 1, 5536),
    at("BandwidthThrottleKbs", k_u32, 4, 5540),
    at("ChannelFilter", k_bool8, 1, 79),
    at("FilterChannels", &k_filterArray, 384, 5544),
    at("FilterChannelsName", &k_filterNameArray, 2112, 5928),
    END,
};

// ---- stand ----
constexpr structs_field k_logChannelFields[] = {
    at("Source", &k_text33, 33, 0),
    at("Range", &k_range, 6, 34),
    at("Tags", &k_tags, 30, 40),
    at("Average", k_bool32, 4, 72),
    at("Lag", k_bool32, 4, 76),
    at("Recalc", k_bool32, 4, 80),
    END,
};
const structs_type k_logChannel = STRUCTURE(84, k_logChannelFields);
const structs_type k_logChannels = STRUCTS_FIXEDARRAY_TYPE(&k_logChannel, 84, 64, "LogChannels");
constexpr structs_field k_eventChannelFields[] = {at("Range", &k_range, 6, 0),
                                                  at("Tags", &k_tags, 30, 6), END};
const structs_type k_eventChannel = STRUCTURE(36, k_eventChannelFields);
const structs_type k_eventChannels =
    STRUCTS_FIXEDARRAY_TYPE(&k_eventChannel, 36, 64, "EventChannels");

constexpr structs_field k_standFields[] = {
    at("Name", &k_text25, 25, 1),
    at("Autostart", k_bool8, 1, 0),
    at("Storage", &k_storage, 4, 14556),
    at("Type", &k_type, 1, 158),
    at("PreEventLogs", k_u32, 4, 160),
    at("PeriodPreEventRate", k_u32, 4, 164),
    at("EventLogs", k_u8, 1, 159),
    at("EventRate", k_u32, 4, 168),
    at("PostEventLogs", k_u32, 4, 172),
    at("PostEventRate", k_u32, 4, 176),
    at("StartMode", &k_startMode, 1, 27),
    at("StartTime", k_date, 6, 50),
    at("StopTime", k_date, 6, 56),
    at("Delete", k_bool8, 1, 26),
    at("DeleteOlderThan", k_period, 6, 32),
    at("Cycle", &k_cycle, 1, 28),
    at("CycleEvery", k_period, 6, 44),
    at("CycleMode", &k_cycleMode, 4, 15584),
    at("CycleLogFor", k_period, 6, 38),
    at("LogChannels", &k_logChannels, 5376, 22964),
    at("EventChannels", &k_eventChannels, 2304, 28340),
    at("RofCTriggerChannel", &k_channel, 4, 14292),
    at("RofCTriggerTag", &k_text15, 15, 18728),
    at("RateofChangeType", &k_rateofChangeType, 4, 14288),
    at("RateofChangeValue", k_float, 4, 14328),
    at("RateofChangeChannel", &k_channel, 4, 14296),
    at("RateofChangeTag", &k_text15, 15, 18743),
    at("RofCLaggedTriggerChannel", &k_channel, 4, 14300),
    at("RofCLaggedTriggerTag", &k_text15, 15, 18758),
    at("RofCRewindType", &k_rewindType, 4, 22628),
    at("RofCRewindValue", k_float, 4, 22632),
    at("RofCRewindChannel", &k_channel, 4, 22636),
    at("RofCRewindTag", &k_text15, 15, 22640),
    at("TextLogging", k_bool8, 1, 288),
    at("BufferSize", k_u32, 4, 280),
    at("WritetoDiskRate", k_u32, 4, 284),
    at("LogByTag", k_bool8, 1, 14028),
    at("Directory", &k_text260, 260, 289),
    at("Database", &k_text1024, 1024, 14560),
    at("Replicate", k_bool8, 1, 18724),
    at("ReplicationTarget", &k_text1024, 1024, 17700),
    at("DropMerge", k_bool8, 1, 22616),
    at("DropMergeCylce", k_u32, 4, 22620),
    at("DiskSpaceChecking", k_bool8, 1, 5864),
    at("DiskSpaceThreshold", k_u32, 4, 5868),
    at("SaveConfigurationFile", k_bool8, 1, 14332),
    at("MarkFilesReadOnly", k_bool8, 1, 14336),
    at("DateAsTableSeqNo", k_bool8, 1, 22624),
    at("NamePrefix", &k_text200, 200, 14356),
    at("ForceDeviceScanRates", k_bool8, 1, 14340),
    at("WarnIfNoDeviceUpdates", k_bool8, 1, 14344),
    at("AutoEnableDevices", k_bool8, 1, 14348),
    at("DataExport", k_bool8, 1, 1320),
    at("ExportType", &k_exportType, 4, 1324),
    at("ExportCommand", &k_text1100, 1100, 1328),
    at("ExportParameters", &k_text1100, 1100, 2428),
    at("ExportHeaderType", &k_headerType, 1, 3528),
    at("ExportTimeBaseType", &k_timeBaseType, 1, 3529),
    at("ExportTimeBaseUnits", &k_timeBaseUnits, 1, 3530),
    at("ExportDataLogsDateDisplay", k_bool8, 1, 14352),
    at("ExportFileOptions", &k_fileOptions, 1, 3532),
    at("ExportFileName", &k_text256, 256, 5582),
    at("ExportHeaderText", &k_text2049, 2049, 3533),
    at("ExportSplitFiles", k_bool8, 1, 5838),
    at("ExportSkipFrequency", k_u32, 4, 5840),
    at("ExportDateFormat", &k_dateFormat, 4, 5844),
    at("ExportValueWidth", k_u32, 4, 5848),
    at("ExportValuePrecision", k_u32, 4, 5852),
    at("ExportEOLString", &structs_eol_type, 3, 5856),
    at("ExportSepString", &structs_sep_type, 3, 5859),
    at("ExportDataLogs", k_bool8, 1, 30644),
    at("ExportStatistics", k_bool8, 1, 30648),
    at("ExportTextLogs", k_bool8, 1, 30652),
    at("ExportTextNewLine", k_bool8, 1, 30656),
    at("ExportColumnHeaders", k_bool8, 1, 30660),
    at("ExportColumnHeaderAsTags", k_bool8, 1, 30664),
    at("ExportLoggerInfo", k_bool8, 1, 30668),
    at("ExportChannelHeaderTags", k_bool8, 1, 30672),
    at("ExportDateTimeColumns", k_bool8, 1, 22655),
    at("ExportDateSkipType", &k_skipType, 1, 22656),
    at("ExportMsCol", k_bool8, 1, 22657),
    at("ExportTextHeaderWorksheet", k_bool8, 1, 22658),
    at("ExportUseExcelTemplate", k_bool8, 1, 22659),
    at("ExportTemplateName", &k_text260, 260, 22660),
    at("ExportHeaderDateFormat", &k_headerDateFormat, 1, 22920),
    at("ExportTextLogsDateDisplay", k_bool8, 1, 22921),
    at("ExportHeaderUnits", k_bool8, 1, 22922),
    at("UseEmail", k_bool8, 1, 10468),
    at("EmailAddresses", &k_text128, 128, 10472),
    at("EmailMAPIProfile", &k_text40, 40, 10600),
    at("EmailNTUser", &k_text20, 20, 10680),
    at("EmailNTDomain", &k_text20, 20, 10720),
    at("EmailSubject", &k_text256, 256, 10740),
    at("EmailText", &k_text2049, 2049, 10996),
    at("EmailSMTPSender", &k_text40, 40, 13045),
    at("EmailSMTPSenderBox", &k_text40, 40, 13085),
    at("EmailSMTPHost", &k_text40, 40, 13125),
    at("EmailSMTPLogin", &k_text40, 40, 13165),
    at("EmailSMTPPort", k_u32, 4, 13208),
    at("EmailSMTPEncryption", k_u32, 4, 13212),
    at("EmailUseMAPI", k_bool8, 1, 13216),
    at("EmailLogOnAs", k_bool8, 1, 13220),
    at("EmailUseSMTPLogin", k_bool8, 1, 13224),
    at("EmailSendFile", k_bool8, 1, 13228),
    at("EmailAttachFile", k_bool8, 1, 13232),
    at("EmailZipFile", k_bool8, 1, 14024),
    at("EmailDeleteFile", k_bool8, 1, 13236),
    at("EmailMAPIPassword", &k_text514, 514, 30676),
    at("EmailNTPassword", &k_text514, 514, 31190),
    at("EmailSMTPPassword", &k_text514, 514, 31704),
    END,
};

// Every row lies inside its record.
template <size_t N>
constexpr bool inside(const structs_field (&fields)[N], uint32_t size) {
    for (size_t i = 0; i + 1 < N; ++i)
        if (static_cast<uint32_t>(fields[i].offset) + fields[i].size > size) return false;
    return fields[N - 1].name == nullptr;
}
static_assert(inside(k_resubFields, LGR_RESUB_SIZE));
static_assert(inside(k_repubFields, LGR_REPUB_SIZE));
static_assert(inside(k_standFields, LGR_STAND_SIZE));
static_assert(inside(k_logChannelFields, 84) && inside(k_eventChannelFields, 36));
} // namespace

const structs_type lgr_stand_type = STRUCTURE(LGR_STAND_SIZE, k_standFields);
const structs_type lgr_repub_type = STRUCTURE(LGR_REPUB_SIZE, k_repubFields);
const structs_type lgr_resub_type = STRUCTURE(LGR_RESUB_SIZE, k_resubFields);

int lgr_KindOf(const char *kind) {
    if (kind == nullptr) return LGR_KIND_UNKNOWN;
    if (strncasecmp(kind, "stand", 5) == 0) return LGR_KIND_STAND;
    if (strncasecmp(kind, "repub", 5) == 0) return LGR_KIND_REPUB;
    if (strncasecmp(kind, "resub", 5) == 0) return LGR_KIND_RESUB;
    return LGR_KIND_UNKNOWN;
}

int32_t lgr_KindSize(int kind) {
    switch (kind) {
    case LGR_KIND_STAND:
        return LGR_STAND_SIZE;
    case LGR_KIND_REPUB:
        return LGR_REPUB_SIZE;
    case LGR_KIND_RESUB:
        return LGR_RESUB_SIZE;
    default:
        return 0;
    }
}

const structs_type *lgr_KindType(int kind) {
    switch (kind) {
    case LGR_KIND_STAND:
        return &lgr_stand_type;
    case LGR_KIND_REPUB:
        return &lgr_repub_type;
    case LGR_KIND_RESUB:
        return &lgr_resub_type;
    default:
        return nullptr;
    }
}

uint8_t lgr_U8(const void *record, uint32_t offset) {
    return static_cast<const uint8_t *>(record)[offset];
}
uint16_t lgr_U16(const void *record, uint32_t offset) {
    uint16_t v;
    memcpy(&v, static_cast<const uint8_t *>(record) + offset, sizeof v);
    return v;
}
int32_t lgr_I32(const void *record, uint32_t offset) {
    int32_t v;
    memcpy(&v, static_cast<const uint8_t *>(record) + offset, sizeof v);
    return v;
}
void lgr_SetU8(void *record, uint32_t offset, uint8_t value) {
    static_cast<uint8_t *>(record)[offset] = value;
}
void lgr_SetU16(void *record, uint32_t offset, uint16_t value) {
    memcpy(static_cast<uint8_t *>(record) + offset, &value, sizeof value);
}
void lgr_SetI32(void *record, uint32_t offset, int32_t value) {
    memcpy(static_cast<uint8_t *>(record) + offset, &value, sizeof value);
}
