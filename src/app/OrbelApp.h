#pragma once

#include "settings/Settings.h"

#include <QStringList>
#include <csignal>
#include <memory>

class CMainFrame;
class CSignalPipe;
class QTranslator;

// The one object that lives for the whole run of the desktop program: start-up
// with the optional configuration file, the flag that recording runs, and the
// clean-up of what recording leaves behind at exit.
class COrbelApp
{
public:
    COrbelApp();
    ~COrbelApp();
    COrbelApp(const COrbelApp&) = delete;
    COrbelApp& operator=(const COrbelApp&) = delete;

    // arguments: the command line after the program name. False ends the
    // program before its event loop.
    bool InitInstance(const QStringList& arguments);
    // After the event loop; returns the program's exit status.
    int ExitInstance(int exitCode);

    CMainFrame* GetMainWnd() const { return m_pMainWnd.get(); }

    // Logout, a service manager, Ctrl+C and a closed terminal end the
    // program as Datei > Beenden does.
    static constexpr int kSessionSignals[] = {SIGTERM, SIGINT, SIGHUP};

    bool m_bRecording = false;
    static constexpr const auto& m_pszSections = CSettings::m_pszSections;

private:
    // Qt's own dialogs and buttons speak German too.
    void LoadQtTranslations();

    std::unique_ptr<QTranslator> m_pQtTranslator;
    std::unique_ptr<CMainFrame> m_pMainWnd;
    std::unique_ptr<CSignalPipe> m_pSessionSignals;
};
