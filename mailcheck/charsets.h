// The code page a MIME charset name is read with.
#pragma once

#include "platform/codepage.h"

// ASCII letters compared without regard to case, as charset names are.
bool sameCharsetName(const char* a, const char* b);

// The Windows code page of a charset name; a name the table lacks is taken
// as Shift-JIS, the display code page. ISO-2022-JP has a converter of its own
// and is not in the table.
platform::CodePage codePageOfCharset(const char* name);
