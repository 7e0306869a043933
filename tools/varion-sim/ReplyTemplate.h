#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// A device's reply with its escapes resolved and its per-poll placeholders
// kept apart, so that every poll renders its own bytes.
class CReplyTemplate
{
public:
    // Resolves \r \n \t \\ \xHH and the placeholders {drift:START:STEP} and
    // {count}; any other '{' stays as it is. On failure returns false and
    // says why in error.
    bool Parse(std::string_view text, std::string& error);
    // The reply of the device's poll number poll, counting from 0.
    std::string Render(std::uint64_t poll) const;

private:
    struct Piece
    {
        enum class Kind
        {
            Text,
            Drift,
            Count
        };
        Kind kind = Kind::Text;
        std::string text;
        double start = 0;
        double step = 0;
    };

    Piece& TextPiece();

    std::vector<Piece> m_pieces;
};
