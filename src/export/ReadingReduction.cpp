#include "export/ReadingReduction.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace
{

constexpr double kGap = std::numeric_limits<double>::quiet_NaN();

} // namespace

CReadingReduction::CReadingReduction(int columns, std::optional<std::int64_t> origin,
                                     std::int64_t width)
    : m_nMaxColumns(std::max(columns, 2)), m_nOrigin(origin),
      m_nWidth(std::max<std::int64_t>(width, 1))
{
}

void CReadingReduction::Extremes::Add(const Reading& reading)
{
    if (!any)
    {
        first = lowest = highest = last = reading;
        any = true;
        return;
    }
    if (reading.time < first.time)
        first = reading;
    if (reading.time >= last.time)
        last = reading;
    if (reading.value < lowest.value)
        lowest = reading;
    if (reading.value > highest.value)
        highest = reading;
}

void CReadingReduction::Extremes::Merge(const Extremes& other)
{
    if (!other.any)
        return;
    if (!any)
    {
        *this = other;
        return;
    }
    for (const Reading& reading : {other.first, other.lowest, other.highest, other.last})
        Add(reading);
}

void CReadingReduction::Extremes::AppendTo(std::vector<CChartPoint>& points) const
{
    if (!any)
        return;
    std::array<Reading, 4> readings = {first, lowest, highest, last};
    std::sort(readings.begin(), readings.end(),
              [](const Reading& a, const Reading& b) { return a.time < b.time; });
    for (size_t i = 0; i < readings.size(); ++i)
        // The same reading may be first and lowest at once.
        if (i == 0 || readings[i].time != readings[i - 1].time)
            points.push_back({static_cast<double>(readings[i].time), readings[i].value});
}

void CReadingReduction::Add(std::int64_t msecs, std::optional<double> value)
{
    if (!m_nOrigin)
        m_nOrigin = msecs;
    // A reading from before the first column counts to the first column.
    const auto index = [&] { return msecs < *m_nOrigin ? 0 : (msecs - *m_nOrigin) / m_nWidth; };
    while (index() >= m_nMaxColumns)
        Coarsen();
    const auto at = static_cast<size_t>(index());
    if (at >= m_columns.size())
        m_columns.resize(at + 1);

    Column& column = m_columns[at];
    if (value)
    {
        (column.hasNull && msecs > column.firstNull ? column.after : column.before)
            .Add({msecs, *value});
        ++m_nValues;
    }
    else if (!column.hasNull || msecs < column.firstNull)
    {
        column.hasNull = true;
        column.firstNull = msecs;
    }
    if (!column.any || msecs >= column.lastTime)
    {
        column.lastTime = msecs;
        column.endsWithNull = !value;
    }
    column.any = true;

    ++m_nRows;
    m_nOldest = std::min(m_nOldest.value_or(msecs), msecs);
    m_nNewest = std::max(m_nNewest.value_or(msecs), msecs);
}

CReadingReduction::Column CReadingReduction::Merged(const Column& earlier, const Column& later)
{
    if (!later.any)
        return earlier;
    if (!earlier.any)
        return later;
    Column merged = earlier;
    if (!earlier.hasNull)
    {
        merged.before.Merge(later.before);
        merged.hasNull = later.hasNull;
        merged.firstNull = later.firstNull;
        merged.after = later.after;
    }
    else
    {
        // Only the earlier gap survives: one per column.
        merged.after.Merge(later.before);
        merged.after.Merge(later.after);
    }
    if (later.lastTime >= earlier.lastTime)
    {
        merged.lastTime = later.lastTime;
        merged.endsWithNull = later.endsWithNull;
    }
    return merged;
}

void CReadingReduction::Coarsen()
{
    std::vector<Column> coarse((m_columns.size() + 1) / 2);
    for (size_t i = 0; i < coarse.size(); ++i)
        coarse[i] = 2 * i + 1 < m_columns.size() ? Merged(m_columns[2 * i], m_columns[2 * i + 1])
                                                 : m_columns[2 * i];
    m_columns = std::move(coarse);
    m_nWidth *= 2;
}

std::vector<CChartPoint> CReadingReduction::Points() const
{
    std::vector<CChartPoint> points;
    const auto gap = [&points](std::int64_t at)
    {
        if (!points.empty() && !std::isnan(points.back().y))
            points.push_back({static_cast<double>(at), kGap});
    };
    for (const Column& column : m_columns)
    {
        if (!column.any)
            continue;
        column.before.AppendTo(points);
        if (column.hasNull)
            gap(column.firstNull);
        column.after.AppendTo(points);
        if (column.endsWithNull)
            gap(column.lastTime);
    }
    if (!points.empty() && std::isnan(points.back().y))
        points.pop_back();
    return points;
}

std::optional<std::pair<double, double>> CReadingReduction::ValueRange() const
{
    std::optional<std::pair<double, double>> range;
    for (const Column& column : m_columns)
        for (const Extremes* extremes : {&column.before, &column.after})
        {
            if (!extremes->any)
                continue;
            if (!range)
                range.emplace(extremes->lowest.value, extremes->highest.value);
            range->first = std::min(range->first, extremes->lowest.value);
            range->second = std::max(range->second, extremes->highest.value);
        }
    return range;
}
