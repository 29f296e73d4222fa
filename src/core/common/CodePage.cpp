#include "common/CodePage.h"

#include <algorithm>
#include <cerrno>
#include <iconv.h>
#include <mutex>

namespace tamsin {

struct CodePageConverter::Handle {
    explicit Handle(iconv_t descriptor) : cd(descriptor) {}
    iconv_t cd;
    std::mutex lock;  // an iconv descriptor carries state; one conversion at a time
};

CodePageConverter::CodePageConverter(const std::string& codePage)
{
    iconv_t cd = iconv_open("UTF-8", codePage.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1))
        return;
    handle_ = std::make_unique<Handle>(cd);
    // Each byte alone, and all of them in a row: a byte that shifts a state
    // or starts a sequence converts to something else (or nothing) alone.
    std::string all;
    bool same = true;
    for (int c = 0; c < 0x80; ++c) {
        const std::string one(1, static_cast<char>(c));
        same = same && convert(one) == one;
        all += one;
    }
    asciiAsItself_ = same && convert(all) == all;
}

CodePageConverter::~CodePageConverter()
{
    if (handle_)
        iconv_close(handle_->cd);
}

std::string CodePageConverter::toUtf8(std::string_view raw) const
{
    if (!handle_)
        return std::string(raw);
    if (asciiAsItself_ && std::all_of(raw.begin(), raw.end(), [](char c) { return (c & 0x80) == 0; }))
        return std::string(raw);
    return convert(raw);
}

std::string CodePageConverter::convert(std::string_view raw) const
{
    std::lock_guard guard(handle_->lock);
    iconv(handle_->cd, nullptr, nullptr, nullptr, nullptr);

    std::string out;
    out.reserve(raw.size() * 2);
    char buffer[256];
    char* in = const_cast<char*>(raw.data());
    std::size_t inLeft = raw.size();
    while (inLeft > 0) {
        char* dst = buffer;
        std::size_t dstLeft = sizeof buffer;
        std::size_t rc = iconv(handle_->cd, &in, &inLeft, &dst, &dstLeft);
        out.append(buffer, static_cast<std::size_t>(dst - buffer));
        if (rc == static_cast<std::size_t>(-1)) {
            if (errno == E2BIG)
                continue;
            out += "\xEF\xBF\xBD";  // an unmappable or invalid byte
            ++in;
            --inLeft;
        }
    }
    return out;
}

} // namespace tamsin
