#pragma once
// Names on the volume are raw bytes in its DOS code page; the GUI shows
// them as Unicode and writes renamed names back as bytes.

#include "common/CodePage.h"

#include <QString>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tamsin::app {

class NameCodec {
public:
    explicit NameCodec(const std::string& codePage = "CP437");
    ~NameCodec();
    NameCodec(const NameCodec&) = delete;
    NameCodec& operator=(const NameCodec&) = delete;

    // The DOS code pages offered to the user, as iconv names.
    static const std::vector<std::string>& codePages();
    const std::string& codePage() const { return codePage_; }
    // False, with the code page kept, when the system does not know codePage.
    bool setCodePage(const std::string& codePage);

    QString toDisplay(const std::string& raw) const;
    // The bytes for a name typed by the user, or nothing when the code page
    // cannot represent it.
    std::optional<std::string> toRaw(const QString& name) const;
    // The bytes of a pattern typed by the user (a search or a filter): a
    // character the code page cannot hold becomes "?", which stands for any
    // one character.
    std::string toPattern(const QString& text) const;

private:
    std::unique_ptr<CodePageConverter> toUtf8_;
    std::string codePage_;
};

} // namespace tamsin::app
