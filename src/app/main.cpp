#include "app/OrbelApp.h"
#include "net/DescriptorLimit.h"
#include "ui/StringTable.h"

#include <QApplication>
#include <cstdio>
#include <optional>
#include <string_view>

namespace
{

void Print(std::FILE* to, const QString& text)
{
    std::fputs(text.toUtf8().constData(), to);
}

int UnknownOption(const QString& option)
{
    Print(stderr, LoadString(StringId::kUnknownOption).arg(option));
    return 2;
}

// --help and --version are answered before the window system is asked for,
// so that they work without a display; so is an unknown long option. Qt
// takes its own options (-platform, -style) with one dash.
std::optional<int> AnswerBeforeWindows(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
    {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h")
        {
            Print(stdout, LoadString(StringId::kDesktopUsage));
            return std::fflush(stdout) == 0 ? 0 : 1;
        }
        if (arg == "--version")
        {
            std::printf("tessaro %s\n", TESSARO_VERSION);
            return std::fflush(stdout) == 0 ? 0 : 1;
        }
        if (arg.starts_with("--"))
            return UnknownOption(QString::fromLocal8Bit(argv[i]));
    }
    return std::nullopt;
}

} // namespace

int main(int argc, char** argv)
{
    if (const std::optional<int> status = AnswerBeforeWindows(argc, argv))
        return *status;
    RaiseDescriptorLimit();
    QApplication application(argc, argv);
    // What Qt left is the program's own: at most a configuration file.
    const QStringList arguments = QApplication::arguments().mid(1);
    for (const QString& argument : arguments)
        if (argument.startsWith(QLatin1Char('-')))
            return UnknownOption(argument);
    COrbelApp app;
    if (!app.InitInstance(arguments))
        return app.ExitInstance(1);
    return app.ExitInstance(QApplication::exec());
}
