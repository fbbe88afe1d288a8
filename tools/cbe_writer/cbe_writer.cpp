#include "cbe_writer/cbe_writer.hpp"

#include <cstdlib>

namespace tarvel::cbe_writer {

namespace {

void put_le32(std::vector<u8>& out, u32 v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<u8>(v >> (8 * i)));
}
void put_be32(std::vector<u8>& out, u32 v) {
    for (int i = 3; i >= 0; --i) out.push_back(static_cast<u8>(v >> (8 * i)));
}
void put_marker(std::vector<u8>& out, size_t count = 8) { out.insert(out.end(), count, 0xFE); }
void put_bytes(std::vector<u8>& out, std::span<const u8> bytes) { out.insert(out.end(), bytes.begin(), bytes.end()); }
void put_name(std::vector<u8>& out, const std::vector<u8>& name) {
    if (name.size() > 255) std::abort();  // a stored name has a one-byte length
    out.push_back(static_cast<u8>(name.size()));
    put_bytes(out, name);
}

u32 to_u32(size_t n) { return static_cast<u32>(n); }

}  // namespace

u32 word_sum(std::span<const u8> bytes, bool big_endian) {
    u32 sum = 0;
    for (size_t i = 0; i + 4 <= bytes.size(); i += 4) {
        u32 word = 0;
        for (size_t j = 0; j < 4; ++j) {
            const size_t shift = big_endian ? 8 * (3 - j) : 8 * j;
            word |= static_cast<u32>(bytes[i + j]) << shift;
        }
        sum += word;
    }
    return sum;
}

ResourceSpec resource(std::string_view name, std::vector<u8> data) {
    return ResourceSpec{std::vector<u8>(name.begin(), name.end()), std::move(data)};
}
ResourceSpec resource(std::vector<u8> name_bytes, std::vector<u8> data) {
    return ResourceSpec{std::move(name_bytes), std::move(data)};
}

NamedPackageSpec named_package(std::string_view name, PackageSpec package) {
    return NamedPackageSpec{std::vector<u8>(name.begin(), name.end()), std::move(package)};
}

std::vector<u8> encode_package(const PackageSpec& package) {
    std::vector<u8> tables;  // offset table and name table
    std::vector<u32> offsets;
    u32 data_total = 0;
    for (const ResourceSpec& r : package.resources) {
        offsets.push_back(data_total);
        data_total += to_u32(r.data.size());
    }
    for (u32 offset : package.offsets.value_or(offsets)) put_le32(tables, offset);
    for (const ResourceSpec& r : package.resources) put_name(tables, r.name);
    tables.insert(tables.end(), package.padding, 0);

    std::vector<u8> out;
    // The header length counts from the data-length word to the data area.
    put_le32(out, package.header_length.value_or(to_u32(8 + tables.size())));
    put_le32(out, package.data_length.value_or(data_total));
    put_le32(out, package.count.value_or(to_u32(package.resources.size())));
    put_bytes(out, tables);
    for (const ResourceSpec& r : package.resources) put_bytes(out, r.data);
    return out;
}

std::vector<u8> encode_single_package(const SinglePackageSpec& spec) {
    std::vector<u8> out;
    put_le32(out, spec.header_length);
    put_le32(out, spec.free_word.value_or(to_u32(spec.package.resources.size())));
    put_le32(out, spec.form);
    put_bytes(out, encode_package(spec.package));
    return out;
}

std::vector<u8> encode_directory(const DirectorySpec& spec) {
    std::vector<std::vector<u8>> packages;
    for (const NamedPackageSpec& named : spec.named) packages.push_back(encode_package(named.package));
    for (const PackageSpec& more : spec.more_packages) packages.push_back(encode_package(more));

    size_t entries_size = 0;
    for (const NamedPackageSpec& named : spec.named) entries_size += 1 + named.name.size() + 4;
    const size_t directory_end = 12 + entries_size + spec.padding;

    std::vector<u8> out;
    put_le32(out, spec.directory_length.value_or(to_u32(directory_end - 4)));
    put_le32(out, 0);
    put_le32(out, spec.count.value_or(to_u32(spec.named.size() + 1)));
    size_t package_at = directory_end;
    for (size_t i = 0; i < spec.named.size(); ++i) {
        put_name(out, spec.named[i].name);
        std::optional<u32> forced = i < spec.entry_offsets.size() ? spec.entry_offsets[i] : std::nullopt;
        put_le32(out, forced.value_or(to_u32(package_at)));
        package_at += packages[i].size();
    }
    out.insert(out.end(), spec.padding, 0);
    for (const std::vector<u8>& p : packages) put_bytes(out, p);
    return out;
}

BuiltCbe CbeBuilder::build_with_layout() const {
    BuiltCbe built;
    std::vector<u8>& out = built.bytes;
    CbeLayout& layout = built.layout;

    const u32 header_values[5] = {load_address, data_offset, data_address, data_size,
                                  segment_header_offset.value_or(header_gap)};
    for (u32 value : header_values) {
        put_marker(out);
        put_be32(out, value);
    }
    // Offset 60: the uninterpreted stretch of H + 8 bytes.
    out.insert(out.end(), static_cast<size_t>(header_gap) + 8, header_gap_fill);

    layout.segment_header = to_u32(out.size());
    const bool data_order = init_data_big_endian.value_or(big_endian);
    const bool embedded_order = embedded_big_endian.value_or(big_endian);
    const u32 segment_values[6] = {
        code_length.value_or(to_u32(code.size())),
        code_checksum.value_or(word_sum(code, big_endian)),
        init_data_length.value_or(to_u32(init_data.size())),
        init_data_checksum.value_or(word_sum(init_data, data_order)),
        embedded_length.value_or(to_u32(embedded.size())),
        embedded_checksum.value_or(word_sum(embedded, embedded_order)),
    };
    for (u32 value : segment_values) {
        put_marker(out);
        put_be32(out, value);
    }

    put_marker(out, separators[0]);
    layout.code_offset = to_u32(out.size());
    put_bytes(out, code);
    put_marker(out, separators[1]);
    layout.init_data_offset = to_u32(out.size());
    put_bytes(out, init_data);
    put_marker(out, separators[2]);
    layout.embedded_offset = to_u32(out.size());
    put_bytes(out, embedded);
    put_marker(out, separators[3]);
    layout.resource_length_offset = to_u32(out.size());
    put_be32(out, resource_length.value_or(to_u32(resource_package.size())));
    put_marker(out, separators[4]);
    layout.resource_offset = to_u32(out.size());
    put_bytes(out, resource_package);
    put_bytes(out, trailing);

    for (const auto& [offset, value] : patches) {
        if (offset < out.size()) out[offset] = value;
    }
    if (truncate_to && *truncate_to < out.size()) out.resize(*truncate_to);
    return built;
}

}  // namespace tarvel::cbe_writer
