#include "mini_machine.hpp"

#include <gtest/gtest.h>
#include <png.h>

#include <cstdio>
#include <fstream>
#include <unordered_map>

#include "common/file_io.hpp"

namespace tarvel::sdk_test {
namespace {

constexpr u32 kSystemArea = 0x0A000000;
constexpr u32 kKeyWord = 0x0A007FDC;
constexpr u32 kPenWord = 0x0A007FD8;

constexpr u32 stub(u32 group, u32 index) { return 0x0C000000 + group * 0x400 + index * 4; }

i32 low16(u32 v) { return static_cast<i16>(static_cast<u16>(v)); }

// 8 x 16 glyphs of the code points below 0x80, from the system's unifont.
const std::unordered_map<u32, std::vector<u8>>& ascii_glyphs() {
    static const auto glyphs = [] {
        std::unordered_map<u32, std::vector<u8>> out;
        std::ifstream in("/usr/share/unifont/unifont.hex");
        std::string line;
        while (std::getline(in, line)) {
            const size_t colon = line.find(':');
            if (colon == std::string::npos) continue;
            const u32 cp = static_cast<u32>(std::stoul(line.substr(0, colon), nullptr, 16));
            if (cp >= 0x80) break;
            const std::string bits = line.substr(colon + 1);
            if (bits.size() != 32) continue;
            std::vector<u8> rows;
            for (size_t i = 0; i < 32; i += 2) rows.push_back(static_cast<u8>(std::stoul(bits.substr(i, 2), nullptr, 16)));
            out[cp] = rows;
        }
        return out;
    }();
    return glyphs;
}

}  // namespace

MiniMachine::MiniMachine(const std::string& cbe_path) : fb_(kWidth * kHeight, 0) {
    auto bytes = read_whole_file(cbe_path);
    if (!bytes.ok()) {
        ADD_FAILURE() << bytes.error().to_string();
        return;
    }
    auto archive = cbe::parse_archive(std::move(*bytes));
    if (!archive.ok()) {
        ADD_FAILURE() << archive.error().to_string();
        return;
    }
    cpu_ = std::make_unique<GuestCpu>(archive->executable.big_endian != 0);
    cpu_->map(kSystemArea, 0x100000);
    cpu_->map(0x05000000, 0x01000000);
    cpu_->load_archive(*archive);
    cpu_->set_trap_handler([this](GuestCpu& cpu, u32 address) { service(cpu, address); });
    const u32 base = archive->executable.load_address ? archive->executable.load_address : 0x01000000;
    cpu_->call(base | 1, {kSystemArea});
    call(cpu_->read32(kSystemArea), 0, 0, 0);
}

void MiniMachine::call(u32 function, u32 a0, u32 a1, u32 a2) {
    if (cpu_ && function) cpu_->call(function, {a0, a1, a2}, 20'000'000);
}

void MiniMachine::tick() {
    if (!cpu_) return;
    texts_.clear();
    ++ticks_;
    // Timers: one-shot, fired in slot order after the walk.
    std::vector<Timer> due;
    for (Timer& t : timers_) {
        if (!t.active) continue;
        const u32 before = t.countdown;
        if (t.countdown) --t.countdown;
        if (before <= 1) {
            t.active = false;
            due.push_back(t);
        }
    }
    for (const Timer& t : due) call(t.callback, t.argument, 0, 0);

    if (active_ && active_ != current_) {
        current_ = active_;
        initialized_ = false;
    }
    if (!current_) return;
    const u32 s = current_;
    const u32 self = s - 24;
    if (!initialized_) {
        call(cpu_->read32(s), self, 0, 0);
        initialized_ = true;
    }
    const u32 logic = cpu_->read32(s + 8);
    if (!keys_.empty()) {
        const KeyEvent k = keys_.front();
        keys_.pop_front();
        cpu_->write32(kKeyWord, 1u << k.code);
        call(logic, self, k.pressed ? 0 : 1, kKeyWord);
    } else if (!pens_.empty()) {
        const PenEvent p = pens_.front();
        pens_.pop_front();
        cpu_->write32(kPenWord, static_cast<u32>(p.y) << 16 | static_cast<u32>(p.x));
        call(logic, self, p.event, kPenWord);
    }
    if (active_ != current_) return;
    call(logic, self, 6, 0);
    if (active_ != current_) return;
    call(cpu_->read32(s + 12), self, 0, 0);
}

std::string MiniMachine::guest_string(u32 address, u32 limit) {
    std::string out;
    for (u32 i = 0; i < limit; ++i) {
        const u8 c = cpu_->read(address + i, 1)[0];
        if (!c) break;
        out += static_cast<char>(c);
    }
    return out;
}

void MiniMachine::fill(int x0, int y0, int x1, int y1, u16 color) {
    x0 = std::clamp(x0, 0, kWidth), x1 = std::clamp(x1, 0, kWidth);
    y0 = std::clamp(y0, 0, kHeight), y1 = std::clamp(y1, 0, kHeight);
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) fb_[y * kWidth + x] = color;
}

void MiniMachine::outline(int x, int y, int w, int h, u16 color) {
    if (x < 0) w += x, x = 0;
    if (y < 0) h += y, y = 0;
    w = std::min(w, kWidth - x), h = std::min(h, kHeight - y);
    if (w <= 0 || h <= 0) return;
    fill(x, y, x + w, y + 1, color);
    fill(x, y + h - 1, x + w, y + h, color);
    fill(x, y, x + 1, y + h, color);
    fill(x + w - 1, y, x + w, y + h, color);
}

void MiniMachine::draw_text(const std::string& text, int x, int y, u16 color) {
    texts_.push_back(text);
    const auto& glyphs = ascii_glyphs();
    for (unsigned char c : text) {
        auto it = glyphs.find(c);
        if (it != glyphs.end()) {
            for (int row = 0; row < 16; ++row)
                for (int col = 0; col < 8; ++col)
                    if ((it->second[row] >> (7 - col)) & 1) {
                        const int px = x + col, py = y + row;
                        if (px >= 0 && px < kWidth && py >= 0 && py < kHeight) fb_[py * kWidth + px] = color;
                    }
        }
        x += 8;
    }
}

void MiniMachine::service(GuestCpu& c, u32 address) {
    const u32 r0 = c.reg(0), r1 = c.reg(1), r2 = c.reg(2), r3 = c.reg(3), sp = c.reg(13);
    u32 result = 0;
    switch (address) {
        case 0x0C00D010: {  // fill rectangle
            const i32 x = low16(r1), y = low16(r2), w = low16(r3), h = low16(c.read32(sp));
            fill(x, y, x + w, y + h, static_cast<u16>(c.read32(sp + 4)));
            break;
        }
        case stub(4, 17):
            outline(static_cast<i32>(r1), static_cast<i32>(r2), static_cast<i32>(r3),
                    static_cast<i32>(c.read32(sp)), static_cast<u16>(c.read32(sp + 4)));
            result = 1;
            break;
        case stub(4, 7):
            result = static_cast<u32>(guest_string(r0).size() * 8);
            break;
        case stub(4, 9):
            draw_text(guest_string(r0), low16(r1), low16(r2), static_cast<u16>(r3));
            result = 1;
            break;
        case stub(14, 4):
        case stub(14, 0):
            if (r0) active_ = r0;
            result = address == stub(14, 0) ? 0x0A007FE0 : 0;
            break;
        case stub(7, 0): {
            result = 0;
            if (!r1) break;
            for (size_t i = 0; i < 20; ++i) {
                if (i == timers_.size()) timers_.push_back({});
                if (!timers_[i].active) {
                    timers_[i] = {r1, r2, std::max<u32>(1, (r0 + 99) / 100), true};
                    result = static_cast<u32>(100 + i);
                    break;
                }
            }
            break;
        }
        case stub(7, 2):
            result = static_cast<u32>(ticks_ * 100);
            break;
        case stub(5, 0): {  // open
            const std::string path = guest_string(r1), mode = guest_string(r2);
            result = 0xFFFFFFFF;
            if (mode.empty() || (mode[0] == 'r' && !files_.count(path))) break;
            if (mode[0] == 'w') files_[path].clear();
            for (u32 h = 0; h < 16; ++h) {
                if (!handles_[h].open) {
                    handles_[h] = {path, 0, true};
                    result = h;
                    break;
                }
            }
            break;
        }
        case stub(5, 1):
            if (r0 < 16) handles_[r0].open = false;
            break;
        case stub(5, 4): {  // read
            if (r2 >= 16 || !handles_[r2].open) {
                result = 0xFFFFFFFF;
                break;
            }
            Handle& h = handles_[r2];
            const std::vector<u8>& data = files_[h.path];
            const u32 n = std::min<u32>(r1, static_cast<u32>(data.size()) - std::min<u32>(h.position, static_cast<u32>(data.size())));
            c.write(r0, std::vector<u8>(data.begin() + h.position, data.begin() + h.position + n));
            h.position += n;
            result = n;
            break;
        }
        case stub(5, 5): {  // write
            if (r2 >= 16 || !handles_[r2].open) {
                result = 0xFFFFFFFF;
                break;
            }
            Handle& h = handles_[r2];
            std::vector<u8>& data = files_[h.path];
            const std::vector<u8> bytes = c.read(r0, r1);
            if (data.size() < h.position + r1) data.resize(h.position + r1);
            std::copy(bytes.begin(), bytes.end(), data.begin() + h.position);
            h.position += r1;
            result = r1;
            break;
        }
        case stub(5, 11):
            break;
        // The stand-in has no resources: the directory calls do nothing and
        // every picture and text lookup fails, so the demo draws rectangles.
        case stub(11, 10):  // directory constructor
        case stub(21, 4):   // load the main package
        case stub(10, 9):   // register the directory
        case stub(10, 12):  // resource data by name
        case stub(4, 22):   // load a picture by number
        case stub(3, 0):    // load a picture through the resource table
            break;
        default:
            unknown_.push_back(address);
            break;
    }
    c.set_reg(0, result);
}

bool MiniMachine::write_png(const std::string& path) const {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(f);
        return false;
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, kWidth, kHeight, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    std::vector<u8> row(kWidth * 3);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const u16 p = fb_[y * kWidth + x];
            row[x * 3 + 0] = static_cast<u8>(((p >> 11) & 0x1F) * 255 / 31);
            row[x * 3 + 1] = static_cast<u8>(((p >> 5) & 0x3F) * 255 / 63);
            row[x * 3 + 2] = static_cast<u8>((p & 0x1F) * 255 / 31);
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
    return true;
}

}  // namespace tarvel::sdk_test
