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

// The reader's checks of channel n once its fields (their names in names, ",A,B,") are read:
// the module's decoration, the fields every record needs, the module's own check. The writer
// runs them on what its texts read back as, so that it never saves a file its reader refuses.
// Failures are recorded in the XML error state; nothing runs while one stands.
void chan_CheckAsRead(ExModule &ex, int kind, int n, const char *names, uint8_t *record);
// The same for the channel's extra block of size bytes, decorated in space bytes.
void chan_CheckExtraAsRead(ExModule &ex, int kind, int n, const char *names, uint8_t *record,
                           uint8_t *block, int size, int space);

// The channel XML and its schema as the writer's XML step stages them (xml_StageText), so that
// every check that can refuse the save is made before any file changes; what is not committed
// is removed with it.
struct ChanXmlFiles {
    XmlStaged file;
    XmlStaged schema;
    ChanXmlFiles() = default;
    ChanXmlFiles(const ChanXmlFiles &) = delete;
    ChanXmlFiles &operator=(const ChanXmlFiles &) = delete;
    ~ChanXmlFiles() {
        xml_DiscardStaged(&file);
        xml_DiscardStaged(&schema);
    }
};

// Makes the channel XML (and, for more than one channel, its schema), each channel checked as
// its reader checks what it reads, and stages both: 0, or the failure reported (-1, errno 1465)
// with nothing staged and no file changed.
int chan_StageChannelsXml(ExModule &ex, const std::string &folder, int kind,
                          const ChannelRecord *records, int first, int count, const void *extra,
                          int extraSize, int update, ChanXmlFiles *files);
// The channel XML's path in the folder.
std::string chan_XmlPath(const std::string &folder, int kind);
// Puts the staged files in place, the schema first, so that a failure leaves the file the
// readers see as it was: 0, or the failure reported under the step that failed.
int chan_CommitChannelsXml(const std::string &folder, int kind, ChanXmlFiles *files);
// The two halves of that, for a writer that writes the binary files between them.
int chan_CommitChannelSchema(const std::string &folder, ChanXmlFiles *files);
int chan_CommitChannelFile(const std::string &folder, int kind, ChanXmlFiles *files);
void chan_DiscardChannelsXml(ChanXmlFiles *files);

// The writer's XML step with the module already loaded: staged and committed.
int chan_WriteChannelsXmlWith(ExModule &ex, const std::string &folder, int kind,
                              const ChannelRecord *records, int first, int count, const void *extra,
                              int extraSize, int update);
