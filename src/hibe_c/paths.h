// Lexical path joining and the existence test used before key files are written.
#pragma once

#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

#include "common/error.h"

namespace hibe_c {

// The shortest path equal to path by lexical processing alone (the file system
// is not consulted): runs of "/" become one, "." elements go, a ".." element
// removes itself and the element before it unless that is "..", a ".." right
// after the root goes, a trailing "/" goes (except for the root itself), and an
// empty result is ".".
std::string Clean(std::string_view path);

// The non-empty elements joined with "/" and cleaned; the empty path when every
// element is empty.
std::string Join(std::span<const std::string_view> elements);
std::string Join(std::initializer_list<std::string_view> elements);

// Whether something exists at path, following symbolic links: true when the
// status query succeeds, false when it fails with "no such file or directory",
// an error for every other failure (permission denied, a directory of the path
// that is a file, a zero byte in the path) and for the empty path ("invalid
// parameter, the file path cannot be empty"). The path is never cut short at a
// zero byte.
common::Result<bool> pathExists(std::string_view path);

}  // namespace hibe_c
