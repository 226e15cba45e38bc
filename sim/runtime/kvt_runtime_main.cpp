// kvt-runtime <description> [script]: the runtime-server stand-in as a command.
#include "sim_runtime.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <pthread.h>
#include <thread>

namespace {
std::atomic<bool> g_interrupted{false};
}

int main(int argc, char **argv) {
    if (argc < 2 || argc > 3) {
        fprintf(stderr, "usage: kvt-runtime <description> [script]\n");
        return 2;
    }
    SimDescription description;
    std::string error;
    if (sim_LoadDescription(argv[1], &description, &error) != 0) {
        fprintf(stderr, "kvt-runtime: %s: %s\n", argv[1], error.c_str());
        return 2;
    }
    // Interrupts are taken by one thread, so that scanners are stopped and every shared
    // object removed before the command ends.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    static SimRuntime *runtime = new SimRuntime(description);
    std::thread([signals] {
        int sig = 0;
        sigwait(&signals, &sig);
        g_interrupted = true;
        // A blocked read of the script would never return: clean up and end here.
        std::thread([] {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            runtime->shutdown();
            fprintf(stderr, "kvt-runtime: interrupted\n");
            _exit(130);
        }).detach();
    }).detach();

    if (runtime->create() != 0) {
        fprintf(stderr, "kvt-runtime: %s\n", runtime->lastError().c_str());
        runtime->shutdown();
        return 1;
    }
    int status = 0;
    if (argc == 3) {
        std::ifstream script(argv[2]);
        if (!script) {
            fprintf(stderr, "kvt-runtime: cannot read %s\n", argv[2]);
            runtime->shutdown();
            return 2;
        }
        status = runtime->runScript(script, std::cout, g_interrupted);
    } else {
        status = runtime->runScript(std::cin, std::cout, g_interrupted);
    }
    if (status != 0) fprintf(stderr, "kvt-runtime: %s\n", runtime->lastError().c_str());
    runtime->shutdown();
    return status;
}
