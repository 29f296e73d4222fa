#include "JsonRows.h"

#include <nlohmann/json.hpp>

#include <array>
#include <charconv>
#include <cstring>
#include <stdexcept>

namespace tamsin::cli {
namespace {

constexpr std::size_t kFlushBytes = 64 * 1024;

// Printable ASCII other than the quote and the backslash: the bytes a JSON
// string holds as they are.
constexpr auto kPlainByte = [] {
    std::array<bool, 256> plain{};
    for (int c = 0x20; c <= 0x7E; ++c)
        plain[static_cast<std::size_t>(c)] = c != '"' && c != '\\';
    return plain;
}();

bool plainText(std::string_view text)
{
    // Without an early exit: names are short and nearly always plain.
    bool plain = true;
    for (const char c : text)
        plain &= kPlainByte[static_cast<unsigned char>(c)];
    return plain;
}

char* put(char* to, std::string_view text)
{
    std::memcpy(to, text.data(), text.size());
    return to + text.size();
}

char* putQuoted(char* to, std::string_view text)
{
    *to++ = '"';
    to = put(to, text);
    *to++ = '"';
    return to;
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
    } else {
        field.text = {};
        // Escapes, other code points and invalid UTF-8 (replaced by U+FFFD)
        // are left to nlohmann's own serializer, so they come out exactly as
        // in a document it prints.
        field.escaped = nlohmann::json(std::string(text)).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    }
    return *this;
}

JsonRows& JsonRows::field(std::string_view key, bool value)
{
    add(key, Kind::Boolean).number = value ? 1 : 0;
    return *this;
}

JsonRows& JsonRows::field(std::string_view key, std::uint64_t value)
{
    add(key, Kind::Number).number = value;
    return *this;
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
    // nlohmann's objects are std::maps: their keys come out in byte order.
    // Rows are short and mostly given in order, so an insertion sort suffices.
    for (std::size_t i = 1; i < fieldCount_; ++i)
        for (std::size_t j = i; j > 0 && fields_[j].key < fields_[j - 1].key; --j)
            std::swap(fields_[j], fields_[j - 1]);

    // The most the row can take: `,\n  {\n` and `\n  }` around the fields,
    // each `    "key": value,\n` with at most 20 digits for a number.
    std::size_t most = 12;
    for (std::size_t i = 0; i < fieldCount_; ++i)
        most += fields_[i].key.size() + 10
            + (fields_[i].kind == Kind::Text ? fields_[i].text.size() + fields_[i].escaped.size() : 20);
    char* const start = room(most);
    char* to = put(start, anyRow_ ? ",\n  " : "[\n  ");
    anyRow_ = true;
    if (fieldCount_ == 0) {
        to = put(to, "{}");
    } else {
        to = put(to, "{\n");
        for (std::size_t i = 0; i < fieldCount_; ++i) {
            const Field& field = fields_[i];
            to = put(to, i == 0 ? "    " : ",\n    ");
            to = putQuoted(to, field.key);
            to = put(to, ": ");
            switch (field.kind) {
            case Kind::Text:
                // Plain texts get their quotes here; escaped ones have them.
                to = field.escaped.empty() ? putQuoted(to, field.text) : put(to, field.escaped);
                break;
            case Kind::Boolean:
                to = put(to, field.number ? "true" : "false");
                break;
            case Kind::Number:
                to = std::to_chars(to, to + 20, field.number).ptr;
                break;
            }
        }
        to = put(to, "\n  }");
    }
    used_ += static_cast<std::size_t>(to - start);
    for (std::size_t i = 0; i < fieldCount_; ++i)
        fields_[i].escaped.clear();
    fieldCount_ = 0;
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
