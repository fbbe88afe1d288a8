#pragma once
// Text that services read from and write to guest memory.
//
// Narrow guest strings are byte strings up to their NUL. Their encoding is
// decided by their first bytes: EF BB BF selects UTF-8, FF FE UTF-16LE, FE FF
// UTF-16BE (the mark itself is dropped); anything else is GBK (the web's GBK,
// which also accepts GB18030's four-byte sequences). A string marked as UTF-16
// ends at a zero 16-bit unit rather than at its first zero byte. Wide guest strings are
// 16-bit units in the guest's byte order up to a zero unit. Decoding never
// fails: every malformed sequence and every unpaired surrogate becomes U+FFFD,
// so the host side always holds valid UTF-8.
//
// Every service reads guest strings through the readers here, and all of them
// end a string at the first of:
// - its terminator (a NUL byte, or a zero unit);
// - its cap, one of the limits below;
// - a byte or unit that no region can read: the miss is recorded by guest
//   memory like any other unmapped access, and the call goes on with what was
//   read;
// - the top of the address space. Reading never wraps round to address 0: a
//   string laid against 0xFFFFFFFF ends there, as byte ranges do, and nothing
//   is recorded for the address that does not exist. (A wide unit at
//   0xFFFFFFFF straddles the top and is an ordinary unreadable unit.)

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/bytes.hpp"

namespace tarvel::machine {

class GuestMemory;

// Caps on the bytes read from a narrow guest string, by what it is.
inline constexpr u32 kModeLimit = 16;           // file open modes
inline constexpr u32 kResourceNameLimit = 256;  // resource and package names
inline constexpr u32 kUrlLimit = 256;           // network request URLs
inline constexpr u32 kDecimalTextLimit = 256;   // numbers parsed from text
inline constexpr u32 kPathLimit = 512;          // file and sound paths
// Drawn, measured and compared text, format strings and their %s arguments,
// and the guest's semihosting output.
inline constexpr u32 kTextLimit = 4096;
// Byte-string lengths and comparisons of the string library.
inline constexpr u32 kByteStringLimit = 65536;
// Cap on the units read from a wide guest string, and on the bytes of a byte
// string converted to one.
inline constexpr u32 kWideStringLimit = 32768;

// ---- decoding bytes already read ----

// Decodes narrow-string bytes (no NUL inside) to UTF-8: byte-order mark, else GBK.
std::string decode_narrow(std::span<const u8> bytes);
// Decodes UTF-16 units to UTF-8; unpaired surrogates become U+FFFD.
std::string decode_utf16(std::u16string_view units);

// ---- reading from guest memory ----

// The bytes at `address` up to the first NUL, at most `limit` of them.
std::vector<u8> read_narrow_bytes(GuestMemory& memory, u32 address, u32 limit);
// The same bytes in a host string, not decoded: for text taken byte for byte
// (format strings, numbers, open modes, URLs, semihosting output).
std::string read_byte_string(GuestMemory& memory, u32 address, u32 limit);
// A narrow guest string, decoded. A string that starts with a UTF-16 mark
// (FF FE or FE FF) runs to its first zero 16-bit unit instead of its first
// zero byte, so that UTF-16 text with Latin letters in it reads whole; the
// byte limit counts the mark.
std::string read_narrow_string(GuestMemory& memory, u32 address, u32 limit);
// The 16-bit units (guest byte order) at `address` up to a zero unit, at most
// `max_units` of them, not decoded.
std::u16string read_wide_units(GuestMemory& memory, u32 address, u32 max_units = kWideStringLimit);
// A wide guest string up to its zero unit, at most `max_units` units, decoded.
std::string read_wide_string(GuestMemory& memory, u32 address, u32 max_units = kWideStringLimit);
// A string that may be either: when the byte at address + 1 is nonzero it is
// narrow (at most `narrow_limit` bytes), otherwise wide. Used for paths, which
// applications pass in both forms.
std::string read_narrow_or_wide_string(GuestMemory& memory, u32 address, u32 narrow_limit = kPathLimit);

// ---- converting host text ----

// UTF-8 to UTF-16 units (the input is expected valid; malformed bytes give U+FFFD).
std::u16string to_utf16(std::string_view utf8);
// UTF-8 to code points (malformed bytes give U+FFFD).
std::u32string to_code_points(std::string_view utf8);
// UTF-8 to GBK bytes: ASCII stays as it is, characters that have a one- or
// two-byte GBK form get it (U+20AC is the single byte 0x80), anything without
// one becomes '?'. No NUL is appended.
std::vector<u8> encode_gbk(std::string_view utf8);

// ASCII-only case folding (A-Z to a-z) equality of two byte strings, the
// comparison the platform uses for resource names.
bool equal_ignoring_ascii_case(std::string_view a, std::string_view b);

}  // namespace tarvel::machine
