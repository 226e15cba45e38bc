// The runtime stand-in's pipe: answers the two-letter requests it is scripted for and keeps
// every request it received, for tests and for the "show requests" command.
//
// Script statements are those of sim_replies.h (text, raw, close, big, empty, and on the pipe
// stall and delay; the other faults answer their text, if any). A request with no script is
// answered "-1,1".
#pragma once

#include "plat_pipe.h"
#include "sim_replies.h"

#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class PipeServer {
public:
    PipeServer() = default;
    ~PipeServer();
    PipeServer(const PipeServer &) = delete;
    PipeServer &operator=(const PipeServer &) = delete;

    // Starts listening on the runtime pipe. False with errno when the pipe is taken.
    bool start();
    // Closes the pipe and every connection, and waits for the threads. The script and the
    // record survive, so that start() serves again as before.
    void stop();
    bool running() const;

    // Adds or replaces a statement; false for one it does not understand.
    bool script(const std::string &statement);
    void clearScript();

    // Every request received, bytes and length as sent (the NUL included), in order.
    std::vector<std::string> requests() const;
    void clearRequests();
    // Waits until at least count requests were received; false when the time passed.
    bool waitForRequests(size_t count, int milliseconds) const;
    // The record as the "show requests" command prints it: one line per request, its
    // number, its length and its text up to the NUL.
    std::string formatRequests() const;

    // Number of connections accepted since the start.
    int connections() const;

private:
    void acceptLoop();
    void serve(int fd);
    SimReply replyFor(const std::string &request) const;

    mutable std::mutex mutex_;
    mutable std::condition_variable arrived_;
    SimReplyScript script_;
    std::vector<std::string> requests_;
    std::vector<int> clients_;
    std::vector<std::thread> clientThreads_;
    std::thread acceptThread_;
    PlatPipeServer server_{-1, -1};
    bool running_ = false;
    int connections_ = 0;
};
