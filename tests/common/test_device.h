// Support of the end-to-end tests: real scanner processes against the runtime stand-in and a
// simulated controller on a pseudo-terminal, with the device folder they read.
#pragma once

#include "s5sim.h"
#include "s5types.h"

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <thread>
#include <vector>

// Long enough for a loaded machine; a passing test never waits for it.
constexpr int TEST_DEADLINE_MS = 10000;

// The build's program folder (KSTRN_SC and the modules), "" outside ctest.
inline std::string test_BuildBin() {
    const char *bin = getenv("KVT_BUILD_BIN");
    return bin != nullptr ? bin : "";
}

// Polls the condition until it holds (true) or the deadline has passed (false).
template <typename F>
bool test_WaitUntil(F condition, int ms = TEST_DEADLINE_MS) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// The device folder's "config": AutoEnable, then the device record with its scan interval
// and, when given, the port settings behind it.
inline void test_WriteDeviceConfig(const std::filesystem::path &folder, int32_t intervalMs = 1000,
                                   const S5PortSettings *port = nullptr) {
    std::filesystem::create_directories(folder);
    std::vector<char> file(705, 0);
    file[0] = 1;
    memcpy(file.data() + 1, &intervalMs, sizeof intervalMs);
    if (port != nullptr) memcpy(file.data() + 1 + 4, port, sizeof *port);
    std::ofstream(folder / "config", std::ios::binary).write(file.data(), file.size());
}

// The first lines of a runtime description: the installation root and the programs.
inline std::string test_RuntimeHead(const std::filesystem::path &root) {
    return "root " + root.string() + "\nbin " + test_BuildBin() + "\nscanner " + test_BuildBin() +
           "/KSTRN_SC\n";
}

// A running controller on a pseudo-terminal where the device's port COM1 resolves
// (root/ports/COM1).
inline void test_StartController(const std::filesystem::path &root,
                                 std::unique_ptr<s5sim::Simulator> *plc) {
    std::filesystem::create_directories(root / "ports");
    *plc = std::make_unique<s5sim::Simulator>(s5sim::Settings{});
    std::string error;
    ASSERT_TRUE((*plc)->OpenPty((root / "ports" / "COM1").string(), &error)) << error;
    (*plc)->Start();
}

// The commands the controller decoded since mark; mark moves past them.
inline std::vector<std::string> test_Commands(s5sim::Simulator &plc, uint64_t *mark) {
    std::vector<std::string> out;
    for (const s5sim::Event &e : plc.log().Since(*mark))
        if (e.kind == s5sim::EventKind::Command) out.push_back(e.text);
    *mark = plc.log().NextSeq();
    return out;
}

// Controller memory at a location such as "D12.0" or "A0".
inline void test_SetMemory(s5sim::Simulator &plc, const std::string &where,
                           const std::vector<uint32_t> &values) {
    s5sim::Location loc;
    std::string error;
    ASSERT_TRUE(s5sim::ParseLocation(where, &loc, &error)) << error;
    ASSERT_TRUE(plc.memory().Set(loc, values, &error)) << error;
}
inline uint32_t test_GetMemory(s5sim::Simulator &plc, const std::string &where) {
    s5sim::Location loc;
    std::string error;
    std::vector<uint32_t> values;
    EXPECT_TRUE(s5sim::ParseLocation(where, &loc, &error)) << error;
    EXPECT_TRUE(plc.memory().Get(loc, 1, &values, &error)) << error;
    return values.empty() ? 0xFFFFFFFF : values[0];
}
