#pragma once

#include <QString>
#include <string>

class COrbelDoc;

// A modified configuration of a run that ended with no one to ask whether to
// save it (logout, a service manager stopping the program). It waits in the
// data folder until the next start offers it back.
class CRecoveryCopy
{
public:
    // The document's bytes and the file they belong to; false when they
    // could not be written.
    static bool Write(COrbelDoc& document);
    static bool Exists();
    // Where the copy is kept.
    static QString Path();
    // The file the copy belongs to; empty for an untitled configuration.
    static QString OriginalPath();
    // Reads the copy into document, which then belongs to the original file
    // and counts as modified. On failure the document is unchanged.
    static bool Restore(COrbelDoc& document, std::string& errorText);
    static void Remove();
};
