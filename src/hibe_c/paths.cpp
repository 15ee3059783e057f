#include "hibe_c/paths.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace hibe_c {

namespace {

constexpr std::string_view kErrEmptyPath = "invalid parameter, the file path cannot be empty";

// "stat <path>: <reason>"
common::Error StatError(std::string_view path, int err) {
    std::string message = "stat ";
    message.append(path);
    message.append(": ");
    message.append(std::strerror(err));
    return common::Error(std::move(message));
}

}  // namespace

std::string Clean(std::string_view path) {
    // lexically_normal merges separators, drops "." elements and resolves ".."
    // against the element before it (".." right after the root goes). It leaves
    // trailing separators ("a/" for "a/." and "a/b/..", "../" for "../a/..",
    // "///" for itself), which go here down to the root, and the empty path.
    std::string cleaned = std::filesystem::path(path).lexically_normal().native();
    while (cleaned.size() > 1 && cleaned.back() == '/') cleaned.pop_back();
    return cleaned.empty() ? "." : cleaned;
}

std::string Join(std::span<const std::string_view> elements) {
    std::string joined;
    bool any = false;
    for (std::string_view element : elements) {
        if (element.empty()) continue;
        if (any) joined += '/';
        joined.append(element);
        any = true;
    }
    if (!any) return "";
    return Clean(joined);
}

std::string Join(std::initializer_list<std::string_view> elements) {
    return Join(std::span<const std::string_view>(elements.begin(), elements.size()));
}

std::string ParentDir(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string_view::npos) return ".";
    if (slash == 0) return "/";
    return std::string(path.substr(0, slash));
}

std::string BaseName(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

common::Result<bool> pathExists(std::string_view path) {
    if (path.empty()) return common::Fail(std::string(kErrEmptyPath));
    // A zero byte would cut the C path short and test another file.
    if (path.find('\0') != std::string_view::npos) return std::unexpected(StatError(path, EINVAL));

    const std::string cpath(path);
    struct stat st;
    if (::lstat(cpath.c_str(), &st) == 0) return true;
    const int err = errno;
    if (err == ENOENT) return false;
    return std::unexpected(StatError(path, err));
}

}  // namespace hibe_c
