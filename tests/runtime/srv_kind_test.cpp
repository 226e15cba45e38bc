#include "plat_system.h"
#include "srv.h"

#include <gtest/gtest.h>
#include <string>

TEST(SrvKind, LocalSpecs) {
    std::string computer = plat_ComputerName();
    std::string host = plat_HostShortName();
    for (const char *spec :
         {(const char *)nullptr, "", ".", "localhost", "LOCALHOST", "127.0.0.1", computer.c_str(),
          host.c_str(), "https://localhost/x", "tls://127.0.0.1:5"})
        EXPECT_EQ(srv_IsLocal(spec), 1) << (spec ? spec : "null");
    for (const char *spec :
         {"Local", "SERVER", "127.0.0.2", "tls://127.0.0.2:1", "\\\\SERVER", "file:///srv/db"})
        EXPECT_EQ(srv_IsLocal(spec), 0) << spec;
}

TEST(SrvKind, KindsWithNothingRegistered) {
    EXPECT_EQ(srv_ServerKind("."), 1);
    EXPECT_EQ(srv_ServerKind("https://localhost/x"), 1);
    EXPECT_EQ(srv_ServerKind("SERVER"), 1);
    EXPECT_EQ(srv_ServerKind("\\\\SERVER"), 1);
    EXPECT_EQ(srv_ServerKind("PROVIDER=x;Data Source=y"), 1);
    EXPECT_EQ(srv_ServerKind("http://server/svc"), 4);
    EXPECT_EQ(srv_ServerKind("HTTPS://server/svc"), 4);
    EXPECT_EQ(srv_ServerKind("file:///srv/logs"), 3);
    EXPECT_EQ(srv_ServerKind("tls://127.0.0.2:1"), 2);
    EXPECT_EQ(srv_IsUrlServer("SERVER"), 0);
    EXPECT_EQ(srv_IsUrlServer("https://localhost/"), 0);
    EXPECT_EQ(srv_IsUrlServer("tls://server:1"), 1);
}

namespace {
int classifyProvider(const char *spec) {
    return spec != nullptr && std::string(spec).rfind("PROVIDER=", 0) == 0 ? 3 : 0;
}
} // namespace

TEST(SrvKind, ClassifierIsAskedFirstAndMayLeaveItOpen) {
    srv_SetSpecClassifier(classifyProvider);
    EXPECT_EQ(srv_ServerKind("PROVIDER=x"), 3);
    EXPECT_EQ(srv_ServerKind("tls://h:1"), 2);
    srv_SetSpecClassifier(nullptr);
    EXPECT_EQ(srv_ServerKind("PROVIDER=x"), 1);
}

TEST(SrvKind, LocalPaths) {
    EXPECT_EQ(srv_IsLocalPath("/srv/data"), 1);
    EXPECT_EQ(srv_IsLocalPath("C:\\data"), 1);
    EXPECT_EQ(srv_IsLocalPath("\\\\localhost\\share"), 1);
    EXPECT_EQ(srv_IsLocalPath("//SERVER/share"), 0);
    EXPECT_EQ(srv_IsLocalPath(("\\\\" + std::string(300, 'h') + "\\x").c_str()), 0);
}

TEST(SrvKind, AtSignsInsideThePasswordSurviveTheCrack) {
    char user[64], password[64], host[64];
    PlatUrlParts parts{};
    parts.user = user;
    parts.userSize = sizeof user;
    parts.password = password;
    parts.passwordSize = sizeof password;
    parts.host = host;
    parts.hostSize = sizeof host;
    ASSERT_EQ(srv_CrackServerUrl("tls://joe:p@ss@w@server:9", 0, 0, &parts), 1);
    EXPECT_STREQ(user, "joe");
    EXPECT_STREQ(password, "p@ss@w");
    EXPECT_STREQ(host, "server");
    EXPECT_EQ(parts.port, 9);
}

TEST(SrvKind, SpecsTooLongOrMissingDoNotCrack) {
    PlatUrlParts parts{};
    EXPECT_EQ(srv_CrackServerUrl(nullptr, 0, 0, &parts), 0);
    std::string spec = "tls://" + std::string(1270, 'h');
    EXPECT_EQ(srv_CrackServerUrl(spec.c_str(), 0, 0, &parts), 1); // 1276 characters
    spec.append(8, 'h');                                          // 1284
    EXPECT_EQ(srv_CrackServerUrl(spec.c_str(), 0, 0, &parts), 0);
}

TEST(SrvKind, LoggerKeyName) {
    EXPECT_EQ(srv_LoggerKeyName("hist", 3), "LOGGERS\\hist_3");
}
