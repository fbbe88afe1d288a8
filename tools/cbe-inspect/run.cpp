// The command line of cbe-inspect.

#include <charconv>
#include <ostream>

#include "inspect.hpp"

namespace tarvel::inspect {

namespace {

constexpr const char* kUsage =
    "usage: cbe-inspect info APP.cbe [--json]\n"
    "       cbe-inspect extract APP.cbe DIR\n"
    "       cbe-inspect disasm APP.cbe [--thumb|--arm] [--from ADDR] [--count N]\n";

std::optional<u32> number(const std::string& s) {
    int base = 10;
    std::string_view v = s;
    if (v.starts_with("0x") || v.starts_with("0X")) base = 16, v.remove_prefix(2);
    u32 value = 0;
    const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), value, base);
    if (v.empty() || ec != std::errc() || end != v.data() + v.size()) return std::nullopt;
    return value;
}

int usage(std::ostream& err, const std::string& problem) {
    err << "cbe-inspect: " << problem << "\n" << kUsage;
    return 2;
}

}  // namespace

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.size() < 2) return usage(err, "missing command or archive");
    const std::string& command = args[0];
    if (command != "info" && command != "extract" && command != "disasm")
        return usage(err, "unknown command '" + command + "'");

    bool json = false;
    std::optional<std::string> dir;
    DisasmOptions disasm;
    for (size_t i = 2; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&]() -> std::optional<u32> { return i + 1 < args.size() ? number(args[++i]) : std::nullopt; };
        if (command == "info" && a == "--json") json = true;
        else if (command == "extract" && !dir && !a.starts_with("--")) dir = a;
        else if (command == "disasm" && (a == "--thumb" || a == "--arm")) disasm.thumb = a == "--thumb";
        else if (command == "disasm" && a == "--from") {
            if (!(disasm.from = value())) return usage(err, "--from needs an address");
        } else if (command == "disasm" && a == "--count") {
            if (!(disasm.count = value())) return usage(err, "--count needs a number");
        } else return usage(err, "unexpected argument '" + a + "'");
    }
    if (command == "extract" && !dir) return usage(err, "missing output folder");

    auto inspected = open_archive(args[1]);
    if (!inspected) {
        err << "cbe-inspect: " << inspected.error().to_string() << "\n";
        return 1;
    }
    if (command == "info") {
        out << (json ? info_json(*inspected) : info_text(*inspected));
        return 0;
    }
    if (command == "disasm") {
        auto text = disassemble(*inspected, disasm);
        if (!text) {
            err << "cbe-inspect: " << text.error().to_string() << "\n";
            return 1;
        }
        out << *text;
        return 0;
    }
    auto report = extract(*inspected, *dir);
    if (!report) {
        err << "cbe-inspect: " << report.error().to_string() << "\n";
        return 1;
    }
    out << report->files.size() << " files written to " << *dir << "\n";
    for (const auto& f : report->failures) out << "kept raw, not decoded: " << f << "\n";
    return 0;
}

}  // namespace tarvel::inspect
