#include "varion-sim/ReplyTemplate.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace
{

constexpr std::string_view kDrift = "{drift:";
constexpr std::string_view kCount = "{count}";

bool ParseNumber(std::string_view text, double& value)
{
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && ec == std::errc() && end == text.data() + text.size() &&
           std::isfinite(value);
}

} // namespace

CReplyTemplate::Piece& CReplyTemplate::TextPiece()
{
    if (m_pieces.empty() || m_pieces.back().kind != Piece::Kind::Text)
        m_pieces.emplace_back();
    return m_pieces.back();
}

bool CReplyTemplate::Parse(std::string_view text, std::string& error)
{
    m_pieces.clear();
    size_t i = 0;
    while (i < text.size())
    {
        const char c = text[i];
        if (c == '\\')
        {
            if (i + 1 >= text.size())
            {
                error = "the reply ends with a lone '\\'";
                return false;
            }
            const char e = text[i + 1];
            if (e == 'x')
            {
                // Exactly two digits: from_chars takes no sign, blank or 0x here.
                const std::string_view digits = text.substr(i + 2, 2);
                const char* last = digits.data() + digits.size();
                unsigned byte = 0;
                const auto [end, failure] = std::from_chars(digits.data(), last, byte, 16);
                if (digits.size() != 2 || failure != std::errc() || end != last)
                {
                    error = "'\\x' needs two hex digits";
                    return false;
                }
                TextPiece().text += static_cast<char>(byte);
                i += 4;
                continue;
            }
            char resolved;
            switch (e)
            {
            case 'r':
                resolved = '\r';
                break;
            case 'n':
                resolved = '\n';
                break;
            case 't':
                resolved = '\t';
                break;
            case '\\':
                resolved = '\\';
                break;
            default:
                error = std::string("unknown escape '\\") + e + "' (use \\r \\n \\t \\\\ \\xHH)";
                return false;
            }
            TextPiece().text += resolved;
            i += 2;
        }
        else if (text.substr(i).starts_with(kCount))
        {
            m_pieces.push_back({Piece::Kind::Count, {}, 0, 0});
            i += kCount.size();
        }
        else if (text.substr(i).starts_with(kDrift))
        {
            const size_t close = text.find('}', i);
            const std::string_view inner =
                close == std::string_view::npos
                    ? std::string_view()
                    : text.substr(i + kDrift.size(), close - i - kDrift.size());
            const size_t colon = inner.find(':');
            Piece drift{Piece::Kind::Drift, {}, 0, 0};
            if (close == std::string_view::npos || colon == std::string_view::npos ||
                !ParseNumber(inner.substr(0, colon), drift.start) ||
                !ParseNumber(inner.substr(colon + 1), drift.step))
            {
                error = "a drift placeholder reads {drift:START:STEP} with two numbers";
                return false;
            }
            m_pieces.push_back(std::move(drift));
            i = close + 1;
        }
        else
        {
            TextPiece().text += c;
            ++i;
        }
    }
    return true;
}

std::string CReplyTemplate::Render(std::uint64_t poll) const
{
    std::string out;
    for (const Piece& piece : m_pieces)
    {
        switch (piece.kind)
        {
        case Piece::Kind::Text:
            out += piece.text;
            break;
        case Piece::Kind::Count:
            out += std::to_string(poll);
            break;
        case Piece::Kind::Drift:
        {
            // Room for the widest double in "%.1f".
            char number[400];
            const int n = std::snprintf(number, sizeof number, "%.1f",
                                        piece.start + piece.step * static_cast<double>(poll));
            out.append(number, n > 0 && n < static_cast<int>(sizeof number) ? n : 0);
            break;
        }
        }
    }
    return out;
}
