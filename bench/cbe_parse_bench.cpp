// Parsing a 4 MB CBE file whose code segment sits behind a 64 KB run of 0xFE
// bytes: every start inside the run is a candidate for the code checksum.

#include <benchmark/benchmark.h>

#include <random>

#include "cbe/archive.hpp"
#include "cbe_writer/cbe_writer.hpp"
#include "common/log.hpp"

namespace {

using namespace tarvel;

std::vector<u8> long_separator_file() {
    std::mt19937 rng(42);
    cbe_writer::CbeBuilder b;
    b.load_address = 0x01000000;
    b.code.resize(4 * 1024 * 1024 - 80 * 1024);
    for (auto& byte : b.code) byte = static_cast<u8>(rng() % 0xFE);
    b.init_data.assign(4096, 0x11);
    b.embedded.assign(1024, 0x22);
    cbe_writer::SinglePackageSpec resources;
    for (int i = 0; i < 64; ++i) {
        resources.package.resources.push_back(cbe_writer::resource("res" + std::to_string(i) + ".png",
                                                                   std::vector<u8>(128, static_cast<u8>(i))));
    }
    b.resource_package = cbe_writer::encode_single_package(resources);
    b.separators[0] = 64 * 1024;
    return b.build();
}

void discard(log::Level, std::string_view, std::string_view) {}

void BM_CbeParseExecutable(benchmark::State& state) {
    const std::vector<u8> file = long_separator_file();
    for (auto _ : state) {
        auto exe = cbe::parse_executable(file);
        if (!exe.ok()) state.SkipWithError(exe.error().to_string().c_str());
        benchmark::DoNotOptimize(exe);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * file.size()));
}
BENCHMARK(BM_CbeParseExecutable)->Unit(benchmark::kMillisecond);

// The whole load path: container, archive scan and resource collections.
void BM_CbeParseArchive(benchmark::State& state) {
    const std::vector<u8> file = long_separator_file();
    log::set_sink(&discard);
    for (auto _ : state) {
        auto archive = cbe::parse_archive(file);
        if (!archive.ok()) state.SkipWithError(archive.error().to_string().c_str());
        benchmark::DoNotOptimize(archive);
    }
    log::set_sink(nullptr);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * file.size()));
}
BENCHMARK(BM_CbeParseArchive)->Unit(benchmark::kMillisecond);

}  // namespace
