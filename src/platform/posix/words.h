// The POSIX launcher's reading of a parameter text: the exact inverse of
// quote_argument, so a name can never become more or other arguments.
#pragma once

#include <string>
#include <vector>

namespace mirrorpdf {

// Words are separated by unquoted spaces, tabs and newlines; '"' opens and
// closes a quoted run; '\' takes the next character as it is.
std::vector<std::u16string> split_words(std::u16string_view parameters);

}  // namespace mirrorpdf
