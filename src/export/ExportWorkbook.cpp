#include "export/ExportWorkbook.h"

#include "export/ExportInputs.h"
#include "sensors/TextEncoding.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <minizip/unzip.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#include <xlsxwriter.h>

namespace
{

constexpr const char* kDateTimeFormat = "yyyy-mm-dd hh:mm:ss";
constexpr const char* kDateFormat = "yyyy-mm-dd";
// What the spreadsheet application calls a new chart sheet.
constexpr const char* kChartSheetName = "Diagramm1";
// The custom document property that tells which export file a workbook was
// made from.
constexpr const char* kMarkerName = "Tessaro-Export";
// Maximum, average and minimum of a summary, and how much of what lies below
// each of their areas shows through it (percent).
constexpr lxw_color_t kAreaColors[] = {0xC0504D, 0x4F81BD, 0x9BBB59};
constexpr uint8_t kAreaTransparency = 50;
// How far "<name> (N).xlsx" counts before giving up.
constexpr int kMaxNumber = 10000;

// A field of the export file as the spreadsheet's text import reads it.
struct CField
{
    enum Kind
    {
        Empty,
        DateTime,
        Date,
        Number,
        Text,
    } kind = Empty;
    lxw_datetime dateTime{};
    double number = 0;
};

bool ReadDigits(std::string_view text, size_t position, size_t count, int& value)
{
    if (position + count > text.size())
        return false;
    value = 0;
    for (size_t i = position; i < position + count; ++i)
    {
        if (text[i] < '0' || text[i] > '9')
            return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

int DaysInMonth(int year, int month)
{
    static constexpr std::array<int, 12> kDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[static_cast<size_t>(month - 1)];
}

// "yyyy-mm-dd" or "yyyy-mm-dd hh:mm:ss" of a real moment the spreadsheet can
// hold (its calendar starts in 1900); anything else stays text.
bool ParseDateTime(std::string_view text, CField& field)
{
    lxw_datetime& value = field.dateTime;
    int second = 0;
    if (!(text.size() == 10 || text.size() == 19) || !ReadDigits(text, 0, 4, value.year) ||
        text[4] != '-' || !ReadDigits(text, 5, 2, value.month) || text[7] != '-' ||
        !ReadDigits(text, 8, 2, value.day))
        return false;
    if (text.size() == 19 &&
        (text[10] != ' ' || !ReadDigits(text, 11, 2, value.hour) || text[13] != ':' ||
         !ReadDigits(text, 14, 2, value.min) || text[16] != ':' ||
         !ReadDigits(text, 17, 2, second) || value.hour > 23 || value.min > 59 || second > 59))
        return false;
    if (value.year < 1900 || value.month < 1 || value.month > 12 || value.day < 1 ||
        value.day > DaysInMonth(value.year, value.month))
        return false;
    value.sec = second;
    field.kind = text.size() == 19 ? CField::DateTime : CField::Date;
    return true;
}

// Digits with an optional minus and decimal point, as the export writes them.
bool ParseNumber(std::string_view text, CField& field)
{
    size_t i = text.starts_with('-') ? 1 : 0;
    const size_t intStart = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9')
        ++i;
    if (i == intStart)
        return false;
    if (i < text.size() && text[i] == '.')
    {
        const size_t fractionStart = ++i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9')
            ++i;
        if (i == fractionStart)
            return false;
    }
    if (i != text.size())
        return false;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), field.number);
    if (result.ec != std::errc())
        return false;
    field.kind = CField::Number;
    return true;
}

CField ClassifyField(std::string_view text)
{
    CField field;
    if (text.empty())
        return field;
    if (!ParseDateTime(text, field) && !ParseNumber(text, field))
        field.kind = CField::Text;
    return field;
}

// ASCII only: the process locale must not decide what matches.
bool SameIgnoringCase(std::string_view a, std::string_view b)
{
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return lower(x) == lower(y); });
}

size_t CharacterCount(std::string_view utf8)
{
    return static_cast<size_t>(
        std::count_if(utf8.begin(), utf8.end(),
                      [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

// How many characters the cell shows: dates in their formats, numbers in the
// general format (shortest form), text as it is.
size_t ShownWidth(const CField& field, std::string_view text)
{
    switch (field.kind)
    {
    case CField::Empty:
        return 0;
    case CField::DateTime:
        return std::strlen(kDateTimeFormat);
    case CField::Date:
        return std::strlen(kDateFormat);
    case CField::Number:
    {
        std::array<char, 32> digits{};
        const auto result =
            std::to_chars(digits.data(), digits.data() + digits.size(), field.number);
        return static_cast<size_t>(result.ptr - digits.data());
    }
    case CField::Text:
        break;
    }
    return CharacterCount(text);
}

// Text as XML 1.0 allows it: the characters it does not allow, such as the
// control characters of a description pasted from another program, would
// make the spreadsheet program refuse the whole workbook; each becomes
// U+FFFD. Takes valid UTF-8.
std::string XmlSafe(std::string_view utf8)
{
    std::string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();)
    {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        const size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        const std::string_view character = utf8.substr(i, length);
        i += length;
        const bool control = lead < 0x20 && lead != '\t' && lead != '\n' && lead != '\r';
        // U+FFFE and U+FFFF
        const bool nonCharacter = character == "\xEF\xBF\xBE" || character == "\xEF\xBF\xBF";
        out += control || nonCharacter ? std::string_view("\xEF\xBF\xBD") : character;
    }
    return out;
}

// A field or name of the export file as text of the workbook.
std::string WorkbookText(std::string_view bytes)
{
    return XmlSafe(DecodeLegacyText(bytes));
}

// The export file a workbook is made from, as it is now.
std::string ExportStamp(const struct stat& file)
{
    return std::to_string(file.st_dev) + ":" + std::to_string(file.st_ino) + ":" +
           std::to_string(file.st_mtim.tv_sec) + "." + std::to_string(file.st_mtim.tv_nsec);
}

struct ZipCloser
{
    void operator()(void* zip) const { unzClose(zip); }
};

// The value of the marker property of a workbook; empty for any other file.
std::string ReadMarker(const std::string& workbook)
{
    const std::unique_ptr<void, ZipCloser> zip(unzOpen64(workbook.c_str()));
    if (!zip || unzLocateFile(zip.get(), "docProps/custom.xml", 1) != UNZ_OK ||
        unzOpenCurrentFile(zip.get()) != UNZ_OK)
        return {};
    std::string xml;
    std::array<char, 4096> buffer{};
    // The part is small in a workbook of ours; a large one is someone else's.
    for (int n; xml.size() < 65536 &&
                (n = unzReadCurrentFile(zip.get(), buffer.data(), buffer.size())) > 0;)
        xml.append(buffer.data(), static_cast<size_t>(n));
    unzCloseCurrentFile(zip.get());
    const size_t property = xml.find(std::string("name=\"") + kMarkerName + "\"");
    const std::string_view open = "<vt:lpwstr>";
    const size_t start = property == std::string::npos ? property : xml.find(open, property);
    const size_t end = start == std::string::npos ? start : xml.find('<', start + open.size());
    if (end == std::string::npos)
        return {};
    return xml.substr(start + open.size(), end - start - open.size());
}

// A workbook that an export of exportPath wrote and that nobody has written
// since: it names the export file as it is now, and still has its time.
bool IsOwnWorkbook(const std::string& workbook, const std::string& exportPath)
{
    struct stat book, file;
    return lstat(workbook.c_str(), &book) == 0 && S_ISREG(book.st_mode) &&
           stat(exportPath.c_str(), &file) == 0 && book.st_mtim.tv_sec == file.st_mtim.tv_sec &&
           book.st_mtim.tv_nsec == file.st_mtim.tv_nsec &&
           ReadMarker(workbook) == ExportStamp(file);
}

// Puts the complete workbook in its place: over the target where that may be
// replaced, otherwise under the first name from the target on that no file
// has, even one that came meanwhile. path is where it went.
bool Commit(const std::string& temporary, CWorkbookTarget target, std::string& path)
{
    path = target.Path();
    if (target.m_bReplace)
        return std::rename(temporary.c_str(), path.c_str()) == 0;
    for (; target.m_nNumber < kMaxNumber; ++target.m_nNumber)
    {
        path = target.Path();
        if (renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0)
            return true;
        // A file system without that flag still refuses to link over a file.
        if (errno == EINVAL && link(temporary.c_str(), path.c_str()) == 0)
        {
            unlink(temporary.c_str());
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    errno = EEXIST;
    return false;
}

std::string StemFor(const std::string& exportPath)
{
    std::filesystem::path path(exportPath);
    // An export file that is itself called ".xlsx" must not be overwritten.
    if (SameIgnoringCase(path.extension().string(), ".xlsx"))
        return exportPath;
    return path.replace_extension().string();
}

// The name the text import gives the sheet: the file's name without its
// extension, with the characters a sheet name may not hold replaced.
std::string SheetNameFor(const std::string& exportPath)
{
    std::string name = WorkbookText(std::filesystem::path(exportPath).stem().string());
    std::replace_if(
        name.begin(), name.end(), [](char c) { return std::strchr("[]:*?/\\", c) != nullptr; },
        '_');
    while (!name.empty() && name.front() == '\'')
        name.erase(0, 1);
    // At most 31 characters; a cut must not split a character.
    size_t characters = 0, end = 0;
    for (; end < name.size(); ++end)
        if ((static_cast<unsigned char>(name[end]) & 0xC0) != 0x80 && ++characters > 31)
            break;
    name.erase(end);
    while (!name.empty() && name.back() == '\'')
        name.pop_back();
    if (name.empty() || SameIgnoringCase(name, kChartSheetName))
        name = "Tabelle1";
    return name;
}

// A workbook given up half way is thrown away without being written.
struct WorkbookDiscarder
{
    void operator()(lxw_workbook* workbook) const { lxw_workbook_free(workbook); }
};

} // namespace

std::string CWorkbookTarget::Path() const
{
    return m_nNumber <= 1 ? m_strStem + ".xlsx"
                          : m_strStem + " (" + std::to_string(m_nNumber) + ").xlsx";
}

std::string CExportWorkbook::PathFor(const std::string& exportPath)
{
    return CWorkbookTarget{StemFor(exportPath)}.Path();
}

CWorkbookTarget
CExportWorkbook::ChooseTarget(const std::string& exportPath, const CExportInputs& inputs,
                              const std::function<bool(const std::string&)>& mayReplace)
{
    CWorkbookTarget target{StemFor(exportPath)};
    for (; target.m_nNumber < kMaxNumber; ++target.m_nNumber)
    {
        const std::string path = target.Path();
        struct stat existing;
        if (lstat(path.c_str(), &existing) != 0)
            break;
        if (!inputs.Refusal(path).empty())
            continue;
        // Only the workbook's own name is worth a question.
        if (IsOwnWorkbook(path, exportPath) ||
            (target.m_nNumber == 1 && mayReplace && mayReplace(path)))
        {
            target.m_bReplace = true;
            break;
        }
    }
    return target;
}

bool CExportWorkbook::Write(const std::string& exportPath, bool summary)
{
    return Write(exportPath, summary, ChooseTarget(exportPath, CExportInputs(), {}));
}

bool CExportWorkbook::Write(const std::string& exportPath, bool summary,
                            const CWorkbookTarget& target)
{
    m_strPath = target.Path();
    m_strError.clear();
    auto fail = [this](const std::string& reason)
    {
        m_strError = "Die Arbeitsmappe " + m_strPath + " konnte nicht erstellt werden: " + reason;
        return false;
    };

    std::ifstream in(exportPath, std::ios::binary);
    struct stat exportFile;
    if (!in || stat(exportPath.c_str(), &exportFile) != 0)
        return fail(exportPath + ": " + std::strerror(errno));

    // Written under a name of its own beside the target and renamed at the
    // end, so that a failure never leaves half a workbook behind.
    std::string temporary = m_strPath + ".XXXXXX";
    const int fd = mkstemp(temporary.data());
    if (fd < 0)
        return fail(std::strerror(errno));
    // The workbook gets the permissions any new file of the user gets.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    close(fd);
    struct TemporaryRemover
    {
        const std::string& path;
        bool keep = false;
        ~TemporaryRemover()
        {
            if (!keep)
                std::remove(path.c_str());
        }
    } remover{temporary};

    // Rows go to the file as they are written: a series may have a million.
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    std::unique_ptr<lxw_workbook, WorkbookDiscarder> workbook(
        workbook_new_opt(temporary.c_str(), &options));
    if (!workbook ||
        workbook_set_custom_property_string(workbook.get(), kMarkerName,
                                            ExportStamp(exportFile).c_str()) != LXW_NO_ERROR)
        return fail("libxlsxwriter");
    const std::string sheetName = SheetNameFor(exportPath);
    // The chart sheet goes in front of the data, as the automation put it.
    lxw_chartsheet* chartSheet = workbook_add_chartsheet(workbook.get(), kChartSheetName);
    lxw_worksheet* sheet = workbook_add_worksheet(workbook.get(), sheetName.c_str());
    lxw_format* dateTimeFormat = workbook_add_format(workbook.get());
    lxw_format* dateFormat = workbook_add_format(workbook.get());
    if (!chartSheet || !sheet || !dateTimeFormat || !dateFormat)
        return fail("libxlsxwriter");
    format_set_num_format(dateTimeFormat, kDateTimeFormat);
    format_set_num_format(dateFormat, kDateFormat);

    std::array<size_t, 2> widths{};
    std::string firstCell;
    bool header = false;
    lxw_row_t rows = 0;
    std::string line;
    while (std::getline(in, line))
    {
        if (line.ends_with('\r'))
            line.pop_back();
        if (rows == LXW_ROW_MAX)
            return fail("mehr als " + std::to_string(LXW_ROW_MAX) + " Zeilen");
        std::string_view rest = line;
        for (lxw_col_t column = 0;; ++column)
        {
            const size_t tab = rest.find('\t');
            const std::string_view text = rest.substr(0, tab);
            if (column == LXW_COL_MAX)
                return fail("mehr als " + std::to_string(LXW_COL_MAX) + " Spalten");
            CField field = ClassifyField(text);
            if (rows == 0 && column == 0)
            {
                firstCell = WorkbookText(text);
                // A file whose first line is not a reading has a header line.
                header = field.kind != CField::DateTime && field.kind != CField::Date;
            }
            if (rows == 0 && header && field.kind != CField::Empty)
                field.kind = CField::Text;

            lxw_error error = LXW_NO_ERROR;
            switch (field.kind)
            {
            case CField::Empty:
                break;
            case CField::DateTime:
                error =
                    worksheet_write_datetime(sheet, rows, column, &field.dateTime, dateTimeFormat);
                break;
            case CField::Date:
                error = worksheet_write_datetime(sheet, rows, column, &field.dateTime, dateFormat);
                break;
            case CField::Number:
                error = worksheet_write_number(sheet, rows, column, field.number, nullptr);
                break;
            case CField::Text:
                error = worksheet_write_string(sheet, rows, column, WorkbookText(text).c_str(),
                                               nullptr);
                break;
            }
            if (error != LXW_NO_ERROR)
                return fail(lxw_strerror(error));
            if (column < widths.size())
                widths[column] = std::max(widths[column], ShownWidth(field, text));
            if (tab == std::string_view::npos)
                break;
            rest.remove_prefix(tab + 1);
        }
        ++rows;
    }
    if (in.bad())
        return fail(exportPath + ": " + std::strerror(errno));

    // Fitted to the widest cell, with a little room as the fitting leaves.
    for (lxw_col_t column = 0; column < widths.size(); ++column)
        if (widths[column] > 0)
            worksheet_set_column(sheet, column, column, static_cast<double>(widths[column]) + 1.5,
                                 nullptr);

    // The chart plots the columns of the used rows; a header line names the
    // series. With nothing below the header, the series stay empty.
    const lxw_row_t first = header ? 1 : 0;
    const lxw_row_t last = std::max<lxw_row_t>(rows, first + 1) - 1;
    lxw_chart* chart =
        workbook_add_chart(workbook.get(), summary ? LXW_CHART_AREA : LXW_CHART_SCATTER_STRAIGHT);
    if (!chart)
        return fail("libxlsxwriter");
    const lxw_col_t lastColumn = summary ? 3 : 1;
    for (lxw_col_t column = 1; column <= lastColumn; ++column)
    {
        lxw_chart_series* series = chart_add_series(chart, nullptr, nullptr);
        if (!series)
            return fail("libxlsxwriter");
        chart_series_set_categories(series, sheetName.c_str(), first, 0, last, 0);
        chart_series_set_values(series, sheetName.c_str(), first, column, last, column);
        if (header)
            chart_series_set_name_range(series, sheetName.c_str(), 0, column);
        if (!summary)
            chart_series_set_marker_type(series, LXW_CHART_MARKER_NONE);
        else
        {
            // Areas hide what is drawn before them, and programs draw them in
            // different orders: each is partly transparent with an outline.
            const lxw_color_t color = kAreaColors[column - 1];
            lxw_chart_fill fill{color, LXW_FALSE, kAreaTransparency};
            lxw_chart_line line{color, LXW_FALSE, 1.5F, LXW_CHART_LINE_DASH_SOLID, 0};
            chart_series_set_fill(series, &fill);
            chart_series_set_line(series, &line);
        }
    }
    chart_axis_set_num_format(chart->x_axis, summary ? kDateFormat : "yyyy-mm-dd hh:mm");
    if (firstCell.empty())
        chart_title_off(chart);
    else if (firstCell.starts_with('='))
        // A leading "=" would make the text a formula; refer to the cell instead.
        chart_title_set_name_range(chart, sheetName.c_str(), 0, 0);
    else
        chart_title_set_name(chart, firstCell.c_str());
    if (chartsheet_set_chart(chartSheet, chart) != LXW_NO_ERROR)
        return fail("libxlsxwriter");

    const lxw_error closed = workbook_close(workbook.release());
    if (closed != LXW_NO_ERROR)
        return fail(lxw_strerror(closed));
    // The export file's time marks the workbook as unchanged since it was
    // made; any program that writes it later changes that.
    const timespec times[2] = {{0, UTIME_NOW}, exportFile.st_mtim};
    if (utimensat(AT_FDCWD, temporary.c_str(), times, 0) != 0 ||
        !Commit(temporary, target, m_strPath))
        return fail(std::strerror(errno));
    remover.keep = true;
    return true;
}
