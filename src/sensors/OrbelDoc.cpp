#include "sensors/OrbelDoc.h"

#include "sensors/TextEncoding.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

namespace
{

constexpr std::string_view kMagic = "ZELD1";

class CFileDescriptor
{
public:
    explicit CFileDescriptor(int fd) : m_fd(fd) {}
    ~CFileDescriptor()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    CFileDescriptor(const CFileDescriptor&) = delete;
    CFileDescriptor& operator=(const CFileDescriptor&) = delete;

    int Get() const { return m_fd; }
    // Closes now, so that a failing close can be reported.
    bool Close()
    {
        const int fd = m_fd;
        m_fd = -1;
        return close(fd) == 0;
    }

private:
    int m_fd;
};

// The next line of text and the rest after its LF; a CR right before the LF
// belongs to the terminator.
std::string_view NextLine(std::string_view& rest)
{
    const size_t lf = rest.find('\n');
    std::string_view line = rest.substr(0, lf);
    rest.remove_prefix(lf == std::string_view::npos ? rest.size() : lf + 1);
    if (lf != std::string_view::npos && line.ends_with('\r'))
        line.remove_suffix(1);
    return line;
}

// 0, or the errno value of the failing open or read.
int ReadWholeFile(const std::string& path, std::string& bytes)
{
    CFileDescriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.Get() < 0)
        return errno;
    bytes.clear();
    char buffer[65536];
    for (;;)
    {
        const ssize_t n = read(file.Get(), buffer, sizeof buffer);
        if (n == 0)
            return 0;
        if (n < 0)
        {
            if (errno == EINTR)
                continue;
            return errno;
        }
        bytes.append(buffer, static_cast<size_t>(n));
    }
}

bool WriteAll(int fd, std::string_view bytes)
{
    while (!bytes.empty())
    {
        const ssize_t n = write(fd, bytes.data(), bytes.size());
        if (n < 0)
        {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

// Creates a new file beside target that no one else uses; -1 with errno set on failure.
int CreateTempFile(const std::filesystem::path& target, std::string& tempPath)
{
    const std::string stem = (target.parent_path() / ("." + target.filename().string())).string();
    for (int attempt = 0; attempt < 100; ++attempt)
    {
        tempPath = stem + ".~" + std::to_string(getpid()) + "-" + std::to_string(attempt);
        const int fd = open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

// 0, or the errno value of the failing step. The old file stays untouched
// until the new one is complete on disk.
int ReplaceFile(const std::string& path, std::string_view bytes)
{
    std::filesystem::path target = path;
    std::error_code ec;
    // Saving through a link writes the file it points to and keeps the link.
    if (std::filesystem::is_symlink(target, ec))
    {
        std::filesystem::path resolved = std::filesystem::canonical(target, ec);
        if (!ec)
            target = std::move(resolved);
    }
    std::string tempPath;
    CFileDescriptor file(CreateTempFile(target, tempPath));
    if (file.Get() < 0)
        return errno;
    struct stat old;
    if (stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode))
        fchmod(file.Get(), old.st_mode & 07777);
    if (!WriteAll(file.Get(), bytes) || fsync(file.Get()) != 0 || !file.Close() ||
        rename(tempPath.c_str(), target.c_str()) != 0)
    {
        const int error = errno;
        unlink(tempPath.c_str());
        return error;
    }
    // Make the rename itself durable; the data are already safe if this fails.
    const std::filesystem::path folder = target.parent_path().empty() ? "." : target.parent_path();
    CFileDescriptor dir(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Get() >= 0)
        fsync(dir.Get());
    return 0;
}

} // namespace

bool COrbelDoc::OnNewDocument()
{
    DeleteContents();
    m_strPathName.clear();
    m_bModified = false;
    return true;
}

bool COrbelDoc::OnOpenDocument(const std::string& path, std::string& errorText)
{
    m_bBadFormat = false;
    std::string bytes;
    if (const int error = ReadWholeFile(path, bytes))
    {
        errorText = std::strerror(error);
        return false;
    }
    // A file of zero bytes is an empty configuration, not a bad one.
    if (bytes.empty())
        DeleteContents();
    else if (!Deserialize(bytes))
    {
        errorText = kStrBadFormat;
        return false;
    }
    m_strPathName = path;
    m_bModified = false;
    return true;
}

bool COrbelDoc::OnSaveDocument(const std::string& path, std::string& errorText)
{
    if (const int error = ReplaceFile(path, Serialize()))
    {
        errorText = std::strerror(error);
        return false;
    }
    m_strPathName = path;
    m_bModified = false;
    return true;
}

void COrbelDoc::DeleteContents()
{
    m_sensors.clear();
    m_deleted.clear();
    m_nNextBatch = 0;
}

std::string COrbelDoc::Serialize()
{
    std::string bytes(kMagic);
    bytes += "\r\n";
    for (const std::unique_ptr<CSensor>& sensor : m_sensors)
    {
        bytes += sensor->FormatLine();
        bytes += "\r\n";
    }
    return bytes;
}

bool COrbelDoc::Deserialize(std::string_view bytes)
{
    m_bBadFormat = false;
    std::string_view rest = bytes;
    if (!NextLine(rest).starts_with(kMagic))
    {
        m_bBadFormat = true;
        return false;
    }
    SensorList loaded;
    auto sensor = std::make_unique<CSensor>();
    while (!rest.empty())
    {
        // Lines of the single-byte era are converted; UTF-8 lines stay byte for byte.
        if (sensor->ParseLine(DecodeLegacyText(NextLine(rest))))
        {
            loaded.push_back(std::move(sensor));
            sensor = std::make_unique<CSensor>();
        }
    }
    DeleteContents();
    m_sensors = std::move(loaded);
    for (const std::unique_ptr<CSensor>& record : m_sensors)
        record->FindChannel();
    return true;
}

bool COrbelDoc::AddSensor(std::unique_ptr<CSensor>& sensor, bool allowDuplicate)
{
    if (!allowDuplicate)
        for (const std::unique_ptr<CSensor>& existing : m_sensors)
            if (existing->IsSamePoint(*sensor))
                return false;
    sensor->FindChannel();
    m_sensors.push_back(std::move(sensor));
    return true;
}

int COrbelDoc::RemoveSensors(std::span<CSensor* const> records, bool keep)
{
    // One pass over the list, not one search per record: a selection may be
    // the whole of a long list.
    std::unordered_map<const CSensor*, SensorList::iterator> positions;
    for (auto it = m_sensors.begin(); it != m_sensors.end(); ++it)
        positions.emplace(it->get(), it);
    int removed = 0;
    for (CSensor* record : records)
    {
        const auto found = positions.find(record);
        if (found == positions.end())
            continue;
        const SensorList::iterator position = found->second;
        positions.erase(found);
        if (keep)
        {
            record->m_nDeleteBatch = m_nNextBatch;
            m_deleted.splice(m_deleted.end(), m_sensors, position);
        }
        else
            m_sensors.erase(position);
        ++removed;
    }
    if (removed > 0)
    {
        if (keep)
            ++m_nNextBatch;
        m_bModified = true;
    }
    return removed;
}

std::vector<CSensor*> COrbelDoc::UndoDelete()
{
    std::vector<CSensor*> restored;
    if (m_deleted.empty())
        return restored;
    --m_nNextBatch;
    for (auto it = m_deleted.begin(); it != m_deleted.end();)
    {
        if ((*it)->m_nDeleteBatch != m_nNextBatch)
        {
            ++it;
            continue;
        }
        std::unique_ptr<CSensor> record = std::move(*it);
        it = m_deleted.erase(it);
        restored.push_back(record.get());
        AddSensor(record, true);
        m_bModified = true;
    }
    return restored;
}
