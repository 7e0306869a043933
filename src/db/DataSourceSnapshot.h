#pragma once

#include <string>
#include <unordered_map>

// The data source names defined at one moment, so that a later scan can tell
// which name an installer call has added.
class CDataSourceSnapshot
{
public:
    // Enters every defined name with tag; with detectNew, a name not seen
    // before becomes the new name (a later one replaces an earlier one).
    void Scan(const std::string& tag, bool detectNew);
    const std::string& NewName() const { return m_strNewName; }
    void ClearNewName() { m_strNewName.clear(); }

private:
    std::unordered_map<std::string, std::string> m_names;
    std::string m_strNewName;
};
