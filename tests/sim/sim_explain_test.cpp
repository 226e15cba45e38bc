// Statuses named by their bits, and long lines kept within what a terminal shows.
#include "sim_runtime.h"

#include <gtest/gtest.h>
#include <sstream>

TEST(SimExplain, StatusesNameTheirBitsAndKeepUnnamedOnesInHex) {
    EXPECT_EQ(sim_StatusText(0), "0x0");
    EXPECT_EQ(sim_StatusText(0x80), "0x80 analog");
    EXPECT_EQ(sim_StatusText(0x85F),
              "0x85F state alarm-on alarm-high event event-high alarm-shown alarm");
    EXPECT_EQ(sim_StatusText(0x625), "0x625 state alarm-high bad warning-high warning");
    EXPECT_EQ(sim_StatusText(0x10101), "0x10101 state 0x10100");
}

TEST(SimExplain, LongLinesContinueIndentedWithinTheLimit) {
    std::vector<std::string> items;
    for (int i = 0; i < 12; ++i)
        items.push_back(std::to_string(i + 1) + ": " + sim_StatusText(0x85F) + ";");
    // A head of 120 characters: the first item would still fit in 200, not in what is left
    // for the caller's prefix.
    std::string head = "table D1: type=4 channels=12 status=0 duration=5 stamp=1796773877";
    head += std::string(120 - head.size(), '.');
    std::string text = sim_WrapLine(head, items);
    std::istringstream in(text);
    std::string line, joined;
    int count = 0;
    while (std::getline(in, line)) {
        // The first line leaves room for the "device N " or "<ms> " a caller puts before it.
        EXPECT_LE(line.size(), count == 0 ? 184u : 200u) << line;
        if (count > 0) {
            EXPECT_EQ(line.rfind("    ", 0), 0u) << line;
        }
        joined += (count > 0 ? line.substr(3) : line);
        ++count;
    }
    EXPECT_GT(count, 3);
    for (const std::string &item : items)
        EXPECT_NE(joined.find(" " + item), std::string::npos) << item;
    EXPECT_EQ(text.back(), '\n');
}
