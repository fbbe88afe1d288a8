#include "libretro/orientation_profile.hpp"

#include <array>
#include <charconv>
#include <cstdint>
#include <mutex>
#include <shared_mutex>
#include <utility>

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include "common/crc32.hpp"
#include "common/file_io.hpp"
#include "common/utf8.hpp"

namespace tarvel {

namespace {

constexpr std::array<ProfileEntry, 17> kBuiltinLandscape = {{
    {341737, 0xEE5A53AC, Orientation::Landscape},
    {728876, 0x7A5C0A30, Orientation::Landscape},
    {961146, 0x50528857, Orientation::Landscape},
    {958874, 0x9C5E0674, Orientation::Landscape},
    {611925, 0x52DAD535, Orientation::Landscape},
    {606493, 0xF3283516, Orientation::Landscape},
    {396952, 0x7BCDA1EB, Orientation::Landscape},
    {910806, 0x4A849388, Orientation::Landscape},
    {539016, 0x701C7D4B, Orientation::Landscape},
    {1413319, 0x5F320C34, Orientation::Landscape},
    {1292332, 0x8EDDE44F, Orientation::Landscape},
    {1143317, 0x282FE73D, Orientation::Landscape},
    {400101, 0xC6488351, Orientation::Landscape},
    {734986, 0xBC3CD75C, Orientation::Landscape},
    {1074317, 0x2CB6103B, Orientation::Landscape},
    {1016330, 0x145C46B4, Orientation::Landscape},
    {319424, 0x5E8B5904, Orientation::Landscape},
}};

struct UserProfile {
    std::shared_mutex lock;
    std::vector<ProfileEntry> entries;
};

UserProfile& user_profile() {
    static UserProfile profile;
    return profile;
}

// Unsigned number in `base`: an optional leading "+", then at least one digit
// and nothing else; values that do not fit fail.
template <typename T>
bool parse_unsigned(std::string_view text, int base, T& out) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return false;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, out, base);
    return ec == std::errc() && ptr == end;
}

Result<ProfileEntry> parse_line(std::string_view line, size_t line_number) {
    std::array<std::string_view, 3> fields;
    size_t count = 0;
    size_t start = 0;
    while (true) {
        size_t comma = line.find(',', start);
        std::string_view field = line.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
        if (count < fields.size()) fields[count] = field;
        ++count;
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    if (count != 3) {
        return Error::format("line {}: expected `crc32,length,orientation`, found {}", line_number, line);
    }

    // Fields are taken as written: a space after a comma makes the field invalid.
    std::string_view crc_text = fields[0];
    if (crc_text.starts_with("0x") || crc_text.starts_with("0X")) crc_text.remove_prefix(2);
    ProfileEntry entry;
    if (!parse_unsigned(crc_text, 16, entry.crc32)) {
        return Error("crc32 must be a hex number").context("line {}: invalid crc32", line_number);
    }
    if (!parse_unsigned(fields[1], 10, entry.length)) {
        return Error::format("line {}: invalid length", line_number);
    }
    if (fields[2] == "portrait") {
        entry.orientation = Orientation::Portrait;
    } else if (fields[2] == "landscape") {
        entry.orientation = Orientation::Landscape;
    } else {
        return Error::format("line {}: unknown orientation {} (use landscape or portrait)", line_number, fields[2]);
    }
    return entry;
}

// Drops leading and trailing characters with the Unicode White_Space property,
// so a carriage return left by Windows line ends goes too.
std::string_view trim_unicode_whitespace(std::string_view text) {
    const uint8_t* s = reinterpret_cast<const uint8_t*>(text.data());
    size_t begin = 0;
    size_t end = text.size();
    // Decodes one code point in a window of at most four bytes, so offsets
    // stay small whatever the length of the text.
    auto decode = [s](size_t at, size_t limit, int32_t& used) {
        const int32_t window = static_cast<int32_t>(limit - at < 4 ? limit - at : 4);
        used = 0;
        UChar32 c;
        U8_NEXT(s + at, used, window, c);
        return c;
    };
    while (begin < end) {
        int32_t used;
        UChar32 c = decode(begin, end, used);
        if (c < 0 || !u_isUWhiteSpace(c)) break;
        begin += static_cast<size_t>(used);
    }
    while (end > begin) {
        size_t lead = end - 1;
        while (lead > begin && end - lead < 4 && (s[lead] & 0xC0) == 0x80) --lead;
        int32_t used;
        UChar32 c = decode(lead, end, used);
        if (c < 0 || lead + static_cast<size_t>(used) != end || !u_isUWhiteSpace(c)) break;
        end = lead;
    }
    return text.substr(begin, end - begin);
}

Result<std::string> read_text_file(const std::string& path) {
    TARVEL_TRY_ASSIGN(std::vector<u8> bytes, read_whole_file(path));
    std::string text(bytes.begin(), bytes.end());
    if (auto bad = utf8::validate(text)) return Error::format("file is not valid UTF-8 text ({})", bad->describe());
    return text;
}

}  // namespace

Result<std::vector<ProfileEntry>> parse_orientation_profile(std::string_view text) {
    std::vector<ProfileEntry> entries;
    size_t line_number = 0;
    size_t start = 0;
    while (start <= text.size()) {
        size_t newline = text.find('\n', start);
        size_t stop = newline == std::string_view::npos ? text.size() : newline;
        ++line_number;
        std::string_view line = trim_unicode_whitespace(text.substr(start, stop - start));
        if (!line.empty() && line.front() != '#') {
            TARVEL_TRY_ASSIGN(ProfileEntry entry, parse_line(line, line_number));
            entries.push_back(entry);
        }
        if (newline == std::string_view::npos) break;
        start = newline + 1;
    }
    return entries;
}

Result<size_t> load_user_orientation_profile(const std::string& path) {
    auto text = read_text_file(path);
    if (!text) return std::move(text).error().context("failed to read orientation profile {}", path);
    auto entries = parse_orientation_profile(*text);
    if (!entries) return std::move(entries).error().context("invalid orientation profile {}", path);
    size_t count = entries->size();
    replace_user_orientation_profile(std::move(entries).value());
    return count;
}

void replace_user_orientation_profile(std::vector<ProfileEntry> entries) {
    UserProfile& profile = user_profile();
    std::unique_lock guard(profile.lock);
    profile.entries = std::move(entries);
}

std::vector<ProfileEntry> user_orientation_profile() {
    UserProfile& profile = user_profile();
    std::shared_lock guard(profile.lock);
    return profile.entries;
}

std::span<const ProfileEntry> builtin_landscape_table() { return kBuiltinLandscape; }

const ProfileEntry* find_profile_entry(std::span<const ProfileEntry> entries, u64 length, u32 crc) {
    for (const ProfileEntry& entry : entries) {
        if (entry.length == length && entry.crc32 == crc) return &entry;
    }
    return nullptr;
}

Orientation lookup_orientation(u64 length, u32 crc) {
    {
        UserProfile& profile = user_profile();
        std::shared_lock guard(profile.lock);
        if (const ProfileEntry* entry = find_profile_entry(profile.entries, length, crc)) return entry->orientation;
    }
    if (find_profile_entry(kBuiltinLandscape, length, crc)) return Orientation::Landscape;
    return Orientation::Portrait;
}

Orientation lookup_orientation(std::span<const u8> file_bytes) {
    return lookup_orientation(file_bytes.size(), crc32_of(file_bytes));
}

}  // namespace tarvel
