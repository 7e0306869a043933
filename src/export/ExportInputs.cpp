#include "export/ExportInputs.h"

#include <sys/stat.h>

void CExportInputs::Add(const std::string& path, const std::string& what)
{
    struct stat info;
    if (!path.empty() && stat(path.c_str(), &info) == 0)
        m_inputs.push_back({info.st_dev, info.st_ino, what});
}

std::string CExportInputs::Refusal(const std::string& path) const
{
    struct stat info;
    if (stat(path.c_str(), &info) != 0)
        return {};
    for (const CInput& input : m_inputs)
        if (input.m_nDevice == info.st_dev && input.m_nInode == info.st_ino)
            return path + " ist " + input.m_strWhat + " und wird vom Export nicht überschrieben.";
    return {};
}
