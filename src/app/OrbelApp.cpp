#include "app/OrbelApp.h"

#include "app/SignalPipe.h"
#include "db/DataSource.h"
#include "net/SensorChannel.h"
#include "sensors/ChannelList.h"
#include "ui/CommandTable.h"
#include "ui/MainFrame.h"
#include "ui/OrbelView.h"
#include "ui/StringTable.h"

#include <QGuiApplication>
#include <QLibraryInfo>
#include <QMetaObject>
#include <QTranslator>

COrbelApp::COrbelApp() = default;

COrbelApp::~COrbelApp() = default;

void COrbelApp::LoadQtTranslations()
{
    m_pQtTranslator = std::make_unique<QTranslator>();
    if (m_pQtTranslator->load(QStringLiteral("qtbase_de"),
                              QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(m_pQtTranslator.get());
}

bool COrbelApp::InitInstance(const QStringList& arguments)
{
    // No display name: the window system would append it to every dialog's title.
    QCoreApplication::setOrganizationName(QStringLiteral("Arveda"));
    QCoreApplication::setApplicationName(LoadString(StringId::kAppName));
    SetDefaultDatabaseFolder(DefaultDatabaseFolder().toStdString());
    LoadQtTranslations();

    m_pMainWnd = std::make_unique<CMainFrame>(m_bRecording);
    // Several signals at once end the program once.
    const auto endSession = [frame = m_pMainWnd.get()](int)
    {
        if (!frame->HasEnded())
            frame->EndSession();
    };
    m_pSessionSignals = std::make_unique<CSignalPipe>(kSessionSignals, endSession);
    // What the last run kept of an unsaved configuration comes first; taken
    // back, it stands instead of the files of this start.
    const bool restored = m_pMainWnd->OfferRecoveryCopy();
    if (m_pMainWnd->HasEnded())
    {
        // A signal came during the question: the program ends as soon as
        // its event loop runs.
        QMetaObject::invokeMethod(
            qApp, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
        return true;
    }
    if (!restored)
    {
        // A file on the command line is opened; a file that cannot be opened
        // ends the program after the document's own message.
        const bool processed = arguments.isEmpty()
                                   ? m_pMainWnd->OnFileNew()
                                   : m_pMainWnd->OpenDocumentFile(arguments.first());
        if (!processed)
            return false;
        // Posted: the most recent configuration opens once the event loop
        // runs, on every start.
        QMetaObject::invokeMethod(
            m_pMainWnd.get(), [frame = m_pMainWnd.get()] { frame->OnCommand(ID_FILE_MRU_FILE1); },
            Qt::QueuedConnection);
    }
    m_pMainWnd->show();
    return true;
}

int COrbelApp::ExitInstance(int exitCode)
{
    m_pSessionSignals.reset();
    // However the program ends, recording stops with its database closed,
    // now that no handler runs any more.
    if (m_pMainWnd && m_pMainWnd->GetActiveView())
        m_pMainWnd->GetActiveView()->m_recorder.Stop();
    m_pMainWnd.reset();
    // Each channel leaves the list as it goes, so the head is read anew each time.
    while (!CChannelList::Entries().empty())
        delete CChannelList::Entries().front().pChannel;
    return exitCode;
}
