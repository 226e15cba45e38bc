#include "syser.h"

#include "syser_internal.h"
#include "tag.h"
#include "util.h"

#include <cstdarg>
#include <cstring>

namespace {
constexpr size_t NAME_MAX_LONG = 129;
constexpr size_t TEXT_MAX_LONG = 254;
constexpr size_t DESCRIPTION_MAX = 47;

// Fills the field, always leaving a terminator.
void storeText(char *field, size_t width, const std::string &text) {
    syser_StoreText(field, width, width - 1, text);
}

// The description a component's status channel carries.
std::string describe(int kind, const char *name) {
    if (kind == SYSER_KIND_LOGGER || kind == SYSER_KIND_LOGGER_ENTRY) {
        dm_MapLoggerTable();
        int index = dm_FindLogger(name);
        LoggerEntry *logger = index > 0 ? dm_GetLogger(index - 1) : nullptr;
        if (logger != nullptr) {
            std::string type = syser_Bounded(logger->typeName, sizeof logger->typeName);
            return kind == SYSER_KIND_LOGGER ? tag_ShortName(type.c_str(), name)
                                             : tag_ExpName(type.c_str(), name);
        }
    }
    return syser_Bounded(name, DESCRIPTION_MAX);
}

SyserTextField longText(int entry) {
    SystemErrorEntry *e = dm_GetErrorLong(entry);
    if (e == nullptr) return {};
    return {e->text, sizeof e->text, sizeof e->text - 1};
}

void showLong(const std::string &text) {
    syser_ShowText(longText, text, text);
}
} // namespace

void syser_Register(int kind, const char *name) {
    SyserKeepErrors keep;
    std::lock_guard<std::recursive_mutex> guard(syser_Lock());
    if (name == nullptr) name = "";
    dm_MapErrorTable();
    SegmentHeader *seg = dm_GetErrorSegment();
    if (seg != nullptr && dm_ErrorsShortOnly()) {
        syser_RegisterShort(kind, name);
        return;
    }
    SyserState &s = syser_State();
    s.shortLayout = 0;
    s.entry = -1;
    std::string ownName = syser_Bounded(name, NAME_MAX_LONG);
    if (seg != nullptr && shm_Lock(seg) == 0) {
        int count = dm_ErrorCount();
        int firstFree = -1;
        for (int i = 0; i < count && s.entry < 0; ++i) {
            SystemErrorEntry *e = dm_GetErrorLong(i);
            if (e == nullptr) break;
            std::string entryName = syser_Bounded(e->name, sizeof e->name);
            if (e->kind == kind && entryName.size() == ownName.size() &&
                util_StrNICmp(entryName.c_str(), ownName.c_str(), ownName.size()) == 0)
                s.entry = i;
            else if (entryName.empty() && firstFree < 0)
                firstFree = i;
        }
        if (s.entry < 0) s.entry = firstFree;
        if (s.entry >= 0) {
            SystemErrorEntry *e = dm_GetErrorLong(s.entry);
            shm_BeginUpdate(seg);
            e->kind = static_cast<uint8_t>(kind);
            storeText(e->name, sizeof e->name, ownName);
            storeText(e->text, sizeof e->text, "");
            shm_Notify(seg, 0);
        }
        shm_Unlock(seg);
    }

    std::string restored = syser_FindChannel(kind, describe(kind, name), 32);
    if (!restored.empty() && s.entry >= 0 && shm_Lock(seg) == 0) {
        SystemErrorEntry *e = dm_GetErrorLong(s.entry);
        if (e != nullptr) storeText(e->text, sizeof e->text, restored);
        shm_Unlock(seg);
    }
}

void syser_Printf(const char *format, ...) {
    SyserKeepErrors keep;
    std::lock_guard<std::recursive_mutex> guard(syser_Lock());
    va_list args;
    va_start(args, format);
    std::string text = syser_Format(format, args);
    va_end(args);
    if (syser_State().shortLayout) {
        syser_PrintShort("%s", text.c_str());
        return;
    }
    showLong(text.substr(0, TEXT_MAX_LONG));
}

void syser_Clear() {
    SyserKeepErrors keep;
    std::lock_guard<std::recursive_mutex> guard(syser_Lock());
    if (syser_State().shortLayout) {
        syser_ClearShort();
        return;
    }
    showLong("");
}
