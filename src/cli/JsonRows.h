#pragma once
// The JSON listings of the commands, written row by row as they are made.
// The bytes are those nlohmann::json prints for the whole array with
// dump(2, ' ', false, error_handler_t::replace) and a newline after it: keys
// in byte order, two blanks of indent per level, "[]" for no rows. Only the
// row being written is held, so a listing of a million entries takes no
// more memory than one of ten.

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

namespace tamsin::cli {

class JsonRows {
public:
    // Rows are written to out in pieces of some 64 KiB; a listing that
    // stops before finish() leaves an unfinished document.
    explicit JsonRows(std::ostream& out);
    JsonRows(const JsonRows&) = delete;
    JsonRows& operator=(const JsonRows&) = delete;

    // Fields of the current row, in any order; each key once, printable
    // ASCII without quotes or backslashes. The key and text are referred to,
    // not copied: they must live until endRow().
    JsonRows& field(std::string_view key, std::string_view text);
    JsonRows& field(std::string_view key, const char* text) { return field(key, std::string_view(text)); }
    JsonRows& field(std::string_view key, bool value);
    JsonRows& field(std::string_view key, std::uint64_t value);
    JsonRows& field(std::string_view key, std::uint32_t value) { return field(key, std::uint64_t{value}); }

    // Writes the current row.
    void endRow();
    // Closes the array, ends the line and flushes.
    void finish();

private:
    enum class Kind : std::uint8_t { Text, Boolean, Number };
    struct Field {
        std::string_view key;
        Kind kind = Kind::Text;
        std::string_view text;     // a plain text, written between quotes as it is
        std::uint64_t number = 0;  // also the boolean
        std::string escaped;       // or the written form of a text that needs escapes
    };
    static constexpr std::size_t kMaxFields = 16;

    Field& add(std::string_view key, Kind kind);
    char* room(std::size_t bytes);
    void flush();

    std::ostream& out_;
    std::string buffer_;  // what is not yet written to out_, then spare room
    std::size_t used_ = 0;
    Field fields_[kMaxFields];
    std::size_t fieldCount_ = 0;
    bool anyRow_ = false;
};

} // namespace tamsin::cli
