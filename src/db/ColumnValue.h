#pragma once

#include <string>

// One column of the current result row, as read once from the driver.
struct CColumnValue
{
    std::string m_strText; // right-trimmed; empty for NULL
    int m_nColumn = 0;     // 1-based
};
