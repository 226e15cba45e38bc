// XML document helpers: plain functions over a DOM document (libxml2 underneath) with one
// module-wide error state.
//
// The first failure is kept with its message; while it stands every helper returns at once
// (null, or the failure code), so a long run of XML steps needs one test at its end. Texts
// cross this interface as Windows-1252 bytes and are UTF-8 inside the document. Strings
// handed out are malloc'ed and freed by the caller with free().
//
// Codes are HRESULT-shaped: 0 success, negative failure (printed as 8 hex digits). One thread
// at a time uses the helpers; the state is shared by the whole process.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct XmlDocument;
struct _xmlNode;
using XmlNode = _xmlNode;

constexpr int32_t XML_E_FAIL = static_cast<int32_t>(0x80004005u);
constexpr int32_t XML_E_INVALIDARG = static_cast<int32_t>(0x80070057u);
constexpr int32_t XML_E_OUTOFMEMORY = static_cast<int32_t>(0x8007000Eu);
constexpr int32_t XML_E_ACCESSDENIED = static_cast<int32_t>(0x80070005u);
constexpr int32_t XML_E_INVALIDNAME = static_cast<int32_t>(0x8007007Bu);
constexpr int32_t XML_E_NOTFOUND = static_cast<int32_t>(0x80070002u);

// The text added in place of one that holds characters XML cannot carry.
#define XML_ILLEGAL_TEXT "**** Illegal Characters in output stream ****"

// ---- Documents ----

// A new empty document; clears the error message. Null when it cannot be had.
XmlDocument *xml_CreateDocument();
// Frees the document and every node in it.
void xml_ReleaseDocument(XmlDocument *doc);
// A deep copy of the document, to be released on its own; null with the error state set.
XmlDocument *xml_CopyDocument(XmlDocument *doc);
// The document as a parent node, for appending its root element.
XmlNode *xml_DocumentNode(XmlDocument *doc);

// 0 loaded; 1 file not found; 255 parse error (the reason in the error state); -1 without a
// document. The document's old content is replaced only by a successful load.
int xml_LoadFile(XmlDocument *doc, const char *path);

// Writes "<path>.tmp" and renames it over the file, so a crash never leaves half a file. A
// document that begins with an "xml" processing instruction starts with exactly its text;
// any other gets the declaration of version 1.0 and UTF-8. 0 or the failure code.
int32_t xml_SaveFile(XmlDocument *doc, const char *path);

// Text made by the caller as a whole document, saved as xml_SaveFile saves one: the same
// temporary file, fsync and rename, the same failure codes and texts.
int32_t xml_SaveText(const std::string &text, const char *path);

// A file staged by xml_StageText or xml_StageFile: its whole text written and fsync'ed into a
// temporary file beside it ("<name>.staging.XXXXXX"), every check of a save made (an existing
// file the caller may not write is refused), the file itself not yet touched. A writer that
// keeps several files stages each before it changes any, so that a save refused by a check
// leaves them all as they were.
//
// A staging holds the file's save lock (an advisory lock on "<name>.lock" beside it, which a
// rename does not replace) until it is put in place or discarded, so that savers of one file, in
// any process or thread, follow each other. Readers take no lock.
struct XmlStaged {
    std::string temp; // "" when nothing is staged
    std::string path;
    int lock = -1; // the lock file held, or -1
    int fd = -1;   // the staged file while xml_StageAppend writes it, or -1
    uint32_t mode = 0;
    XmlStaged() = default;
    XmlStaged(const XmlStaged &) = delete;
    XmlStaged &operator=(const XmlStaged &) = delete;
    // A staging left on any path is discarded and its lock released: a lock kept by a refused
    // save would stop every later save of the file in this process and its children.
    ~XmlStaged();
};
// Takes the save lock of path into staged (waiting for another saver to finish), for a writer
// that reads the old file before it stages the new one; then removes the staged copies of path
// that a killed save left. 0, or the failure code and text xml_SaveFile gives.
int32_t xml_LockTarget(const char *path, XmlStaged *staged);
// 0 with the file staged, or the failure code and text xml_SaveFile gives (nothing staged). The
// lock of path is taken unless staged holds it already (it must then be path's).
int32_t xml_StageText(const std::string &text, const char *path, XmlStaged *staged);
// Writes text as the next part of path's staging, begun (lock, checks, temporary file) at the
// first part, so that a large file need not be held whole; xml_StageText writes the last part
// and ends the staging. 0, or the failure code and text xml_SaveFile gives (nothing staged).
int32_t xml_StageAppend(const std::string &text, const char *path, XmlStaged *staged);
int32_t xml_StageFile(XmlDocument *doc, const char *path, XmlStaged *staged);
// Puts a staged file in place by a rename (nothing staged: 0). A failure is recorded even over
// one recorded before; the old file is then as it was. The staging and its lock are used up
// either way.
int32_t xml_CommitStaged(XmlStaged *staged);
// Removes a staged file that is not to be put in place, and gives up its lock.
void xml_DiscardStaged(XmlStaged *staged);

// The text xml_getText gives, without a copy when it is plain ASCII (else converted into
// scratch); valid while the node and scratch are. Null while a failure stands or without a node.
const char *xml_TextOf(XmlNode *node, std::string &scratch);

// ---- Reading a file of records without a tree ----

// What the loaded tree (blank texts between elements dropped) shows of a file of records: the
// root's local name; per element child of the root (a record) its local name and "id"
// attribute; per element child of a record (a field) its local name and the text xml_getText
// gives for it. Texts are UTF-8 in `arena`, each ending in a NUL.
struct XmlRecordFile {
    struct Field {
        uint32_t name = 0;
        uint32_t text = 0;
    };
    struct Record {
        uint32_t name = 0;
        uint32_t id = 0;
        bool hasId = false;
        uint32_t firstField = 0;
        uint32_t fieldCount = 0;
    };
    std::string arena;
    uint32_t root = 0;
    std::vector<Record> records;
    std::vector<Field> fields;
    const char *at(uint32_t offset) const { return arena.c_str() + offset; }
};

// Reads such a file in one pass without building the tree: xml_LoadFile's results and failure
// texts (0 read; 1 file not found; 255 parse error).
int xml_ReadRecords(const char *path, XmlRecordFile *out);

// ---- Writing a document as text ----
// For a document written start to end without a tree: each step gives the bytes the tree
// made by the helpers below would be saved as.

// Element content: the UTF-8 form with '&', '<', '>' and CR escaped; a text with characters
// XML cannot carry is written as XML_ILLEGAL_TEXT.
void xml_AppendContent(std::string *out, const char *text);
// 1 when the text (Windows-1252) is a name xml_CreateElement accepts.
int xml_IsElementName(const char *name);

// The document element; "No Root element found" when there is none.
XmlNode *xml_GetRootElement(XmlDocument *doc);

// ---- Building ----

XmlNode *xml_CreateElement(XmlDocument *doc, const char *name);
// A new element appended to parent.
XmlNode *xml_AddChildElement(XmlDocument *doc, const char *name, XmlNode *parent);
// A new element that replaces the parent's first child element of that name, or is appended.
XmlNode *xml_SetChildElement(XmlDocument *doc, const char *name, XmlNode *parent);
int32_t xml_AppendChildToParent(XmlNode *child, XmlNode *parent);
int32_t xml_InsertBefore(XmlNode *newNode, XmlNode *reference);
XmlNode *xml_InsertTextBefore(XmlDocument *doc, const char *text, XmlNode *node);
int32_t xml_CreateAndAddAttributeNode(XmlDocument *doc, const char *name, const char *value,
                                      XmlNode *element);
// A text with characters XML cannot carry is replaced by XML_ILLEGAL_TEXT.
XmlNode *xml_CreateAndAddTextNode(XmlDocument *doc, const char *text, XmlNode *parent);
XmlNode *xml_CreateAndAddCommentNode(XmlDocument *doc, const char *text, XmlNode *parent);
XmlNode *xml_CreateAndAddCDATANode(XmlDocument *doc, const char *text, XmlNode *parent);
// Appended to the document.
XmlNode *xml_CreateAndAddPINode(XmlDocument *doc, const char *target, const char *data);

// ---- Finding and walking ----

// The first child element whose local name is name (a prefixed name compares the qualified
// name); null when none.
XmlNode *xml_FindByName(XmlNode *parent, const char *name);
// The first child element of that name whose attribute equals value: numerically when both
// parse as numbers ("06" equals 6), else exactly.
XmlNode *xml_FindByAttribute(XmlNode *parent, const char *element, const char *attribute,
                             const char *value);
XmlNode *xml_FirstChild(XmlNode *node);
XmlNode *xml_LastChild(XmlNode *node);
XmlNode *xml_NextSibling(XmlNode *node);
XmlNode *xml_PreviousSibling(XmlNode *node);
// Unlinks and frees the child.
int32_t xml_RemoveChild(XmlNode *parent, XmlNode *child);
// Ends the use of a node: takes one from the nesting count (the node stays in its document).
void xml_Release(XmlDocument *doc, XmlNode *node);
int xml_Nesting();

// 1 when the node is an element.
int xml_IsElement(const XmlNode *node);
// The element's local name as stored (UTF-8, owned by the document).
const char *xml_LocalName(const XmlNode *node);

// The first text or CDATA child ("" without one).
char *xml_getText(XmlNode *node);
// The qualified name.
char *xml_getName(XmlNode *node);
// The attribute's value, or null when the element has none.
char *xml_getAttribute(XmlNode *node, const char *name);

struct XmlPair {
    char *name;
    char *text;
};
// Stores (name, text) of each element child, at most count of them; the number of element
// children, or -1 when a child is no element.
int xml_IterateChan(XmlNode *node, XmlPair *pairs, int count);

// Pretty-prints in place: before the node (depth > 0) a newline and depth tabs, each element
// child indented one deeper, and a newline and depth tabs before the end tag of a node with
// element children. The number of element children. Never leaves an error behind.
int xml_IndentTree(XmlDocument *doc, XmlNode *node, int depth);

// ---- Error state ----

int32_t xml_GetError();
// Clears the code and message (object and context stay).
void xml_ClearError();
// Records a failure only when none is recorded yet. The message is cut to 255 characters.
void xml_SetError(int32_t hr, const char *message);
void xml_SetErrorf(int32_t hr, const char *format, ...) __attribute__((format(printf, 2, 3)));
// Rewrites the recorded message in place with a format of two %s: name and old message.
void xml_WrapError(const char *format, const char *name);
void xml_SetErrorObject(const char *text);
void xml_SetErrorContext(const char *text);
const char *xml_GetErrorMessage();
// Object name + context + " - " + message.
const char *xml_GetErrorText();
// Reports the recorded failure to the event log (error, id 102) and sets errno and the last
// error to 1465. Always -1.
int xml_ReportError();

// ---- Text conversion ----

// A Windows-1252 text in UTF-8, in one of two shared buffers (so two can be live at once).
const char *BstrFromChar(const char *text);
const char *BstrFromChar2(const char *text);
