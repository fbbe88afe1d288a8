#pragma once
// cbe-inspect: what a CBE archive holds, read with the core's own parsers and
// decoders. The command line (run) is a thin layer over these functions so
// that tests can call either.

#include <filesystem>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "cbe/archive.hpp"
#include "common/bytes.hpp"
#include "common/error.hpp"
#include "common/text_encoding.hpp"

namespace tarvel::inspect {

// An archive as the core loads it, plus the container fields the parser
// checks but does not keep.
struct Inspected {
    std::string path;
    cbe::CbeArchive archive;
    cbe::MainTableSource main_source = cbe::MainTableSource::None;
    u32 header_gap = 0;  // H, the uninterpreted bytes before the segment header
    u32 code_checksum = 0;
    u32 data_checksum = 0;
    u32 embedded_checksum = 0;
};

Result<Inspected> open_archive(const std::string& path);

enum class Kind { Image, Sound, Text, Data };

// What a resource looks like: its kind, a short type label ("image/png",
// "sound/midi", "text/gbk", "data"), and for pictures the decoded size. A
// resource that claims a kind (by its name's extension or its leading bytes)
// but does not decode carries the decoder's error.
struct Classified {
    Kind kind = Kind::Data;
    std::string type = "data";
    u32 width = 0, height = 0;
    TextEncoding text = TextEncoding::Gbk;
    std::optional<Error> error;
};
Classified classify(const cbe::Resource& resource);

// The text of a text resource as UTF-8 (byte-order mark dropped).
std::string resource_text(std::span<const u8> data, TextEncoding encoding);

// The application's name, when a resource carries one: the first line of a
// short text resource named title, name or appname (any extension).
std::optional<std::string> application_name(const cbe::CbeArchive& archive);

std::string info_text(const Inspected& inspected);
std::string info_json(const Inspected& inspected);

// A resource name as a file name that stays inside the folder it is written
// to: no separators, no control characters, no "." or "..", no names the
// common file systems reserve; never empty, at most 200 bytes.
std::string safe_file_name(std::string_view name, std::string_view fallback);

struct ExtractReport {
    std::vector<std::filesystem::path> files;  // everything written, relative to DIR
    std::vector<std::string> failures;         // "<number> <name>: <error>"
};
Result<ExtractReport> extract(const Inspected& inspected, const std::filesystem::path& dir);

struct DisasmOptions {
    std::optional<bool> thumb;  // default: Thumb, the state the machine enters the code in
    std::optional<u32> from;    // guest address; default: the start of the code
    std::optional<u32> count;   // instructions; default: to the end of the code
};
Result<std::string> disassemble(const Inspected& inspected, const DisasmOptions& options);

// The command line: "info APP [--json]", "extract APP DIR", "disasm APP
// [--thumb|--arm] [--from ADDR] [--count N]". Returns the exit status.
int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace tarvel::inspect
