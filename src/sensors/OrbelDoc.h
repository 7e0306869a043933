#pragma once

#include "sensors/ConfigFile.h"
#include "sensors/Sensor.h"

#include <list>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// String 226: the file chosen to open does not start with the magic line.
inline constexpr std::string_view kStrBadFormat =
    "Die ausgewählte Datei entspricht nicht dem erwarteten Format.";

// A longer line is no configuration line; the file is refused.
inline constexpr size_t kMaxLineLength = 65536;

// Owning, ordered, and cheap to remove from in the middle.
using SensorList = std::list<std::unique_ptr<CSensor>>;

// The configuration: the ordered sensors, the deleted ones kept for undo, and
// the configuration file they are read from and written to.
class COrbelDoc
{
public:
    COrbelDoc() = default;
    COrbelDoc(const COrbelDoc&) = delete;
    COrbelDoc& operator=(const COrbelDoc&) = delete;

    // Empties the document for a new configuration without a file.
    bool OnNewDocument();
    // The whole file is read before anything is replaced, so a file that cannot
    // be read, has the wrong magic or a line that is refused leaves the open
    // configuration exactly as it was. On the wrong magic m_bBadFormat is set
    // and errorText holds kStrBadFormat; otherwise errorText says why.
    bool OnOpenDocument(const std::string& path, std::string& errorText);
    // Replaces the file whole or not at all (see CConfigFile::Replace).
    bool OnSaveDocument(const std::string& path, std::string& errorText);
    // Whether the file of the document was written by someone else since it
    // was opened or saved here; false when there is no such file (any more).
    bool IsChangedOnDisk() const;
    void DeleteContents();

    // The file's bytes: the magic line, then one line per sensor, CR LF each.
    // Control characters other than TAB in a sensor's texts are written as
    // blanks.
    std::string Serialize();
    // Replaces the sensors by those of a file's bytes. On the wrong magic sets
    // m_bBadFormat; a line longer than kMaxLineLength or with a control
    // character other than TAB refuses the file, naming the line. On
    // refusal returns false, sets errorText and changes nothing else.
    bool Deserialize(std::string_view bytes, std::string& errorText);

    // On refusal (a duplicate point while allowDuplicate is false) the caller
    // keeps the record; otherwise the document takes it over.
    bool AddSensor(std::unique_ptr<CSensor>& sensor, bool allowDuplicate);

    // Takes the given records, in display order, out of m_sensors; records not
    // in it are passed over. keep: they form the next deletion batch, which
    // UndoDelete gives back; otherwise they are destroyed at once. Returns how
    // many were removed, and marks the document modified when any were.
    int RemoveSensors(std::span<CSensor* const> records, bool keep);
    bool CanUndoDelete() const { return !m_deleted.empty(); }
    // Appends the records of the last deletion batch to m_sensors again, in
    // the order they were deleted, and returns them; nothing when there is
    // nothing to undo.
    std::vector<CSensor*> UndoDelete();

    bool IsModified() const { return m_bModified; }
    void SetModifiedFlag(bool modified = true) { m_bModified = modified; }
    const std::string& GetPathName() const { return m_strPathName; }
    void SetPathName(const std::string& path) { m_strPathName = path; }

    SensorList m_sensors;
    SensorList m_deleted; // each tagged with its m_nDeleteBatch; never saved
    int m_nNextBatch = 0;
    bool m_bBadFormat = false;

private:
    bool m_bModified = false;
    std::string m_strPathName;
    std::optional<CFileStamp> m_stamp; // of the file as last read or written here
};
