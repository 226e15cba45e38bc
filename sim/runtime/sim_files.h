// The runtime server's remote file service as the stand-in offers it: RF, WF, SF, TF and DF
// on files below one folder, which stands for the server's KVT_CURRENT_CONFIG, and the
// configuration requests IF (channel records), GF (device configuration) and CF (logger file).
//
// Paths are the server's: "KVT_CURRENT_CONFIG\" (any case, either separator) and a path below
// it. Any other path, or one with a ".." component, gets "-1,5"; a missing file "-1,2".
#pragma once

#include <string>

class SimFileService {
public:
    explicit SimFileService(std::string root) : root_(std::move(root)) {}
    // True for the requests it answers (RF, WF, SF, TF, DF, IF, GF, CF).
    static bool handles(const std::string &request);
    // The reply bytes (NUL included) to one request as received.
    std::string answer(const std::string &request) const;
    const std::string &root() const { return root_; }

private:
    std::string root_;
};

// The configuration requests over the service's folder (sim_files_config.cpp). IF and GF
// answer exactly the total asked for; CF writes LOGGERS/<kind>_<number> and answers "1".
std::string sim_AnswerChannels(const std::string &root, const std::string &request);
std::string sim_AnswerDeviceConfig(const std::string &root, const std::string &request);
std::string sim_AnswerLoggerWrite(const std::string &root, const std::string &request);
