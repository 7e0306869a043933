#include "app/cli/CliCommands.h"
#include "app/cli/CliReport.h"
#include "app/cli/CliSession.h"
#include "export/ExportHost.h"
#include "export/ExportWorkbook.h"
#include "export/SensorExport.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace
{

// The export's questions answered from the command line: the file is OUT,
// the range the --days given; an input named as OUT ends the export, and a
// file in the workbook's place is never replaced.
class CCliExportHost : public IExportHost
{
public:
    CCliExportHost(CCliSession& session, std::string configuration, std::string path, int days)
        : m_session(session), m_strConfiguration(std::move(configuration)),
          m_strPath(std::move(path)), m_nDays(days)
    {
    }

    bool OpenDatabase() override { return m_session.OpenDatabase(); }
    std::string ConfigurationFile() override { return m_strConfiguration; }

    bool AskExportFile(std::string& path, int* range) override
    {
        path = m_strPath;
        if (range)
            *range = m_nDays;
        return true;
    }

    bool RefuseExportFile(const std::string&) override { return false; }
    bool MayReplaceWorkbook(const std::string&) override { return false; }
    void SetStatusText(unsigned) override {}

    void OpenInSpreadsheet(const std::string& path, const CExportWorkbook& workbook) override
    {
        m_bWorkbookWritten = workbook.ErrorText().empty();
        if (m_bWorkbookWritten)
            std::printf("export\t%s\nworkbook\t%s\n", path.c_str(), workbook.Path().c_str());
        else
            CliReport(CliLevel::Error, "tessaro-cli: %s", workbook.ErrorText().c_str());
    }

    bool m_bWorkbookWritten = false;

private:
    CCliSession& m_session;
    std::string m_strConfiguration;
    std::string m_strPath;
    int m_nDays;
};

std::optional<int> ParseInt(const std::string& text)
{
    return ReadWholeNumber(text, INT_MIN, INT_MAX);
}

int Export(CliArgs args, bool summary)
{
    const std::optional<CCliWords> words = SplitWords(args);
    const std::optional<CDbOptions> options = words ? ReadDbOptions(*words) : std::nullopt;
    const char* command = summary ? "export-summary" : "export-series";
    if (!options || words->m_positional.size() != 3)
        return UsageError(command);
    const std::vector<std::string>& positional = words->m_positional;
    const std::optional<int> index = ParseInt(positional[1]);
    std::optional<int> days;
    if (const std::optional<std::string> given = words->Option("--days"))
        if (!(days = ParseInt(*given)))
            return UsageError(command);
    if (!index || *index < 0)
        return UsageError(command);

    CCliSession session(*options);
    if (const int status = session.LoadDocument(positional[0]))
        return status;
    SensorList& sensors = session.m_document.m_sensors;
    if (static_cast<size_t>(*index) >= sensors.size())
    {
        CliReport(CliLevel::Error, "tessaro-cli: %s has %zu sensors; there is no sensor %d",
                  positional[0].c_str(), sensors.size(), *index);
        return 1;
    }
    const CSensor& sensor = **std::next(sensors.begin(), *index);

    // Negative days mean every reading, as a range left unchecked does.
    CCliExportHost host(session, positional[0], positional[2], days ? std::max(*days, 0) : 0);
    CSensorExport exporter(session.m_database);
    if (!exporter.Export(sensor, summary, host))
    {
        if (!exporter.ErrorText().empty())
            CliReport(CliLevel::Error, "tessaro-cli: %s", exporter.ErrorText().c_str());
        return 1;
    }
    return host.m_bWorkbookWritten && FlushStdout() ? 0 : 1;
}

} // namespace

int RunExportSeries(CliArgs args)
{
    return Export(args, false);
}

int RunExportSummary(CliArgs args)
{
    return Export(args, true);
}
