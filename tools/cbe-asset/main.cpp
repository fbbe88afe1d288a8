// cbe-asset: makes resource files for CBE applications.
//
//   cbe-asset picture --encoding ENCODING INPUT OUTPUT
//       INPUT is a pixel-art text file (*.art) or an ordinary PNG or GIF
//       file; ENCODING is png, gif, firmware-png (from art or a PNG file)
//       or cbe-gif (from art or a GIF file).
//   cbe-asset text --charset gbk INPUT OUTPUT
//       UTF-8 text to GBK with a final NUL, ready to be drawn in place.
//   cbe-asset sound --as midi|wav INPUT OUTPUT
//       A tune text (*.tune) to a packaged MIDI file (a Standard MIDI File in
//       the 5-byte sound wrapper), or an effect text (*.tone) to a WAV file.
#include <fmt/format.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "asset_writer/asset_writer.hpp"
#include "common/file_io.hpp"

namespace {
using namespace tarvel;

constexpr std::string_view kUsage =
    "usage: cbe-asset picture --encoding png|gif|firmware-png|cbe-gif INPUT OUTPUT\n"
    "       cbe-asset text --charset gbk INPUT OUTPUT\n"
    "       cbe-asset sound --as midi|wav INPUT OUTPUT\n";

bool ends_with(std::string_view s, std::string_view tail) {
    return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

Result<std::vector<u8>> make_picture(std::string_view encoding, const std::string& input,
                                     const std::vector<u8>& bytes) {
    if (ends_with(input, ".art")) {
        TARVEL_TRY_ASSIGN(const assets::IndexedPicture picture,
                          assets::parse_pixel_art(std::string_view(reinterpret_cast<const char*>(bytes.data()),
                                                                   bytes.size())));
        if (encoding == "png") return assets::encode_png(picture);
        if (encoding == "gif") return assets::encode_gif(picture);
        if (encoding == "firmware-png") {
            TARVEL_TRY_ASSIGN(const std::vector<u8> png, assets::encode_png(picture));
            return assets::firmware_png_from_png(png);
        }
        if (encoding == "cbe-gif") {
            TARVEL_TRY_ASSIGN(const std::vector<u8> gif, assets::encode_gif(picture));
            return assets::cbe_gif_from_gif(gif);
        }
    } else {
        if (encoding == "firmware-png") return assets::firmware_png_from_png(bytes);
        if (encoding == "cbe-gif") return assets::cbe_gif_from_gif(bytes);
        if (encoding == "png" || encoding == "gif")
            return Error::format("{} from an ordinary file is that file itself: copy it", encoding);
    }
    return Error::format("unknown encoding {}", encoding);
}

Result<std::vector<u8>> make_sound(std::string_view as, std::string_view text) {
    if (as == "wav") return assets::effect_wav_from_text(text);
    TARVEL_TRY_ASSIGN(const assets::MidiTune tune, assets::parse_tune(text));
    return assets::wrap_sound(10, assets::write_midi_file(tune));
}

Status run(const std::vector<std::string>& args) {
    if (args.size() != 5 || (args[0] == "picture" && args[1] != "--encoding") ||
        (args[0] == "text" && (args[1] != "--charset" || args[2] != "gbk")) ||
        (args[0] == "sound" && (args[1] != "--as" || (args[2] != "midi" && args[2] != "wav"))) ||
        (args[0] != "picture" && args[0] != "text" && args[0] != "sound"))
        return Error(std::string(kUsage));
    const std::string &input = args[3], &output = args[4];
    auto bytes = read_whole_file(input);
    if (!bytes.ok()) return std::move(bytes).error().context("Failed to read {}", input);
    const std::string_view text(reinterpret_cast<const char*>(bytes->data()), bytes->size());
    auto made = args[0] == "picture" ? make_picture(args[2], input, *bytes)
                : args[0] == "sound" ? make_sound(args[2], text)
                                     : assets::gbk_text_from_utf8(text);
    if (!made.ok()) return std::move(made).error().context("{}", input);
    if (Status written = write_whole_file(output, *made); !written.ok())
        return std::move(written).error().context("Failed to write {}", output);
    return {};
}

}  // namespace

int main(int argc, char** argv) {
    const Status status = run(std::vector<std::string>(argv + 1, argv + argc));
    if (!status.ok()) {
        fmt::print(stderr, "cbe-asset: {}\n", status.error().to_string());
        return 1;
    }
    return 0;
}
