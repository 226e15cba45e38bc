// Base64 filters through both stream modes, with the RFC 4648 vectors.
#include "base64.h"
#include "filter.h"
#include "typed_mem.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

namespace {

const std::pair<const char *, const char *> k_vectors[] = {
    {"", ""},
    {"f", "Zg=="},
    {"fo", "Zm8="},
    {"foo", "Zm9v"},
    {"foob", "Zm9vYg=="},
    {"fooba", "Zm9vYmE="},
    {"foobar", "Zm9vYmFy"},
};

// Writes text through a filter stream in mode "w" over a memory stream.
std::string through_writer(filter *f, const std::string &text) {
    char *buf = nullptr;
    size_t len = 0;
    FILE *mem = open_memstream(&buf, &len);
    FILE *fp = filter_fopen(f, mem, "w");
    EXPECT_NE(fp, nullptr);
    fwrite(text.data(), 1, text.size(), fp);
    EXPECT_EQ(fclose(fp), 0);
    fclose(mem); // still open after the filter stream closed
    std::string out(buf, len);
    free(buf);
    return out;
}

// Reads everything through a filter stream in mode "r" over a memory stream.
std::string through_reader(filter *f, const std::string &text, bool *error = nullptr) {
    FILE *mem = fmemopen(const_cast<char *>(text.data()), text.size() + 1, "r");
    std::string src = text;
    fclose(mem);
    mem = fmemopen(src.data(), src.size() ? src.size() : 1, "r");
    if (src.empty()) fgetc(mem); // nothing to read
    FILE *fp = filter_fopen(f, mem, "r");
    std::string out;
    char buf[7];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, fp)) > 0)
        out.append(buf, n);
    if (error) *error = ferror(fp) != 0;
    fclose(fp);
    fclose(mem);
    return out;
}

} // namespace

TEST(Base64, RfcVectorsBothWaysThroughBothModes) {
    for (const auto &[plain, coded] : k_vectors) {
        EXPECT_EQ(through_writer(b64_encoder_create(nullptr), plain), coded) << plain;
        EXPECT_EQ(through_reader(b64_encoder_create(nullptr), plain), coded) << plain;
        EXPECT_EQ(through_writer(b64_decoder_create(nullptr), coded), plain) << coded;
        EXPECT_EQ(through_reader(b64_decoder_create(nullptr), coded), plain) << coded;
    }
}

TEST(Base64, DecoderSkipsWhiteSpaceStopsAtThePadAndRefusesStrangers) {
    EXPECT_EQ(through_writer(b64_decoder_create(nullptr), " Zm9v\nYmFy\r\n"), "foobar");
    EXPECT_EQ(through_writer(b64_decoder_create(nullptr), "Zg==Zm9v"), "f");
    bool error = false;
    through_reader(b64_decoder_create(nullptr), "Zm9v*YmFy", &error);
    EXPECT_TRUE(error);

    filter *f = b64_decoder_create(nullptr);
    errno = 0;
    EXPECT_EQ(f->write(f, "Zm!", 3), -1);
    EXPECT_EQ(errno, EINVAL);
    f->destroy(&f);
    EXPECT_EQ(f, nullptr);
}

TEST(Base64, CallerAlphabet) {
    const char *url = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_.";
    filter *f = b64_encoder_create(url);
    char *out;
    int len;
    const unsigned char bytes[] = {0xfb, 0xff};
    ASSERT_EQ(filter_convert(f, bytes, 2, "TEST", &out, &len), 0);
    EXPECT_STREQ(out, "-_8.");
    typed_mem_free("TEST", out);
    f->destroy(&f);
    errno = 0;
    EXPECT_EQ(b64_encoder_create("ABC"), nullptr);
    EXPECT_EQ(errno, EINVAL);
    f = b64_encoder_create(nullptr);
    EXPECT_EQ(filter_fopen(f, stdout, "a"), nullptr);
    f->destroy(&f);
}
