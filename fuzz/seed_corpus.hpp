#pragma once
// Seeds an empty corpus folder with inputs made in code, so that no binary
// files live in the tree and a fuzzer starts past the format signatures.

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "common/bytes.hpp"

namespace tarvel::fuzz {

// Writes `seeds` as seed0, seed1, ... into the first folder named on the
// fuzzer's command line, when that folder exists and is still empty.
inline void write_seed_corpus(int argc, char** argv, const std::vector<std::vector<u8>>& seeds) {
    for (int i = 1; i < argc; ++i) {
        if (argv[i][0] == '-') continue;
        const std::filesystem::path dir = argv[i];
        std::error_code ec;
        if (!std::filesystem::is_directory(dir, ec) || !std::filesystem::is_empty(dir, ec)) return;
        for (size_t n = 0; n < seeds.size(); ++n) {
            const std::string name = (dir / ("seed" + std::to_string(n))).string();
            if (FILE* f = std::fopen(name.c_str(), "wb")) {
                std::fwrite(seeds[n].data(), 1, seeds[n].size(), f);
                std::fclose(f);
            }
        }
        return;
    }
}

}  // namespace tarvel::fuzz
