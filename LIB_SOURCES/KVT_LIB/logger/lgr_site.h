// Replication sites: the folder tree that central offices keep for the sites they replicate
// (site root / region / country / customer / one level per asset term / logger folders), the
// site settings in the registry, the region and country tables, "information.ini" of a site
// folder, and the search for a site's newest run.
//
// Paths may use '\' or '/'. Functions return 0 (or a count) or -1 with errno unless their
// comment says otherwise.
#pragma once

#include "lstore.h"

#include <string>
#include <vector>

// ---- Built-in defaults ----

// Host of the replication service behind the built-in default server.
#define LGR_REPLICATION_HOST "replication.tallowbrook.com"
// Site root of the Lumbrel edition when the registry names none.
#define LGR_LUMBREL_SITE_ROOT "/Lumbrel/LOGGED_DATA"
// The site settings file of a site folder.
#define LGR_SITE_FILE "information.ini"

// ---- Regions ----

constexpr int LGR_REGION_COUNT = 6;
// Name of region k (0-based), or null outside the table.
const char *lgr_GetRegionName(int k);
// The region a folder name stands for, by its first letter (any case): its index, or -1.
int lgr_FindRegion(const char *folderName);
// The default map position of region k: 0, or -1 outside the table.
int lgr_GetRegionPosition(int k, float *latitude, float *longitude);

// ---- Countries ----

constexpr int LGR_COUNTRY_COUNT = 240;
// Name of entry index (0-based), or null outside the table.
const char *lgr_GetCountryName(int index);
// ISO code of the entry whose name equals the text (without regard to case), or "--".
const char *lgr_GetCountryCode(const char *name);
// The first name whose code matches on two characters (without regard to case), or null.
const char *lgr_FindCountryByCode(const char *code);
// Index of the entry whose name equals the text (without regard to case), or -1.
int lgr_FindCountry(const char *name);
// The map position of entry index: 0, or -1 outside the table.
int lgr_GetCountryPosition(int index, float *latitude, float *longitude);

// ---- Site settings ----

// The registry key of the site settings: "SOFTWARE\Tallowbrook\<product>\<REPLICATION>".
std::string lgr_SiteKey();
// The site root on a server (null, "" or this computer: the local registry; another computer's
// registry cannot be reached, so its defaults apply).
std::string lgr_GetSiteRoot(const char *server = nullptr);
// The default server spec on a server, as the site root.
std::string lgr_GetDefaultServer(const char *server = nullptr);
// Asset terms and logger folders are counted once per process (the first missing value ends
// the count). Term k and folder k are 0-based (ASSET_TERM_1 is term 0); null outside the count.
int lgr_CountAssetTerms();
int lgr_CountLoggerDirs();
const char *lgr_GetAssetTerm(int k);
const char *lgr_GetLoggerDir(int k);
// Levels: "REGION", "COUNTRY", "CUSTOMER", the asset terms, "DATA" (asset terms + 4); null
// outside.
int lgr_CountLevels();
const char *lgr_GetLevelName(int k);
// Test hook: the next call counts the terms and folders again.
void lgr_ForgetSiteSettings();

// ---- Site folders ----

// The levels of a path below the site root (region first), or false when the path does not
// begin with the root.
bool lgr_SplitSitePath(const char *path, std::vector<std::string> *levels);

// The map position of a site path: the region's default, then the country's, then the
// "[POSITION]" values of "information.ini" from the customer folder upward. 1 with a position,
// 0 when the path is not below the root or its region letter is unknown.
int lgr_GetSitePosition(const char *path, float *latitude, float *longitude);
// The same asked of a server ("LF,<path>,information.ini"; the reply holds the two numbers
// separated by a comma) unless the server is local: 1, or 0 on failure.
int lgr_GetSitePositionEx(const char *server, const char *path, float *latitude, float *longitude);

// The "[HEADER]" section of the nearest "information.ini" that has one, from the path upward
// to the site root, as lfile_ReadSection gives it (size in/out): lines read, 0 when none.
int lgr_ReadSiteHeader(const char *path, char *buffer, int *size);
// Writes the folder's "[HEADER]" section: 0, or -1.
int lgr_WriteSiteHeader(const char *folder, const char *text);
// Writes the folder's "[POSITION]": "LATITUDE=%f" and "LONGITUDE=%f". 0, or -1.
int lgr_WriteSitePosition(const char *folder, float latitude, float longitude);

// One header channel of a run made from a site path and its header text.
struct LgrHeaderChannel {
    std::string name;
    std::string text;
    bool isNumber = false;
    double number = 0;
};
constexpr int LGR_MAX_HEADER_CHANNELS = 64;
// The levels of the path ("Region", "Country", "Customer" and "Client", the asset terms, and
// for the Lumbrel edition "WellNo" at the second asset level), then the "name: value" lines of
// the header text; a value in double quotes beginning "%d" or "%f" is a number. At most 64
// entries; the count.
int lgr_BuildSiteHeaderChannels(const char *path, const char *headerText,
                                std::vector<LgrHeaderChannel> *channels);

// "E_GERMANY_ACME_FIELD1_WELL7": the region letter, then each further level, joined by "_".
// "" when the path is not below the site root.
std::string lgr_MakeSiteCode(const char *path);
// The site path of a code; surplus parts stay in the last level, joined by "_". "" (errno 22)
// for an unknown region letter.
std::string lgr_ParseSiteCode(const char *code);

// The newest run of a site's logger folder: a connection string selects the database
// collection, else the folder's file collection. 1 found
// (name, at least 256 bytes, and times), 0 none, -1 when the folder cannot be opened.
int lgr_FindSiteLoggers(const char *connection, const char *folder, const char *prefix, char *name,
                        LogTimePair *start, LogTimePair *stop);

struct LoggerInfo;
// The "resub" logger that receives a site: the logger list's entry named by the site code of the
// path (lgr_GetLoggers on the server). 1 with the entry, 0 when there is none or it is of another
// kind, -1 on failure (87 for a path outside the site tree).
int lgr_FindSiteResubLogger(const char *server, const char *sitePath, LoggerInfo *out);
