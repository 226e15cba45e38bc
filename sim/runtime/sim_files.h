// The runtime server's remote file service as the stand-in offers it: RF, WF, SF, TF and DF
// on files below one folder, which stands for the server's KVT_CURRENT_CONFIG.
//
// Paths are the server's: "KVT_CURRENT_CONFIG\" (any case, either separator) and a path below
// it. Any other path, or one with a ".." component, gets "-1,5"; a missing file "-1,2".
#pragma once

#include <string>

class SimFileService {
public:
    explicit SimFileService(std::string root) : root_(std::move(root)) {}
    // True for the requests it answers (RF, WF, SF, TF, DF).
    static bool handles(const std::string &request);
    // The reply bytes (NUL included) to one request as received.
    std::string answer(const std::string &request) const;
    const std::string &root() const { return root_; }

private:
    std::string root_;
};
