#pragma once
// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes away.

#include <string>
#include <string_view>
#include <vector>

#include <cstdint>

namespace tarvel::test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // Writes `bytes` to `name` inside the directory and returns the full path.
    std::string write(const std::string& name, const std::vector<uint8_t>& bytes) const;
    std::string write(const std::string& name, std::string_view text) const;

private:
    std::string path_;
};

}  // namespace tarvel::test
