#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

// One point of a chart line: x in milliseconds since 1970, y the reading.
// A y that is not a number breaks the line there.
struct CChartPoint
{
    double x = 0;
    double y = 0;
};

// The readings of one sensor, reduced to what a chart of a given width can
// show: time is cut into columns, and each column keeps its first, lowest,
// highest and last reading, so that no peak is lost however many rows fall
// into one pixel. A missing reading (NULL) keeps its gap; a column shows at
// most one gap. Readings beyond the last column make the columns twice as
// wide, so memory stays bounded while a recording goes on.
class CReadingReduction
{
public:
    // columns: how many columns are kept at most. origin, width: the first
    // column and the width of each in milliseconds; without an origin the
    // first reading sets it.
    explicit CReadingReduction(int columns = 2000, std::optional<std::int64_t> origin = {},
                               std::int64_t width = 1000);

    // A reading at msecs; nullopt for NULL. Readings may come out of order.
    void Add(std::int64_t msecs, std::optional<double> value);

    // In time order; a point with a NaN y between two runs is a gap.
    std::vector<CChartPoint> Points() const;

    std::size_t Rows() const { return m_nRows; }
    std::size_t Values() const { return m_nValues; }
    // Lowest and highest reading; nullopt without any.
    std::optional<std::pair<double, double>> ValueRange() const;
    // Times of the oldest and newest row, NULL rows included.
    std::optional<std::int64_t> Oldest() const { return m_nOldest; }
    std::optional<std::int64_t> Newest() const { return m_nNewest; }
    std::int64_t ColumnWidth() const { return m_nWidth; }

private:
    struct Reading
    {
        std::int64_t time = 0;
        double value = 0;
    };

    // First, lowest, highest and last of some readings.
    struct Extremes
    {
        bool any = false;
        Reading first, lowest, highest, last;

        void Add(const Reading& reading);
        void Merge(const Extremes& other);
        void AppendTo(std::vector<CChartPoint>& points) const;
    };

    struct Column
    {
        Extremes before; // the values before the first NULL
        Extremes after;  // the values after it
        bool hasNull = false;
        std::int64_t firstNull = 0;
        bool any = false;
        std::int64_t lastTime = 0; // of the column's latest row
        bool endsWithNull = false;
    };

    static Column Merged(const Column& earlier, const Column& later);
    void Coarsen();

    int m_nMaxColumns;
    std::optional<std::int64_t> m_nOrigin;
    std::int64_t m_nWidth;
    std::vector<Column> m_columns;
    std::size_t m_nRows = 0;
    std::size_t m_nValues = 0;
    std::optional<std::int64_t> m_nOldest;
    std::optional<std::int64_t> m_nNewest;
};
