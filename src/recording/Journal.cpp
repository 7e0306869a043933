#include "recording/Journal.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <random>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace
{

constexpr std::string_view kMagic = "TESSARO-JOURNAL 1 ";
constexpr std::string_view kPositionMagic = "P ";
// Two slots written in turn, so that a torn write leaves the other intact.
constexpr std::size_t kPositionSlot = 128;
constexpr std::size_t kReadChunk = 1 << 20;
// Longer than any line of a valid record: a header, or a SensorID and the
// six decimals of the largest float.
constexpr std::size_t kLongestLine = 96;
// A dropped prefix worth rewriting the file for.
constexpr std::uint64_t kCompactBytes = 1 << 20;
// Slots of one data source's journal for recorders running side by side.
constexpr int kSlots = 64;

std::uint32_t Crc32(std::string_view bytes)
{
    static const auto table = []
    {
        std::array<std::uint32_t, 256> entries{};
        for (std::uint32_t i = 0; i < 256; ++i)
        {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            entries[i] = c;
        }
        return entries;
    }();
    std::uint32_t crc = 0xFFFFFFFFu;
    for (const char b : bytes)
        crc = table[(crc ^ static_cast<unsigned char>(b)) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

std::string Hex(std::uint64_t value, int digits)
{
    std::array<char, 20> text{};
    std::snprintf(text.data(), text.size(), "%0*llx", digits,
                  static_cast<unsigned long long>(value));
    return text.data();
}

template <typename Number> bool ReadNumber(std::string_view text, Number& value, int base = 10)
{
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

std::vector<std::string_view> Fields(std::string_view line)
{
    std::vector<std::string_view> fields;
    while (!line.empty())
    {
        const size_t space = line.find(' ');
        fields.push_back(line.substr(0, space));
        if (space == std::string_view::npos)
            break;
        line.remove_prefix(space + 1);
    }
    return fields;
}

// Exactly what the statements write: NULL, or "%f" of a finite value.
bool IsValueLiteral(std::string_view text)
{
    if (text == kNullValue)
        return true;
    if (!text.empty() && text.front() == '-')
        text.remove_prefix(1);
    const size_t point = text.find('.');
    const auto digits = [](std::string_view part)
    {
        return !part.empty() &&
               std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    return point != std::string_view::npos && point <= 48 && digits(text.substr(0, point)) &&
           text.size() - point - 1 == 6 && digits(text.substr(point + 1));
}

bool ReadCivil(std::string_view date, std::string_view time, CivilTime& civil)
{
    if (date.size() != 10 || time.size() != 8 || date[4] != '-' || date[7] != '-' ||
        time[2] != ':' || time[5] != ':')
        return false;
    return ReadNumber(date.substr(0, 4), civil.year) &&
           ReadNumber(date.substr(5, 2), civil.month) && ReadNumber(date.substr(8, 2), civil.day) &&
           ReadNumber(time.substr(0, 2), civil.hour) &&
           ReadNumber(time.substr(3, 2), civil.minute) &&
           ReadNumber(time.substr(6, 2), civil.second) && civil.year >= 1 && civil.month >= 1 &&
           civil.month <= 12 && civil.day >= 1 && civil.day <= 31 && civil.hour <= 23 &&
           civil.minute <= 59 && civil.second <= 60;
}

std::string FormatTick(const CTick& tick)
{
    std::array<char, kLongestLine> header{};
    std::snprintf(header.data(), header.size(), "T %04d-%02d-%02d %02d:%02d:%02d %zu %c\n",
                  tick.m_time.year, tick.m_time.month, tick.m_time.day, tick.m_time.hour,
                  tick.m_time.minute, tick.m_time.second, tick.m_rows.size(),
                  tick.m_bInDoubt ? 'D' : '-');
    std::string text = header.data();
    text.reserve(text.size() + tick.m_rows.size() * 24 + 12);
    for (const CReading& row : tick.m_rows)
    {
        text += std::to_string(row.m_nSensorId);
        text += ' ';
        text += row.m_strValue;
        text += '\n';
    }
    text += "E " + Hex(Crc32(text), 8) + '\n';
    return text;
}

bool WriteAll(int fd, std::string_view bytes, std::uint64_t offset)
{
    while (!bytes.empty())
    {
        const ssize_t written =
            ::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes.remove_prefix(static_cast<size_t>(written));
        offset += static_cast<std::uint64_t>(written);
    }
    return true;
}

void SyncFolder(const std::string& path)
{
    const CFileDescriptor folder(::open(std::filesystem::path(path).parent_path().c_str(),
                                        O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.Get() >= 0)
        ::fsync(folder.Get());
}

// Reads records one after the other from an offset on.
class CRecordReader
{
public:
    enum class Result
    {
        Record,
        End,     // no further whole record; torn tells whether bytes were left
        Damaged, // a record that does not read; reading goes on after it
    };

    CRecordReader(int fd, std::uint64_t offset, std::uint64_t end)
        : m_nFd(fd), m_nOffset(offset), m_nEnd(end), m_nBufferStart(offset)
    {
    }

    // On Record: the tick and where its record begins and ends. On Damaged:
    // where the damage begins and the rows its header claimed, if it has one.
    Result Next(CTick& tick, std::uint64_t& begin, std::uint64_t& end, std::size_t& claimed)
    {
        begin = m_nOffset;
        claimed = 0;
        std::uint64_t at = m_nOffset;
        const std::optional<std::string_view> header = LineAt(at);
        if (!header)
            return Result::End;
        const std::vector<std::string_view> fields = Fields(*header);
        std::size_t count = 0;
        tick = CTick{};
        if (fields.size() != 5 || fields[0] != "T" ||
            !ReadCivil(fields[1], fields[2], tick.m_time) || !ReadNumber(fields[3], count) ||
            (fields[4] != "D" && fields[4] != "-"))
            return Damage(begin);
        tick.m_bInDoubt = fields[4] == "D";
        claimed = count;
        tick.m_rows.reserve(std::min<std::size_t>(count, 100000));
        at += header->size() + 1;
        for (std::size_t i = 0; i < count; ++i)
        {
            const std::optional<std::string_view> line = LineAt(at);
            if (!line)
                return m_bEof ? Result::End : Damage(begin);
            const std::vector<std::string_view> row = Fields(*line);
            CReading reading;
            if (row.size() != 2 || !ReadNumber(row[0], reading.m_nSensorId) ||
                !IsValueLiteral(row[1]))
                return Damage(begin);
            reading.m_strValue = std::string(row[1]);
            tick.m_rows.push_back(std::move(reading));
            at += line->size() + 1;
        }
        const std::uint64_t checked = at;
        const std::optional<std::string_view> trailer = LineAt(at);
        if (!trailer)
            return m_bEof ? Result::End : Damage(begin);
        std::uint32_t crc = 0;
        if (trailer->size() != 10 || !trailer->starts_with("E ") ||
            !ReadNumber(trailer->substr(2), crc, 16) || crc != Crc32(Bytes(begin, checked)))
            return Damage(begin);
        end = at + trailer->size() + 1;
        m_nOffset = end;
        return Result::Record;
    }

private:
    Result Damage(std::uint64_t begin)
    {
        // On at the next line that may start a record.
        std::uint64_t at = begin + 1;
        while (true)
        {
            if (!Fill(at, 2))
            {
                m_nOffset = m_nEnd;
                return Result::Damaged;
            }
            const std::string_view rest =
                Bytes(at, std::min(m_nEnd, m_nBufferStart + m_buffer.size()));
            const size_t found = rest.find("\nT ");
            if (found != std::string_view::npos)
            {
                m_nOffset = at + found + 1;
                return Result::Damaged;
            }
            at += rest.size() > 2 ? rest.size() - 2 : rest.size();
        }
    }

    std::string_view Bytes(std::uint64_t from, std::uint64_t to) const
    {
        return std::string_view(m_buffer).substr(static_cast<size_t>(from - m_nBufferStart),
                                                 static_cast<size_t>(to - from));
    }

    // The line at an offset without its LF, nothing when the file ends
    // first (m_bEof) or the line is longer than any valid one.
    std::optional<std::string_view> LineAt(std::uint64_t at)
    {
        m_bEof = false;
        for (std::size_t want = kLongestLine;; want *= 2)
        {
            const bool filled = Fill(at, want);
            const std::uint64_t available = std::min(m_nEnd, m_nBufferStart + m_buffer.size()) - at;
            const std::string_view window = Bytes(at, at + available);
            const size_t lf = window.find('\n');
            if (lf != std::string_view::npos)
            {
                if (lf >= kLongestLine * 2)
                    return std::nullopt;
                return window.substr(0, lf);
            }
            if (!filled || available >= kLongestLine * 2)
            {
                m_bEof = !filled;
                return std::nullopt;
            }
        }
    }

    // Makes at least `want` bytes from `at` on readable; false when the
    // file ends before.
    bool Fill(std::uint64_t at, std::size_t want)
    {
        if (at < m_nBufferStart)
            return false;
        if (at - m_nBufferStart > kReadChunk)
        {
            // Drop what lies behind, but keep the current record's start.
            const std::uint64_t keep = std::min(at, m_nOffset);
            m_buffer.erase(0, static_cast<size_t>(keep - m_nBufferStart));
            m_nBufferStart = keep;
        }
        while (m_nBufferStart + m_buffer.size() < std::min(at + want, m_nEnd))
        {
            const std::uint64_t from = m_nBufferStart + m_buffer.size();
            const size_t size =
                static_cast<size_t>(std::min<std::uint64_t>(kReadChunk, m_nEnd - from));
            const size_t old = m_buffer.size();
            m_buffer.resize(old + size);
            const ssize_t got =
                ::pread(m_nFd, m_buffer.data() + old, size, static_cast<off_t>(from));
            if (got <= 0)
            {
                m_buffer.resize(old);
                break;
            }
            m_buffer.resize(old + static_cast<size_t>(got));
        }
        return m_nBufferStart + m_buffer.size() >= at + want;
    }

    int m_nFd;
    std::uint64_t m_nOffset;
    std::uint64_t m_nEnd;
    std::uint64_t m_nBufferStart;
    std::string m_buffer;
    bool m_bEof = false;
};

// The rows of a tick from row `first` on.
CTick Remainder(CTick tick, std::uint32_t first)
{
    tick.m_rows.erase(tick.m_rows.begin(),
                      tick.m_rows.begin() + std::min<std::size_t>(first, tick.m_rows.size()));
    return tick;
}

} // namespace

std::string CJournal::FileNameOf(const std::string& dataSource)
{
    std::string name;
    for (const char c : dataSource)
    {
        const auto byte = static_cast<unsigned char>(c);
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '_' || c == '-' ||
                           (c == '.' && !name.empty());
        name += plain ? std::string(1, c) : "%" + Hex(byte, 2);
    }
    // File names end at 255 bytes; a long name keeps its start and a hash of
    // the whole.
    if (name.size() > 160)
        name = name.substr(0, 150) + "~" + Hex(Crc32(dataSource), 8);
    return name.empty() ? "%00" : name;
}

bool CJournal::Open(const std::string& folder, const std::string& dataSource, std::size_t limit,
                    std::string& errorText)
{
    const std::lock_guard lock(m_mutex);
    m_nLimit = std::max<std::size_t>(limit, 1);
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    const std::string base = (std::filesystem::path(folder) / FileNameOf(dataSource)).string();
    for (int slot = 1; slot <= kSlots && m_lock.Get() < 0; ++slot)
    {
        const std::string candidate = slot == 1 ? base : base + "-" + std::to_string(slot);
        CFileDescriptor lockFile(
            ::open((candidate + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
        if (lockFile.Get() < 0)
        {
            errorText = candidate + ".lock: " + std::strerror(errno);
            return false;
        }
        if (::flock(lockFile.Get(), LOCK_EX | LOCK_NB) != 0)
            continue;
        m_lock = std::move(lockFile);
        m_strBase = candidate;
    }
    if (m_lock.Get() < 0)
    {
        errorText = base + ": every journal of this data source is in use";
        return false;
    }
    m_file.Reset(::open((m_strBase + ".journal").c_str(), O_RDWR | O_CLOEXEC));
    if (m_file.Get() < 0)
    {
        if (errno == ENOENT)
            return true; // nothing left by an earlier run
        errorText = m_strBase + ".journal: " + std::strerror(errno);
        return false;
    }
    return Scan(errorText);
}

bool CJournal::IsOpen() const
{
    const std::lock_guard lock(m_mutex);
    return m_lock.Get() >= 0;
}

std::string CJournal::Path() const
{
    const std::lock_guard lock(m_mutex);
    return m_strBase + ".journal";
}

std::size_t CJournal::Rows() const
{
    const std::lock_guard lock(m_mutex);
    return m_nRows;
}

std::size_t CJournal::TakeDamaged()
{
    const std::lock_guard lock(m_mutex);
    return std::exchange(m_nDamaged, 0);
}

bool CJournal::Scan(std::string& errorText)
{
    struct stat status = {};
    if (::fstat(m_file.Get(), &status) != 0)
    {
        errorText = m_strBase + ".journal: " + std::strerror(errno);
        return false;
    }
    const auto fileSize = static_cast<std::uint64_t>(status.st_size);
    std::array<char, kMagic.size() + 17> header{};
    const ssize_t got = ::pread(m_file.Get(), header.data(), header.size(), 0);
    std::uint64_t id = 0;
    const std::string_view text(header.data(), got > 0 ? static_cast<size_t>(got) : 0);
    if (text.size() != header.size() || !text.starts_with(kMagic) || text.back() != '\n' ||
        !ReadNumber(text.substr(kMagic.size(), 16), id, 16))
    {
        // Not a journal this program wrote, or cut off before its first
        // record: set aside, and said so.
        m_file.Reset();
        const std::string path = m_strBase + ".journal";
        std::error_code error;
        std::filesystem::rename(path, path + ".unreadable", error);
        errorText = path + ": not a journal of this program; moved to " + path + ".unreadable";
        return true;
    }
    m_nId = id;
    m_position = {header.size(), 0};
    ReadPosition();

    CRecordReader reader(m_file.Get(), m_position.m_nOffset, fileSize);
    CTick tick;
    std::uint64_t begin = 0, end = m_position.m_nOffset, lastGood = m_position.m_nOffset;
    std::size_t claimed = 0, rows = 0, damaged = 0;
    bool damageInside = false, damageSeen = false;
    while (true)
    {
        const CRecordReader::Result result = reader.Next(tick, begin, end, claimed);
        if (result == CRecordReader::Result::End)
            break;
        if (result == CRecordReader::Result::Damaged)
        {
            damaged += claimed;
            damageSeen = true;
            continue;
        }
        damageInside = damageInside || damageSeen;
        const std::size_t done = begin == m_position.m_nOffset ? m_position.m_nRow : 0;
        rows += tick.m_rows.size() - std::min(done, tick.m_rows.size());
        lastGood = end;
    }
    m_nRows = rows;
    m_nSize = lastGood;
    // A record cut off by a kill was never complete, so never reported as
    // kept; a damaged one inside the file is reported as lost.
    m_nDamaged = damageInside ? damaged : 0;
    if (damageInside && !Compact())
    {
        errorText = m_strBase + ".journal: " + std::strerror(errno);
        return false;
    }
    if (damageInside)
        return true;
    if (lastGood < fileSize && ::ftruncate(m_file.Get(), static_cast<off_t>(lastGood)) != 0)
    {
        errorText = m_strBase + ".journal: " + std::strerror(errno);
        return false;
    }
    if (m_nRows == 0)
        RemoveFiles();
    return true;
}

void CJournal::ReadPosition()
{
    const CFileDescriptor file(::open((m_strBase + ".position").c_str(), O_RDONLY | O_CLOEXEC));
    if (file.Get() < 0)
        return;
    std::array<char, 2 * kPositionSlot> slots{};
    const ssize_t got = ::pread(file.Get(), slots.data(), slots.size(), 0);
    std::uint64_t best = 0;
    bool found = false;
    for (size_t slot = 0; got > 0 && slot * kPositionSlot < static_cast<size_t>(got); ++slot)
    {
        std::string_view text(
            slots.data() + slot * kPositionSlot,
            std::min<size_t>(kPositionSlot, static_cast<size_t>(got) - slot * kPositionSlot));
        const size_t lf = text.find('\n');
        if (lf == std::string_view::npos)
            continue;
        text = text.substr(0, lf);
        while (!text.empty() && text.back() == ' ')
            text.remove_suffix(1);
        const size_t lastSpace = text.rfind(' ');
        std::uint32_t crc = 0;
        if (lastSpace == std::string_view::npos ||
            !ReadNumber(text.substr(lastSpace + 1), crc, 16) ||
            crc != Crc32(text.substr(0, lastSpace)))
            continue;
        const std::vector<std::string_view> fields = Fields(text.substr(0, lastSpace));
        std::uint64_t sequence = 0, id = 0;
        CJournalPosition position, doubtEnd;
        if (fields.size() != 7 || fields[0] != "P" || !ReadNumber(fields[1], sequence) ||
            !ReadNumber(fields[2], id, 16) || !ReadNumber(fields[3], position.m_nOffset) ||
            !ReadNumber(fields[4], position.m_nRow) || !ReadNumber(fields[5], doubtEnd.m_nOffset) ||
            !ReadNumber(fields[6], doubtEnd.m_nRow) || id != m_nId ||
            position.m_nOffset < kMagic.size() + 17 || (found && sequence <= best))
            continue;
        found = true;
        best = sequence;
        m_position = position;
        m_doubtEnd = doubtEnd;
    }
    m_nSequence = best;
}

bool CJournal::WritePosition()
{
    const CFileDescriptor file(
        ::open((m_strBase + ".position").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    if (file.Get() < 0)
        return false;
    ++m_nSequence;
    std::string text =
        std::string(kPositionMagic) + std::to_string(m_nSequence) + ' ' + Hex(m_nId, 16) + ' ' +
        std::to_string(m_position.m_nOffset) + ' ' + std::to_string(m_position.m_nRow) + ' ' +
        std::to_string(m_doubtEnd.m_nOffset) + ' ' + std::to_string(m_doubtEnd.m_nRow);
    text += ' ' + Hex(Crc32(text), 8);
    text.resize(kPositionSlot - 1, ' ');
    text += '\n';
    return WriteAll(file.Get(), text, (m_nSequence % 2) * kPositionSlot) &&
           ::fdatasync(file.Get()) == 0;
}

bool CJournal::CreateFile()
{
    const std::string path = m_strBase + ".journal";
    // A position of some earlier journal must never apply to this one.
    ::unlink((m_strBase + ".position").c_str());
    m_file.Reset(::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (m_file.Get() < 0)
        return false;
    std::random_device random;
    m_nId = (static_cast<std::uint64_t>(random()) << 32) ^ random();
    const std::string header = std::string(kMagic) + Hex(m_nId, 16) + '\n';
    if (!WriteAll(m_file.Get(), header, 0) || ::fdatasync(m_file.Get()) != 0)
    {
        m_file.Reset();
        ::unlink(path.c_str());
        return false;
    }
    SyncFolder(path);
    m_nSize = header.size();
    m_position = m_doubtEnd = {header.size(), 0};
    m_nSequence = 0;
    m_nRows = 0;
    return true;
}

bool CJournal::Append(const CTick& tick, std::size_t& dropped)
{
    const std::lock_guard lock(m_mutex);
    dropped = 0;
    if (tick.m_rows.empty())
        return true;
    if (m_lock.Get() < 0 || (m_file.Get() < 0 && !CreateFile()))
    {
        dropped = tick.m_rows.size();
        return false;
    }
    const std::string record = FormatTick(tick);
    if (!WriteAll(m_file.Get(), record, m_nSize) || ::fdatasync(m_file.Get()) != 0)
    {
        // Whatever part got there is cut off again.
        [[maybe_unused]] const int cut = ::ftruncate(m_file.Get(), static_cast<off_t>(m_nSize));
        dropped = tick.m_rows.size();
        return false;
    }
    m_nSize += record.size();
    m_nRows += tick.m_rows.size();
    if (m_nRows > m_nLimit && !m_bInFlight)
        DropOldest(m_nRows - m_nLimit, dropped);
    return true;
}

void CJournal::DropOldest(std::size_t rows, std::size_t& dropped)
{
    CRecordReader reader(m_file.Get(), m_position.m_nOffset, m_nSize);
    CTick tick;
    std::uint64_t begin = 0, end = 0;
    std::size_t claimed = 0;
    CJournalPosition to = m_position;
    std::size_t passed = 0;
    while (passed < rows && reader.Next(tick, begin, end, claimed) == CRecordReader::Result::Record)
    {
        const std::size_t left = tick.m_rows.size() - (begin == to.m_nOffset ? to.m_nRow : 0);
        if (passed + left <= rows)
        {
            passed += left;
            to = {end, 0};
        }
        else
        {
            to.m_nRow += static_cast<std::uint32_t>(rows - passed);
            passed = rows;
        }
    }
    m_position = to;
    m_nRows -= passed;
    dropped += passed;
    WritePosition();
    CompactIfWorthIt();
}

bool CJournal::NextBatch(std::size_t maxRows, CBatch& batch)
{
    const std::lock_guard lock(m_mutex);
    if (m_bInFlight || m_nRows == 0 || m_file.Get() < 0)
        return false;
    CRecordReader reader(m_file.Get(), m_position.m_nOffset, m_nSize);
    CTick tick;
    std::uint64_t begin = 0, end = 0;
    std::size_t claimed = 0;
    CBatch next;
    next.m_begin = m_position;
    while (next.m_ticks.empty() || next.m_nRows < maxRows)
    {
        if (reader.Next(tick, begin, end, claimed) != CRecordReader::Result::Record)
            break;
        const std::uint32_t first = begin == m_position.m_nOffset ? m_position.m_nRow : 0;
        CTick rest = Remainder(std::move(tick), first);
        // A record before the end of the doubt may be in the database.
        rest.m_bInDoubt = rest.m_bInDoubt || CJournalPosition{begin, first} < m_doubtEnd;
        next.m_nRows += rest.m_rows.size();
        next.m_ticks.push_back(std::move(rest));
        next.m_end = {end, 0};
    }
    if (next.m_ticks.empty())
        return false;
    batch = std::move(next);
    // Durable before anything is written: should this process die with
    // the batch under way, the next run checks it before writing it again.
    m_bInFlight = true;
    m_flightEnd = batch.m_end;
    m_doubtBeforeFlight = m_doubtEnd;
    m_doubtEnd = std::max(m_doubtEnd, batch.m_end);
    WritePosition();
    return true;
}

void CJournal::Done(const CBatch& batch)
{
    const std::lock_guard lock(m_mutex);
    if (batch.m_end == m_flightEnd)
        m_bInFlight = false;
    if (m_position == batch.m_begin)
    {
        m_nRows -= std::min(m_nRows, batch.m_nRows);
        m_position = batch.m_end;
    }
    else if (m_position < batch.m_end)
        Advance(batch.m_end);
    if (m_nRows == 0 && !m_bInFlight)
    {
        RemoveFiles();
        return;
    }
    WritePosition();
    CompactIfWorthIt();
}

void CJournal::Failed(const CBatch& batch, bool inDoubt)
{
    const std::lock_guard lock(m_mutex);
    if (batch.m_end != m_flightEnd || !m_bInFlight)
    {
        // Abandoned meanwhile: it stays in doubt as Abandon left it.
        return;
    }
    m_bInFlight = false;
    if (!inDoubt)
    {
        m_doubtEnd = m_doubtBeforeFlight;
        WritePosition();
    }
}

void CJournal::Abandon()
{
    const std::lock_guard lock(m_mutex);
    m_bInFlight = false;
}

void CJournal::Advance(const CJournalPosition& to)
{
    CRecordReader reader(m_file.Get(), m_position.m_nOffset, m_nSize);
    CTick tick;
    std::uint64_t begin = 0, end = 0;
    std::size_t claimed = 0;
    while (m_position < to &&
           reader.Next(tick, begin, end, claimed) == CRecordReader::Result::Record)
    {
        const std::size_t first = begin == m_position.m_nOffset ? m_position.m_nRow : 0;
        const std::size_t upTo = to.m_nOffset == begin ? to.m_nRow : tick.m_rows.size();
        m_nRows -= std::min(m_nRows, upTo - std::min(first, upTo));
        m_position = to.m_nOffset == begin ? to : CJournalPosition{end, 0};
    }
}

void CJournal::CompactIfWorthIt()
{
    const std::uint64_t behind = m_position.m_nOffset;
    if (!m_bInFlight && behind > kCompactBytes && behind > m_nSize / 2)
        Compact();
}

bool CJournal::Compact()
{
    // The waiting rows into a new file with a new identity; the old
    // position can then never apply to it.
    const std::string path = m_strBase + ".journal";
    const std::string fresh = path + ".new";
    CFileDescriptor out(::open(fresh.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (out.Get() < 0)
        return false;
    std::random_device random;
    const std::uint64_t id = (static_cast<std::uint64_t>(random()) << 32) ^ random();
    std::string text = std::string(kMagic) + Hex(id, 16) + '\n';
    std::uint64_t size = 0;
    bool written = true;
    CRecordReader reader(m_file.Get(), m_position.m_nOffset, m_nSize);
    CTick tick;
    std::uint64_t begin = 0, end = 0;
    std::size_t claimed = 0, rows = 0;
    CRecordReader::Result result;
    while ((result = reader.Next(tick, begin, end, claimed)) != CRecordReader::Result::End)
    {
        if (result == CRecordReader::Result::Damaged)
            continue;
        const std::uint32_t first = begin == m_position.m_nOffset ? m_position.m_nRow : 0;
        CTick rest = Remainder(std::move(tick), first);
        rest.m_bInDoubt = rest.m_bInDoubt || CJournalPosition{begin, first} < m_doubtEnd;
        if (rest.m_rows.empty())
            continue;
        rows += rest.m_rows.size();
        text += FormatTick(rest);
        if (text.size() >= kReadChunk)
        {
            written = written && WriteAll(out.Get(), text, size);
            size += text.size();
            text.clear();
        }
    }
    written = written && WriteAll(out.Get(), text, size) && ::fdatasync(out.Get()) == 0;
    size += text.size();
    if (!written || ::rename(fresh.c_str(), path.c_str()) != 0)
    {
        ::unlink(fresh.c_str());
        return false;
    }
    m_file = std::move(out);
    ::unlink((m_strBase + ".position").c_str());
    SyncFolder(path);
    m_nId = id;
    m_nSize = size;
    m_position = m_doubtEnd = {kMagic.size() + 17, 0};
    m_nSequence = 0;
    m_nRows = rows;
    if (m_nRows == 0)
        RemoveFiles();
    return true;
}

void CJournal::RemoveFiles()
{
    // The journal before its position: a position without a journal is
    // harmless, a journal without its position would be written out again.
    const std::string path = m_strBase + ".journal";
    m_file.Reset();
    ::unlink(path.c_str());
    SyncFolder(path);
    ::unlink((m_strBase + ".position").c_str());
    m_nRows = 0;
    m_nSize = 0;
    m_position = m_doubtEnd = {};
}
