#include "common/CodePage.h"

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
    if (cd != reinterpret_cast<iconv_t>(-1))
        handle_ = std::make_unique<Handle>(cd);
}

CodePageConverter::~CodePageConverter()
{
    if (handle_)
        iconv_close(handle_->cd);
}

std::string CodePageConverter::toUtf8(const std::string& raw) const
{
    if (!handle_)
        return raw;
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
