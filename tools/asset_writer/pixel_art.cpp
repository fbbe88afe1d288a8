#include <array>
#include <charconv>
#include <optional>

#include "asset_writer.hpp"

namespace tarvel::assets {
namespace {


std::optional<u32> parse_number(std::string_view word, int base) {
    u32 value = 0;
    auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), value, base);
    if (ec != std::errc() || end != word.data() + word.size() || word.empty()) return std::nullopt;
    return value;
}

}  // namespace

Result<IndexedPicture> parse_pixel_art(std::string_view text) {
    IndexedPicture picture;
    std::array<int, 256> index_of{};
    index_of.fill(-1);
    bool in_rows = false;
    u32 rows_read = 0;
    size_t line_number = 0;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        ++line_number;
        line = trim_blanks(line);
        if (line.empty() || (!in_rows && line.front() == '#')) continue;
        if (in_rows) {
            if (rows_read == picture.height)
                return Error::format("line {}: more than {} rows", line_number, picture.height);
            if (line.size() != picture.width)
                return Error::format("line {}: a row of {} pixels where {} are declared", line_number,
                                     line.size(), picture.width);
            for (char c : line) {
                const int index = index_of[static_cast<u8>(c)];
                if (index < 0) return Error::format("line {}: the pixel '{}' has no color", line_number, c);
                picture.indices.push_back(static_cast<u8>(index));
            }
            ++rows_read;
            continue;
        }
        const std::string_view keyword = next_word(line);
        if (keyword == "size") {
            const auto w = parse_number(next_word(line), 10), h = parse_number(next_word(line), 10);
            if (!w || !h || *w == 0 || *h == 0 || *w > 4096 || *h > 4096 || !trim_blanks(line).empty())
                return Error::format("line {}: size needs a width and a height of 1 to 4096", line_number);
            picture.width = *w;
            picture.height = *h;
        } else if (keyword == "color") {
            const std::string_view key = next_word(line), value = next_word(line);
            if (key.size() != 1 || value.empty() || !trim_blanks(line).empty())
                return Error::format("line {}: color needs one character and a value", line_number);
            if (index_of[static_cast<u8>(key[0])] >= 0)
                return Error::format("line {}: the color '{}' is declared twice", line_number, key);
            if (picture.palette.size() == 256 * 3)
                return Error::format("line {}: more than 256 colors", line_number);
            const int index = static_cast<int>(picture.palette.size() / 3);
            if (value == "none") {
                if (picture.transparent >= 0)
                    return Error::format("line {}: a second transparent color", line_number);
                picture.transparent = index;
                picture.palette.insert(picture.palette.end(), {0, 0, 0});
            } else {
                const auto rgb = parse_number(value, 16);
                if (!rgb || value.size() != 6)
                    return Error::format("line {}: the color {} is not six hexadecimal digits", line_number, value);
                picture.palette.insert(picture.palette.end(), {static_cast<u8>(*rgb >> 16),
                                                               static_cast<u8>(*rgb >> 8), static_cast<u8>(*rgb)});
            }
            index_of[static_cast<u8>(key[0])] = index;
        } else if (keyword == "rows") {
            if (picture.width == 0) return Error::format("line {}: rows before size", line_number);
            if (picture.palette.empty()) return Error::format("line {}: rows before any color", line_number);
            in_rows = true;
        } else {
            return Error::format("line {}: unknown keyword {}", line_number, keyword);
        }
    }
    if (!in_rows || rows_read != picture.height)
        return Error::format("the picture has {} of its {} rows", rows_read, picture.height);
    return picture;
}

std::string_view trim_blanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

std::string_view next_word(std::string_view& line) {
    line = trim_blanks(line);
    size_t end = 0;
    while (end < line.size() && line[end] != ' ' && line[end] != '\t') ++end;
    std::string_view word = line.substr(0, end);
    line.remove_prefix(end);
    return word;
}

}  // namespace tarvel::assets
