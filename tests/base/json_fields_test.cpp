#include <gtest/gtest.h>

#include "base/json_fields.h"

using corvane::Fields;
using nlohmann::json;

namespace {

TEST(LenientFields, IntegersFromNumbersTextsAndBooleans) {
    const json obj = {{"float", 3.9},     {"text", "3.9"},  {"true", true},   {"plus", "+7"},
                      {"minus", "-7"},    {"blank", " 7"},  {"trail", "7 "},  {"sign", "-"},
                      {"empty", ""},      {"mixed", "12a"}, {"big", "9223372036854775808"},
                      {"max", "9223372036854775807"},       {"neg", -2.7},    {"null", nullptr},
                      {"arr", json::array({1})}};
    const struct { const char* key; int64_t want; } cases[] = {
        {"float", 3}, {"text", 0},  {"true", 1},  {"plus", 7},  {"minus", -7},
        {"blank", 0}, {"trail", 0}, {"sign", 0},  {"empty", 0}, {"mixed", 0},
        {"big", 0},   {"max", INT64_MAX}, {"neg", -2}, {"null", 0}, {"arr", 0}, {"missing", 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(Fields(obj).i64(c.key), c.want) << c.key;
        EXPECT_EQ(Fields(obj).i(c.key), c.want) << c.key;
    }
}

TEST(LenientFields, DoublesFollowCLocaleLiterals) {
    const json obj = {{"num", 2.5}, {"text", "2.5"}, {"exp", "1e3"}, {"hex", "0x10"},  {"lead", " 1"},
                      {"left", "1.5x"}, {"empty", ""}, {"int", 4},   {"tru", true},   {"comma", "1,5"}};
    const struct { const char* key; double want; } cases[] = {
        {"num", 2.5}, {"text", 2.5}, {"exp", 1000}, {"hex", 16}, {"lead", 0},    {"left", 0},
        {"empty", 0}, {"int", 4},    {"tru", 1},    {"comma", 0}, {"missing", 0}};
    for (const auto& c : cases) EXPECT_DOUBLE_EQ(Fields(obj).d(c.key), c.want) << c.key;
}

TEST(LenientFields, BooleansAndTexts) {
    const json obj = {{"two", 2},  {"zero", 0},      {"one", "1"}, {"True", "True"}, {"true", "true"},
                      {"yes", "yes"}, {"jtrue", true}, {"num", 5},   {"str", "x"},     {"half", 0.5}};
    const struct { const char* key; bool want; } cases[] = {
        {"two", true},  {"zero", false}, {"one", true},   {"True", false},
        {"true", true}, {"yes", false},  {"jtrue", true}, {"missing", false}};
    for (const auto& c : cases) EXPECT_EQ(Fields(obj).b(c.key), c.want) << c.key;
    EXPECT_EQ(Fields(obj).s("num"), std::nullopt);
    EXPECT_EQ(Fields(obj).s("str"), "x");
    EXPECT_EQ(Fields(json::array()).s("str"), std::nullopt);
}

TEST(IntegerText, StrictForm) {
    EXPECT_EQ(corvane::parseIntText("0"), 0);
    EXPECT_EQ(corvane::parseIntText("-9223372036854775808"), INT64_MIN);
    EXPECT_EQ(corvane::parseIntText("+-1"), std::nullopt);
    EXPECT_EQ(corvane::parseIntText("1 "), std::nullopt);
    EXPECT_EQ(corvane::parseIntText("１"), std::nullopt);  // full-width digit
}

}  // namespace
