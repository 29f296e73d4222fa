#pragma once
// Owns an error object of one of the container libraries and turns it into
// one line for messages. Internal to the container devices.

#include <string>

namespace tamsin {

// Sprint is the library's error_backtrace_sprint.
template <typename Error, int (*Sprint)(Error*, char*, std::size_t), void (*Free)(Error**)>
class LibraryError {
public:
    LibraryError() = default;
    LibraryError(const LibraryError&) = delete;
    LibraryError& operator=(const LibraryError&) = delete;
    ~LibraryError() { clear(); }

    // For the library call to fill; an earlier error is freed first.
    Error** out()
    {
        clear();
        return &error_;
    }

    void clear()
    {
        if (error_)
            Free(&error_);
        error_ = nullptr;
    }

    // The innermost cause the library recorded, without its function name;
    // fallback when the library recorded none.
    std::string message(const char* fallback) const
    {
        if (!error_)
            return fallback;
        char text[1024] = {};
        if (Sprint(error_, text, sizeof text) <= 0)
            return fallback;
        // The backtrace lists the innermost call first, one call a line.
        std::string line(text);
        line = line.substr(0, line.find('\n'));
        while (!line.empty() && (line.back() == '.' || line.back() == '\r'))
            line.pop_back();
        if (const auto colon = line.find(": "); colon != std::string::npos && line.find(' ') > colon)
            line = line.substr(colon + 2);
        return line.empty() ? fallback : line;
    }

private:
    Error* error_ = nullptr;
};

} // namespace tamsin
