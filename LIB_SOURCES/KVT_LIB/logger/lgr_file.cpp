// Logger settings files in the LOGGERS folder: "<kind>_<n>" holds the record's bytes, and
// "<kind>_<n>.xml" its elements, with the schema "<kind>.xsd" in the SCHEMA folder beside.
#include "lgr.h"
#include "lgr_internal.h"

#include "cfg.h"
#include "plat_cp1252.h"
#include "plat_error.h"
#include "plat_file.h"
#include "plat_folder.h"
#include "structs_chan.h"
#include "xml.h"
#include "xsd.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <strings.h>
#include <sys/stat.h>
#include <unordered_map>
#include <vector>

namespace {
constexpr const char *k_mtype = "lgr_field";
// History lines whose name and two texts reach this length are left out.
constexpr size_t k_historyLimit = 992;

std::string fileName(const char *folder, const char *kind, int number) {
    return lgr_Join(folder, (std::string(kind) + "_" + std::to_string(number)).c_str());
}

bool exists(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// What tells a file from its later versions: a file replaced or written since has another.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    struct timespec modified = {};
    bool operator==(const FileIdentity &o) const {
        return device == o.device && inode == o.inode && size == o.size &&
               modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec;
    }
};

bool identityOf(const std::string &path, FileIdentity *id) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return false;
    *id = {st.st_dev, st.st_ino, st.st_size, st.st_mtim};
    return true;
}

void setContext(const char *kind, int number) {
    xml_SetErrorObject("");
    xml_SetErrorContext(("Logger " + std::string(kind) + "_" + std::to_string(number)).c_str());
}

// The first field of each name among a record's fields, found by name. A "stand" logger has a
// thousand of them: indexed once, each is found without walking the others.
class FieldIndex {
public:
    FieldIndex(const XmlRecordFile &file, const XmlRecordFile::Record &record) : file_(file) {
        first_.reserve(record.fieldCount);
        // A later field of a name already indexed is not the first.
        for (uint32_t f = record.firstField; f < record.firstField + record.fieldCount; ++f)
            first_.emplace(file.at(file.fields[f].name), f);
    }
    // The field's text in Windows-1252 (in place when it is plain ASCII); null when the
    // record has no field of that name.
    const char *text(const std::string &name, std::string &scratch) const {
        auto at = first_.find(name);
        if (at == first_.end()) return nullptr;
        const char *t = file_.at(file_.fields[at->second].text);
        for (const unsigned char *p = reinterpret_cast<const unsigned char *>(t); *p != 0; ++p)
            if (*p >= 0x80) {
                scratch = plat_Utf8ToCp1252(t);
                return scratch.c_str();
            }
        return t;
    }

private:
    const XmlRecordFile &file_;
    std::unordered_map<std::string_view, uint32_t> first_;
};

// Parses the fields of the file's first "Logger" element into a zeroed record of the kind's
// size. The record as far as it was parsed; the XML error state tells whether it all was.
std::vector<uint8_t> parseLogger(const XmlRecordFile &file, const char *kind, int k) {
    std::vector<uint8_t> record(static_cast<size_t>(lgr_KindSize(k)), 0);
    const XmlRecordFile::Record *logger = nullptr;
    for (const XmlRecordFile::Record &r : file.records)
        if (logger == nullptr && strcmp(file.at(r.name), "Logger") == 0) logger = &r;
    if (logger == nullptr) {
        xml_SetError(XML_E_FAIL, "<Logger> tag not found");
        return record;
    }
    FieldIndex fields(file, *logger);
    std::string found = ",";
    std::string scratch;
    for (const StructsLeaf &leaf : lgr_Leaves(k)) {
        if (xml_GetError() < 0) break;
        const char *text = fields.text(leaf.name, scratch);
        if (text == nullptr) continue;
        char message[256] = {};
        if (leaf.type->binify(leaf.type, text, record.data() + leaf.offset, message,
                              sizeof message) != 0) {
            xml_SetErrorf(XML_E_FAIL, "<%s> %s", leaf.name.c_str(), message);
        } else {
            found.append(leaf.name).append(1, ',');
        }
    }
    if (xml_GetError() >= 0) {
        if (k == LGR_KIND_STAND) lgr_StandFromView(record.data());
        if (k == LGR_KIND_REPUB) lgr_RepubPeriodCodes(record.data());
        lgr_CheckRequiredFields(found.c_str(), kind, record.data());
    }
    return record;
}

// The file is read without a tree: its loggers' fields are all the reader looks at.
int readXml(const std::string &path, const char *kind, int k, int number, void *buffer, int size) {
    setContext(kind, number);
    xml_ClearError();
    XmlRecordFile file;
    xml_ReadRecords(path.c_str(), &file);
    std::vector<uint8_t> record = parseLogger(file, kind, k);
    // Also on failure: the caller sees how far the file was read.
    memcpy(buffer, record.data(), std::min<size_t>(static_cast<size_t>(size), record.size()));
    if (xml_GetError() < 0) return xml_ReportError();
    return 0;
}

char *fieldText(const StructsLeaf &leaf, const uint8_t *record) {
    return leaf.type->ascify(leaf.type, k_mtype, record + leaf.offset);
}

// The leaves of a kind, each at offset 0 of its own bytes.
std::vector<StructsLeaf> ownLeaves(int k) {
    std::vector<StructsLeaf> leaves = lgr_Leaves(k);
    for (StructsLeaf &leaf : leaves)
        leaf.offset = 0;
    return leaves;
}

// A password's text form is its text padded with blanks to 256 characters and encrypted, and
// its reader takes the blanks at the end off again: a password that ends in a blank would read
// back as another one, and the field check, which compares texts, cannot see it (both encrypt
// alike). Other field types carry their value whole, or their check sees what they lose.
bool passwordReadsBack(const structs_type *type, const uint8_t *field, const char *text) {
    if (strcmp(type->name, "password") != 0) return true;
    std::vector<uint8_t> back(type->size + 1, 0);
    char ignored[256];
    if (type->binify(type, text, back.data(), ignored, sizeof ignored) != 0) return false;
    const char *held = reinterpret_cast<const char *>(field);
    const char *read = reinterpret_cast<const char *>(back.data());
    size_t n = strnlen(held, type->size);
    return strnlen(read, type->size) == n && memcmp(held, read, n) == 0;
}

// The texts a logger record is saved as, one per leaf; false with the XML error set when a
// text would not read back, so that nothing is written that the reader refuses.
bool loggerTexts(int k, const void *record, int size, std::vector<std::string> *texts) {
    // Every field type of the logger records reads and writes its own bytes alone, so a field
    // is tried in a copy of the bytes from its start rather than of the whole record: a "stand"
    // record has a thousand fields in 32 KB. The check's copy takes a word past the field's
    // end; the record is zero-padded by one so that a copy of that length is all it makes.
    constexpr size_t k_tail = sizeof(uint64_t);
    const size_t kindSize = static_cast<size_t>(lgr_KindSize(k));
    std::vector<uint8_t> copy(kindSize + k_tail, 0);
    memcpy(copy.data(), record, std::min(kindSize, static_cast<size_t>(size)));
    if (k == LGR_KIND_STAND) lgr_StandToView(copy.data());
    static const std::vector<StructsLeaf> k_own[3] = {ownLeaves(0), ownLeaves(1), ownLeaves(2)};
    const std::vector<StructsLeaf> &leaves = lgr_Leaves(k);
    texts->clear();
    texts->reserve(leaves.size());
    for (size_t i = 0; i < leaves.size(); ++i) {
        const StructsLeaf &leaf = leaves[i];
        char message[256];
        char *text =
            structs_LeafSaveText(k_own[k][i], copy.data() + leaf.offset, leaf.type->size + k_tail,
                                 k_mtype, message, sizeof message);
        if (text == nullptr && message[0] != '\0') {
            xml_SetErrorf(XML_E_FAIL, "<%s> %s", leaf.name.c_str(), message);
            return false;
        }
        if (text != nullptr && !passwordReadsBack(leaf.type, copy.data() + leaf.offset, text)) {
            // The message leaves the password out: it goes to the event log.
            xml_SetErrorf(XML_E_FAIL,
                          "<%s> password does not read back as written: it may not end in a blank",
                          leaf.name.c_str());
            typed_mem_free(k_mtype, text);
            return false;
        }
        texts->push_back(text != nullptr ? text : "");
        typed_mem_free(k_mtype, text);
    }
    return true;
}

void writeHistory(const char *folder, const char *user, int k, int number, uint8_t *oldRecord,
                  uint8_t *newRecord, uint32_t compared) {
    if (memcmp(oldRecord, newRecord, compared) == 0) return;
    if (!cfg_OpenHistoryIn(folder, 0)) return;
    if (k == LGR_KIND_STAND) {
        lgr_StandToView(oldRecord);
        lgr_StandToView(newRecord);
    }
    for (const StructsLeaf &leaf : lgr_Leaves(k)) {
        if (leaf.offset + leaf.type->size > compared) continue;
        char *before = fieldText(leaf, oldRecord);
        char *after = fieldText(leaf, newRecord);
        if (before != nullptr && after != nullptr && strcasecmp(before, after) != 0 &&
            leaf.name.size() + strlen(before) + strlen(after) < k_historyLimit)
            cfg_AppendHistory(user, number, leaf.name.c_str(), before, after);
        typed_mem_free(k_mtype, before);
        typed_mem_free(k_mtype, after);
    }
    cfg_CloseHistory();
}

// The device configuration of the current directory is rewritten with its own AutoEnable
// byte, which other programs take as the sign that the configuration changed. A folder
// without one is left alone: writing would create it with a byte never read. Without either
// file nothing is read, so the device's extension module is not loaded for nothing.
void rewriteAutoEnable() {
    const std::string cwd = cfg_CurrentFolder();
    if (!exists(lgr_Join(cwd.c_str(), "config")) && !exists(lgr_Join(cwd.c_str(), "config.xml")))
        return;
    int saved = cfg_GetHistoryFlag();
    uint8_t autoEnable = 0;
    if (cfg_ReadAutoEnableInCwd(&autoEnable) == 0) cfg_WriteAutoEnableInCwd(autoEnable);
    cfg_SetHistoryFlag(saved);
}

// The schema "<kind>.xsd" in the SCHEMA folder beside the LOGGERS folder.
int writeSchema(const char *folder, const char *kind) {
    int k = lgr_KindOf(kind);
    xml_SetErrorObject(kind);
    xml_SetErrorContext("Creating Schema - Logger Type");
    std::string f = folder != nullptr ? folder : "";
    if (f.find_first_of("/\\") == std::string::npos) {
        xml_SetError(XML_E_FAIL, "Invalid Pathname");
        return xml_ReportError();
    }
    std::string schema = lgr_Join(cfg_ParentFolder(f.c_str()).c_str(), "SCHEMA");
    if (!exists(schema) && plat_MakeFolder(schema.c_str()) != 0) {
        xml_SetErrorf(XML_E_FAIL, "Save XML File (%s) failed, Error 0x%x", schema.c_str(),
                      static_cast<unsigned>(XML_E_FAIL));
        return xml_ReportError();
    }
    const std::string path = lgr_Join(schema.c_str(), (std::string(kind) + ".xsd").c_str());
    // The schema follows from the kind name alone, and a "stand" schema of a thousand elements
    // costs more to make than the logger's own file: the file this process wrote last, not
    // replaced or changed since, is left as it is.
    static std::mutex lock;
    static std::map<std::string, FileIdentity> written;
    {
        std::lock_guard<std::mutex> hold(lock);
        auto last = written.find(path);
        FileIdentity now;
        if (last != written.end() && identityOf(path, &now) && now == last->second) return 0;
    }
    XmlDocument *doc = xml_CreateDocument();
    if (doc == nullptr) return xml_ReportError();
    std::string ns = std::string(CFG_NAMESPACE_HOST) + "/" + kind;
    xml_CreateAndAddPINode(doc, "xml", CFG_SCHEMA_PI);
    xml_CreateAndAddCommentNode(doc, CFG_CREATED_COMMENT, xml_DocumentNode(doc));
    XmlNode *root = xml_CreateElement(doc, "xs:schema");
    xml_AppendChildToParent(root, xml_DocumentNode(doc));
    xml_CreateAndAddAttributeNode(doc, "xmlns:xs", CFG_XS_NAMESPACE, root);
    xml_CreateAndAddAttributeNode(doc, "xmlns:xsi", CFG_XSI_NAMESPACE, root);
    xml_CreateAndAddAttributeNode(doc, ("xmlns:" + std::string(kind)).c_str(), ns.c_str(), root);
    xml_CreateAndAddAttributeNode(doc, "targetNamespace", ns.c_str(), root);
    // The logger file puts every element, not only its root, in the kind's namespace.
    xml_CreateAndAddAttributeNode(doc, "elementFormDefault", "qualified", root);
    XmlNode *loggers = xml_AddChildElement(doc, "xs:element", root);
    xml_CreateAndAddAttributeNode(doc, "name", "Loggers", loggers);
    XmlNode *outerType = xml_AddChildElement(doc, "xs:complexType", loggers);
    XmlNode *outerSeq = xml_AddChildElement(doc, "xs:sequence", outerType);
    xml_CreateAndAddAttributeNode(doc, "minOccurs", "1", outerSeq);
    xml_CreateAndAddAttributeNode(doc, "maxOccurs", "2", outerSeq);
    XmlNode *logger = xml_AddChildElement(doc, "xs:element", outerSeq);
    xml_CreateAndAddAttributeNode(doc, "name", "Logger", logger);
    XmlNode *innerType = xml_AddChildElement(doc, "xs:complexType", logger);
    XmlNode *seq = xml_AddChildElement(doc, "xs:sequence", innerType);
    xsd_AddFieldElement(doc, seq, lgr_KindType(k), 0, 0);
    xml_IndentTree(doc, root, 0);
    xml_SaveFile(doc, path.c_str());
    xml_ReleaseDocument(doc);
    if (xml_GetError() < 0) return xml_ReportError();
    FileIdentity made;
    std::lock_guard<std::mutex> hold(lock);
    if (identityOf(path, &made))
        written[path] = made;
    else
        written.erase(path);
    return 0;
}

// A kind name that goes into the root's attributes as it is, needing no escape.
bool plainKind(const char *kind) {
    for (const char *c = kind; *c != '\0'; ++c)
        if (!isalnum(static_cast<unsigned char>(*c)) && *c != '_' && *c != '-' && *c != '.')
            return false;
    return true;
}

// The XML form made as text, byte for byte what the indented tree below is saved as: a
// "stand" record's two thousand nodes cost more to build, indent and free than its text.
void stageXmlText(const std::string &path, const char *kind, int k,
                  const std::vector<std::string> &texts, XmlStaged *staged) {
    const std::string ns = std::string(CFG_NAMESPACE_HOST) + "/" + kind;
    const std::vector<StructsLeaf> &leaves = lgr_Leaves(k);
    std::string out;
    out.reserve(leaves.size() * 64 + 512);
    out.append("<?xml " CFG_DOCUMENT_PI "?>\n<!--" CFG_CREATED_COMMENT
               "-->\n<Loggers xmlns:xsi=\"" CFG_XSI_NAMESPACE "\" xmlns=\"")
        .append(ns)
        .append("\" xsi:schemaLocation=\"")
        .append(ns)
        .append(" ../SCHEMA/")
        .append(kind)
        .append(".xsd\">\n\t<Logger>");
    for (size_t i = 0; i < leaves.size() && i < texts.size(); ++i) {
        out.append("\n\t\t<").append(leaves[i].name).push_back('>');
        xml_AppendContent(&out, texts[i].c_str());
        out.append("</").append(leaves[i].name).push_back('>');
    }
    out.append("\n\t</Logger>\n</Loggers>\n");
    xml_StageText(out, path.c_str(), staged);
}

std::string xmlName(const char *folder, const char *kind, int number) {
    return fileName(folder, kind, number) + ".xml";
}

// The XML form of a record whose texts loggerTexts made, staged beside its file: 0, or -1
// reported with nothing staged.
int stageXml(const char *folder, const char *kind, int k, int number,
             const std::vector<std::string> &texts, XmlStaged *staged) {
    const std::string path = xmlName(folder, kind, number);
    if (plainKind(kind)) {
        xml_ClearError();
        stageXmlText(path, kind, k, texts, staged);
        if (xml_GetError() < 0) return xml_ReportError();
        return 0;
    }
    XmlDocument *doc = xml_CreateDocument();
    if (doc == nullptr) return xml_ReportError();
    std::string ns = std::string(CFG_NAMESPACE_HOST) + "/" + kind;
    xml_CreateAndAddPINode(doc, "xml", CFG_DOCUMENT_PI);
    xml_CreateAndAddCommentNode(doc, CFG_CREATED_COMMENT, xml_DocumentNode(doc));
    XmlNode *root = xml_CreateElement(doc, "Loggers");
    xml_AppendChildToParent(root, xml_DocumentNode(doc));
    xml_CreateAndAddAttributeNode(doc, "xmlns:xsi", CFG_XSI_NAMESPACE, root);
    xml_CreateAndAddAttributeNode(doc, "xmlns", ns.c_str(), root);
    xml_CreateAndAddAttributeNode(doc, "xsi:schemaLocation",
                                  (ns + " ../SCHEMA/" + kind + ".xsd").c_str(), root);
    XmlNode *logger = xml_AddChildElement(doc, "Logger", root);
    const std::vector<StructsLeaf> &leaves = lgr_Leaves(k);
    for (size_t i = 0; i < leaves.size() && i < texts.size() && xml_GetError() >= 0; ++i) {
        XmlNode *element = xml_AddChildElement(doc, leaves[i].name.c_str(), logger);
        xml_CreateAndAddTextNode(doc, texts[i].c_str(), element);
    }
    xml_IndentTree(doc, root, 0);
    xml_StageFile(doc, path.c_str(), staged);
    xml_ReleaseDocument(doc);
    if (xml_GetError() < 0) return xml_ReportError();
    return 0;
}

// Puts the staged XML in place: 0, or -1 reported under the logger's own context.
int commitXml(const char *kind, int number, XmlStaged *staged) {
    setContext(kind, number);
    xml_ClearError();
    return xml_CommitStaged(staged) == 0 ? 0 : xml_ReportError();
}

// Removes a staging not put in place (and gives up its lock) however the save ends.
struct StagedXml {
    XmlStaged staged;
    StagedXml() = default;
    StagedXml(const StagedXml &) = delete;
    StagedXml &operator=(const StagedXml &) = delete;
    ~StagedXml() { xml_DiscardStaged(&staged); }
};
} // namespace

std::string lgr_Join(const char *folder, const char *name) {
    std::string f = folder != nullptr ? folder : "";
    if (f.empty()) return name;
    if (f.back() != '/' && f.back() != '\\') f += '/';
    return f + name;
}

const std::vector<StructsLeaf> &lgr_Leaves(int kind) {
    static const std::vector<StructsLeaf> k_leaves[3] = {structs_Leaves(&lgr_stand_type),
                                                         structs_Leaves(&lgr_repub_type),
                                                         structs_Leaves(&lgr_resub_type)};
    static const std::vector<StructsLeaf> k_none;
    return kind >= 0 && kind < 3 ? k_leaves[kind] : k_none;
}

int lgr_ReadLoggerFile(const char *folder, const char *kind, int number, void *buffer, int size) {
    if (kind == nullptr || size < 0 || (buffer == nullptr && size > 0))
        return plat_Fail(WERR_INVALID_PARAMETER);
    int k = lgr_KindOf(kind);
    std::string path = fileName(folder, kind, number);
    if (k != LGR_KIND_UNKNOWN && cfg_GetReadXml(folder) == 1 && exists(path + ".xml"))
        return readXml(path + ".xml", kind, k, number, buffer, size);
    int fd = plat_FileOpen(path.c_str(), PLAT_FILE_READ);
    if (fd < 0) return -1;
    int64_t n = size > 0 ? plat_FileReadAtMost(fd, buffer, static_cast<size_t>(size), 0) : 0;
    int err = errno;
    plat_FileClose(fd);
    errno = err;
    return n < 0 ? -1 : 0;
}

int lgr_WriteLoggerFile(const char *folder, const char *user, const char *kind, int number,
                        const void *record, int size) {
    if (kind == nullptr || size < 0 || (record == nullptr && size > 0))
        return plat_Fail(WERR_INVALID_PARAMETER);
    int k = lgr_KindOf(kind);
    const uint32_t kindSize = static_cast<uint32_t>(lgr_KindSize(k));
    const uint32_t copied = std::min(static_cast<uint32_t>(size), kindSize);

    int writeXml = cfg_GetWriteXml(folder);
    const bool xml = k != LGR_KIND_UNKNOWN && writeXml > 0;
    const bool binary = size != 0 && (writeXml < 2 || k == LGR_KIND_UNKNOWN);
    // Another saver of this logger's XML waits from here until the new file is in place.
    StagedXml file;
    if (xml) {
        setContext(kind, number);
        xml_ClearError();
        if (xml_LockTarget(xmlName(folder, kind, number).c_str(), &file.staged) < 0)
            return xml_ReportError();
    }

    // Both halves are the kind's full size, so neither a short nor a long caller's record
    // reaches past them.
    bool history = k != LGR_KIND_UNKNOWN && cfg_GetHistoryFlag() != 0;
    std::vector<uint8_t> halves;
    if (history) {
        halves.assign(2 * static_cast<size_t>(kindSize), 0);
        if (lgr_ReadLoggerFile(folder, kind, number, halves.data(), static_cast<int>(copied)) < 0 &&
            errno == WERR_XML_PARSE_ERROR)
            return -1;
    }

    // Whatever can refuse the save does so before the first byte of either file changes: the
    // texts that must read back, the binary file the caller may not write, the XML's staging.
    std::vector<std::string> texts;
    if (xml) {
        setContext(kind, number);
        xml_ClearError();
        if (!loggerTexts(k, record, size, &texts)) return xml_ReportError();
    }
    const std::string path = fileName(folder, kind, number);
    if (binary && plat_FileMayWrite(path.c_str()) < 0) return -1;
    if (xml && stageXml(folder, kind, k, number, texts, &file.staged) != 0) return -1;
    // The schema only describes the file and goes in place first; a failure is reported but the
    // save stands.
    if (xml) writeSchema(folder, kind);
    if (binary) {
        int fd = plat_FileOpenOrCreate(path.c_str());
        if (fd < 0) return -1;
        int result = plat_FileWriteAt(fd, record, static_cast<size_t>(size), 0);
        int err = errno;
        plat_FileClose(fd);
        errno = err;
        if (result != 0) return -1;
    }
    cfg_TouchRootConfigOf(folder);
    if (xml && commitXml(kind, number, &file.staged) != 0) return -1;

    if (history) {
        memcpy(halves.data() + kindSize, record, copied);
        uint32_t compared =
            k == LGR_KIND_STAND && static_cast<uint32_t>(size) >= LgrStand::ViewStart ? kindSize
                                                                                      : copied;
        writeHistory(folder, user, k, number, halves.data(), halves.data() + kindSize, compared);
    }
    rewriteAutoEnable();
    return 0;
}

int lgr_WriteLoggerXml(const char *folder, const char *user, const char *kind, int number,
                       const void *record, int size) {
    (void)user;
    int k = lgr_KindOf(kind);
    if (k == LGR_KIND_UNKNOWN || size < 0 || (record == nullptr && size > 0))
        return plat_Fail(WERR_INVALID_PARAMETER);
    setContext(kind, number);
    xml_ClearError();
    std::vector<std::string> texts;
    if (!loggerTexts(k, record, size, &texts)) return xml_ReportError();
    StagedXml file;
    if (stageXml(folder, kind, k, number, texts, &file.staged) != 0) return -1;
    lgr_WriteLoggerSchema(folder, kind, record, size);
    return commitXml(kind, number, &file.staged);
}

int lgr_WriteLoggerSchema(const char *folder, const char *kind, const void *record, int size) {
    (void)record;
    int k = lgr_KindOf(kind);
    if (k == LGR_KIND_UNKNOWN || size < 0) return plat_Fail(WERR_INVALID_PARAMETER);
    if (cfg_GetWriteXml(folder) <= 0) return 0;
    return writeSchema(folder, kind);
}
