#include "app/cli/CliRecording.h"

#include "app/SignalPipe.h"
#include "app/cli/CliReport.h"
#include "settings/Settings.h"

#include <QCoreApplication>
#include <cerrno>
#include <csignal>
#include <cstring>

namespace
{

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

} // namespace

CCliRecording::CCliRecording(std::string path, const CDbOptions& options, CRecordingPace pace,
                             std::FILE* lines)
    : m_strPath(std::move(path)), m_session(options),
      m_view(m_session.m_document, m_session.m_database, lines),
      m_recorder(m_view, m_session.m_database, m_bRecording, pace)
{
    // Nobody is there to type a password: without --user the data
    // source's own credentials apply.
    m_session.m_database.m_bQuickConnect = !options.m_strUser;
}

CCliRecording::~CCliRecording() = default;

std::optional<int> CCliRecording::Start()
{
    if (const int status = m_session.LoadDocument(m_strPath))
        return status;
    // SIGINT and SIGTERM end the event loop, so that recording stops
    // between two handlers and never inside a statement. A reader of stdout
    // that goes away must not end the recording.
    m_pSignals = std::make_unique<CSignalPipe>(kSignals, [this](int signo) { OnSignal(signo); });
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    if (!m_pSignals->IsCaught() || ::sigaction(SIGPIPE, &ignore, nullptr) != 0)
    {
        CliReport(CliLevel::Error, "tessaro-cli: record: signals: %s", std::strerror(errno));
        return 1;
    }
    m_recorder.SetStorageOptions({DefaultDatabaseFolder().toStdString(),
                                  static_cast<std::size_t>(CSettings().JournalLimit())});
    if (!m_recorder.Start())
        return m_view.StopRequested() ? 0 : 1;
    return std::nullopt;
}

void CCliRecording::OnSignal(int signo)
{
    if (!m_view.StopRequested())
    {
        if (signo == SIGHUP)
            Reload();
        return;
    }
    m_recorder.Stop();
    QCoreApplication::exit(0);
}

void CCliRecording::Reload()
{
    COrbelDoc fresh;
    std::string errorText;
    if (!fresh.OnOpenDocument(m_strPath, errorText))
    {
        CliReport(CliLevel::Error,
                  "tessaro-cli: record: %s not read again: %s\n"
                  "tessaro-cli: record: the points read before are recorded on",
                  m_strPath.c_str(), errorText.c_str());
        return;
    }
    const CReconfiguration done = m_recorder.Reconfigure(std::move(fresh.m_sensors));
    CliReport(CliLevel::Info,
              "tessaro-cli: record: %s read again: kept %zu, stopped %zu, started %zu",
              m_strPath.c_str(), done.m_nKept, done.m_nStopped, done.m_nStarted);
}
