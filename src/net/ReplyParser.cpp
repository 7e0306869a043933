#include "net/ReplyParser.h"

#include <cstdlib>
#include <cstring>
#include <locale.h>
#include <string_view>

namespace
{

constexpr std::string_view kNumericRun = "-,.0123456789 ";
constexpr std::string_view kCandidateRun = "-,.0123456789";
constexpr std::string_view kNoValueRun = "- ";
constexpr std::string_view kNameRun = ".0123456789 ";
constexpr std::string_view kEscapedAmpersand = "&amp;";
constexpr size_t kUnitChars = 4;
constexpr size_t kNameArea = 200;

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Length of the leading run of text made of characters from set. The set
// never holds the NUL, so the run always stops at the end of the line.
size_t RunLength(const char* text, std::string_view set)
{
    size_t n = 0;
    while (text[n] != '\0' && set.find(text[n]) != std::string_view::npos)
        ++n;
    return n;
}

// Length of the field that starts at text: up to its ';' or the line's end.
size_t FieldLength(const char* text)
{
    size_t n = 0;
    while (text[n] != '\0' && text[n] != ';')
        ++n;
    return n;
}

bool IsAddressField(const char* field, size_t length)
{
    int points = 0;
    for (size_t i = 0; i < length; ++i)
    {
        if (field[i] == '.')
            ++points;
        else if (!IsDigit(field[i]))
            return false;
    }
    return points == 3;
}

// Whether the first value field of an addressed reply may start here. Bare
// numbers, whole numbers and single digits are passed over, because devices
// put such fields (serial numbers, counters) between the name and the values.
bool LooksLikeReading(const char* field)
{
    const size_t length = FieldLength(field);
    const size_t run = RunLength(field, kCandidateRun);
    if (run == 0 || run >= length)
        return false;
    if (RunLength(field, "-") >= run)
        return true;
    const char* p = field;
    if (*p == '-')
        ++p;
    int digits = 0;
    int separators = 0;
    for (; IsDigit(*p) || *p == '.' || *p == ','; ++p)
    {
        if (IsDigit(*p))
            ++digits;
        else
            ++separators;
    }
    return digits >= 2 && separators == 1;
}

// The field an addressed reply's walk starts with, or nullptr.
char* FindFirstReading(char* line, size_t addressLength)
{
    if (line[addressLength] != ';')
        return nullptr;
    char* name = line + addressLength + 1;
    const size_t nameLength = FieldLength(name);
    if (name[nameLength] != ';')
        return nullptr;
    for (char* field = name + nameLength + 1;; ++field)
    {
        if (LooksLikeReading(field))
            return field;
        field += FieldLength(field);
        if (*field != ';')
            return nullptr;
    }
}

// Decimal conversion as the C library does it in the "C" locale, whatever
// locale the process runs in. Only the decimal form is read: "0x1A" gives 0.
double ConvertDecimal(const char* text)
{
    const char* p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
        ++p;
    const bool negative = *p == '-';
    if (*p == '+' || *p == '-')
        ++p;
    if (!IsDigit(*p) && !(*p == '.' && IsDigit(p[1])))
        return 0.0;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X'))
        return negative ? -0.0 : 0.0;
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t{});
    return strtod_l(text, nullptr, cLocale);
}

} // namespace

int ParseNextValue(char* line, float* value, int* valid, char* unit, char** next)
{
    if (line == nullptr || *line == '\0')
        return 0;

    char* field = line;
    const size_t firstLength = FieldLength(line);
    if (IsAddressField(line, firstLength))
    {
        field = FindFirstReading(line, firstLength);
        if (field == nullptr)
            return 0;
    }

    const size_t length = FieldLength(field);
    const size_t numeric = RunLength(field, kNumericRun);
    const size_t noValue = RunLength(field, kNoValueRun);

    size_t unitLength = length > numeric ? length - numeric : 0;
    if (unitLength > kUnitChars)
        unitLength = kUnitChars;
    std::memcpy(unit, field + numeric, unitLength);
    unit[unitLength] = '\0';

    if (noValue == numeric)
    {
        *value = 0.0f;
        *valid = 0;
    }
    else
    {
        if (char* comma = std::strchr(field, ','))
            *comma = '.';
        *value = static_cast<float>(ConvertDecimal(field));
        *valid = 1;
    }

    char* semicolon = std::strchr(field, ';');
    *next = semicolon != nullptr ? semicolon + 1 : nullptr;
    return 1;
}

const char* ParseDeviceName(const char* line)
{
    static char name[kNameArea];
    std::memset(name, 0, sizeof name);
    if (line == nullptr)
        return name;

    const size_t run = RunLength(line, kNameRun);
    if (line[run] != ';')
        return name;

    // A ';' ends the name, and decoding never produces one, so copying can
    // stop at the first ';' of the source.
    const char* source = line + run + 1;
    size_t written = 0;
    while (written < kNameArea - 1 && *source != '\0' && *source != ';')
    {
        name[written++] = *source;
        if (std::strncmp(source, kEscapedAmpersand.data(), kEscapedAmpersand.size()) == 0)
            source += kEscapedAmpersand.size();
        else
            ++source;
    }
    return name;
}
