#pragma once
// The primitive encodings of the save-state payload: little-endian integers,
// bools as 0/1 bytes, u64-length byte vectors and UTF-8 strings, u64 counts.
//
// The writer runs twice over the same record: first without a buffer to count
// the exact size, then into one allocation of that size.
// The reader keeps the first error and returns zeros after it, so decoding
// code reads straight through and checks once at the end; every count is
// bounded by the bytes that remain before anything is reserved for it.

#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/bytes.hpp"
#include "common/error.hpp"
#include "common/utf8.hpp"

namespace tarvel::save_state_detail {

class PayloadWriter {
public:
    explicit PayloadWriter(u8* out = nullptr) : out_(out) {}

    void raw(const void* data, size_t n) {
        if (out_ && n) std::memcpy(out_ + pos_, data, n);
        pos_ += n;
    }
    void u8_(u8 v) { raw(&v, 1); }
    void boolean(bool v) { u8_(v ? 1 : 0); }
    void i16_(i16 v) {
        u8 b[2];
        store_le16(b, static_cast<u16>(v));
        raw(b, 2);
    }
    void u32_(u32 v) {
        u8 b[4];
        store_le32(b, v);
        raw(b, 4);
    }
    void u64_(u64 v) {
        u32_(static_cast<u32>(v));
        u32_(static_cast<u32>(v >> 32));
    }
    void count(size_t n) { u64_(n); }
    void blob(std::span<const u8> bytes) {
        count(bytes.size());
        raw(bytes.data(), bytes.size());
    }
    // Strings are written as they are; one that is not UTF-8 could not be
    // read back, so it fails the encoding instead.
    void text(std::string_view s) {
        if (error_.empty() && !utf8::is_valid(s)) error_ = "a string of the machine record is not valid UTF-8";
        count(s.size());
        raw(s.data(), s.size());
    }
    size_t size() const { return pos_; }
    const std::string& error() const { return error_; }

private:
    u8* out_;
    size_t pos_ = 0;
    std::string error_;
};

class PayloadReader {
public:
    explicit PayloadReader(std::span<const u8> in) : in_(in) {}

    bool failed() const { return !error_.empty(); }
    const std::string& error() const { return error_; }
    size_t remaining() const { return in_.size() - pos_; }
    // Records the first failure; later reads yield zeros.
    void fail(std::string message) {
        if (error_.empty()) error_ = std::move(message);
    }

    const u8* raw(size_t n);
    u8 u8_();
    bool boolean();
    i16 i16_();
    u32 u32_();
    u64 u64_();
    // An element count whose elements take at least `min_element_bytes` each.
    size_t count(size_t min_element_bytes);
    std::vector<u8> blob();
    std::string text();

private:
    std::span<const u8> in_;
    size_t pos_ = 0;
    std::string error_;
};

}  // namespace tarvel::save_state_detail
