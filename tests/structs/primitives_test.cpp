// Text and binary forms of the primitive types: round trips, limits, malformed texts.
#include "structs.h"
#include "structs_type_boolean.h"
#include "structs_type_fixeddata.h"
#include "structs_type_float.h"
#include "structs_type_id.h"
#include "structs_type_int.h"
#include "structs_type_string.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

// Text of a value, or "<null errno N>".
std::string text_of(const structs_type *t, const void *data) {
    char *s = structs_get_string(t, nullptr, data, "TEST");
    if (s == nullptr) return "<null errno " + std::to_string(errno) + ">";
    std::string r(s);
    typed_mem_free("TEST", s);
    return r;
}

struct Parse {
    int result;
    int err;
    std::string msg;
};

Parse parse(const structs_type *t, const char *text, void *data) {
    char ebuf[128];
    memset(ebuf, 'z', sizeof ebuf);
    errno = 0;
    int r = t->binify(t, text, data, ebuf, sizeof ebuf);
    Parse p{r, errno, ""};
    if (r == -1 && ebuf[0] != 'z') p.msg = ebuf;
    return p;
}

// Text -> value -> text, then encode -> decode -> text.
std::string round_trip(const structs_type *t, const char *text) {
    std::vector<uint8_t> value(t->size), back(t->size);
    EXPECT_EQ(t->init(t, value.data()), 0);
    char ebuf[100] = "";
    if (structs_set_string(t, nullptr, text, value.data(), ebuf, sizeof ebuf) != 0) {
        t->uninit(t, value.data());
        return std::string("<error ") + ebuf + ">";
    }
    std::string printed = text_of(t, value.data());
    structs_data code{};
    EXPECT_EQ(t->encode(t, "TEST", &code, value.data()), 0);
    EXPECT_EQ(t->decode(t, code.data, code.length, back.data(), ebuf, sizeof ebuf),
              static_cast<int>(code.length));
    EXPECT_EQ(t->equal(t, value.data(), back.data()), 1);
    EXPECT_EQ(text_of(t, back.data()), printed);
    typed_mem_free("TEST", code.data);
    t->uninit(t, value.data());
    t->uninit(t, back.data());
    return printed;
}

} // namespace

TEST(IntegerTypes, LimitsOfEveryWidthRoundTrip) {
    struct Case {
        const structs_type *type;
        const char *in;
        const char *out;
    } cases[] = {
        {&structs_type_uint8, "255", "255"},
        {&structs_type_int8, "-128", "-128"},
        {&structs_type_int8, "200", "-56"},
        {&structs_type_hint8, "-1", "0xff"},
        {&structs_type_hint8, "10", "0x0a"},
        {&structs_type_hchar, "10", "0x0a"},
        {&structs_type_uint16, "65535", "65535"},
        {&structs_type_int16, "-32768", "-32768"},
        {&structs_type_int16, "65535", "-1"},
        {&structs_type_hint16, "0x1234", "0x1234"},
        {&structs_type_uint32, "4294967295", "4294967295"},
        {&structs_type_int32, "-2147483648", "-2147483648"},
        {&structs_type_hint32, "10", "0xa"},
        {&structs_type_hint, "10", "0xa"},
        {&structs_type_long, "0xFFFFFFFF", "-1"},
        {&structs_type_ulong, "0xFFFFFFFF", "4294967295"},
        {&structs_type_hlong, "255", "0xff"},
        {&structs_type_int64, "-9223372036854775808", "-9223372036854775808"},
        {&structs_type_int64, "9223372036854775807", "9223372036854775807"},
        {&structs_type_uint64, "9223372036854775807", "9223372036854775807"},
        {&structs_type_hint64, "-1", "0xffffffffffffffff"},
        {&structs_type_ushort, " 12 ", "12"},
        {&structs_type_uint16, "0x10", "16"},
        {&structs_type_uint16, "010", "8"},
        {&structs_type_uchar, "+7", "7"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(round_trip(c.type, c.in), c.out) << c.in << " as " << c.type->name;
}

TEST(IntegerTypes, MalformedAndOutOfRangeTexts) {
    uint64_t v = 0;
    struct Case {
        const structs_type *type;
        const char *in;
        const char *msg;
    } cases[] = {
        {&structs_type_uint16, "-1", "integer value is out of range"},
        {&structs_type_uint16, "65536", "integer value is out of range"},
        {&structs_type_int8, "-129", "integer value is out of range"},
        {&structs_type_uint8, "256", "integer value is out of range"},
        {&structs_type_int32, "4294967296", "integer value is out of range"},
        {&structs_type_int64, "9223372036854775808", "integer value is out of range"},
        {&structs_type_int64, "-9223372036854775809", "integer value is out of range"},
        {&structs_type_uint64, "-1", "integer value is out of range"},
        {&structs_type_uint8, "-1", "integer value is out of range"},
        {&structs_type_uint16, "", "invalid integer value"},
        {&structs_type_uint16, "abc", "invalid integer value"},
        {&structs_type_uint16, "12a", ""}, // no words of its own
        {&structs_type_uint16, "08", ""},
        {&structs_type_uint16, "1 2", ""},
    };
    for (const Case &c : cases) {
        Parse p = parse(c.type, c.in, &v);
        EXPECT_EQ(p.result, -1) << c.in;
        EXPECT_EQ(p.err, EINVAL) << c.in;
        EXPECT_EQ(p.msg, c.msg) << c.in;
    }
}

TEST(IntegerTypes, NetworkOrderAndTruncatedDecode) {
    uint16_t v = 0x1234;
    structs_data code{};
    ASSERT_EQ(structs_type_uint16.encode(&structs_type_uint16, "TEST", &code, &v), 0);
    ASSERT_EQ(code.length, 2u);
    EXPECT_EQ(code.data[0], 0x12);
    EXPECT_EQ(code.data[1], 0x34);
    char ebuf[64] = "";
    uint32_t w = 7;
    errno = 0;
    EXPECT_EQ(structs_type_uint32.decode(&structs_type_uint32, code.data, code.length, &w, ebuf,
                                         sizeof ebuf),
              -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_STREQ(ebuf, "encoded data is truncated");
    EXPECT_EQ(w, 7u);
    typed_mem_free("TEST", code.data);

    // A size kind beyond the table is a range fault of the descriptor.
    const structs_type bad = {4,
                              "uint",
                              STRUCTS_TYPE_PRIMITIVE,
                              structs_region_init,
                              structs_region_copy,
                              structs_region_equal,
                              structs_int_ascify,
                              structs_int_binify,
                              structs_region_encode_netorder,
                              structs_region_decode_netorder,
                              structs_nothing_free,
                              {{.i = 8}, {.i = 0}, {.i = 0}}};
    EXPECT_EQ(text_of(&bad, &w), "<null errno 33>");
    EXPECT_EQ(parse(&bad, "1", &w).err, EDOM);
}

TEST(BooleanTypes, WordsOfEveryStyleAreAccepted) {
    uint8_t b = 0;
    const structs_type *onoff = &structs_type_boolean_char_onoff;
    EXPECT_EQ(parse(onoff, "  on \t", &b).result, 0);
    EXPECT_EQ(b, 1);
    for (const char *word : {"TRUE", "yes", "ENABLED", "1", "On"}) {
        b = 0;
        EXPECT_EQ(parse(onoff, word, &b).result, 0) << word;
        EXPECT_EQ(b, 1) << word;
        EXPECT_EQ(text_of(onoff, &b), "On");
    }
    for (const char *word : {"false", "No", "disabled", "0", "OFF"}) {
        b = 1;
        EXPECT_EQ(parse(onoff, word, &b).result, 0) << word;
        EXPECT_EQ(b, 0) << word;
        EXPECT_EQ(text_of(onoff, &b), "Off");
    }
    Parse p = parse(onoff, "2", &b);
    EXPECT_EQ(p.result, -1);
    EXPECT_EQ(p.err, EINVAL);
    EXPECT_EQ(p.msg, "invalid Boolean value");
    EXPECT_EQ(parse(onoff, std::string(100, ' ').append("on").c_str(), &b).result, 0);

    int32_t wide = 0;
    EXPECT_EQ(round_trip(&structs_type_boolean_int, "yes"), "True");
    EXPECT_EQ(round_trip(&structs_type_boolean_int_01, "Enabled"), "1");
    EXPECT_EQ(round_trip(&structs_type_boolean_char_01, "off"), "0");
    EXPECT_EQ(round_trip(&structs_type_boolean_int_onoff, "true"), "On");
    EXPECT_EQ(parse(&structs_type_boolean_int, "on", &wide).result, 0);
    EXPECT_EQ(wide, 1);
    wide = 77;
    EXPECT_EQ(text_of(&structs_type_boolean_char, &wide), "True"); // any nonzero byte
}

TEST(FloatTypes, TextFormsAndLimits) {
    EXPECT_EQ(round_trip(&structs_type_float, "0.1"), "0.1000000014901161");
    EXPECT_EQ(round_trip(&structs_type_float, "0"), "0");
    EXPECT_EQ(round_trip(&structs_type_float, " -2.5 "), "-2.5");
    EXPECT_EQ(round_trip(&structs_type_float, "3.4028234663852886e38"), "3.402823466385289e+38");
    EXPECT_EQ(round_trip(&structs_type_float, "1e-38"), "9.999999350456404e-39"); // subnormal
    EXPECT_EQ(round_trip(&structs_type_double, "0.1"), "0.1");
    EXPECT_EQ(round_trip(&structs_type_double, "1e-310"), "9.999999999999969e-311");
    EXPECT_EQ(round_trip(&structs_type_double, "1.7976931348623157e308"),
              "1.7976931348623157e+308");

    // Every finite value's text reads back as the same bits: the largest, the smallest normal
    // and subnormal ones, and texts that only round to them.
    const float floats[] = {FLT_MAX,
                            -FLT_MAX,
                            FLT_MIN,
                            -FLT_MIN,
                            FLT_TRUE_MIN,
                            -FLT_TRUE_MIN,
                            1e-39f,
                            0.1f,
                            -0.0f,
                            16777217.0f,
                            std::nextafter(FLT_MAX, 0.0f)};
    for (float value : floats) {
        std::string text = text_of(&structs_type_float, &value);
        float back = 7;
        EXPECT_EQ(parse(&structs_type_float, text.c_str(), &back).result, 0) << text;
        EXPECT_EQ(memcmp(&back, &value, sizeof value), 0) << text;
    }
    const double doubles[] = {DBL_MAX, -DBL_MAX, DBL_MIN, DBL_TRUE_MIN, 0.1, 1.0 / 3, 2e-308};
    for (double value : doubles) {
        std::string text = text_of(&structs_type_double, &value);
        double back = 7;
        EXPECT_EQ(parse(&structs_type_double, text.c_str(), &back).result, 0) << text;
        EXPECT_EQ(memcmp(&back, &value, sizeof value), 0) << text;
    }
    for (const char *rounds : {"3.40282356e38", "8e-46", "1e-39"}) {
        float back = 7;
        EXPECT_EQ(parse(&structs_type_float, rounds, &back).result, 0) << rounds;
        EXPECT_TRUE(std::isfinite(back) && back != 0) << rounds;
    }

    float f = 5;
    double d = 5;
    struct Case {
        const structs_type *type;
        void *data;
        const char *in;
        const char *msg;
    } cases[] = {
        {&structs_type_float, &f, "1e39", "floating point value overflow"},
        {&structs_type_float, &f, "-1e39", "floating point value overflow"},
        {&structs_type_float, &f, "inf", "floating point value overflow"},
        {&structs_type_float, &f, "3.5e38", "floating point value overflow"},
        {&structs_type_float, &f, "1e-46", "floating point value underflow"},
        {&structs_type_float, &f, "1e-400", "floating point value underflow"},
        {&structs_type_double, &d, "inf", "floating point value overflow"},
        {&structs_type_double, &d, "1e400", "floating point value overflow"},
        {&structs_type_double, &d, "1e-400", "floating point value underflow"},
        {&structs_type_float, &f, "", "invalid floating point value"},
        {&structs_type_float, &f, "1.5x", "invalid floating point value"},
        {&structs_type_double, &d, "x", "invalid floating point value"},
    };
    for (const Case &c : cases) {
        Parse p = parse(c.type, c.in, c.data);
        EXPECT_EQ(p.result, -1) << c.in;
        EXPECT_EQ(p.err, EINVAL) << c.in;
        EXPECT_EQ(p.msg, c.msg) << c.in;
    }
    EXPECT_EQ(f, 5.0f);

    // A NaN is never equal to itself.
    float nan = NAN;
    EXPECT_EQ(structs_type_float.equal(&structs_type_float, &nan, &nan), 0);
}

// The texts are those printf gives in the C locale (the files hold them), but for a NaN, which
// is XML Schema's "NaN": every width and style of integer, and floats and doubles of random bit
// patterns, NaNs and limits included.
TEST(NumberTypes, TextIsPrintfsForEveryValue) {
    std::mt19937_64 random(20261209);
    struct IntCase {
        const structs_type *type;
        const char *format; // of the value as int64 (signed) or uint64
        bool isSigned;
    };
    const IntCase ints[] = {
        {&structs_type_int8, "%" PRId64, true},       {&structs_type_uint8, "%" PRIu64, false},
        {&structs_type_hint8, "0x%02" PRIx64, false}, {&structs_type_int16, "%" PRId64, true},
        {&structs_type_uint16, "%" PRIu64, false},    {&structs_type_hint16, "0x%" PRIx64, false},
        {&structs_type_int32, "%" PRId64, true},      {&structs_type_uint32, "%" PRIu64, false},
        {&structs_type_hint32, "0x%" PRIx64, false},  {&structs_type_long, "%" PRId64, true},
        {&structs_type_ulong, "%" PRIu64, false},     {&structs_type_hlong, "0x%" PRIx64, false},
        {&structs_type_int64, "%" PRId64, true},      {&structs_type_uint64, "%" PRIu64, false},
        {&structs_type_hint64, "0x%" PRIx64, false},
    };
    for (const IntCase &c : ints) {
        SCOPED_TRACE(c.type->name);
        const unsigned bits = static_cast<unsigned>(c.type->size) * 8;
        for (int i = 0; i < 2000; ++i) {
            uint64_t raw = i < 8 ? uint64_t{0} - static_cast<uint64_t>(i % 4) : random();
            if (i >= 4 && i < 8) raw = static_cast<uint64_t>(i - 4);
            if (bits < 64) raw &= (uint64_t{1} << bits) - 1;
            uint8_t bytes[8];
            memcpy(bytes, &raw, sizeof bytes);
            char expected[40];
            if (c.isSigned) {
                int64_t v = bits < 64 && (raw >> (bits - 1)) != 0
                                ? static_cast<int64_t>(raw | ~((uint64_t{1} << bits) - 1))
                                : static_cast<int64_t>(raw);
                snprintf(expected, sizeof expected, c.format, v);
            } else {
                snprintf(expected, sizeof expected, c.format, raw);
            }
            ASSERT_EQ(text_of(c.type, bytes), expected) << raw;
        }
    }
    std::vector<uint64_t> patterns = {0,
                                      0x8000000000000000u,
                                      0x7FF0000000000000u,
                                      0xFFF0000000000000u,
                                      0x7FF8000000000000u,
                                      0xFFF8000000000001u,
                                      1,
                                      0x7FEFFFFFFFFFFFFFu};
    for (int i = 0; i < 200000; ++i)
        patterns.push_back(random());
    for (uint64_t raw : patterns) {
        double d;
        memcpy(&d, &raw, sizeof d);
        char expected[40];
        snprintf(expected, sizeof expected, "%.16g", d);
        if (std::isnan(d))
            snprintf(expected, sizeof expected, "NaN");
        else if (strtod(expected, nullptr) != d)
            snprintf(expected, sizeof expected, "%.17g", d);
        ASSERT_EQ(text_of(&structs_type_double, &d), expected) << std::hex << raw;
        uint32_t raw32 = static_cast<uint32_t>(raw >> (raw & 31));
        float f;
        memcpy(&f, &raw32, sizeof f);
        snprintf(expected, sizeof expected, std::isnan(f) ? "NaN" : "%.16g",
                 static_cast<double>(f));
        ASSERT_EQ(text_of(&structs_type_float, &f), expected) << std::hex << raw32;
    }
}

TEST(FloatTypes, TextIsWrittenAndReadInTheCLocale) {
    const char *previous = setlocale(LC_NUMERIC, nullptr);
    std::string saved = previous ? previous : "C";
    if (setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr)
        GTEST_SKIP() << "no German locale installed";
    double d = 0;
    EXPECT_EQ(parse(&structs_type_double, "0.5", &d).result, 0);
    EXPECT_EQ(d, 0.5);
    EXPECT_EQ(text_of(&structs_type_double, &d), "0.5");
    setlocale(LC_NUMERIC, saved.c_str());
}

namespace {
const structs_id k_kinds[] = {
    {"AI", 0, 0}, {"DI", 1, 0}, {"ao", 2, 1}, {"CI", 4, 0}, {nullptr, 0, 0},
};
const structs_id k_ports[] = {{"COM1", 1, 0}, {"COM2", 2, 0}, {nullptr, 0, 0}};
const structs_type k_kind_type = STRUCTS_ID_TYPE(k_kinds, 1);
const structs_type k_port_type = STRUCTS_ID_TYPE(k_ports, 4);
} // namespace

TEST(IdTypes, NamesFromTheTable) {
    uint8_t v = 9;
    EXPECT_EQ(k_kind_type.init(&k_kind_type, &v), 0);
    EXPECT_EQ(v, 0);
    EXPECT_EQ(round_trip(&k_kind_type, "CI"), "CI");
    EXPECT_EQ(round_trip(&k_kind_type, "AO"), "ao"); // case flag of the entry
    EXPECT_EQ(round_trip(&k_port_type, "COM2"), "COM2");
    v = 3;
    EXPECT_EQ(text_of(&k_kind_type, &v), "INVALID");
    for (const char *bad : {"ci", " CI", "CI ", ""}) {
        Parse p = parse(&k_kind_type, bad, &v);
        EXPECT_EQ(p.result, -1);
        EXPECT_EQ(p.err, EINVAL);
        EXPECT_EQ(p.msg, std::string("invalid value \"") + bad + "\"");
    }
    int32_t port;
    EXPECT_EQ(k_port_type.init(&k_port_type, &port), 0);
    EXPECT_EQ(port, 1);
}

TEST(IdTypesDeath, SizeOtherThanOneTwoOrFourStops) {
    const structs_type bad = STRUCTS_ID_TYPE(k_kinds, 3);
    uint8_t v[3] = {};
    EXPECT_DEATH(bad.init(&bad, v), "structs_type_id.cpp:[0-9]+: type->size == 1");
}

namespace {
const structs_type k_data16 = STRUCTS_FIXEDDATA_TYPE(16);
}

TEST(FixedDataType, HexTextOfTheWholeBlock) {
    const std::string hex = "00112233445566778899aabbccddeeff";
    EXPECT_EQ(round_trip(&k_data16, hex.c_str()), hex);
    EXPECT_EQ(round_trip(&k_data16, "00 11 22 33 44 55 66 77 88 99 AA BB CC DD EE FF  "), hex);
    uint8_t v[16];
    Parse p = parse(&k_data16, hex.substr(0, 31).c_str(), v);
    EXPECT_EQ(p.result, -1);
    EXPECT_EQ(p.err, EINVAL);
    EXPECT_EQ(p.msg, "hex string is too short");
    EXPECT_EQ(parse(&k_data16, (hex + "0").c_str(), v).msg, "hex string is too long");
    memset(v, 0xee, sizeof v);
    EXPECT_EQ(parse(&k_data16, "0102zz", v).msg, "non-hex character seen");
    EXPECT_EQ(v[0], 1); // bytes before the error are already replaced
    EXPECT_EQ(v[1], 2);
    char ebuf[64];
    EXPECT_EQ(k_data16.decode(&k_data16, v, 15, v, ebuf, sizeof ebuf), -1);
    EXPECT_STREQ(ebuf, "encoded data is truncated");
}

namespace {
const structs_type k_bounded20 = STRUCTS_BOUNDEDSTRING_TYPE(20);
}

TEST(BoundedStringType, TextMustFitWithItsNul) {
    EXPECT_EQ(round_trip(&k_bounded20, "1234567890123456789"), "1234567890123456789");
    EXPECT_EQ(round_trip(&k_bounded20, ""), "");
    char buf[20];
    memset(buf, 'q', sizeof buf);
    errno = 1234;
    Parse p = parse(&k_bounded20, "12345678901234567890", buf);
    EXPECT_EQ(p.result, -1);
    EXPECT_EQ(p.err, 0); // parse() cleared it; the type leaves errno alone
    EXPECT_EQ(p.msg, "string is too long for bounded length buffer");
    EXPECT_EQ(parse(&k_bounded20, "ab", buf).result, 0);
    EXPECT_EQ(std::string(buf, 4), std::string("ab\0q", 4)); // bytes after the NUL are kept

    char other[20] = "ab";
    EXPECT_EQ(k_bounded20.equal(&k_bounded20, buf, other), 1);
    char ebuf[64];
    const uint8_t unterminated[3] = {'a', 'b', 'c'};
    errno = 0;
    EXPECT_EQ(k_bounded20.decode(&k_bounded20, unterminated, 3, buf, ebuf, sizeof ebuf), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_STREQ(ebuf, "encoded string is truncated");
    const uint8_t two[] = {'h', 'i', 0, 'x', 0};
    EXPECT_EQ(k_bounded20.decode(&k_bounded20, two, sizeof two, buf, ebuf, sizeof ebuf), 3);
    EXPECT_STREQ(buf, "hi");
}

TEST(StringType, AllocatedTexts) {
    EXPECT_EQ(round_trip(&structs_type_string, "hello world"), "hello world");
    EXPECT_EQ(round_trip(&structs_type_string, ""), "");
    EXPECT_EQ(round_trip(&structs_type_string_null, ""), "");

    char *a, *b;
    ASSERT_EQ(structs_type_string_null.init(&structs_type_string_null, &a), 0);
    EXPECT_EQ(a, nullptr);
    ASSERT_EQ(structs_type_string.init(&structs_type_string, &b), 0);
    EXPECT_STREQ(b, "");
    EXPECT_EQ(structs_type_string_null.equal(&structs_type_string_null, &a, &b), 1);
    ASSERT_EQ(parse(&structs_type_string, "text", &b).result, 0);
    char *c;
    ASSERT_EQ(structs_type_string.copy(&structs_type_string, &b, &c), 0);
    EXPECT_NE(b, c);
    EXPECT_EQ(structs_type_string.equal(&structs_type_string, &b, &c), 1);
    structs_type_string.uninit(&structs_type_string, &b);
    EXPECT_EQ(b, nullptr);
    structs_type_string.uninit(&structs_type_string, &c);
    structs_type_string_null.uninit(&structs_type_string_null, &a);
}
