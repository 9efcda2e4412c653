#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "SettingJsonParser.h"

namespace {

using Steps = std::vector<std::pair<std::string, std::string>>;

SettingJson parse(const std::string& text) { return SettingJsonParser().parse(text); }

const char* const kFullSettings = R"({
  "GENERAL": {"VALID_TS": true, "INTERNET": true, "SHOBOCAL": true},
  "AUTOENTRY": [
    {"AVAILABLE": true, "RECURSIVE": true, "REGEX": "\\.ts$", "PATH": "/rec/in"},
    {"AVAILABLE": false, "RECURSIVE": false, "REGEX": "x", "PATH": "#{DIR}"}
  ],
  "DEFINE": {"#{DIR}": "/rec/out", "#{ENC}": "ffmpeg"},
  "TASKLIST": [
    {"AVAILABLE": true, "SELECT": "7", "REGEX": "^a.*\\.ts$", "PROGRAM": "#{ENC}",
     "OPTIONS": "-y -v 0", "INFILEOPT": "-i", "OUTFILEOPT": "-f mp4",
     "OUTFILEPATH": "#{DIR}/${Title}.mp4", "FILESEARCH": "#{DIR}/${Title}.*",
     "AFTER_TASK": "#{SET}", "RECOVERY": "NEXTTASK"},
    {"AVAILABLE": false, "PROGRAM": "never"},
    {"AVAILABLE": true, "SELECT": "TSTITLE", "PROGRAM": "cp", "RECOVERY": "ABORT"}
  ],
  "AFTER_TASK": {
    "up": {"1:COPY": "#{DIR}/a", "2:FTP": "server1"},
    "#{SET}": {"SUSPEND": ""}
  },
  "FTP_LIST": {
    "server1": {"ADDRESS": "ftp.example", "REMOTEPATH": "#{DIR}/up", "ID": "me", "PASS": "pw",
                "UITIMEOUT": 30, "UIRESPONSWAIT": 100, "LOGINRETRY": 3, "UPLOADRETRY": 4, "RETRYWAIT": 20}
  }
})";

}  // namespace

TEST(SettingJsonParser, ReadsEverySection) {
    SettingJson s = parse(kFullSettings);
    ASSERT_TRUE(s.isSuccess()) << s.getParseMessage();
    EXPECT_TRUE(s.isValidTS());
    EXPECT_TRUE(s.isInternet());
    EXPECT_TRUE(s.isShobocal());

    auto autos = s.getAutoFileSearchList();
    ASSERT_EQ(2u, autos.size());
    EXPECT_TRUE(autos[0].avaliable);
    EXPECT_TRUE(autos[0].mode);
    EXPECT_EQ("\\.ts$", autos[0].regex);
    EXPECT_EQ("/rec/in", autos[0].path);
    EXPECT_FALSE(autos[1].avaliable);
    EXPECT_EQ("#{DIR}", autos[1].path);  // read before the macros

    auto tasks = s.getTaskData();
    ASSERT_EQ(2u, tasks.size());
    const TaskData& t = tasks[0];
    EXPECT_EQ("7", t.GetU8Select());
    EXPECT_EQ("^a.*\\.ts$", t.GetU8Regex());
    EXPECT_EQ(t.GetU8Regex(), t.GetSjisRegex());
    EXPECT_EQ("ffmpeg", t.GetU8Program());
    EXPECT_EQ("ffmpeg", t.GetSjisProgram());
    EXPECT_EQ("-y -v 0", t.GetU8Option());
    EXPECT_EQ("-i", t.GetU8InputOption());
    EXPECT_EQ("-f mp4", t.GetU8OutOption());
    EXPECT_EQ("/rec/out/${Title}.mp4", t.GetU8OutFullPath());
    EXPECT_EQ("/rec/out/${Title}.mp4", t.GetSjisOutFullPath());
    EXPECT_EQ("/rec/out/${Title}.*", t.GetU8FileSearchPath());
    EXPECT_EQ("#{SET}", t.GetU8AfterTask());  // a set name: no macro filled
    EXPECT_EQ("NEXTTASK", t.GetU8Recovery());
    EXPECT_EQ("TSTITLE", tasks[1].GetU8Select());
    EXPECT_EQ("ABORT", tasks[1].GetU8Recovery());

    auto sets = s.getAfterTaskMap();
    ASSERT_EQ(2u, sets.size());
    EXPECT_EQ((Steps{{"COPY", "/rec/out/a"}, {"FTP", "server1"}}), sets["up"].atferTask);
    EXPECT_EQ((Steps{{"SUSPEND", ""}}), sets["#{SET}"].atferTask);

    auto ftp = s.getFtpMap();
    ASSERT_EQ(1u, ftp.count("server1"));
    const FTPData& f = ftp["server1"];
    EXPECT_EQ("ftp.example", f.getAddress());
    EXPECT_EQ("/rec/out/up", f.getRemotePath());
    EXPECT_STREQ("/rec/out/up", f.getCharRemotePath());
    EXPECT_EQ("me", f.getId());
    EXPECT_EQ("pw", f.getPass());
    EXPECT_EQ(30, f.getUiTimeout());
    EXPECT_EQ(100, f.getUiResponseWait());
    EXPECT_EQ(3, f.getUiLoginRetry());
    EXPECT_EQ(4, f.getUiUploadRetry());
    EXPECT_EQ(20, f.getRetryWait());
}

TEST(SettingJsonParser, WrongTypesReadAsDefaults) {
    SettingJson s = parse(R"({
      "GENERAL": {"VALID_TS": "true", "INTERNET": 1, "SHOBOCAL": true},
      "AUTOENTRY": [{"AVAILABLE": 1, "RECURSIVE": "yes", "REGEX": 5, "PATH": ["x"]}, 7],
      "DEFINE": {"#{N}": 3},
      "TASKLIST": [
        {"PROGRAM": "no-available-key"},
        {"AVAILABLE": "true", "PROGRAM": "string-true"},
        {"AVAILABLE": 1, "PROGRAM": "number-one"},
        {"AVAILABLE": true, "SELECT": 7, "PROGRAM": ["p"], "RECOVERY": null, "OPTIONS": "[#{N}]"},
        "not an object"
      ],
      "AFTER_TASK": {"empty": "not an object", "odd": {"EXECUTE": 5}},
      "FTP_LIST": {"s": {"ADDRESS": 1, "UITIMEOUT": "30", "LOGINRETRY": 2.9, "UPLOADRETRY": -1, "RETRYWAIT": 1e12},
                   "t": "not an object"}
    })");
    ASSERT_TRUE(s.isSuccess());
    EXPECT_FALSE(s.isValidTS());
    EXPECT_FALSE(s.isInternet());
    EXPECT_FALSE(s.isShobocal());  // "SHOBOCAL" alone does not switch the calendar on

    auto autos = s.getAutoFileSearchList();
    ASSERT_EQ(2u, autos.size());  // every element is kept, switched off or not
    for (const auto& a : autos) {
        EXPECT_FALSE(a.avaliable);
        EXPECT_FALSE(a.mode);
        EXPECT_EQ("", a.regex);
        EXPECT_EQ("", a.path);
    }

    auto tasks = s.getTaskData();
    ASSERT_EQ(1u, tasks.size());  // only the boolean true switches a task on
    EXPECT_EQ("", tasks[0].GetU8Select());
    EXPECT_EQ("", tasks[0].GetU8Program());
    EXPECT_EQ("", tasks[0].GetU8Recovery());
    EXPECT_EQ("[]", tasks[0].GetU8Option());  // a non-string macro text is empty

    auto sets = s.getAfterTaskMap();
    ASSERT_EQ(2u, sets.size());
    EXPECT_TRUE(sets["empty"].atferTask.empty());
    EXPECT_EQ((Steps{{"EXECUTE", ""}}), sets["odd"].atferTask);

    auto ftp = s.getFtpMap();
    ASSERT_EQ(2u, ftp.size());
    EXPECT_EQ("", ftp["s"].getAddress());
    EXPECT_EQ(0, ftp["s"].getUiTimeout());
    EXPECT_EQ(2, ftp["s"].getUiLoginRetry());
    EXPECT_EQ(-1, ftp["s"].getUiUploadRetry());  // a signed number stored unsigned
    EXPECT_EQ(2147483647, ftp["s"].getRetryWait());
    EXPECT_EQ("", ftp["t"].getAddress());

    // Valid JSON that is not an object reads as an empty configuration.
    for (const char* text : {"[]", "42", "\"x\"", "true", "{}"}) {
        SettingJson e = parse(text);
        EXPECT_TRUE(e.isSuccess()) << text;
        EXPECT_FALSE(e.isValidTS() || e.isInternet() || e.isShobocal()) << text;
        EXPECT_TRUE(e.getTaskData().empty() && e.getAutoFileSearchList().empty() && e.getAfterTaskMap().empty() &&
                    e.getFtpMap().empty())
            << text;
    }
}

TEST(SettingJsonParser, RefusesTextsThatDoNotParse) {
    SettingJson s = parse("null");
    EXPECT_FALSE(s.isSuccess());
    EXPECT_EQ("", s.getParseMessage());

    s = parse("\xEF\xBB\xBF{\"GENERAL\": {\"VALID_TS\": true}}");
    EXPECT_FALSE(s.isSuccess());
    EXPECT_FALSE(s.isValidTS());
    EXPECT_THAT(s.getParseMessage(), testing::EndsWith(" in Line No. : 1"));

    s = parse(std::string("{\"TASKLIST\": []}\0{}", 19));
    EXPECT_FALSE(s.isSuccess());
    EXPECT_NE("", s.getParseMessage());

    s = parse(std::string(100000, '['));
    EXPECT_FALSE(s.isSuccess());
    EXPECT_NE("", s.getParseMessage());

    s = parse("{\n  \"GENERAL\": {\"VALID_TS\": true},\n  \"TASKLIST\": [,]\n}\n");
    EXPECT_FALSE(s.isSuccess());
    EXPECT_THAT(s.getParseMessage(), testing::EndsWith(" in Line No. : 3"));
    EXPECT_FALSE(s.isValidTS());  // nothing is read from a broken text
}

TEST(SettingJsonParser, MacrosExpandInOnePass) {
    testing::internal::CaptureStdout();
    SettingJson s = parse(R"({
      "DEFINE": {"#{A}": "x#{B}", "#{B}": "y", "#{Z}": "#{Y}", "#{Y}": "#{X}", "#{X}": "a",
                 "#{S}": "s#{S}", "NAME": "dropped", "#{}": "empty-name", "#{Q}": "${Title}#{UNKNOWN}"},
      "TASKLIST": [{"AVAILABLE": true, "SELECT": "#{A}", "REGEX": "#{Z}", "PROGRAM": "#{Y}",
                    "OPTIONS": "#{S}", "INFILEOPT": "NAME", "OUTFILEOPT": "#{}", "OUTFILEPATH": "#{Q}"}]
    })");
    const std::string out = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(s.isSuccess());
    EXPECT_NE(std::string::npos, out.find("[ERROR]")) << out;
    EXPECT_NE(std::string::npos, out.find(" SETTING DEFINE Error : NAME\n")) << out;
    EXPECT_EQ(std::string::npos, out.find("SETTING DEFINE Error : #{")) << out;

    const TaskData t = s.getTaskData().at(0);
    EXPECT_EQ("xy", t.GetU8Select());
    EXPECT_EQ("#{X}", t.GetU8Regex());  // #{Z} -> #{X}, which sorts before #{Z}
    EXPECT_EQ("a", t.GetU8Program());
    EXPECT_EQ("ss#{S}", t.GetU8Option());  // a macro naming itself expands once
    EXPECT_EQ("NAME", t.GetU8InputOption());
    EXPECT_EQ("empty-name", t.GetU8OutOption());
    EXPECT_EQ("${Title}#{UNKNOWN}", t.GetU8OutFullPath());
}

TEST(SettingJsonParser, AfterTaskStepsInByteWiseKeyOrder) {
    SettingJson s = parse(R"({
      "DEFINE": {"#{D}": "/d"},
      "AFTER_TASK": {
        "b": {"2:MOVE": "b", "10:COPY": "a", "EXECUTE": "c", "1:DELETE": "#{D}/x", "A:COPY": "skip",
              "COPY-1": "skip", "1:": "no-type", "01:FTP": "first", "2:MOVE": "b-last"},
        "a": {}
      }
    })");
    ASSERT_TRUE(s.isSuccess());
    auto sets = s.getAfterTaskMap();
    ASSERT_EQ(2u, sets.size());
    EXPECT_TRUE(sets["a"].atferTask.empty());
    EXPECT_EQ((Steps{{"FTP", "first"},
                     {"COPY", "a"},
                     {"", "no-type"},
                     {"DELETE", "/d/x"},
                     {"MOVE", "b-last"},
                     {"EXECUTE", "c"}}),
              sets["b"].atferTask);
}

// Keys are the user's and may be of any length: checking their form must not
// recurse once per character (a key of some 100 KB overflowed the stack).
TEST(SettingJsonParser, VeryLongKeysAreCheckedWithoutExhaustingTheStack) {
    const std::string longName(256 << 10, 'k');
    testing::internal::CaptureStdout();
    SettingJson s = parse("{\"DEFINE\": {\"#{" + longName + "}\": \"v\", \"" + longName + "\": \"w\"}," +
                          "\"AFTER_TASK\": {\"set\": {\"1:" + longName + "\": \"a\", \"2:" + longName +
                          "-\": \"b\"}}}");
    const std::string out = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(s.isSuccess());
    EXPECT_EQ(1, std::count(out.begin(), out.end(), '\n')) << "only the key without #{} is refused";
    const auto sets = s.getAfterTaskMap();
    ASSERT_EQ(1u, sets.count("set"));
    EXPECT_EQ((Steps{{longName, "a"}}), sets.at("set").atferTask);
}

// Macros that name each other several times multiply: each level below
// holds ten of the next, so a few hundred bytes would ask for ten million
// (and a few more levels for gigabytes). Such a file is refused.
TEST(SettingJsonParser, MacrosThatMultiplyBeyondAnyUseAreRefused) {
    std::string define;
    for (char c = 'A'; c < 'H'; ++c) {
        std::string text;
        for (int i = 0; i < 10; ++i) text += std::string("#{") + static_cast<char>(c + 1) + "}";
        define += std::string("\"#{") + c + "}\": \"" + text + "\", ";
    }
    define += "\"#{H}\": \"x\"";

    SettingJson s = parse("{\"DEFINE\": {" + define + "}, \"TASKLIST\": [{\"AVAILABLE\": true, \"PROGRAM\": \"#{A}\"}]}");
    EXPECT_FALSE(s.isSuccess());
    EXPECT_THAT(s.getParseMessage(), testing::HasSubstr("expands beyond 1048576 bytes"));

    // One macro used many times in one field multiplies the same way.
    const std::string big(1000, 'b');
    std::string field;
    for (int i = 0; i < 2000; ++i) field += "#{B}";
    s = parse("{\"DEFINE\": {\"#{B}\": \"" + big + "\"}, \"TASKLIST\": [{\"AVAILABLE\": true, \"OPTIONS\": \"" +
              field + "\"}]}");
    EXPECT_FALSE(s.isSuccess());

    // Below the bound nothing changes.
    s = parse("{\"DEFINE\": {\"#{B}\": \"" + big + "\"}, \"TASKLIST\": [{\"AVAILABLE\": true, \"OPTIONS\": \"" +
              field.substr(0, 4 * 1000) + "\"}]}");
    ASSERT_TRUE(s.isSuccess());
    EXPECT_EQ(1000u * 1000u, s.getTaskData().at(0).GetU8Option().size());
}
