#pragma once
// The primitive encodings of the save-state payload: little-endian integers,
// bools as 0/1 bytes, u64-length byte vectors (a std::vector<u8>, or a
// std::span<const u8> that reading leaves inside the input) and UTF-8 strings,
// u64 counts, fixed arrays as their elements.
//
// PayloadWriter and PayloadReader are the two directions of one interface, so
// a record's field list is written once (see payload.cpp) and used for both:
//   ar(a, b, c)              the fields in order, each by its type;
//   ar.count(size, min)      a u64 count (while reading, bounded by the bytes
//                            left, `min` bytes per element);
//   ar.items(seq, n, visit)  the n elements of a sequence, each visited;
//   ar.optional(o, visit)    a present byte, then the value when present;
//   ar.check(ok, message)    a validation, checked only while reading.
// `Ar::Ref<T>` is how a visitor receives a record: const while writing.
//
// The writer runs twice over the same record: first without a buffer to count
// the exact size, then into one allocation of that size.
// The reader keeps the first error and returns zeros after it, so decoding
// code reads straight through and checks once at the end; every count is
// bounded by the bytes that remain before anything is reserved for it.

#include <array>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "common/bytes.hpp"
#include "common/error.hpp"
#include "common/utf8.hpp"

namespace tarvel::save_state_detail {

template <class T>
inline constexpr bool kIsFixedArray = false;
template <class T, size_t N>
inline constexpr bool kIsFixedArray<std::array<T, N>> = true;

template <class T>
inline constexpr bool kUnsupportedField = false;

class PayloadWriter {
public:
    static constexpr bool kLoading = false;
    template <class T>
    using Ref = const T&;

    explicit PayloadWriter(u8* out = nullptr) : out_(out) {}

    template <class... T>
    void operator()(const T&... values) {
        (put(values), ...);
    }

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
    size_t count(size_t n, size_t /*min_element_bytes*/ = 0) {
        u64_(n);
        return n;
    }
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

    template <class Seq, class Visit>
    void items(const Seq& seq, size_t /*count*/, Visit&& visit) {
        for (const auto& element : seq) visit(element);
    }
    template <class T, class Visit>
    void optional(const std::optional<T>& value, Visit&& visit) {
        boolean(value.has_value());
        if (value) visit(*value);
    }
    template <class Message>
    void check(bool, Message&&) {}

    bool failed() const { return !error_.empty(); }
    size_t size() const { return pos_; }
    const std::string& error() const { return error_; }

private:
    template <class T>
    void put(const T& v) {
        if constexpr (std::is_same_v<T, bool>) boolean(v);
        else if constexpr (std::is_same_v<T, u8>) u8_(v);
        else if constexpr (std::is_same_v<T, i16>) i16_(v);
        else if constexpr (std::is_same_v<T, u32>) u32_(v);
        else if constexpr (std::is_same_v<T, u64>) u64_(v);
        else if constexpr (std::is_same_v<T, std::vector<u8>> || std::is_same_v<T, std::span<const u8>>) blob(v);
        else if constexpr (std::is_same_v<T, std::string>) text(v);
        else if constexpr (kIsFixedArray<T>) for (const auto& element : v) put(element);
        else static_assert(kUnsupportedField<T>, "no encoding for this field type");
    }

    u8* out_;
    size_t pos_ = 0;
    std::string error_;
};

class PayloadReader {
public:
    static constexpr bool kLoading = true;
    template <class T>
    using Ref = T&;

    explicit PayloadReader(std::span<const u8> in) : in_(in) {}

    template <class... T>
    void operator()(T&... values) {
        (get(values), ...);
    }

    bool failed() const { return !error_.empty(); }
    const std::string& error() const { return error_; }
    size_t remaining() const { return in_.size() - pos_; }
    size_t position() const { return pos_; }
    // Records the first failure; later reads yield zeros.
    void fail(std::string message) {
        if (error_.empty()) error_ = std::move(message);
    }
    // `message` is a text or a callable that makes one (formatted only on failure).
    template <class Message>
    void check(bool ok, Message&& message) {
        if (ok || failed()) return;
        if constexpr (std::is_invocable_v<Message>) fail(std::string(message()));
        else fail(std::string(message));
    }

    const u8* raw(size_t n);
    u8 u8_();
    bool boolean();
    i16 i16_();
    u32 u32_();
    u64 u64_();
    // An element count whose elements take at least `min_element_bytes` each.
    size_t count(size_t min_element_bytes);
    size_t count(size_t /*written size*/, size_t min_element_bytes) { return count(min_element_bytes); }
    std::vector<u8> blob();
    // A byte vector left where it is in the input.
    std::span<const u8> blob_view();
    std::string text();

    // Reads `n` elements (stopping at the first failure) and appends each.
    template <class Seq, class Visit>
    void items(Seq& seq, size_t n, Visit&& visit) {
        for (size_t i = 0; i < n && !failed(); ++i) {
            typename Seq::value_type element{};
            visit(element);
            if constexpr (requires { seq.push_back(std::move(element)); }) seq.push_back(std::move(element));
            else seq.insert(seq.end(), std::move(element));
        }
    }
    template <class T, class Visit>
    void optional(std::optional<T>& value, Visit&& visit) {
        value.reset();
        if (!boolean() || failed()) return;
        T present{};
        visit(present);
        value = std::move(present);
    }

private:
    template <class T>
    void get(T& v) {
        if constexpr (std::is_same_v<T, bool>) v = boolean();
        else if constexpr (std::is_same_v<T, u8>) v = u8_();
        else if constexpr (std::is_same_v<T, i16>) v = i16_();
        else if constexpr (std::is_same_v<T, u32>) v = u32_();
        else if constexpr (std::is_same_v<T, u64>) v = u64_();
        else if constexpr (std::is_same_v<T, std::vector<u8>>) v = blob();
        else if constexpr (std::is_same_v<T, std::span<const u8>>) v = blob_view();
        else if constexpr (std::is_same_v<T, std::string>) v = text();
        else if constexpr (kIsFixedArray<T>) for (auto& element : v) get(element);
        else static_assert(kUnsupportedField<T>, "no encoding for this field type");
    }

    std::span<const u8> in_;
    size_t pos_ = 0;
    std::string error_;
};

}  // namespace tarvel::save_state_detail
