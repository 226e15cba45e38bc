// Running the tree's commands and scripts as a user would, and reading what they print.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

// The build folder (parent of its bin/) and the source folder, "" outside ctest.
inline std::filesystem::path tool_BuildDir() {
    const char *bin = getenv("KVT_BUILD_BIN");
    return bin != nullptr ? std::filesystem::path(bin).parent_path() : "";
}
inline std::filesystem::path tool_SourceDir() {
    const char *src = getenv("KVT_SOURCE_DIR");
    return src != nullptr ? src : "";
}

// Runs a shell command line; its standard output (and error when asked) and exit status.
struct ToolResult {
    int status = -1;
    std::string output;
};
inline ToolResult tool_Run(const std::string &command) {
    ToolResult r;
    FILE *p = popen(command.c_str(), "r");
    if (p == nullptr) return r;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, p)) > 0)
        r.output.append(buffer, n);
    int status = pclose(p);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return r;
}

inline std::vector<std::string> tool_Lines(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// A file's bytes ("" when it cannot be read).
inline std::string tool_ReadFile(const std::filesystem::path &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Single-quoted for the shell.
inline std::string tool_Quote(const std::string &text) {
    std::string q = "'";
    for (char c : text)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}
