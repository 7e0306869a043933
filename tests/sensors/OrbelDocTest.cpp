#include "sensors/OrbelDoc.h"

#include "common/TempDir.h"
#include "sensors/ChannelList.h"
#include "sensors/ClipboardText.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <set>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

namespace fs = std::filesystem;

namespace
{

const std::string kA = "a.example\t80\t1\t5\tV\tErster\t0x00";
const std::string kB = "b.example\t8080\t2\t1\t°C\tZweiter\t0x01";
const std::string kC = "10.0.0.7\t80\t3\t15\t\t\t0x00";

std::unique_ptr<CSensor> Record(const std::string& line)
{
    auto sensor = std::make_unique<CSensor>();
    EXPECT_TRUE(sensor->ParseLine(line)) << line;
    return sensor;
}

// The records' text forms, one a line.
template <typename Records> std::string Lines(const Records& records)
{
    std::string lines;
    for (const auto& record : records)
        lines += record->FormatLine() + "\n";
    return lines;
}

// The pasted records' text forms; "-" when the text is no sensor text.
std::string Pasted(const std::string& text)
{
    const auto records = ParseClipboardText(text);
    return records ? Lines(*records) : "-";
}

class DocFile : public ::testing::Test
{
protected:
    bool Open(const std::string& bytes)
    {
        WriteFileBytes(dir / "conf.ini", bytes);
        return doc.OnOpenDocument(dir / "conf.ini", error);
    }
    std::string Lines() const { return ::Lines(doc.m_sensors); }
    // Every member that a failed open must leave alone, set apart from any file below.
    void FillPrevious()
    {
        doc.DeleteContents();
        auto a = Record(kA);
        doc.AddSensor(a, true);
        doc.m_deleted.push_back(Record(kB));
        doc.m_nNextBatch = 1;
        doc.SetPathName("/previous.ini");
        doc.SetModifiedFlag();
    }
    // Enough records that a file of them passes a limit of 1000 bytes.
    void AddRecords(int count)
    {
        for (int i = 0; i < count; ++i)
        {
            auto sensor = Record(kB);
            doc.AddSensor(sensor, true);
        }
    }
    void ExpectPrevious()
    {
        EXPECT_EQ(Lines(), kA + "\n");
        EXPECT_EQ(doc.m_deleted.size(), 1u);
        EXPECT_EQ(doc.m_nNextBatch, 1);
        EXPECT_EQ(doc.GetPathName(), "/previous.ini");
        EXPECT_TRUE(doc.IsModified());
    }

    TempDir dir;
    COrbelDoc doc;
    std::string error;
};

} // namespace

TEST_F(DocFile, WritesMagicThenOneCrLfLinePerSensorInListOrder)
{
    ASSERT_TRUE(doc.OnSaveDocument(dir / "empty.ini", error)) << error;
    EXPECT_EQ(ReadFileBytes(dir / "empty.ini"), "ZELD1\r\n");

    FillPrevious();
    auto b = Record(kB);
    b->m_strStatus = "läuft";
    doc.m_sensors.push_front(std::move(b));
    ASSERT_TRUE(doc.OnSaveDocument(dir / "two.ini", error)) << error;
    EXPECT_EQ(ReadFileBytes(dir / "two.ini"), "ZELD1\r\n" + kB + "\r\n" + kA + "\r\n");

    // Control characters pasted into a text would make a file that is
    // refused; they are written as blanks, and the file reads again.
    doc.m_sensors.front()->m_strDescription = "Zwei\x01te\r\n";
    ASSERT_TRUE(doc.OnSaveDocument(dir / "two.ini", error)) << error;
    EXPECT_EQ(ReadFileBytes(dir / "two.ini"),
              "ZELD1\r\nb.example\t8080\t2\t1\t°C\tZwei te  \t0x01\r\n" + kA + "\r\n");
    EXPECT_TRUE(doc.OnOpenDocument(dir / "two.ini", error)) << error;
    EXPECT_EQ(doc.GetPathName(), (dir / "two.ini").string());
    EXPECT_FALSE(doc.IsModified());
}

TEST_F(DocFile, ReadsLinesInFileOrderSkippingUnreadableOnes)
{
    for (const std::string& bytes :
         {"ZELD1\r\n" + kA + "\r\n" + kB + "\r\n", "ZELD1\n" + kA + "\n" + kB + "\n",
          "ZELD1\r\n" + kA + "\n" + kB,
          // The CR of a CR LF is no field: six fields and a TAB stay six fields.
          "ZELD1 Version 1.03\r\n\r\n" + kA +
              "\r\nkurz\t80\t1\r\n\t\r\nsechs\t80\t1\t1\tu\td\t\r\n" + kB + "\t\r\n"})
    {
        FillPrevious();
        ASSERT_TRUE(Open(bytes)) << bytes;
        EXPECT_EQ(Lines(), kA + "\n" + kB + "\n") << bytes;
        EXPECT_TRUE(doc.m_deleted.empty());
        EXPECT_EQ(doc.m_nNextBatch, 0);
        EXPECT_EQ(doc.GetPathName(), (dir / "conf.ini").string());
        EXPECT_FALSE(doc.IsModified());
    }
    for (const char* empty : {"", "ZELD1", "ZELD1\r\n\r\n"})
    {
        FillPrevious();
        ASSERT_TRUE(Open(empty)) << empty;
        EXPECT_EQ(Lines(), "");
        EXPECT_TRUE(doc.m_deleted.empty());
    }
}

TEST_F(DocFile, FailedOpenKeepsTheOpenConfiguration)
{
    // A wrong magic line is a bad format; control characters but TAB, and
    // overlong lines, refuse the file and name the line; a line of the
    // longest length still reads.
    const std::string longest(kMaxLineLength, 'x');
    const std::pair<std::string, int> refused[] = {
        {"zeld1\r\n" + kA, 0},
        {"ZELD\r\n" + kA, 0},
        {"\r\nZELD1\r\n" + kA, 0},
        {"\xEF\xBB\xBFZELD1\r\n" + kA, 0},
        {std::string("ZEL\0D1\r\n", 8), 0},
        {"ZELD1\r\n" + kA + "\r\nh\t80\t1\t1\tV\tK\x01hl\t0\r\n", 3},
        {std::string("ZELD1\r\nh\0st\t80\t1\t1\t\t\t0\r\n", 24), 2},
        {"ZELD1\n" + kA + "\rkurz\n", 2},
        {"ZELD1 \x1B\r\n" + kA, 1},
        {"ZELD1\r\n" + kA + "\r\n" + longest + "\r\n" + longest + "y", 4},
    };
    for (const auto& [bytes, line] : refused)
    {
        FillPrevious();
        EXPECT_FALSE(Open(bytes)) << line;
        EXPECT_EQ(doc.m_bBadFormat, line == 0);
        if (line == 0)
            EXPECT_EQ(error, kStrBadFormat);
        else
            EXPECT_TRUE(error.starts_with("Zeile " + std::to_string(line) + " ")) << error;
        ExpectPrevious();
    }

    // Neither a device nor a file beyond the bound is read; a file at the
    // bound is, and its second line is then too long.
    for (const auto& [name, size] : {std::pair("big.ini", CConfigFile::m_nMaxSize + 1),
                                     std::pair("bound.ini", CConfigFile::m_nMaxSize)})
    {
        WriteFileBytes(dir / name, "ZELD1\r\n");
        fs::resize_file(dir / name, static_cast<uintmax_t>(size));
    }
    const std::pair<fs::path, std::string> unreadable[] = {
        {dir / "missing.ini", std::strerror(ENOENT)},
        {dir.Path(), std::strerror(EISDIR)},
        {"/dev/zero", ""},
        {dir / "big.ini", ""}};
    std::set<std::string> reasons;
    for (const auto& [path, reason] : unreadable)
    {
        EXPECT_FALSE(doc.OnOpenDocument(path, error)) << path;
        EXPECT_FALSE(doc.m_bBadFormat);
        EXPECT_TRUE(reason.empty() ? !error.empty() && !error.starts_with("Zeile")
                                   : error == reason)
            << path << ": " << error;
        reasons.insert(error);
        ExpectPrevious();
    }
    // The device is refused as such, not after 64 MiB of it.
    EXPECT_EQ(reasons.size(), 4u);
    EXPECT_FALSE(doc.OnOpenDocument(dir / "bound.ini", error));
    EXPECT_TRUE(error.starts_with("Zeile 2 ")) << error;
    ExpectPrevious();
}

TEST_F(DocFile, DuplicatesLoadAndFindTheirChannelButAddSensorCanRefuseThem)
{
    const CSensor settings = *Record("box\t80\t1\t1\t\t\t0");
    int slot = 0;
    auto* channel = reinterpret_cast<CSensorChannel*>(&slot);
    CChannelList::PushFront(channel, &settings);

    ASSERT_TRUE(
        Open("ZELD1\r\nbox\t80\t1\t1\tV\t\t0\r\nBOX\t80\t1\t7\tA\t\t1\r\nbox\t80\t2\t1\t\t\t0"));
    ASSERT_EQ(doc.m_sensors.size(), 3u);
    EXPECT_EQ(doc.m_sensors.front()->m_pChannel, channel);
    EXPECT_EQ((*std::next(doc.m_sensors.begin()))->m_pChannel, channel);
    EXPECT_EQ(doc.m_sensors.back()->m_pChannel, nullptr);

    auto third = Record("Box\t80\t1\t3\t\t\t0");
    EXPECT_FALSE(doc.AddSensor(third, false));
    ASSERT_NE(third, nullptr);
    EXPECT_EQ(doc.m_sensors.size(), 3u);
    const CSensor* added = third.get();
    EXPECT_TRUE(doc.AddSensor(third, true));
    EXPECT_EQ(doc.m_sensors.back().get(), added);
    EXPECT_EQ(added->m_pChannel, channel);
    auto other = Record("box\t80\t3\t1\t\t\t0");
    EXPECT_TRUE(doc.AddSensor(other, false));
    EXPECT_EQ(doc.m_sensors.size(), 5u);
    EXPECT_FALSE(doc.IsModified());
    CChannelList::Remove(channel);
}

TEST_F(DocFile, LegacyLinesReadAsWindows1252AndUtf8StaysByteIdentical)
{
    // Line by line, in a file as in pasted text.
    const std::string mixed =
        "ZELD1\r\nh\t80\t1\t1\t\260C\tPreis in \x80\t0\r\nGerät\t80\t2\t1\tm³\tKühlraum\t1";
    const std::string read =
        "h\t80\t1\t1\t°C\tPreis in €\t0x00\nGerät\t80\t2\t1\tm³\tKühlraum\t0x01\n";
    ASSERT_TRUE(Open(mixed));
    EXPECT_EQ(Lines(), read);
    EXPECT_EQ(Pasted(mixed), read);

    const std::string utf8 = "ZELD1\r\nGerät\t80\t1\t1\tm³\t€ \xF0\x9F\x8C\xA1\t0x01\r\n";
    ASSERT_TRUE(Open(utf8));
    ASSERT_TRUE(doc.OnSaveDocument(dir / "copy.ini", error)) << error;
    EXPECT_EQ(ReadFileBytes(dir / "copy.ini"), utf8);
}

TEST_F(DocFile, SaveReplacesTheFileWholeOrNotAtAll)
{
    const fs::path target = dir / "conf.ini";
    const std::string old = "ZELD1\r\n" + kA + "\r\n";
    WriteFileBytes(target, old);
    fs::permissions(target, fs::perms(0640));
    FillPrevious();
    AddRecords(100);

    // The disk fills up halfway through the new file.
    rlimit limit;
    getrlimit(RLIMIT_FSIZE, &limit);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = limit;
    small.rlim_cur = 1000;
    setrlimit(RLIMIT_FSIZE, &small);
    const bool savedOk = doc.OnSaveDocument(target, error);
    setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(savedOk);
    EXPECT_EQ(error, std::strerror(EFBIG));
    EXPECT_EQ(ReadFileBytes(target), old);
    EXPECT_EQ(doc.GetPathName(), "/previous.ini");
    EXPECT_TRUE(doc.IsModified());

    EXPECT_FALSE(doc.OnSaveDocument(dir / "no-folder" / "conf.ini", error));
    EXPECT_EQ(error, std::strerror(ENOENT));
    fs::create_directory(dir / "folder.ini");
    EXPECT_FALSE(doc.OnSaveDocument(dir / "folder.ini", error));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 2)
        << "a failed save left a temporary file behind";

    // Saving through links rewrites the file they point to, keeping the links
    // and the mode; a dangling link gets its file.
    fs::create_symlink(target, dir / "link.ini");
    fs::create_symlink("link.ini", dir / "chain.ini");
    fs::create_symlink("new.ini", dir / "dangling.ini");
    for (const char* link : {"chain.ini", "dangling.ini"})
    {
        ASSERT_TRUE(doc.OnSaveDocument(dir / link, error)) << link << ": " << error;
        EXPECT_TRUE(fs::is_symlink(dir / link));
    }
    EXPECT_EQ(ReadFileBytes(target), doc.Serialize());
    EXPECT_EQ(ReadFileBytes(dir / "new.ini"), doc.Serialize());
    EXPECT_EQ(fs::status(target).permissions(), fs::perms(0640));
}

TEST_F(DocFile, SaveRefusesWhatItMustNotReplaceAndLeavesNoTemporaryFile)
{
    FillPrevious();
    const fs::path target = dir / "conf.ini";
    const std::string old = "ZELD1\r\n";
    WriteFileBytes(target, old);
    ASSERT_EQ(mkfifo((dir / "fifo.ini").c_str(), 0600), 0);
    // Read-only even for root, a FIFO, a loop of links.
    fs::permissions(target, fs::perms(0444));
    fs::create_symlink("loop.ini", dir / "loop.ini");
    for (const char* name : {"conf.ini", "fifo.ini", "loop.ini"})
    {
        EXPECT_FALSE(doc.OnSaveDocument(dir / name, error)) << name;
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(doc.GetPathName(), "/previous.ini");
    }
    EXPECT_EQ(ReadFileBytes(target), old);
    EXPECT_EQ(fs::status(dir / "fifo.ini").type(), fs::file_type::fifo);
    fs::permissions(target, fs::perms(0644));

    // A save killed half way through its write.
    AddRecords(100);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)
    {
        const rlimit none{0, 0};
        setrlimit(RLIMIT_CORE, &none);
        const rlimit small{1000, 1000};
        setrlimit(RLIMIT_FSIZE, &small);
        std::signal(SIGXFSZ, SIG_DFL);
        doc.OnSaveDocument(target, error);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(ReadFileBytes(target), old);
    const auto names = [this]
    {
        std::set<std::string> found;
        for (const auto& entry : fs::directory_iterator(dir.Path()))
            found.insert(entry.path().filename().string());
        return found;
    };
    const std::set<std::string> mine = {"conf.ini", "fifo.ini", "loop.ini"};
    // Unnamed while written, where the file system offers it: nothing left.
    if (const int probe = open(dir.Path().c_str(), O_TMPFILE | O_WRONLY, 0600); probe >= 0)
    {
        close(probe);
        EXPECT_EQ(names(), mine);
    }
    // Otherwise the next save removes what a process that is gone left; a
    // running one's stays.
    WriteFileBytes(dir / (".conf.ini.~" + std::to_string(child) + "-3"), old);
    const std::string running = ".conf.ini.~" + std::to_string(getpid()) + "-7";
    WriteFileBytes(dir / running, old);
    ASSERT_TRUE(doc.OnSaveDocument(target, error)) << error;
    EXPECT_EQ(ReadFileBytes(target), doc.Serialize());
    std::set<std::string> expected = mine;
    expected.insert(running);
    EXPECT_EQ(names(), expected);
}

TEST(ClipboardText, CopiedRecordsAndSavedFilesPasteWhole)
{
    COrbelDoc doc;
    for (const std::string& line : {kA, kB, kC, kA})
    {
        auto record = Record(line);
        doc.AddSensor(record, true);
    }
    // Display order, whatever the order of creation.
    std::vector<CSensor*> shown;
    for (auto it = doc.m_sensors.rbegin(); it != std::next(doc.m_sensors.rbegin(), 3); ++it)
        shown.push_back(it->get());
    const std::string text = FormatClipboardText(shown);
    EXPECT_EQ(text, "ZELD1\r\n" + kA + "\r\n" + kC + "\r\n" + kB + "\r\n");
    EXPECT_EQ(Pasted(text), kA + "\n" + kC + "\n" + kB + "\n");
    // A saved file, duplicates included.
    EXPECT_EQ(Pasted(doc.Serialize()), kA + "\n" + kB + "\n" + kC + "\n" + kA + "\n");
    EXPECT_EQ(FormatClipboardText({}), "ZELD1\r\n");
    EXPECT_EQ(Pasted("ZELD1\r\n"), "");
}

TEST(ClipboardText, TextWithoutTheMagicLineIsNoSensorText)
{
    for (const std::string& text : std::vector<std::string>{
             "", "ZELD1\n" + kA + "\r\n", "zeld1\r\n" + kA, "ZELD1\r" + kA, " ZELD1\r\n" + kA,
             "ZELD1 \r\n" + kA, "ZELD1", std::string("ZELD1\0\r\n", 8) + kA})
        EXPECT_EQ(Pasted(text), "-") << text;
    // The text ends at its first NUL.
    EXPECT_EQ(Pasted("ZELD1\r\n" + kA + "\r\n" + std::string(1, '\0') + kB), kA + "\n");
}

TEST(ClipboardText, LineWalkSkipsBlankAndShortLinesAndLeadingBlanksOfLaterLines)
{
    // A skipped line leaves nothing behind in the record that the next one fills.
    EXPECT_EQ(Pasted("ZELD1\r\n\r\n\r\n" + kA + "\r\nsechs\t81\t9\t9\tu\td\r\n \t \r\n" + kB +
                     "\r\n\r\n"),
              kA + "\n" + kB + "\n");
    // LF alone ends a line after the magic; the last line needs no line end.
    EXPECT_EQ(Pasted("ZELD1\r\n" + kA + "\n" + kB + "\r\n\t " + kC),
              kA + "\n" + kB + "\n" + kC + "\n");

    // An empty address loads only on the first line: on a later one its TAB
    // goes with the blanks, and six fields are too few...
    const std::string noAddress = "\t80\t4\t1\tV\tohne\t0x00";
    EXPECT_EQ(Pasted("ZELD1\r\n" + noAddress + "\r\n" + noAddress + "\r\n" + kA),
              noAddress + "\n" + kA + "\n");
    // ...while eight fields load, each one place to the left.
    EXPECT_EQ(Pasted("ZELD1\r\n" + kA + "\r\n" + noAddress + "\t0x01"),
              kA + "\n80\t4\t1\t1\tohne\t0x00\t0x01\n");
}
