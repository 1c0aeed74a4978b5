// INI files with the Windows profile semantics: blanks and enclosing quotes
// stripped from values, section and key names matched without regard to
// case, integers read as decimal up to the first other character.
#pragma once

#include <cstdint>

namespace platform {

// Copies the value (or `def`) into `buf`, cut to size - 1 bytes; returns its length.
uint32_t profileGetString(const char* section, const char* key, const char* def, char* buf,
                          uint32_t size, const char* path);
int32_t profileGetInt(const char* section, const char* key, int32_t def, const char* path);
// Creates the file and the section when needed.
bool profileWriteString(const char* section, const char* key, const char* value,
                        const char* path);

// A missing file is no error.
bool deleteFile(const char* path);
// Replaces `to` by `from` in one step.
bool replaceFile(const char* from, const char* to);

}  // namespace platform
