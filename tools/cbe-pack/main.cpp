// cbe-pack: packs a linked guest program and a folder of resources into a
// .cbe file, then reads the file back with the core's own parser to make
// sure the machine will load it as intended.

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include <fmt/format.h>

#include "cbe/archive.hpp"
#include "common/file_io.hpp"
#include "common/log.hpp"
#include "elf_image.hpp"
#include "packer.hpp"
#include "program_layout.hpp"
#include "resource_header.hpp"

namespace {

using namespace tarvel;
using namespace tarvel::pack;

constexpr const char* kUsage = R"(usage: cbe-pack --elf PROGRAM.elf --output APP.cbe [options]
       cbe-pack --resources DIR --header FILE [--form ...]   (header only)

  --resources DIR        files in DIR become resources; each sub-folder of DIR
                         becomes a named package (with --form directory)
  --form auto|single|directory
                         resource package form (auto: directory when DIR has
                         sub-folders, else a single package)
  --load-address auto|0|explicit|ADDRESS
                         header load address: 0 needs the program linked at
                         0x01000000; explicit (or the link address itself)
                         names the base (auto: 0 when linked at 0x01000000)
  --native               native layout (big-endian programs with an explicit
                         load address): code and data in one segment, entry
                         registered through the system entry
  --embedded FILE        bytes of the embedded package segment
  --header FILE          write a C header with the resource numbers
  --list                 print the resource table
)";

struct Args {
    std::string elf, output, resources, embedded, header;
    LayoutOptions layout;
    PackOptions pack;
    bool list = false;
};

Result<u32> parse_number(const std::string& text) {
    size_t used = 0;
    unsigned long long v = 0;
    try {
        v = std::stoull(text, &used, 0);
    } catch (...) {
        used = 0;
    }
    if (used != text.size() || text.empty() || v > 0xFFFFFFFFull) {
        return Error::format("'{}' is not a 32-bit number", text);
    }
    return static_cast<u32>(v);
}

Result<Args> parse_args(int argc, char** argv, u32* required_base) {
    Args a;
    for (int i = 1; i < argc; ++i) {
        const std::string_view opt = argv[i];
        auto value = [&]() -> Result<std::string> {
            if (i + 1 >= argc) return Error::format("option {} needs a value", opt);
            return std::string(argv[++i]);
        };
        if (opt == "--elf") {
            TARVEL_TRY_ASSIGN(a.elf, value());
        } else if (opt == "--output" || opt == "-o") {
            TARVEL_TRY_ASSIGN(a.output, value());
        } else if (opt == "--resources") {
            TARVEL_TRY_ASSIGN(a.resources, value());
        } else if (opt == "--embedded") {
            TARVEL_TRY_ASSIGN(a.embedded, value());
        } else if (opt == "--header") {
            TARVEL_TRY_ASSIGN(a.header, value());
        } else if (opt == "--form") {
            TARVEL_TRY_ASSIGN(std::string v, value());
            if (v == "auto") a.pack.form = PackageForm::Auto;
            else if (v == "single") a.pack.form = PackageForm::Single;
            else if (v == "directory") a.pack.form = PackageForm::Directory;
            else return Error::format("unknown package form '{}'", v);
        } else if (opt == "--load-address") {
            TARVEL_TRY_ASSIGN(std::string v, value());
            if (v == "auto") {
                a.layout.load_address = LoadAddressMode::Auto;
            } else if (v == "explicit") {
                a.layout.load_address = LoadAddressMode::Explicit;
            } else {
                TARVEL_TRY_ASSIGN(u32 n, parse_number(v));
                a.layout.load_address = n == 0 ? LoadAddressMode::Zero : LoadAddressMode::Explicit;
                if (n != 0) *required_base = n;
            }
        } else if (opt == "--native") {
            a.layout.native = true;
        } else if (opt == "--list") {
            a.list = true;
        } else if (opt == "--help" || opt == "-h") {
            return Error("help");
        } else {
            return Error::format("unknown option '{}'", opt);
        }
    }
    // With only --resources and --header the header is written alone, so
    // that a build can generate it before compiling the program.
    const bool header_only = a.elf.empty() && a.output.empty() && !a.header.empty();
    if (!header_only && (a.elf.empty() || a.output.empty())) return Error("--elf and --output are required");
    return a;
}

// Leaves an unchanged file alone so that what includes it is not rebuilt.
Status write_text_if_changed(const std::string& path, const std::string& text) {
    auto old = read_whole_file(path);
    if (old.ok() && std::equal(old->begin(), old->end(), text.begin(), text.end())) return {};
    return write_whole_file(path, std::vector<u8>(text.begin(), text.end()));

}

// Reads the archive back as the machine will and checks what matters.
Status verify(const std::vector<u8>& bytes, const ProgramLayout& program, const ResourcePackage& resources) {
    auto archive = cbe::parse_archive(bytes);
    if (!archive.ok()) return std::move(archive).error().context("the packed file does not parse");
    const cbe::CbeExecutable& x = archive->executable;
    if (x.big_endian != (program.big_endian ? 1 : 0)) return Error("the packed file reads in the wrong byte order");
    if (x.load_address != program.load_address || x.data_offset != program.data_offset) {
        return Error("the packed file's header does not read back");
    }
    if (archive->resources.main_table.size() != resources.main_names.size()) {
        return Error::format("the packed file lists {} resources instead of {}",
                             archive->resources.main_table.size(), resources.main_names.size());
    }
    if (archive->resources.named_packages.size() != resources.named_packages.size()) {
        return Error("the packed file's named packages do not read back");
    }
    return {};
}

Status run(int argc, char** argv) {
    u32 required_base = 0;
    TARVEL_TRY_ASSIGN(Args args, parse_args(argc, argv, &required_base));
    if (args.elf.empty()) {
        ResourceSet set;
        if (!args.resources.empty()) {
            TARVEL_TRY_ASSIGN(set, read_resource_folder(args.resources));
        }
        TARVEL_TRY_ASSIGN(ResourcePackage resources, encode_resources(set, args.pack.form));
        return write_text_if_changed(args.header, resource_header(resources));
    }
    TARVEL_TRY_ASSIGN(ElfImage elf, load_elf(args.elf));
    TARVEL_TRY_ASSIGN(ProgramLayout program, layout_program(elf, args.layout));
    if (required_base != 0 && program.base != required_base) {
        return Error::format("the load address 0x{:08x} differs from the program's base 0x{:08x}", required_base,
                             program.base);
    }
    ResourceSet set;
    if (!args.resources.empty()) {
        TARVEL_TRY_ASSIGN(set, read_resource_folder(args.resources));
    }
    if (!args.embedded.empty()) {
        auto embedded = read_whole_file(args.embedded);
        if (!embedded.ok()) return std::move(embedded).error().context("Failed to read {}", args.embedded);
        args.pack.embedded = std::move(*embedded);
    }
    TARVEL_TRY_ASSIGN(ResourcePackage resources, encode_resources(set, args.pack.form));
    TARVEL_TRY_ASSIGN(std::vector<u8> bytes, pack_cbe(program, resources, args.pack));
    TARVEL_TRY(verify(bytes, program, resources));
    if (Status written = write_whole_file(args.output, bytes); !written.ok())
        return std::move(written).error().context("Failed to write {}", args.output);
    if (!args.header.empty()) {
        TARVEL_TRY(write_text_if_changed(args.header, resource_header(resources)));
    }
    if (args.list) {
        for (size_t i = 0; i < resources.main_names.size(); ++i) fmt::print("{:5} {}\n", i, resources.main_names[i]);
        for (const std::string& name : resources.named_packages) fmt::print("package {}\n", name);
    }
    return {};
}

}  // namespace

int main(int argc, char** argv) {
    // The read-back check parses quietly; only problems are worth a line.
    tarvel::log::set_filter(tarvel::log::Level::Warn);
    Status status = run(argc, argv);
    if (!status.ok()) {
        if (status.error().message() == "help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        fmt::print(stderr, "cbe-pack: {}\n", status.error().to_string());
        if (status.error().message().find("required") != std::string::npos ||
            status.error().message().find("option") != std::string::npos) {
            std::fputs(kUsage, stderr);
        }
        return 1;
    }
    return 0;
}
