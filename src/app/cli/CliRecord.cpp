#include "app/cli/CliCommands.h"
#include "app/cli/CliDbUserInterface.h"
#include "sensors/OrbelDoc.h"
#include "recording/Recorder.h"
#include "recording/RecordingView.h"
#include "net/SensorChannel.h"
#include "db/SensorDatabase.h"
#include "settings/Settings.h"
#include "db/SqlText.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace
{

int g_signalPipe[2] = {-1, -1};

void OnStopSignal(int)
{
    const int savedErrno = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[1], &byte, 1);
    errno = savedErrno;
}

// Recording without a window: every change of a Status cell and every row
// written becomes one line on stdout, flushed at once so that a reader of a
// pipe sees it while recording goes on.
class CCliRecordingView : public IRecordingView
{
public:
    CCliRecordingView(COrbelDoc& document, CSensorDatabase& database)
        : m_document(document), m_database(database)
    {
    }

    SensorList& Sensors() override { return m_document.m_sensors; }
    // Creating a data source needs someone to choose a driver; `db init` does that.
    bool OpenDatabase() override { return m_database.OpenDatabase(false); }
    void SetStatusText(int, int) override {}
    void RefreshStatusColumn() override
    {
        for (const std::unique_ptr<CSensor>& record : m_document.m_sensors)
            WriteStatus(*record, record->m_pChannel != nullptr ? record->m_pChannel->GetStatusText()
                                                               : std::string());
    }
    void ClearStatusColumn() override
    {
        for (const std::unique_ptr<CSensor>& record : m_document.m_sensors)
            WriteStatus(*record, {});
    }
    void UpdateStatusCell(CSensor& record) override
    {
        WriteStatus(record, record.m_pChannel != nullptr ? record.m_pChannel->GetStatusText()
                                                         : std::string());
    }
    void SetListColour(std::uint32_t) override {}
    bool IsMinimized() const override { return false; }
    void OnRowStored(int sensorId, std::optional<float> value) override
    {
        const std::string reading = value ? SqlFloat(static_cast<double>(*value)) : "NULL";
        std::printf("stored\t%d\t%s\n", sensorId, reading.c_str());
        std::fflush(stdout);
    }

private:
    // m_strStatus stands for the cell: a line only when the text changes.
    void WriteStatus(CSensor& record, const std::string& text)
    {
        if (text == record.m_strStatus)
            return;
        record.m_strStatus = text;
        std::printf("status\t%s:%u/%d\t%s\n", record.m_strAddress.c_str(),
                    static_cast<unsigned>(record.m_nPort), record.m_nSensorNo, text.c_str());
        std::fflush(stdout);
    }

    COrbelDoc& m_document;
    CSensorDatabase& m_database;
};

// SIGINT and SIGTERM end the event loop through a pipe, so that recording
// stops between two handlers and never inside a statement.
bool CatchStopSignals()
{
    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    struct sigaction action = {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(SIGINT, &action, nullptr) == 0 &&
           ::sigaction(SIGTERM, &action, nullptr) == 0;
}

} // namespace

int RunRecord(CliArgs args)
{
    if (args.empty() || (args.size() != 1 && args.size() != 3) ||
        (args.size() == 3 && args[1] != "--dsn"))
        return UsageError("record");

    COrbelDoc document;
    std::string errorText;
    if (!document.OnOpenDocument(args[0], errorText))
    {
        if (document.m_bBadFormat)
        {
            std::fprintf(stderr, "%s\n", errorText.c_str());
            return 2;
        }
        std::fprintf(stderr, "tessaro-cli: %s: %s\n", args[0].c_str(), errorText.c_str());
        return 1;
    }

    static int argc = 1;
    static char name[] = "tessaro-cli";
    static char* argv[] = {name, nullptr};
    QCoreApplication application(argc, argv);
    if (!CatchStopSignals())
    {
        std::perror("tessaro-cli: record: signals");
        return 1;
    }

    const CSettings settings;
    CCliDbUserInterface ui;
    CSensorDatabase database(ui);
    database.m_strDataSource = args.size() == 3 ? args[2] : settings.DataSource().toStdString();
    // Nobody is there to type a password: the data source's own credentials apply.
    database.m_bQuickConnect = true;

    CCliRecordingView view(document, database);
    bool recording = false;
    CRecorder recorder(view, database, recording);
    QSocketNotifier stopNotifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&stopNotifier, &QSocketNotifier::activated, &application,
                     [&]
                     {
                         recorder.Stop();
                         QCoreApplication::exit(0);
                     });
    if (!recorder.Start())
        return 1;
    const int status = application.exec();
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
    {
        std::perror("tessaro-cli: stdout");
        return 1;
    }
    return status;
}
