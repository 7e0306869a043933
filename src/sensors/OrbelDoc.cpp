#include "sensors/OrbelDoc.h"

#include "sensors/ConfigFile.h"
#include "sensors/TextEncoding.h"

#include <algorithm>
#include <unordered_map>

namespace
{

constexpr std::string_view kMagic = "ZELD1";

// The next line of text and the rest after its LF. CRs at its end belong to
// the terminator: also the CR CR LF of a file that went through a text-mode
// conversion once too often.
std::string_view NextLine(std::string_view& rest)
{
    const size_t lf = rest.find('\n');
    std::string_view line = rest.substr(0, lf);
    rest.remove_prefix(lf == std::string_view::npos ? rest.size() : lf + 1);
    while (line.ends_with('\r'))
        line.remove_suffix(1);
    return line;
}

bool IsControl(char c)
{
    return static_cast<unsigned char>(c) < 0x20 && c != '\t';
}

// Empty when the line may be read; otherwise why the file is refused.
std::string LineProblem(std::string_view line, size_t number)
{
    if (line.size() > kMaxLineLength)
        return "Zeile " + std::to_string(number) + " ist länger als " +
               std::to_string(kMaxLineLength) + " Bytes.";
    if (std::any_of(line.begin(), line.end(), IsControl))
        return "Zeile " + std::to_string(number) + " enthält ein Steuerzeichen.";
    return {};
}

} // namespace

bool COrbelDoc::OnNewDocument()
{
    DeleteContents();
    m_strPathName.clear();
    m_stamp.reset();
    m_bModified = false;
    return true;
}

bool COrbelDoc::OnOpenDocument(const std::string& path, std::string& errorText)
{
    m_bBadFormat = false;
    std::string bytes;
    CFileStamp stamp;
    if (!CConfigFile::Read(path, bytes, stamp, errorText))
        return false;
    // A file of zero bytes is an empty configuration, not a bad one.
    if (bytes.empty())
        DeleteContents();
    else if (!Deserialize(bytes, errorText))
        return false;
    m_strPathName = path;
    m_stamp = stamp;
    m_bModified = false;
    return true;
}

bool COrbelDoc::OnSaveDocument(const std::string& path, std::string& errorText)
{
    CFileStamp stamp;
    if (!CConfigFile::Replace(path, Serialize(), stamp, errorText))
        return false;
    m_strPathName = path;
    m_stamp = stamp;
    m_bModified = false;
    return true;
}

bool COrbelDoc::IsChangedOnDisk() const
{
    const std::optional<CFileStamp> now = CConfigFile::StampOf(m_strPathName);
    return m_stamp && now && *now != *m_stamp;
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
        // A control character pasted into a text would make the file one
        // that is refused when read again.
        const size_t start = bytes.size();
        bytes += sensor->FormatLine();
        std::replace_if(bytes.begin() + static_cast<std::ptrdiff_t>(start), bytes.end(), IsControl,
                        ' ');
        bytes += "\r\n";
    }
    return bytes;
}

bool COrbelDoc::Deserialize(std::string_view bytes, std::string& errorText)
{
    m_bBadFormat = false;
    std::string_view rest = bytes;
    const std::string_view magic = NextLine(rest);
    if (!magic.starts_with(kMagic))
    {
        m_bBadFormat = true;
        errorText = kStrBadFormat;
        return false;
    }
    if (errorText = LineProblem(magic, 1); !errorText.empty())
        return false;
    SensorList loaded;
    auto sensor = std::make_unique<CSensor>();
    for (size_t number = 2; !rest.empty(); ++number)
    {
        const std::string_view line = NextLine(rest);
        if (errorText = LineProblem(line, number); !errorText.empty())
            return false;
        // Lines of the single-byte era are converted; UTF-8 lines stay byte for byte.
        if (sensor->ParseLine(DecodeLegacyText(line)))
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
