// Reading a range of channels: channel XML through the structs layouts and the module, or the
// binary channel file. Records and extra blocks are built in scratch buffers first.
#include "chan_internal.h"

#include "chfile.h"
#include "exdll.h"
#include "plat_error.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {
// Reads one element per leaf of type present under parent into buffer; names read are
// appended to names and the elements removed.
void readLeaves(XmlNode *parent, const std::vector<StructsLeaf> &leaves, void *buffer, int size,
                std::string *names, const char *format) {
    for (const StructsLeaf &leaf : leaves) {
        if (xml_GetError() < 0) return;
        XmlNode *element = xml_FindByName(parent, leaf.name.c_str());
        if (element == nullptr) continue;
        char *text = xml_getText(element);
        cfg_SetField(leaf, buffer, size, text, format);
        free(text);
        *names += leaf.name + ",";
        xml_RemoveChild(parent, element);
    }
}

bool analogueType(const char *text) {
    return strcmp(text, "AI") == 0 || strcmp(text, "AO") == 0 || strcmp(text, "CI") == 0;
}

struct ExtraCursor {
    std::vector<uint8_t> block; // the caller's extra space, built up
    size_t position = 0;
};

// The extra fields of channel n: read from node (when there is one) into the current position,
// or into a scratch block when the space left is too small; the position then advances.
void readExtra(ExModule &ex, int kind, int n, ChannelRecord *rec, XmlNode *node,
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
            readLeaves(node, structs_Leaves(type), fields != nullptr ? fields : target, size,
                       &names, "<%s>  %s");
            if (xml_GetError() >= 0 && ex.decorateChannelExtra != nullptr) {
                int space = std::max(remaining, size);
                ExBuffer buffer = {size > remaining ? size : space, target, 0};
                ex.decorateChannelExtra(kind, n, rec->bytes, &buffer);
                if (buffer.owned) cfg_TakeBlock(&buffer, target, size);
            }
            char message[EX_MESSAGE_SIZE];
            exdll_BeginText(message, sizeof message);
            if (xml_GetError() >= 0 && ex.validateChanExtra != nullptr &&
                ex.validateChanExtra(names.c_str(), rec->bytes, target, size, message,
                                     sizeof message) == -1) {
                exdll_EndText(message, sizeof message);
                xml_SetError(XML_E_FAIL, message);
            }
        }
    }
    cursor.position += static_cast<size_t>(std::min(size, remaining));
}

int readXml(ExModule &ex, const std::string &folder, const std::string &path, int kind,
            ChannelRecord *records, int first, int count, void *extra, int extraSize) {
    XmlDocument *doc = xml_CreateDocument();
    cfg_SetContext(folder.c_str(), "");
    if (doc == nullptr) return xml_ReportError();
    xml_LoadFile(doc, path.c_str());
    XmlNode *root = nullptr;
    if (xml_GetError() >= 0) {
        root = xml_GetRootElement(doc);
        if (root == nullptr || strcmp(xml_LocalName(root), "Channels") != 0) {
            xml_ClearError();
            xml_SetError(XML_E_FAIL, "Root Element <Channels> not found");
            root = nullptr;
        }
    }
    ChannelIndex index;
    if (root != nullptr) index.build(root);

    std::vector<ChannelRecord> scratch(static_cast<size_t>(count));
    if (!scratch.empty()) memset(scratch.data(), 0, scratch.size() * sizeof(ChannelRecord));
    ExtraCursor cursor;
    const bool withExtra = extra != nullptr && extraSize > 0 && ex.getChannelExtraSize != nullptr &&
                           ex.getChannelExtraType != nullptr;
    if (withExtra) cursor.block.assign(static_cast<size_t>(extraSize), 0);

    LayoutCache layouts;
    for (int i = 0; i < count && root != nullptr && xml_GetError() >= 0; ++i) {
        const int n = first + i;
        ChannelRecord &rec = scratch[static_cast<size_t>(i)];
        XmlNode *node = index.find(n + 1);
        if (node == nullptr) {
            // A gap after the first channel reads as an empty record.
            if (i == 0) {
                xml_SetErrorf(XML_E_FAIL, "Channel id=%d Not Found", n + 1);
                break;
            }
            if (withExtra) readExtra(ex, kind, n, &rec, nullptr, cursor);
            continue;
        }
        bool digital = chan_KindIsDigital(kind) != 0;
        if (XmlNode *type = xml_FindByName(node, "Type")) {
            char *text = xml_getText(type);
            digital = text == nullptr || !analogueType(text);
            free(text);
        }
        char context[64];
        snprintf(context, sizeof context, "%s Channel #%d", chrec_KindName(kind), n + 1);
        xml_SetErrorContext(context);

        const structs_type *deviceType =
            ex.getChannelHwType != nullptr ? ex.getChannelHwType(kind, n, rec.bytes) : nullptr;
        std::string names = ",";
        readLeaves(node, layouts.leaves(digital ? 1 : 0, deviceType), rec.bytes,
                   CHANNEL_RECORD_SIZE, &names, " <%s> %s");
        if (xml_GetError() >= 0) {
            ExBuffer buffer = {CHANNEL_RECORD_SIZE, rec.bytes, 0};
            if (ex.decorateChannelHw != nullptr) {
                ex.decorateChannelHw(kind, n, &buffer);
                if (buffer.owned) cfg_TakeBlock(&buffer, rec.bytes, CHANNEL_RECORD_SIZE);
            }
            chan_ValidateCommon(names.c_str(), &rec);
            char message[EX_MESSAGE_SIZE];
            exdll_BeginText(message, sizeof message);
            if (xml_GetError() >= 0 && ex.validateChan != nullptr &&
                ex.validateChan(names.c_str(), rec.bytes, message, sizeof message) == -1) {
                exdll_EndText(message, sizeof message);
                xml_SetError(XML_E_FAIL, message);
            }
        }
        if (withExtra && xml_GetError() >= 0) readExtra(ex, kind, n, &rec, node, cursor);
        index.forget(n + 1, node);
        xml_RemoveChild(root, node);
    }
    xml_ReleaseDocument(doc);
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
