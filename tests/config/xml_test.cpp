#include "xml.h"
#include "xml_dom.h"

#include "plat_cp1252.h"
#include "temp_registry.h"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <gtest/gtest.h>
#include <libxml/tree.h>
#include <set>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
std::string readFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::set<std::string> namesIn(const std::string &folder) {
    std::set<std::string> names;
    if (DIR *d = opendir(folder.c_str())) {
        while (dirent *e = readdir(d))
            if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
                names.insert(e->d_name);
        closedir(d);
    }
    return names;
}

std::string take(char *text) {
    std::string s = text != nullptr ? text : "<null>";
    free(text);
    return s;
}

class XmlTest : public ::testing::Test {
protected:
    void SetUp() override {
        doc_ = xml_CreateDocument();
        ASSERT_NE(doc_, nullptr);
        xml_SetErrorObject("");
        xml_SetErrorContext("");
    }
    void TearDown() override {
        xml_ReleaseDocument(doc_);
        xml_ClearError();
    }
    // A document with the declaration, a comment and an empty root.
    XmlNode *newRoot(const char *name = "Root") {
        xml_CreateAndAddPINode(doc_, "xml", "version='1.0' encoding='UTF-8'");
        xml_CreateAndAddCommentNode(doc_, "made here", xml_DocumentNode(doc_));
        XmlNode *root = xml_CreateElement(doc_, name);
        xml_AppendChildToParent(root, xml_DocumentNode(doc_));
        return root;
    }
    TempFolder tmp_;
    XmlDocument *doc_ = nullptr;
};
} // namespace

TEST_F(XmlTest, FirstFailureSticksAndLaterStepsDoNothing) {
    XmlNode *root = newRoot();
    EXPECT_EQ(xml_CreateElement(doc_, "1bad"), nullptr);
    EXPECT_EQ(xml_GetError(), XML_E_INVALIDARG);
    EXPECT_STREQ(xml_GetErrorMessage(), "xml_CreateElement('1bad') failed 0x80070057");
    EXPECT_EQ(xml_AddChildElement(doc_, "Good", root), nullptr);
    EXPECT_EQ(xml_FirstChild(root), nullptr);
    xml_SetError(XML_E_FAIL, "second");
    xml_SetErrorObject("KSTRN_01");
    xml_SetErrorContext("Dev/Proc Config");
    EXPECT_STREQ(xml_GetErrorText(),
                 "KSTRN_01Dev/Proc Config - xml_CreateElement('1bad') failed 0x80070057");
    xml_ClearError();
    EXPECT_NE(xml_AddChildElement(doc_, "Good", root), nullptr);
}

TEST_F(XmlTest, LoadReportsMissingAndBrokenFiles) {
    std::string missing = tmp_ / "none.xml";
    EXPECT_EQ(xml_LoadFile(doc_, missing.c_str()), 1);
    EXPECT_EQ(std::string(xml_GetErrorMessage()),
              "Xml Load Failed (" + missing + "), File Not Found");
    xml_ClearError();
    std::string broken = tmp_ / "broken.xml";
    std::ofstream(broken) << "<a><b></a>";
    EXPECT_EQ(xml_LoadFile(doc_, broken.c_str()), 255);
    std::string message = xml_GetErrorMessage();
    EXPECT_EQ(message.rfind("Xml Load Failed (" + broken + ") ", 0), 0u) << message;
    EXPECT_NE(message.find(" 0xc00ce"), std::string::npos) << message;
    EXPECT_EQ(static_cast<uint32_t>(xml_GetError()) & 0xFFFFF000u, 0xC00CE000u);
    EXPECT_EQ(xml_LoadFile(nullptr, broken.c_str()), -1);
}

TEST_F(XmlTest, SavedFileStartsWithThePiAndReloadsWithoutBlankNodes) {
    XmlNode *root = newRoot();
    XmlNode *a = xml_AddChildElement(doc_, "A", root);
    xml_CreateAndAddTextNode(doc_, "  ", a);
    XmlNode *b = xml_AddChildElement(doc_, "B", root);
    xml_AddChildElement(doc_, "C", b);
    xml_AddChildElement(doc_, "Empty", root);
    EXPECT_EQ(xml_IndentTree(doc_, root, 0), 3);
    std::string path = tmp_ / "out.xml";
    mode_t old = umask(077);
    ASSERT_EQ(xml_SaveFile(doc_, path.c_str()), 0);
    umask(old);
    const std::string expected =
        "<?xml version='1.0' encoding='UTF-8'?>\n<!--made here-->\n"
        "<Root>\n\t<A>  </A>\n\t<B>\n\t\t<C/>\n\t</B>\n\t<Empty/>\n</Root>\n";
    EXPECT_EQ(readFile(path), expected);
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666u);

    // Loaded, indented and saved again: the same text, declaration included, no extra blank
    // lines.
    XmlDocument *again = xml_CreateDocument();
    ASSERT_EQ(xml_LoadFile(again, path.c_str()), 0);
    XmlNode *r = xml_GetRootElement(again);
    EXPECT_EQ(take(xml_getText(xml_FindByName(r, "A"))), "  ");
    EXPECT_EQ(take(xml_getText(xml_FindByName(r, "Empty"))), "");
    EXPECT_TRUE(xml_IsElement(xml_FirstChild(r)));
    xml_IndentTree(again, r, 0);
    chmod(path.c_str(), 0640);
    ASSERT_EQ(xml_SaveFile(again, path.c_str()), 0);
    std::string text = readFile(path);
    EXPECT_EQ(text, expected);
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u); // an existing file keeps its mode
    xml_ReleaseDocument(again);
}

// A save checks what it will write on a copy: whatever the check takes out of the copy stays in
// the document that is saved.
TEST_F(XmlTest, ACopyChangesApartFromItsDocument) {
    XmlNode *root = newRoot();
    xml_CreateAndAddTextNode(doc_, "kept", xml_AddChildElement(doc_, "A", root));
    XmlDocument *copy = xml_CopyDocument(doc_);
    ASSERT_NE(copy, nullptr);
    XmlNode *copied = xml_GetRootElement(copy);
    ASSERT_NE(copied, nullptr);
    EXPECT_EQ(take(xml_getText(xml_FindByName(copied, "A"))), "kept");
    EXPECT_EQ(xml_RemoveChild(copied, xml_FindByName(copied, "A")), 0);
    xml_ReleaseDocument(copy);
    EXPECT_EQ(take(xml_getText(xml_FindByName(root, "A"))), "kept");

    xml_SetError(XML_E_FAIL, "earlier");
    EXPECT_EQ(xml_CopyDocument(doc_), nullptr);
    EXPECT_STREQ(xml_GetErrorMessage(), "earlier");
}

TEST_F(XmlTest, SaveIntoAMissingFolderNamesTheFailure) {
    newRoot();
    std::string path = tmp_ / "no/such/file.xml";
    EXPECT_LT(xml_SaveFile(doc_, path.c_str()), 0);
    EXPECT_EQ(std::string(xml_GetErrorMessage()),
              "Save XML File (" + path + ") failed, Error 0x80070003");
}

TEST_F(XmlTest, SaveLeavesTheOldFileWhenRefusedOrFailedAndReplacesItOtherwise) {
    newRoot();
    std::string folder = tmp_ / "save";
    ASSERT_EQ(mkdir(folder.c_str(), 0777), 0);
    chmod(folder.c_str(), 0777);
    std::string path = folder + "/out.xml";
    const std::string old = "<Old>kept</Old>\n";
    // Someone else's file that happens to carry the obvious temporary name.
    std::string stray = path + ".tmp";
    std::ofstream(stray) << "not ours";
    const std::set<std::string> before = {"out.xml", "out.xml.lock", "out.xml.tmp"};
    auto reset = [&](mode_t mode) {
        chmod(path.c_str(), 0644);
        std::ofstream(path, std::ios::binary | std::ios::trunc) << old;
        chmod(path.c_str(), mode);
        xml_ClearError();
    };
    const std::string denied = "Save XML File (" + path + ") failed, Access Denied 0x80070005";

    // Marked read-only: refused, even to an administrator.
    reset(0444);
    EXPECT_EQ(xml_SaveFile(doc_, path.c_str()), XML_E_ACCESSDENIED);
    EXPECT_EQ(xml_GetErrorMessage(), denied);
    EXPECT_EQ(readFile(path), old);
    EXPECT_EQ(namesIn(folder), before);

    // Writable by its owner only, saved by another user who may write the folder.
    if (geteuid() == 0) {
        chmod(tmp_.path().c_str(), 0711);
        reset(0644);
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (setegid(65534) != 0 || seteuid(65534) != 0) _exit(2);
            int32_t hr = xml_SaveFile(doc_, path.c_str());
            _exit(hr == XML_E_ACCESSDENIED && xml_GetErrorMessage() == denied ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        EXPECT_EQ(readFile(path), old);
        EXPECT_EQ(namesIn(folder), before);
    }

    // The new content cannot be written out in full.
    reset(0644);
    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct rlimit small = saved;
    small.rlim_cur = 8;
    void (*oldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    int32_t hr = xml_SaveFile(doc_, path.c_str());
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, oldHandler);
    EXPECT_LT(hr, 0);
    EXPECT_EQ(readFile(path), old);
    EXPECT_EQ(namesIn(folder), before);

    reset(0640);
    ASSERT_EQ(xml_SaveFile(doc_, path.c_str()), 0);
    EXPECT_EQ(readFile(path).rfind("<?xml version='1.0' encoding='UTF-8'?>\n", 0), 0u);
    EXPECT_EQ(readFile(stray), "not ours");
    EXPECT_EQ(namesIn(folder), before);
}

TEST_F(XmlTest, StagingChecksAndWritesAsideUntilCommitted) {
    newRoot();
    std::string folder = tmp_ / "stage";
    ASSERT_EQ(mkdir(folder.c_str(), 0777), 0);
    std::string path = folder + "/out.xml";
    const std::string old = "<Old>kept</Old>\n";
    std::ofstream(path, std::ios::binary) << old;
    // A killed save's staged copy goes with the next save's lock; a user's file of a like name
    // stays.
    std::ofstream(path + ".staging.Ab3xYz") << old;
    std::ofstream(path + ".backup") << old;
    const std::set<std::string> alone = {"out.xml", "out.xml.backup", "out.xml.lock"};

    XmlStaged staged;
    ASSERT_EQ(xml_StageFile(doc_, path.c_str(), &staged), 0);
    EXPECT_EQ(readFile(path), old);
    EXPECT_EQ(namesIn(folder).size(), 4u);
    const std::string text = readFile(staged.temp);
    EXPECT_EQ(text.rfind("<?xml version='1.0' encoding='UTF-8'?>\n", 0), 0u);
    xml_DiscardStaged(&staged);
    EXPECT_EQ(readFile(path), old);
    EXPECT_EQ(namesIn(folder), alone);
    EXPECT_EQ(xml_CommitStaged(&staged), 0); // nothing left to commit

    ASSERT_EQ(xml_StageText(text, path.c_str(), &staged), 0);
    EXPECT_EQ(readFile(path), old);
    ASSERT_EQ(xml_CommitStaged(&staged), 0);
    EXPECT_EQ(readFile(path), text);
    EXPECT_EQ(namesIn(folder), alone);

    // The checks of a save are the staging's: a file marked read-only is refused there.
    chmod(path.c_str(), 0444);
    EXPECT_EQ(xml_StageText(old, path.c_str(), &staged), XML_E_ACCESSDENIED);
    EXPECT_TRUE(staged.temp.empty());
    EXPECT_EQ(readFile(path), text);
    EXPECT_EQ(namesIn(folder), alone);
    chmod(path.c_str(), 0644);
}

TEST_F(XmlTest, IllegalTextsGetTheMarkerOrFail) {
    XmlNode *root = newRoot();
    XmlNode *t = xml_AddChildElement(doc_, "T", root);
    ASSERT_NE(xml_CreateAndAddTextNode(doc_, "a\x01z", t), nullptr);
    EXPECT_EQ(take(xml_getText(t)), XML_ILLEGAL_TEXT);
    EXPECT_EQ(xml_GetError(), 0);

    EXPECT_EQ(xml_CreateAndAddCommentNode(doc_, "a--b", root), nullptr);
    EXPECT_STREQ(xml_GetErrorMessage(), "xml_CreateAndAddCommentNode('a--b') failed 0x80004005");
    xml_ClearError();
    EXPECT_EQ(xml_CreateAndAddCommentNode(doc_, "end-", root), nullptr);
    xml_ClearError();
    EXPECT_EQ(xml_CreateAndAddCDATANode(doc_, "x]]>y", root), nullptr);
    EXPECT_STREQ(xml_GetErrorMessage(), "xml_CreateAndAddCDATANode('x]]>y') failed 0x80004005");
    xml_ClearError();
    EXPECT_LT(xml_CreateAndAddAttributeNode(doc_, "v", "\x02", t), 0);
    EXPECT_STREQ(xml_GetErrorMessage(),
                 "xml_CreateAndAddAttributeNode('v','\x02') failed 0x80004005");
    xml_ClearError();
    EXPECT_LT(xml_CreateAndAddAttributeNode(doc_, "a b", "1", t), 0);
    EXPECT_EQ(xml_GetError(), XML_E_INVALIDARG);
}

TEST_F(XmlTest, EveryWindows1252ByteSurvivesAFile) {
    XmlNode *root = newRoot();
    std::string all;
    for (int c = 0x20; c < 0x100; ++c)
        all += static_cast<char>(c);
    all += "\t\r\n";
    xml_CreateAndAddTextNode(doc_, all.c_str(), xml_AddChildElement(doc_, "T", root));
    xml_CreateAndAddAttributeNode(doc_, "a", all.c_str(), root);
    std::string path = tmp_ / "cp.xml";
    ASSERT_EQ(xml_SaveFile(doc_, path.c_str()), 0);
    EXPECT_NE(readFile(path).find("\xE2\x82\xAC"), std::string::npos); // 0x80 is the euro sign
    XmlDocument *again = xml_CreateDocument();
    ASSERT_EQ(xml_LoadFile(again, path.c_str()), 0);
    XmlNode *r = xml_GetRootElement(again);
    EXPECT_EQ(take(xml_getText(xml_FindByName(r, "T"))), all);
    xml_ReleaseDocument(again);
    // Characters without a Windows-1252 byte come back as one '?' each.
    EXPECT_EQ(plat_Utf8ToCp1252("a\xE4\xB8\xAD"
                                "b\xF0\x9F\x98\x80"),
              "a?b?");
    EXPECT_EQ(plat_Utf8ToCp1252("\xC2"), "?");
}

// Element names are those libxml2 accepts, for every name of one or two ASCII characters and
// for longer ones; a text's markup characters and CR are escaped wherever they stand.
TEST_F(XmlTest, ElementNamesAreLibxml2sAndTextsAreEscaped) {
    std::vector<std::string> names = {"Gain",     "Alarm.0.Limit", "_x", "x-y", "a:b",
                                      "Tag1",     "1abc",          "-x", ".x",  "a b",
                                      "\xC4rger", "x\xD7y",        ""};
    for (int a = 1; a < 128; ++a) {
        names.push_back(std::string(1, static_cast<char>(a)));
        for (int b = 1; b < 128; ++b)
            names.push_back(std::string{static_cast<char>(a), static_cast<char>(b)});
    }
    for (const std::string &name : names) {
        std::string utf8 = plat_Cp1252ToUtf8(name.c_str());
        ASSERT_EQ(xml_IsElementName(name.c_str()),
                  xmlValidateName(reinterpret_cast<const xmlChar *>(utf8.c_str()), 0) == 0 ? 1 : 0)
            << name;
    }
    std::string out = "<";
    xml_AppendContent(&out, "&a<b>\r\n&&\xE9");
    xml_AppendContent(&out, "");
    xml_AppendContent(&out, "plain");
    EXPECT_EQ(out, "<&amp;a&lt;b&gt;&#13;\n&amp;&amp;\xC3\xA9plain");
}

TEST_F(XmlTest, FindsByNameAndByNumericAttribute) {
    XmlNode *root = newRoot();
    for (const char *id : {"1", "06", "6", "x"}) {
        XmlNode *c = xml_AddChildElement(doc_, "Channel", root);
        xml_CreateAndAddAttributeNode(doc_, "id", id, c);
    }
    XmlNode *six = xml_FindByAttribute(root, "Channel", "id", "6");
    EXPECT_EQ(take(xml_getAttribute(six, "id")), "06");
    EXPECT_EQ(take(xml_getAttribute(xml_FindByAttribute(root, "Channel", "id", "x"), "id")), "x");
    EXPECT_EQ(xml_FindByAttribute(root, "Channel", "id", "7"), nullptr);
    xml_CreateAndAddAttributeNode(doc_, "id", "7", six);
    EXPECT_EQ(take(xml_getAttribute(six, "id")), "7");
    EXPECT_EQ(xml_getAttribute(six, "missing"), nullptr);
    EXPECT_EQ(xml_FindByName(root, "Other"), nullptr);

    XmlNode *first = xml_FindByName(root, "Channel");
    XmlNode *replacement = xml_SetChildElement(doc_, "Channel", root);
    EXPECT_EQ(xml_FirstChild(root), replacement);
    EXPECT_NE(first, replacement);
    XmlPair pairs[8];
    EXPECT_EQ(xml_IterateChan(root, pairs, 8), 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_STREQ(pairs[i].name, "Channel");
        free(pairs[i].name);
        free(pairs[i].text);
    }
    EXPECT_EQ(xml_RemoveChild(root, replacement), 0);
    EXPECT_EQ(xml_IterateChan(root, nullptr, 0), 3);
}

TEST_F(XmlTest, WrapRewritesTheMessageInPlace) {
    xml_SetError(XML_E_FAIL, "invalid value \"x\"");
    xml_WrapError(" <%s> %s", "Gain");
    EXPECT_STREQ(xml_GetErrorMessage(), " <Gain> invalid value \"x\"");
}

// A file of records read without a tree gives what the loaded tree gives: root, records with
// their ids, fields with their texts; blank runs dropped or kept as the loader does, texts split
// by comments, CDATA apart from text, long runs in pieces, and the load's failure texts.
TEST_F(XmlTest, RecordsWithoutTreeMatchTheLoadedTree) {
    const std::string longText(700, 'x'), longBlank(700, ' ');
    const std::string documents[] = {
        "<Channels><Channel id=\"1\"><A>a&amp;b&#65;</A><B>  </B><C/><D>\n\t\t<x/>y</D>"
        "<E> lead</E><F><!--c-->z</F><G><![CDATA[c1]]><![CDATA[c2]]>t</G><H>t<![CDATA[c]]></H>"
        "<I>\n  </I><J>\t<!--c-->\n</J><K>" +
            longText + "</K><L>" + longBlank +
            "<x/>q</L>"
            "</Channel>\n  <Channel id=\"2\" other=\"x\"/><Other "
            "id=\"3\"><A>o</A></Other></Channels>",
        "<?xml version=\"1.0\"?>\n<!--top-->\n<n:Channels xmlns:n=\"urn:n\" xmlns:p=\"urn:p\">\n"
        "\t<n:Channel p:id=\"06\">\n\t\t<n:Tag>T\xC3\xA9</n:Tag>\n\t\t<Type xml:space=\"preserve\">"
        "  <x/>AI</Type>\n\t</n:Channel>\n</n:Channels>\n",
        "<!DOCTYPE Channels [<!ELEMENT Channels ANY><!ELEMENT Channel ANY><!ELEMENT A (#PCDATA)>"
        "<!ELEMENT B (x)*><!ELEMENT x EMPTY><!ENTITY e \"ent\">]><Channels><Channel id=\"1\">"
        "<A>  </A><B> <x/></B><C>&e;</C><D>a&e;b</D></Channel></Channels>",
    };
    int index = 0;
    for (const std::string &text : documents) {
        SCOPED_TRACE(index);
        std::string path = tmp_ / ("records" + std::to_string(index++) + ".xml");
        std::ofstream(path, std::ios::binary) << text;
        XmlRecordFile file;
        ASSERT_EQ(xml_ReadRecords(path.c_str(), &file), 0) << xml_GetErrorText();
        XmlDocument *doc = xml_CreateDocument();
        ASSERT_EQ(xml_LoadFile(doc, path.c_str()), 0) << xml_GetErrorText();
        XmlNode *root = xml_GetRootElement(doc);
        EXPECT_STREQ(file.at(file.root), xml_LocalName(root));
        size_t r = 0, f = 0;
        for (XmlNode *c = xml_FirstChild(root); c != nullptr; c = xml_NextSibling(c)) {
            if (!xml_IsElement(c)) continue;
            ASSERT_LT(r, file.records.size());
            const XmlRecordFile::Record &record = file.records[r++];
            EXPECT_STREQ(file.at(record.name), xml_LocalName(c));
            char *id = xml_getAttribute(c, "id");
            EXPECT_EQ(record.hasId, id != nullptr);
            if (id != nullptr) {
                EXPECT_EQ(plat_Utf8ToCp1252(file.at(record.id)), id);
            }
            free(id);
            uint32_t fields = 0;
            for (XmlNode *e = xml_FirstChild(c); e != nullptr; e = xml_NextSibling(e)) {
                if (!xml_IsElement(e)) continue;
                ASSERT_LT(f, file.fields.size());
                const XmlRecordFile::Field &field = file.fields[f++];
                ++fields;
                EXPECT_STREQ(file.at(field.name), xml_LocalName(e));
                EXPECT_EQ(plat_Utf8ToCp1252(file.at(field.text)), take(xml_getText(e)))
                    << xml_LocalName(e);
            }
            EXPECT_EQ(record.fieldCount, fields);
        }
        EXPECT_EQ(r, file.records.size());
        EXPECT_EQ(f, file.fields.size());
        xml_ReleaseDocument(doc);
    }

    // Failures read as the load's.
    std::string broken = tmp_ / "broken.xml";
    std::ofstream(broken, std::ios::binary) << "<Channels><Channel></Channels>";
    XmlRecordFile file;
    EXPECT_EQ(xml_ReadRecords(broken.c_str(), &file), 255);
    std::string viaRecords = xml_GetErrorText();
    xml_ClearError();
    XmlDocument *doc = xml_CreateDocument();
    EXPECT_EQ(xml_LoadFile(doc, broken.c_str()), 255);
    EXPECT_EQ(viaRecords, std::string(xml_GetErrorText()));
    xml_ReleaseDocument(doc);
    xml_ClearError();
    std::string missing = tmp_ / "missing.xml";
    EXPECT_EQ(xml_ReadRecords(missing.c_str(), &file), 1);
}
