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

    // The fields in key order and the bytes written before each value
    // (`,\n    "key": `), worked out once for the keys of a row and used
    // again while the rows give the same keys in the same order.
    struct Layout {
        std::size_t count = 0;
        std::string_view keys[kMaxFields];  // as given
        std::uint8_t order[kMaxFields]{};   // fields_ indexes in key order
        std::string before[kMaxFields];     // in key order
        std::size_t beforeBytes = 0;        // their sizes added up
    };

    Field& add(std::string_view key, Kind kind);
    void layOut();
    char* room(std::size_t bytes);
    void flush();

    std::ostream& out_;
    std::string buffer_;  // what is not yet written to out_, then spare room
    std::size_t used_ = 0;
    Field fields_[kMaxFields];
    std::size_t fieldCount_ = 0;
    std::size_t valueBytes_ = 0;  // the most the values of the row take
    bool anyEscaped_ = false;
    bool sameKeys_ = true;        // so far, the keys of the layout
    Layout layout_;
    bool anyRow_ = false;
};

} // namespace tamsin::cli
