#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// The files an export reads from: the configuration that holds its sensor
// and the database file of an embedded data source. Nothing the export
// writes may replace one of them, by whatever name or link it is reached.
class CExportInputs
{
public:
    // what names the file in a refusal ("die Konfigurationsdatei"). A path
    // that names no file is left out.
    void Add(const std::string& path, const std::string& what);
    // Empty when writing path replaces none of the inputs; otherwise why it
    // must not be written.
    std::string Refusal(const std::string& path) const;

private:
    struct CInput
    {
        dev_t m_nDevice;
        ino_t m_nInode;
        std::string m_strWhat;
    };
    std::vector<CInput> m_inputs;
};
