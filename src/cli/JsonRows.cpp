#include "JsonRows.h"

#include <nlohmann/json.hpp>

#include <charconv>
#include <stdexcept>

namespace tamsin::cli {
namespace {

constexpr std::size_t kFlushBytes = 64 * 1024;

// Printable ASCII other than the quote and the backslash: the bytes a JSON
// string holds as they are.
bool plainText(std::string_view text)
{
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte > 0x7E || c == '"' || c == '\\')
            return false;
    }
    return true;
}

} // namespace

JsonRows::JsonRows(std::ostream& out) : out_(out)
{
    buffer_.reserve(kFlushBytes + 4096);
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
    add(key, Kind::Text).text = text;
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

void JsonRows::writeString(std::string_view text)
{
    if (plainText(text)) {
        buffer_ += '"';
        buffer_ += text;
        buffer_ += '"';
        return;
    }
    // Escapes, other code points and invalid UTF-8 (replaced by U+FFFD) are
    // left to nlohmann's own serializer, so they come out exactly as in a
    // document it prints.
    buffer_ += nlohmann::json(std::string(text)).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

void JsonRows::endRow()
{
    // nlohmann's objects are std::maps: their keys come out in byte order.
    // Rows are short and mostly given in order, so an insertion sort suffices.
    for (std::size_t i = 1; i < fieldCount_; ++i)
        for (std::size_t j = i; j > 0 && fields_[j].key < fields_[j - 1].key; --j)
            std::swap(fields_[j], fields_[j - 1]);

    buffer_ += anyRow_ ? ",\n  " : "[\n  ";
    anyRow_ = true;
    if (fieldCount_ == 0) {
        buffer_ += "{}";
    } else {
        buffer_ += "{\n";
        for (std::size_t i = 0; i < fieldCount_; ++i) {
            const Field& field = fields_[i];
            buffer_ += i == 0 ? "    " : ",\n    ";
            writeString(field.key);
            buffer_ += ": ";
            switch (field.kind) {
            case Kind::Text:
                writeString(field.text);
                break;
            case Kind::Boolean:
                buffer_ += field.number ? "true" : "false";
                break;
            case Kind::Number: {
                char digits[24];
                const auto end = std::to_chars(digits, digits + sizeof digits, field.number).ptr;
                buffer_.append(digits, end);
                break;
            }
            }
        }
        buffer_ += "\n  }";
    }
    fieldCount_ = 0;
    flushIfFull();
}

void JsonRows::finish()
{
    buffer_ += anyRow_ ? "\n]\n" : "[]\n";
    out_.write(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
    buffer_.clear();
    out_.flush();
}

void JsonRows::flushIfFull()
{
    if (buffer_.size() < kFlushBytes)
        return;
    out_.write(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
    buffer_.clear();
}

} // namespace tamsin::cli
