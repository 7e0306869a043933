#include "OrbelDoc.h"

#include "ChannelList.h"
#include "TempDir.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace
{

std::unique_ptr<CSensor> Record(std::string_view line)
{
    auto sensor = std::make_unique<CSensor>();
    EXPECT_TRUE(sensor->ParseLine(line)) << line;
    return sensor;
}

std::vector<std::string> Lines(COrbelDoc& doc)
{
    std::vector<std::string> lines;
    for (const auto& sensor : doc.m_sensors)
        lines.push_back(sensor->FormatLine());
    return lines;
}

// Opens bytes written to a fresh file; the file's folder lives as long as the fixture.
class DocFile : public ::testing::Test
{
protected:
    bool Open(const std::string& bytes, const std::string& name = "conf.ini")
    {
        WriteFileBytes(dir / name, bytes);
        error.clear();
        return doc.OnOpenDocument(dir / name, error);
    }
    // A configuration that differs from every file below in each member a failed open must keep.
    void FillPrevious()
    {
        auto a = Record("old-a\t80\t1\t1\t\t\t0x00");
        auto b = Record("old-b\t80\t2\t1\t\t\t0x00");
        ASSERT_TRUE(doc.AddSensor(a, true));
        ASSERT_TRUE(doc.AddSensor(b, true));
        doc.m_deleted.push_back(Record("gone\t80\t3\t1\t\t\t0x00"));
        doc.m_nNextBatch = 1;
        doc.SetPathName("/previous/conf.ini");
        doc.SetModifiedFlag();
    }
    void ExpectPreviousKept()
    {
        EXPECT_EQ(Lines(doc), (std::vector<std::string>{"old-a\t80\t1\t1\t\t\t0x00",
                                                        "old-b\t80\t2\t1\t\t\t0x00"}));
        EXPECT_EQ(doc.m_deleted.size(), 1u);
        EXPECT_EQ(doc.m_nNextBatch, 1);
        EXPECT_EQ(doc.GetPathName(), "/previous/conf.ini");
        EXPECT_TRUE(doc.IsModified());
    }
    void TearDown() override
    {
        while (!CChannelList::Entries().empty())
            CChannelList::Remove(CChannelList::Entries().front().pChannel);
    }

    TempDir dir;
    COrbelDoc doc;
    std::string error;
};

const std::string kGoodA = "a.example\t80\t1\t5\tV\tErster\t0x00";
const std::string kGoodB = "b.example\t8080\t2\t1\t°C\tZweiter\t0x01";

} // namespace

TEST_F(DocFile, WritesMagicThenOneCrLfLinePerSensorInListOrder)
{
    ASSERT_TRUE(doc.OnSaveDocument(dir / "empty.ini", error)) << error;
    EXPECT_EQ(ReadFileBytes(dir / "empty.ini"), "ZELD1\r\n");
    ASSERT_TRUE(doc.OnOpenDocument(dir / "empty.ini", error));
    EXPECT_TRUE(doc.m_sensors.empty());

    auto b = Record(kGoodB);
    auto a = Record(kGoodA);
    b->m_strStatus = "läuft";
    b->m_nCounts = {1, 2, 3};
    doc.AddSensor(b, true);
    doc.AddSensor(a, true);
    doc.m_deleted.push_back(Record("deleted\t80\t9\t1\t\t\t0x00"));
    doc.SetModifiedFlag();
    ASSERT_TRUE(doc.OnSaveDocument(dir / "two.ini", error)) << error;
    EXPECT_EQ(ReadFileBytes(dir / "two.ini"), "ZELD1\r\n" + kGoodB + "\r\n" + kGoodA + "\r\n");
    EXPECT_EQ(doc.GetPathName(), (dir / "two.ini").string());
    EXPECT_FALSE(doc.IsModified());
}

TEST_F(DocFile, ReadsLinesInFileOrderSkippingUnreadableOnes)
{
    const std::vector<std::string> expected{kGoodA, kGoodB};
    for (const std::string& bytes : {
             "ZELD1\r\n" + kGoodA + "\r\n" + kGoodB + "\r\n",
             "ZELD1\n" + kGoodA + "\n" + kGoodB + "\n",
             "ZELD1\r\n" + kGoodA + "\n" + kGoodB,
             // The CR of a CR LF is no field: six fields and a TAB stay six fields.
             "ZELD1 Version 1.03\r\n\r\n" + kGoodA + "\r\nkurz\t80\t1\r\n\n\t\r\n" +
                 "sechs\t80\t1\t1\tu\td\t\r\n" + kGoodB + "\t\r\n",
         })
    {
        FillPrevious();
        ASSERT_TRUE(Open(bytes)) << bytes;
        EXPECT_EQ(Lines(doc), expected) << bytes;
        EXPECT_TRUE(doc.m_deleted.empty());
        EXPECT_EQ(doc.m_nNextBatch, 0);
        EXPECT_EQ(doc.GetPathName(), (dir / "conf.ini").string());
        EXPECT_FALSE(doc.IsModified());
        EXPECT_FALSE(doc.m_bBadFormat);
    }
    for (const char* empty : {"", "ZELD1", "ZELD1\r\n\r\n"})
    {
        FillPrevious();
        ASSERT_TRUE(Open(empty)) << empty;
        EXPECT_TRUE(doc.m_sensors.empty());
        EXPECT_TRUE(doc.m_deleted.empty());
        EXPECT_FALSE(doc.IsModified());
    }
}

TEST_F(DocFile, FailedOpenKeepsTheOpenConfiguration)
{
    for (const std::string& bytes :
         {"zeld1\r\n" + kGoodA + "\r\n", "ZELD\r\n" + kGoodA, std::string("\r\nZELD1\r\n"),
          "\xEF\xBB\xBFZELD1\r\n" + kGoodA, std::string("ZEL\0D1\r\n", 8)})
    {
        FillPrevious();
        EXPECT_FALSE(Open(bytes)) << bytes;
        EXPECT_TRUE(doc.m_bBadFormat);
        EXPECT_EQ(error, kStrBadFormat);
        ExpectPreviousKept();
        doc.DeleteContents();
    }

    FillPrevious();
    EXPECT_FALSE(doc.OnOpenDocument(dir / "missing.ini", error));
    EXPECT_EQ(error, std::strerror(ENOENT));
    EXPECT_FALSE(doc.m_bBadFormat);
    ExpectPreviousKept();
    EXPECT_FALSE(doc.OnOpenDocument(dir.Path(), error));
    EXPECT_EQ(error, std::strerror(EISDIR));
    ExpectPreviousKept();

    ASSERT_TRUE(Open("ZELD1\r\n" + kGoodA));
    EXPECT_FALSE(doc.m_bBadFormat);
}

TEST_F(DocFile, DuplicatesLoadButAddSensorCanRefuseThem)
{
    ASSERT_TRUE(Open("ZELD1\r\nbox\t80\t1\t1\tV\t\t0x00\r\nBOX\t80\t1\t7\tA\t\t0x01\r\n"));
    ASSERT_EQ(doc.m_sensors.size(), 2u);

    auto third = Record("Box\t80\t1\t3\t\t\t0x00");
    EXPECT_FALSE(doc.AddSensor(third, false));
    ASSERT_NE(third, nullptr);
    EXPECT_EQ(doc.m_sensors.size(), 2u);

    auto other = Record("box\t80\t2\t1\t\t\t0x00");
    const CSensor* added = other.get();
    EXPECT_TRUE(doc.AddSensor(other, false));
    EXPECT_EQ(doc.m_sensors.back().get(), added);
    EXPECT_TRUE(doc.AddSensor(third, true));
    EXPECT_EQ(doc.m_sensors.size(), 4u);
    EXPECT_FALSE(doc.IsModified());
}

TEST_F(DocFile, RecordsLoadedOrAddedFindTheirRunningChannel)
{
    const CSensor settings = *Record("box\t80\t2\t1\t\t\t0x00");
    int slot = 0;
    auto* channel = reinterpret_cast<CSensorChannel*>(&slot);
    CChannelList::PushFront(channel, &settings);

    ASSERT_TRUE(Open("ZELD1\r\nBox\t80\t2\t9\t\t\t0x00\r\nbox\t80\t3\t1\t\t\t0x00\r\n"));
    EXPECT_EQ(doc.m_sensors.front()->m_pChannel, channel);
    EXPECT_EQ(doc.m_sensors.back()->m_pChannel, nullptr);
    auto added = Record("BOX\t80\t2\t1\t\t\t0x00");
    ASSERT_TRUE(doc.AddSensor(added, true));
    EXPECT_EQ(doc.m_sensors.back()->m_pChannel, channel);
}

TEST_F(DocFile, LegacyBytesReadAsWindows1252AndUtf8StaysByteIdentical)
{
    ASSERT_TRUE(Open("ZELD1\r\nh\t80\t1\t1\t\xB0"
                     "C\tPreis in \x80\t0x00\r\n"
                     "h\t80\t2\t1\t\xC2\xB0"
                     "C\tK\xC3\xBChlraum\t0x00\r\n"));
    ASSERT_EQ(doc.m_sensors.size(), 2u);
    EXPECT_EQ(doc.m_sensors.front()->m_strUnit, "\xC2\xB0"
                                                "C");
    EXPECT_EQ(doc.m_sensors.front()->m_strDescription, "Preis in \xE2\x82\xAC");
    EXPECT_EQ(doc.m_sensors.back()->m_strDescription, "K\xC3\xBChlraum");

    const std::string utf8 =
        "ZELD1\r\nGer\xC3\xA4t\t80\t1\t1\tm\xC2\xB3\t\xE2\x82\xAC \xF0\x9F\x8C\xA1\t0x01\r\n";
    ASSERT_TRUE(Open(utf8, "utf8.ini"));
    ASSERT_TRUE(doc.OnSaveDocument(dir / "copy.ini", error)) << error;
    EXPECT_EQ(ReadFileBytes(dir / "copy.ini"), utf8);
}

TEST_F(DocFile, SaveReplacesTheFileWhole)
{
    const fs::path target = dir / "conf.ini";
    const std::string old = "ZELD1\r\n" + kGoodA + "\r\n";
    WriteFileBytes(target, old);
    fs::permissions(target, fs::perms(0640));
    for (int i = 0; i < 200; ++i)
    {
        auto sensor = Record(kGoodB);
        doc.AddSensor(sensor, true);
    }
    doc.SetPathName("/previous/conf.ini");
    doc.SetModifiedFlag();

    // The disk fills up halfway through the new file.
    struct rlimit limit;
    getrlimit(RLIMIT_FSIZE, &limit);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = limit;
    small.rlim_cur = 1000;
    setrlimit(RLIMIT_FSIZE, &small);
    const bool savedOk = doc.OnSaveDocument(target, error);
    setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(savedOk);
    EXPECT_EQ(error, std::strerror(EFBIG));
    EXPECT_EQ(ReadFileBytes(target), old);
    EXPECT_EQ(doc.GetPathName(), "/previous/conf.ini");
    EXPECT_TRUE(doc.IsModified());

    EXPECT_FALSE(doc.OnSaveDocument(dir / "no-folder" / "conf.ini", error));
    EXPECT_EQ(error, std::strerror(ENOENT));
    fs::create_directory(dir / "folder.ini");
    EXPECT_FALSE(doc.OnSaveDocument(dir / "folder.ini", error));
    EXPECT_TRUE(fs::is_directory(dir / "folder.ini"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 2)
        << "a failed save left a temporary file behind";

    // Saving through a link rewrites the file it points to and keeps the link and its mode.
    fs::create_symlink(target, dir / "link.ini");
    ASSERT_TRUE(doc.OnSaveDocument(dir / "link.ini", error)) << error;
    EXPECT_TRUE(fs::is_symlink(dir / "link.ini"));
    EXPECT_EQ(ReadFileBytes(target), doc.Serialize());
    EXPECT_EQ(fs::status(target).permissions(), fs::perms(0640));
    EXPECT_FALSE(doc.IsModified());
}

TEST_F(DocFile, NewDocumentEmptiesEverything)
{
    FillPrevious();
    EXPECT_TRUE(doc.OnNewDocument());
    EXPECT_TRUE(doc.m_sensors.empty());
    EXPECT_TRUE(doc.m_deleted.empty());
    EXPECT_EQ(doc.m_nNextBatch, 0);
    EXPECT_EQ(doc.GetPathName(), "");
    EXPECT_FALSE(doc.IsModified());
}
