// A driver setup library of the kind the installer loads for drivers that
// bring their own setup dialog. It stands in for the person at that dialog:
// TESSARO_SETUP_LOG receives each request, TESSARO_SETUP_ANSWER says what to
// do: "cancel", or "add NAME" to define the data source NAME (as if the name
// had been changed in the dialog) and succeed.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <odbcinst.h>
#include <sqltypes.h>
#include <string>

extern "C" BOOL ConfigDSN(HWND, WORD request, LPCSTR driver, LPCSTR attributes)
{
    if (const char* logFile = std::getenv("TESSARO_SETUP_LOG"))
        if (std::FILE* log = std::fopen(logFile, "a"))
        {
            UWORD mode = 0;
            SQLGetConfigMode(&mode);
            std::fprintf(log, "request=%u mode=%u driver=%s", request, mode, driver);
            for (const char* pair = attributes; *pair != '\0'; pair += std::strlen(pair) + 1)
                std::fprintf(log, " [%s]", pair);
            std::fprintf(log, "\n");
            std::fclose(log);
        }
    const char* answer = std::getenv("TESSARO_SETUP_ANSWER");
    if (answer == nullptr || std::strncmp(answer, "add ", 4) != 0)
        return 0;
    return SQLWriteDSNToIni(answer + 4, driver);
}
