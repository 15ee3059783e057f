// Lexical path joining and splitting, and the existence test used before a
// private key is drawn.
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

// The directory that holds path, lexically: everything before its last "/",
// the root for "/name", and "." for a name without any "/".
std::string ParentDir(std::string_view path);

// The last element of path: everything after its last "/" (all of it without
// one).
std::string BaseName(std::string_view path);

// Whether something exists at path, without following a symbolic link at its
// end (links of the directories before it are followed): a dangling link, a
// directory and a FIFO exist. True when the status query succeeds, false when
// it fails with "no such file or directory", an error for every other failure
// (permission denied, a directory of the path that is a file, a zero byte in
// the path) and for the empty path ("invalid parameter, the file path cannot be
// empty"). The path is never cut short at a zero byte.
common::Result<bool> pathExists(std::string_view path);

}  // namespace hibe_c
