#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "ChannelSettingParser.h"
#include "TestPaths.h"

using testsupport::TempDir;
using testsupport::writeFile;

TEST(ChannelSettingParser, LoadsAGoodFile) {
    TempDir dir;
    writeFile(dir.file("channelsetting.json"), R"({"ChannelList": [
      {"TSChID": "101", "TSServiceID": "1024", "TSNetworkID": "32736", "TSChName": "NHK総合",
       "ShoboChID": "1", "ShoboChName": "NHK総合", "Extra": 5},
      {"TSChID": "211", "TSServiceID": "211", "TSNetworkID": "4", "TSChName": "BS11",
       "ShoboChID": "128", "ShoboChName": "BS11イレブン"}
    ], "Other": true})");
    ChannelSettingParser parser;
    ASSERT_TRUE(parser.load(dir.file("channelsetting.json")));
    EXPECT_EQ(0, parser.errorCode);
    EXPECT_EQ("", parser.errorMessage);

    auto channels = parser.getChannelList();
    ASSERT_EQ(2u, channels.size());
    const ChannelSetting& c = channels["101"];
    EXPECT_EQ("101", c.TSChID);
    EXPECT_EQ("1024", c.TSServiceID);
    EXPECT_EQ("32736", c.TSNetworkID);
    EXPECT_EQ("NHK総合", c.TSChName);
    EXPECT_EQ("1", c.ShoboChID);
    EXPECT_EQ("NHK総合", c.ShoboChName);
    auto services = parser.getServicelList();
    ASSERT_EQ(2u, services.size());
    EXPECT_EQ("211", services["211"].TSChID);
    EXPECT_EQ("128", services["211"].ShoboChID);
}

TEST(ChannelSettingParser, MissingKeysAndOtherTypesReadAsEmpty) {
    ChannelSettingParser parser;
    auto channels = parser.parse(R"({"ChannelList": [
      {"TSChID": 101, "TSServiceID": "1", "ShoboChID": 5},
      {"TSChID": "", "TSServiceID": "2", "ShoboChName": "second"},
      "not an object",
      {"TSChID": "7", "TSServiceID": "1", "ShoboChID": "x"},
      {"TSChID": "7", "TSServiceID": "3", "ShoboChID": "y"}
    ]})");
    // The numeric id reads as "" and takes the empty key first.
    ASSERT_EQ(2u, channels.size());
    EXPECT_EQ("1", channels[""].TSServiceID);
    EXPECT_EQ("", channels[""].ShoboChID);
    EXPECT_EQ("x", channels["7"].ShoboChID);  // first wins

    auto services = parser.getServicelList();
    ASSERT_EQ(4u, services.size());  // "1", "2", "" (the non-object), "3"
    EXPECT_EQ("", services["1"].TSChID);
    EXPECT_EQ("second", services["2"].ShoboChName);
    EXPECT_EQ("", services[""].ShoboChName);
    EXPECT_EQ("y", services["3"].ShoboChID);

    // A second text adds to what is held; a broken one adds nothing.
    parser.parse(R"({"ChannelList": [{"TSChID": "8", "TSServiceID": "8"}, {"TSChID": "7", "ShoboChID": "z"}]})");
    EXPECT_EQ(3u, parser.parse("{broken").size());
    EXPECT_EQ("x", parser.getChannelList()["7"].ShoboChID);
}

TEST(ChannelSettingParser, BrokenFilesGiveTheirCodes) {
    TempDir dir;
    const std::string path = dir.file("mine.json");
    const std::string notOpen = "channelsetting.jsonnot open ";
    const std::string abnormal = "channelsetting.json is Abnormal.";

    struct Case {
        const char* name;
        std::string content;  // "-": no file at all
        int code;
        std::string message;
    } cases[] = {
        {"missing", "-", 8, notOpen},
        {"empty", "", 8, notOpen},
        {"whitespace", "  \n", 9, abnormal},
        {"bom", "\xEF\xBB\xBF{\"ChannelList\": [{\"TSChID\": \"1\"}]}", 9, abnormal},
        {"null", "null", 9, abnormal},
        {"no list", "{\"Channels\": []}", 9, abnormal},
        {"empty list", "{\"ChannelList\": []}", 9, abnormal},
        {"list not array", "{\"ChannelList\": {\"TSChID\": \"1\"}}", 9, abnormal},
        {"syntax", "{\"ChannelList\": [{\"TSChID\": \"1\",}]}", 9, abnormal},
    };
    for (const Case& c : cases) {
        std::remove(path.c_str());
        if (c.content != "-") writeFile(path, c.content);
        ChannelSettingParser parser;
        EXPECT_FALSE(parser.load(path)) << c.name;
        EXPECT_EQ(c.code, parser.errorCode) << c.name;
        EXPECT_EQ(c.message, parser.errorMessage) << c.name;
    }

    // A directory in place of the file reads as not open.
    ChannelSettingParser parser;
    EXPECT_FALSE(parser.load(dir.path()));
    EXPECT_EQ(8, parser.errorCode);

    // A later good load clears the code and keeps the old message.
    writeFile(path, "{\"ChannelList\": [{\"TSChID\": \"1\"}]}");
    EXPECT_TRUE(parser.load(path));
    EXPECT_EQ(0, parser.errorCode);
    EXPECT_EQ(notOpen, parser.errorMessage);
}
