// cbe-inspect through its command line: reports, extracted files and
// disassembly of archives built in code and of the demo, and bad archives.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "asset_writer/asset_writer.hpp"
#include "cbe_writer/cbe_writer.hpp"
#include "common/text_encoding.hpp"
#include "inspect.hpp"
#include "media/audio/audio_engine.hpp"
#include "media/audio/midi_files.hpp"
#include "media/audio/sound_data.hpp"
#include "media/image/formats.hpp"
#include "media/image/image_decoder.hpp"
#include "support/temp_dir.hpp"

namespace tarvel {
namespace {

namespace fs = std::filesystem;
using cbe_writer::resource;

struct Ran {
    int status;
    std::string out, err;
};

Ran run(std::vector<std::string> args) {
    std::ostringstream out, err;
    const int status = inspect::run(args, out, err);
    return {status, out.str(), err.str()};
}

std::vector<u8> read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<u8> bytes(std::string_view s) { return {s.begin(), s.end()}; }

std::vector<u8> png() {
    auto art = assets::parse_pixel_art("size 2 2\ncolor . none\ncolor r F80000\nrows\nr.\n.r\n");
    return *assets::encode_png(*art);
}

// One archive holding every kind of resource and hostile names, in either
// byte order, with `code` as its code segment.
struct Sample {
    std::vector<cbe_writer::ResourceSpec> resources;
    std::vector<u8> file;
};

Sample sample(bool big_endian, std::vector<u8> code = {0x00, 0x00, 0xA0, 0xE3}) {
    const auto gif = *assets::encode_gif(*assets::parse_pixel_art(
        "size 1 1\ncolor g 00FC00\nrows\ng\n"));
    const auto midi = midi_test::smf(96, {midi_test::cat({midi_test::note_on(0, 60, 100),
                                                         midi_test::note_off(48, 60), midi_test::end_of_track()})});
    Sample s;
    s.resources = {
        resource("ship.png", png()),
        resource("block.png", *assets::firmware_png_from_png(png())),
        resource("coin.gif", *assets::cbe_gif_from_gif(gif)),
        resource("plain.gif", gif),
        resource("beep.wav", test::wav_constant(100, 1000)),
        resource("tune.mid", test::wrapped(10, midi)),
        resource("title.txt", *assets::gbk_text_from_utf8("\xE8\xBD\xA6\xE9\x81\x93 Run")),
        resource("wide.txt", {0xFF, 0xFE, 'h', 0, 'i', 0}),
        resource("broken.png", {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 1, 2}),
        resource("../../escape.png", png()),
        resource("/etc/passwd", bytes("x")),
        resource("a\\b/c\x01:d", bytes("x")),
        resource("..", bytes("x")),
        resource("", bytes("x")),
        resource("CON.txt", bytes("x")),
        resource("same", bytes("1")),
        resource("SAME", bytes("2")),
    };
    cbe_writer::DirectorySpec dir;
    cbe_writer::PackageSpec package;
    package.resources = s.resources;
    cbe_writer::PackageSpec hostile;
    hostile.resources = {resource("in.txt", bytes("p"))};
    dir.named.push_back(cbe_writer::named_package("..", hostile));
    dir.more_packages.push_back(package);
    cbe_writer::CbeBuilder b;
    b.big_endian = big_endian;
    b.code = std::move(code);
    b.resource_package = cbe_writer::encode_directory(dir);
    s.file = b.build();
    return s;
}

TEST(Inspect, InfoReportsTheContainerAndEveryResourceInBothByteOrders) {
    const test::TempDir dir;
    for (const bool big : {false, true}) {
        const auto path = dir.write(big ? "big.cbe" : "little.cbe", sample(big).file);
        const Ran text = run({"info", path});
        ASSERT_EQ(text.status, 0) << text.err;
        EXPECT_NE(text.out.find(big ? "byte order:           big-endian" : "little-endian"), std::string::npos);
        EXPECT_NE(text.out.find("application name:     \xE8\xBD\xA6\xE9\x81\x93 Run"), std::string::npos);
        EXPECT_NE(text.out.find("package directory, main table from package run"), std::string::npos);

        const Ran json = run({"info", path, "--json"});
        ASSERT_EQ(json.status, 0);
        const auto j = nlohmann::json::parse(json.out);
        EXPECT_EQ(j["byte_order"], big ? "big" : "little");
        EXPECT_EQ(j["code_base"], 0x01000000);
        EXPECT_EQ(j["code"]["length"], 4);
        EXPECT_EQ(j["code"]["checksum"], cbe_writer::word_sum(std::vector<u8>{0x00, 0x00, 0xA0, 0xE3}, big));
        EXPECT_EQ(j["packages"][0]["name"], "..");
        std::vector<std::string> types;
        for (const auto& r : j["resources"]) types.push_back(r["type"]);
        EXPECT_EQ(std::vector<std::string>(types.begin() + 1, types.begin() + 11),
                  (std::vector<std::string>{"image/png", "image/firmware-png", "image/cbe-gif", "image/gif",
                                            "sound/wav", "sound/midi", "text/gbk", "text/utf-16le", "image",
                                            "image/png"}));
        EXPECT_EQ(j["resources"][1]["width"], 2);
        EXPECT_TRUE(j["resources"][9].contains("error"));
        EXPECT_EQ(j["resources"][10]["name"], "../../escape.png");
    }
}

TEST(Inspect, ExtractWritesWhatTheCoreDecodesAndKeepsHostileNamesInside) {
    const test::TempDir tmp;
    const Sample s = sample(false);
    const auto path = tmp.write("app.cbe", s.file);
    const fs::path out = fs::path(tmp.path()) / "out" / "inner";
    const Ran ran = run({"extract", path, out.string()});
    ASSERT_EQ(ran.status, 0) << ran.err;
    EXPECT_NE(ran.out.find("kept raw, not decoded: 9 broken.png: "), std::string::npos) << ran.out;

    // Nothing lands outside the folder, and nothing there is a link.
    const fs::path canonical = fs::canonical(out);
    size_t files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(out)) {
        EXPECT_FALSE(entry.is_symlink());
        const auto rel = fs::canonical(entry.path()).lexically_relative(canonical);
        EXPECT_FALSE(rel.empty() || rel.string().starts_with("..")) << entry.path();
        files += entry.is_regular_file();
    }
    EXPECT_EQ(std::vector<fs::path>(fs::directory_iterator(fs::path(tmp.path()) / "out"), {}),
              std::vector<fs::path>{out});
    // Raw: the main table (the named package's resource first) and the package; then
    // 5 PNG, 2 WAV, 1 MIDI and 5 UTF-8 texts (in.txt twice).
    EXPECT_EQ(files, s.resources.size() + 2 + 5 + 2 + 1 + 5);

    // Decoded files match the core's own decoding.
    for (const auto& name : {"001_ship.png", "002_block.png", "003_coin.gif", "004_plain.gif", "010__.._escape.png"}) {
        const auto raw = read(out / name);
        auto core = decode_image_resource(raw);
        auto written = image_format::decode_png(read(out / (std::string(name) + ".png")));
        ASSERT_TRUE(core.ok() && written.ok()) << name;
        EXPECT_EQ(written->pixels, core->pixels) << name;
    }
    for (const auto& [name, raw] : {std::pair{"005_beep.wav", s.resources[4].data}, {"006_tune.mid", s.resources[5].data}}) {
        // The whole sound as the engine plays it, without the last frame's padding.
        AudioEngine engine = make_audio_engine(100);
        ASSERT_TRUE(engine.submit(raw, 0).ok());
        std::vector<i16> played;
        for (int frame = 0; frame < 600 && engine.queued_values() > 0; ++frame) {
            const size_t values = std::min<u64>(kRenderValues, engine.queued_values());
            const auto block = engine.render_frame();
            played.insert(played.end(), block.begin(), block.begin() + values);
        }
        ASSERT_EQ(engine.queued_values(), 0u) << name;
        ASSERT_EQ(played.size(), engine.frames_queued * 2) << name;
        auto wav = read(out / (std::string(name) + ".wav"));
        ASSERT_EQ(wav.size(), 44 + played.size() * 2) << name;
        for (size_t i = 0; i < played.size(); ++i)
            ASSERT_EQ(static_cast<i16>(load_le16(&wav[44 + 2 * i])), played[i]) << name << " at " << i;
    }
    EXPECT_EQ(read(out / "006_tune.mid.mid"), std::vector<u8>(s.resources[5].data.begin() + 5, s.resources[5].data.end()));
    EXPECT_EQ(read(out / "007_title.txt.utf8.txt"), bytes("\xE8\xBD\xA6\xE9\x81\x93 Run"));
    EXPECT_EQ(read(out / "008_wide.txt.utf8.txt"), bytes("hi"));
    for (const auto& name : {"011__etc_passwd", "012_a_b_c__d", "013_resource", "014_resource", "015__CON.txt",
                             "016_same", "017_SAME", "package0_unnamed/000_in.txt"})
        EXPECT_TRUE(fs::is_regular_file(out / name)) << name;
}

TEST(Inspect, SafeFileNamesStayInsideTheFolder) {
    const std::pair<std::string, std::string> cases[] = {
        {"../x", "_x"},        {"..", "r"},        {"/abs", "_abs"}, {"a/b\\c", "a_b_c"}, {"nul", "_nul"},
        {"com1.txt", "_com1.txt"}, {"\x7f\n", "__"}, {" ok. ", " ok"}, {std::string(300, 'a'), std::string(200, 'a')},
        {"\xE8\xBD\xA6" + std::string(199, 'a'), "\xE8\xBD\xA6" + std::string(197, 'a')},
    };
    for (const auto& [name, expected] : cases) EXPECT_EQ(inspect::safe_file_name(name, "r"), expected) << name;
}

TEST(Inspect, DisassemblesBothInstructionSetsInBothByteOrdersAndNamesServices) {
    struct Case {
        std::string isa;
        std::vector<u8> little;  // code as a little-endian program stores it
        unsigned unit;           // bytes swapped together for the big-endian program
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"--arm", {0x01, 0x00, 0xA0, 0xE3, 0x1E, 0xFF, 0x2F, 0xE1}, 4,
         {"01000000:  ", "mov r0, #1", "01000004:  ", "bx lr"}},
        {"--thumb", {0x01, 0x20, 0x70, 0x47, 0x00, 0x48, 0x00, 0x00, 0x00, 0x0C, 0x00, 0x0C}, 2,
         {"movs r0, #1", "bx lr", "    ; =0x0c000c00 service 3.0 tv_image_load_resource"}},
        {"--arm", {0x00, 0x00, 0x9F, 0xE5, 0x00, 0x00, 0x00, 0x00, 0x10, 0xD0, 0x00, 0x0C}, 4,
         {"; =0x0c00d010 entry 0x0c00d010 tv_fill_rect"}},
    };
    const test::TempDir dir;
    for (const auto& c : cases) {
        for (const bool big : {false, true}) {
            std::vector<u8> code = c.little;
            if (big)
                for (size_t i = 0; i + c.unit <= code.size(); i += c.unit) std::reverse(&code[i], &code[i] + c.unit);
            const auto path = dir.write("code.cbe", sample(big, code).file);
            const Ran ran = run({"disasm", path, c.isa});
            ASSERT_EQ(ran.status, 0) << ran.err;
            for (const auto& line : c.lines) EXPECT_NE(ran.out.find(line), std::string::npos) << line << "\n" << ran.out;
        }
    }
    const auto path = dir.write("code.cbe", sample(false, cases[0].little).file);
    EXPECT_EQ(run({"disasm", path, "--arm", "--from", "0x01000004", "--count", "1"}).out.find("mov"), std::string::npos);
    EXPECT_EQ(run({"disasm", path, "--from", "0x02000000"}).err,
              "cbe-inspect: address 0x02000000 is outside the code (0x01000000..0x01000008)\n");
}

// A FE-run edit sweep like the archive fuzzer's: every command on every
// broken file either works or fails with the loader's own message.
TEST(Inspect, BrokenArchivesGiveTheLoadersMessage) {
    const test::TempDir dir;
    const std::vector<u8> good = sample(true).file;
    std::vector<std::vector<u8>> files;
    for (size_t cut = 0; cut < good.size(); cut += 13) files.emplace_back(good.begin(), good.begin() + cut);
    for (size_t at = 0; at < good.size(); at += 5)
        for (const u8 v : {u8{0x00}, u8{0xFE}, u8{0xFF}}) {
            files.push_back(good);
            files.back()[at] = v;
        }
    size_t failed = 0;
    for (const auto& file : files) {
        const auto path = dir.write("bad.cbe", file);
        auto parsed = cbe::parse_archive(file);
        const std::string expected = parsed.ok() ? "" : "cbe-inspect: " + parsed.error().to_string() + "\n";
        for (std::vector<std::string> args : {std::vector<std::string>{"info", path, "--json"},
                                               {"disasm", path, "--arm"},
                                               {"extract", path, dir.path() + "/x"}}) {
            const Ran ran = run(args);
            ASSERT_EQ(ran.status, parsed.ok() ? 0 : 1) << args[0];
            ASSERT_EQ(ran.err, expected) << args[0];
        }
        failed += !parsed.ok();
    }
    EXPECT_GT(failed, files.size() / 8);
    EXPECT_EQ(run({"info", dir.path() + "/missing.cbe"}).status, 1);
    EXPECT_EQ(run({"info"}).status, 2);
}

#ifdef TARVEL_DEMO_CBE_FILE
TEST(Inspect, DescribesTheDemo) {
    if (std::string(TARVEL_DEMO_CBE_FILE).empty()) GTEST_SKIP() << "no ARM cross compiler built the demo";
    const Ran info = run({"info", TARVEL_DEMO_CBE_FILE});
    ASSERT_EQ(info.status, 0) << info.err;
    for (const char* line : {"application name:     \xE8\xBD\xA6\xE9\x81\x93\xE9\xA3\x9E\xE9\xA9\xB0\n",
                             "image/firmware-png 34x16 block.png", "image/cbe-gif 12x12  coin.gif",
                             "image/png 32x20      ship.png", "text/gbk             title.txt"})
        EXPECT_NE(info.out.find(line), std::string::npos) << line;
    const Ran disasm = run({"disasm", TARVEL_DEMO_CBE_FILE});
    EXPECT_NE(disasm.out.find("service 3.0 tv_image_load_resource"), std::string::npos);
}
#endif

}  // namespace
}  // namespace tarvel
