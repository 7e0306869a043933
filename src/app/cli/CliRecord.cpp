#include "app/cli/CliCommands.h"
#include "app/cli/CliRecording.h"

#include <QCoreApplication>

int RunRecord(CliArgs args)
{
    const std::optional<CCliWords> words = SplitWords(args);
    const std::optional<CDbOptions> options = words ? ReadDbOptions(*words) : std::nullopt;
    if (!options || words->m_positional.size() != 1)
        return UsageError("record");

    static int argc = 1;
    static char name[] = "tessaro-cli";
    static char* argv[] = {name, nullptr};
    QCoreApplication application(argc, argv);
    CCliRecording recording(words->m_positional[0], *options);
    if (const std::optional<int> status = recording.Start())
        return *status;
    return application.exec();
}
