#include "sensors/ConfigFile.h"

#include "sensors/FileDescriptor.h"

#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace
{

constexpr char kNotRegular[] = "Das ist keine gewöhnliche Datei.";
constexpr char kTooLarge[] = "Die Datei ist größer als 64 MiB.";
constexpr char kReadOnly[] = "Die Datei ist schreibgeschützt.";
// As many links in a row as the kernel follows.
constexpr int kMaxLinks = 40;

bool Fail(int error, std::string& errorText)
{
    errorText = std::strerror(error);
    return false;
}

CFileStamp StampFrom(const struct stat& info)
{
    return {info.st_dev, info.st_ino, info.st_size, info.st_mtim.tv_sec, info.st_mtim.tv_nsec};
}

// Empty when a configuration may be read from or written to this kind of file.
std::string KindProblem(const struct stat& info)
{
    if (S_ISDIR(info.st_mode))
        return std::strerror(EISDIR);
    return S_ISREG(info.st_mode) ? std::string() : kNotRegular;
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

// 0, or errno. The end of a chain of symbolic links, also when the file it
// names does not exist yet.
int FollowLinks(fs::path& path)
{
    for (int hops = 0; hops < kMaxLinks; ++hops)
    {
        std::error_code error;
        if (!fs::is_symlink(path, error))
            return 0;
        const fs::path next = fs::read_symlink(path, error);
        if (error)
            return error.value();
        path = next.is_absolute() ? next : path.parent_path() / next;
    }
    return ELOOP;
}

// The temporary files of a save are ".NAME.~PID-N"; one whose process is gone
// was left by a save that was killed before its rename.
void RemoveStaleTemporaries(const fs::path& folder, const std::string& prefix)
{
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
    {
        const std::string name = it->path().filename().string();
        if (!name.starts_with(prefix))
            continue;
        const char* const last = name.data() + name.size();
        pid_t pid = 0;
        int attempt = 0;
        const auto afterPid = std::from_chars(name.data() + prefix.size(), last, pid);
        if (afterPid.ec != std::errc() || afterPid.ptr == last || *afterPid.ptr != '-' || pid <= 0)
            continue;
        const auto afterAttempt = std::from_chars(afterPid.ptr + 1, last, attempt);
        if (afterAttempt.ec == std::errc() && afterAttempt.ptr == last && kill(pid, 0) != 0 &&
            errno == ESRCH)
            unlink(it->path().c_str());
    }
}

// A new file beside the target that no one else uses; -1 with errno set on
// failure.
int CreateNamed(const std::string& stem, std::string& tempPath)
{
    for (int attempt = 0; attempt < 100; ++attempt)
    {
        tempPath = stem + std::to_string(getpid()) + "-" + std::to_string(attempt);
        const int fd = open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

// Gives a complete unnamed file the name of a temporary file.
bool GiveName(int fd, const std::string& stem, std::string& tempPath)
{
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    for (int attempt = 0; attempt < 100; ++attempt)
    {
        tempPath = stem + std::to_string(getpid()) + "-" + std::to_string(attempt);
        if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, tempPath.c_str(), AT_SYMLINK_FOLLOW) == 0)
            return true;
        if (errno != EEXIST)
            break;
    }
    tempPath.clear();
    return false;
}

// 0, or errno. The new content on disk, with the old file's mode and, where
// the user may give it, its owner.
int Fill(int fd, std::string_view bytes, const struct stat* old, CFileStamp& stamp)
{
    if (old)
    {
        [[maybe_unused]] const int owned = fchown(fd, old->st_uid, old->st_gid);
        fchmod(fd, old->st_mode & 07777);
    }
    struct stat info;
    if (!WriteAll(fd, bytes) || fsync(fd) != 0 || fstat(fd, &info) != 0)
        return errno;
    stamp = StampFrom(info);
    return 0;
}

// 0, or errno; then tempPath names the complete new file. The file has no
// name while it is written where the file system allows it, so that a save
// killed half way leaves nothing behind.
int WriteTemporary(const fs::path& folder, const std::string& stem, std::string_view bytes,
                   const struct stat* old, std::string& tempPath, CFileStamp& stamp)
{
    CFileDescriptor unnamed(open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666));
    if (unnamed.Get() >= 0)
    {
        if (const int error = Fill(unnamed.Get(), bytes, old, stamp))
            return error;
        if (GiveName(unnamed.Get(), stem, tempPath))
            return 0;
    }
    CFileDescriptor named(CreateNamed(stem, tempPath));
    if (named.Get() < 0)
        return errno;
    int error = Fill(named.Get(), bytes, old, stamp);
    if (error == 0 && !named.Close())
        error = errno;
    if (error != 0)
        unlink(tempPath.c_str());
    return error;
}

} // namespace

bool CConfigFile::Read(const std::string& path, std::string& bytes, CFileStamp& stamp,
                       std::string& errorText)
{
    // Looked at before it is opened: opening a device may do something.
    struct stat info;
    if (stat(path.c_str(), &info) == 0 && !(errorText = KindProblem(info)).empty())
        return false;
    // A FIFO opened without O_NONBLOCK waits for a writer, for ever.
    CFileDescriptor file(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (file.Get() < 0 || fstat(file.Get(), &info) != 0)
        return Fail(errno, errorText);
    if (errorText = KindProblem(info); !errorText.empty())
        return false;
    bytes.clear();
    char buffer[65536];
    for (;;)
    {
        const ssize_t n = read(file.Get(), buffer, sizeof buffer);
        if (n == 0)
            break;
        if (n < 0)
        {
            if (errno == EINTR)
                continue;
            return Fail(errno, errorText);
        }
        // Also a file that grows while it is read.
        if (bytes.size() + static_cast<size_t>(n) > static_cast<size_t>(m_nMaxSize))
        {
            errorText = kTooLarge;
            return false;
        }
        bytes.append(buffer, static_cast<size_t>(n));
    }
    stamp = StampFrom(info);
    return true;
}

bool CConfigFile::Replace(const std::string& path, std::string_view bytes, CFileStamp& stamp,
                          std::string& errorText)
{
    // Saving through a link writes the file it points to and keeps the link.
    fs::path target = path;
    if (const int error = FollowLinks(target))
        return Fail(error, errorText);
    struct stat old;
    const bool exists = stat(target.c_str(), &old) == 0;
    if (exists)
    {
        if (errorText = KindProblem(old); !errorText.empty())
            return false;
        // Root may write any file, but one that nobody may write is meant
        // to stay as it is.
        if ((old.st_mode & 0222) == 0 || access(target.c_str(), W_OK) != 0)
        {
            errorText = kReadOnly;
            return false;
        }
    }
    const fs::path folder = target.parent_path().empty() ? fs::path(".") : target.parent_path();
    const std::string prefix = "." + target.filename().string() + ".~";
    RemoveStaleTemporaries(folder, prefix);

    std::string tempPath;
    if (const int error = WriteTemporary(folder, (folder / prefix).string(), bytes,
                                         exists ? &old : nullptr, tempPath, stamp))
        return Fail(error, errorText);
    if (rename(tempPath.c_str(), target.c_str()) != 0)
    {
        const int error = errno;
        unlink(tempPath.c_str());
        return Fail(error, errorText);
    }
    // Make the rename itself durable; the data are already safe if this fails.
    CFileDescriptor dir(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Get() >= 0)
        fsync(dir.Get());
    return true;
}

std::optional<CFileStamp> CConfigFile::StampOf(const std::string& path)
{
    struct stat info;
    if (stat(path.c_str(), &info) != 0)
        return std::nullopt;
    return StampFrom(info);
}
