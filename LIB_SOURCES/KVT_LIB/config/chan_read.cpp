// Reading a range of channels: channel XML through the structs layouts and the module, or the
// binary channel file. Records and extra blocks are built in scratch buffers first.
#include "chan_internal.h"

#include "chfile.h"
#include "exdll.h"
#include "plat_cp1252.h"
#include "plat_error.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unordered_map>
#include <vector>

namespace {
// The fields of one channel element of the file, each read at most once.
class ChannelFields {
public:
    ChannelFields(const XmlRecordFile &file, const XmlRecordFile::Record &record,
                  std::vector<uint8_t> &taken)
        : file_(file), first_(record.firstField), end_(record.firstField + record.fieldCount),
          taken_(taken) {}

    // The first field not yet read of that name; -1 when none.
    int64_t find(const char *name) const {
        for (uint32_t f = first_; f < end_; ++f)
            if (!taken_[f] && strcmp(file_.at(file_.fields[f].name), name) == 0) return f;
        return -1;
    }
    // The field's text in Windows-1252 (in place when it is plain ASCII).
    const char *text(int64_t f, std::string &scratch) const {
        const char *t = file_.at(file_.fields[static_cast<size_t>(f)].text);
        for (const unsigned char *p = reinterpret_cast<const unsigned char *>(t); *p != 0; ++p)
            if (*p >= 0x80) {
                scratch = plat_Utf8ToCp1252(t);
                return scratch.c_str();
            }
        return t;
    }
    void take(int64_t f) { taken_[static_cast<size_t>(f)] = 1; }

private:
    const XmlRecordFile &file_;
    uint32_t first_, end_;
    std::vector<uint8_t> &taken_;
};

// Reads one element per leaf of type present in the channel into buffer; names read are
// appended to names and the elements are not read again.
void readLeaves(ChannelFields &fields, const std::vector<StructsLeaf> &leaves, void *buffer,
                int size, std::string *names, const char *format) {
    std::string scratch;
    for (const StructsLeaf &leaf : leaves) {
        if (xml_GetError() < 0) return;
        int64_t f = fields.find(leaf.name.c_str());
        if (f < 0) continue;
        cfg_SetField(leaf, buffer, size, fields.text(f, scratch), format);
        names->append(leaf.name).push_back(',');
        fields.take(f);
    }
}

// The record's id as a number; false when it has none or it is no number.
bool idOf(const XmlRecordFile &file, const XmlRecordFile::Record &record, long long *id) {
    if (!record.hasId) return false;
    const char *text = file.at(record.id);
    char *end = nullptr;
    double value = strtod(text, &end);
    // A number beyond the range of the id (or no number at all, as "nan") is no id: converting
    // it would be undefined.
    bool ok = end != text && *end == '\0' && value >= -0x1p63 && value < 0x1p63 &&
              value == std::trunc(value);
    if (ok) *id = static_cast<long long>(value);
    return ok;
}

// Channel elements by id: the first of an id, and any later ones in file order.
class RecordIndex {
public:
    explicit RecordIndex(const XmlRecordFile &file) {
        byId_.reserve(file.records.size());
        for (size_t r = 0; r < file.records.size(); ++r) {
            long long id;
            const XmlRecordFile::Record &record = file.records[r];
            if (strcmp(file.at(record.name), "Channel") != 0 || !idOf(file, record, &id)) continue;
            Entry &e = byId_[id];
            if (e.first < 0)
                e.first = static_cast<int64_t>(r);
            else
                e.more.push_back(static_cast<int64_t>(r));
        }
    }
    int64_t find(long long id) const {
        auto it = byId_.find(id);
        return it == byId_.end() ? -1 : it->second.first;
    }
    // The element read for id is not found again.
    void forget(long long id) {
        auto it = byId_.find(id);
        if (it == byId_.end()) return;
        Entry &e = it->second;
        e.first = e.more.empty() ? -1 : e.more.front();
        if (!e.more.empty()) e.more.erase(e.more.begin());
    }

private:
    struct Entry {
        int64_t first = -1;
        std::vector<int64_t> more;
    };
    std::unordered_map<long long, Entry> byId_;
};

bool analogueType(const char *text) {
    return strcmp(text, "AI") == 0 || strcmp(text, "AO") == 0 || strcmp(text, "CI") == 0;
}

} // namespace

void chan_CheckAsRead(ExModule &ex, int kind, int n, const char *names, uint8_t *record) {
    if (xml_GetError() < 0) return;
    ExBuffer buffer = {CHANNEL_RECORD_SIZE, record, 0};
    if (ex.decorateChannelHw != nullptr) {
        ex.decorateChannelHw(kind, n, &buffer);
        if (buffer.owned) cfg_TakeBlock(&buffer, record, CHANNEL_RECORD_SIZE);
    }
    chan_ValidateCommon(names, reinterpret_cast<const ChannelRecord *>(record));
    char message[EX_MESSAGE_SIZE];
    exdll_BeginText(message, sizeof message);
    if (xml_GetError() >= 0 && ex.validateChan != nullptr &&
        ex.validateChan(names, record, message, sizeof message) == -1) {
        exdll_EndText(message, sizeof message);
        xml_SetError(XML_E_FAIL, message);
    }
}

void chan_CheckExtraAsRead(ExModule &ex, int kind, int n, const char *names, uint8_t *record,
                           uint8_t *block, int size, int space) {
    if (xml_GetError() < 0) return;
    if (ex.decorateChannelExtra != nullptr) {
        ExBuffer buffer = {space, block, 0};
        ex.decorateChannelExtra(kind, n, record, &buffer);
        if (buffer.owned) cfg_TakeBlock(&buffer, block, size);
    }
    char message[EX_MESSAGE_SIZE];
    exdll_BeginText(message, sizeof message);
    if (xml_GetError() >= 0 && ex.validateChanExtra != nullptr &&
        ex.validateChanExtra(names, record, block, size, message, sizeof message) == -1) {
        exdll_EndText(message, sizeof message);
        xml_SetError(XML_E_FAIL, message);
    }
}

namespace {
struct ExtraCursor {
    std::vector<uint8_t> block; // the caller's extra space, built up
    size_t position = 0;
};

// The extra fields of channel n: read from node (when there is one) into the current position,
// or into a scratch block when the space left is too small; the position then advances.
void readExtra(ExModule &ex, int kind, int n, ChannelRecord *rec, ChannelFields *node,
               ExtraCursor &cursor) {
    const int remaining = static_cast<int>(cursor.block.size() - cursor.position);
    uint8_t *here = cursor.block.data() + cursor.position;
    const int size = ex.getChannelExtraSize(kind, n, rec->bytes, here);
    if (size <= 0) return;
    std::vector<uint8_t> scratch;
    uint8_t *target = here;
    if (size > remaining) {
        scratch.assign(static_cast<size_t>(size), 0);
        target = scratch.data();
    }
    if (node != nullptr) {
        const structs_type *type = ex.getChannelExtraType(kind, n, rec->bytes);
        if (type != nullptr) {
            void *fields =
                ex.getChannelExtraStruct != nullptr ? ex.getChannelExtraStruct(kind) : nullptr;
            std::string names = ",";
            readLeaves(*node, structs_Leaves(type), fields != nullptr ? fields : target, size,
                       &names, "<%s>  %s");
            chan_CheckExtraAsRead(ex, kind, n, names.c_str(), rec->bytes, target, size,
                                  std::max(remaining, size));
        }
    }
    cursor.position += static_cast<size_t>(std::min(size, remaining));
}

int readXml(ExModule &ex, const std::string &folder, const std::string &path, int kind,
            ChannelRecord *records, int first, int count, void *extra, int extraSize) {
    // The file is read without building its tree: only channels and their fields count.
    xml_ClearError();
    cfg_SetContext(folder.c_str(), "");
    XmlRecordFile file;
    xml_ReadRecords(path.c_str(), &file);
    bool root = false;
    if (xml_GetError() >= 0) {
        root = strcmp(file.at(file.root), "Channels") == 0;
        if (!root) {
            xml_ClearError();
            xml_SetError(XML_E_FAIL, "Root Element <Channels> not found");
        }
    }
    RecordIndex index(file);
    std::vector<uint8_t> taken(file.fields.size(), 0);

    std::vector<ChannelRecord> scratch(static_cast<size_t>(count));
    if (!scratch.empty()) memset(scratch.data(), 0, scratch.size() * sizeof(ChannelRecord));
    ExtraCursor cursor;
    const bool withExtra = extra != nullptr && extraSize > 0 && ex.getChannelExtraSize != nullptr &&
                           ex.getChannelExtraType != nullptr;
    if (withExtra) cursor.block.assign(static_cast<size_t>(extraSize), 0);

    LayoutCache layouts;
    for (int i = 0; i < count && root && xml_GetError() >= 0; ++i) {
        const int n = first + i;
        ChannelRecord &rec = scratch[static_cast<size_t>(i)];
        int64_t at = index.find(n + 1);
        if (at < 0) {
            // A gap after the first channel reads as an empty record.
            if (i == 0) {
                xml_SetErrorf(XML_E_FAIL, "Channel id=%d Not Found", n + 1);
                break;
            }
            if (withExtra) readExtra(ex, kind, n, &rec, nullptr, cursor);
            continue;
        }
        ChannelFields fields(file, file.records[static_cast<size_t>(at)], taken);
        ChannelFields *node = &fields;
        bool digital = chan_KindIsDigital(kind) != 0;
        std::string typeText;
        if (int64_t type = fields.find("Type"); type >= 0)
            digital = !analogueType(fields.text(type, typeText));
        char context[64];
        snprintf(context, sizeof context, "%s Channel #%d", chrec_KindName(kind), n + 1);
        xml_SetErrorContext(context);

        const structs_type *deviceType =
            ex.getChannelHwType != nullptr ? ex.getChannelHwType(kind, n, rec.bytes) : nullptr;
        std::string names = ",";
        readLeaves(fields, layouts.leaves(digital ? 1 : 0, deviceType), rec.bytes,
                   CHANNEL_RECORD_SIZE, &names, " <%s> %s");
        chan_CheckAsRead(ex, kind, n, names.c_str(), rec.bytes);
        if (withExtra && xml_GetError() >= 0) readExtra(ex, kind, n, &rec, node, cursor);
        index.forget(n + 1);
    }
    if (xml_GetError() < 0) return xml_ReportError();
    if (count > 0) memcpy(records, scratch.data(), scratch.size() * sizeof(ChannelRecord));
    if (withExtra) memcpy(extra, cursor.block.data(), cursor.block.size());
    return 0;
}

int readBinary(const std::string &folder, int kind, ChannelRecord *records, int first, int count,
               void *extra, int extraSize, const char *extraFile) {
    std::vector<uint8_t> block;
    const bool withExtra =
        extra != nullptr && extraSize > 0 && extraFile != nullptr && *extraFile != '\0';
    if (withExtra) {
        block.assign(static_cast<size_t>(extraSize), 0);
        if (chfile_ReadExtra(cfg_Join(folder.c_str(), extraFile).c_str(), block.data(), extraSize) <
            0)
            return -1;
    }
    if (records != nullptr && count > 0 &&
        chfile_ReadChannels(chfile_Path(folder.c_str(), kind).c_str(), records, first, count) < 0)
        return -1;
    if (withExtra) memcpy(extra, block.data(), block.size());
    return 0;
}
} // namespace

int chan_ReadChannels(const char *folder, int kind, ChannelRecord *records, int first, int count,
                      void *extra, int extraSize, const char *extraFile) {
    if (!chan_ValidKind(kind) || first < 0 || count < 0 || (records == nullptr && count > 0) ||
        (extra != nullptr && extraSize < 0))
        return plat_Fail(WERR_INVALID_PARAMETER);
    std::string f = cfg_Folder(folder);
    ExModule ex(f.c_str());
    std::string path = cfg_Join(f.c_str(), (std::string(chrec_KindName(kind)) + ".xml").c_str());
    if (ex.doXml != nullptr && cfg_GetReadXml(f.c_str()) && cfg_FileExists(path))
        return readXml(ex, f, path, kind, records, first, count, extra, extraSize);
    return readBinary(f, kind, records, first, count, extra, extraSize, extraFile);
}

int chan_LoadChannels(int kind, ChannelRecord *records, int first, int count) {
    return chan_ReadChannels(nullptr, kind, records, first, count, nullptr, 0, nullptr);
}
