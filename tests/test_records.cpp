// The records that carry a file and the settings through a run.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "FileData.h"
#include "SettingJson.h"

namespace {

bool progInfoIsZero(const CompactProgInfo& p)
{
    const int32_t scalars[] = {p.status, p.recyear, p.recmonth, p.recday, p.rechour, p.recmin,
        p.recsec, p.durhour, p.durmin, p.dursec, p.rectimezone, p.makerid, p.modelcode, p.recsrc,
        p.chnum, p.chnamelen, p.pnamelen, p.pdetaillen, p.pextendlen, p.genre[0], p.genre[1],
        p.genre[2], p.networkID, p.serviceID};
    for (int32_t v : scalars)
        if (v != 0)
            return false;
    if (p.active || p.fsize != 0)
        return false;
    for (const std::u16string* text : {&p.chname, &p.pname, &p.pdetail, &p.pextend, &p.fullpath, &p.fname, &p.fext})
        if (!text->empty())
            return false;
    return true;
}

bool tmIsZero(const std::tm& t)
{
    return t.tm_sec == 0 && t.tm_min == 0 && t.tm_hour == 0 && t.tm_mday == 0 && t.tm_mon == 0
           && t.tm_year == 0 && t.tm_wday == 0 && t.tm_yday == 0 && t.tm_isdst == 0;
}

std::u16string filledText(size_t len, char16_t seed)
{
    std::u16string text(len, u'\0');
    for (size_t i = 0; i < len; ++i)
        text[i] = static_cast<char16_t>(seed + (i % 1000));
    return text;
}

}  // namespace

TEST(FileDataRecord, NewRecordIsFullyInitialisedOverDirtyMemory)
{
    // A record made where garbage lay before must not show any of it.
    auto storage = std::make_unique<unsigned char[]>(sizeof(FileData));
    std::memset(storage.get(), 0xA5, sizeof(FileData));
    FileData* fd = new (storage.get()) FileData;

    EXPECT_FALSE(fd->isSuccess());
    EXPECT_FALSE(fd->isAvailableTS());
    EXPECT_TRUE(fd->src.u8FullPath.empty());
    EXPECT_TRUE(fd->dest.sjisFullPath.empty());
    EXPECT_TRUE(progInfoIsZero(fd->progInfo));

    EXPECT_TRUE(tmIsZero(fd->tsInfoEx.starttime));
    EXPECT_TRUE(tmIsZero(fd->tsInfoEx.endtime));
    EXPECT_EQ(0, fd->tsInfoEx.genreNo);
    EXPECT_EQ(0, fd->tsInfoEx.genreNoL);
    EXPECT_EQ(0, fd->tsInfoEx.genreNoM);
    EXPECT_TRUE(fd->tsInfoEx.title.empty());

    EXPECT_FALSE(fd->shobocal.available);
    EXPECT_FALSE(fd->shobocal.linkChannelSetting);
    EXPECT_TRUE(fd->shobocal.ShoboTitle.empty());
    EXPECT_TRUE(fd->channel.TSChID.empty());

    EXPECT_EQ(0, fd->ftp.getUiTimeout());
    EXPECT_EQ(0, fd->ftp.getRetryWait());
    EXPECT_EQ(0, fd->ftp.getUiResponseWait());
    EXPECT_EQ(0, fd->ftp.getUiLoginRetry());
    EXPECT_EQ(0, fd->ftp.getUiUploadRetry());
    EXPECT_STREQ("", fd->ftp.getCharRemotePath());

    EXPECT_FALSE(fd->taskData.GetAvailable());
    EXPECT_TRUE(fd->taskData.GetU8Regex().empty());
    EXPECT_TRUE(fd->taskData.GetSjisOutFullPath().empty());

    EXPECT_TRUE(fd->setAvailableTS(true));
    EXPECT_TRUE(fd->isAvailableTS());
    EXPECT_FALSE(fd->setSuccess(false));
    EXPECT_TRUE(fd->setSuccess(true));
    EXPECT_TRUE(fd->isSuccess());
    fd->~FileData();
}

TEST(FileDataRecord, CopiesAreIndependentIncludingProgInfo)
{
    auto original = std::make_unique<FileData>();
    original->setAvailableTS(true);
    original->src.path(std::string("/rec/a.ts"));
    original->tsInfoEx.title = "title";
    original->shobocal.ShoboTitle = "shobo";
    original->taskData.SetU8Regex("re");
    original->ftp.setRemotePath("/remote");
    original->progInfo.serviceID = 1024;
    original->progInfo.genre[2] = -1;
    original->progInfo.chname = filledText(PROGINFO_TEXT_LEN, u'a');
    original->progInfo.pname = filledText(PROGINFO_TEXT_LEN, u'b');
    original->progInfo.pdetail = filledText(PROGINFO_TEXT_LEN, u'c');
    original->progInfo.pextend = filledText(PROGINFO_TEXT_LEN, u'd');
    original->progInfo.fullpath = filledText(PROGINFO_PATH_LEN - 1, u'e');

    auto copy = std::make_unique<FileData>(*original);
    EXPECT_TRUE(copy->isAvailableTS());
    EXPECT_EQ("/rec/a.ts", copy->src.u8FullPath);
    for (const auto member : {&CompactProgInfo::chname, &CompactProgInfo::pname, &CompactProgInfo::pdetail,
                              &CompactProgInfo::pextend, &CompactProgInfo::fullpath})
        EXPECT_EQ(original->progInfo.*member, copy->progInfo.*member);

    copy->progInfo.pname[0] = u'X';
    copy->progInfo.pextend[PROGINFO_TEXT_LEN - 1] = u'Y';
    copy->progInfo.chname[40000] = u'Z';
    copy->progInfo.serviceID = 1;
    copy->src.path(std::string("/rec/b.ts"));
    copy->tsInfoEx.title = "other";
    copy->shobocal.ShoboTitle = "other";
    copy->taskData.SetU8Regex("other");
    copy->ftp.setRemotePath("/elsewhere");
    copy->setAvailableTS(false);

    EXPECT_EQ(u'b', original->progInfo.pname[0]);
    EXPECT_EQ(static_cast<char16_t>(u'd' + (PROGINFO_TEXT_LEN - 1) % 1000),
              original->progInfo.pextend[PROGINFO_TEXT_LEN - 1]);
    EXPECT_EQ(static_cast<char16_t>(u'a' + 40000 % 1000), original->progInfo.chname[40000]);
    EXPECT_EQ(1024, original->progInfo.serviceID);
    EXPECT_EQ("/rec/a.ts", original->src.u8FullPath);
    EXPECT_EQ("title", original->tsInfoEx.title);
    EXPECT_EQ("shobo", original->shobocal.ShoboTitle);
    EXPECT_EQ("re", original->taskData.GetSjisRegex());
    EXPECT_STREQ("/remote", original->ftp.getCharRemotePath());
    EXPECT_TRUE(original->isAvailableTS());

    // Assignment back brings the changes over whole.
    *original = *copy;
    EXPECT_EQ(u'X', original->progInfo.pname[0]);
    EXPECT_STREQ("/elsewhere", original->ftp.getCharRemotePath());
    EXPECT_FALSE(original->isAvailableTS());
}

// A file record keeps each text of the library's record as far as any
// reader reads it: up to its first 0 unit, or the whole buffer without one.
TEST(FileDataRecord, CompactProgInfoKeepsWhatReadersRead)
{
    auto full = std::make_unique<ProgInfo>();
    std::memset(full.get(), 0, sizeof(ProgInfo));
    const std::u16string channel = u"ＭＡＲＵＢＯテレビ";
    channel.copy(full->chname, channel.size());
    full->chname[channel.size() + 1] = u'x';  // past the terminator: never read
    for (size_t i = 0; i < PROGINFO_TEXT_LEN; ++i)
        full->pname[i] = u'あ';
    std::u16string(u"出演\r\n山田").copy(full->pextend, 6);
    std::u16string(u".ts").copy(full->fext, 3);
    full->pextendlen = 6;
    full->genre[1] = -1;
    full->fsize = int64_t{5} << 32;
    full->serviceID = 1024;

    const CompactProgInfo kept(*full);
    EXPECT_EQ(channel, kept.chname);
    EXPECT_EQ(std::u16string(PROGINFO_TEXT_LEN, u'あ'), kept.pname);
    EXPECT_EQ(u"", kept.pdetail);
    EXPECT_EQ(u"出演\r\n山田", kept.pextend);
    EXPECT_EQ(u".ts", kept.fext);
    EXPECT_EQ(6, kept.pextendlen);
    EXPECT_EQ(-1, kept.genre[1]);
    EXPECT_EQ(int64_t{5} << 32, kept.fsize);
    EXPECT_EQ(1024, kept.serviceID);
}

TEST(TaskDataRecord, TwinFillingSettersKeepTwinsInStep)
{
    TaskData task;
    task.SetU8Regex("");
    EXPECT_EQ("", task.GetU8Regex());
    EXPECT_EQ("", task.GetSjisRegex());
    task.SetU8Regex("第[0-9]+話");
    EXPECT_EQ("第[0-9]+話", task.GetU8Regex());
    EXPECT_EQ("第[0-9]+話", task.GetSjisRegex());
    task.SetU8Regex("new");
    EXPECT_EQ("new", task.GetU8Regex());
    EXPECT_EQ("new", task.GetSjisRegex());

    task.SetU8Program("/usr/bin/ffmpeg");
    task.SetU8InputOption("-i");
    task.SetU8OutOption("-y");
    task.SetU8OutFullPath("/out/${Title}.mp4");
    EXPECT_EQ("/usr/bin/ffmpeg", task.GetSjisProgram());
    EXPECT_EQ("-i", task.GetSjisInputOption());
    EXPECT_EQ("-y", task.GetSjisOutOption());
    EXPECT_EQ("/out/${Title}.mp4", task.GetSjisOutFullPath());

    // The plain setters leave the twins alone.
    task.SetSjisRegex("twin");
    EXPECT_EQ("new", task.GetU8Regex());
    EXPECT_EQ("twin", task.GetSjisRegex());
}

TEST(FtpDataRecord, RemotePathIsKeptWhole)
{
    FTPData ftp;
    const std::string fits(511, 'a');
    ftp.setRemotePath(fits);
    EXPECT_EQ(511u, std::strlen(ftp.getCharRemotePath()));
    EXPECT_EQ(fits, ftp.getCharRemotePath());

    std::string longPath = "/";
    while (longPath.size() < 2000)
        longPath += "番組/";
    longPath.resize(2000);
    ftp.setRemotePath(longPath);
    EXPECT_EQ(longPath, ftp.getRemotePath());
    EXPECT_EQ(2000u, std::strlen(ftp.getCharRemotePath()));
    EXPECT_EQ(longPath, ftp.getCharRemotePath());

    // A shorter path afterwards leaves nothing of the longer one behind.
    ftp.setRemotePath("/x");
    EXPECT_STREQ("/x", ftp.getCharRemotePath());
    ftp.setRemotePath("");
    EXPECT_STREQ("", ftp.getCharRemotePath());

    // The counts are stored unsigned and read back as int.
    ftp.setUiTimeout(0xFFFFFFFFu);
    EXPECT_EQ(-1, ftp.getUiTimeout());
}

TEST(SettingJsonRecord, NewRecordHasDefinedValues)
{
    SettingJson s;
    EXPECT_FALSE(s.isSuccess());
    EXPECT_EQ(0, s.getErrorCode());
    EXPECT_FALSE(s.isInternet());
    EXPECT_FALSE(s.isShobocal());
    EXPECT_FALSE(s.isValidTS());
    EXPECT_TRUE(s.getTaskData().empty());
    EXPECT_TRUE(s.getFtpMap().empty());
    EXPECT_TRUE(s.getAfterTaskMap().empty());
    EXPECT_TRUE(s.getAutoFileSearchList().empty());

    AutoFileSearch fresh;
    EXPECT_FALSE(fresh.avaliable);
    EXPECT_FALSE(fresh.mode);
}
