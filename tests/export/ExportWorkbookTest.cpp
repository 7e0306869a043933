#include "ExportWorkbook.h"

#include "Process.h"
#include "TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <regex>

namespace
{

// Every match of the first group of pattern in text.
std::vector<std::string> All(const std::string& text, const std::string& pattern)
{
    const std::regex expression(pattern);
    std::vector<std::string> found;
    for (std::sregex_iterator it(text.begin(), text.end(), expression), end; it != end; ++it)
        found.push_back((*it)[1].str());
    return found;
}

// The parts of a written workbook, read back with unzip.
class Workbook
{
public:
    explicit Workbook(const std::filesystem::path& path) : m_path(path) {}

    std::string Part(const std::string& name) const
    {
        const ProcessResult result = RunProcess({UNZIP, "-p", m_path.string(), name});
        EXPECT_EQ(result.exitCode, 0) << name << ": " << result.err;
        return result.out;
    }
    std::string Chart() const { return Part("xl/charts/chart1.xml"); }
    std::string Sheet() const { return Part("xl/worksheets/sheet1.xml"); }
    std::string Title() const
    {
        const auto titles = All(Chart(), "<c:title>.*?<a:t>(.*?)</a:t>");
        return titles.empty() ? "" : titles.front();
    }
    // The cell references that the chart's series are drawn from.
    std::vector<std::string> Ranges() const { return All(Chart(), "<c:f>(.*?)</c:f>"); }
    // A cell's XML element, empty when the cell was not written.
    std::string Cell(const std::string& reference) const
    {
        const auto cells = All(Sheet(), "(<c r=\"" + reference + "\"[^>]*>.*?</c>)");
        return cells.empty() ? "" : cells.front();
    }

private:
    std::filesystem::path m_path;
};

class ExportWorkbookTest : public ::testing::Test
{
protected:
    Workbook Write(const std::string& name, const std::string& bytes, bool summary)
    {
        const std::filesystem::path file = m_dir / name;
        WriteFileBytes(file, bytes);
        EXPECT_TRUE(m_workbook.Write(file.string(), summary)) << m_workbook.ErrorText();
        return Workbook(m_workbook.Path());
    }

    TempDir m_dir;
    CExportWorkbook m_workbook;
};

TEST_F(ExportWorkbookTest, SeriesBecomesValuesAndAScatterChartWithLines)
{
    std::string file = "Serverraum\t\xC2\xB0"
                       "C\t10.0.0.5\t80\t1\r\n";
    for (int minute = 0; minute < 10; ++minute)
        file += "2005-06-01 12:0" + std::to_string(minute) + ":00\t" +
                (minute == 1 ? "" : "-3.250") + "\r\n";
    const Workbook book = Write("sensor.xls", file, false);
    EXPECT_EQ(m_workbook.Path(), (m_dir / "sensor.xlsx").string());

    const std::string chart = book.Chart();
    EXPECT_NE(chart.find("<c:scatterChart><c:scatterStyle val=\"lineMarker\"/>"),
              std::string::npos);
    EXPECT_NE(chart.find("<c:marker><c:symbol val=\"none\"/></c:marker>"), std::string::npos);
    EXPECT_NE(chart.find("formatCode=\"yyyy-mm-dd hh:mm\""), std::string::npos);
    // A1:B11: the header names the series, rows 2 to 11 are its points.
    EXPECT_EQ(book.Ranges(),
              (std::vector<std::string>{"sensor!$B$1", "sensor!$A$2:$A$11", "sensor!$B$2:$B$11"}));
    EXPECT_EQ(book.Title(), "Serverraum");

    // The chart sheet comes first; the data sheet is named after the file.
    EXPECT_EQ(All(book.Part("xl/workbook.xml"), "<sheet name=\"(.*?)\""),
              (std::vector<std::string>{"Diagramm1", "sensor"}));
    // The header stays text, even where it looks like a number.
    EXPECT_NE(book.Cell("D1").find("<t>80</t>"), std::string::npos);
    EXPECT_NE(book.Cell("B1").find("<t>\xC2\xB0"
                                   "C</t>"),
              std::string::npos);
    // 2005-06-01 12:00 is day 38504 and a half of the spreadsheet's calendar.
    EXPECT_NE(book.Cell("A2").find("<v>38504.5</v>"), std::string::npos);
    EXPECT_NE(book.Cell("B2").find("<v>-3.25</v>"), std::string::npos);
    EXPECT_EQ(book.Cell("B3"), "");
    EXPECT_NE(book.Cell("A3"), "");
    // Date-times carry a date format: the style of A2 leads to it.
    const std::string style = All(book.Cell("A2"), " s=\"(\\d+)\"").at(0);
    const std::string styles = book.Part("xl/styles.xml");
    const auto formatIds =
        All(styles.substr(styles.find("<cellXfs")), "<xf numFmtId=\"(\\d+)\"[^>]*/>");
    ASSERT_LT(std::stoul(style), formatIds.size());
    EXPECT_NE(styles.find("numFmtId=\"" + formatIds[std::stoul(style)] +
                          "\" formatCode=\"yyyy-mm-dd hh:mm:ss\""),
              std::string::npos);
    // Both fitted columns are wide enough for their longest cell.
    const auto widths = All(book.Sheet(), "<col min=\"[12]\" max=\"[12]\" width=\"([0-9.]+)\"");
    ASSERT_EQ(widths.size(), 2u);
    EXPECT_GE(std::stod(widths[0]), 19);
    EXPECT_GE(std::stod(widths[1]), 5);
    EXPECT_LT(std::stod(widths[1]), std::stod(widths[0]));
}

TEST_F(ExportWorkbookTest, SummaryBecomesAnAreaChartOfThreeSeries)
{
    const Workbook book = Write("summary.txt",
                                "Serverraum\tMax\tAvg\tMin \xC2\xB0"
                                "C\tValues\r\n"
                                "2005-06-01\t21.750\t21.625\t21.500\t2\r\n"
                                "2005-06-02\t22.000\t21.000\t20.000\t3\r\n"
                                "2005-06-03\t1.000\t0.500\t0.000\t2\r\n",
                                true);
    EXPECT_EQ(m_workbook.Path(), (m_dir / "summary.xlsx").string());
    const std::string chart = book.Chart();
    EXPECT_NE(chart.find("<c:areaChart><c:grouping val=\"standard\"/>"), std::string::npos);
    EXPECT_EQ(All(chart, "(<c:ser>)").size(), 3u);
    EXPECT_EQ(book.Ranges(),
              (std::vector<std::string>{"summary!$B$1", "summary!$A$2:$A$4", "summary!$B$2:$B$4",
                                        "summary!$C$1", "summary!$A$2:$A$4", "summary!$C$2:$C$4",
                                        "summary!$D$1", "summary!$A$2:$A$4", "summary!$D$2:$D$4"}));
    EXPECT_EQ(book.Title(), "Serverraum");
    EXPECT_NE(book.Cell("A2").find("<v>38504</v>"), std::string::npos);
    EXPECT_NE(book.Cell("E4").find("<v>2</v>"), std::string::npos);
}

TEST_F(ExportWorkbookTest, ShortAndHeaderlessFilesStillGetAChart)
{
    // Only the header: the series have no points.
    Workbook book = Write("empty.xls", "Keller\t%\th\t80\t2\r\n", false);
    EXPECT_EQ(book.Ranges(), (std::vector<std::string>{"empty!$B$1", "empty!$A$2", "empty!$B$2"}));
    EXPECT_EQ(book.Title(), "Keller");

    // No header: every row is a point and the first date-time is the title.
    book = Write("bare.xls", "2005-06-01 12:00:00\t1.000\r\n2005-06-01 12:01:00\t2.000\r\n", false);
    EXPECT_EQ(book.Ranges(), (std::vector<std::string>{"bare!$A$1:$A$2", "bare!$B$1:$B$2"}));
    EXPECT_EQ(book.Title(), "2005-06-01 12:00:00");

    // What is not a date the spreadsheet can hold, or not a plain number,
    // stays text; legacy single-byte text arrives as UTF-8.
    book = Write("odd.xls",
                 "2005-06-01 12:00:00\t1\r\n1899-12-31 00:00:00\t2005-02-30\t1e5\tnan\t-0.5\t"
                 "\xB0"
                 "C\r\n",
                 false);
    for (const char* text : {"A2", "B2", "C2", "D2"})
        EXPECT_NE(book.Cell(text).find("t=\"inlineStr\""), std::string::npos) << text;
    EXPECT_NE(book.Cell("E2").find("<v>-0.5</v>"), std::string::npos);
    EXPECT_NE(book.Cell("F2").find("<t>\xC2\xB0"
                                   "C</t>"),
              std::string::npos);

    // A title that would read as a formula is taken from the cell.
    book = Write("formula.xls", "=1+1\tx\r\n", false);
    EXPECT_NE(book.Chart().find("<c:title><c:tx><c:strRef><c:f>formula!$A$1</c:f>"),
              std::string::npos);
}

TEST_F(ExportWorkbookTest, NamesAndFailures)
{
    EXPECT_EQ(CExportWorkbook::PathFor("/a/b.c/data"), "/a/b.c/data.xlsx");
    EXPECT_EQ(CExportWorkbook::PathFor("/a/data.XLSX"), "/a/data.XLSX.xlsx");
    EXPECT_EQ(
        All(Write("a[1]:b*'.xls", "x\r\n", false).Part("xl/workbook.xml"), "<sheet name=\"(.*?)\""),
        (std::vector<std::string>{"Diagramm1", "a_1__b_"}));
    EXPECT_EQ(All(Write("Diagramm1.xls", "x\r\n", false).Part("xl/workbook.xml"),
                  "<sheet name=\"(.*?)\""),
              (std::vector<std::string>{"Diagramm1", "Tabelle1"}));

    // A failed workbook names itself and leaves the earlier one as it was,
    // with no half-written file beside it.
    const std::filesystem::path book = m_dir / "kept.xlsx";
    WriteFileBytes(book, "earlier workbook");
    WriteFileBytes(m_dir / "kept.xls", std::string(20000, '\t'));
    const auto before = std::distance(std::filesystem::directory_iterator(m_dir.Path()), {});
    EXPECT_FALSE(m_workbook.Write((m_dir / "kept.xls").string(), false));
    EXPECT_NE(m_workbook.ErrorText().find(book.string()), std::string::npos);
    EXPECT_EQ(ReadFileBytes(book), "earlier workbook");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_dir.Path()), {}), before);

    EXPECT_FALSE(m_workbook.Write((m_dir / "missing.xls").string(), true));
    EXPECT_NE(m_workbook.ErrorText().find("missing.xls"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(m_dir / "missing.xlsx"));
}

} // namespace
