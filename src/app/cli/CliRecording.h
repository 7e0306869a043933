#pragma once

#include "app/cli/CliRecordingView.h"
#include "app/cli/CliSession.h"
#include "recording/Recorder.h"

#include <cstdio>
#include <memory>
#include <optional>
#include <string>

class CSignalPipe;

// `tessaro-cli record` once its command line is read: a configuration file
// recorded into a data source until SIGINT or SIGTERM, and read again on
// SIGHUP. Needs the application object.
class CCliRecording
{
public:
    // pace: real minutes but in tests; lines: where the status and row
    // lines go.
    CCliRecording(std::string path, const CDbOptions& options, CRecordingPace pace = {},
                  std::FILE* lines = stdout);
    ~CCliRecording();
    CCliRecording(const CCliRecording&) = delete;
    CCliRecording& operator=(const CCliRecording&) = delete;

    // Reads the file, catches the signals and starts recording. Nothing when
    // it runs (a stop ends the event loop with 0), else the exit status of
    // the command, after saying why.
    std::optional<int> Start();
    // Takes over the file as it is now; a file that cannot be read leaves
    // the recording as it was, which is said on stderr.
    void Reload();
    const CRecorder& Recorder() const { return m_recorder; }

private:
    void OnSignal(int signo);

    std::string m_strPath;
    CCliSession m_session;
    CCliRecordingView m_view;
    bool m_bRecording = false;
    CRecorder m_recorder;
    std::unique_ptr<CSignalPipe> m_pSignals;
};
