#include "app/cli/CliCommands.h"
#include "app/cli/CliReport.h"
#include "app/cli/CliSession.h"
#include "db/DatabaseStatistics.h"
#include "db/SensorListHost.h"

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace
{

// The sensor list without a window: the document's records in order, their
// Status texts kept in the records, and the added ones remembered.
class CCliSensorList : public ISensorListHost
{
public:
    explicit CCliSensorList(CCliSession& session) : m_session(session)
    {
        for (const std::unique_ptr<CSensor>& sensor : session.m_document.m_sensors)
            m_rows.push_back(sensor.get());
    }

    bool OpenDatabase() override { return m_session.OpenDatabase(); }
    void SetStatusText(unsigned) override {}
    void DeselectAll() override {}
    void AddRow(CSensor* record) override
    {
        m_rows.push_back(record);
        m_added.push_back(record);
    }
    int GetRowCount() const override { return static_cast<int>(m_rows.size()); }
    CSensor* GetRowRecord(int row) const override { return m_rows[static_cast<size_t>(row)]; }
    void SetStatusCell(int, const std::string&) override {}

    std::vector<CSensor*> m_rows;
    std::vector<CSensor*> m_added;

private:
    CCliSession& m_session;
};

// "FILE" and the database's options; nothing on anything else.
std::optional<std::pair<std::string, CDbOptions>> ReadArgs(CliArgs args)
{
    const std::optional<CCliWords> words = SplitWords(args);
    const std::optional<CDbOptions> options = words ? ReadDbOptions(*words) : std::nullopt;
    if (!options || words->m_positional.size() != 1)
        return std::nullopt;
    return std::make_pair(words->m_positional[0], *options);
}

void PrintLine(const std::string& line)
{
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
}

} // namespace

int RunStats(CliArgs args)
{
    const auto parsed = ReadArgs(args);
    if (!parsed)
        return UsageError("stats");
    const std::string& file = parsed->first;
    CCliSession session(parsed->second);
    if (const int status = session.LoadDocument(file))
        return status;
    CCliSensorList list(session);
    // The statistics import first; only the file's own sensors are printed.
    const size_t fileSensors = list.m_rows.size();
    if (!CDatabaseStatistics(session.m_database, session.m_document, list).OnDatabaseStatistics())
        return 1;
    for (size_t row = 0; row < fileSensors; ++row)
    {
        CSensor* record = list.m_rows[row];
        PrintLine(record->FormatLine() + '\t' + record->m_strStatus);
    }
    return FlushStdout() ? 0 : 1;
}

int RunImport(CliArgs args)
{
    const auto parsed = ReadArgs(args);
    if (!parsed)
        return UsageError("import");
    const std::string& file = parsed->first;
    CCliSession session(parsed->second);
    if (const int status = session.LoadDocument(file))
        return status;
    CCliSensorList list(session);
    if (!CDatabaseStatistics(session.m_database, session.m_document, list).OnImportSensors())
        return 1;
    if (session.m_document.IsModified())
    {
        std::string errorText;
        if (!session.m_document.OnSaveDocument(file, errorText))
        {
            CliReport(CliLevel::Error, "tessaro-cli: %s: %s", file.c_str(), errorText.c_str());
            return 1;
        }
    }
    for (CSensor* record : list.m_added)
        PrintLine(record->FormatLine());
    return FlushStdout() ? 0 : 1;
}
