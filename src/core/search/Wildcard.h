#pragma once
// Name matching for file filters and the file search: "*" and "?"
// wildcards, with the program's own rules and their quirks kept as they are.

#include <string>
#include <string_view>

namespace tamsin {

// 1 when name matches pattern, else 0. Both are compared byte for byte as
// given (callers upper-case both first); neither is read past its end.
// Quirks kept: a pattern without wildcards matches anywhere in the name
// ("DOC" matches "MYDOC.TXT"), a "*" followed by more pattern consumes at
// least one name character ("ACE" does not match "A*C*E"), and a pattern
// holding "?" but no "*" need only match the start of the name.
int matchWildcard(std::string_view name, std::string_view pattern);

// name with the ASCII letters a-z upper-cased; every other byte (code page
// characters at 0x80 and above included) is kept.
std::string upperCased(std::string_view name);

} // namespace tamsin
