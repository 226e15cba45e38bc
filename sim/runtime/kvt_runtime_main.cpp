// kvt-runtime [option]... <description> [script]: the runtime-server stand-in as a command.
#include "sim_runtime.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <iostream>
#include <pthread.h>
#include <string>
#include <thread>
#include <vector>

namespace {
std::atomic<bool> g_interrupted{false};

struct Settings {
    bool help = false;
    bool hex = false;
    std::vector<std::string> files;      // description, then script
    std::vector<std::string> statements; // description statements the options add
};

// The command's options; the usage is made from this table.
// An option with an argument becomes the description statement of the same name (without
// "--"), read after the description's own.
const struct Option {
    const char *name;
    const char *argument; // null: none
    const char *meaning;
    void (*set)(Settings *);
} k_options[] = {
    {"--hex", nullptr,
     "show received messages raw: alarm messages as 592 hex digits, codes as numbers, "
     "statuses in hex alone (byte-exact output for tests)",
     [](Settings *s) { s->hex = true; }},
    {"--tls", "ADDR:PORT", "the TLS request socket (port 0: any free port)", nullptr},
    {"--soap", "ADDR:PORT", "the SOAP service over HTTP", nullptr},
    {"--soap-tls", "ADDR:PORT", "the SOAP service over HTTPS", nullptr},
    {"--auth", "USER:PASSWORD", "the SOAP service's Basic credential", nullptr},
    {"--files", "DIR", "the remote file service's folder (the server's KVT_CURRENT_CONFIG)",
     nullptr},
    {"--cert", "FILE", "certificate of the TLS endpoints (PEM); without, a self-signed one",
     nullptr},
    {"--key", "FILE", "the certificate's key (PEM)", nullptr},
    {"--cert-out", "FILE", "where the certificate in use is written (PEM)", nullptr},
    {"--help", nullptr, "show this usage and end", [](Settings *s) { s->help = true; }},
};

std::string usage() {
    std::string text = "usage: kvt-runtime [option]... <description> [script]\n"
                       "The runtime-server stand-in: creates the shared memory of the installation "
                       "the description\nnames, runs the script (standard input without one), "
                       "and removes every object at the end.\n\nOptions:\n";
    for (const Option &o : k_options)
        text += std::string("  ") + o.name +
                (o.argument != nullptr ? std::string(" ") + o.argument : "") + "\n      " +
                o.meaning + "\n";
    text += "\nDescription statements (one per line, '#' starts a comment):\n";
    text += sim_DescriptionUsage();
    text += "\nScript commands (one per line, '#' starts a comment):\n";
    text += SimRuntime::scriptUsage();
    return text;
}

// 0, or 2 with the reason on standard error.
int parseArguments(int argc, char **argv, Settings *settings) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg.size() > 1 && arg[0] == '-') {
            const Option *found = nullptr;
            for (const Option &o : k_options)
                if (arg == o.name) found = &o;
            if (found == nullptr) {
                fprintf(stderr, "kvt-runtime: unknown option %s (kvt-runtime --help)\n", argv[i]);
                return 2;
            }
            if (found->argument == nullptr) {
                found->set(settings);
            } else if (i + 1 < argc) {
                settings->statements.push_back(arg.substr(2) + " " + argv[++i]);
            } else {
                fprintf(stderr, "kvt-runtime: %s needs %s\n", argv[i], found->argument);
                return 2;
            }
        } else {
            settings->files.push_back(arg);
        }
    }
    if (!settings->help && (settings->files.empty() || settings->files.size() > 2)) {
        fprintf(stderr,
                "usage: kvt-runtime [option]... <description> [script] (kvt-runtime --help)\n");
        return 2;
    }
    return 0;
}
} // namespace

int main(int argc, char **argv) {
    Settings settings;
    if (int rc = parseArguments(argc, argv, &settings); rc != 0) return rc;
    if (settings.help) {
        fputs(usage().c_str(), stdout);
        return 0;
    }
    const char *descriptionPath = settings.files[0].c_str();
    SimDescription description;
    std::string error;
    if (sim_LoadDescription(descriptionPath, &description, &error) != 0) {
        fprintf(stderr, "kvt-runtime: %s: %s\n", descriptionPath, error.c_str());
        return 2;
    }
    if (!settings.statements.empty()) {
        // The options' statements after the description's own, so that they take precedence.
        std::ifstream in(descriptionPath);
        std::stringstream text;
        text << in.rdbuf() << "\n";
        for (const std::string &statement : settings.statements)
            text << statement << "\n";
        if (sim_ParseDescription(text.str(), &description, &error) != 0) {
            fprintf(stderr, "kvt-runtime: options: %s\n", error.c_str());
            return 2;
        }
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
    runtime->setHexOutput(settings.hex);
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
    if (settings.files.size() == 2) {
        std::ifstream script(settings.files[1]);
        if (!script) {
            fprintf(stderr, "kvt-runtime: cannot read %s\n", settings.files[1].c_str());
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
