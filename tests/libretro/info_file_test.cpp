// The info file frontends read beside the core to list it before loading it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "common/utf8.hpp"

namespace tarvel::test {
namespace {

// Parses `key = "value"` lines; every other non-blank, non-comment line is
// reported as malformed.
std::map<std::string, std::string> read_info(const std::string& path, std::vector<std::string>& malformed) {
    std::map<std::string, std::string> fields;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        auto eq = line.find(" = \"");
        if (eq == std::string::npos || line.back() != '"' || line.size() < eq + 5) {
            malformed.push_back(line);
            continue;
        }
        fields[line.substr(0, eq)] = line.substr(eq + 4, line.size() - eq - 5);
    }
    return fields;
}

TEST(InfoFile, DescribesTheCoreAsItReportsItself) {
    std::vector<std::string> malformed;
    auto fields = read_info(TARVEL_INFO_FILE, malformed);
    ASSERT_FALSE(fields.empty()) << "cannot read " << TARVEL_INFO_FILE;
    EXPECT_THAT(malformed, ::testing::IsEmpty());
    EXPECT_EQ(fields["corename"], "Tarvel");
    EXPECT_EQ(fields["display_version"], "0.1.0");
    EXPECT_EQ(fields["supported_extensions"], "cbe");
    EXPECT_EQ(fields["savestate"], "true");
    EXPECT_EQ(fields["needs_fullpath"], "true");
    EXPECT_EQ(fields["supports_no_game"], "false");
    EXPECT_EQ(fields["core_options"], "true");
    EXPECT_EQ(fields["core_options_version"], "2.0") << "the core offers categories and descriptions";
    for (const char* key : {"display_name", "authors", "description", "systemname", "license", "categories"})
        EXPECT_FALSE(fields[key].empty()) << key;
    for (const auto& [key, value] : fields) EXPECT_TRUE(utf8::is_valid(value)) << key;
}

}  // namespace
}  // namespace tarvel::test
