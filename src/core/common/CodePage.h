#pragma once
// Conversion of names stored in a volume's DOS code page to UTF-8 for display.

#include <memory>
#include <string>
#include <string_view>

namespace tamsin {

class CodePageConverter {
public:
    // codePage is an iconv name such as "CP437" or "CP850". valid() is false
    // when the system does not know it.
    explicit CodePageConverter(const std::string& codePage = "CP437");
    ~CodePageConverter();
    CodePageConverter(const CodePageConverter&) = delete;
    CodePageConverter& operator=(const CodePageConverter&) = delete;

    bool valid() const { return handle_ != nullptr; }

    // Bytes the code page cannot map are shown as U+FFFD.
    std::string toUtf8(std::string_view raw) const;

private:
    std::string convert(std::string_view raw) const;

    struct Handle;
    std::unique_ptr<Handle> handle_;
    // The code page maps every ASCII byte to itself (CP437, CP850, ...):
    // names in ASCII, nearly all of them, are taken as they are.
    bool asciiAsItself_ = false;
};

} // namespace tamsin
