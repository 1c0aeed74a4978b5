#include "mailcheck/charsets.h"

namespace {

struct Charset {
  const char* name;
  platform::CodePage codePage;
};

const Charset kCharsets[] = {
    {"shift_jis", 932},     {"shift-jis", 932},       {"sjis", 932},         {"x-sjis", 932},
    {"cp932", 932},         {"windows-31j", 932},     {"ms932", 932},        {"euc-jp", 20932},
    {"iso-8859-1", 28591},  {"iso-8859-2", 28592},    {"iso-8859-3", 28593}, {"iso-8859-4", 28594},
    {"iso-8859-5", 28595},  {"iso-8859-6", 28596},    {"iso-8859-7", 28597}, {"iso-8859-8", 28598},
    {"iso-8859-9", 28599},  {"iso-8859-13", 28603},   {"iso-8859-15", 28605}, {"windows-1250", 1250},
    {"windows-1251", 1251}, {"windows-1252", 1252},   {"windows-1253", 1253}, {"windows-1254", 1254},
    {"windows-1255", 1255}, {"windows-1256", 1256},   {"windows-1257", 1257}, {"windows-1258", 1258},
    {"us-ascii", 20127},    {"gb2312", 936},          {"gbk", 936},          {"big5", 950},
    {"euc-kr", 949},        {"ks_c_5601-1987", 949},  {"koi8-r", 20866},     {"koi8-u", 21866},
    {"utf-8", platform::kUtf8},
    // Aliases that mail programs write.
    {"utf8", platform::kUtf8}, {"gb18030", 54936}, {"cp936", 936},     {"latin1", 28591},
    {"iso8859-1", 28591},      {"iso_8859-1", 28591}, {"csshiftjis", 932}, {"ms_kanji", 932},
    {"x-euc-jp", 20932},       {"cp949", 949},     {"cp950", 950},     {"ascii", 20127},
};

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool sameCharsetName(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b) {
    if (lower(*a) != lower(*b)) return false;
  }
  return *a == *b;
}

platform::CodePage codePageOfCharset(const char* name) {
  for (const Charset& c : kCharsets) {
    if (sameCharsetName(name, c.name)) return c.codePage;
  }
  return platform::kShiftJis;
}
