#include "support/test_machine.hpp"

namespace tarvel::test {
namespace {

// The machine of `archive`; a refusal fails the test and gives a blank machine.
TarvelMachine build(const cbe::CbeArchive& archive) {
    auto built = machine::build_machine(archive);
    if (!built.ok()) {
        ADD_FAILURE() << built.error().to_string();
        return TarvelMachine();
    }
    return std::move(built).value();
}

std::optional<TarvelMachine> build_and_boot(Result<cbe::CbeArchive> archive, u64 budget) {
    if (!archive.ok()) {
        ADD_FAILURE() << archive.error().to_string();
        return std::nullopt;
    }
    auto built = machine::build_machine(archive.value());
    if (!built.ok()) {
        ADD_FAILURE() << built.error().to_string();
        return std::nullopt;
    }
    TarvelMachine m = std::move(built).value();
    if (const Status booted = machine::boot(m, budget); !booted.ok()) {
        ADD_FAILURE() << booted.error().to_string();
        return std::nullopt;
    }
    return m;
}

}  // namespace

TarvelMachine make_machine(const MachineSpec& spec) {
    cbe_writer::CbeBuilder b;
    b.load_address = machine::kDefaultCodeBase;
    b.code = spec.code;
    const u32 code_length = static_cast<u32>(spec.code.size());
    b.data_offset = spec.split_layout ? ((code_length + 0xFF) & ~0xFFu) + 0x100 : code_length;
    b.data_address = b.load_address + b.data_offset;
    b.data_size = 0x40;
    b.big_endian = spec.big_endian;
    b.init_data = {1, 2, 3, 4};
    b.embedded = {5, 6, 7, 8};
    if (spec.package) {
        b.resource_package = *spec.package;
    } else {
        cbe_writer::SinglePackageSpec package;
        package.package.resources = spec.resources;
        b.resource_package = cbe_writer::encode_single_package(package);
    }
    auto archive = cbe::parse_archive(b.build());
    if (!archive.ok()) {
        ADD_FAILURE() << archive.error().to_string();
        return TarvelMachine();
    }
    TarvelMachine m = build(archive.value());
    EXPECT_EQ(m.big_endian(), spec.big_endian);
    if (!spec.package) {
        EXPECT_EQ(m.resources.main_table.size(), spec.resources.size());
    }
    return m;
}

cbe::CbeArchive make_archive(const std::vector<u8>& code, const Layout& layout) {
    cbe::CbeArchive archive;
    archive.bytes = code;
    archive.bytes.insert(archive.bytes.end(), layout.init_data.begin(), layout.init_data.end());
    cbe::CbeExecutable& exe = archive.executable;
    exe.load_address = layout.load_address;
    exe.data_offset = layout.data_offset;
    exe.data_address = layout.data_address;
    exe.data_size = layout.data_size;
    exe.code_offset = 0;
    exe.code_length = static_cast<u32>(code.size());
    exe.init_data_offset = static_cast<u32>(code.size());
    exe.init_data_length = static_cast<u32>(layout.init_data.size());
    exe.big_endian = layout.big_endian ? 1 : 0;
    return archive;
}

TarvelMachine make_machine(const std::vector<u8>& code, const Layout& layout) {
    return build(make_archive(code, layout));
}

TarvelMachine blank_machine(bool big_endian) {
    Layout layout;
    layout.big_endian = big_endian;
    return make_machine({0xC0, 0x46}, layout);
}

std::vector<GuestBuild> guest_builds(const char* little, const char* big) {
    std::vector<GuestBuild> builds;
    if (little && *little) builds.push_back({little, false});
    if (big && *big) builds.push_back({big, true});
    return builds;
}

std::optional<TarvelMachine> boot_guest_build(const GuestBuild& build, u64 budget) {
    std::optional<TarvelMachine> m = build_and_boot(cbe::load_archive(build.cbe), budget);
    if (m) {
        EXPECT_EQ(m->big_endian(), build.big_endian);
    }
    return m;
}

std::optional<TarvelMachine> boot_file(std::vector<u8> file, u64 budget) {
    return build_and_boot(cbe::parse_archive(std::move(file)), budget);
}

void enter_thumb(TarvelMachine& m, u32 pc) {
    m.cpu.regs.set_cpsr(0x30);
    m.cpu.regs.r[13] = machine::kStackTop;
    m.cpu.regs.r[14] = machine::kReturnAddress;
    m.cpu.regs.r[15] = pc & ~1u;
}

namespace {
void set_arguments(TarvelMachine& m, std::span<const u32> args) {
    auto& r = m.cpu.regs.r;
    for (int i = 0; i < 4; ++i) r[i] = 0;
    r[13] = kTestStack;
    for (size_t n = 0; n < args.size(); ++n) {
        if (n < 4) r[n] = args[n];
        else m.memory.write32(kTestStack + 4 * static_cast<u32>(n - 4), args[n]);
    }
}
}  // namespace

u32 call(TarvelMachine& m, u32 group, u32 index, std::span<const u32> args) {
    set_arguments(m, args);
    machine::services::dispatch_service(m, group, index);
    return m.cpu.regs.r[0];
}

u32 call(TarvelMachine& m, machine::services::ServiceHandler handler, u32 index, std::span<const u32> args) {
    set_arguments(m, args);
    handler(m, index);
    return m.cpu.regs.r[0];
}

u32 put_string(TarvelMachine& m, std::span<const u8> bytes) {
    const u32 block = m.heap.allocate(static_cast<u32>(bytes.size() + 1));
    EXPECT_NE(block, 0u);
    m.memory.write_bytes(block, bytes);
    m.memory.write8(block + static_cast<u32>(bytes.size()), 0);
    return block;
}

}  // namespace tarvel::test
