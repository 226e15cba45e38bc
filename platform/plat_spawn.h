// Running a helper program and waiting for it, as CreateProcess with pipes.
#pragma once

#include <string>
#include <vector>

// Starts argv[0] (searched on PATH) with its output and error output on a pipe, collects
// that output until the program ends, and waits for it. The exit status (or 128 + signal)
// goes to *exitStatus and the output to *output, when they are not null. 0, or -1 with errno
// and the last error when the program cannot be started (2 when it is not found).
int plat_RunAndWait(const std::vector<std::string> &argv, int *exitStatus, std::string *output);
