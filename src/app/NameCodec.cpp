#include "NameCodec.h"

#include <cerrno>
#include <iconv.h>

namespace tamsin::app {

NameCodec::NameCodec(const std::string& codePage) :
    toUtf8_(std::make_unique<CodePageConverter>(codePage)), codePage_(codePage)
{
}

const std::vector<std::string>& NameCodec::codePages()
{
    static const std::vector<std::string> pages = {"CP437", "CP850", "CP852", "CP855", "CP857", "CP860",
                                                   "CP861", "CP862", "CP863", "CP865", "CP866", "CP869"};
    return pages;
}

bool NameCodec::setCodePage(const std::string& codePage)
{
    // iconv takes an empty name for the locale's encoding, not a code page.
    if (codePage.empty())
        return false;
    auto converter = std::make_unique<CodePageConverter>(codePage);
    if (!converter->valid())
        return false;
    toUtf8_ = std::move(converter);
    codePage_ = codePage;
    return true;
}

NameCodec::~NameCodec() = default;

QString NameCodec::toDisplay(const std::string& raw) const
{
    return QString::fromStdString(toUtf8_->toUtf8(raw));
}

std::optional<std::string> NameCodec::toRaw(const QString& name) const
{
    const QByteArray utf8 = name.toUtf8();
    iconv_t cd = iconv_open(codePage_.c_str(), "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        // Without the code page only plain ASCII can be written back as it is.
        for (QChar c : name)
            if (c.unicode() > 0x7F)
                return std::nullopt;
        return utf8.toStdString();
    }
    std::string out(static_cast<std::size_t>(utf8.size()) * 4 + 4, '\0');
    char* in = const_cast<char*>(utf8.data());
    std::size_t inLeft = static_cast<std::size_t>(utf8.size());
    char* dst = out.data();
    std::size_t dstLeft = out.size();
    const std::size_t rc = iconv(cd, &in, &inLeft, &dst, &dstLeft);
    iconv_close(cd);
    if (rc == static_cast<std::size_t>(-1))
        return std::nullopt;
    out.resize(out.size() - dstLeft);
    return out;
}

std::string NameCodec::toPattern(const QString& text) const
{
    if (auto whole = toRaw(text))
        return *whole;
    std::string out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        // A surrogate pair is one character.
        const qsizetype length = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const auto one = toRaw(text.mid(i, length));
        out += one ? *one : std::string("?");
        i += length - 1;
    }
    return out;
}

} // namespace tamsin::app
