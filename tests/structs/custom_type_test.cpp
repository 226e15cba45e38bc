// A type defined outside the library takes part in every operation through its method slots.
#include "structs.h"
#include "structs_type_array.h"
#include "structs_type_int.h"
#include "structs_type_struct.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

namespace {

// "percent": one byte 0..100 written "NN%", default 50, with an owned text label allocated
// beside it so that uninit has something to release.
struct Percent {
    uint8_t value;
    char *label;
};

std::map<std::string, int> g_calls;

int percent_init(const structs_type *, void *data) {
    g_calls["init"]++;
    auto *p = static_cast<Percent *>(data);
    p->value = 50;
    p->label = typed_mem_strdup("percent_label", "half");
    return p->label ? 0 : -1;
}

int percent_copy(const structs_type *, const void *from, void *to) {
    g_calls["copy"]++;
    const auto *f = static_cast<const Percent *>(from);
    auto *t = static_cast<Percent *>(to);
    t->value = f->value;
    t->label = typed_mem_strdup("percent_label", f->label);
    return t->label ? 0 : -1;
}

int percent_equal(const structs_type *, const void *a, const void *b) {
    g_calls["equal"]++;
    return static_cast<const Percent *>(a)->value == static_cast<const Percent *>(b)->value;
}

char *percent_ascify(const structs_type *, const char *mtype, const void *data) {
    g_calls["ascify"]++;
    char *out;
    return typed_mem_asprintf(mtype, &out, "%u%%", static_cast<const Percent *>(data)->value) == -1
               ? nullptr
               : out;
}

int percent_binify(const structs_type *, const char *ascii, void *data, char *ebuf, size_t emax) {
    g_calls["binify"]++;
    unsigned v;
    char rest;
    if (sscanf(ascii, "%u%%%c", &v, &rest) != 1 || strchr(ascii, '%') == nullptr || v > 100) {
        structs_set_error(ebuf, emax, "invalid percentage \"%s\"", ascii);
        errno = EINVAL;
        return -1;
    }
    static_cast<Percent *>(data)->value = static_cast<uint8_t>(v);
    return 0;
}

int percent_encode(const structs_type *, const char *mtype, structs_data *code, const void *data) {
    g_calls["encode"]++;
    code->data = static_cast<uint8_t *>(typed_mem_realloc(mtype, nullptr, 1));
    if (code->data == nullptr) return -1;
    code->data[0] = static_cast<const Percent *>(data)->value;
    code->length = 1;
    return 0;
}

int percent_decode(const structs_type *type, const uint8_t *code, size_t cmax, void *data,
                   char *ebuf, size_t emax) {
    g_calls["decode"]++;
    if (cmax < 1) {
        structs_set_error(ebuf, emax, "no percentage");
        errno = EINVAL;
        return -1;
    }
    if (percent_init(type, data) == -1) return -1;
    static_cast<Percent *>(data)->value = code[0];
    return 1;
}

void percent_uninit(const structs_type *, void *data) {
    g_calls["uninit"]++;
    auto *p = static_cast<Percent *>(data);
    typed_mem_free("percent_label", p->label);
    p->label = nullptr;
}

const structs_type k_percent_type = {
    sizeof(Percent), "percent",      STRUCTS_TYPE_PRIMITIVE, percent_init,
    percent_copy,    percent_equal,  percent_ascify,         percent_binify,
    percent_encode,  percent_decode, percent_uninit,         {{.i = 0}, {.i = 0}, {.i = 0}}};

struct Tank {
    uint16_t Id;
    Percent Level;
    structs_array History; // of Percent
};

const structs_type k_history_type = STRUCTS_ARRAY_TYPE(&k_percent_type, "tank_history", "level");
const structs_field k_tank_fields[] = {
    STRUCTS_STRUCT_FIELD(Tank, Id, &structs_type_uint16),
    STRUCTS_STRUCT_FIELD(Tank, Level, &k_percent_type),
    STRUCTS_STRUCT_FIELD(Tank, History, &k_history_type),
    STRUCTS_STRUCT_FIELD_END,
};
const structs_type k_tank_type = STRUCTS_STRUCT_TYPE(Tank, k_tank_fields);

std::string get(const char *name, const Tank &t) {
    char *s = structs_get_string(&k_tank_type, name, &t, "TEST");
    if (s == nullptr) return "<errno " + std::to_string(errno) + ">";
    std::string r(s);
    typed_mem_free("TEST", s);
    return r;
}

} // namespace

TEST(CustomType, TakesPartInEveryOperation) {
    g_calls.clear();
    Tank tank;
    ASSERT_EQ(structs_init(&k_tank_type, nullptr, &tank), 0);
    EXPECT_EQ(get("Level", tank), "50%");
    ASSERT_EQ(structs_array_setsize(&k_tank_type, "History", 2, &tank, 1), 0);
    char ebuf[80];
    ASSERT_EQ(structs_set_string(&k_tank_type, "Level", "75%", &tank, ebuf, sizeof ebuf), 0);
    ASSERT_EQ(structs_set_string(&k_tank_type, "History.1", "20%", &tank, ebuf, sizeof ebuf), 0);
    EXPECT_EQ(structs_set_string(&k_tank_type, "Level", "120%", &tank, ebuf, sizeof ebuf), -1);
    EXPECT_STREQ(ebuf, "invalid percentage \"120%\"");
    EXPECT_EQ(get("Level", tank), "75%");
    EXPECT_EQ(get("History.1", tank), "20%");

    char **names;
    ASSERT_EQ(structs_traverse(&k_tank_type, &tank, &names, "TEST"), 4);
    EXPECT_STREQ(names[1], "Level");
    EXPECT_STREQ(names[3], "History.1");
    for (int i = 0; i < 4; i++)
        typed_mem_free("TEST", names[i]);
    typed_mem_free("TEST", names);

    Tank copy;
    ASSERT_EQ(k_tank_type.copy(&k_tank_type, &tank, &copy), 0);
    EXPECT_EQ(k_tank_type.equal(&k_tank_type, &tank, &copy), 1);
    EXPECT_NE(copy.Level.label, tank.Level.label);

    // Only the members that differ from the type's default are encoded: Level and History.1.
    structs_data code{};
    ASSERT_EQ(k_tank_type.encode(&k_tank_type, "TEST", &code, &tank), 0);
    const uint8_t want[] = {0x06, 75, 0, 0, 0, 2, 0x02, 20};
    ASSERT_EQ(code.length, sizeof want);
    EXPECT_EQ(memcmp(code.data, want, sizeof want), 0);
    Tank back;
    ASSERT_EQ(k_tank_type.decode(&k_tank_type, code.data, code.length, &back, ebuf, sizeof ebuf),
              static_cast<int>(sizeof want));
    EXPECT_EQ(k_tank_type.equal(&k_tank_type, &tank, &back), 1);
    EXPECT_EQ(get("History.0", back), "50%");
    typed_mem_free("TEST", code.data);

    ASSERT_EQ(structs_reset(&k_tank_type, "Level", &back), 0);
    EXPECT_EQ(get("Level", back), "50%");
    ASSERT_EQ(structs_set(&k_tank_type, &tank.Level, "History.0", &back), 0);
    EXPECT_EQ(get("History.0", back), "75%");
    EXPECT_EQ(structs_equal(&k_tank_type, "History.0", &back, &tank), 0);

    for (const char *slot :
         {"init", "copy", "equal", "ascify", "binify", "encode", "decode", "uninit"})
        EXPECT_GT(g_calls[slot], 0) << slot;

    structs_free(&k_tank_type, nullptr, &back);
    structs_free(&k_tank_type, nullptr, &copy);
    structs_free(&k_tank_type, nullptr, &tank);
    EXPECT_EQ(tank.Level.label, nullptr);
}
