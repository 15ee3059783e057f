// File-system operations of the key files, and standard output.
#pragma once

#include <string>
#include <string_view>

#include "common/bytes.h"
#include "common/error.h"

namespace hibe_c {

// Creates the directory path and its missing parents, each with mode 0777
// (subject to the file-creation mask). An existing directory is used as it is;
// an existing path element that is not a directory, the empty path and a path
// holding a zero byte fail.
common::Status MakeDirAll(std::string_view path);

// Writes content to path, creating the file with mode 0600 or truncating an
// existing one (which keeps its mode). A write that fails part-way removes the
// file, so no partial file is left behind.
common::Status WriteWholeFile(std::string_view path, common::ByteView content);

// A file that this call created exclusively: creation fails when the path exists
// already, also when another call created it a moment before. Unless Keep() is
// called after it was written in full, the file is removed again when the value
// goes away, so a failed call never leaves a partial key file.
class NewFile {
public:
    static common::Result<NewFile> Create(std::string_view path);

    NewFile(NewFile&& other) noexcept;
    NewFile& operator=(NewFile&&) = delete;
    ~NewFile();

    // Writes the whole content at the start of the file and closes it.
    common::Status WriteAndClose(common::ByteView content);

    // The file stays on disk.
    void Keep() noexcept { keep_ = true; }

private:
    NewFile(std::string path, int fd) : path_(std::move(path)), fd_(fd) {}

    std::string path_;
    int fd_ = -1;
    bool keep_ = false;
};

// Hands text to file descriptor 1 in one write (continuing only after a partial
// write), without any buffer of the library's own.
void WriteStdout(std::string_view text);

}  // namespace hibe_c
