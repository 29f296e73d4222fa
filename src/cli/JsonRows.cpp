#include "JsonRows.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <numeric>
#include <stdexcept>

namespace tamsin::cli {
namespace {

constexpr std::size_t kFlushBytes = 64 * 1024;

constexpr std::uint64_t kOnes = 0x0101010101010101;
constexpr std::uint64_t kHighs = 0x8080808080808080;

// Non-zero when one of the eight bytes of word is zero.
constexpr std::uint64_t zeroByte(std::uint64_t word)
{
    return (word - kOnes) & ~word & kHighs;
}

// Non-zero when one of the eight bytes of word is not plain, that is not
// printable ASCII other than the quote and the backslash: the bytes a JSON
// string holds as they are.
constexpr std::uint64_t notPlain(std::uint64_t word)
{
    return (word & kHighs) | ((word - kOnes * 0x20) & ~word & kHighs) | zeroByte(word ^ (kOnes * 0x7F))
        | zeroByte(word ^ (kOnes * '"')) | zeroByte(word ^ (kOnes * '\\'));
}

std::uint64_t load8(const char* bytes)
{
    std::uint64_t word;
    std::memcpy(&word, bytes, 8);
    return word;
}

std::uint64_t load4(const char* bytes)
{
    std::uint32_t word;
    std::memcpy(&word, bytes, 4);
    return word;
}

bool plainText(std::string_view text)
{
    // Eight bytes at a time, the last eight read again where they overlap;
    // shorter texts in two overlapping halves, or with plain 'A's around them.
    const char* bytes = text.data();
    const std::size_t size = text.size();
    std::uint64_t found = 0;
    if (size >= 8) {
        for (std::size_t i = 0; i + 8 <= size; i += 8)
            found |= notPlain(load8(bytes + i));
        found |= notPlain(load8(bytes + size - 8));
    } else if (size >= 4) {
        found = notPlain(load4(bytes) | load4(bytes + size - 4) << 32);
    } else {
        std::uint64_t word = kOnes * 'A';
        for (std::size_t i = 0; i < size; ++i)
            word = word << 8 | static_cast<unsigned char>(bytes[i]);
        found = notPlain(word);
    }
    return found == 0;
}

// text as a JSON string, quotes included. Escapes, other code points and
// invalid UTF-8 (replaced by U+FFFD) are left to nlohmann's own serializer,
// so they come out exactly as in a document it prints.
std::string escapedText(std::string_view text)
{
    return nlohmann::json(std::string(text)).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

char* put(char* to, std::string_view text)
{
    std::memcpy(to, text.data(), text.size());
    return to + text.size();
}

} // namespace

JsonRows::JsonRows(std::ostream& out) : out_(out)
{
    buffer_.resize(2 * kFlushBytes);
}

JsonRows::Field& JsonRows::add(std::string_view key, Kind kind)
{
    if (fieldCount_ == kMaxFields)
        throw std::length_error("a JSON row has more than 16 fields");
    // Rows of a listing give the same keys, the same literals, in the same order.
    sameKeys_ = sameKeys_ && fieldCount_ < layout_.count && layout_.keys[fieldCount_].data() == key.data()
        && layout_.keys[fieldCount_].size() == key.size();
    Field& field = fields_[fieldCount_++];
    field.key = key;
    field.kind = kind;
    return field;
}

JsonRows& JsonRows::field(std::string_view key, std::string_view text)
{
    Field& field = add(key, Kind::Text);
    if (plainText(text)) {
        field.text = text;
        valueBytes_ += text.size() + 2;
    } else {
        field.text = {};
        field.escaped = escapedText(text);
        valueBytes_ += field.escaped.size();
        anyEscaped_ = true;
    }
    return *this;
}

JsonRows& JsonRows::field(std::string_view key, bool value)
{
    add(key, Kind::Boolean).number = value ? 1 : 0;
    valueBytes_ += 5;
    return *this;
}

JsonRows& JsonRows::field(std::string_view key, std::uint64_t value)
{
    add(key, Kind::Number).number = value;
    valueBytes_ += 20;
    return *this;
}

void JsonRows::layOut()
{
    layout_.count = fieldCount_;
    layout_.beforeBytes = 0;
    for (std::size_t i = 0; i < fieldCount_; ++i)
        layout_.keys[i] = fields_[i].key;
    // nlohmann's objects are std::maps: their keys come out in byte order.
    std::iota(layout_.order, layout_.order + fieldCount_, std::uint8_t{0});
    std::sort(layout_.order, layout_.order + fieldCount_,
              [&](std::uint8_t a, std::uint8_t b) { return fields_[a].key < fields_[b].key; });
    for (std::size_t k = 0; k < fieldCount_; ++k) {
        const std::string_view key = fields_[layout_.order[k]].key;
        layout_.before[k] = k == 0 ? "{\n    " : ",\n    ";
        layout_.before[k] += plainText(key) ? "\"" + std::string(key) + "\"" : escapedText(key);
        layout_.before[k] += ": ";
        layout_.beforeBytes += layout_.before[k].size();
    }
}

char* JsonRows::room(std::size_t bytes)
{
    if (used_ + bytes > buffer_.size()) {
        flush();
        if (bytes > buffer_.size())
            buffer_.resize(bytes);
    }
    return buffer_.data() + used_;
}

void JsonRows::endRow()
{
    if (!sameKeys_ || fieldCount_ != layout_.count)
        layOut();
    // `,\n  ` and `\n  }` around the fields, the bytes before each value and
    // the most the values take.
    char* const start = room(8 + layout_.beforeBytes + valueBytes_);
    char* to = put(start, anyRow_ ? ",\n  " : "[\n  ");
    anyRow_ = true;
    for (std::size_t k = 0; k < fieldCount_; ++k) {
        const Field& field = fields_[layout_.order[k]];
        to = put(to, layout_.before[k]);
        switch (field.kind) {
        case Kind::Text:
            if (field.escaped.empty()) {
                *to++ = '"';
                to = put(to, field.text);
                *to++ = '"';
            } else {
                to = put(to, field.escaped);
            }
            break;
        case Kind::Boolean:
            to = put(to, field.number ? "true" : "false");
            break;
        case Kind::Number:
            to = std::to_chars(to, to + 20, field.number).ptr;
            break;
        }
    }
    to = put(to, fieldCount_ == 0 ? "{}" : "\n  }");
    used_ += static_cast<std::size_t>(to - start);
    if (anyEscaped_)
        for (std::size_t i = 0; i < fieldCount_; ++i)
            fields_[i].escaped.clear();
    anyEscaped_ = false;
    fieldCount_ = 0;
    valueBytes_ = 0;
    sameKeys_ = true;
    if (used_ >= kFlushBytes)
        flush();
}

void JsonRows::finish()
{
    const std::string_view end = anyRow_ ? "\n]\n" : "[]\n";
    used_ = static_cast<std::size_t>(put(room(end.size()), end) - buffer_.data());
    flush();
    out_.flush();
}

void JsonRows::flush()
{
    out_.write(buffer_.data(), static_cast<std::streamsize>(used_));
    used_ = 0;
}

} // namespace tamsin::cli
