#include "lfile.h"
#include "lstore_file.h"
#include "plat_fileops.h"
#include "reg.h"
#include "store_fixture.h"
#include "temp_registry.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cstring>
#include <fstream>
#include <iterator>

namespace {

std::string slurp(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void put(const std::string &path, const std::string &bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string section(const std::string &file, const char *name, int capacity = 4096,
                    int *lines = nullptr) {
    std::string buf(static_cast<size_t>(capacity), '#');
    int size = capacity;
    int rc = lfile_ReadSection(file.c_str(), name, buf.data(), &size);
    if (lines) *lines = rc;
    if (rc < 0) return "error " + std::to_string(rc);
    return std::string(buf.c_str());
}

const int32_t k_t0 = 1715934600; // 24/05/17 08:30:00

TEST(SectionFiles, ReadReplaceAndSizes) {
    TempFolder dir;
    std::string f = dir / "run.txt";
    put(f, "[HEADER]\r\nh1\r\n[TEXT]\r\nt1\r\nt2\r\n[HEADER]\r\nsecond\r\n");
    int lines = 0;
    EXPECT_EQ(section(f, "HEADER", 4096, &lines), "h1\r\n");
    EXPECT_EQ(lines, 1);
    EXPECT_EQ(section(f, "[TEXT]"), "t1\r\nt2\r\n");
    int size = 0;
    EXPECT_EQ(lfile_ReadSection(f.c_str(), "TEXT", nullptr, &size), 2);
    EXPECT_EQ(size, 9);
    // A line that does not fit stops the read; the buffer always ends in a NUL.
    EXPECT_EQ(section(f, "TEXT", 8, &lines), "t1\r\n");
    EXPECT_EQ(lines, 1);
    size = 9;
    char exact[9];
    EXPECT_EQ(lfile_ReadSection(f.c_str(), "TEXT", exact, &size), 2);
    EXPECT_EQ(section(f, "NONE", 4096, &lines), "");
    EXPECT_EQ(lines, 0);
    EXPECT_EQ(section(dir / "missing.txt", "TEXT"), "error -2");
    EXPECT_EQ(lfile_ReadSection(f.c_str(), "", nullptr, &size), -1);

    char buf[64];
    char *lineAt[4];
    int count = 4;
    size = sizeof buf;
    ASSERT_EQ(lfile_ReadSectionLines(f.c_str(), "TEXT", lineAt, &count, buf, &size), 0);
    EXPECT_EQ(count, 2);
    EXPECT_STREQ(lineAt[0], "t1");
    EXPECT_STREQ(lineAt[1], "t2");
    EXPECT_STREQ(lineAt[3], "");

    // Replacing: the first occurrence only; a text without CR LF gets one; a missing section is
    // appended; a missing file is made.
    EXPECT_EQ(lfile_ReplaceSection(f.c_str(), "HEADER", "x"), 1);
    EXPECT_EQ(slurp(f), "[HEADER]\r\nx\r\n[TEXT]\r\nt1\r\nt2\r\n[HEADER]\r\nsecond\r\n");
    EXPECT_EQ(lfile_ReplaceSection(f.c_str(), "[POSITIONS]", "p\r\n"), 1);
    EXPECT_EQ(section(f, "POSITIONS"), "p\r\n");
    std::string g = dir / "new.txt";
    EXPECT_EQ(lfile_ReplaceSection(g.c_str(), "HEADER", ""), 1);
    EXPECT_EQ(slurp(g), "[HEADER]\r\n");
    put(g, "[A]\r\nno end");
    EXPECT_EQ(lfile_ReplaceSection(g.c_str(), "B", "b"), 1);
    EXPECT_EQ(slurp(g), "[A]\r\nno end\r\n[B]\r\nb\r\n");
    EXPECT_EQ(lfile_ReplaceSectionW(g.c_str(), "B", u"\u00e9"), -1);
    EXPECT_EQ(lfile_ReplaceSectionW(g.c_str(), "B", u"w"), 1);
    EXPECT_EQ(section(g, "B"), "w\r\n");
    EXPECT_EQ(access(lfile_MakeTempName(g.c_str()).c_str(), F_OK), -1);
    EXPECT_EQ(lfile_MakeTempName("/a/b/run.TXT"), "/a/b/run " + std::to_string(getpid()) + ".tmp");
    EXPECT_EQ(lfile_MakeTempName("/a/b/run.odl"),
              "/a/b/logger " + std::to_string(getpid()) + ".tmp");

    // UTF-16 files: ANSI readers narrow, replacing refuses and changes nothing.
    std::string w = dir / "wide.txt";
    std::u16string content = u"[HEADER]\r\n\u20ac \u4e2d\r\n";
    std::string bytes("\xFF\xFE", 2);
    for (char16_t c : content)
        bytes += std::string{static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
    put(w, bytes);
    EXPECT_EQ(section(w, "HEADER"), "\x80 ?\r\n");
    char16_t wbuf[32];
    size = 32;
    EXPECT_EQ(lfile_ReadSectionW(w.c_str(), "HEADER", wbuf, &size), 1);
    EXPECT_EQ(std::u16string(wbuf), u"\u20ac \u4e2d\r\n");
    EXPECT_EQ(size, 6);
    EXPECT_EQ(lfile_ReplaceSection(w.c_str(), "HEADER", "x"), -1);
    EXPECT_EQ(errno, 13);
    EXPECT_EQ(slurp(w), bytes);
}

TEST(SectionFiles, StampsParseAndFormat) {
    PreciseTimeStamp s{};
    const char *text = lfile_ParseStamp("24/05/17 08:30:00.500 started", &s);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "started");
    EXPECT_EQ(s.seconds, k_t0);
    EXPECT_EQ(s.milliseconds, 500);
    EXPECT_EQ(s.microseconds, 0);
    ASSERT_NE(lfile_ParseStamp("24/05/17 08:30:00.500250 x", &s), nullptr);
    EXPECT_EQ(s.milliseconds, 500);
    EXPECT_EQ(s.microseconds, 250);
    ASSERT_NE(lfile_ParseStamp("08:30:00.500 17/05/24 x", &s), nullptr);
    EXPECT_EQ(s.seconds, k_t0);
    EXPECT_EQ(s.milliseconds, 500);
    ASSERT_NE(lfile_ParseStamp("69/01/01 00:00:00 later", &s), nullptr);
    EXPECT_EQ(lfile_TimeOf(s.seconds), 3124224000);
    EXPECT_EQ(lfile_ParseStamp("24/05/17 08:30:00.99999999999 x", &s), nullptr);
    EXPECT_EQ(lfile_ParseStamp("no stamp", &s), nullptr);
    int32_t secs = 0;
    ASSERT_NE(lfile_StampSecondsW(u"08:30:00 17/05/24 x", &secs), nullptr);
    EXPECT_EQ(secs, k_t0);
}

TEST(SectionFiles, EventsKeepTimeOrderAndOneLinePerTime) {
    TempFolder dir;
    std::string f = dir / "run.txt";
    put(f, "[HEADER]\r\nh\r\n[TEXT]\r\n[POSITIONS]\r\n");
    const int32_t late = static_cast<int32_t>(UINT32_C(2147483648) + 100); // 2038
    ASSERT_EQ(lfile_AddEventAt(f.c_str(), "[TEXT]", late, "after 2038", nullptr), 0);
    ASSERT_EQ(lfile_AddEventAt(f.c_str(), "[TEXT]", k_t0, "first", nullptr), 0);
    PreciseTimeStamp precise{k_t0, 500, 250};
    ASSERT_EQ(lfile_AddEvent(f.c_str(), "[TEXT]", &precise, "fraction\r\n", nullptr), 0);
    EXPECT_EQ(section(f, "TEXT"), "24/05/17 08:30:00 first\r\n"
                                  "24/05/17 08:30:00.500250 fraction\r\n"
                                  "38/01/19 03:15:48 after 2038\r\n");
    // Same time, same text: one line stays. Same time, other text: it takes the line's place.
    ASSERT_EQ(lfile_AddEventAt(f.c_str(), "[TEXT]", k_t0, "first", nullptr), 0);
    ASSERT_EQ(lfile_AddEventAt(f.c_str(), "[TEXT]", k_t0, "replaced", nullptr), 0);
    EXPECT_EQ(section(f, "TEXT"), "24/05/17 08:30:00 replaced\r\n"
                                  "24/05/17 08:30:00.500250 fraction\r\n"
                                  "38/01/19 03:15:48 after 2038\r\n");
    // With a match text only lines that begin with it are touched; an equal line is kept once.
    ASSERT_EQ(lfile_AddEventAt(f.c_str(), "[TEXT]", k_t0, "M:one", "M:"), 0);
    ASSERT_EQ(lfile_AddEventAt(f.c_str(), "[TEXT]", k_t0, "M:one", "M:"), 0);
    EXPECT_EQ(section(f, "TEXT"), "24/05/17 08:30:00 replaced\r\n"
                                  "24/05/17 08:30:00 M:one\r\n"
                                  "24/05/17 08:30:00.500250 fraction\r\n"
                                  "38/01/19 03:15:48 after 2038\r\n");
    ASSERT_EQ(lfile_AddEventAt(f.c_str(), "[TEXT]", k_t0, "M:two", "m:"), 0);
    ASSERT_EQ(lfile_AddEventAt(f.c_str(), "[TEXT]", k_t0, "", "M:"), 0);
    EXPECT_EQ(section(f, "TEXT"), "24/05/17 08:30:00 replaced\r\n"
                                  "24/05/17 08:30:00.500250 fraction\r\n"
                                  "38/01/19 03:15:48 after 2038\r\n");
    // An empty text removes the lines of that time.
    ASSERT_EQ(lfile_AddEventAt(f.c_str(), "[TEXT]", late, "", nullptr), 0);
    EXPECT_EQ(section(f, "HEADER"), "h\r\n");
    EXPECT_EQ(section(f, "POSITIONS"), "");
    ASSERT_EQ(lfile_AddEventAt(f.c_str(), "[EXTRA]", k_t0, "e", nullptr), 0);
    EXPECT_EQ(
        slurp(f),
        "[HEADER]\r\nh\r\n[TEXT]\r\n24/05/17 08:30:00 replaced\r\n"
        "24/05/17 08:30:00.500250 fraction\r\n[POSITIONS]\r\n[EXTRA]\r\n24/05/17 08:30:00 e\r\n");

    // A wide text beyond ANSI turns the file into UTF-16; later ANSI events keep it UTF-16.
    ASSERT_EQ(lfile_AddEventAtW(f.c_str(), "[TEXT]", k_t0 + 1, u"\u4e2d", nullptr), 0);
    EXPECT_EQ(slurp(f).substr(0, 2), "\xFF\xFE");
    ASSERT_EQ(lfile_AddEventAt(f.c_str(), "[TEXT]", k_t0 + 2, "\x80", nullptr), 0);
    EXPECT_EQ(slurp(f).substr(0, 2), "\xFF\xFE");
    char16_t wbuf[256];
    int size = 256;
    ASSERT_EQ(lfile_ReadSectionW(f.c_str(), "TEXT", wbuf, &size), 4);
    EXPECT_EQ(std::u16string(wbuf),
              u"24/05/17 08:30:00 replaced\r\n24/05/17 08:30:00.500250 fraction\r\n"
              u"24/05/17 08:30:01 \u4e2d\r\n24/05/17 08:30:02 \u20ac\r\n");

    // An event is one line: a CR or LF inside its text becomes a blank, a final CR LF its end;
    // a header holding a line break is refused.
    std::string g = dir / "one.txt";
    put(g, "[TEXT]\r\n");
    PreciseTimeStamp at{k_t0, 0, 0}, next{k_t0 + 1, 0, 0};
    const char *forged = "note\r\n2001/01/01 00:00:00 FORGED\r\nmore";
    ASSERT_EQ(lfile_AddEvent(g.c_str(), "[TEXT]", &at, forged, nullptr), 0);
    ASSERT_EQ(lfile_AddEvent(g.c_str(), "[TEXT]", &next, "a\rb\nc\r\n", nullptr), 0);
    const std::string events = "[TEXT]\r\n24/05/17 08:30:00 note  2001/01/01 00:00:00 FORGED  more"
                               "\r\n24/05/17 08:30:01 a b c\r\n";
    EXPECT_EQ(slurp(g), events);
    EXPECT_EQ(lfile_AddEvent(g.c_str(), "[TEXT]\r\n[X]", &at, "x", nullptr), -1);
    EXPECT_EQ(errno, 87);
    EXPECT_EQ(lfile_AddEvent(g.c_str(), "[TEXT]\n", &at, "x", nullptr), -1);
    EXPECT_EQ(errno, 87);
    EXPECT_EQ(lfile_ReplaceSection(g.c_str(), "TEXT\r[X]", "x"), -1);
    EXPECT_EQ(errno, 87);
    EXPECT_EQ(slurp(g), events);
}

// The registry switch that keeps events in events.txt.
uint32_t setEventsSwitch(const char *value) {
    uint32_t type = PLAT_REG_SZ, size = static_cast<uint32_t>(strlen(value) + 1);
    return reg_AccessValue(PLAT_HKEY_LOCAL_MACHINE, REG_PRODUCT_KEY, PLAT_KEY_SET_VALUE,
                           "EventsTextFile", &type, const_cast<char *>(value), &size);
}

TEST(SectionFiles, EventsFileHoldsTextWhenSwitchedOn) {
    TempRegistry registry;
    reg_ForgetProductNames();
    ASSERT_EQ(setEventsSwitch("ON"), 0u);
    ASSERT_EQ(lfile_UseEventsFile(), 1);

    // Without events.txt, where a run's text file already holds events, a new event joins them
    // there, and TEXT is read from there, by the reader and by the store.
    TempFolder own;
    LogHeader earlier = fx::twoBlockHeader(k_t0 - 5400);
    CLogFileStore ownStore;
    ASSERT_EQ(fx::createRun(ownStore, own / "240517_070000.odl", &earlier), 0);
    std::string run = own / "240517_070000.txt";
    put(run, "[HEADER]\r\nh\r\n[TEXT]\r\n24/05/17 07:00:00 started\r\n");
    PreciseTimeStamp at{k_t0, 0, 0};
    ASSERT_EQ(lfile_AddEvent(run.c_str(), "[TEXT]", &at, "in the run", nullptr), 0);
    EXPECT_EQ(access((own / "events.txt").c_str(), F_OK), -1);
    const std::string both = "24/05/17 07:00:00 started\r\n24/05/17 08:30:00 in the run\r\n";
    EXPECT_EQ(section(run, "TEXT"), both);
    char ownText[128] = {};
    int ownSize = sizeof ownText;
    EXPECT_EQ(ownStore.ReadSection("TEXT", ownText, &ownSize), 2);
    EXPECT_EQ(std::string(ownText), both);

    TempFolder dir;
    std::string f = dir / "240517_083000.txt";
    put(f, "[HEADER]\r\nh\r\n");
    PreciseTimeStamp stamp{k_t0, 5, 0};
    ASSERT_EQ(lfile_AddEvent(f.c_str(), "[TEXT]", &stamp, "in events", nullptr), 0);
    EXPECT_EQ(slurp(dir / "events.txt"), "08:30:00.005 17/05/24 in events\r\n");
    EXPECT_EQ(slurp(f), "[HEADER]\r\nh\r\n");
    EXPECT_EQ(section(f, "TEXT"), "24/05/17 08:30:00.005 in events\r\n");
    EXPECT_EQ(section(f, "HEADER"), "h\r\n");

    // The store reads its events the same way and dates its text by the later file.
    LogHeader h = fx::twoBlockHeader(k_t0);
    CLogFileStore store;
    ASSERT_EQ(fx::createRun(store, dir / "240517_083000.odl", &h), 0);
    char buf[128];
    int bsize = sizeof buf;
    EXPECT_EQ(store.ReadSection("TEXT", buf, &bsize), 1);
    ASSERT_EQ(store.WriteText(k_t0 + 1, "second", nullptr, nullptr), 0);
    EXPECT_EQ(slurp(dir / "events.txt"),
              "08:30:00.005 17/05/24 in events\r\n08:30:01 17/05/24 second\r\n");
    int32_t t = 0;
    EXPECT_EQ(store.GetTextTime(&t), 0);
    EXPECT_GT(t, k_t0);

    setEventsSwitch("OFF");
    EXPECT_EQ(lfile_UseEventsFile(), 0);
}

TEST(SectionFiles, ReadersWriteNothingPastTheSizeTheyAreGiven) {
    TempRegistry registry;
    reg_ForgetProductNames();
    ASSERT_EQ(setEventsSwitch("ON"), 0u);
    TempFolder dir;
    const std::string f = dir / "run.txt"; // TEXT: neither here nor in an events.txt
    put(f, "[HEADER]\r\nh1\r\n");
    for (int given : {0, -1}) {
        for (const char *name : {"HEADER", "NONE", "TEXT"}) {
            SCOPED_TRACE(std::string(name) + " " + std::to_string(given));
            char buf[2] = {'#', '#'};
            char16_t wide[2] = {u'#', u'#'};
            char *lines[2];
            char16_t *wideLines[2];
            int size = given;
            EXPECT_EQ(lfile_ReadSection(f.c_str(), name, buf, &size), 0);
            size = given;
            EXPECT_EQ(lfile_ReadSectionEx("", f.c_str(), name, buf, &size), 0);
            size = given;
            EXPECT_EQ(lfile_ReadSectionW(f.c_str(), name, wide, &size), 0);
            int count = 2;
            size = given;
            EXPECT_EQ(lfile_ReadSectionLines(f.c_str(), name, lines, &count, buf, &size), 0);
            EXPECT_EQ(count, 0);
            EXPECT_STREQ(lines[0], "");
            count = 2;
            size = given;
            EXPECT_EQ(lfile_ReadSectionLinesEx("", f.c_str(), name, lines, &count, buf, &size), 0);
            EXPECT_EQ(count, 0);
            count = 2;
            size = given;
            EXPECT_EQ(lfile_ReadSectionLinesW(f.c_str(), name, wideLines, &count, wide, &size), 0);
            EXPECT_EQ(count, 0);
            EXPECT_EQ(wideLines[1][0], u'\0');
            EXPECT_EQ(std::string(buf, 2), "##");
            EXPECT_TRUE(wide[0] == u'#' && wide[1] == u'#');
        }
    }
}

TEST(SectionFiles, RewritesReplaceTheFileInOneRename) {
    TempFolder dir;
    const std::string f = dir / "run.txt";
    put(f, "[HEADER]\r\nh\r\n");
    int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, dir.path().c_str(), IN_CREATE | IN_DELETE | IN_MOVE), 0);
    // What happened to run.txt since the last call: 'c'reated, 'd'eleted, moved 'f'rom, moved 't'o.
    auto changes = [watch] {
        std::string seen;
        alignas(inotify_event) char events[4096];
        ssize_t n;
        while ((n = read(watch, events, sizeof events)) > 0)
            for (ssize_t at = 0; at < n;) {
                auto *e = reinterpret_cast<inotify_event *>(events + at);
                if (e->len > 0 && std::string(e->name) == "run.txt")
                    seen += e->mask & IN_CREATE       ? "c"
                            : e->mask & IN_DELETE     ? "d"
                            : e->mask & IN_MOVED_FROM ? "f"
                                                      : "t";
                at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
            }
        return seen;
    };
    PreciseTimeStamp stamp{k_t0, 0, 0}, later{k_t0 + 1, 0, 0};
    struct Case {
        const char *what;
        std::function<int()> rewrite;
        const char *after;
    } cases[] = {
        {"replace", [&] { return lfile_ReplaceSection(f.c_str(), "HEADER", "a"); },
         "[HEADER]\r\na\r\n"},
        {"replace here through the server form",
         [&] { return lfile_ReplaceSectionEx("SERVER", f.c_str(), "HEADER", "b"); },
         "[HEADER]\r\nb\r\n"},
        {"replace wide", [&] { return lfile_ReplaceSectionW(f.c_str(), "HEADER", u"c"); },
         "[HEADER]\r\nc\r\n"},
        {"add an event", [&] { return lfile_AddEvent(f.c_str(), "[TEXT]", &stamp, "e", nullptr); },
         "[HEADER]\r\nc\r\n[TEXT]\r\n24/05/17 08:30:00 e\r\n"},
        {"add a wide event",
         [&] { return lfile_AddEventW(f.c_str(), "[TEXT]", &later, u"w", nullptr); },
         "[HEADER]\r\nc\r\n[TEXT]\r\n24/05/17 08:30:00 e\r\n24/05/17 08:30:01 w\r\n"},
    };
    changes();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_GE(c.rewrite(), 0);
        // Readers see the old file or the new one: it is never deleted, only renamed over.
        EXPECT_EQ(changes(), "t");
        EXPECT_EQ(slurp(f), c.after);
    }
    close(watch);

    // A closed run's file is marked read-only: no rewrite touches its bytes or its mark.
    const std::string closed = slurp(f);
    ASSERT_EQ(plat_FileSetReadOnly(f.c_str(), 1), 0);
    PreciseTimeStamp latest{k_t0 + 2, 0, 0};
    std::function<int()> refused[] = {
        [&] { return lfile_ReplaceSection(f.c_str(), "HEADER", "r"); },
        [&] { return lfile_ReplaceSectionW(f.c_str(), "HEADER", u"r"); },
        [&] { return lfile_AddEvent(f.c_str(), "[TEXT]", &latest, "r", nullptr); },
        [&] { return lfile_AddEventW(f.c_str(), "[TEXT]", &latest, u"r", nullptr); },
    };
    for (auto &rewrite : refused) {
        EXPECT_EQ(rewrite(), -1);
        EXPECT_EQ(errno, 5);
        EXPECT_EQ(slurp(f), closed);
        struct stat st;
        ASSERT_EQ(stat(f.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0444u);
    }
    ASSERT_EQ(plat_FileSetReadOnly(f.c_str(), 0), 0);
    EXPECT_GE(cases[0].rewrite(), 0);
    EXPECT_EQ(slurp(f),
              "[HEADER]\r\na\r\n[TEXT]\r\n24/05/17 08:30:00 e\r\n24/05/17 08:30:01 w\r\n");
}

TEST(SectionFiles, StoreTextSectionsAndRename) {
    TempFolder dir;
    std::string data = dir / "240517_083000.odl";
    LogHeader h = fx::twoBlockHeader(k_t0);
    CLogFileStore store;
    ASSERT_EQ(fx::createRun(store, data, &h), 0);
    EXPECT_EQ(store.WriteHeaderText("header"), -1); // no text file yet
    put(dir / "240517_083000.txt", "");
    EXPECT_EQ(store.WriteHeaderText("header"), 0);
    EXPECT_EQ(store.WriteFormulae("aixx", 3, "f"), 0);
    EXPECT_EQ(store.WriteUnitCategory("Flow", "u"), 0);
    EXPECT_EQ(store.WritePosition(k_t0, 1, 1.5f), 0);
    EXPECT_EQ(store.WriteTextExW(nullptr, u"x", nullptr, nullptr), -1);
    EXPECT_EQ(slurp(dir / "240517_083000.txt"), "[HEADER]\r\nheader\r\n[ai_3_FORMULAE]\r\nf\r\n"
                                                "[Flow_UNIT_CATEGORY]\r\nu\r\n[POSITIONS]\r\n"
                                                "24/05/17 08:30:00 1.500000\r\n");
    EXPECT_EQ(store.WritePosition(k_t0, 0, 0), 0);
    char *lines[2];
    char buf[64];
    int count = 2, size = sizeof buf;
    EXPECT_EQ(store.ReadSectionLines("POSITIONS", lines, &count, buf, &size), 0);
    EXPECT_EQ(count, 0);

    // A closed run's text file keeps the open name.
    char text[260];
    ASSERT_EQ(rename(data.c_str(), (dir / "240517_083000_240517_093000.odl").c_str()), 0);
    ASSERT_NE(lfile_FindTextFile((dir / "240517_083000_240517_093000.odl").c_str(), text), nullptr);
    EXPECT_EQ(std::string(text), dir / "240517_083000.txt");
    ASSERT_EQ(rename((dir / "240517_083000_240517_093000.odl").c_str(), data.c_str()), 0);

    // An open run's text file named with the stop time of the header, or of the last record.
    std::string other = dir / "240517_083000_240517_093000.txt";
    ASSERT_EQ(rename((dir / "240517_083000.txt").c_str(), other.c_str()), 0);
    LogHeader stopped = h;
    stopped.stop = k_t0 + 3600;
    ASSERT_EQ(store.WriteHeader(&stopped, 0), 0);
    ASSERT_NE(lfile_FindTextFile(data.c_str(), text), nullptr);
    EXPECT_EQ(std::string(text), other);
    ASSERT_EQ(store.WriteHeader(&h, 0), 0);
    std::vector<uint8_t> last = fx::records(h, 0, 1, k_t0 + 3600);
    ASSERT_EQ(store.WriteLog(&h, last.data(), 1), 0);
    ASSERT_NE(lfile_FindTextFile(data.c_str(), text), nullptr);
    EXPECT_EQ(std::string(text), other);
    std::string byStart =
        dir / "240517_083000_240517_100000.txt"; // found by its first 13 characters
    ASSERT_EQ(rename(other.c_str(), byStart.c_str()), 0);
    ASSERT_NE(lfile_FindTextFile(data.c_str(), text), nullptr);
    EXPECT_EQ(std::string(text), byStart);
    ASSERT_EQ(rename(byStart.c_str(), (dir / "240517_083000.txt").c_str()), 0);

    EXPECT_EQ(store.Rename("LINE_"), 1);
    EXPECT_EQ(access((dir / "LINE_240517_083000.odl").c_str(), F_OK), 0);
    EXPECT_EQ(access((dir / "LINE_240517_083000.txt").c_str(), F_OK), 0);
    char name[260];
    store.GetName(name, nullptr);
    EXPECT_EQ(std::string(name), data); // the store's own path stays
    EXPECT_EQ(lfile_FindTextFile(std::string(300, 'a').c_str(), text), nullptr);
    EXPECT_EQ(errno, 206);
}

} // namespace
