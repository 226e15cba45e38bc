#include "plat_spawn.h"

#include "temp_registry.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string cwd() {
    char buf[PATH_MAX];
    return getcwd(buf, sizeof buf) != nullptr ? buf : "";
}

TEST(SpawnTest, OneDescriptorOnThePipeWithItsOwnEnvironmentAndFolder) {
    TempFolder folder;
    const std::string before = cwd();
    PlatSpawnOptions options;
    options.pipedDescriptor = 2;
    options.environment = {"LC_ALL=C", "KVT_SPAWN_TEST=two"};
    options.folder = folder.path();
    int status = -1;
    std::string out;
    ASSERT_EQ(0,
              plat_SpawnAndWait({"sh", "-c", "echo \"$LC_ALL $KVT_SPAWN_TEST $(pwd)\" >&2; exit 3"},
                                options, &status, &out));
    EXPECT_EQ(3, status);
    EXPECT_EQ("C two " + folder.path() + "\n", out);
    EXPECT_EQ(before, cwd());
    EXPECT_EQ(nullptr, getenv("KVT_SPAWN_TEST"));

    // The descriptor not on the pipe stays the caller's: here a file in place of its error
    // output, which must be its own again afterwards.
    const std::string errFile = folder / "stderr";
    fflush(stderr);
    int saved = dup(2);
    int fd = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    dup2(fd, 2);
    close(fd);
    options.pipedDescriptor = 1;
    out.clear();
    int rc = plat_SpawnAndWait({"sh", "-c", "echo out; echo err >&2"}, options, &status, &out);
    dup2(saved, 2);
    close(saved);
    ASSERT_EQ(0, rc);
    EXPECT_EQ(0, status);
    EXPECT_EQ("out\n", out);
    FILE *f = fopen(errFile.c_str(), "r");
    ASSERT_NE(nullptr, f);
    char line[16] = {};
    EXPECT_NE(nullptr, fgets(line, sizeof line, f));
    fclose(f);
    EXPECT_STREQ("err\n", line);
}

TEST(SpawnTest, ProgramThatWritesALotNeverBlocks) {
    PlatSpawnOptions options;
    options.pipedDescriptor = 2;
    int status = -1;
    std::string out;
    ASSERT_EQ(0, plat_SpawnAndWait({"sh", "-c", "head -c 1000000 /dev/zero >&2"}, options, &status,
                                   &out));
    EXPECT_EQ(0, status);
    EXPECT_EQ(1000000u, out.size());
}

TEST(SpawnTest, StartFailuresCarryTheirNumbers) {
    TempFolder folder;
    PlatSpawnOptions options;
    errno = 0;
    EXPECT_EQ(-1, plat_SpawnAndWait({"kvt-no-such-program"}, options, nullptr, nullptr));
    EXPECT_EQ(2, errno);

    const std::string script = folder / "noexec";
    FILE *f = fopen(script.c_str(), "w");
    ASSERT_NE(nullptr, f);
    fputs("#!/bin/sh\nexit 0\n", f);
    fclose(f);
    chmod(script.c_str(), 0644);
    errno = 0;
    EXPECT_EQ(-1, plat_SpawnAndWait({script}, options, nullptr, nullptr));
    EXPECT_EQ(5, errno);

    options.folder = folder / "missing";
    errno = 0;
    EXPECT_EQ(-1, plat_SpawnAndWait({"true"}, options, nullptr, nullptr));
    EXPECT_EQ(2, errno);
}

} // namespace
