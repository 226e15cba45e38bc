// s5sim: a simulated S5 controller on a pseudo-terminal or a serial line.
//
// Prints "ready <path>" once the line is open, then one line per event. Reads commands from
// stdin (set, get, fault, clear-faults, counters, quit); the end of stdin does not stop it,
// quit, SIGTERM and SIGINT do.
#include "s5sim_command.h"

#include <csignal>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <mutex>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>

namespace {

std::mutex g_print_mutex;
std::ofstream g_log;

void PrintLine(const std::string &line) {
    std::lock_guard<std::mutex> lock(g_print_mutex);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
    if (g_log.is_open()) g_log << line << std::flush;
}

// Reads command lines until quit, the end of stdin, or done_fd is signalled.
void ReadCommands(s5sim::Simulator *sim, int done_fd) {
    std::string pending;
    char buf[512];
    for (;;) {
        pollfd p[2] = {{0, POLLIN, 0}, {done_fd, POLLIN, 0}};
        if (poll(p, 2, -1) < 0) continue;
        if (p[1].revents) return;
        ssize_t n = read(0, buf, sizeof buf);
        if (n <= 0) return; // end of input: keep serving the line
        pending.append(buf, static_cast<size_t>(n));
        size_t nl;
        while ((nl = pending.find('\n')) != std::string::npos) {
            std::string line = pending.substr(0, nl);
            pending.erase(0, nl + 1);
            bool quit = false;
            std::string out = s5sim::RunCommand(*sim, line, &quit);
            if (!out.empty()) PrintLine(out);
            if (quit) {
                kill(getpid(), SIGTERM);
                return;
            }
        }
    }
}

} // namespace

int main(int argc, char **argv) {
    s5sim::Options options;
    std::string error;
    for (int i = 1; i < argc; ++i)
        if (std::string(argv[i]) == "--help") {
            std::printf("%s\nCommands (standard input, one per line):\n%s", s5sim::Usage().c_str(),
                        s5sim::CommandUsage().c_str());
            return 0;
        }
    if (!s5sim::ParseOptions(argc, argv, &options, &error)) {
        std::fprintf(stderr, "s5sim: %s (s5sim --help)\n", error.c_str());
        return 2;
    }
    if (!options.log_file.empty()) {
        g_log.open(options.log_file, std::ios::app);
        if (!g_log) {
            std::fprintf(stderr, "s5sim: cannot open log file %s\n", options.log_file.c_str());
            return 1;
        }
    }

    // Signals are taken by sigwait below, never by a handler in another thread.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    s5sim::Simulator sim(options.settings);
    for (const std::string &set : options.sets) {
        s5sim::Location loc;
        std::vector<uint32_t> values;
        if (!s5sim::ParseSetting(set, &loc, &values, &error) ||
            !sim.memory().Set(loc, values, &error)) {
            std::fprintf(stderr, "s5sim: --set %s: %s\n", set.c_str(), error.c_str());
            return 2;
        }
    }
    for (const std::string &rule : options.faults)
        sim.AddFault(rule, &error);

    bool opened = options.pty_link.empty() ? sim.OpenDevice(options.port_path, &error)
                                           : sim.OpenPty(options.pty_link, &error);
    if (!opened) {
        std::fprintf(stderr, "s5sim: %s\n", error.c_str());
        return 1;
    }
    sim.log().SetSink([](const s5sim::Event &e) {
        std::string line = std::to_string(e.ms) + " " + s5sim::EventName(e.kind);
        if (!e.text.empty()) line += " " + e.text;
        PrintLine(line + "\n");
    });
    PrintLine("ready " + sim.PortPath() + "\n");
    sim.Start();

    int done_fd = eventfd(0, EFD_CLOEXEC);
    std::thread input(ReadCommands, &sim, done_fd);
    int sig = 0;
    sigwait(&signals, &sig);

    uint64_t one = 1;
    if (write(done_fd, &one, sizeof one) < 0) std::perror("s5sim: eventfd");
    input.join();
    close(done_fd);
    sim.Stop();
    return 0;
}
