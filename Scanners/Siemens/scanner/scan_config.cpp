// Configuration load and the set-up of the channel kinds at start-up.
#include "scan.h"

#include "cfg.h"
#include "chan.h"
#include "chrec.h"
#include "dm.h"
#include "dmw.h"
#include "lib.h"
#include "plat_error.h"
#include "plat_system.h"
#include "s5.h"
#include "shm.h"
#include "sv.h"
#include "syser.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {
// Channels each kind serves; counter inputs are not served.
constexpr int k_kindCapacity[SCAN_KINDS] = {10000, 10000, 10000, 10000, 0};

bool isAnalogueKind(int kind) {
    return kind == SCAN_AI || kind == SCAN_AO || kind == SCAN_CI;
}

bool hasReferences(int kind) {
    return kind == SCAN_AI || kind == SCAN_CI;
}

bool isOutputKind(int kind) {
    return kind == SCAN_AO || kind == SCAN_DO;
}

bool opened(SegmentHeader *segment) {
    return segment != nullptr && segment != SHM_NO_SEGMENT;
}

// Bytes of the scanner-local arrays per channel.
size_t localBytesPerChannel(int kind) {
    switch (kind) {
    case SCAN_AO:
        return 12;
    case SCAN_AI:
    case SCAN_CI:
        return 16;
    default:
        return 4;
    }
}

// Remembers a kind's data segment and the counts its payload can really hold: a header that
// claims more channels than the segment carries must not send anyone past its end.
void setUpKind(int kind, size_t *localTotal) {
    ScanKindState &k = g_scan.kinds[kind];
    k = ScanKindState{};
    std::string id = scan_KindId(kind);
    if (id.empty()) return;
    SegmentHeader *segment = dm_GetDataSegment(id.c_str());
    if (!opened(segment)) return;
    k.segment = segment;
    k.payload = shm_Payload(segment);
    k.header = reinterpret_cast<ChannelTableHeader *>(k.payload);
    uint16_t headerCount, valueSize;
    memcpy(&headerCount, k.payload + TABLE_COUNT, sizeof headerCount);
    memcpy(&valueSize, k.payload + TABLE_VALUE_SIZE, sizeof valueSize);
    int64_t length = shm_PayloadLimit(segment);
    int64_t nh = headerCount;
    int64_t n;
    if (isAnalogueKind(kind))
        n = std::min<int64_t>(nh, std::max<int64_t>(0, (length - TABLE_VALUES - 4 * nh) / 4));
    else
        n = std::min<int64_t>(nh, std::max<int64_t>(0, (length - TABLE_VALUES) / 4));
    k.statusCount = static_cast<int>(n);
    k.count = static_cast<int>(std::min<int64_t>(k_kindCapacity[kind], n));
    if (length >= TABLE_VALUES + nh * (static_cast<int64_t>(valueSize) + DM_RUNTIME_RECORD_SIZE))
        k.runtimeRecords = k.payload + TABLE_VALUES + nh * valueSize;
    k.localCount = k.count;
    k.localOffset = *localTotal;
    *localTotal += static_cast<size_t>(k.count) * localBytesPerChannel(kind);
}

bool referenceKept(const ChannelRecord &record) {
    uint8_t type = chrec_GetType(record);
    return chrec_TestFlag(record, ChannelAnalog::Enable) != 0 &&
           (type == CHANNEL_TYPE_AI || type == CHANNEL_TYPE_CI) &&
           chrec_TestFlag(record, ChannelAnalog::ReferenceEnable) != 0;
}

// Cuts the kind's arrays from the local buffer and the data segment.
void assignArrays(int kind) {
    ScanKindState &k = g_scan.kinds[kind];
    uint8_t *local = g_scan.localBuffer + k.localOffset;
    size_t stride = static_cast<size_t>(k.localCount) * 4;
    uint32_t *localStatuses = reinterpret_cast<uint32_t *>(local);
    float *localValues = reinterpret_cast<float *>(local + stride);
    uint16_t headerCount;
    memcpy(&headerCount, k.payload + TABLE_COUNT, sizeof headerCount);
    uint32_t *segmentStatuses = reinterpret_cast<uint32_t *>(k.payload + TABLE_VALUES);
    float *segmentValues = reinterpret_cast<float *>(k.payload + TABLE_VALUES + 4 * headerCount);
    bool analogue = isAnalogueKind(kind);
    if (isOutputKind(kind)) {
        k.statuses = segmentStatuses;
        k.values = analogue ? segmentValues : nullptr;
        k.previousStatuses = localStatuses;
        k.previousValues = analogue ? localValues : nullptr;
    } else {
        k.statuses = localStatuses;
        k.values = analogue ? localValues : nullptr;
        k.previousStatuses = segmentStatuses;
        k.previousValues = analogue ? segmentValues : nullptr;
    }
    k.localStatuses = localStatuses;
    if (analogue) k.baselines = reinterpret_cast<float *>(local + 2 * stride);
    if (hasReferences(kind)) k.references = reinterpret_cast<float *>(local + 3 * stride);
}

void setBaselines(int kind) {
    ScanKindState &k = g_scan.kinds[kind];
    if (k.baselines == nullptr) return;
    for (int c = 0; c < k.localCount; ++c)
        memcpy(&k.baselines[c], &SCAN_NO_BASELINE, sizeof(float));
}

// held: the records the "_conf" segment holds; the values never reach past them.
int loadSavedOutputs(int kind, int held) {
    ScanKindState &k = g_scan.kinds[kind];
    void *target = kind == SCAN_DO ? static_cast<void *>(k.statuses) : k.values;
    shm_Lock(k.segment);
    int result = sv_LoadValues(g_scan.folder.c_str(), kind, g_scan.saveByTag, target, k.records,
                               k.records != nullptr ? std::min(k.statusCount, held) : 0);
    shm_Unlock(k.segment);
    return result;
}
} // namespace

void scan_ClearUnusedReferences(int kind) {
    ScanKindState &k = g_scan.kinds[kind];
    if (k.references == nullptr || k.records == nullptr) return;
    for (int c = 0; c < k.count; ++c)
        if (!referenceKept(k.records[c])) k.references[c] = 0.0f;
}

int scan_LoadConfig() {
    if (cfg_LoadDeviceConfig(g_scan.config, SCAN_CONFIG_SIZE) == -1) {
        int error = errno;
        scan_ReportConfigError("CAN'T READ CONFIGURATION -%04d", error);
        errno = error;
        return -1;
    }
    scan_LockSlot();
    memcpy(g_scan.slotBytes + SLOT_CONFIG, g_scan.config, SCAN_CONFIG_SIZE);
    scan_UnlockSlot();

    if (cfg_LoadSaveSettings(&g_scan.saveOutputs, &g_scan.saveByTag, &g_scan.saveRate) == -1)
        g_scan.saveOutputs = 0;
    // A negative rate would make every pass save without ever sleeping.
    if (g_scan.saveRate < 0) g_scan.saveRate = 0;
    if (g_scan.saveOutputs != 0) {
        TimeStamp zero{};
        g_scan.nextSave = ts_AlignToInterval(ts_Now(), zero, g_scan.saveRate);
    }

    size_t localTotal = 0;
    for (int kind = 0; kind < SCAN_KINDS; ++kind)
        setUpKind(kind, &localTotal);

    if (s5_OpenDevice(g_scan.slot) == -1) {
        int error = errno;
        syser_Printf("CAN'T LOAD PATH DESCS -%04d", error & 0xFFF);
        scan_Shutdown(error);
    }

    g_scan.localBuffer = static_cast<uint8_t *>(lib_Alloc(localTotal > 0 ? localTotal : 1));
    if (g_scan.localBuffer == nullptr) {
        int error = WERR_NOT_ENOUGH_MEMORY;
        syser_Printf("CAN'T GET MEMORY -%04d", error & 0xFFF);
        errno = error;
        return -1;
    }

    for (int kind = 0; kind < SCAN_KINDS; ++kind) {
        ScanKindState &k = g_scan.kinds[kind];
        if (k.header == nullptr) continue;
        SegmentHeader *conf = dm_GetConfSegment(scan_KindId(kind).c_str());
        int held = 0;
        if (opened(conf)) {
            k.records = reinterpret_cast<ChannelRecord *>(shm_Payload(conf));
            held = std::max(shm_PayloadLimit(conf) / SCAN_RECORD_SIZE, 0);
            k.count = std::min(k.count, held);
            if (chan_ReloadIfChanged(kind, k.header) == -1) {
                int error = errno;
                scan_ReportConfigError("CAN'T READ CONFIGURATION -%04d", error);
                errno = error;
                return -1;
            }
        } else {
            // Still marked bad through its data segment, but its handlers see no channels.
            k.count = 0;
        }
        assignArrays(kind);
        if (isOutputKind(kind) && g_scan.saveOutputs != 0) loadSavedOutputs(kind, held);
        setBaselines(kind);
        if (hasReferences(kind)) {
            sv_LoadValues(g_scan.folder.c_str(), kind, 0, k.references, k.records,
                          k.records != nullptr ? k.count : 0);
            scan_ClearUnusedReferences(kind);
        }
    }

    g_scan.computer = plat_ComputerName();
    g_scan.user = plat_UserName();
    return 0;
}
