// Operations by name, traversal, and the structure and array types.
#include "structs.h"
#include "structs_type_array.h"
#include "structs_type_boolean.h"
#include "structs_type_float.h"
#include "structs_type_int.h"
#include "structs_type_string.h"
#include "structs_type_struct.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct LinkRecord {
    uint16_t Port;
    char PortName[16];
    float Gain;
};

struct Record {
    uint8_t Enable;
    LinkRecord Link;
    structs_array Tags; // of "string"
    uint32_t Ranges[4];
};

const structs_type k_name16 = STRUCTS_BOUNDEDSTRING_TYPE(16);

const structs_field k_link_fields[] = {
    STRUCTS_STRUCT_FIELD(LinkRecord, Port, &structs_type_uint16),
    STRUCTS_STRUCT_FIELD(LinkRecord, PortName, &k_name16),
    STRUCTS_STRUCT_FIELD(LinkRecord, Gain, &structs_type_float),
    STRUCTS_STRUCT_FIELD_END,
};
const structs_type k_link_type = STRUCTS_STRUCT_TYPE(LinkRecord, k_link_fields);
const structs_type k_tags_type = STRUCTS_ARRAY_TYPE(&structs_type_string, "test_tags", "tag");
const structs_type k_ranges_type =
    STRUCTS_FIXEDARRAY_TYPE(&structs_type_uint32, sizeof(uint32_t), 4, "range");

const structs_field k_record_fields[] = {
    STRUCTS_STRUCT_FIELD(Record, Enable, &structs_type_boolean_char_onoff),
    STRUCTS_STRUCT_FIELD(Record, Link, &k_link_type),
    STRUCTS_STRUCT_FIELD(Record, Tags, &k_tags_type),
    STRUCTS_STRUCT_FIELD(Record, Ranges, &k_ranges_type),
    STRUCTS_STRUCT_FIELD_END,
};
const structs_type k_record_type = STRUCTS_STRUCT_TYPE(Record, k_record_fields);

std::string get(const structs_type *t, const char *name, const void *data) {
    char *s = structs_get_string(t, name, data, "TEST");
    if (s == nullptr) return "<errno " + std::to_string(errno) + ">";
    std::string r(s);
    typed_mem_free("TEST", s);
    return r;
}

class RecordTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(structs_init(&k_record_type, nullptr, &rec), 0);
        ASSERT_EQ(structs_array_setsize(&k_record_type, "Tags", 3, &rec, 1), 0);
        set("Tags.0", "alpha");
        set("Tags.1", "beta");
        set("Tags.2", "gamma");
        set("Link.Port", "502");
        set("Link.PortName", "COM1");
        set("Enable", "on");
        set("Ranges.2", "9");
    }
    void TearDown() override { structs_free(&k_record_type, nullptr, &rec); }
    void set(const char *name, const char *text) {
        char ebuf[100];
        ASSERT_EQ(structs_set_string(&k_record_type, name, text, &rec, ebuf, sizeof ebuf), 0)
            << name << ": " << ebuf;
    }
    int find_errno(const char *name) {
        void *p = &rec;
        errno = 0;
        EXPECT_EQ(structs_find(&k_record_type, name, &p, 0), nullptr) << name;
        EXPECT_EQ(p, &rec) << name;
        return errno;
    }
    Record rec;
};

} // namespace

TEST_F(RecordTest, DottedPathsReachNestedFieldsAndElements) {
    void *p = &rec;
    EXPECT_EQ(structs_find(&k_record_type, "", &p, 0), &k_record_type);
    EXPECT_EQ(p, &rec);
    EXPECT_EQ(structs_find(&k_record_type, nullptr, &p, 0), &k_record_type);
    EXPECT_EQ(structs_find(&k_record_type, "Link.Port", &p, 0), &structs_type_uint16);
    EXPECT_EQ(p, &rec.Link.Port);
    p = &rec;
    EXPECT_EQ(structs_find(&k_record_type, "Link.PortName", &p, 0), &k_name16);
    EXPECT_EQ(p, rec.Link.PortName); // Port is a prefix of PortName and does not match it

    EXPECT_EQ(get(&k_record_type, "Link.Port", &rec), "502");
    EXPECT_EQ(get(&k_record_type, "Tags.2", &rec), "gamma");
    EXPECT_EQ(get(&k_record_type, "Ranges.2", &rec), "9");
    EXPECT_EQ(get(&k_record_type, "Enable", &rec), "On");
    EXPECT_EQ(get(&k_record_type, "Tags.length", &rec), "3");
    EXPECT_EQ(get(&k_record_type, "Ranges.length", &rec), "0");

    p = &rec;
    const structs_type *len = structs_find(&k_record_type, "Tags.length", &p, 0);
    ASSERT_NE(len, nullptr);
    EXPECT_STREQ(len->name, "uint");
    EXPECT_EQ(len->size, 4u);
    EXPECT_EQ(p, &rec.Tags.length);

    EXPECT_EQ(find_errno("Tags.lengthx"), ENOENT);
    EXPECT_EQ(find_errno("Tags.1x"), ENOENT);
    EXPECT_EQ(find_errno("Tags.length.x"), ENOENT);
    EXPECT_EQ(find_errno("Tags.-1"), ENOENT);
    EXPECT_EQ(find_errno("Tags.3"), EDOM);
    EXPECT_EQ(find_errno("Tags.99999999999999999999999"), EDOM);
    EXPECT_EQ(find_errno("Ranges.4"), EDOM);
    EXPECT_EQ(find_errno("Link.Por"), ENOENT);
    EXPECT_EQ(find_errno("Link.Port.x"), ENOENT);
    EXPECT_EQ(find_errno("Nothing"), ENOENT);
}

TEST_F(RecordTest, SetStringReportsErrorsInTheBuffer) {
    char ebuf[100];
    EXPECT_EQ(structs_set_string(&k_record_type, "Link.Port", "12x", &rec, ebuf, sizeof ebuf), -1);
    EXPECT_STREQ(ebuf, plat_ErrnoText(EINVAL));
    EXPECT_EQ(structs_set_string(&k_record_type, "Link.Port", "70000", &rec, ebuf, sizeof ebuf),
              -1);
    EXPECT_STREQ(ebuf, "integer value is out of range");
    EXPECT_EQ(structs_set_string(&k_record_type, "Missing", "1", &rec, ebuf, sizeof ebuf), -1);
    EXPECT_STREQ(ebuf, plat_ErrnoText(ENOENT));
    EXPECT_EQ(structs_set_string(&k_record_type, "Tags.length", "1", &rec, ebuf, sizeof ebuf), -1);
    EXPECT_STREQ(ebuf, "parsing from ASCII is not supported by this structs type");
    EXPECT_EQ(structs_set_string(&k_record_type, "Link", "1", &rec, ebuf, sizeof ebuf), -1);
    EXPECT_EQ(errno, KVT_ENOTSUPP);
    EXPECT_STREQ(ebuf, "parsing from ASCII is not supported by this structs type");
    EXPECT_EQ(structs_set_string(&k_record_type, "Link.Port", "bad", &rec, nullptr, 0), -1);
    EXPECT_EQ(get(&k_record_type, "Link.Port", &rec), "502");

    EXPECT_EQ(structs_set_string(&k_record_type, "Tags.1", nullptr, &rec, ebuf, sizeof ebuf), 0);
    EXPECT_EQ(get(&k_record_type, "Tags.1", &rec), "");
    char small[8];
    EXPECT_EQ(structs_set_string(&k_record_type, "Enable", "maybe", &rec, small, sizeof small), -1);
    EXPECT_STREQ(small, "invalid");

    EXPECT_EQ(structs_get_string(&k_record_type, "Link", &rec, "TEST"), nullptr);
    EXPECT_EQ(errno, KVT_ENOTSUPP);
    EXPECT_STREQ(plat_ErrnoText(KVT_ENOTSUPP), "Function not supported");
}

TEST_F(RecordTest, TraverseListsEveryLeaf) {
    char **names;
    int n = structs_traverse(&k_record_type, &rec, &names, "test_names");
    ASSERT_EQ(n, 11);
    const char *want[] = {"Enable", "Link.Port", "Link.PortName", "Link.Gain", "Tags.0",  "Tags.1",
                          "Tags.2", "Ranges.0",  "Ranges.1",      "Ranges.2",  "Ranges.3"};
    for (int i = 0; i < n; i++) {
        EXPECT_STREQ(names[i], want[i]);
        typed_mem_free("test_names", names[i]);
    }
    typed_mem_free("test_names", names);

    ASSERT_EQ(structs_array_reset(&k_record_type, "Tags", &rec), 0);
    n = structs_traverse(&k_record_type, &rec, &names, "test_names");
    EXPECT_EQ(n, 8); // the empty array lists nothing
    for (int i = 0; i < n; i++)
        typed_mem_free("test_names", names[i]);
    typed_mem_free("test_names", names);

    uint16_t v = 1;
    ASSERT_EQ(structs_traverse(&structs_type_uint16, &v, &names, "test_names"), 1);
    EXPECT_STREQ(names[0], "");
    typed_mem_free("test_names", names[0]);
    typed_mem_free("test_names", names);
}

TEST_F(RecordTest, CopyEqualEncodeDecodeOfTheWholeRecord) {
    Record copy;
    ASSERT_EQ(k_record_type.copy(&k_record_type, &rec, &copy), 0);
    EXPECT_EQ(k_record_type.equal(&k_record_type, &rec, &copy), 1);
    EXPECT_NE(copy.Tags.elems, rec.Tags.elems);
    EXPECT_EQ(structs_equal(&k_record_type, "Tags", &rec, &copy), 1);
    EXPECT_EQ(structs_set_string(&k_record_type, "Tags.0", "changed", &copy, nullptr, 0), 0);
    EXPECT_EQ(k_record_type.equal(&k_record_type, &rec, &copy), 0);
    EXPECT_EQ(structs_equal(&k_record_type, "Link", &rec, &copy), 1);

    structs_data code{};
    ASSERT_EQ(k_record_type.encode(&k_record_type, "TEST", &code, &rec), 0);
    Record back;
    char ebuf[100];
    ASSERT_EQ(
        k_record_type.decode(&k_record_type, code.data, code.length, &back, ebuf, sizeof ebuf),
        static_cast<int>(code.length));
    EXPECT_EQ(k_record_type.equal(&k_record_type, &rec, &back), 1);
    EXPECT_EQ(get(&k_record_type, "Tags.2", &back), "gamma");
    // Every strict prefix is refused, and nothing is left allocated.
    for (uint32_t len = 0; len < code.length; len++) {
        Record partial;
        EXPECT_EQ(k_record_type.decode(&k_record_type, code.data, len, &partial, ebuf, sizeof ebuf),
                  -1)
            << len;
    }
    typed_mem_free("TEST", code.data);
    structs_free(&k_record_type, nullptr, &back);
    structs_free(&k_record_type, nullptr, &copy);
}

TEST_F(RecordTest, ByNameCopyResetSetAndBinary) {
    LinkRecord out;
    ASSERT_EQ(structs_get(&k_record_type, "Link", &rec, &out), 0);
    EXPECT_EQ(out.Port, 502);
    out.Port = 7;
    ASSERT_EQ(structs_set(&k_record_type, &out, "Link", &rec), 0);
    EXPECT_EQ(rec.Link.Port, 7);
    ASSERT_EQ(structs_reset(&k_record_type, "Link", &rec), 0);
    EXPECT_EQ(rec.Link.Port, 0);
    EXPECT_STREQ(rec.Link.PortName, "");

    structs_data code{};
    ASSERT_EQ(structs_get_binary(&k_record_type, "Tags", &rec, "TEST", &code), 0);
    Record other;
    ASSERT_EQ(structs_init(&k_record_type, nullptr, &other), 0);
    char ebuf[100];
    EXPECT_EQ(structs_set_binary(&k_record_type, "Tags", &code, &other, ebuf, sizeof ebuf),
              static_cast<int>(code.length));
    EXPECT_EQ(get(&k_record_type, "Tags.1", &other), "beta");
    typed_mem_free("TEST", code.data);
    structs_free(&k_record_type, nullptr, &other);
}

TEST_F(RecordTest, VariableArrayOperations) {
    EXPECT_EQ(structs_array_length(&k_record_type, "Tags", &rec), 3);
    ASSERT_EQ(structs_array_insert(&k_record_type, "Tags", 1, &rec), 0);
    EXPECT_EQ(get(&k_record_type, "Tags.1", &rec), "");
    EXPECT_EQ(get(&k_record_type, "Tags.2", &rec), "beta");
    ASSERT_EQ(structs_array_delete(&k_record_type, "Tags", 0, &rec), 0);
    EXPECT_EQ(get(&k_record_type, "Tags.0", &rec), "");
    EXPECT_EQ(structs_array_length(&k_record_type, "Tags", &rec), 3);
    EXPECT_EQ(structs_array_insert(&k_record_type, "Tags", 4, &rec), -1);
    EXPECT_EQ(errno, EDOM);
    EXPECT_EQ(structs_array_delete(&k_record_type, "Tags", 3, &rec), -1);
    EXPECT_EQ(errno, EDOM);
    EXPECT_EQ(structs_array_length(&k_record_type, "Link", &rec), -1);
    EXPECT_EQ(errno, EINVAL);

    ASSERT_EQ(structs_array_prep(&k_record_type, "Tags.6", &rec), 0);
    EXPECT_EQ(structs_array_length(&k_record_type, "Tags", &rec), 7);
    EXPECT_EQ(get(&k_record_type, "Tags.6", &rec), "");
    ASSERT_EQ(structs_array_setsize(&k_record_type, "Tags", 1, &rec, 0), 0);
    EXPECT_EQ(get(&k_record_type, "Tags.0", &rec), "");
    EXPECT_EQ(get(&k_record_type, "Tags.1", &rec), "<errno 33>");
}

namespace {

// A record of nine fields: the bitmap takes two bytes.
struct Nine {
    uint8_t f[9];
};
const structs_field k_nine_fields[] = {
    STRUCTS_STRUCT_FIELD(Nine, f[0], &structs_type_uint8),
    STRUCTS_STRUCT_FIELD(Nine, f[1], &structs_type_uint8),
    STRUCTS_STRUCT_FIELD(Nine, f[2], &structs_type_uint8),
    STRUCTS_STRUCT_FIELD(Nine, f[3], &structs_type_uint8),
    STRUCTS_STRUCT_FIELD(Nine, f[4], &structs_type_uint8),
    STRUCTS_STRUCT_FIELD(Nine, f[5], &structs_type_uint8),
    STRUCTS_STRUCT_FIELD(Nine, f[6], &structs_type_uint8),
    STRUCTS_STRUCT_FIELD(Nine, f[7], &structs_type_uint8),
    STRUCTS_STRUCT_FIELD(Nine, f[8], &structs_type_uint8),
    STRUCTS_STRUCT_FIELD_END,
};
const structs_type k_nine_type = STRUCTS_STRUCT_TYPE(Nine, k_nine_fields);

std::vector<uint8_t> encode(const structs_type *t, const void *data) {
    structs_data code{};
    EXPECT_EQ(t->encode(t, "TEST", &code, data), 0);
    std::vector<uint8_t> out(code.data, code.data + code.length);
    typed_mem_free("TEST", code.data);
    return out;
}

} // namespace

TEST(StructureType, BitmapOfPresentFields) {
    Nine n;
    ASSERT_EQ(k_nine_type.init(&k_nine_type, &n), 0);
    EXPECT_EQ(encode(&k_nine_type, &n), (std::vector<uint8_t>{0, 0}));
    n.f[8] = 0x42;
    n.f[1] = 0x07;
    EXPECT_EQ(encode(&k_nine_type, &n), (std::vector<uint8_t>{0x02, 0x01, 0x07, 0x42}));
    Nine back;
    const uint8_t defaults[2] = {0, 0};
    ASSERT_EQ(k_nine_type.decode(&k_nine_type, defaults, 2, &back, nullptr, 0), 2);
    for (uint8_t b : back.f)
        EXPECT_EQ(b, 0);
    char ebuf[64];
    errno = 0;
    EXPECT_EQ(k_nine_type.decode(&k_nine_type, defaults, 1, &back, ebuf, sizeof ebuf), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_STREQ(ebuf, "encoded structure is truncated");

    // No text form of its own.
    errno = 0;
    EXPECT_EQ(k_nine_type.ascify(&k_nine_type, "TEST", &n), nullptr);
    EXPECT_EQ(errno, KVT_ENOTSUPP);
    EXPECT_EQ(k_nine_type.binify(&k_nine_type, "x", &n, ebuf, sizeof ebuf), -1);
    EXPECT_STREQ(ebuf, "parsing from ASCII is not supported by this structs type");
}

namespace {

// The third field's type refuses to copy.
struct Three {
    char *a;
    char *b;
    uint32_t c;
};
const structs_type k_nocopy_type = {sizeof(uint32_t),       "nocopy",
                                    STRUCTS_TYPE_PRIMITIVE, structs_region_init,
                                    structs_notsupp_copy,   structs_region_equal,
                                    structs_notsupp_ascify, structs_notsupp_binify,
                                    structs_notsupp_encode, structs_notsupp_decode,
                                    structs_nothing_free,   {{.i = 0}, {.i = 0}, {.i = 0}}};
const structs_field k_three_fields[] = {
    STRUCTS_STRUCT_FIELD(Three, a, &structs_type_string),
    STRUCTS_STRUCT_FIELD(Three, b, &structs_type_string),
    STRUCTS_STRUCT_FIELD(Three, c, &k_nocopy_type),
    STRUCTS_STRUCT_FIELD_END,
};
const structs_type k_three_type = STRUCTS_STRUCT_TYPE(Three, k_three_fields);

} // namespace

TEST(StructureType, FailedCopyLeavesTheDestinationZeroed) {
    Three src;
    ASSERT_EQ(k_three_type.init(&k_three_type, &src), 0);
    Three dst;
    memset(&dst, 0x5a, sizeof dst);
    errno = 0;
    EXPECT_EQ(k_three_type.copy(&k_three_type, &src, &dst), -1);
    EXPECT_EQ(errno, KVT_ENOTSUPP);
    const Three zero{};
    EXPECT_EQ(memcmp(&dst, &zero, sizeof dst), 0);
    src.c = 1;
    structs_data code{};
    EXPECT_EQ(k_three_type.encode(&k_three_type, "TEST", &code, &src), -1);
    k_three_type.uninit(&k_three_type, &src);
    EXPECT_EQ(src.a, nullptr);
}

TEST(StructureTypeDeath, FieldSizeMustMatchItsType) {
    struct Bad {
        uint32_t x;
    };
    static const structs_field fields[] = {
        {"x", &structs_type_uint16, 4, 0},
        STRUCTS_STRUCT_FIELD_END,
    };
    static const structs_type bad = STRUCTS_STRUCT_TYPE(Bad, fields);
    Bad b;
    EXPECT_DEATH(bad.init(&bad, &b), "structs/type/structs_type_struct.cpp:[0-9]+: f->size");
}

namespace {
const structs_type k_fixed64 = STRUCTS_FIXEDARRAY_TYPE(&structs_type_uint8, 1, 64, "item");
const structs_type k_var_uint8 = STRUCTS_ARRAY_TYPE(&structs_type_uint8, "test_elems", "item");
} // namespace

TEST(ArrayTypes, SixtyFourElements) {
    uint8_t fixed[64];
    ASSERT_EQ(k_fixed64.init(&k_fixed64, fixed), 0);
    fixed[63] = 5;
    std::vector<uint8_t> code = encode(&k_fixed64, fixed);
    ASSERT_EQ(code.size(), 9u); // 8-byte bitmap, no length word
    EXPECT_EQ(code[7], 0x80);
    EXPECT_EQ(code[8], 5);
    uint8_t back[64];
    ASSERT_EQ(k_fixed64.decode(&k_fixed64, code.data(), code.size(), back, nullptr, 0), 9);
    EXPECT_EQ(k_fixed64.equal(&k_fixed64, fixed, back), 1);
    char ebuf[64];
    EXPECT_EQ(k_fixed64.decode(&k_fixed64, code.data(), 7, back, ebuf, sizeof ebuf), -1);
    EXPECT_STREQ(ebuf, "encoded array is truncated");

    structs_array var{};
    ASSERT_EQ(structs_array_setsize(&k_var_uint8, nullptr, 64, &var, 1), 0);
    code = encode(&k_var_uint8, &var);
    ASSERT_EQ(code.size(), 12u);
    EXPECT_EQ(std::vector<uint8_t>(code.begin(), code.begin() + 4),
              (std::vector<uint8_t>{0, 0, 0, 0x40}));
    structs_array vback{};
    ASSERT_EQ(k_var_uint8.decode(&k_var_uint8, code.data(), code.size(), &vback, nullptr, 0), 12);
    EXPECT_EQ(vback.length, 64u);
    EXPECT_EQ(k_var_uint8.equal(&k_var_uint8, &var, &vback), 1);
    structs_free(&k_var_uint8, nullptr, &vback);
    structs_free(&k_var_uint8, nullptr, &var);
    EXPECT_EQ(var.length, 0u);
    EXPECT_EQ(var.elems, nullptr);
}

TEST(ArrayTypes, HugeDecodedLengthIsTruncationNotAnAllocation) {
    const uint8_t code[] = {0xff, 0xff, 0xff, 0xff, 0, 0, 0};
    structs_array var{};
    char ebuf[64];
    errno = 0;
    EXPECT_EQ(k_var_uint8.decode(&k_var_uint8, code, sizeof code, &var, ebuf, sizeof ebuf), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_STREQ(ebuf, "encoded array is truncated");
    EXPECT_EQ(k_var_uint8.decode(&k_var_uint8, code, 3, &var, ebuf, sizeof ebuf), -1);
    EXPECT_EQ(var.elems, nullptr);

    // 2^23 absent elements in a 1 MiB bitmap: a valid array, decoded in its own 8 MiB and
    // nothing per element beside it, under a data limit of 64 MiB more than the process has.
    std::vector<uint8_t> big(4 + (1u << 20), 0);
    big[1] = 0x80;
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        long kib = 0;
        FILE *status = fopen("/proc/self/status", "r");
        char line[256];
        while (status != nullptr && fgets(line, sizeof line, status) != nullptr)
            if (sscanf(line, "VmData: %ld kB", &kib) == 1) break;
        if (status != nullptr) fclose(status);
        rlim_t limit = static_cast<rlim_t>(kib + 64 * 1024) * 1024;
        struct rlimit data = {limit, limit};
        if (kib == 0 || setrlimit(RLIMIT_DATA, &data) != 0) _exit(2);
        try {
            structs_array back{};
            int used = k_var_uint8.decode(&k_var_uint8, big.data(), big.size(), &back, nullptr, 0);
            _exit(used == static_cast<int>(big.size()) && back.length == (1u << 23) ? 0 : 3);
        } catch (...) {
            _exit(4);
        }
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
}

namespace {

// A union of an integer and a text, with the library's handling of the class.
const structs_ufield k_choice_fields[] = {
    {"number", &structs_type_uint32},
    {"text", &structs_type_string},
    {nullptr, nullptr},
};
const structs_type k_choice_type = {
    sizeof(structs_union),  "union",
    STRUCTS_TYPE_UNION,     structs_notsupp_init,
    structs_notsupp_copy,   structs_notsupp_equal,
    structs_notsupp_ascify, structs_notsupp_binify,
    structs_notsupp_encode, structs_notsupp_decode,
    structs_nothing_free,   {{.v = k_choice_fields}, {.s = "test_union"}, {.i = 0}}};

} // namespace

TEST(UnionClass, FieldNameAndSwitchingFields) {
    structs_union u{"number", typed_mem_calloc("test_union", 1, 4)};
    EXPECT_EQ(get(&k_choice_type, "field_name", &u), "number");
    ASSERT_EQ(structs_set_string(&k_choice_type, "number", "17", &u, nullptr, 0), 0);
    EXPECT_EQ(get(&k_choice_type, "number", &u), "17");
    EXPECT_EQ(get(&k_choice_type, "text", &u), "<errno 2>");
    char **names;
    ASSERT_EQ(structs_traverse(&k_choice_type, &u, &names, "TEST"), 1);
    EXPECT_STREQ(names[0], "number");
    typed_mem_free("TEST", names[0]);
    typed_mem_free("TEST", names);

    ASSERT_EQ(structs_set_string(&k_choice_type, "text", "hello", &u, nullptr, 0), 0);
    EXPECT_STREQ(u.field_name, "text");
    EXPECT_EQ(get(&k_choice_type, "text", &u), "hello");
    EXPECT_EQ(structs_set_string(&k_choice_type, "other", "1", &u, nullptr, 0), -1);
    EXPECT_STREQ(u.field_name, "text");
    structs_type_string.uninit(&structs_type_string, u.un);
    typed_mem_free("test_union", u.un);
}
