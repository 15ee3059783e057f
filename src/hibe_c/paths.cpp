#include "hibe_c/paths.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <vector>

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
    if (path.empty()) return ".";
    const bool rooted = path.front() == '/';

    // The kept elements; leading ".." elements stay only in a relative path.
    std::vector<std::string_view> kept;
    std::size_t dotdots = 0;  // leading ".." elements of kept, which nothing removes
    std::size_t pos = 0;
    while (pos < path.size()) {
        std::size_t end = path.find('/', pos);
        if (end == std::string_view::npos) end = path.size();
        std::string_view element = path.substr(pos, end - pos);
        pos = end + 1;

        if (element.empty() || element == ".") continue;
        if (element == "..") {
            if (kept.size() > dotdots) {
                kept.pop_back();
            } else if (!rooted) {
                kept.push_back(element);
                ++dotdots;
            }
            continue;  // ".." right after the root is dropped
        }
        kept.push_back(element);
    }

    if (kept.empty()) return rooted ? "/" : ".";
    std::string out;
    for (std::size_t i = 0; i < kept.size(); ++i) {
        if (rooted || i > 0) out.push_back('/');
        out.append(kept[i]);
    }
    return out;
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

common::Result<bool> pathExists(std::string_view path) {
    if (path.empty()) return common::Fail(std::string(kErrEmptyPath));
    // A zero byte would cut the C path short and test another file.
    if (path.find('\0') != std::string_view::npos) return std::unexpected(StatError(path, EINVAL));

    const std::string cpath(path);
    struct stat st;
    if (::stat(cpath.c_str(), &st) == 0) return true;
    const int err = errno;
    if (err == ENOENT) return false;
    return std::unexpected(StatError(path, err));
}

}  // namespace hibe_c
