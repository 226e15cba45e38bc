// The runtime's older status layout: only 57-byte entries with 24-character names and
// 30-character texts.
#include "syser.h"

#include "syser_internal.h"
#include "util.h"

#include <cstdarg>
#include <cstring>

namespace {
constexpr size_t NAME_MAX_SHORT = 24;
constexpr size_t TEXT_MAX_SHORT = 30;

// Fills the field; no terminator when the text fills it.
void storeText(char *field, size_t width, const std::string &text) {
    syser_StoreText(field, width, width, text);
}

SyserTextField shortText(int entry) {
    SystemErrorEntryShort *e = dm_GetErrorShort(entry);
    if (e == nullptr) return {};
    return {e->text, sizeof e->text, sizeof e->text};
}

void showShort(const std::string &full) {
    // Only what the field keeps is compared, so a long text is not shown again and again.
    syser_ShowText(shortText, full.substr(0, TEXT_MAX_SHORT), full);
}
} // namespace

void syser_RegisterShort(int kind, const char *name) {
    SyserKeepErrors keep;
    std::lock_guard<std::recursive_mutex> guard(syser_Lock());
    if (name == nullptr) name = "";
    dm_MapErrorTable();
    SegmentHeader *seg = dm_GetErrorSegment();
    SyserState &s = syser_State();
    s.shortLayout = 1;
    std::string ownName = syser_Bounded(name, NAME_MAX_SHORT);
    if (seg != nullptr && shm_Lock(seg) == 0) {
        int count = dm_ErrorCount();
        int match = -1, lastFree = -1;
        for (int i = 0; i < count && match < 0; ++i) {
            SystemErrorEntryShort *e = dm_GetErrorShort(i);
            if (e == nullptr) break;
            std::string entryName = syser_Bounded(e->name, NAME_MAX_SHORT);
            if (e->kind == kind && entryName.size() == ownName.size() &&
                util_StrNICmp(entryName.c_str(), ownName.c_str(), ownName.size()) == 0)
                match = i;
            else if (entryName.empty())
                lastFree = i;
        }
        // Else the previous selection stays.
        if (match >= 0)
            s.entry = match;
        else if (lastFree >= 0)
            s.entry = lastFree;
        SystemErrorEntryShort *e = s.entry >= 0 ? dm_GetErrorShort(s.entry) : nullptr;
        if (e != nullptr) {
            shm_BeginUpdate(seg);
            e->kind = static_cast<uint8_t>(kind);
            memset(e->name, 0, sizeof e->name);
            memcpy(e->name, ownName.data(), ownName.size());
            storeText(e->text, sizeof e->text, "");
            shm_Notify(seg, 0);
        } else {
            s.entry = -1;
        }
        shm_Unlock(seg);
    }
    std::string restored = syser_FindChannel(SYSER_KIND_SCANNER, ownName, TEXT_MAX_SHORT);
    if (!restored.empty() && s.entry >= 0 && shm_Lock(seg) == 0) {
        SystemErrorEntryShort *e = dm_GetErrorShort(s.entry);
        if (e != nullptr) storeText(e->text, sizeof e->text, restored);
        shm_Unlock(seg);
    }
}

void syser_PrintShort(const char *format, ...) {
    SyserKeepErrors keep;
    std::lock_guard<std::recursive_mutex> guard(syser_Lock());
    va_list args;
    va_start(args, format);
    std::string text = syser_Format(format, args);
    va_end(args);
    showShort(text);
}

void syser_ClearShort() {
    SyserKeepErrors keep;
    std::lock_guard<std::recursive_mutex> guard(syser_Lock());
    showShort("");
}
