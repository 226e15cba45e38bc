// A configuration root with one device folder per test, the sample extension module from the
// build, a private registry and event log.
#pragma once

#include "cfg.h"
#include "plat_error.h"
#include "reg.h"
#include "temp_registry.h"
#include "xml.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

class ConfigFixture : public ::testing::Test {
protected:
    void SetUp() override {
        const char *bin = getenv("KVT_BUILD_BIN");
        ASSERT_NE(bin, nullptr);
        bin_ = bin;
        setenv("KVT_BIN", bin, 1);
        unsetenv("KVT_EX_OPTIONS");
        root_ = tmp_ / "root";
        mkdir(root_.c_str(), 0777);
        device_ = root_ + "/KSTRN_01";
        mkdir(device_.c_str(), 0777);
        setenv("KVT_CURRENT_CONFIG", root_.c_str(), 1);
        setenv("KVT_", tmp_.path().c_str(), 1);
        writeFile(root_ + "/config", std::string(705, '\0'));
        cfg_SetHistoryFlag(0);
        setSwitch("ReadXML", "ON");
        setSwitch("WriteXML", "BOTH");
        xml_ClearError();
    }

    static void setSwitch(const char *name, const char *value) {
        uint32_t type = PLAT_REG_SZ;
        uint32_t size = static_cast<uint32_t>(strlen(value) + 1);
        ASSERT_EQ(reg_AccessValue(PLAT_HKEY_LOCAL_MACHINE, REG_PRODUCT_KEY, 0x0002, name, &type,
                                  const_cast<char *>(value), &size),
                  0u);
    }

    static void writeFile(const std::string &path, const std::string &bytes) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << bytes;
    }
    static std::string readFile(const std::string &path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    static bool exists(const std::string &path) {
        struct stat st;
        return stat(path.c_str(), &st) == 0;
    }
    // Runs a shell command; its exit status.
    static int run(const std::string &command) {
        return system((command + " >/dev/null 2>&1").c_str());
    }

    std::string eventLog() const { return readFile(tmp_ / "Trellane.log"); }

    // A second device folder whose module is the binary-only build.
    std::string binaryOnlyDevice() {
        setenv("KVT_BIN", (bin_ + "/binonly").c_str(), 1);
        std::string folder = root_ + "/KSTRN_02";
        mkdir(folder.c_str(), 0777);
        return folder;
    }

    TempRegistry registry_;
    TempFolder tmp_;
    std::string bin_;
    std::string root_;
    std::string device_;
};
