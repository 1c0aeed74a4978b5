// Whole files as bytes, named by UTF-8 paths; the bytes are never converted.
#pragma once

#include <string>

namespace platform {

enum class FileRead { kOk, kMissing, kFailed };

// A missing file (or folder) is kMissing, with `bytes` empty.
FileRead readWholeFile(const char* path, std::string& bytes);
// Creates the file or replaces what it held; false unless every byte went.
bool writeWholeFile(const char* path, const std::string& bytes);

// A missing file is no error.
bool deleteFile(const char* path);
// Replaces `to` by `from` in one step.
bool replaceFile(const char* from, const char* to);

}  // namespace platform
