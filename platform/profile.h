// INI files with the Windows profile semantics: blanks and enclosing quotes
// stripped from values, section and key names matched without regard to
// case, integers read as decimal up to the first other character. Paths are
// UTF-8; the files' bytes (Shift-JIS) are read and written as they are.
#pragma once

#include <cstdint>

#include "platform/file.h"  // deleteFile and replaceFile

namespace platform {

// Copies the value (or `def`) into `buf`, cut to size - 1 bytes; returns its length.
uint32_t profileGetString(const char* section, const char* key, const char* def, char* buf,
                          uint32_t size, const char* path);
int32_t profileGetInt(const char* section, const char* key, int32_t def, const char* path);
// Creates the file and the section when needed.
bool profileWriteString(const char* section, const char* key, const char* value,
                        const char* path);
// The bytes the readers strip from a value's ends (the quotes aside).
bool profileBlank(char c);

}  // namespace platform
