// Writing every resource of an archive into a folder: raw bytes always, and
// beside them what the core decodes them to (pictures as PNG, sounds as WAV
// through the audio engine, MIDI as a .mid file, text as UTF-8).

#include <fmt/format.h>
#include <png.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <set>

#include "common/file_io.hpp"
#include "common/utf8.hpp"
#include "inspect.hpp"
#include "media/audio/audio_engine.hpp"
#include "media/audio/formats.hpp"
#include "media/image/image_decoder.hpp"
#include "wav_writer.hpp"

namespace tarvel::inspect {

namespace {

constexpr size_t kMaxNameBytes = 200;

bool reserved_device_name(std::string_view name) {
    std::string stem(name.substr(0, name.find('.')));
    for (char& c : stem) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const char* r : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
        if (stem == r) return true;
    return stem.size() == 4 && (stem.starts_with("COM") || stem.starts_with("LPT")) && stem[3] >= '0' &&
           stem[3] <= '9';
}

// Removes whatever is at `path` first, so that a link planted there is replaced
// rather than followed.
Status write_file(const std::filesystem::path& path, std::span<const u8> bytes) {
    std::error_code ec;
    std::filesystem::remove(path, ec);
    return write_whole_file(path.string(), bytes);
}

Status write_png(const std::filesystem::path& path, const DecodedImage& image) {
    std::error_code ec;
    std::filesystem::remove(path, ec);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return Error::format("cannot create {}", path.string());
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    bool ok = false;
    if (info && setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, f);
        png_set_IHDR(png, info, image.width, image.height, 8, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        for (u32 y = 0; y < image.height; ++y)
            png_write_row(png, const_cast<png_bytep>(&image.pixels[size_t{y} * image.width * 4]));
        png_write_end(png, nullptr);
        ok = true;
    }
    png_destroy_write_struct(&png, &info);
    if (std::fclose(f) != 0) ok = false;
    if (!ok) return Error::format("cannot write {}", path.string());
    return {};
}

// The sound as the core plays it: 44 100 Hz stereo, from its first sample to
// its last, rendered a video frame's worth at a time through the audio engine.
// Half an hour bounds what a forged file can make the tool write.
Result<std::string> write_wav(const std::filesystem::path& path, std::span<const u8> data) {
    constexpr u64 kMaxFrames = u64{kOutputRate} * 60 * 30;
    AudioEngine engine = make_audio_engine(100);
    if (auto s = engine.submit(data, 0); !s) return std::move(s).error();
    std::error_code ec;
    std::filesystem::remove(path, ec);
    tarvel_run::WavWriter wav;
    if (auto e = wav.open(path.string(), kOutputRate); !e.empty()) return Error(e);
    std::array<i16, kRenderValues> block;
    u64 written = 0;
    while (engine.queued_values() > 0 && written < kMaxFrames) {
        // The last block is zero-padded past the sound's end: keep only the sound.
        const u64 frames = std::min<u64>(kRenderFrames, engine.queued_values() / 2);
        engine.render_frame(block);
        wav.write(block.data(), static_cast<size_t>(frames));
        written += frames;
    }
    if (auto e = wav.close(); !e.empty()) return Error(e);
    if (engine.queued_values() > 0) return fmt::format("sound cut after {} frames", written);
    return std::string();
}

struct Folder {
    std::filesystem::path root;  // DIR
    std::filesystem::path sub;   // relative to DIR
    std::set<std::string> used;  // lower-cased, for file systems that ignore case
    ExtractReport& report;

    // A name not used yet in this folder.
    std::filesystem::path claim(const std::string& wanted) {
        std::string name = wanted;
        for (int n = 2; !used.insert(lower(name)).second; ++n) {
            const auto dot = wanted.find('.', 1);
            name = dot == std::string::npos ? fmt::format("{}~{}", wanted, n)
                                            : fmt::format("{}~{}{}", wanted.substr(0, dot), n, wanted.substr(dot));
        }
        report.files.push_back(sub / name);
        return root / sub / name;
    }

    static std::string lower(std::string s) {
        for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return s;
    }
};

Status extract_table(const cbe::ResourceTable& table, Folder& folder, std::string_view package) {
    const size_t digits = std::max<size_t>(3, std::to_string(table.size()).size());
    for (size_t i = 0; i < table.size(); ++i) {
        const auto& r = table[i];
        const std::string base =
            fmt::format("{:0{}}_{}", i, digits, safe_file_name(r.name, "resource"));
        TARVEL_TRY(write_file(folder.claim(base), r.data));
        Classified c = classify(r);
        auto fail = [&](const Error& e) {
            folder.report.failures.push_back(
                fmt::format("{}{} {}: {}", package.empty() ? "" : std::string(package) + "/", i, r.name, e.to_string()));
        };
        if (c.error) {
            fail(*c.error);
            continue;
        }
        if (c.kind == Kind::Image) {
            auto image = decode_image_resource(r.data);
            if (!image) fail(image.error());
            else TARVEL_TRY(write_png(folder.claim(base + ".png"), *image));
        } else if (c.kind == Kind::Sound) {
            if (auto sound = audio_format::recognise(r.data); sound && sound->kind == SoundKind::Midi)
                TARVEL_TRY(write_file(folder.claim(base + ".mid"), sound->payload));
            auto wav = write_wav(folder.claim(base + ".wav"), r.data);
            if (!wav) {
                folder.report.files.pop_back();
                fail(wav.error());
            } else if (!wav->empty()) {
                fail(Error(*wav));
            }
        } else if (c.kind == Kind::Text) {
            const std::string text = resource_text(r.data, c.text);
            TARVEL_TRY(write_file(folder.claim(base + ".utf8.txt"),
                                  std::span(reinterpret_cast<const u8*>(text.data()), text.size())));
        }
    }
    return {};
}

}  // namespace

std::string safe_file_name(std::string_view name, std::string_view fallback) {
    std::string out;
    for (unsigned char c : name) {
        const bool bad = c < 0x20 || c == 0x7F || c == '/' || c == '\\' || c == ':' || c == '*' || c == '?' ||
                         c == '"' || c == '<' || c == '>' || c == '|';
        out += bad ? '_' : static_cast<char>(c);
    }
    // Leading dots would hide the file or climb out ("..").
    while (!out.empty() && out.front() == '.') out.erase(out.begin());
    while (!out.empty() && (out.back() == '.' || out.back() == ' ')) out.pop_back();
    if (out.size() > kMaxNameBytes) {
        size_t cut = kMaxNameBytes;
        while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;  // keep UTF-8 whole
        out.resize(cut);
    }
    if (out.empty()) out = fallback;
    if (reserved_device_name(out)) out.insert(out.begin(), '_');
    return out;
}

Result<ExtractReport> extract(const Inspected& in, const std::filesystem::path& dir) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (!std::filesystem::is_directory(dir, ec)) return Error::format("cannot create folder {}", dir.string());
    ExtractReport report;
    Folder main{dir, {}, {}, report};
    if (auto s = extract_table(in.archive.resources.main_table, main, ""); !s) return std::move(s).error();
    const auto& packages = in.archive.resources.named_packages;
    for (size_t k = 0; k < packages.size(); ++k) {
        // Package folders are named like files of the main folder, so they share its set of used names.
        const std::string wanted = fmt::format("package{}_{}", k, safe_file_name(packages[k].name, "unnamed"));
        std::filesystem::path sub = main.claim(wanted).lexically_relative(dir);
        report.files.pop_back();
        std::filesystem::remove(dir / sub, ec);  // a link in its place is replaced, not followed
        std::filesystem::create_directory(dir / sub, ec);
        if (ec || std::filesystem::is_symlink(dir / sub))
            return Error::format("cannot create folder {}", (dir / sub).string());
        Folder folder{dir, sub, {}, report};
        if (auto s = extract_table(packages[k].resources, folder, packages[k].name); !s) return std::move(s).error();
    }
    return report;
}

}  // namespace tarvel::inspect
