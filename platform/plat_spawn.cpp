#include "plat_spawn.h"

#include "plat_error.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

// The caller's environment with the entries replaced or added.
std::vector<std::string> mergedEnvironment(const std::vector<std::string> &extra) {
    std::vector<std::string> env;
    for (char **e = environ; e != nullptr && *e != nullptr; ++e) {
        const char *eq = strchr(*e, '=');
        size_t nameLength = eq != nullptr ? static_cast<size_t>(eq - *e) : strlen(*e);
        bool replaced = false;
        for (const std::string &x : extra)
            if (x.size() > nameLength && x[nameLength] == '=' &&
                x.compare(0, nameLength, *e, nameLength) == 0)
                replaced = true;
        if (!replaced) env.emplace_back(*e);
    }
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
}

std::vector<char *> pointers(const std::vector<std::string> &texts) {
    std::vector<char *> p;
    for (const std::string &t : texts)
        p.push_back(const_cast<char *>(t.c_str()));
    p.push_back(nullptr);
    return p;
}

// pipedMask: bit 1 output, bit 2 error output.
int spawnAndWait(const std::vector<std::string> &argv, int pipedMask,
                 const std::vector<std::string> &extraEnv, const std::string &folder,
                 int *exitStatus, std::string *output) {
    if (argv.empty() || argv[0].empty()) return plat_Fail(WERR_INVALID_PARAMETER);
    std::vector<char *> args = pointers(argv);
    std::vector<std::string> envTexts;
    if (!extraEnv.empty()) envTexts = mergedEnvironment(extraEnv);
    std::vector<char *> envp = pointers(envTexts);

    // Close-on-exec, so no other child started meanwhile inherits the write end and keeps
    // the pipe open after this one has ended.
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return plat_FailFromPosix();

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (pipedMask & 2) posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    if (pipedMask & 4) posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (!folder.empty()) posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());

    pid_t pid = 0;
    int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(),
                          extraEnv.empty() ? environ : envp.data());
    posix_spawn_file_actions_destroy(&actions);
    // The child holds its own copy; with ours closed, end of file comes when the child ends.
    close(fds[1]);
    if (rc != 0) {
        close(fds[0]);
        return plat_Fail(plat_WinErrorFromPosix(rc));
    }

    // Drain the pipe so that a talkative program never blocks on a full pipe.
    char buf[1024];
    for (;;) {
        ssize_t n = read(fds[0], buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        if (output != nullptr) output->append(buf, static_cast<size_t>(n));
    }
    close(fds[0]);

    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return plat_FailFromPosix();
    }
    if (exitStatus != nullptr)
        *exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return 0;
}

} // namespace

int plat_RunAndWait(const std::vector<std::string> &argv, int *exitStatus, std::string *output) {
    return spawnAndWait(argv, 2 | 4, {}, "", exitStatus, output);
}

int plat_SpawnAndWait(const std::vector<std::string> &argv, const PlatSpawnOptions &options,
                      int *exitStatus, std::string *output) {
    if (options.pipedDescriptor != 1 && options.pipedDescriptor != 2)
        return plat_Fail(WERR_INVALID_PARAMETER);
    return spawnAndWait(argv, 1 << options.pipedDescriptor, options.environment, options.folder,
                        exitStatus, output);
}
