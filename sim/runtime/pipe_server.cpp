#include "pipe_server.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <sstream>

namespace {
// Largest request a client sends: its longest line buffer, with room to spare.
constexpr int k_maxRequest = 4096;

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool decodeHex(const std::string &text, std::string *bytes) {
    std::string digits;
    for (char c : text)
        if (c != ' ') digits += c;
    if (digits.size() % 2 != 0) return false;
    bytes->clear();
    for (size_t i = 0; i < digits.size(); i += 2) {
        int hi = hexValue(digits[i]), lo = hexValue(digits[i + 1]);
        if (hi < 0 || lo < 0) return false;
        *bytes += static_cast<char>(hi * 16 + lo);
    }
    return true;
}
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
    std::string text = statement;
    if (text.compare(0, 6, "reply ") == 0) text.erase(0, 6);
    size_t space = text.find(' ');
    std::string prefix = text.substr(0, space);
    std::string rest = space == std::string::npos ? "" : text.substr(space + 1);
    if (prefix.empty()) return false;
    Reply reply;
    std::string word = rest.substr(0, rest.find(' '));
    std::string argument = rest.size() > word.size() ? rest.substr(word.size() + 1) : "";
    if (word == "raw") {
        reply.action = Action::Raw;
        if (!decodeHex(argument, &reply.bytes)) return false;
    } else if (word == "close" && argument.empty()) {
        reply.action = Action::Close;
    } else if (word == "empty" && argument.empty()) {
        reply.action = Action::Empty;
    } else if (word == "big") {
        reply.action = Action::Big;
        reply.size = atoi(argument.c_str());
        if (reply.size <= 0) return false;
    } else {
        reply.action = Action::Text;
        reply.bytes = rest;
        reply.bytes += '\0';
    }
    std::lock_guard<std::mutex> lock(mutex_);
    script_[prefix] = reply;
    return true;
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

PipeServer::Reply PipeServer::replyFor(const std::string &request) const {
    std::string text(request.c_str());
    auto exact = script_.find(text);
    if (exact != script_.end()) return exact->second;
    const Reply *best = nullptr;
    size_t bestLength = 0;
    for (const auto &[prefix, reply] : script_)
        if (prefix.size() > bestLength && text.compare(0, prefix.size(), prefix) == 0) {
            best = &reply;
            bestLength = prefix.size();
        }
    if (best != nullptr) return *best;
    Reply none;
    none.bytes = std::string("-1,1") + '\0';
    return none;
}

void PipeServer::serve(int fd) {
    std::vector<char> buffer(k_maxRequest);
    for (;;) {
        int got = plat_PipeReceive(fd, buffer.data(), k_maxRequest);
        if (got < 0) break;
        std::string request(buffer.data(), static_cast<size_t>(std::min(got, k_maxRequest)));
        Reply reply;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            requests_.push_back(request);
            reply = replyFor(request);
        }
        arrived_.notify_all();
        if (reply.action == Action::Close) break;
        std::string bytes;
        if (reply.action == Action::Big) {
            bytes.assign(static_cast<size_t>(reply.size), 'X');
            if (bytes.size() >= 3) {
                bytes.replace(0, 2, "1,");
                bytes.back() = '\0';
            }
        } else if (reply.action != Action::Empty) {
            bytes = reply.bytes;
        }
        if (plat_PipeSend(fd, bytes.data(), static_cast<int>(bytes.size())) < 0) break;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    plat_PipeShutdown(fd);
    clients_.erase(std::remove(clients_.begin(), clients_.end(), fd), clients_.end());
    plat_PipeClose(fd);
}
