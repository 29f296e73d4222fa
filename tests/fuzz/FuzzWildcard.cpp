// The wildcard matcher: the input up to its first zero byte is the name,
// the rest the pattern.

#include "search/Wildcard.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view all(reinterpret_cast<const char*>(data), size);
    const std::size_t zero = all.find('\0');
    const std::string_view name = all.substr(0, zero);
    const std::string_view pattern = zero == std::string_view::npos ? std::string_view{} : all.substr(zero + 1);
    tamsin::matchWildcard(name, pattern);
    tamsin::matchWildcard(tamsin::upperCased(name), tamsin::upperCased(pattern));
    tamsin::matchWildcard(pattern, name);
    return 0;
}
