// The test run's private MariaDB server (scripts/test-mariadb, started by the `mariadb` CTest
// fixture), and a database of the test's own on it.
#pragma once

#include "plat_ado.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

namespace mdb {

// The port of the server, or "" with the reason in *why.
inline std::string serverPort(std::string *why) {
    const char *dir = std::getenv("KVT_TEST_MARIADB_DIR");
#ifdef KVT_TEST_MARIADB_DIR_DEFAULT
    if (!dir || !*dir) dir = KVT_TEST_MARIADB_DIR_DEFAULT;
#endif
    if (!dir || !*dir) {
        *why = "KVT_TEST_MARIADB_DIR is not set";
        return "";
    }
    std::ifstream in(std::string(dir) + "/port");
    std::string port;
    if (!(in >> port)) *why = std::string("no test server: ") + dir + "/port is missing";
    return port;
}

inline bool underCi() {
    const char *ci = std::getenv("CI");
    return ci && std::string(ci) == "true";
}

// Connection string of database `name` on the test server.
inline std::string connectionString(const std::string &port, const std::string &name) {
    return "Provider=MariaDB;Server=127.0.0.1;Port=" + port + ";Database=" + name +
           ";Uid=kvt;Pwd=kvt-test";
}

// A database kvt_<suite>_<pid> made for the test and dropped after it.
class Database {
public:
    explicit Database(const std::string &suite) {
        port_ = serverPort(&why_);
        if (port_.empty()) return;
        name_ = "kvt_" + suite + "_" + std::to_string(getpid());
        drop();
        ado::Catalog cat;
        cat.Create(text());
    }
    ~Database() {
        if (!port_.empty()) drop();
    }
    Database(const Database &) = delete;
    Database &operator=(const Database &) = delete;
    bool ready() const { return !port_.empty(); }
    const std::string &why() const { return why_; }
    const std::string &name() const { return name_; }
    const std::string &port() const { return port_; }
    std::string text() const { return connectionString(port_, name_); }

private:
    void drop() {
        try {
            ado::Connection c;
            c.Open(connectionString(port_, "kvt_none") + ";Database=");
            c.Execute("DROP DATABASE IF EXISTS `" + name_ + "`");
        } catch (const ado::ComError &) {
        }
    }
    std::string port_, name_, why_;
};

} // namespace mdb

// In a test body: fails under CI, skips elsewhere, when the server is not there.
#define KVT_REQUIRE_MARIADB(db)                                                                    \
    do {                                                                                           \
        if (!(db).ready()) {                                                                       \
            if (mdb::underCi()) FAIL() << (db).why();                                              \
            GTEST_SKIP() << (db).why();                                                            \
        }                                                                                          \
    } while (0)
