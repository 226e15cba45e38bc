// Section and text files as the configuration side reads them: a run's text file and the
// folder's events.txt, ANSI or UTF-16, through the section readers, the whole-file loader and
// the file store's section readers; a site folder's information.ini through the position and
// header readers.
//
// Input: one byte of settings (bits 0-1 the file that holds the input: the run's text file,
// events.txt, information.ini of the customer, of the country; bit 2 TEXT events in events.txt;
// bits 3-5 the section asked; bits 6-7 the buffer: large, of the size a count gave, 1 unit, 7
// units), then the file's bytes.
#include "fuzz_install.h"
#include "ldf.h"
#include "lfile.h"
#include "lfile_text.h"
#include "lgr_site.h"
#include "lstore_file.h"
#include "reg.h"

#include <algorithm>
#include <vector>

namespace {

const char *const kSections[8] = {"HEADER", "TEXT",     "POSITION", "FORMULAE",
                                  "EVENTS", "UNITS ai", "header",   ""};

struct Places {
    std::string run;     // the run's data file
    std::string text;    // its text file
    std::string events;  // events.txt beside them
    std::string country; // a site's country folder
    std::string customer;
};

const Places &places() {
    static const Places p = [] {
        const fuzz::Installation &inst = fuzz::install();
        Places out;
        std::string runs = inst.base + "/runs";
        mkdir(runs.c_str(), 0777);
        out.run = runs + "/RUN240517_083000.odl";
        out.text = runs + "/RUN240517_083000.txt";
        out.events = runs + "/events.txt";
        LogHeader h;
        memset(&h, 0, sizeof h);
        h.blockCount = 1;
        memcpy(h.blocks[0].prefix, "ai", 2);
        h.blocks[0].first = 1;
        h.blocks[0].last = 2;
        ldf_LayoutRecord(&h);
        std::vector<uint8_t> channels(2 * LDF_CHANNEL_SIZE, 0x41);
        const void *arrays[1] = {channels.data()};
        CLogFileStore store;
        if (store.Create(out.run.c_str(), 0, &h, nullptr, arrays) != 0) abort();
        store.Close();

        std::string sites = inst.base + "/sites";
        setenv(reg_GetReplicationProductName().c_str(), sites.c_str(), 1);
        std::string root = lgr_GetSiteRoot();
        if (root.empty()) abort();
        out.country = root + "/" + lgr_GetRegionName(0);
        mkdir(root.c_str(), 0777);
        mkdir(out.country.c_str(), 0777);
        out.country += std::string("/") + lgr_GetCountryName(0);
        mkdir(out.country.c_str(), 0777);
        out.customer = out.country + "/CUSTOMER";
        mkdir(out.customer.c_str(), 0777);
        return out;
    }();
    return p;
}

void setEventsFile(bool on) {
    static int current = -1;
    if (current == static_cast<int>(on)) return;
    fuzz::setSwitch("EventsTextFile", on ? "ON" : "OFF");
    current = on;
}

// The buffer's size in units for the choice; never 0 (size 0 is the count-only form, asked with
// a null buffer).
int unitsFor(int choice, int counted) {
    switch (choice) {
    case 0:
        return 4096;
    case 1:
        return std::clamp(counted, 1, 4096);
    case 2:
        return 1;
    default:
        return 7;
    }
}

void readSections(const char *file, const char *section, int choice) {
    int counted = 0;
    lfile_ReadSection(file, section, nullptr, &counted);
    int size = unitsFor(choice, counted);
    std::vector<char> narrow(static_cast<size_t>(size));
    lfile_ReadSection(file, section, narrow.data(), &size);
    size = unitsFor(choice, counted);
    std::vector<char16_t> wide(static_cast<size_t>(size));
    lfile_ReadSectionW(file, section, wide.data(), &size);

    char *lines[32];
    char16_t *wideLines[32];
    int count = 32;
    size = static_cast<int>(narrow.size());
    lfile_ReadSectionLines(file, section, lines, &count, narrow.data(), &size);
    count = 3;
    size = static_cast<int>(wide.size());
    lfile_ReadSectionLinesW(file, section, wideLines, &count, wide.data(), &size);

    LfileText text;
    if (lfile_LoadText(file, false, &text) == 0) {
        lfile_TextWide(text);
        lfile_TextNarrow(text);
    }
}

void readStoreSections(const char *section, int choice) {
    CLogFileStore store;
    if (store.Open(nullptr, places().run.c_str(), LSTORE_READ) != 0) return;
    int counted = 0;
    store.ReadSection(section, nullptr, &counted);
    int size = unitsFor(choice, counted);
    std::vector<char> narrow(static_cast<size_t>(size));
    store.ReadSection(section, narrow.data(), &size);
    size = static_cast<int>(narrow.size());
    std::vector<char16_t> wide(narrow.size());
    store.ReadSectionW(section, wide.data(), &size);
    char *lines[16];
    char16_t *wideLines[16];
    int count = 16;
    size = static_cast<int>(narrow.size());
    store.ReadSectionLines(section, lines, &count, narrow.data(), &size);
    count = 16;
    size = static_cast<int>(wide.size());
    store.ReadSectionLinesW(section, wideLines, &count, wide.data(), &size);
    int32_t time = 0;
    store.GetTextTime(&time);
    store.Close();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const Places &p = places();
    fuzz::Reader in{data, size};
    uint8_t settings = in.byte();
    int target = settings & 3;
    setEventsFile(settings & 4);
    const char *section = kSections[settings >> 3 & 7];
    int choice = settings >> 6 & 3;

    const std::string files[4] = {p.text, p.events, p.customer + "/information.ini",
                                  p.country + "/information.ini"};
    const std::string &file = files[target];
    fuzz::writeFile(file, in.data, in.size);
    if (target < 2) {
        readSections(file.c_str(), section, choice);
        readStoreSections(section, choice);
    } else {
        readSections(file.c_str(), target == 2 ? "POSITION" : "HEADER", choice);
        float latitude = 0, longitude = 0;
        lgr_GetSitePosition(p.customer.c_str(), &latitude, &longitude);
        lgr_GetSitePosition((p.customer + "/SITE/LOGGER").c_str(), &latitude, &longitude);
        int bufferSize = unitsFor(choice, 512);
        std::vector<char> header(static_cast<size_t>(bufferSize));
        lgr_ReadSiteHeader(p.customer.c_str(), header.data(), &bufferSize);
    }
    unlink(file.c_str());
    fuzz::trimEventLog();
    return 0;
}

// The seeds: files written by the system's own section, event and site writers.
extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    if (fuzz::seedFolder() == nullptr) return 0;
    const Places &p = places();
    auto seed = [](const char *name, uint8_t settings, const std::string &file) {
        std::string bytes = fuzz::readFile(file);
        if (bytes.empty()) abort();
        fuzz::writeSeed(name, std::string(1, static_cast<char>(settings)) + bytes);
        unlink(file.c_str());
    };
    const char *text = p.text.c_str();
    lfile_ReplaceSection(text, "HEADER", "Site=North\r\nOperator=A. N. Other");
    lfile_ReplaceSection(text, "FORMULAE", "ai1=ai2*2");
    lfile_AddEventAt(text, "TEXT", 1715934600, "pump started", nullptr);
    lfile_AddEventAt(text, "TEXT", 1715934660, "pump stopped", nullptr);
    seed("text-ansi", 0 << 3, p.text);
    lfile_ReplaceSection(text, "HEADER", "large");
    seed("text-ansi-small", 1 << 3 | 0x80, p.text);

    PreciseTimeStamp stamp{};
    stamp.seconds = 1715934600;
    lfile_AddEventW(text, "TEXT", &stamp, u"\u00e9v\u00e9nement", nullptr);
    seed("text-utf16", 0x48, p.text);

    lfile_AddEventAt(p.events.c_str(), "TEXT", 1715934600, "from events", nullptr);
    lfile_AddEventAt(p.events.c_str(), "TEXT", 1715934601, "second", nullptr);
    seed("events-ansi", 1 | 4 | 1 << 3, p.events);

    lgr_WriteSitePosition(p.customer.c_str(), 51.5f, -0.25f);
    lgr_WriteSiteHeader(p.customer.c_str(), "Customer header\r\nline 2");
    seed("site-customer", 2, p.customer + "/information.ini");
    lgr_WriteSiteHeader(p.country.c_str(), "Country header");
    seed("site-country", 3 | 0x40, p.country + "/information.ini");
    exit(0);
}
