#include "pipe_server.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <sstream>

namespace {
// Largest request a client sends: its longest line buffer, with room to spare.
constexpr int k_maxRequest = 4096;

} // namespace

PipeServer::~PipeServer() {
    stop();
}

bool PipeServer::start() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (running_) return true;
    if (plat_PipeServerCreate(&server_, "trellane") != 0) return false;
    running_ = true;
    connections_ = 0;
    acceptThread_ = std::thread([this] { acceptLoop(); });
    return true;
}

void PipeServer::stop() {
    std::vector<std::thread> threads;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!running_) return;
        running_ = false;
        plat_PipeServerWake(&server_);
        for (int fd : clients_)
            plat_PipeShutdown(fd);
    }
    if (acceptThread_.joinable()) acceptThread_.join();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        threads.swap(clientThreads_);
    }
    for (std::thread &t : threads)
        t.join();
    plat_PipeServerDestroy(&server_);
}

bool PipeServer::running() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return running_;
}

bool PipeServer::script(const std::string &statement) {
    std::lock_guard<std::mutex> lock(mutex_);
    return script_.add(statement);
}

void PipeServer::clearScript() {
    std::lock_guard<std::mutex> lock(mutex_);
    script_.clear();
}

std::vector<std::string> PipeServer::requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

void PipeServer::clearRequests() {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.clear();
}

bool PipeServer::waitForRequests(size_t count, int milliseconds) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return arrived_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                             [&] { return requests_.size() >= count; });
}

std::string PipeServer::formatRequests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::ostringstream out;
    for (size_t i = 0; i < requests_.size(); ++i)
        out << (i + 1) << " (" << requests_[i].size() << ") " << requests_[i].c_str() << "\n";
    return out.str();
}

int PipeServer::connections() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return connections_;
}

void PipeServer::acceptLoop() {
    for (;;) {
        int fd = plat_PipeServerAccept(&server_);
        if (fd < 0) return; // woken by stop(), or the socket failed
        std::lock_guard<std::mutex> lock(mutex_);
        if (!running_) {
            plat_PipeClose(fd);
            return;
        }
        ++connections_;
        clients_.push_back(fd);
        clientThreads_.emplace_back([this, fd] { serve(fd); });
    }
}

SimReply PipeServer::replyFor(const std::string &request) const {
    SimReply reply = script_.find(sim_RequestMatchText(request));
    if (!reply.scripted) reply.bytes = std::string("-1,1") + '\0';
    return reply;
}

void PipeServer::serve(int fd) {
    std::vector<char> buffer(k_maxRequest);
    for (;;) {
        int got = plat_PipeReceive(fd, buffer.data(), k_maxRequest);
        if (got < 0) break;
        std::string request(buffer.data(), static_cast<size_t>(std::min(got, k_maxRequest)));
        SimReply reply;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            requests_.push_back(request);
            reply = replyFor(request);
        }
        arrived_.notify_all();
        if (reply.action == SimAction::Close) break;
        if (reply.action == SimAction::Stall) continue;
        if (reply.action == SimAction::Delay)
            std::this_thread::sleep_for(std::chrono::milliseconds(reply.number));
        std::string bytes;
        if (reply.action == SimAction::Big)
            bytes = sim_BigAnswer(reply.number);
        else if (reply.action != SimAction::Empty)
            bytes = reply.bytes;
        if (plat_PipeSend(fd, bytes.data(), static_cast<int>(bytes.size())) < 0) break;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    plat_PipeShutdown(fd);
    clients_.erase(std::remove(clients_.begin(), clients_.end(), fd), clients_.end());
    plat_PipeClose(fd);
}
