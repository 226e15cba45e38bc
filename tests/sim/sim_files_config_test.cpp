// The stand-in's configuration requests IF, GF and CF, answered from a folder.
#include "chfile.h"
#include "sim_files.h"
#include "temp_registry.h"

#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

std::string ReadAll(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(SimConfigFilesTest, ChannelsDeviceConfigurationAndLoggerFiles) {
    TempFolder tmp;
    std::string dev = tmp.path() + "/DEV";
    mkdir(dev.c_str(), 0777);
    std::vector<ChannelRecord> recs(3);
    for (int i = 0; i < 3; ++i)
        std::memset(recs[i].bytes, 'a' + i, sizeof recs[i].bytes);
    ASSERT_EQ(chfile_WriteChannels(chfile_Path(dev.c_str(), 0).c_str(), recs.data(), 0, 3), 0);
    std::ofstream(dev + "/extra", std::ios::binary) << "XY";
    SimFileService files(tmp.path());

    // Records 1 and 2 and four extra bytes from a two-byte file: zeros after it.
    std::string reply = files.answer(std::string("IF,438,DEV,1,2,4,extra,0") + '\0');
    ASSERT_EQ(reply.size(), 438u);
    EXPECT_EQ(reply.substr(0, 2), "1,");
    EXPECT_EQ(reply.substr(2, 216), std::string(216, 'b'));
    EXPECT_EQ(reply.substr(218, 216), std::string(216, 'c'));
    EXPECT_EQ(reply.substr(434), std::string("XY\0\0", 4));
    EXPECT_EQ(files.answer(std::string("IF,434,DEV,2,2,0,,0") + '\0'), std::string("-1,38") + '\0');
    EXPECT_EQ(files.answer(std::string("IF,218,DEV,0,1,0,,1") + '\0'), std::string("-1,2") + '\0');

    // GF: byte 0 of "config", the six bytes of "saveconfig", the record, the extra block.
    std::string config = std::string("\x01") + "RECORD";
    std::ofstream(dev + "/config", std::ios::binary) << config;
    EXPECT_EQ(files.answer(std::string("GF,15,DEV,6,0,,1,1,1,1") + '\0'),
              std::string("-1,2") + '\0');
    std::ofstream(dev + "/saveconfig", std::ios::binary)
        << std::string("\x01\x00\x10\x27\x00\x00", 6);
    reply = files.answer(std::string("GF,17,DEV,6,2,extra,1,1,1,1") + '\0');
    EXPECT_EQ(reply, std::string("1,\x01\x01\x00\x10\x27\x00\x00RECORDXY", 17));

    // CF writes every byte of the record, zeros included.
    std::string record("a\0b", 3);
    EXPECT_EQ(files.answer(std::string("CF,stand,2,3,ann,") + record + '\0'),
              std::string("1") + '\0');
    EXPECT_EQ(ReadAll(tmp.path() + "/LOGGERS/stand_2"), record);
    EXPECT_EQ(files.answer(std::string("CF,../x,2,3,ann,") + record + '\0'),
              std::string("-1,87") + '\0');
}

} // namespace
