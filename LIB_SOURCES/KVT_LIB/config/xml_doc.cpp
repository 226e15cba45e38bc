// Documents: create, load, save.
#include "xml_dom.h"

#include "plat_error.h"

#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/valid.h>
#include <libxml/xmlsave.h>

#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <vector>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
void startEngine() {
    static std::once_flag once;
    std::call_once(once, [] { xmlInitParser(); });
}

// A document we built starts with the "xml" processing instruction, which then stands in for
// the declaration; a loaded one has no such node.
bool startsWithDeclaration(xmlDocPtr doc) {
    xmlNodePtr first = doc->children;
    return first != nullptr && first->type == XML_PI_NODE && first->name != nullptr &&
           strcmp(reinterpret_cast<const char *>(first->name), "xml") == 0;
}

// The data of the file's declaration as written ("version='1.0' encoding='UTF-8'"), or empty
// when the file has none. The parser keeps only its values, and a document saved from those
// would begin with another text than the one it was loaded from.
std::string declarationOf(const char *path) {
    char head[256] = {};
    FILE *f = fopen(path, "rb");
    if (f == nullptr) return "";
    size_t n = fread(head, 1, sizeof head - 1, f);
    fclose(f);
    std::string text(head, n);
    if (text.compare(0, 6, "<?xml ") != 0) return "";
    size_t end = text.find("?>");
    if (end == std::string::npos) return "";
    size_t start = text.find_first_not_of(" \t\r\n", 6);
    size_t last = text.find_last_not_of(" \t\r\n", end - 1);
    return start == std::string::npos || last < start ? "" : text.substr(start, last - start + 1);
}

// What names a staged copy: "<name>" k_stagingMark and the six letters or digits mkostemp
// chose. A name no user gives a file, so that a leftover can be told from the user's own files.
constexpr const char *k_stagingMark = ".staging.";

bool isStagedCopyOf(const char *entry, const std::string &base) {
    const size_t mark = strlen(k_stagingMark);
    if (strncmp(entry, base.c_str(), base.size()) != 0) return false;
    if (strncmp(entry + base.size(), k_stagingMark, mark) != 0) return false;
    const char *tail = entry + base.size() + mark;
    if (strlen(tail) != 6) return false;
    for (const char *c = tail; *c != '\0'; ++c)
        if (!((*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z') || (*c >= '0' && *c <= '9')))
            return false;
    return true;
}

// Removes the staged copies of path that a save killed between staging and rename left behind.
// Only a holder of path's lock calls this: no other saver of path is then between the two.
void removeLeftovers(const char *path) {
    std::string p(path);
    size_t slash = p.rfind('/');
    std::string dir = slash == std::string::npos ? "." : p.substr(0, slash == 0 ? 1 : slash);
    std::string base = slash == std::string::npos ? p : p.substr(slash + 1);
    DIR *d = opendir(dir.c_str());
    if (d == nullptr) return;
    std::vector<std::string> found;
    while (dirent *e = readdir(d))
        if (isStagedCopyOf(e->d_name, base)) found.push_back(dir + "/" + e->d_name);
    closedir(d);
    for (const std::string &name : found)
        unlink(name.c_str());
}

// The save lock of path, on a file of its own beside it: a lock on path itself would stay with
// the inode a rename replaces. Opened for reading, so a lock file another user made still
// serves. The descriptor, or -1 with errno.
int takeLock(const char *path) {
    std::string name = std::string(path) + ".lock";
    int fd = open(name.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return -1;
    while (flock(fd, LOCK_EX) != 0) {
        if (errno == EINTR) continue;
        int err = errno;
        close(fd);
        errno = err;
        return -1;
    }
    return fd;
}

void releaseLock(XmlStaged *staged) {
    if (staged->lock < 0) return;
    close(staged->lock);
    staged->lock = -1;
}

int32_t hresultOfErrno(int err, const char *path) {
    uint32_t win = plat_WinErrorForPath(err, path);
    return static_cast<int32_t>(0x80070000u | (win & 0xFFFFu));
}

int32_t saveFailed(int err, const char *path);

// A save called without a file or a staging.
int32_t refuseArguments(const char *path) {
    xml_SetErrorf(XML_E_FAIL, "Save XML File (%s) failed, Error 0x%x", path ? path : "",
                  static_cast<unsigned>(XML_E_FAIL));
    return xml_GetError();
}

// Opens a temporary file of its own beside path for its new bytes, leaving path alone. An
// existing file the caller may not write is refused before anything is made: without a write
// bit it is marked read-only, which refuses an administrator too. 0 with the descriptor, the
// temporary file's name and the mode it is to get, or the errno value with nothing made.
int openTemp(const char *path, int *fd, std::string *temp, mode_t *mode) {
    struct stat st;
    bool existed = stat(path, &st) == 0;
    if (existed && faccessat(AT_FDCWD, path, W_OK, AT_EACCESS) != 0) return errno;
    if (existed && S_ISREG(st.st_mode) && (st.st_mode & 0222) == 0) return EACCES;
    // A folder in the file's place would refuse only the rename, after the other files of the
    // save were written.
    if (existed && S_ISDIR(st.st_mode)) return EISDIR;
    *mode = existed ? (st.st_mode & 07777) : 0666;
    std::string name = std::string(path) + k_stagingMark + "XXXXXX";
    *fd = mkostemp(&name[0], O_CLOEXEC);
    if (*fd < 0) return errno;
    *temp = name;
    return 0;
}

// 0 or the errno value.
int writeAll(int fd, const char *data, size_t size) {
    size_t done = 0;
    while (done < size) {
        ssize_t w = write(fd, data + done, size - done);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return w < 0 ? errno : EIO;
        done += static_cast<size_t>(w);
    }
    return 0;
}

// Gives the staged file its mode and makes it durable, or removes it: 0 or the errno value.
int finishTemp(XmlStaged *staged) {
    int err = 0;
    if (fchmod(staged->fd, staged->mode) != 0) err = errno;
    if (err == 0 && fsync(staged->fd) != 0) err = errno;
    if (close(staged->fd) != 0 && err == 0) err = errno;
    staged->fd = -1;
    if (err != 0) {
        unlink(staged->temp.c_str());
        staged->temp.clear();
    }
    return err;
}

void dropTemp(XmlStaged *staged) {
    if (staged->fd >= 0) close(staged->fd);
    staged->fd = -1;
    if (!staged->temp.empty()) unlink(staged->temp.c_str());
    staged->temp.clear();
    staged->path.clear();
}

// The first part of a staging: the lock, the checks, the temporary file. 0 or the failure code.
int32_t beginStaging(const char *path, XmlStaged *staged) {
    if (xml_GetError() < 0) return xml_GetError();
    if (path == nullptr || staged == nullptr) return refuseArguments(path);
    dropTemp(staged);
    if (staged->lock < 0 && xml_LockTarget(path, staged) < 0) return xml_GetError();
    mode_t mode = 0;
    int err = openTemp(path, &staged->fd, &staged->temp, &mode);
    if (err != 0) return saveFailed(err, path);
    staged->mode = static_cast<uint32_t>(mode);
    staged->path = path;
    return 0;
}

// Puts a staged file in place; on failure the old file is as it was and the temporary file is
// gone. 0 or the errno value.
int commitTemp(const std::string &temp, const char *path) {
    if (rename(temp.c_str(), path) == 0) return 0;
    int err = errno;
    unlink(temp.c_str());
    return err;
}

// The document as the bytes of its file: it is put into memory whole before any file is
// touched, since the library's own file output neither retries a short write nor reports every
// failed one. 0 or ENOMEM.
int documentText(xmlDocPtr doc, int options, std::string *text) {
    xmlBufferPtr buffer = xmlBufferCreate();
    if (buffer == nullptr) return ENOMEM;
    xmlSaveCtxtPtr save = xmlSaveToBuffer(buffer, "UTF-8", options);
    if (save == nullptr) {
        xmlBufferFree(buffer);
        return ENOMEM;
    }
    long written = xmlSaveDoc(save, doc);
    int err = xmlSaveClose(save) < 0 || written < 0 ? ENOMEM : 0;
    if (err == 0)
        text->assign(reinterpret_cast<const char *>(xmlBufferContent(buffer)),
                     static_cast<size_t>(xmlBufferLength(buffer)));
    xmlBufferFree(buffer);
    return err;
}

int32_t saveFailed(int err, const char *path) {
    int32_t hr = hresultOfErrno(err, path);
    const char *what = "Error";
    if (err == EACCES || err == EPERM || err == EROFS) {
        hr = XML_E_ACCESSDENIED;
        what = "Access Denied";
    } else if (err == ENOMEM) {
        hr = XML_E_OUTOFMEMORY;
        what = "Out Of Memory";
    } else if (err == ENAMETOOLONG || err == EINVAL || err == EISDIR) {
        hr = XML_E_INVALIDNAME;
        what = "Invalid filename";
    }
    xml_SetErrorf(hr, "Save XML File (%s) failed, %s 0x%x", path, what, static_cast<unsigned>(hr));
    return hr;
}
} // namespace

XmlDocument *xml_CreateDocument() {
    startEngine();
    xml_ClearError();
    auto *doc = new (std::nothrow) XmlDocument{nullptr};
    if (doc != nullptr) doc->doc = xmlNewDoc(BAD_CAST "1.0");
    // Names from a dictionary, as in a parsed document: one copy of "Channel" or "Tag" for the
    // whole document rather than one per element.
    if (doc != nullptr && doc->doc != nullptr) doc->doc->dict = xmlDictCreate();
    if (doc == nullptr || doc->doc == nullptr) {
        delete doc;
        xml_SetErrorf(XML_E_OUTOFMEMORY, "CoCreateInstance of MSXML6 failed 0x%x",
                      static_cast<unsigned>(XML_E_OUTOFMEMORY));
        return nullptr;
    }
    return doc;
}

void xml_ReleaseDocument(XmlDocument *doc) {
    if (doc == nullptr) return;
    if (doc->doc != nullptr) xmlFreeDoc(doc->doc);
    delete doc;
}

XmlDocument *xml_CopyDocument(XmlDocument *doc) {
    if (xml_GetError() < 0) return nullptr;
    auto *copy = new (std::nothrow) XmlDocument{nullptr};
    if (copy != nullptr && doc != nullptr && doc->doc != nullptr)
        copy->doc = xmlCopyDoc(doc->doc, 1);
    if (copy == nullptr || copy->doc == nullptr) {
        delete copy;
        xml_SetErrorf(XML_E_OUTOFMEMORY, "xml_CopyDocument() failed 0x%x",
                      static_cast<unsigned>(XML_E_OUTOFMEMORY));
        return nullptr;
    }
    return copy;
}

XmlNode *xml_DocumentNode(XmlDocument *doc) {
    return doc != nullptr ? reinterpret_cast<XmlNode *>(doc->doc) : nullptr;
}

namespace {
// The load's failure from the parser's last error (or a plain failure); 255.
int loadFailed(xmlErrorPtr err, const char *path) {
    if (err != nullptr && err->message != nullptr) {
        std::string reason = err->message;
        while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r'))
            reason.pop_back();
        char *narrow = xml_FromUtf8(BAD_CAST reason.c_str());
        uint32_t hr = 0xC00CE000u | (static_cast<uint32_t>(err->code) & 0xFFFu);
        xml_SetErrorf(static_cast<int32_t>(hr), "Xml Load Failed (%s) %s 0x%8x", path,
                      narrow != nullptr ? narrow : "", hr);
        free(narrow);
    } else {
        xml_SetErrorf(XML_E_FAIL, "Xml Load Failed (%s)", path);
    }
    return 255;
}

bool isBlank(xmlChar c) {
    return c == 0x20 || c == 0x09 || c == 0x0A || c == 0x0D;
}

// Builds an XmlRecordFile from the parser's events. Depth counts open elements: 1 the root,
// 2 a record, 3 a field, 4 and more inside a field. A field's text is its first text or CDATA
// child as the tree would hold it: adjacent character data of one kind merged, a blank run
// dropped where the tree's loader drops it (its rule for ignorable blanks, which looks at the
// parser's next input bytes and the field's children so far).
struct RecordCollector {
    xmlParserCtxtPtr ctxt = nullptr;
    XmlRecordFile *out = nullptr;
    int depth = 0;
    bool sawRoot = false;
    // The open field.
    std::string fieldName;
    int children = 0;
    bool hasFirst = false;
    bool firstOpen = false; // the first text-like child is still the last child
    bool firstIsCData = false;
    std::string first;

    uint32_t intern(const char *text, size_t length) {
        uint32_t at = static_cast<uint32_t>(out->arena.size());
        out->arena.append(text, length);
        out->arena.push_back('\0');
        return at;
    }
    uint32_t intern(const xmlChar *text) {
        const char *t = reinterpret_cast<const char *>(text);
        return intern(t, strlen(t));
    }

    // The tree loader's test for a blank run that it leaves out, at the field's level.
    bool ignorableBlank(const xmlChar *ch, int len) {
        for (int i = 0; i < len; ++i)
            if (!isBlank(ch[i])) return false;
        if (ctxt->space == nullptr || *ctxt->space == 1 || *ctxt->space == -2) return false;
        if (ctxt->myDoc != nullptr) {
            int mixed = xmlIsMixedElement(ctxt->myDoc, BAD_CAST fieldName.c_str());
            if (mixed == 0) return true;
            if (mixed == 1) return false;
        }
        // The input right after the run: the run lies in the input buffer, or the parser has
        // copied it out and moved past it already.
        const xmlParserInputPtr in = ctxt->input;
        const xmlChar *next = nullptr;
        if (in != nullptr) next = ch >= in->base && ch < in->end ? ch + len : in->cur;
        if (next == nullptr || (next[0] != '<' && next[0] != 0x0D)) return false;
        if (children == 0 && next[0] == '<' && next[1] == '/') return false;
        // No text child yet (else this run would merge into it): nothing keeps the run.
        return true;
    }

    void otherChild() {
        ++children;
        firstOpen = false;
    }

    void text(const xmlChar *ch, int len, bool cdata) {
        if (hasFirst) {
            if (firstOpen && firstIsCData == cdata)
                first.append(reinterpret_cast<const char *>(ch), static_cast<size_t>(len));
            else
                otherChild();
            return;
        }
        if (!cdata && len > 0 && isBlank(ch[0]) && ignorableBlank(ch, len)) return;
        ++children;
        hasFirst = true;
        firstOpen = true;
        firstIsCData = cdata;
        first.assign(reinterpret_cast<const char *>(ch), static_cast<size_t>(len));
    }

    // The handlers get the parser's context, which the parser's own handlers left in place
    // (start of document, declarations) need; the collector rides in its private pointer. An
    // entity's text is parsed once in a context of its own that shares both: those events
    // build the entity, not the element that refers to it, and are left out (null).
    static RecordCollector *of(void *ctx) {
        auto *ctxt = static_cast<xmlParserCtxtPtr>(ctx);
        auto *c = static_cast<RecordCollector *>(ctxt->_private);
        return c != nullptr && c->ctxt == ctxt ? c : nullptr;
    }

    static void startElement(void *ctx, const xmlChar *localname, const xmlChar *, const xmlChar *,
                             int, const xmlChar **, int attributeCount, int,
                             const xmlChar **attributes) {
        RecordCollector *own = of(ctx);
        if (own == nullptr) return;
        RecordCollector &c = *own;
        ++c.depth;
        if (c.depth == 1) {
            c.sawRoot = true;
            c.out->root = c.intern(localname);
        } else if (c.depth == 2) {
            XmlRecordFile::Record r;
            r.name = c.intern(localname);
            r.firstField = static_cast<uint32_t>(c.out->fields.size());
            for (int i = 0; i < attributeCount; ++i) {
                const xmlChar **a = attributes + 5 * i;
                if (strcmp(reinterpret_cast<const char *>(a[0]), "id") != 0) continue;
                r.hasId = true;
                r.id = c.intern(reinterpret_cast<const char *>(a[3]),
                                static_cast<size_t>(a[4] - a[3]));
                break;
            }
            c.out->records.push_back(r);
        } else if (c.depth == 3) {
            c.fieldName = reinterpret_cast<const char *>(localname);
            c.children = 0;
            c.hasFirst = c.firstOpen = c.firstIsCData = false;
            c.first.clear();
        } else if (c.depth == 4) {
            c.otherChild();
        }
    }

    static void endElement(void *ctx, const xmlChar *, const xmlChar *, const xmlChar *) {
        RecordCollector *own = of(ctx);
        if (own == nullptr) return;
        RecordCollector &c = *own;
        if (c.depth == 3) {
            XmlRecordFile::Field f;
            f.name = c.intern(c.fieldName.data(), c.fieldName.size());
            f.text = c.intern(c.first.data(), c.first.size());
            c.out->fields.push_back(f);
            c.out->records.back().fieldCount += 1;
        }
        --c.depth;
    }

    static void characters(void *ctx, const xmlChar *ch, int len) {
        RecordCollector *own = of(ctx);
        if (own == nullptr) return;
        RecordCollector &c = *own;
        if (c.depth == 3) c.text(ch, len, false);
    }
    static void cdata(void *ctx, const xmlChar *ch, int len) {
        RecordCollector *own = of(ctx);
        if (own == nullptr) return;
        RecordCollector &c = *own;
        if (c.depth == 3) c.text(ch, len, true);
    }
    static void comment(void *ctx, const xmlChar *) {
        RecordCollector *own = of(ctx);
        if (own == nullptr) return;
        RecordCollector &c = *own;
        if (c.depth == 3) c.otherChild();
    }
    static void instruction(void *ctx, const xmlChar *, const xmlChar *) {
        RecordCollector *own = of(ctx);
        if (own == nullptr) return;
        RecordCollector &c = *own;
        if (c.depth == 3) c.otherChild();
    }
    static void reference(void *ctx, const xmlChar *) {
        RecordCollector *own = of(ctx);
        if (own == nullptr) return;
        RecordCollector &c = *own;
        if (c.depth == 3) c.otherChild();
    }
};
} // namespace

int xml_ReadRecords(const char *path, XmlRecordFile *out) {
    startEngine();
    if (xml_GetError() < 0) return 255;
    *out = XmlRecordFile();
    struct stat st;
    if (path == nullptr || stat(path, &st) != 0) {
        xml_SetErrorf(XML_E_NOTFOUND, "Xml Load Failed (%s), File Not Found",
                      path != nullptr ? path : "");
        return 1;
    }
    // A context of its own for the file, so that the handlers set below stay in place.
    xmlResetLastError();
    xmlParserCtxtPtr ctxt =
        xmlCreateURLParserCtxt(path, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (ctxt == nullptr) return loadFailed(xmlGetLastError(), path);
    RecordCollector collector;
    collector.ctxt = ctxt;
    collector.out = out;
    out->arena.reserve(static_cast<size_t>(st.st_size) / 2 + 64);
    xmlSAXHandler *sax = ctxt->sax;
    sax->startElementNs = RecordCollector::startElement;
    sax->endElementNs = RecordCollector::endElement;
    sax->characters = RecordCollector::characters;
    // Blank runs come as text; the collector applies the loader's rule itself.
    sax->ignorableWhitespace = RecordCollector::characters;
    sax->cdataBlock = RecordCollector::cdata;
    sax->comment = RecordCollector::comment;
    sax->processingInstruction = RecordCollector::instruction;
    sax->reference = RecordCollector::reference;
    ctxt->_private = &collector;
    xmlParseDocument(ctxt);
    int rc = 0;
    if (!ctxt->wellFormed || !collector.sawRoot) rc = loadFailed(xmlCtxtGetLastError(ctxt), path);
    // The document shell the parser made for the declarations; it holds no element.
    if (ctxt->myDoc != nullptr) xmlFreeDoc(ctxt->myDoc);
    ctxt->myDoc = nullptr;
    xmlFreeParserCtxt(ctxt);
    if (rc != 0) *out = XmlRecordFile();
    return rc;
}

int xml_LoadFile(XmlDocument *doc, const char *path) {
    if (doc == nullptr) return -1;
    if (xml_GetError() < 0) return 255;
    struct stat st;
    if (path == nullptr || stat(path, &st) != 0) {
        xml_SetErrorf(XML_E_NOTFOUND, "Xml Load Failed (%s), File Not Found",
                      path != nullptr ? path : "");
        return 1;
    }
    xmlParserCtxtPtr ctxt = xmlNewParserCtxt();
    if (ctxt == nullptr) {
        xml_SetErrorf(XML_E_OUTOFMEMORY, "Xml Load Failed (%s)", path);
        return 255;
    }
    xmlDocPtr loaded = xmlCtxtReadFile(ctxt, path, nullptr,
                                       XML_PARSE_NONET | XML_PARSE_NOBLANKS | XML_PARSE_NOERROR |
                                           XML_PARSE_NOWARNING);
    if (loaded == nullptr || loaded->children == nullptr) {
        loadFailed(xmlCtxtGetLastError(ctxt), path);
        if (loaded != nullptr) xmlFreeDoc(loaded);
        xmlFreeParserCtxt(ctxt);
        return 255;
    }
    xmlFreeParserCtxt(ctxt);
    // The declaration stays the document's first node, as in a document built here, so that
    // saving the loaded document writes it back as it was.
    std::string declaration = declarationOf(path);
    if (!declaration.empty()) {
        xmlNodePtr pi = xmlNewDocPI(loaded, BAD_CAST "xml", BAD_CAST declaration.c_str());
        if (pi != nullptr && xmlAddPrevSibling(loaded->children, pi) == nullptr) xmlFreeNode(pi);
    }
    if (doc->doc != nullptr) xmlFreeDoc(doc->doc);
    doc->doc = loaded;
    return 0;
}

// A save is a staging put in place at once.
int32_t xml_SaveFile(XmlDocument *doc, const char *path) {
    XmlStaged staged;
    int32_t hr = xml_StageFile(doc, path, &staged);
    return hr < 0 ? hr : xml_CommitStaged(&staged);
}

int32_t xml_SaveText(const std::string &text, const char *path) {
    XmlStaged staged;
    int32_t hr = xml_StageText(text, path, &staged);
    return hr < 0 ? hr : xml_CommitStaged(&staged);
}

int32_t xml_LockTarget(const char *path, XmlStaged *staged) {
    if (xml_GetError() < 0) return xml_GetError();
    if (path == nullptr || staged == nullptr) return refuseArguments(path);
    if (staged->lock >= 0) return 0;
    staged->lock = takeLock(path);
    if (staged->lock < 0) return saveFailed(errno, path);
    removeLeftovers(path);
    return 0;
}

int32_t xml_StageAppend(const std::string &text, const char *path, XmlStaged *staged) {
    if (xml_GetError() < 0) return xml_GetError();
    bool open = staged != nullptr && staged->fd >= 0 && path != nullptr && staged->path == path;
    if (!open && beginStaging(path, staged) < 0) return xml_GetError();
    int err = writeAll(staged->fd, text.data(), text.size());
    if (err == 0) return 0;
    std::string name = staged->path;
    dropTemp(staged);
    return saveFailed(err, name.c_str());
}

int32_t xml_StageText(const std::string &text, const char *path, XmlStaged *staged) {
    if (xml_StageAppend(text, path, staged) < 0) return xml_GetError();
    int err = finishTemp(staged);
    if (err == 0) return 0;
    staged->path.clear();
    return saveFailed(err, path);
}

int32_t xml_StageFile(XmlDocument *doc, const char *path, XmlStaged *staged) {
    if (xml_GetError() < 0) return xml_GetError();
    if (doc == nullptr || doc->doc == nullptr || path == nullptr) return refuseArguments(path);
    std::string text;
    int options = startsWithDeclaration(doc->doc) ? XML_SAVE_NO_DECL : 0;
    int err = documentText(doc->doc, options, &text);
    if (err != 0) return saveFailed(err, path);
    return xml_StageText(text, path, staged);
}

int32_t xml_CommitStaged(XmlStaged *staged) {
    if (staged == nullptr) return 0;
    if (staged->fd >= 0) {
        // Begun but never ended: a part of the file, which must not replace the whole.
        std::string path = staged->path;
        xml_DiscardStaged(staged);
        xml_ClearError();
        return saveFailed(EIO, path.c_str());
    }
    if (staged->temp.empty()) {
        releaseLock(staged);
        return 0;
    }
    std::string temp, path;
    temp.swap(staged->temp);
    path.swap(staged->path);
    int err = commitTemp(temp, path.c_str());
    releaseLock(staged);
    if (err == 0) return 0;
    // The failure is the rename's own: it is recorded whatever was recorded before.
    xml_ClearError();
    return saveFailed(err, path.c_str());
}

XmlStaged::~XmlStaged() {
    xml_DiscardStaged(this);
}

void xml_DiscardStaged(XmlStaged *staged) {
    if (staged == nullptr) return;
    dropTemp(staged);
    releaseLock(staged);
}

XmlNode *xml_GetRootElement(XmlDocument *doc) {
    if (xml_GetError() < 0) return nullptr;
    xmlNodePtr root =
        doc != nullptr && doc->doc != nullptr ? xmlDocGetRootElement(doc->doc) : nullptr;
    if (root == nullptr) xml_SetError(XML_E_FAIL, "No Root element found");
    return root;
}

XmlNode *xml_CreateAndAddPINode(XmlDocument *doc, const char *target, const char *data) {
    if (xml_GetError() < 0 || doc == nullptr) return nullptr;
    std::string t = xml_ToUtf8(target);
    std::string d = xml_ToUtf8(data);
    xmlNodePtr pi = nullptr;
    if (xmlValidateName(BAD_CAST t.c_str(), 0) == 0 && xml_IsXmlText(d) &&
        d.find("?>") == std::string::npos)
        pi = xmlNewDocPI(doc->doc, BAD_CAST t.c_str(), BAD_CAST d.c_str());
    if (pi == nullptr || xmlAddChild(reinterpret_cast<xmlNodePtr>(doc->doc), pi) == nullptr) {
        if (pi != nullptr) xmlFreeNode(pi);
        xml_SetErrorf(XML_E_FAIL, "xml_CreateAndAddPINode('%s','%s') failed 0x%x",
                      target ? target : "", data ? data : "", static_cast<unsigned>(XML_E_FAIL));
        return nullptr;
    }
    return pi;
}
