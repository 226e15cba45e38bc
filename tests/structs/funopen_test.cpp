// Streams over callbacks and descriptors.
#include "funopen.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

struct Buffer {
    std::string data;
    size_t pos = 0;
    bool closed = false;
};

int buf_read(void *c, char *out, int len) {
    auto *b = static_cast<Buffer *>(c);
    int n = static_cast<int>(std::min<size_t>(static_cast<size_t>(len), b->data.size() - b->pos));
    memcpy(out, b->data.data() + b->pos, static_cast<size_t>(n));
    b->pos += static_cast<size_t>(n);
    return n;
}

int buf_write(void *c, const char *in, int len) {
    auto *b = static_cast<Buffer *>(c);
    if (b->data.size() < b->pos + static_cast<size_t>(len))
        b->data.resize(b->pos + static_cast<size_t>(len));
    memcpy(b->data.data() + b->pos, in, static_cast<size_t>(len));
    b->pos += static_cast<size_t>(len);
    return len;
}

off_t buf_seek(void *c, off_t off, int whence) {
    auto *b = static_cast<Buffer *>(c);
    off_t base = whence == SEEK_SET   ? 0
                 : whence == SEEK_CUR ? static_cast<off_t>(b->pos)
                                      : static_cast<off_t>(b->data.size());
    if (base + off < 0) {
        errno = EINVAL;
        return -1;
    }
    b->pos = static_cast<size_t>(base + off);
    return base + off;
}

int buf_close(void *c) {
    static_cast<Buffer *>(c)->closed = true;
    return 0;
}

} // namespace

TEST(Funopen, CallbackStreamPrintsSeeksAndReads) {
    Buffer b;
    FILE *fp = funopen(&b, buf_read, buf_write, buf_seek, buf_close);
    ASSERT_NE(fp, nullptr);
    fprintf(fp, "value=%d;%s", 42, "end");
    ASSERT_EQ(fseek(fp, 6, SEEK_SET), 0);
    char buf[16] = {};
    ASSERT_EQ(fread(buf, 1, 2, fp), 2u);
    EXPECT_STREQ(buf, "42");
    EXPECT_EQ(ftell(fp), 8);
    EXPECT_EQ(fclose(fp), 0);
    EXPECT_TRUE(b.closed);
    EXPECT_EQ(b.data, "value=42;end");
    errno = 0;
    EXPECT_EQ(funopen(&b, nullptr, nullptr, nullptr, nullptr), nullptr);
    EXPECT_EQ(errno, EINVAL);
}

TEST(Funopen, DescriptorOfAFile) {
    char path[] = "/tmp/kvt_funopen_XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    unlink(path);
    FILE *fp = funopen_fd(fd, "w+");
    ASSERT_NE(fp, nullptr);
    fprintf(fp, "line %d\n", 1);
    rewind(fp);
    int n = 0;
    ASSERT_EQ(fscanf(fp, "line %d", &n), 1);
    EXPECT_EQ(n, 1);
    EXPECT_EQ(fclose(fp), 0);
    EXPECT_EQ(fcntl(fd, F_GETFD), -1); // closed with the stream
}

TEST(Funopen, SocketResetReadsAsEndOfStream) {
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    ASSERT_EQ(listen(listener, 1), 0);
    socklen_t len = sizeof addr;
    getsockname(listener, reinterpret_cast<sockaddr *>(&addr), &len);
    int client = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(connect(client, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    int server = accept(listener, nullptr, nullptr);
    ASSERT_GE(server, 0);

    FILE *fp = funopen_fd(client, "r+");
    ASSERT_NE(fp, nullptr);
    EXPECT_EQ(fseek(fp, 0, SEEK_SET), -1);
    fputs("ping", fp);
    fflush(fp);
    char buf[8] = {};
    ASSERT_EQ(recv(server, buf, 4, MSG_WAITALL), 4);
    EXPECT_STREQ(buf, "ping");

    // The peer sends a little, then resets the connection; what arrived stays readable and
    // then the stream ends without an error. The reset has landed once the stream ends.
    ASSERT_EQ(send(server, "pong", 4, 0), 4);
    linger lg{1, 0};
    setsockopt(server, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
    close(server);
    std::string got;
    int c;
    while ((c = fgetc(fp)) != EOF)
        got.push_back(static_cast<char>(c));
    EXPECT_TRUE(got == "pong" || got.empty()); // a reset may discard unread data
    EXPECT_TRUE(feof(fp));
    EXPECT_FALSE(ferror(fp));
    fclose(fp);
    close(listener);
}
