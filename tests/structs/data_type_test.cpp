// The variable-length "data" type: base64 and hex texts, and its binary form.
#include "structs.h"
#include "structs_type_data.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace {

std::string text_of(const structs_type *t, const structs_data &d) {
    char *s = t->ascify(t, "TEST", &d);
    std::string r = s ? s : "<null>";
    typed_mem_free("TEST", s);
    return r;
}

} // namespace

TEST(DataType, TextFormsAndBinaryForm) {
    structs_data d{}, h{};
    char ebuf[64];
    ASSERT_EQ(structs_set_string(&structs_type_data, nullptr, "Zm9vYmFy", &d, ebuf, sizeof ebuf),
              0);
    ASSERT_EQ(d.length, 6u);
    EXPECT_EQ(memcmp(d.data, "foobar", 6), 0);
    EXPECT_EQ(text_of(&structs_type_data, d), "Zm9vYmFy");
    EXPECT_EQ(text_of(&structs_type_hexdata, d), "666f6f626172");
    ASSERT_EQ(structs_set_string(&structs_type_hexdata, nullptr, "66 6F 6f", &h, ebuf, sizeof ebuf),
              0);
    EXPECT_EQ(text_of(&structs_type_data, h), "Zm9v");

    EXPECT_EQ(structs_set_string(&structs_type_data, nullptr, "Zm9v*", &d, ebuf, sizeof ebuf), -1);
    EXPECT_STREQ(ebuf, "invalid encoded binary data");
    EXPECT_EQ(structs_set_string(&structs_type_hexdata, nullptr, "6g", &h, ebuf, sizeof ebuf), -1);
    EXPECT_STREQ(ebuf, "non-hex character seen");
    EXPECT_EQ(structs_set_string(&structs_type_hexdata, nullptr, "666", &h, ebuf, sizeof ebuf), -1);
    EXPECT_STREQ(ebuf, "odd length hex sequence");
    EXPECT_EQ(errno, EINVAL);

    structs_data code{};
    ASSERT_EQ(structs_type_data.encode(&structs_type_data, "TEST", &code, &d), 0);
    ASSERT_EQ(code.length, 10u);
    EXPECT_EQ(code.data[3], 6);
    structs_data back{};
    ASSERT_EQ(structs_type_data.decode(&structs_type_data, code.data, code.length, &back, ebuf,
                                       sizeof ebuf),
              10);
    EXPECT_EQ(structs_type_data.equal(&structs_type_data, &d, &back), 1);
    EXPECT_EQ(structs_type_data.decode(&structs_type_data, code.data, 3, &back, ebuf, sizeof ebuf),
              -1);
    EXPECT_STREQ(ebuf, "encoded data is corrupted");
    EXPECT_EQ(structs_type_data.decode(&structs_type_data, code.data, 9, &back, ebuf, sizeof ebuf),
              -1);
    typed_mem_free("TEST", code.data);

    structs_data copy;
    ASSERT_EQ(structs_type_data.copy(&structs_type_data, &d, &copy), 0);
    EXPECT_NE(copy.data, d.data);
    EXPECT_EQ(structs_type_data.equal(&structs_type_data, &copy, &d), 1);
    for (structs_data *v : {&d, &h, &back, &copy})
        structs_type_data.uninit(&structs_type_data, v);
    EXPECT_EQ(d.data, nullptr);
}
