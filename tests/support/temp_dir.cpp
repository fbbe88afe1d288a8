#include "support/temp_dir.hpp"

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace tarvel::test {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tarvel-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::write(const std::string& name, const std::vector<uint8_t>& bytes) const {
    std::string full = path_ + "/" + name;
    std::ofstream out(full, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return full;
}

std::string TempDir::write(const std::string& name, std::string_view text) const {
    return write(name, std::vector<uint8_t>(text.begin(), text.end()));
}

}  // namespace tarvel::test
