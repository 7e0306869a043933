#pragma once

#include "sensors/Clock.h"

#include <string>
#include <string_view>
#include <vector>

// One row of the reading table as the recording hands it to storage: the
// point's SensorID and its value as the statement writes it ("%f", or NULL).
struct CReading
{
    int m_nSensorId = 0;
    std::string m_strValue;
};

// The rows one minute tick took, all with the local date and time of that
// tick. In doubt: the rows may already be in the database (a commit whose
// answer never came).
struct CTick
{
    CivilTime m_time;
    std::vector<CReading> m_rows;
    bool m_bInDoubt = false;
};

inline constexpr std::string_view kNullValue = "NULL";

// "INSERT INTO <table> (Reading, Calendar, Clock, SensorID) VALUES ( ... )"
// with the date and time escapes of time.
std::string InsertReadingStatement(std::string_view table, const CReading& row,
                                   const CivilTime& time);
