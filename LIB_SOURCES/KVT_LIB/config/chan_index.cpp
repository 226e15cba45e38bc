#include "chan_internal.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {
// The element's id as a number; false when it has none or it is no number.
bool idOf(XmlNode *node, long long *id) {
    char *text = xml_getAttribute(node, "id");
    if (text == nullptr) return false;
    char *end = nullptr;
    double value = strtod(text, &end);
    // A number beyond the range of the id (or no number at all, as "nan") is no id: converting
    // it would be undefined.
    bool ok = end != text && *end == '\0' && value >= -0x1p63 && value < 0x1p63 &&
              value == std::trunc(value);
    free(text);
    if (ok) *id = static_cast<long long>(value);
    return ok;
}
} // namespace

void ChannelIndex::build(XmlNode *root) {
    byId_.clear();
    size_t children = 0;
    for (XmlNode *c = xml_FirstChild(root); c != nullptr; c = xml_NextSibling(c))
        ++children;
    byId_.reserve(children);
    for (XmlNode *c = xml_FirstChild(root); c != nullptr; c = xml_NextSibling(c)) {
        long long id;
        if (xml_IsElement(c) && strcmp(xml_LocalName(c), "Channel") == 0 && idOf(c, &id))
            add(id, c);
    }
}

XmlNode *ChannelIndex::find(long long id) const {
    auto it = byId_.find(id);
    return it == byId_.end() ? nullptr : it->second.first;
}

void ChannelIndex::add(long long id, XmlNode *node) {
    Entry &e = byId_[id];
    if (e.first == nullptr)
        e.first = node;
    else
        e.more.push_back(node);
}

void ChannelIndex::forget(long long id, XmlNode *node) {
    auto it = byId_.find(id);
    if (it == byId_.end()) return;
    Entry &e = it->second;
    if (e.first == node) {
        e.first = e.more.empty() ? nullptr : e.more.front();
        if (!e.more.empty()) e.more.erase(e.more.begin());
        return;
    }
    for (auto n = e.more.begin(); n != e.more.end(); ++n)
        if (*n == node) {
            e.more.erase(n);
            break;
        }
}

int chan_KindIsDigital(int kind) {
    return kind == CHANNEL_KIND_DI || kind == CHANNEL_KIND_DO || kind == CHANNEL_KIND_DC ||
                   kind == CHANNEL_KIND_DC2
               ? 1
               : 0;
}

int chan_ValidKind(int kind) {
    return kind >= 0 && kind < CHANNEL_KIND_COUNT ? 1 : 0;
}

namespace {
template <typename T>
void put(std::string *key, T value) {
    key->append(reinterpret_cast<const char *>(&value), sizeof value);
}

// What a type holds, down to its field names: two types with one key lay out a record alike.
// Deeper than any real layout, a type keys by where it lies.
void typeKey(const structs_type *type, int depth, std::string *key) {
    put(key, type);
    if (type == nullptr) return;
    put(key, type->size);
    put(key, type->tclass);
    if (depth > 16) return;
    if (type->tclass == STRUCTS_TYPE_STRUCTURE) {
        for (auto *f = static_cast<const structs_field *>(type->args[0].v); f->name; ++f) {
            key->append(f->name, strlen(f->name) + 1);
            put(key, f->size);
            put(key, f->offset);
            typeKey(f->type, depth + 1, key);
        }
        key->push_back('\0');
    } else if (type->tclass == STRUCTS_TYPE_FIXEDARRAY) {
        typeKey(static_cast<const structs_type *>(type->args[0].v), depth + 1, key);
        put(key, type->args[1].i);
        put(key, type->args[2].i);
    } else {
        for (const structs_arg &arg : type->args)
            put(key, arg.i);
    }
}
} // namespace

const std::vector<StructsLeaf> &LayoutCache::leaves(int digital, const structs_type *deviceType) {
    key_.clear();
    typeKey(deviceType, 0, &key_);
    if (digital != digital_ || key_ != deviceKey_) {
        chan_MakeLayout(&layout_, digital, deviceType);
        leaves_ = structs_Leaves(&layout_.type);
        digital_ = digital;
        deviceKey_.swap(key_);
    }
    return leaves_;
}
