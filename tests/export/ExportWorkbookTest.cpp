#include "export/ExportWorkbook.h"

#include "common/Process.h"
#include "common/TempDir.h"
#include "export/ExportInputs.h"

#include <QXmlStreamReader>
#include <filesystem>
#include <gtest/gtest.h>
#include <regex>
#include <set>
#include <sstream>

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

class ExportWorkbookTest : public ::testing::Test
{
protected:
    // Writes the export file and its workbook, and reads the chart and the sheet back.
    void Write(const std::string& name, const std::string& bytes, bool summary)
    {
        WriteFileBytes(m_dir / name, bytes);
        ASSERT_TRUE(m_workbook.Write((m_dir / name).string(), summary)) << m_workbook.ErrorText();
        m_strChart = Part("xl/charts/chart1.xml");
        m_strSheet = Part("xl/worksheets/sheet1.xml");
    }
    std::string Part(const std::string& name) const
    {
        // unzip reads "[" as the start of a wildcard.
        const std::string pattern = std::regex_replace(name, std::regex("\\["), "[[]");
        const ProcessResult result = RunProcess({UNZIP, "-p", m_workbook.Path(), pattern});
        EXPECT_EQ(result.exitCode, 0) << name << ": " << result.err;
        return result.out;
    }
    // The cells the chart's series are drawn from, and its title.
    std::vector<std::string> Ranges() const { return All(m_strChart, "<c:f>(.*?)</c:f>"); }
    std::string Title() const { return All(m_strChart, "<c:title>.*?<a:t>(.*?)</a:t>").at(0); }
    std::string Cell(const std::string& reference) const
    {
        const auto cells = All(m_strSheet, "(<c r=\"" + reference + "\"[^>]*>.*?</c>)");
        return cells.empty() ? "" : cells.front();
    }

    TempDir m_dir;
    CExportWorkbook m_workbook;
    std::string m_strChart;
    std::string m_strSheet;
};

TEST_F(ExportWorkbookTest, SeriesSummaryShortHeaderlessAndOddFilesGetTheirChartsAndParse)
{
    std::string file = "Serverraum\t°C\t10.0.0.5\t80\t1\r\n";
    for (int minute = 0; minute < 10; ++minute)
        file += "2005-06-01 12:0" + std::to_string(minute) + ":00\t" +
                (minute == 1 ? "" : "-3.250") + "\r\n";
    Write("sensor.xls", file, false);
    EXPECT_EQ(m_workbook.Path(), (m_dir / "sensor.xlsx").string());
    EXPECT_NE(m_strChart.find("<c:scatterStyle val=\"lineMarker\"/>"), std::string::npos);
    EXPECT_NE(m_strChart.find("<c:marker><c:symbol val=\"none\"/>"), std::string::npos);
    EXPECT_NE(m_strChart.find("formatCode=\"yyyy-mm-dd hh:mm\""), std::string::npos);
    // A1:B11: the header names the series, rows 2 to 11 are its points.
    EXPECT_EQ(Ranges(),
              (std::vector<std::string>{"sensor!$B$1", "sensor!$A$2:$A$11", "sensor!$B$2:$B$11"}));
    EXPECT_EQ(Title(), "Serverraum");
    // The chart sheet comes first; the data sheet is named after the file.
    EXPECT_EQ(All(Part("xl/workbook.xml"), "<sheet name=\"(.*?)\""),
              (std::vector<std::string>{"Diagramm1", "sensor"}));

    // The header stays text even where it looks like a number; 2005-06-01
    // 12:00 is day 38504.5 of the spreadsheet's calendar, with a date format.
    EXPECT_NE(Cell("D1").find("<t>80</t>"), std::string::npos);
    EXPECT_NE(Cell("A2").find("<v>38504.5</v>"), std::string::npos);
    EXPECT_NE(Cell("B2").find("<v>-3.25</v>"), std::string::npos);
    EXPECT_EQ(Cell("B3"), "");
    const std::string styles = Part("xl/styles.xml");
    const auto formats = All(styles.substr(styles.find("<cellXfs")), "<xf numFmtId=\"(\\d+)\"");
    EXPECT_NE(styles.find("numFmtId=\"" +
                          formats.at(std::stoul(All(Cell("A2"), " s=\"(\\d+)\"").at(0))) +
                          "\" formatCode=\"yyyy-mm-dd hh:mm:ss\""),
              std::string::npos);
    // Both columns fitted: A to its date-times, B to its shorter numbers.
    const auto widths = All(m_strSheet, "<col min=\"[12]\" max=\"[12]\" width=\"([0-9.]+)\"");
    ASSERT_EQ(widths.size(), 2u);
    EXPECT_GE(std::stod(widths[0]), 19);
    EXPECT_LT(std::stod(widths[1]), std::stod(widths[0]));

    // A summary: an area chart of the three columns.
    Write("summary.txt",
          "Serverraum\tMax\tAvg\tMin °C\tValues\r\n2005-06-01\t21.750\t21.625\t21.500\t2\r\n"
          "2005-06-02\t22.000\t21.000\t20.000\t3\r\n2005-06-03\t1.000\t0.500\t0.000\t2\r\n",
          true);
    EXPECT_NE(m_strChart.find("<c:areaChart><c:grouping val=\"standard\"/>"), std::string::npos);
    EXPECT_EQ(Ranges(),
              (std::vector<std::string>{"summary!$B$1", "summary!$A$2:$A$4", "summary!$B$2:$B$4",
                                        "summary!$C$1", "summary!$A$2:$A$4", "summary!$C$2:$C$4",
                                        "summary!$D$1", "summary!$A$2:$A$4", "summary!$D$2:$D$4"}));
    EXPECT_EQ(Title(), "Serverraum");
    EXPECT_NE(Cell("A2").find("<v>38504</v>"), std::string::npos);
    // Whichever order a program draws the areas in, each lets those below
    // show through and has an outline: three colours, each its area's.
    const auto fills = All(m_strChart, "<c:spPr><a:solidFill><a:srgbClr val=\"(\\w+)\"><a:alpha");
    const auto alphas =
        All(m_strChart, "<c:spPr><a:solidFill><a:srgbClr [^>]*><a:alpha val=\"(\\d+)\"");
    EXPECT_EQ(All(m_strChart, "</a:solidFill><a:ln[^>]*><a:solidFill><a:srgbClr val=\"(\\w+)\"/>"),
              fills);
    EXPECT_EQ(std::set<std::string>(fills.begin(), fills.end()).size(), 3u);
    ASSERT_EQ(alphas.size(), 3u);
    for (const std::string& alpha : alphas)
        EXPECT_TRUE(std::stoi(alpha) > 0 && std::stoi(alpha) < 100000) << alpha;

    // Only the header: the series have no points.
    Write("empty.xls", "Keller\t%\th\t80\t2\r\n", false);
    EXPECT_EQ(Ranges(), (std::vector<std::string>{"empty!$B$1", "empty!$A$2", "empty!$B$2"}));
    // No header: every row is a point, the first date-time the title.
    Write("bare.xls", "2005-06-01 12:00:00\t1.000\r\n2005-06-01 12:01:00\t2.000\r\n", false);
    EXPECT_EQ(Ranges(), (std::vector<std::string>{"bare!$A$1:$A$2", "bare!$B$1:$B$2"}));
    EXPECT_EQ(Title(), "2005-06-01 12:00:00");
    // What is no date the spreadsheet holds, nor a plain number, stays text;
    // single-byte text arrives as UTF-8.
    Write("odd.xls", "2005-06-01 12:00:00\t1\r\n1899-12-31\t2005-02-30\t1e5\t-0.5\t\xB0\r\n",
          false);
    for (const char* text : {"A2", "B2", "C2"})
        EXPECT_NE(Cell(text).find("inlineStr"), std::string::npos) << text;
    EXPECT_NE(Cell("D2").find("<v>-0.5</v>"), std::string::npos);
    EXPECT_NE(Cell("E2").find("<t>\xC2\xB0</t>"), std::string::npos);

    // Control characters pasted into a description, and a file name that
    // holds one, reach titles, series names, cells and the sheet's name.
    Write("steuer\x01zeichen.xls",
          "K\xC3\xBChl\x01raum\x1B\tMax\x02\tAvg\tMin \xEF\xBF\xBF\tValues\r\n"
          "2005-06-01\t1.000\t0.500\t0.000\t2\r\n2005-06-02\t\x7F\x0B\t1\t0\t1\r\n",
          true);
    EXPECT_EQ(Title(), "K\xC3\xBChl\xEF\xBF\xBDraum\xEF\xBF\xBD");
    const ProcessResult list = RunProcess({UNZIP, "-Z1", m_workbook.Path()});
    ASSERT_EQ(list.exitCode, 0) << list.err;
    std::istringstream names(list.out);
    int parts = 0;
    for (std::string name; std::getline(names, name); ++parts)
    {
        QXmlStreamReader xml(QByteArray::fromStdString(Part(name)));
        while (!xml.atEnd())
            xml.readNext();
        EXPECT_FALSE(xml.hasError()) << name << ": " << xml.errorString().toStdString();
    }
    EXPECT_GT(parts, 10);
}

TEST_F(ExportWorkbookTest, AWorkbookIsReplacedOnlyWhereThisExportWroteIt)
{
    EXPECT_EQ(CExportWorkbook::PathFor("/a/b.c/data"), "/a/b.c/data.xlsx");
    EXPECT_EQ(CExportWorkbook::PathFor("/a/data.XLSX"), "/a/data.XLSX.xlsx");
    const std::filesystem::path book = m_dir / "kept.xlsx";
    const std::filesystem::path file = m_dir / "kept.xls";
    WriteFileBytes(book, "earlier workbook");
    // More columns than a sheet has.
    WriteFileBytes(file, std::string(20000, '\t'));
    EXPECT_FALSE(m_workbook.Write(file.string(), false));
    EXPECT_NE(m_workbook.ErrorText().find("kept (2).xlsx"), std::string::npos);
    // Nothing half-written is left beside it.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_dir.Path()), {}), 2);

    // Someone else's workbook stays; the next free name is taken, and is
    // this export's to replace until the export file or the workbook changes.
    std::vector<std::string> asked;
    bool yes = false;
    const auto ask = [&](const std::string& path)
    {
        asked.push_back(path);
        return yes;
    };
    const CExportInputs none;
    WriteFileBytes(file, "Keller\t%\th\t80\t2\r\n");
    CWorkbookTarget target = CExportWorkbook::ChooseTarget(file, none, ask);
    ASSERT_TRUE(m_workbook.Write(file.string(), false, target)) << m_workbook.ErrorText();
    EXPECT_EQ(m_workbook.Path(), (m_dir / "kept (2).xlsx").string());
    EXPECT_EQ(ReadFileBytes(book), "earlier workbook");
    EXPECT_EQ(asked, std::vector<std::string>{book.string()});
    target = CExportWorkbook::ChooseTarget(file, none, ask);
    EXPECT_TRUE(target.m_bReplace);
    EXPECT_EQ(target.Path(), m_workbook.Path());
    // Saved by another program since (its time changes), made from another
    // export file, or its export file written anew: someone else's.
    const std::filesystem::path mine = m_workbook.Path();
    const auto written = std::filesystem::last_write_time(mine);
    std::filesystem::last_write_time(mine, written + std::chrono::seconds(1));
    const std::string third = (m_dir / "kept (3).xlsx").string();
    EXPECT_EQ(CExportWorkbook::ChooseTarget(file, none, {}).Path(), third);
    std::filesystem::last_write_time(mine, written);
    EXPECT_TRUE(CExportWorkbook::ChooseTarget(file, none, {}).m_bReplace);
    std::filesystem::copy_file(file, m_dir / "other.xls");
    std::filesystem::copy_file(mine, m_dir / "other.xlsx");
    std::filesystem::last_write_time(m_dir / "other.xlsx",
                                     std::filesystem::last_write_time(m_dir / "other.xls"));
    EXPECT_FALSE(CExportWorkbook::ChooseTarget(m_dir / "other.xls", none, {}).m_bReplace);
    std::filesystem::last_write_time(file, written + std::chrono::seconds(1));
    EXPECT_EQ(CExportWorkbook::ChooseTarget(file, none, {}).Path(), third);

    // A yes replaces someone else's workbook, but never an input, about
    // which nobody is asked.
    asked.clear();
    yes = true;
    target = CExportWorkbook::ChooseTarget(file, none, ask);
    EXPECT_TRUE(target.m_bReplace);
    EXPECT_EQ(target.Path(), book.string());
    CExportInputs inputs;
    inputs.Add(book.string(), "die Eingabe");
    EXPECT_EQ(CExportWorkbook::ChooseTarget(file, inputs, ask).Path(), third);
    EXPECT_EQ(asked, std::vector<std::string>{book.string()});

    // A file that comes while the workbook is written is not replaced either.
    target = CExportWorkbook::ChooseTarget((m_dir / "new.xls").string(), none, {});
    WriteFileBytes(m_dir / "new.xls", "Keller\r\n");
    WriteFileBytes(m_dir / "new.xlsx", "came meanwhile");
    ASSERT_TRUE(m_workbook.Write((m_dir / "new.xls").string(), false, target));
    EXPECT_EQ(m_workbook.Path(), (m_dir / "new (2).xlsx").string());
    EXPECT_EQ(ReadFileBytes(m_dir / "new.xlsx"), "came meanwhile");
}

} // namespace
