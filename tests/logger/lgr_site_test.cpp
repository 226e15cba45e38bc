#include "lgr.h"
#include "lgr_site.h"
#include "chrec.h"
#include "lstore_dbcoll.h"
#include "plat_event.h"
#include "ipc_prefix.h"
#include "sim_runtime.h"
#include "srv.h"
#include "plat_registry.h"
#include "reg.h"
#include "temp_registry.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <sys/stat.h>

namespace {

// The codes in table order, as the country table must hold them.
const char *const kCodes =
    "AF AX AL DZ AS AD AO AI AQ AG AR AM AW AU AT AZ BS BH BD BB BY BE BZ BJ BM BT BO BA BW BV BR "
    "IO BN BG BF BI KH CM CA CV KY CF TD CL CN CX CC CO KM CG CD CK CR CI HR CU CY CZ DK DJ DM DO "
    "EC EG SV GQ ER EE ET FK FO FJ FI FR GF PF TF GA GM GE DE GH GI GR GL GD GP GU GT GN GW GY HT "
    "HM VA HN HK HU IS IN ID IR IQ IE IL IT JM JP JO KZ KE KI KP KR KW KG LA LV LB LS LR LY LI LT "
    "LU MO MK MG MW MY MV ML MT MH MQ MR MU YT MX FM MD MC MN MS MA MZ MM NA NR NP NL AN NC NZ NI "
    "NE NG NU NF MP NO OM PK PW PS PA PG PY PE PH PN PL PT PR QA RE RO RU RW SH KN LC PM VC WS SM "
    "ST SA SN CS SC SL SG SK SI SB SO ZA GS ES LK SD SR SJ SZ SE CH SY TW TJ TZ TH TL TG TK TO TT "
    "TN TR TM TC TV UG UA AE GB US UM UY UZ VU VE VN VG VI WF EH YE ZM ZW";

TEST(LgrCountries, TableOrderCodesAndLookups) {
    std::istringstream codes(kCodes);
    std::string code;
    int i = 0;
    for (; codes >> code; ++i) {
        const char *name = lgr_GetCountryName(i);
        ASSERT_NE(name, nullptr) << i;
        EXPECT_STREQ(lgr_GetCountryCode(name), code.c_str()) << name;
        if (i > 0) {
            EXPECT_LT(strcmp(lgr_GetCountryName(i - 1), name), 0) << name;
        }
        for (const char *p = name; *p != '\0'; ++p)
            EXPECT_TRUE(static_cast<unsigned char>(*p) < 0x80 && !(*p >= 'a' && *p <= 'z')) << name;
    }
    EXPECT_EQ(i, LGR_COUNTRY_COUNT);
    EXPECT_STREQ(lgr_GetCountryName(0), "AFGHANISTAN");
    EXPECT_STREQ(lgr_GetCountryName(239), "ZIMBABWE");
    EXPECT_EQ(lgr_GetCountryName(240), nullptr);
    EXPECT_EQ(lgr_GetCountryName(-1), nullptr);
    EXPECT_STREQ(lgr_FindCountryByCode("fm"), "MICRONESIA, FEDERATED STATES OF");
    EXPECT_STREQ(lgr_GetCountryCode("micronesia, federated states of"), "FM");
    EXPECT_STREQ(lgr_FindCountryByCode("DEU"), "GERMANY"); // two characters compared
    EXPECT_EQ(lgr_FindCountryByCode("M"), nullptr);
    EXPECT_EQ(lgr_FindCountryByCode("QQ"), nullptr);
    EXPECT_STREQ(lgr_GetCountryCode("ATLANTIS"), "--");
    float lat, lon;
    ASSERT_EQ(lgr_GetCountryPosition(0, &lat, &lon), 0);
    EXPECT_FLOAT_EQ(lat, 33);
    EXPECT_FLOAT_EQ(lon, 65);
    ASSERT_EQ(lgr_GetCountryPosition(239, &lat, &lon), 0);
    EXPECT_FLOAT_EQ(lat, -18.823f);
    EXPECT_FLOAT_EQ(lon, 29.751f);
    EXPECT_EQ(lgr_GetCountryPosition(240, &lat, &lon), -1);

    const char *regions[] = {"ASIA",          "EUROPE CIS",
                             "LATIN AMERICA", "MIDDLE EAST AND NORTH AFRICA",
                             "NORTH AMERICA", "SOUTHERN AND WEST AFRICA"};
    for (int k = 0; k < LGR_REGION_COUNT; ++k) {
        EXPECT_STREQ(lgr_GetRegionName(k), regions[k]);
        EXPECT_EQ(lgr_FindRegion(regions[k]), k);
    }
    EXPECT_EQ(lgr_FindRegion("latin"), 2);
    EXPECT_EQ(lgr_FindRegion("OCEANIA"), -1);
    ASSERT_EQ(lgr_GetRegionPosition(4, &lat, &lon), 0);
    EXPECT_FLOAT_EQ(lat, 48.8069f);
    EXPECT_FLOAT_EQ(lon, -104.4141f);
}

class LgrSiteTest : public ::testing::Test {
protected:
    void SetUp() override { forget(); }
    void TearDown() override { forget(); }
    void forget() {
        reg_ForgetProductNames();
        lgr_ForgetSiteSettings();
    }
    void set(const char *keyPath, const char *name, const std::string &value) {
        PlatHKey key = 0;
        ASSERT_EQ(0u, plat_RegCreateKey(PLAT_HKEY_LOCAL_MACHINE, keyPath, 0, PLAT_KEY_ALL_ACCESS,
                                        &key, nullptr));
        plat_RegSetValue(key, name, PLAT_REG_SZ, value.c_str(),
                         static_cast<uint32_t>(value.size() + 1));
        plat_RegCloseKey(key);
        forget();
    }
    std::string root() const { return registry_.folder() / "sites"; }
    void useRoot() { set(lgr_SiteKey().c_str(), "ROOT", root()); }
    std::string mkdirs(const std::string &rel) {
        std::string p = root();
        mkdir(p.c_str(), 0777);
        std::istringstream parts(rel);
        std::string part;
        while (std::getline(parts, part, '/')) {
            p += "/" + part;
            mkdir(p.c_str(), 0777);
        }
        return p;
    }
    TempRegistry registry_;
};

TEST_F(LgrSiteTest, SettingsDefaultsPerEditionAndRegistryValues) {
    EXPECT_EQ(lgr_SiteKey(), "SOFTWARE\\Tallowbrook\\" + reg_GetProductName() + "\\WYNCOTE");
    EXPECT_EQ(lgr_GetDefaultServer(), "WYCLogger2:Q4MZ7RWT@replication.tallowbrook.com");
    EXPECT_EQ(lgr_CountAssetTerms(), 2);
    EXPECT_STREQ(lgr_GetAssetTerm(0), "FIELD");
    EXPECT_STREQ(lgr_GetAssetTerm(1), "WELL");
    EXPECT_EQ(lgr_GetAssetTerm(2), nullptr);
    EXPECT_EQ(lgr_GetAssetTerm(-1), nullptr);
    EXPECT_EQ(lgr_CountLoggerDirs(), 1);
    EXPECT_STREQ(lgr_GetLoggerDir(0), "");
    EXPECT_EQ(lgr_GetLoggerDir(1), nullptr);
    const char *levels[] = {"REGION", "COUNTRY", "CUSTOMER", "FIELD", "WELL", "DATA"};
    EXPECT_EQ(lgr_CountLevels(), 6);
    for (int k = 0; k < 6; ++k)
        EXPECT_STREQ(lgr_GetLevelName(k), levels[k]);
    EXPECT_EQ(lgr_GetLevelName(6), nullptr);
    EXPECT_EQ(lgr_GetLevelName(-1), nullptr);

    // Registry values win; the count stops at the first value that has no default either.
    set(lgr_SiteKey().c_str(), "ASSET_TERM_1", "AREA");
    set(lgr_SiteKey().c_str(), "ASSET_TERM_3", "PAD");
    set(lgr_SiteKey().c_str(), "ASSET_TERM_5", "NEVER");
    set(lgr_SiteKey().c_str(), "DefaultServer", "https://u:p@other.example/");
    EXPECT_EQ(lgr_CountAssetTerms(), 3);
    EXPECT_STREQ(lgr_GetAssetTerm(0), "AREA");
    EXPECT_STREQ(lgr_GetAssetTerm(1), "WELL");
    EXPECT_STREQ(lgr_GetAssetTerm(2), "PAD");
    EXPECT_STREQ(lgr_GetLevelName(6), "DATA");
    EXPECT_EQ(lgr_GetDefaultServer(), "https://u:p@other.example/");
    // Another computer's registry cannot be reached: its defaults apply.
    EXPECT_EQ(lgr_GetDefaultServer("FARAWAY"), "WYCLogger2:Q4MZ7RWT@replication.tallowbrook.com");

    set(REG_MAKER_KEY, "ProductName", "lumbrel");
    EXPECT_EQ(lgr_GetDefaultServer(), "LumbrelLogger2:Q4MZ7RWT@replication.tallowbrook.com");
    EXPECT_EQ(lgr_GetSiteRoot(), "/Lumbrel/LOGGED_DATA");
    EXPECT_EQ(lgr_CountLoggerDirs(), 2);
    EXPECT_STREQ(lgr_GetLoggerDir(0), "SLOW_LOG");
    EXPECT_STREQ(lgr_GetLoggerDir(1), "FAST_LOG");
}

std::string readAll(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST_F(LgrSiteTest, PositionsHeadersCodesAndHeaderChannels) {
    useRoot();
    std::string customer = mkdirs("EUROPE CIS/GERMANY/ACME");
    std::string well = mkdirs("EUROPE CIS/GERMANY/ACME/NORTH/W7");
    float lat = 0, lon = 0;
    // Region, then country.
    EXPECT_EQ(lgr_GetSitePosition((root() + "/EUROPE CIS").c_str(), &lat, &lon), 1);
    EXPECT_FLOAT_EQ(lat, 54.3678f);
    EXPECT_EQ(lgr_GetSitePosition(well.c_str(), &lat, &lon), 1);
    EXPECT_FLOAT_EQ(lat, 51);
    EXPECT_FLOAT_EQ(lon, 9);
    EXPECT_EQ(lgr_GetSitePosition((root() + "/XANADU/GERMANY").c_str(), &lat, &lon), 0);
    EXPECT_EQ(lgr_GetSitePosition("/elsewhere/EUROPE CIS", &lat, &lon), 0);

    // information.ini: written in the C locale, read by prefix from the customer folder upward.
    ASSERT_EQ(lgr_WriteSitePosition(customer.c_str(), 1.5f, -2.25f), 0);
    EXPECT_EQ(readAll(customer + "/information.ini"),
              "[POSITION]\r\nLATITUDE=1.500000\r\nLONGITUDE=-2.250000\r\n");
    EXPECT_EQ(lgr_GetSitePosition(well.c_str(), &lat, &lon), 1);
    EXPECT_FLOAT_EQ(lat, 1.5f);
    EXPECT_FLOAT_EQ(lon, -2.25f);
    std::ofstream(customer + "/information.ini", std::ios::binary)
        << "[Position]\r\nlat = 7.25\r\n";
    std::ofstream(root() + "/EUROPE CIS/GERMANY/information.ini", std::ios::binary)
        << "[POSITION]\r\nLONG=8.5\r\nLAT=99\r\n";
    EXPECT_EQ(lgr_GetSitePosition(well.c_str(), &lat, &lon), 1);
    EXPECT_FLOAT_EQ(lat, 7.25f);
    EXPECT_FLOAT_EQ(lon, 8.5f);

    // The header of the nearest file that has one, up to the root.
    ASSERT_EQ(lgr_WriteSiteHeader((root() + "/EUROPE CIS").c_str(), "Operator: Acme\r\n"), 0);
    char header[256];
    int size = sizeof header;
    EXPECT_EQ(lgr_ReadSiteHeader(well.c_str(), header, &size), 1);
    EXPECT_STREQ(header, "Operator: Acme\r\n");
    ASSERT_EQ(lgr_WriteSiteHeader(customer.c_str(), "Depth: \"%f 1234.5\"\r\nNote: x:y\r\n"), 0);
    size = sizeof header;
    EXPECT_EQ(lgr_ReadSiteHeader(well.c_str(), header, &size), 2);
    EXPECT_EQ(readAll(customer + "/information.ini"),
              "[Position]\r\nlat = 7.25\r\n[HEADER]\r\nDepth: \"%f 1234.5\"\r\nNote: x:y\r\n");

    EXPECT_EQ(lgr_MakeSiteCode(well.c_str()), "E_GERMANY_ACME_NORTH_W7");
    EXPECT_EQ(lgr_MakeSiteCode("/elsewhere/x"), "");
    EXPECT_EQ(lgr_ParseSiteCode("E_GERMANY_ACME_NORTH_W7"), well);
    EXPECT_EQ(lgr_ParseSiteCode("e_GERMANY_ACME_NORTH_W_7_B"),
              well.substr(0, well.size() - 2) + "W_7_B");
    EXPECT_EQ(lgr_ParseSiteCode("X_GERMANY"), "");

    std::vector<LgrHeaderChannel> ch;
    ASSERT_EQ(lgr_BuildSiteHeaderChannels(well.c_str(), header, &ch), 8);
    const char *names[] = {"Region", "Country", "Customer", "Client",
                           "FIELD",  "WELL",    "Depth",    "Note"};
    const char *texts[] = {"EUROPE CIS", "GERMANY", "ACME",          "ACME",
                           "NORTH",      "W7",      "\"%f 1234.5\"", "x:y"};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(ch[i].name, names[i]);
        EXPECT_EQ(ch[i].text, texts[i]);
        EXPECT_EQ(ch[i].isNumber, i == 6);
    }
    EXPECT_DOUBLE_EQ(ch[6].number, 1234.5);
    std::string many;
    for (int i = 0; i < 70; ++i)
        many += "k" + std::to_string(i) + ": v\r\n";
    EXPECT_EQ(lgr_BuildSiteHeaderChannels(well.c_str(), many.c_str(), &ch), 64);

    set(REG_MAKER_KEY, "ProductName", "Lumbrel");
    useRoot();
    ASSERT_EQ(lgr_BuildSiteHeaderChannels(well.c_str(), "", &ch), 7);
    EXPECT_EQ(ch[6].name, "WellNo");
    EXPECT_EQ(ch[6].text, "W7");
}

TEST_F(LgrSiteTest, FindsTheNewestRunOfASiteFolder) {
    std::string well = mkdirs("ASIA/JAPAN/ACME/F1/W1");
    for (const char *name :
         {"SITE240101_000000_240102_000000.odl", "SITE690101_000000.odl", "OTHER700101_000000.odl"})
        std::ofstream(well + "/" + name) << "";
    char name[256];
    LogTimePair start{}, stop{};
    ASSERT_EQ(lgr_FindSiteLoggers(nullptr, well.c_str(), "site", name, &start, &stop), 1);
    EXPECT_STREQ(name, "SITE690101_000000.odl");
    EXPECT_EQ(stop.seconds, 0u);
    EXPECT_EQ(lgr_FindSiteLoggers("", well.c_str(), "NONE", name, &start, &stop), 0);
    EXPECT_EQ(lgr_FindSiteLoggers(nullptr, (well + "/missing").c_str(), "", name, &start, &stop),
              -1);
    // A connection string selects the database collection: a provider without a backend
    // cannot be opened, a database finds the newest run of the site's prefix.
    EXPECT_EQ(lgr_FindSiteLoggers("Provider=SQLOLEDB;Data Source=x", well.c_str(), "", name, &start,
                                  &stop),
              -1);
    std::string conn = "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + well + "/site.mdb";
    {
        CLogDbCollection db;
        // The pause after a new Jet LOGGERS table is not waited for here.
        PlatSleepHook previous = plat_SetSleepHook([](uint32_t) {});
        int opened = db.Open(conn.c_str(), "", "", "SITE_", LSTORE_READ | 0x40000000u);
        plat_SetSleepHook(previous);
        ASSERT_EQ(opened, 0);
        LogHeader h{};
        h.start = 86400;
        h.blockCount = 1;
        memcpy(h.blocks[0].prefix, "AI", 2);
        h.blocks[0].first = h.blocks[0].last = 1;
        ChannelRecord record{};
        const void *records[1] = {&record};
        std::unique_ptr<CLogStore> run(
            db.CreateLoggerEx(&h.start, 0, 0, &h, nullptr, 0, nullptr, 0, records));
        ASSERT_TRUE(run) << db.GetErrorMessage();
        run->Close();
    }
    ASSERT_EQ(lgr_FindSiteLoggers(conn.c_str(), "", "SITE_", name, &start, &stop), 1);
    EXPECT_STREQ(name, "LoggerSeq=00000001");
    EXPECT_EQ(start.seconds, 86400u);
    EXPECT_EQ(lgr_FindSiteLoggers(conn.c_str(), "", "NONE_", name, &start, &stop), 0);
}

TEST_F(LgrSiteTest, FindsTheResubLoggerNamedByTheSiteCode) {
    UniqueIpcPrefix ipc("lgrsite");
    useRoot();
    std::string well = mkdirs("EUROPE CIS/GERMANY/ACME/NORTH/W7");
    TempFolder runtimeRoot;
    SimDescription d;
    std::string error;
    ASSERT_EQ(sim_ParseDescription("root " + runtimeRoot.path() +
                                       "\nreply IL,E_GERMANY_ACME_NORTH_W7 1,RESUB,4,"
                                       "E_GERMANY_ACME_NORTH_W7\n"
                                       "reply IL,E_GERMANY_ACME_SOUTH_W1 1,stand,2,"
                                       "E_GERMANY_ACME_SOUTH_W1\n"
                                       "reply IL,E_GERMANY_ACME_EAST_W2 0\n",
                                   &d, &error),
              0)
        << error;
    SimRuntime rt(d);
    ASSERT_EQ(rt.create(), 0) << rt.lastError();
    LoggerInfo info{};
    ASSERT_EQ(lgr_FindSiteResubLogger(nullptr, well.c_str(), &info), 1);
    EXPECT_STREQ(info.kind, "RESUB");
    EXPECT_EQ(info.number, 4);
    EXPECT_STREQ(info.name, "E_GERMANY_ACME_NORTH_W7");
    EXPECT_EQ(lgr_FindSiteResubLogger(
                  nullptr, (root() + "/EUROPE CIS/GERMANY/ACME/SOUTH/W1").c_str(), &info),
              0);
    EXPECT_EQ(lgr_FindSiteResubLogger(nullptr,
                                      (root() + "/EUROPE CIS/GERMANY/ACME/EAST/W2").c_str(), &info),
              0);
    EXPECT_EQ(lgr_FindSiteResubLogger(nullptr, "/elsewhere", &info), -1);
    EXPECT_EQ(errno, 87);
    srv_CloseAll();
}

} // namespace
