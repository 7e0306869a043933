#include "app/cli/CliCommands.h"
#include "app/cli/CliDbUserInterface.h"
#include "db/SensorDatabase.h"
#include "net/SensorChannel.h"
#include "recording/Recorder.h"
#include "recording/RecordingView.h"
#include "sensors/OrbelDoc.h"
#include "settings/Settings.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace
{

int g_signalPipe[2] = {-1, -1};
volatile std::sig_atomic_t g_bStopRequested = 0;

void OnSignal(int signo)
{
    const int savedErrno = errno;
    if (signo != SIGHUP)
        g_bStopRequested = 1;
    const char byte = signo == SIGHUP ? 'H' : 'S';
    [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[1], &byte, 1);
    errno = savedErrno;
}

const char* FieldName(CRegistrationFailure::Field field)
{
    switch (field)
    {
    case CRegistrationFailure::Field::Host:
        return "Host";
    case CRegistrationFailure::Field::Unit:
        return "Unit";
    case CRegistrationFailure::Field::Location:
        return "Location";
    case CRegistrationFailure::Field::None:
        break;
    }
    return "";
}

// Recording without a window: every change of a Status cell and every row
// written or buffered becomes one line on stdout, flushed at once so that a
// reader of a pipe sees it while recording goes on. When nobody reads any
// more, that is said once on stderr and recording goes on without lines.
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
    void OnRowStored(const CReading& row) override
    {
        Print("stored\t%d\t%s\n", row.m_nSensorId, row.m_strValue.c_str());
    }
    void OnRowsBuffered(const std::vector<CReading>& rows) override
    {
        for (const CReading& row : rows)
            Print("buffered\t%d\t%s\n", row.m_nSensorId, row.m_strValue.c_str());
    }
    void OnRowsReplayed(std::size_t count) override { Print("replayed\t%zu\n", count); }
    void OnRowsDropped(std::size_t count) override { Print("dropped\t%zu\n", count); }
    void ReportUnrecorded(const std::vector<CUnrecordedPoint>& points) override
    {
        for (const CUnrecordedPoint& point : points)
        {
            const CSensor& record = *point.m_pRecord;
            const CRegistrationFailure& failure = point.m_failure;
            std::fprintf(
                stderr, "tessaro-cli: record: %s:%u/%d not recorded: ", record.m_strAddress.c_str(),
                static_cast<unsigned>(record.m_nPort), record.m_nSensorNo);
            if (failure.m_kind == CRegistrationFailure::Kind::TooLong)
                std::fprintf(stderr, "%s longer than %zu characters\n", FieldName(failure.m_field),
                             failure.m_nLimit);
            else if (failure.m_kind == CRegistrationFailure::Kind::ControlCharacter)
                std::fprintf(stderr, "%s holds a NUL character\n", FieldName(failure.m_field));
            else
                std::fprintf(stderr, "no SensorID in the sensor table\n");
        }
    }
    bool StopRequested() const override { return g_bStopRequested != 0; }

private:
    // m_strStatus stands for the cell: a line only when the text changes.
    void WriteStatus(CSensor& record, const std::string& text)
    {
        if (text == record.m_strStatus)
            return;
        record.m_strStatus = text;
        Print("status\t%s:%u/%d\t%s\n", record.m_strAddress.c_str(),
              static_cast<unsigned>(record.m_nPort), record.m_nSensorNo, text.c_str());
    }

    template <typename... Args> void Print(const char* format, Args... args)
    {
        if (m_bStdoutGone)
            return;
        std::printf(format, args...);
        if (std::fflush(stdout) == 0 && !std::ferror(stdout))
            return;
        m_bStdoutGone = true;
        std::fprintf(stderr, "tessaro-cli: record: stdout: %s; recording goes on without lines\n",
                     std::strerror(errno));
    }

    COrbelDoc& m_document;
    CSensorDatabase& m_database;
    bool m_bStdoutGone = false;
};

// SIGINT and SIGTERM end the event loop through a pipe, so that recording
// stops between two handlers and never inside a statement; SIGHUP only says
// that it is not acted on yet. A reader of stdout that goes away must not
// end the recording.
bool CatchSignals()
{
    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    return ::sigaction(SIGINT, &action, nullptr) == 0 &&
           ::sigaction(SIGTERM, &action, nullptr) == 0 &&
           ::sigaction(SIGHUP, &action, nullptr) == 0 &&
           ::sigaction(SIGPIPE, &ignore, nullptr) == 0;
}

} // namespace

int RunRecord(CliArgs args)
{
    if (args.empty() || args[0].starts_with("--"))
        return UsageError("record");
    std::optional<std::string> dsn;
    std::optional<long> timeout;
    for (size_t i = 1; i < args.size(); i += 2)
    {
        if (i + 1 >= args.size())
            return UsageError("record");
        if (args[i] == "--dsn" && !dsn)
            dsn = args[i + 1];
        else if (args[i] == "--db-timeout" && !timeout)
        {
            timeout = ReadWholeNumber(args[i + 1], 1, CSettings::m_nMaxDbTimeout);
            if (!timeout)
                return UsageError("record");
        }
        else
            return UsageError("record");
    }

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
    if (!CatchSignals())
    {
        std::perror("tessaro-cli: record: signals");
        return 1;
    }

    const CSettings settings;
    CCliDbUserInterface ui;
    CSensorDatabase database(ui);
    database.m_strDataSource = dsn.value_or(settings.DataSource().toStdString());
    // Nobody is there to type a password: the data source's own credentials apply.
    database.m_bQuickConnect = true;
    database.m_db.SetTimeout(static_cast<int>(timeout.value_or(settings.DbTimeout())));

    CCliRecordingView view(document, database);
    bool recording = false;
    CRecorder recorder(view, database, recording);
    recorder.SetStorageOptions(
        {DefaultDatabaseFolder().toStdString(), static_cast<std::size_t>(settings.JournalLimit())});
    QSocketNotifier signalNotifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &application,
                     [&]
                     {
                         char byte = 0;
                         while (::read(g_signalPipe[0], &byte, 1) == 1)
                             if (byte == 'H')
                                 std::fprintf(stderr, "tessaro-cli: record: SIGHUP ignored; "
                                                      "restart to read the configuration again\n");
                         if (g_bStopRequested == 0)
                             return;
                         recorder.Stop();
                         QCoreApplication::exit(0);
                     });
    if (!recorder.Start())
        return g_bStopRequested != 0 ? 0 : 1;
    return application.exec();
}
