#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>
#include <map>
#include <string>
#include <vector>

#include "JsonAdapter.h"

namespace {

Json parseOk(const std::string& text) {
    std::string err;
    Json j = Json::parse(text, err);
    EXPECT_EQ("", err) << text;
    return j;
}

std::string parseError(const std::string& text) {
    std::string err;
    Json j = Json::parse(text, err);
    EXPECT_TRUE(j == Json()) << text;
    return err;
}

}  // namespace

TEST(JsonAdapter, AccessorsReadOtherTypesAsEmpty) {
    Json j = parseOk(R"({"b": true, "n": 7, "s": "x", "a": [1], "o": {"k": "v"}, "z": null})");
    EXPECT_TRUE(j["b"].bool_value());
    EXPECT_EQ(7, j["n"].int_value());
    EXPECT_EQ("x", j["s"].string_value());
    EXPECT_EQ(1u, j["a"].array_items().size());
    EXPECT_EQ("v", j["o"]["k"].string_value());

    // Every accessor on every wrong type, and keys of non-objects.
    for (const char* key : {"b", "n", "s", "a", "o", "z", "missing"}) {
        const Json& v = j[key];
        if (!v.is_bool()) { EXPECT_FALSE(v.bool_value()) << key; }
        if (!v.is_number()) { EXPECT_EQ(0, v.int_value()) << key; }
        if (!v.is_string()) { EXPECT_EQ("", v.string_value()) << key; }
        if (!v.is_array()) { EXPECT_TRUE(v.array_items().empty()) << key; }
        if (!v.is_object()) { EXPECT_TRUE(v.object_items().empty()) << key; }
        if (!v.is_object()) { EXPECT_TRUE(v["k"] == Json()) << key; }
    }
    EXPECT_TRUE(j["a"][5] == Json());
    EXPECT_TRUE(j["missing"]["deeper"]["still"] == Json());
}

TEST(JsonAdapter, IntValueCutsTowardZeroAndClamps) {
    EXPECT_EQ(2, parseOk("2.9").int_value());
    EXPECT_EQ(-2, parseOk("-2.9").int_value());
    EXPECT_EQ(INT_MAX, parseOk("2147483647").int_value());
    EXPECT_EQ(INT_MAX, parseOk("2147483648").int_value());
    EXPECT_EQ(INT_MIN, parseOk("-2147483649").int_value());
    EXPECT_EQ(INT_MAX, parseOk("1e300").int_value());
    EXPECT_EQ(INT_MAX, parseOk("18446744073709551615").int_value());
    EXPECT_EQ(INT_MIN, parseOk("-1e300").int_value());
}

TEST(JsonAdapter, RepeatedKeyKeepsLastAndKeysIterateByteWise) {
    Json j = parseOk(R"({"b": 1, "a": 2, "b": 3, "B": 4, "10:": 5, "1:": 6, "\u00e9": 7, "z": 8})");
    EXPECT_EQ(3, j["b"].int_value());
    std::vector<std::string> keys;
    for (const auto& m : j.object_items()) keys.push_back(m.first);
    EXPECT_EQ((std::vector<std::string>{"10:", "1:", "B", "a", "b", "z", "\xC3\xA9"}), keys);
}

TEST(JsonAdapter, StrictSyntax) {
    for (const char* bad : {"", "   ", "{", "{\"a\": 1,}", "[1, 2,]", "{'a': 1}", "// c\n{}", "/* c */ {}",
                            "{} {}", "{\"a\" 1}", "[01]", "NaN", "tru", "\"\\x\"", "[1]\f", "\"a\tb\""}) {
        std::string err = parseError(bad);
        EXPECT_NE("", err) << bad;
        EXPECT_NE(std::string::npos, err.find(" in Line No. : ")) << bad;
    }
    EXPECT_EQ(3, parseOk(" \t\r\n[1, 2, 3] \r\n").array_items().size());
    EXPECT_EQ("a\"\\/\b\f\n\r\t\xE3\x81\x82\xF0\x9F\x98\x80", parseOk(R"("a\"\\\/\b\f\n\r\t\u3042\ud83d\ude00")").string_value());
}

TEST(JsonAdapter, ErrorNamesTheLineWhereParsingStopped) {
    EXPECT_THAT(parseError("{\n  \"a\": 1,\n  \"b\": x\n}"), testing::EndsWith(" in Line No. : 3"));
    EXPECT_THAT(parseError("{\n\"a\": 1,\n}"), testing::EndsWith(" in Line No. : 3"));
    EXPECT_THAT(parseError("[1,\n2"), testing::EndsWith(" in Line No. : 2"));
    EXPECT_THAT(parseError("nope"), testing::EndsWith(" in Line No. : 1"));
}

TEST(JsonAdapter, RefusesWhatTheReadersMustNotAccept) {
    std::string err;
    // The text null parses to the null value without an error text.
    EXPECT_TRUE(Json::parse("null", err) == Json());
    EXPECT_EQ("", err);

    EXPECT_THAT(parseError("\xEF\xBB\xBF{}"), testing::EndsWith(" in Line No. : 1"));
    EXPECT_THAT(parseError(std::string("{}\0", 3)), testing::EndsWith(" in Line No. : 1"));
    EXPECT_THAT(parseError(std::string("{\n\"a\": \"x\0y\"}", 12)), testing::EndsWith(" in Line No. : 2"));

    // Deep nesting: the limit, not the stack, ends it.
    EXPECT_NE("", parseError(std::string(100000, '[') + std::string(100000, ']')));
    EXPECT_NE("", parseError(std::string(100000, '{')));
}

TEST(JsonAdapter, NestingLimitCountsEveryValue) {
    // The top value is at depth 0; a value beginning deeper than 200 fails.
    auto nested = [](int levels, const std::string& inner) {
        return std::string(levels, '[') + inner + std::string(levels, ']');
    };
    EXPECT_TRUE(parseOk(nested(201, "")).is_array());
    EXPECT_TRUE(parseOk(nested(200, "1")).is_array());
    EXPECT_NE("", parseError(nested(202, "")));
    EXPECT_NE("", parseError(nested(201, "1")));
    EXPECT_NE("", parseError(nested(201, "{}")));
}

TEST(JsonAdapter, BuildsFromContainersAndDumpsOnOneLine) {
    std::map<std::string, std::string> entry{{"TSChID", "101"}, {"ShoboChID", "3"}, {"TSChName", "\xE3\x81\x82\"\\\n"}};
    std::vector<std::map<std::string, std::string>> list{entry, entry};
    Json doc = Json::object{{"ChannelList", list}, {"n", 2.5}, {"i", -3}, {"t", true}, {"z", nullptr}};
    const std::string text = doc.dump();
    EXPECT_EQ(R"({"ChannelList": [{"ShoboChID": "3", "TSChID": "101", "TSChName": ")"
              "\xE3\x81\x82\\\"\\\\\\n"
              R"("}, {"ShoboChID": "3", "TSChID": "101", "TSChName": ")"
              "\xE3\x81\x82\\\"\\\\\\n"
              R"("}], "i": -3, "n": 2.5, "t": true, "z": null})",
              text);
    // What is written reads back as the same value.
    EXPECT_TRUE(parseOk(text) == doc);
    EXPECT_EQ("[]", Json(Json::array{}).dump());
    EXPECT_EQ("{\"ChannelList\": []}", Json(Json::object{{"ChannelList", Json::array{}}}).dump());
    EXPECT_EQ("\"\\u0001\"", Json(std::string("\x01")).dump());
}
