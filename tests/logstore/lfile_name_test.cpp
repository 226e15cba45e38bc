#include "lfile.h"
#include "lstore.h"
#include "plat_fileops.h"
#include "temp_registry.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fstream>

namespace {

std::string suffix(const char *name, const char *ext) {
    const char *p = lfile_FindTimeSuffix(name, ext);
    return p != nullptr ? p : "(null)";
}

TEST(RunNames, TimePartsAndPrefixesEndingInDigits) {
    EXPECT_EQ(suffix("240517_083000.odl", ".odl"), "240517_083000.odl");
    EXPECT_EQ(suffix("240517_083000_240517_093000.odl", ".ODL"), "240517_083000_240517_093000.odl");
    EXPECT_EQ(suffix("C:\\data\\L1\\240517_083000.odl", ".odl"), "240517_083000.odl");
    EXPECT_EQ(suffix("240517083000.odl", ".odl"), "240517083000.odl");
    EXPECT_EQ(suffix("240517_083000", ""), "240517_083000");
    EXPECT_EQ(suffix("240517_083000.txt", ""), "(null)");
    EXPECT_EQ(suffix("240517_083000.odl", ".txt"), "(null)");
    EXPECT_EQ(suffix("40517_083000.odl", ".odl"), "(null)");
    EXPECT_EQ(suffix(".odl", ".odl"), "(null)");
    // A prefix ending in digits belongs to the prefix.
    EXPECT_EQ(suffix("LINE12_240517_083000.odl", ".odl"), "240517_083000.odl");
    EXPECT_EQ(suffix("123456_240517_083000.odl", ".odl"), "240517_083000.odl");
    EXPECT_EQ(suffix("9_240517_083000_240517_093000.odl", ".odl"),
              "240517_083000_240517_093000.odl");
    EXPECT_EQ(lfile_HasTimeSuffix("L1_240517_083000.odl", ".odl"), 1);

    int64_t t = 0;
    ASSERT_EQ(lfile_ReadRunTime("240517_083000", &t), 0);
    EXPECT_EQ(t, 1715934600);
    ASSERT_EQ(lfile_ReadRunTime("690101_000000", &t), 0);
    EXPECT_EQ(t, 3124224000); // 2069, beyond the signed range
    ASSERT_EQ(lfile_ReadRunTime("700101_000000", &t), 0);
    EXPECT_EQ(t, 0);
    EXPECT_EQ(lfile_ReadRunTime("24051_083000", &t), -1);
    EXPECT_EQ(lfile_FormatRunTime(static_cast<int32_t>(UINT32_C(3124224000))), "690101_000000");
    EXPECT_EQ(lfile_FormatRunTime(1715934600), "240517_083000");
    EXPECT_EQ(lfile_StoreTime(-5), 0);
    EXPECT_EQ(lfile_TimeOf(lfile_StoreTime(INT64_C(1) << 33)), INT64_C(0xFFFFFFFF));
}

TEST(RunNames, NewestRunSortsRunsFrom2038AfterOlderOnes) {
    TempFolder dir;
    for (const char *n : {"LINE12_371231_235959.odl", "LINE12_380120_000000.odl",
                          "LINE12_991231_000000.odl", "LINE12_380120_000000.txt", "notarun.odl"})
        std::ofstream(dir / n) << "x";
    mkdir((dir / "690101_000000.odl").c_str(), 0777); // a folder never counts
    char name[260] = {};
    EXPECT_EQ(lfile_FindNewest(dir.path().c_str(), name, ".odl"), 1);
    EXPECT_STREQ(name, "LINE12_380120_000000.odl");
    std::ofstream(dir / "A_380120_000000.odl") << "x"; // the same time, listed first
    EXPECT_EQ(lfile_FindNewest(dir.path().c_str(), name, ".odl"), 1);
    EXPECT_STREQ(name, "A_380120_000000.odl");
    EXPECT_EQ(lfile_FindNewest(dir.path().c_str(), name, ".zip"), 0);
    EXPECT_EQ(lfile_FindNewest((dir / "none").c_str(), name, ".odl"), -1);

    LfileFolderList *list = lfile_OpenFolderList(dir.path().c_str());
    ASSERT_NE(list, nullptr);
    EXPECT_STREQ(lfile_NextFolderEntry(list), ".");
    int n = 1;
    while (lfile_NextFolderEntry(list) != nullptr)
        ++n;
    EXPECT_EQ(n, 9);
    lfile_CloseFolderList(list);
}

TEST(LogFileHelpers, BoundedFormatterNeverCutsAPath) {
    char buf[16];
    EXPECT_EQ(lfile_Sprintf(buf, sizeof buf, "%s/%s", "ab", "cd"), 5);
    EXPECT_STREQ(buf, "ab/cd");
    EXPECT_EQ(lfile_Sprintf(buf, sizeof buf, "%s/%s", "0123456789", "01234"), -1);
    EXPECT_EQ(errno, 206);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(lfile_Sprintf(buf, sizeof buf, "%.2f", 1.5), 4);
    EXPECT_STREQ(buf, "1.50");
}

TEST(StoreIdentity, KeysProvidersAndNames) {
    EXPECT_EQ(lstore_GetProviderType(nullptr), -1);
    EXPECT_EQ(lstore_GetProviderType("/data/loggers"), -1);
    EXPECT_EQ(lstore_GetProviderType("provider=mysql;server=x"), 1);
    EXPECT_EQ(lstore_GetProviderType("PROVIDER=WITSML"), 2);
    EXPECT_EQ(lstore_GetProviderType("Provider=OSDU"), 3);
    EXPECT_EQ(lstore_GetProviderType("Provider=Microsoft.Jet.OLEDB.4.0"), 0);
    EXPECT_EQ(lstore_CreateStore("PROVIDER=WITSML"), nullptr);
    EXPECT_EQ(lstore_CreateCollection("PROVIDER=WITSML"), nullptr);
    CLogStore *mysql = lstore_CreateStore("PROVIDER=MYSQL");
    EXPECT_NE(mysql, nullptr);
    delete mysql;
    CLogStore *file = lstore_CreateStore("/data");
    ASSERT_NE(file, nullptr);
    EXPECT_STREQ(file->GetErrorText(), "");
    delete file;

    char s[] = "DSN=x;LoggerName=L1;LoggerSeq=00000042;User=u";
    char name[3];
    int size = 2; // "L1" needs 3 with its NUL
    EXPECT_EQ(lstore_TakeLoggerName(s, &size, name), 0);
    EXPECT_STREQ(s, "DSN=x;LoggerName=L1;LoggerSeq=00000042;User=u");
    size = 0;
    EXPECT_EQ(lstore_TakeLoggerName(s, &size, nullptr), 1);
    EXPECT_EQ(size, 2);
    char s2[] = "DSN=x;LoggerName=L1;LoggerSeq=00000042";
    size = 3;
    EXPECT_EQ(lstore_TakeLoggerName(s2, &size, name), 1);
    EXPECT_STREQ(name, "L1");
    int32_t seq = 0;
    EXPECT_EQ(lstore_TakeLoggerSeq(s2, &seq), 1);
    EXPECT_EQ(seq, 42);
    EXPECT_STREQ(s2, "DSN=x");
    char s3[] = "DSN=x;LoggerSeq=abc";
    EXPECT_EQ(lstore_TakeLoggerSeq(s3, &seq), 0);
    EXPECT_STREQ(s3, "DSN=x;LoggerSeq=abc");
    char s4[] = "DSN=x;LoggerSeq=99999999999";
    EXPECT_EQ(lstore_TakeLoggerSeq(s4, &seq), 0);
    EXPECT_STREQ(s4, "DSN=x;LoggerSeq=99999999999");

    char n[] = "a-b c#1";
    lstore_SanitizeName(n);
    EXPECT_STREQ(n, "a_b_c_1");
    EXPECT_EQ(lstore_ParseHeaderChannels(""), 1);
    EXPECT_EQ(lstore_ParseHeaderChannels("DT"), 1);
    EXPECT_EQ(lstore_ParseHeaderChannels("dt"), 0);
    EXPECT_EQ(lstore_CountLines("a\r\nb"), 2);
    EXPECT_EQ(lstore_CountLines("a\r\nb\r\n"), 2);
    EXPECT_EQ(lstore_MakeIdentity(std::string(1285, 'x').c_str()), "");
    EXPECT_EQ(lstore_MakeIdentity("DSN=x;LoggerSeq=1"), "DSN=x;LoggerSeq=1");

    CLogCollection c;
    EXPECT_EQ(c.Open("", "", "", std::string(204, 'p').c_str(), LSTORE_READ), 0);
    EXPECT_EQ(c.Open("", "", "", std::string(205, 'p').c_str(), LSTORE_READ), -1);
    CLogStore base;
    LogHeader h{};
    h.recordCount = 7;
    EXPECT_EQ(base.CountLogs(nullptr, nullptr, &h), 7);
    int32_t t;
    EXPECT_EQ(base.GetTextTime(&t), -1);
}

} // namespace
