// kvt-runtime [options] <description> [script]: the runtime-server stand-in as a command.
//
// Options (before the description; they add to what it says):
//   --tls ADDR:PORT  --soap ADDR:PORT  --soap-tls ADDR:PORT   network endpoints
//   --auth USER:PASSWORD   --files DIR   --cert FILE --key FILE   --cert-out FILE
#include "sim_runtime.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>
#include <fstream>
#include <iostream>
#include <pthread.h>
#include <thread>

namespace {
std::atomic<bool> g_interrupted{false};
}

int main(int argc, char **argv) {
    std::vector<std::string> options;
    int first = 1;
    while (first + 1 < argc && strncmp(argv[first], "--", 2) == 0) {
        // "--cert-out F" becomes the description statement "cert-out F".
        options.push_back(std::string(argv[first] + 2) + " " + argv[first + 1]);
        first += 2;
    }
    if (argc - first < 1 || argc - first > 2 || strncmp(argv[first], "--", 2) == 0) {
        fprintf(stderr, "usage: kvt-runtime [--tls ADDR:PORT] [--soap ADDR:PORT] "
                        "[--soap-tls ADDR:PORT] [--auth USER:PASSWORD] [--files DIR] "
                        "[--cert FILE --key FILE] [--cert-out FILE] <description> [script]\n");
        return 2;
    }
    const char *descriptionPath = argv[first];
    const char *scriptPath = argc - first == 2 ? argv[first + 1] : nullptr;
    SimDescription description;
    std::string error;
    if (sim_LoadDescription(descriptionPath, &description, &error) != 0) {
        fprintf(stderr, "kvt-runtime: %s: %s\n", descriptionPath, error.c_str());
        return 2;
    }
    for (const std::string &option : options) {
        SimDescription added;
        if (sim_ParseDescription(option, &added, &error) != 0) {
            fprintf(stderr, "kvt-runtime: --%s\n", option.c_str());
            return 2;
        }
        if (!added.tls.empty()) description.tls = added.tls;
        if (!added.soap.empty()) description.soap = added.soap;
        if (!added.soapTls.empty()) description.soapTls = added.soapTls;
        if (!added.user.empty()) {
            description.user = added.user;
            description.password = added.password;
        }
        if (!added.files.empty()) description.files = added.files;
        if (!added.certFile.empty()) description.certFile = added.certFile;
        if (!added.keyFile.empty()) description.keyFile = added.keyFile;
        if (!added.certOut.empty()) description.certOut = added.certOut;
    }
    // A client that goes away must never end the stand-in.
    signal(SIGPIPE, SIG_IGN);
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
    if (scriptPath != nullptr) {
        std::ifstream script(scriptPath);
        if (!script) {
            fprintf(stderr, "kvt-runtime: cannot read %s\n", scriptPath);
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
