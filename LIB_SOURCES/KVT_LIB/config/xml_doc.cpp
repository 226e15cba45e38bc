// Documents: create, load, save.
#include "xml_dom.h"

#include "plat_error.h"

#include <libxml/parser.h>
#include <libxml/xmlsave.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <string>
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

int32_t hresultOfErrno(int err, const char *path) {
    uint32_t win = plat_WinErrorForPath(err, path);
    return static_cast<int32_t>(0x80070000u | (win & 0xFFFFu));
}

// Writes into path through a temporary file in the same folder: `fill` writes the content to
// the descriptor (0 or an errno value); then mode, fsync and rename. 0 or the errno value.
template <typename Fill>
int saveThroughTemp(const char *path, Fill fill) {
    std::string temp = std::string(path) + ".tmp";
    struct stat st;
    mode_t mode = stat(path, &st) == 0 ? (st.st_mode & 07777) : 0666;
    int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return errno;
    int err = fill(fd);
    if (err == 0 && fchmod(fd, mode) != 0) err = errno;
    if (err == 0 && fsync(fd) != 0) err = errno;
    if (close(fd) != 0 && err == 0) err = errno;
    if (err == 0 && rename(temp.c_str(), path) != 0) err = errno;
    if (err != 0) unlink(temp.c_str());
    return err;
}

int saveDocument(xmlDocPtr doc, const char *path, int options) {
    return saveThroughTemp(path, [&](int fd) {
        errno = 0;
        xmlSaveCtxtPtr save = xmlSaveToFd(fd, "UTF-8", options);
        if (save == nullptr) return ENOMEM;
        long written = xmlSaveDoc(save, doc);
        if (xmlSaveClose(save) < 0 || written < 0) return errno != 0 ? errno : EIO;
        return 0;
    });
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

XmlNode *xml_DocumentNode(XmlDocument *doc) {
    return doc != nullptr ? reinterpret_cast<XmlNode *>(doc->doc) : nullptr;
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
        xmlErrorPtr err = xmlCtxtGetLastError(ctxt);
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
        if (loaded != nullptr) xmlFreeDoc(loaded);
        xmlFreeParserCtxt(ctxt);
        return 255;
    }
    xmlFreeParserCtxt(ctxt);
    if (doc->doc != nullptr) xmlFreeDoc(doc->doc);
    doc->doc = loaded;
    return 0;
}

int32_t xml_SaveFile(XmlDocument *doc, const char *path) {
    if (xml_GetError() < 0) return xml_GetError();
    if (doc == nullptr || doc->doc == nullptr || path == nullptr) {
        xml_SetErrorf(XML_E_FAIL, "Save XML File (%s) failed, Error 0x%x", path ? path : "",
                      static_cast<unsigned>(XML_E_FAIL));
        return xml_GetError();
    }
    int options = startsWithDeclaration(doc->doc) ? XML_SAVE_NO_DECL : 0;
    int err = saveDocument(doc->doc, path, options);
    return err == 0 ? 0 : saveFailed(err, path);
}

int32_t xml_SaveText(const std::string &text, const char *path) {
    if (xml_GetError() < 0) return xml_GetError();
    if (path == nullptr) {
        xml_SetErrorf(XML_E_FAIL, "Save XML File () failed, Error 0x%x",
                      static_cast<unsigned>(XML_E_FAIL));
        return xml_GetError();
    }
    int err = saveThroughTemp(path, [&](int fd) {
        size_t done = 0;
        while (done < text.size()) {
            ssize_t w = write(fd, text.data() + done, text.size() - done);
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) return w < 0 ? errno : EIO;
            done += static_cast<size_t>(w);
        }
        return 0;
    });
    return err == 0 ? 0 : saveFailed(err, path);
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
