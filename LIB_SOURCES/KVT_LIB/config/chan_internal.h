// Internals shared by the channel configuration sources.
#pragma once

#include "cfg.h"
#include "cfg_internal.h"
#include "chan.h"
#include "xml.h"

#include <deque>
#include <string>
#include <unordered_map>

// The Channel elements of a document by their numeric id, in document order per id, so that
// finding a channel costs O(1) instead of a walk over all of them; the first element of an id
// wins, as a walk would find it.
class ChannelIndex {
public:
    void build(XmlNode *root);
    XmlNode *find(long long id) const;
    void add(long long id, XmlNode *node);
    // Forgets the node (found under id) before it is removed from the document.
    void forget(long long id, XmlNode *node);

private:
    // The first element of an id, and any later ones in document order: a file holds one
    // element per id, which then costs no allocation of its own.
    struct Entry {
        XmlNode *first = nullptr;
        std::vector<XmlNode *> more;
    };
    std::unordered_map<long long, Entry> byId_;
};

// The leaves of a channel layout, rebuilt only when the layout or the device type changes.
class LayoutCache {
public:
    const std::vector<StructsLeaf> &leaves(int digital, const structs_type *deviceType);

private:
    int digital_ = -1;
    // A module may refill one static type per channel: its fields and size count, not only
    // where it lies.
    const structs_type *deviceType_ = nullptr;
    const void *deviceFields_ = nullptr;
    size_t deviceSize_ = 0;
    ChanLayout layout_;
    std::vector<StructsLeaf> leaves_;
};

// Kinds whose files hold digital records when a record does not say.
int chan_KindIsDigital(int kind);
int chan_ValidKind(int kind);

// The writer's XML step with the module already loaded.
int chan_WriteChannelsXmlWith(ExModule &ex, const std::string &folder, int kind,
                              const ChannelRecord *records, int first, int count, const void *extra,
                              int extraSize, int update);
