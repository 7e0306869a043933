#include "db/DataSourceSnapshot.h"

#include "db/DataSource.h"

void CDataSourceSnapshot::Scan(const std::string& tag, bool detectNew)
{
    for (const std::string& name : ListDataSources())
    {
        auto [entry, inserted] = m_names.try_emplace(name, tag);
        if (inserted && detectNew)
            m_strNewName = name;
        entry->second = tag;
    }
}
