#pragma once
// The data service (group 21): the application's packaged resources in guest
// memory, and the guest-side resource directory that lists them.
//
// The machine copies each resource of the main resource table once into the
// guest heap (data bytes, and the name as a NUL-terminated GBK string) and
// remembers the addresses in `TarvelMachine::loaded_resources`. A resource
// directory is a record in guest memory (layout below) whose arrays point at
// those copies; lookups by number and by name work on such a record. The
// utility service, the drawing service and the audio service resolve resources
// through the directory registered in the resource directory word and fall
// back to the machine's own copies; those lookups are offered here too.

#include <optional>
#include <string_view>

#include "common/bytes.hpp"
#include "machine/machine.hpp"

namespace tarvel::machine::services {

// The guest word holding the address of the application's resource directory (or 0).
inline constexpr u32 kResourceDirectoryWord = kSystemWordA;

// Byte offsets inside a resource directory record. The record spans
// kResourceDirectorySize bytes; the constructor writes the first 104.
namespace directory {
inline constexpr u32 kConstructed = 0;       // u8: 1 once constructed
inline constexpr u32 kPackageName = 4;       // u32: a sub-directory's package name string
inline constexpr u32 kCount = 8;             // u16: resources listed (0 until loaded)
inline constexpr u32 kSubdirectoryCount = 10;  // u16: sub-directories in the array at kSubdirectories
inline constexpr u32 kNames = 12;            // u32: array of name string addresses
inline constexpr u32 kData = 16;             // u32: array of data addresses
inline constexpr u32 kIds = 20;              // u32: array of 16-bit resource identifiers
inline constexpr u32 kClearedOnLoad = 24;    // u32
inline constexpr u32 kSubdirectories = 28;   // u32: array of sub-directory addresses
inline constexpr u32 kOperations = 32;       // 11 x u32: stubs of group 21 indices 0..10
inline constexpr u32 kExtraOperation = 80;   // u32: stub of group 21 index 11
inline constexpr u32 kNoEntry = 92;          // u32: 0xFFFFFFFF after construction
inline constexpr u32 kClearedOnLoad2 = 96;   // u32
inline constexpr u32 kReserved = 100;        // u32
inline constexpr u32 kWrittenBytes = 104;
}  // namespace directory
inline constexpr u32 kResourceDirectorySize = 108;

// Result of the constructor: the stub of group 21 index 10.
inline constexpr u32 kDirectoryConstructorResult = 0x0C005428;

// Lays out a resource directory at `record` with room for `entries`
// sub-directories; returns kDirectoryConstructorResult.
u32 construct_resource_directory(TarvelMachine& machine, u32 record, u32 entries);

// Copies the main resource table into the guest heap unless that happened
// already. Returns false when the table is empty.
bool ensure_main_package_copied(TarvelMachine& machine);

// The load operation (group 21 index 4): copies the main package once, points
// the directory at it, then fills the directory's sub-directories from the
// named packages they name.
void load_main_package(TarvelMachine& machine, u32 record);

// Lookups inside one directory record. Numbers at or past the directory's
// count find nothing; names are read from guest memory and compared ignoring
// ASCII case.
u32 directory_data_address(TarvelMachine& machine, u32 record, u32 number);
u32 directory_name_address(TarvelMachine& machine, u32 record, u32 number);
std::optional<u32> directory_number_by_name(TarvelMachine& machine, u32 record, std::string_view name);

// Machine-wide lookups: the directory in the resource directory word first
// (when nonzero and it has an answer), then the machine's copies of the main
// table. Names are UTF-8; the fallback compares them with the main table's
// names ignoring ASCII case. 0 (or nothing) when not found.
u32 resource_data_address(TarvelMachine& machine, u32 number);
u32 resource_name_address(TarvelMachine& machine, u32 number);
std::optional<u32> resource_number_by_name(TarvelMachine& machine, std::string_view name);

// Group 21.
void data_service(TarvelMachine& machine, u32 index);

}  // namespace tarvel::machine::services
