#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

// Which file content a path held when it was last read or written: another
// inode, size or modification time means someone else has written it since.
struct CFileStamp
{
    dev_t m_nDevice = 0;
    ino_t m_nInode = 0;
    off_t m_nSize = 0;
    time_t m_nSeconds = 0;
    long m_nNanoseconds = 0;

    bool operator==(const CFileStamp&) const = default;
};

// The configuration file on disk. Reading never waits for a FIFO or a device
// and never takes more memory than a bound; replacing leaves either the old
// file or the new one, never a mix and never a temporary file that outlives
// the next save.
class CConfigFile
{
public:
    static constexpr off_t m_nMaxSize = off_t{64} << 20;

    // The whole file, when it is a regular one of at most m_nMaxSize bytes.
    // False with the reason in errorText.
    static bool Read(const std::string& path, std::string& bytes, CFileStamp& stamp,
                     std::string& errorText);
    // Writes bytes to the file at path, or through symbolic links to the file
    // they point to, keeping its mode and owner. A file nobody may write is
    // refused. False with the reason in errorText; the old file is then as
    // it was.
    static bool Replace(const std::string& path, std::string_view bytes, CFileStamp& stamp,
                        std::string& errorText);
    // The stamp of what path holds now; nothing when there is no file.
    static std::optional<CFileStamp> StampOf(const std::string& path);
};
