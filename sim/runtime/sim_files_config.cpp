// IF, GF and CF of the stand-in's file service.
#include "sim_files.h"

#include "chfile.h"
#include "chrec.h"
#include "plat_error.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

std::string failure(int error) {
    return "-1," + std::to_string(error) + '\0';
}

std::vector<std::string> fields(const std::string &text) {
    std::vector<std::string> parts;
    std::stringstream in(text);
    for (std::string part; std::getline(in, part, ',');)
        parts.push_back(part);
    if (!text.empty() && text.back() == ',') parts.push_back("");
    return parts;
}

int number(const std::string &text) {
    return static_cast<int>(strtol(text.c_str(), nullptr, 10));
}

// The whole file; false when it cannot be opened.
bool readAll(const std::string &path, std::string *bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::stringstream s;
    s << in.rdbuf();
    *bytes = s.str();
    return true;
}

// size bytes of a file from offset, zeros where the file is missing or short.
std::string padded(const std::string &path, size_t offset, size_t size) {
    std::string bytes;
    readAll(path, &bytes);
    std::string out = offset < bytes.size() ? bytes.substr(offset, size) : "";
    out.resize(size, '\0');
    return out;
}

bool safeName(const std::string &name) {
    return name.find("..") == std::string::npos && name.find('/') == std::string::npos &&
           name.find('\\') == std::string::npos;
}

} // namespace

std::string sim_AnswerChannels(const std::string &root, const std::string &request) {
    // IF,total,folder,first,count,extra length,extra file,kind
    std::vector<std::string> f = fields(std::string(request.c_str()).substr(3));
    if (f.size() < 7 || !safeName(f[1]) || !safeName(f[5])) return failure(87);
    int total = number(f[0]), first = number(f[2]), count = number(f[3]);
    int extraLength = number(f[4]), kind = number(f[6]);
    if (first < 0 || count < 0 || extraLength < 0 || total < 2) return failure(87);
    std::string folder = root + "/" + f[1];
    std::string path = chfile_Path(folder.c_str(), kind);
    if (path.empty()) return failure(87);
    std::vector<ChannelRecord> records(static_cast<size_t>(count));
    if (chfile_ReadChannels(path.c_str(), records.data(), first, count) != 0)
        return failure(static_cast<int>(plat_GetLastError()));
    std::string reply = "1,";
    reply.append(reinterpret_cast<const char *>(records.data()),
                 records.size() * sizeof(ChannelRecord));
    if (extraLength > 0) reply += padded(folder + "/" + f[5], 0, static_cast<size_t>(extraLength));
    reply.resize(static_cast<size_t>(total), '\0');
    return reply;
}

std::string sim_AnswerDeviceConfig(const std::string &root, const std::string &request) {
    // GF,total,folder,size,extra size,extra file,four output flags
    std::vector<std::string> f = fields(std::string(request.c_str()).substr(3));
    if (f.size() < 9 || !safeName(f[1]) || !safeName(f[4])) return failure(87);
    int total = number(f[0]), size = number(f[2]), extraSize = number(f[3]);
    if (size < 0 || extraSize < 0 || total < 9) return failure(87);
    std::string folder = root + "/" + f[1];
    std::string config, save;
    if (!readAll(folder + "/config", &config) || !readAll(folder + "/saveconfig", &save))
        return failure(2);
    config.resize(static_cast<size_t>(size) + 1, '\0');
    save.resize(6, '\0');
    std::string reply = "1,";
    reply += config[0];
    reply += save.substr(0, 6);
    reply += config.substr(1, static_cast<size_t>(size));
    if (extraSize > 0) reply += padded(folder + "/" + f[4], 0, static_cast<size_t>(extraSize));
    reply.resize(static_cast<size_t>(total), '\0');
    return reply;
}

std::string sim_AnswerLoggerWrite(const std::string &root, const std::string &request) {
    // CF,kind,number,size,user, then the bytes and a NUL
    size_t at = 3;
    std::vector<std::string> f;
    for (int i = 0; i < 4; ++i) {
        size_t comma = request.find(',', at);
        if (comma == std::string::npos) return failure(87);
        f.push_back(request.substr(at, comma - at));
        at = comma + 1;
    }
    int size = number(f[2]);
    if (size < 0 || !safeName(f[0]) || at + static_cast<size_t>(size) > request.size())
        return failure(87);
    std::string folder = root + "/LOGGERS";
    mkdir(folder.c_str(), 0777);
    std::ofstream out(folder + "/" + f[0] + "_" + std::to_string(number(f[1])),
                      std::ios::binary | std::ios::trunc);
    out.write(request.data() + at, size);
    if (!out) return failure(29);
    return std::string("1") + '\0';
}
