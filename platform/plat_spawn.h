// Running a helper program and waiting for it, as CreateProcess with pipes.
#pragma once

#include <string>
#include <vector>

// Starts argv[0] (searched on PATH) with its output and error output on a pipe, collects
// that output until the program ends, and waits for it. The exit status (or 128 + signal)
// goes to *exitStatus and the output to *output, when they are not null. 0, or -1 with errno
// and the last error when the program cannot be started (2 when it is not found).
int plat_RunAndWait(const std::vector<std::string> &argv, int *exitStatus, std::string *output);

// What plat_SpawnAndWait changes for the child alone.
struct PlatSpawnOptions {
    // The child's descriptor that goes on the pipe (1 output, 2 error output); the other one
    // stays the caller's.
    int pipedDescriptor = 1;
    // "NAME=value" entries added to (or replacing those of) the caller's environment.
    std::vector<std::string> environment;
    // The child's working folder; "" keeps the caller's.
    std::string folder;
};

// As plat_RunAndWait with one descriptor on the pipe, extra environment entries and a working
// folder of its own. Standard input reads /dev/null. The pipe is read to its end before the
// wait, so a program that writes a lot never blocks. The caller's descriptors, signal
// handling and current folder do not change. A program that cannot start (not found, a
// missing working folder: 2; not allowed: 5) fails with -1, errno and the last error.
int plat_SpawnAndWait(const std::vector<std::string> &argv, const PlatSpawnOptions &options,
                      int *exitStatus, std::string *output);
