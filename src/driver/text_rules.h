// The text rules that take paths apart and decide what is a page. Each
// returns a new text or a number and changes nothing it is given.
#pragma once

#include <string>
#include <string_view>

#include "platform/process.h"

namespace mirrorpdf {

// The path up to and including its last separator; empty without one.
std::u16string folder_of(std::u16string_view path, const PathSyntax& syntax = NATIVE_SYNTAX);

// The text after the last dot of the last path component; empty when there is
// none, when a space or separator comes after it, or when the dot begins the
// component.
std::u16string extension_of(std::u16string_view name, const PathSyntax& syntax = NATIVE_SYNTAX);

std::u16string lower_case(std::u16string_view text);

// text without the run of characters[0] at its end; a missing second
// argument means a space, an empty one removes nothing.
std::u16string trim_trailing(std::u16string_view text, std::u16string_view characters = u" ");

// The n-th field (from 1) of text split at separator; empty when n < 1 or the
// text ends before field n begins. An empty separator never matches.
std::u16string field_at(std::u16string_view text, long long n, std::u16string_view separator);

// The first n characters, n clamped to 0 .. length.
std::u16string left_part(std::u16string_view text, long long n);

bool text_equal(std::u16string_view a, std::u16string_view b);

}  // namespace mirrorpdf
