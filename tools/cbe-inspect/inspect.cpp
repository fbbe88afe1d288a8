// Opening an archive, telling what its resources are, and the info report.

#include "inspect.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <nlohmann/json.hpp>
#include <ostream>

#include "machine/machine.hpp"
#include "media/audio/formats.hpp"
#include "media/image/formats.hpp"
#include "media/image/image_decoder.hpp"

namespace tarvel::inspect {

namespace {

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string extension(std::string_view name) {
    const auto dot = name.rfind('.');
    return dot == std::string_view::npos ? std::string() : lower(name.substr(dot + 1));
}

bool one_of(const std::string& s, std::initializer_list<const char*> list) {
    return std::any_of(list.begin(), list.end(), [&](const char* x) { return s == x; });
}

bool starts_with(std::span<const u8> data, std::initializer_list<u8> prefix) {
    return data.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), data.begin());
}

const char* source_label(cbe::MainTableSource source) {
    switch (source) {
        case cbe::MainTableSource::SinglePackage: return "single package";
        case cbe::MainTableSource::PackageRun: return "package run";
        case cbe::MainTableSource::SectionScan: return "section scan";
        case cbe::MainTableSource::None: break;
    }
    return "none";
}

std::string package_form(const Inspected& in) {
    const auto& r = in.archive.resources;
    std::string form = r.named_packages.empty() ? "" : "package directory, ";
    return form + "main table from " + source_label(in.main_source);
}

}  // namespace

Result<Inspected> open_archive(const std::string& path) {
    auto archive = cbe::load_archive(path);
    if (!archive) return std::move(archive).error();
    Inspected in;
    in.path = path;
    in.archive = std::move(archive).value();
    const std::span<const u8> file(in.archive.bytes);
    const auto& exe = in.archive.executable;
    // The collections again, this time noting which form filled the main table.
    in.archive.resources = cbe::build_resource_collections(file, exe, in.archive.sections, &in.main_source);
    // A parsed container has its whole segment header inside the file.
    in.header_gap = load_be32(&file[56]);
    const u64 s = 68 + u64{in.header_gap};
    in.code_checksum = load_be32(&file[s + 20]);
    in.data_checksum = load_be32(&file[s + 44]);
    in.embedded_checksum = load_be32(&file[s + 68]);
    return in;
}

std::string resource_text(std::span<const u8> data, TextEncoding encoding) {
    if (encoding == TextEncoding::Utf8 && starts_with(data, {0xEF, 0xBB, 0xBF})) data = data.subspan(3);
    if (encoding != TextEncoding::Utf8 && encoding != TextEncoding::Gbk && data.size() >= 2) data = data.subspan(2);
    std::string text = decode_text(data, encoding);
    // Text resources are often stored with the string terminator.
    while (!text.empty() && text.back() == '\0') text.pop_back();
    return text;
}

Classified classify(const cbe::Resource& resource) {
    const std::span<const u8> data(resource.data);
    const std::string ext = extension(resource.name);
    Classified c;

    // Pictures: any resource the image decoder takes, or one that claims to be
    // a picture by its name or signature.
    const bool image_name = one_of(ext, {"png", "gif", "bmp", "jpg", "jpeg"});
    bool image_signature = false;
    if (!data.empty()) {
        const auto image = data.subspan(image_format::image_resource_start(data));
        image_signature = image_format::has_firmware_png_signature(image) ||
                          image_format::detect_standard_format(image) != image_format::StandardFormat::None;
    }
    const bool sound_name = one_of(ext, {"wav", "mp3", "mid", "midi", "amr", "snd"});
    auto sound = audio_format::recognise(data);
    const bool text_name = one_of(ext, {"txt", "text"});

    if (!sound.ok() || image_signature || image_name || (!sound_name && !text_name)) {
        if (auto decoded = decode_image_resource(data); decoded.ok()) {
            c.kind = Kind::Image;
            c.width = decoded->width;
            c.height = decoded->height;
            const auto image = data.subspan(image_format::image_resource_start(data));
            if (image_format::has_firmware_png_signature(image)) c.type = "image/firmware-png";
            else if (image_format::detect_standard_format(image) == image_format::StandardFormat::Png &&
                     image_format::decode_png(image).ok())
                c.type = "image/png";
            else if (image_format::detect_standard_format(image) == image_format::StandardFormat::Gif &&
                     image_format::decode_gif(image).ok())
                c.type = "image/gif";
            else c.type = "image/cbe-gif";
            return c;
        } else if (image_signature || image_name) {
            c.kind = Kind::Image;
            c.type = "image";
            c.error = std::move(decoded).error();
            return c;
        }
    }
    if (text_name) {
        c.kind = Kind::Text;
        if (starts_with(data, {0xFF, 0xFE})) c.text = TextEncoding::Utf16Le, c.type = "text/utf-16le";
        else if (starts_with(data, {0xFE, 0xFF})) c.text = TextEncoding::Utf16Be, c.type = "text/utf-16be";
        else if (starts_with(data, {0xEF, 0xBB, 0xBF})) c.text = TextEncoding::Utf8, c.type = "text/utf-8";
        else c.text = TextEncoding::Gbk, c.type = "text/gbk";
        return c;
    }
    if (sound.ok()) {
        c.kind = Kind::Sound;
        c.type = sound->kind == SoundKind::Wav   ? "sound/wav"
                 : sound->kind == SoundKind::Mp3 ? "sound/mp3"
                                                          : "sound/midi";
        return c;
    }
    if (sound_name) {
        c.kind = Kind::Sound;
        c.type = "sound";
        c.error = std::move(sound).error();
        return c;
    }
    return c;
}

std::optional<std::string> application_name(const cbe::CbeArchive& archive) {
    for (const auto& r : archive.resources.main_table) {
        const std::string name = lower(r.name);
        const std::string stem = name.substr(0, name.find('.'));
        if (!one_of(stem, {"title", "name", "appname"}) || r.data.empty() || r.data.size() > 256) continue;
        const Classified c = classify(r);
        if (c.kind != Kind::Text) continue;
        std::string text = resource_text(r.data, c.text);
        text = text.substr(0, text.find_first_of(std::string_view("\r\n\0", 3)));
        const auto first = text.find_first_not_of(" \t");
        if (first != std::string::npos) return text.substr(first, text.find_last_not_of(" \t") + 1 - first);
    }
    return std::nullopt;
}

std::string info_text(const Inspected& in) {
    const auto& a = in.archive;
    const auto& e = a.executable;
    std::string out;
    auto line = [&](std::string_view label, const std::string& value) {
        out += fmt::format("{:<22}{}\n", std::string(label) + ":", value);
    };
    line("file", fmt::format("{} ({} bytes)", in.path, a.bytes.size()));
    if (auto name = application_name(a)) line("application name", *name);
    line("byte order", e.big_endian ? "big-endian" : "little-endian");
    line("load address", e.load_address ? fmt::format("0x{:08x}", e.load_address)
                                        : fmt::format("0x00000000 (default base 0x{:08x})", machine::kDefaultCodeBase));
    line("data offset", fmt::format("0x{:08x}", e.data_offset));
    line("data address", fmt::format("0x{:08x}", e.data_address));
    line("data size", fmt::format("0x{:08x} ({} bytes)", e.data_size, e.data_size));
    line("header gap", fmt::format("{} bytes (segment header at 0x{:x})", in.header_gap, 68 + u64{in.header_gap}));
    auto segment = [&](std::string_view name, u32 offset, u32 length, std::optional<u32> checksum) {
        std::string v = fmt::format("offset 0x{:x}, {} bytes", offset, length);
        if (checksum) v += fmt::format(", checksum 0x{:08x}", *checksum);
        line(name, v);
    };
    segment("code", e.code_offset, e.code_length, in.code_checksum);
    segment("initialized data", e.init_data_offset, e.init_data_length, in.data_checksum);
    segment("embedded package", e.embedded_offset, e.embedded_length, in.embedded_checksum);
    segment("resource package", e.resource_offset, e.resource_length, std::nullopt);
    line("package form", package_form(in));
    line("sections found", std::to_string(a.sections.size()));

    auto table = [&](const cbe::ResourceTable& resources) {
        for (size_t i = 0; i < resources.size(); ++i) {
            const Classified c = classify(resources[i]);
            std::string type = c.type;
            if (c.width) type += fmt::format(" {}x{}", c.width, c.height);
            if (c.error) type += " (does not decode: " + c.error->to_string() + ")";
            out += fmt::format("  {:>4}  {:>8}  {:<20} {}\n", i, resources[i].data.size(), type, resources[i].name);
        }
    };
    out += fmt::format("main resources ({}):\n", a.resources.main_table.size());
    table(a.resources.main_table);
    for (const auto& p : a.resources.named_packages) {
        out += fmt::format("package \"{}\" ({}):\n", p.name, p.resources.size());
        table(p.resources);
    }
    return out;
}

std::string info_json(const Inspected& in) {
    using nlohmann::ordered_json;
    const auto& a = in.archive;
    const auto& e = a.executable;
    auto resources = [](const cbe::ResourceTable& table) {
        ordered_json list = ordered_json::array();
        for (size_t i = 0; i < table.size(); ++i) {
            const Classified c = classify(table[i]);
            ordered_json r = {{"number", i}, {"name", table[i].name}, {"type", c.type}, {"size", table[i].data.size()}};
            if (c.width) r["width"] = c.width, r["height"] = c.height;
            if (c.error) r["error"] = c.error->to_string();
            list.push_back(std::move(r));
        }
        return list;
    };
    auto segment = [](u32 offset, u32 length) { return ordered_json{{"offset", offset}, {"length", length}}; };
    ordered_json j;
    j["file"] = in.path;
    j["file_size"] = a.bytes.size();
    if (auto name = application_name(a)) j["application_name"] = *name;
    j["byte_order"] = e.big_endian ? "big" : "little";
    j["load_address"] = e.load_address;
    j["code_base"] = e.load_address ? e.load_address : machine::kDefaultCodeBase;
    j["data_offset"] = e.data_offset;
    j["data_address"] = e.data_address;
    j["data_size"] = e.data_size;
    j["header_gap"] = in.header_gap;
    j["code"] = segment(e.code_offset, e.code_length);
    j["code"]["checksum"] = in.code_checksum;
    j["initialized_data"] = segment(e.init_data_offset, e.init_data_length);
    j["initialized_data"]["checksum"] = in.data_checksum;
    j["embedded_package"] = segment(e.embedded_offset, e.embedded_length);
    j["embedded_package"]["checksum"] = in.embedded_checksum;
    j["resource_package"] = segment(e.resource_offset, e.resource_length);
    j["package_directory"] = !a.resources.named_packages.empty();
    j["main_table_source"] = source_label(in.main_source);
    j["sections"] = a.sections.size();
    j["resources"] = resources(a.resources.main_table);
    j["packages"] = ordered_json::array();
    for (const auto& p : a.resources.named_packages)
        j["packages"].push_back({{"name", p.name}, {"resources", resources(p.resources)}});
    // Names are valid UTF-8 already; replacing keeps a stray byte from stopping the report.
    return j.dump(2, ' ', false, ordered_json::error_handler_t::replace) + "\n";
}

}  // namespace tarvel::inspect
