#include "imagebuilder/JsonFields.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace tamsin::imagebuilder::detail {

using nlohmann::json;

void fail(const std::string& where, const std::string& message)
{
    throw DescriptionError(where.empty() ? message : where + ": " + message);
}

std::string member(const std::string& where, const std::string& key)
{
    return where.empty() ? key : where + "." + key;
}

std::string element(const std::string& where, std::size_t index)
{
    return where + "[" + std::to_string(index) + "]";
}

void requireObject(const json& value, const std::string& where, std::initializer_list<std::string_view> allowed)
{
    if (!value.is_object())
        fail(where, "expected an object");
    for (const auto& item : value.items())
        if (std::find(allowed.begin(), allowed.end(), item.key()) == allowed.end())
            fail(member(where, item.key()), "unknown key");
}

const json& requireArray(const json& value, const std::string& where)
{
    if (!value.is_array())
        fail(where, "expected an array");
    return value;
}

std::uint64_t number(const json& value, const std::string& where, std::uint64_t max)
{
    std::uint64_t result = 0;
    if (value.is_number_unsigned()) {
        result = value.get<std::uint64_t>();
    } else if (value.is_number_integer()) {
        fail(where, "must not be negative");
    } else if (value.is_string()) {
        const std::string& text = value.get_ref<const std::string&>();
        const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
        const char* first = text.data() + (hex ? 2 : 0);
        const char* last = text.data() + text.size();
        const auto [end, error] = std::from_chars(first, last, result, hex ? 16 : 10);
        if (first == last || error == std::errc::invalid_argument || end != last)
            fail(where, "\"" + text + "\" is not a decimal or 0x hexadecimal number");
        if (error == std::errc::result_out_of_range)
            fail(where, "\"" + text + "\" is too large");
    } else {
        fail(where, "expected a number");
    }
    if (result > max)
        fail(where, std::to_string(result) + " is larger than " + std::to_string(max));
    return result;
}

std::uint32_t u32(const json& value, const std::string& where)
{
    return static_cast<std::uint32_t>(number(value, where, kMaxU32));
}

bool boolean(const json& value, const std::string& where)
{
    if (!value.is_boolean())
        fail(where, "expected true or false");
    return value.get<bool>();
}

bool isAuto(const json& value)
{
    return value.is_string() && value.get_ref<const std::string&>() == "auto";
}

std::array<std::uint32_t, 2> blockPair(const json& value, const std::string& where)
{
    if (!value.is_array() || value.size() != 2)
        fail(where, "expected an array of two block numbers");
    return {u32(value[0], element(where, 0)), u32(value[1], element(where, 1))};
}

std::vector<std::uint8_t> hexBytes(const std::string& text, const std::string& where)
{
    std::string digits;
    for (char c : text)
        if (c != ' ' && c != '\t' && c != '\n' && c != ':')
            digits += c;
    if (digits.size() % 2 != 0)
        fail(where, "odd number of hex digits");
    std::vector<std::uint8_t> bytes(digits.size() / 2);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char* first = digits.data() + 2 * i;
        const auto [end, error] = std::from_chars(first, first + 2, bytes[i], 16);
        if (error != std::errc{} || end != first + 2)
            fail(where, "\"" + digits.substr(2 * i, 2) + "\" is not a hex byte");
    }
    return bytes;
}

std::string nameBytes(const json& value, const std::string& where)
{
    if (value.is_string())
        return value.get<std::string>();
    if (value.is_object()) {
        requireObject(value, where, {"hex"});
        if (value.contains("hex") && value.at("hex").is_string()) {
            const auto bytes = hexBytes(value.at("hex").get<std::string>(), member(where, "hex"));
            return std::string(bytes.begin(), bytes.end());
        }
    }
    fail(where, "expected a string or {\"hex\": \"...\"}");
}

std::uint32_t dateTime(const json& value, const std::string& where)
{
    if (!value.is_string())
        fail(where, "expected \"YYYY-MM-DD hh:mm:ss\"");
    const std::string& text = value.get_ref<const std::string&>();
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    char tail = 0;
    const int fields =
        std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &year, &month, &day, &hour, &minute, &second, &tail);
    const bool shapeOk = (fields == 3 && text.size() == 10) || (fields == 6 && text.size() == 19);
    const bool rangeOk = year >= 1980 && year <= 2059 && month >= 1 && month <= 12 && day >= 1 && day <= 31
        && hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59 && second >= 0 && second <= 59;
    if (!shapeOk || !rangeOk)
        fail(where, "\"" + text + "\" is not a date \"YYYY-MM-DD hh:mm:ss\" between 1980 and 2059");
    return packDateTime(year, month, day, hour, minute, second);
}

} // namespace tamsin::imagebuilder::detail
