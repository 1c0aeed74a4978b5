// Header extraction and decoding, run natively and under Wine: both builds
// must give the same Shift-JIS bytes.
#include "mailcheck/headers.h"

#include "mailcheck/charsets.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// A TOP reply around the given header lines (each ended by CR LF).
std::string reply(const std::string& headerLines) {
  return "+OK 512 octets\r\n" + headerLines + "\r\nSubject: in the body\r\n.\r\n";
}

MessageHeaders parse(const std::string& headerLines) {
  MessageHeaders h;
  memset(&h, 'X', sizeof h);  // every field must be set, not left over
  std::string r = reply(headerLines);
  extractHeaders(r.c_str(), h);
  return h;
}

std::string subjectOf(const std::string& value) {
  return parse("Subject: " + value + "\r\n").subject;
}

// The decoded text, or "FAIL".
std::string decode(const std::string& raw, size_t capacity = kHeaderCapacity) {
  char out[kHeaderCapacity + 16];
  memset(out, '#', sizeof out);
  bool ok = decodeHeaderText(raw.c_str(), out, capacity);
  EXPECT_EQ('#', out[capacity]) << "wrote past the capacity";
  return ok ? std::string(out) : "FAIL";
}

std::string jis(const std::string& in, size_t capacity = 64) {
  char out[80];
  memset(out, '#', sizeof out);
  jisToShiftJis(in.c_str(), out, capacity);
  EXPECT_EQ('#', out[capacity]) << "wrote past the capacity";
  return out;
}

const std::string kKonnichiwa = "こんにちは";

}  // namespace

TEST(Headers, EncodedWordsInEveryCharsetForm) {
  EXPECT_EQ(kKonnichiwa, subjectOf("=?ISO-2022-JP?B?GyRCJDMkcyRLJEEkTxsoQg==?="));
  EXPECT_EQ(kKonnichiwa, subjectOf("=?iso-2022-jp?b?GyRCJDMkcyRLJEEkTxsoQg==?="));
  // あ, once: the "?=" inside "?Q?=E3" is no end of the word.
  EXPECT_EQ("\x82\xA0", subjectOf("=?utf-8?Q?=E3=81=82?="));
  EXPECT_EQ("\x82\xA0", subjectOf("=?UTF-8?q?=e3=81=82?="));
  EXPECT_EQ("A", subjectOf("=?utf-8?B?QQ==?="));
  EXPECT_EQ("AB", subjectOf("=?utf-8?B?QUI=?="));
  EXPECT_EQ(kDecodeFailed, subjectOf("=?utf-8?B?QUI?="));
  EXPECT_EQ("a_b", subjectOf("=?utf-8?Q?a_b?="));
  EXPECT_EQ("", decode("=?utf-8?B?" "?="));
  EXPECT_EQ("\x82\xA0", subjectOf("=?shift_jis?B?gqA=?="));
  // A charset the table lacks is taken as Shift-JIS bytes.
  EXPECT_EQ("\x82\xA0" "z", subjectOf("=?x-unknown?Q?=82=A0z?="));
  EXPECT_STREQ("デコード失敗", kDecodeFailed);
}

TEST(Headers, WordsInOtherCharsets) {
  const std::string nihongo = "日本語";
  EXPECT_EQ(nihongo, subjectOf("=?EUC-JP?B?xvzL3Ljs?="));
  EXPECT_EQ(nihongo, subjectOf("=?euc-jp?Q?=C6=FC=CB=DC=B8=EC?="));
  // é is not in code page 932: the default char, not a best-fit 'e'.
  EXPECT_EQ("caf?", subjectOf("=?ISO-8859-1?Q?caf=E9?="));
  EXPECT_EQ("Gr??e", subjectOf("=?iso-8859-1?B?R3L832U=?="));
  // Chinese characters that JIS X 0208 has as well.
  EXPECT_EQ("中文", subjectOf("=?GB2312?B?1tDOxA==?="));
  EXPECT_EQ("日本", subjectOf("=?gbk?B?yNWxvg==?="));
  EXPECT_EQ("中文", subjectOf("=?GB18030?B?1tDOxA==?="));
  EXPECT_EQ("日本", subjectOf("=?utf8?B?5pel5pys?="));
  EXPECT_EQ("中文", subjectOf("=?big5?B?pKSk5Q==?="));
  EXPECT_EQ(nihongo, subjectOf("=?euc-kr?B?7O3c4uXe?="));
  EXPECT_EQ("Привет", subjectOf("=?KOI8-R?B?8NLJ18XU?="));
  EXPECT_EQ("Re: 日本語 / 中文", subjectOf("Re: =?euc-jp?B?xvzL3Ljs?= / =?gb2312?B?1tDOxA==?="));
}

TEST(Headers, CharsetTable) {
  EXPECT_EQ(932u, codePageOfCharset("shift_jis"));
  EXPECT_EQ(932u, codePageOfCharset("Windows-31J"));
  EXPECT_EQ(932u, codePageOfCharset("MS932"));
  EXPECT_EQ(20932u, codePageOfCharset("EUC-JP"));
  EXPECT_EQ(20932u, codePageOfCharset("Euc-Jp"));
  EXPECT_EQ(28591u, codePageOfCharset("ISO-8859-1"));
  EXPECT_EQ(28603u, codePageOfCharset("iso-8859-13"));
  EXPECT_EQ(28605u, codePageOfCharset("ISO-8859-15"));
  EXPECT_EQ(1252u, codePageOfCharset("WINDOWS-1252"));
  EXPECT_EQ(20127u, codePageOfCharset("US-ASCII"));
  EXPECT_EQ(936u, codePageOfCharset("GB2312"));
  EXPECT_EQ(950u, codePageOfCharset("Big5"));
  EXPECT_EQ(949u, codePageOfCharset("KS_C_5601-1987"));
  EXPECT_EQ(20866u, codePageOfCharset("koi8-r"));
  EXPECT_EQ(21866u, codePageOfCharset("KOI8-U"));
  EXPECT_EQ(65001u, codePageOfCharset("UTF-8"));
  // Aliases that mail programs write, in any case.
  const struct {
    const char* name;
    unsigned codePage;
  } aliases[] = {{"GB18030", 54936},   {"utf8", 65001},      {"Latin1", 28591},    {"ISO8859-1", 28591},
                 {"iso_8859-1", 28591}, {"X-SJIS", 932},      {"CP936", 936},       {"WINDOWS-31J", 932},
                 {"csShiftJIS", 932},   {"MS_Kanji", 932},    {"x-euc-jp", 20932},  {"cp949", 949},
                 {"CP950", 950},        {"ascii", 20127}};
  for (const auto& a : aliases) EXPECT_EQ(a.codePage, codePageOfCharset(a.name)) << a.name;
  // Anything else is Shift-JIS, a name that only begins like one too.
  EXPECT_EQ(932u, codePageOfCharset("x-unknown"));
  EXPECT_EQ(932u, codePageOfCharset(""));
  EXPECT_EQ(932u, codePageOfCharset("utf-8x"));
  EXPECT_EQ(932u, codePageOfCharset("iso-8859-"));
  EXPECT_EQ(932u, codePageOfCharset("iso-2022-jp"));
  EXPECT_TRUE(sameCharsetName("ISO-2022-jp", "iso-2022-JP"));
  EXPECT_FALSE(sameCharsetName("iso-2022-jp", "iso-2022-jp-2"));
}

TEST(Headers, TextAroundAndBetweenWords) {
  EXPECT_EQ("Re: \x82\xA0", subjectOf("Re: =?utf-8?B?44GC?="));
  EXPECT_EQ("\x82\xA0 \x82\xA2", subjectOf("=?utf-8?B?44GC?= =?utf-8?B?44GE?="));
  EXPECT_EQ("\x82\xA0\x82\xA2", subjectOf("=?utf-8?B?44GC?==?utf-8?B?44GE?="));
  // The fold's one blank is dropped, so the words join.
  EXPECT_EQ("\x82\xA0\x82\xA2", subjectOf("=?utf-8?B?44GC?=\r\n =?utf-8?B?44GE?="));
  // After the last word the text goes through the JIS conversion; before a
  // word it is copied as it is.
  EXPECT_EQ("\x82\xA0 \x82\xB1!", decode("=?utf-8?B?44GC?= \x1B$B$3\x1B(B!"));
  EXPECT_EQ("\x1B$B$3\x1B(B\x82\xA0", decode("\x1B$B$3\x1B(B=?utf-8?B?44GC?="));
  // "=?" without a later "?=" is plain text; a "?=" may share the '?'.
  EXPECT_EQ("a=?b", decode("a=?b"));
  EXPECT_EQ("=?utf-8?B?QUJD", decode("=?utf-8?B?QUJD"));
  EXPECT_EQ("FAIL", decode("x=?=y"));
  // A word that failed spoils the text decoded before it.
  EXPECT_EQ(kDecodeFailed, subjectOf("=?utf-8?B?44GC?= =?utf-8?X?abc?="));
}

TEST(Headers, EncodedWordFailures) {
  EXPECT_EQ("FAIL", decode("=?utf-8?B?QU I=?="));
  EXPECT_EQ("FAIL", decode("=?utf-8?B?QQ?="));
  EXPECT_EQ("FAIL", decode("=?utf-8?Q?=4?="));
  EXPECT_EQ("FAIL", decode("=?utf-8?X?QQ==?="));
  EXPECT_EQ("FAIL", decode("=?=?B"));  // the word ends at its encoding letter
  EXPECT_EQ("ABC", decode("=?utf-8?B?QUJD?="));
  // Every '=' of the run takes a byte off, the earlier group's too.
  EXPECT_EQ("A", decode("=?utf-8?B?QUJDQQ=====?="));
  EXPECT_EQ("", decode("=?utf-8?B?====?="));
  // Charset names up to 31 bytes.
  EXPECT_EQ("a", decode("=?" + std::string(31, 'x') + "?Q?a?="));
  EXPECT_EQ("FAIL", decode("=?" + std::string(32, 'x') + "?Q?a?="));

  char out[8];
  EXPECT_FALSE(decodeEncodedWord("=?utf-8?Q?abc", out, sizeof out));
  EXPECT_FALSE(decodeEncodedWord("=?utf-8?B?QUJD", out, sizeof out));
  EXPECT_FALSE(decodeEncodedWord("plain", out, sizeof out));

  // In every field a failure reads the same.
  MessageHeaders h = parse(
      "From: =?utf-8?B?QUI?= <a@example.jp>\r\nSubject: =?utf-8?Q?=ZZ?=\r\n"
      "To: =?x?y?z?=\r\n");
  EXPECT_STREQ(kDecodeFailed, h.senderName);
  EXPECT_STREQ("a@example.jp", h.senderAddress);
  EXPECT_STREQ(kDecodeFailed, h.subject);
  EXPECT_STREQ(kDecodeFailed, h.to);
}

TEST(Headers, DecodingStaysInsideItsCapacity) {
  EXPECT_EQ("abcd", decode("abcdefgh", 5));
  EXPECT_EQ("abcd", decode("abcdefgh=?utf-8?B?QQ==?=", 5));
  // The word gets what remains; "cdef" and its NUL need 5.
  EXPECT_EQ("FAIL", decode("ab=?utf-8?Q?cdef?=", 5));
  EXPECT_EQ("abcd", decode("ab=?iso-2022-jp?Q?cd?=", 5));
  EXPECT_EQ("", decode("abc", 1));

  // The code-page step has one unit less than the capacity.
  std::string fifteen = "=?utf-8?B?" + std::string("QUJD") + "QUJD" + "QUJD" + "QUJD" + "QUJD" + "?=";
  char out[20];
  EXPECT_TRUE(decodeEncodedWord(fifteen.c_str(), out, 17));
  EXPECT_STREQ("ABCABCABCABCABC", out);
  EXPECT_FALSE(decodeEncodedWord(fifteen.c_str(), out, 16));

  // A word far larger than the field.
  std::string huge = "=?utf-8?B?";
  for (int i = 0; i < 2000; ++i) huge += "QUJD";
  huge += "?=";
  EXPECT_EQ("FAIL", decode(huge));
  huge.replace(2, 5, "iso-2022-jp");
  EXPECT_EQ("FAIL", decode(huge));
}

TEST(Headers, JisConversion) {
  EXPECT_EQ(kKonnichiwa, jis("\x1B$B$3$s$K$A$O\x1B(B"));
  EXPECT_EQ("\x88\x9F" "\x98\x9F" "\xE0\x9F", jis("\x1B$B\x30\x21\x50\x21\x60\x21"));
  // Rows 48 to 62 lead with 0x98 to 0x9F.
  EXPECT_EQ("\x98\x40" "\x9F\xFC", jis("\x1B$B\x4F\x21\x5E\x7E"));
  EXPECT_EQ("\xE0\x40", jis("\x1B$B\x5F\x21"));  // row 63 is the first above them
  EXPECT_EQ("\x98\x80" "\x98\x7E", jis("\x1B$B\x4F\x60\x4F\x5F"));
  EXPECT_EQ("a\x82\xB1" "b", jis("a\x1B$B$3\x1B(Bb"));
  // An escape of another kind keeps the state.
  EXPECT_EQ("\x82\xB1\x82\xB1", jis("\x1B$B$3\x1B*B$3"));
  // Bytes of 0x80 and above pass through in ASCII state.
  EXPECT_EQ("\x82\xA0" "abc", jis("\x82\xA0" "abc"));
  // Cut short: a lone ESC ends it; a lone kanji byte pairs with zero.
  EXPECT_EQ("ab", jis("ab\x1B"));
  EXPECT_EQ("ab", jis("ab\x1B$"));
  EXPECT_EQ("\x88\x7E", jis("\x1B$B\x30"));
  // Never past the capacity, and never half a character.
  EXPECT_EQ("\x82\xB1", jis("\x1B$B$3$3", 4));
  EXPECT_EQ("", jis("abc", 1));
}

TEST(Headers, FromSplitsNameAndAddress) {
  MessageHeaders h = parse("From: \"Yamada Taro\" <taro@example.jp>\r\n");
  EXPECT_STREQ("Yamada Taro", h.senderName);
  EXPECT_STREQ("taro@example.jp", h.senderAddress);

  h = parse("From: <taro@example.jp>\r\n");
  EXPECT_STREQ("", h.senderName);
  EXPECT_STREQ("taro@example.jp", h.senderAddress);

  h = parse("From: taro@example.jp (Taro)\r\n");
  EXPECT_STREQ("", h.senderName);
  EXPECT_STREQ("taro@example.jp (Taro)", h.senderAddress);

  // The name is unquoted after decoding; a blank before the quote pair's
  // end is allowed for.
  h = parse("From: =?utf-8?Q?=22Taro=22?= <t@example.jp>\r\n");
  EXPECT_STREQ("Taro", h.senderName);
  h = parse("From: \"=?utf-8?B?44GC?=\"  <t@example.jp>\r\n");
  EXPECT_STREQ("\x82\xA0", h.senderName);

  // Folded, with a tab; raw JIS in the name.
  h = parse("From: \x1B$B$3\x1B(B\r\n\t<t@example.jp>\r\n");
  EXPECT_STREQ("\x82\xB1", h.senderName);
  EXPECT_STREQ("t@example.jp", h.senderAddress);
  h = parse("From:\r\n <t@example.jp>\r\n");
  EXPECT_STREQ("", h.senderName);
  EXPECT_STREQ("t@example.jp", h.senderAddress);

  // No '>': the address runs to the line end.
  h = parse("From: Taro <t@example.jp\r\nTo: x\r\n");
  EXPECT_STREQ("Taro", h.senderName);
  EXPECT_STREQ("t@example.jp", h.senderAddress);
  EXPECT_STREQ("x", h.to);
}

TEST(Headers, SubjectAndToValues) {
  // The subject is unquoted before decoding, never after.
  EXPECT_EQ("\x82\xA0", subjectOf("\"=?utf-8?B?44GC?=\""));
  EXPECT_EQ("\"a\"", subjectOf("=?utf-8?Q?=22a=22?="));
  EXPECT_EQ("a", subjectOf("\"a\"x"));
  EXPECT_EQ("\"", subjectOf("\""));
  // Raw JIS, and text in other code pages as it is.
  EXPECT_EQ(kKonnichiwa, subjectOf("\x1B$B$3$s$K$A$O\x1B(B"));
  EXPECT_EQ("Re: \x82\xA0", subjectOf("Re: \x82\xA0"));

  MessageHeaders h = parse("To: \"a\" <a@example.jp>\r\n");
  EXPECT_STREQ("\"a\" <a@example.jp>", h.to);

  // Unfolding drops each CR, LF and the blank after the LF.
  EXPECT_EQ("abcdef", subjectOf("abc\r\n\tdef"));
  EXPECT_EQ("abc def", subjectOf("abc\r\n  def"));
}

TEST(Headers, WhichLinesCount) {
  MessageHeaders h = parse("subject: lower\r\nFROM: a@example.jp\r\nTo : x\r\n");
  EXPECT_STREQ("", h.subject);
  EXPECT_STREQ("", h.senderAddress);
  EXPECT_STREQ("", h.to);
  EXPECT_TRUE(lineStartsWith("To:", "To:"));
  EXPECT_FALSE(lineStartsWith("To:", "To\r:"));
  EXPECT_FALSE(lineStartsWith("To:", "To"));

  // The last occurrence wins, also when it is empty or has no name.
  h = parse("Subject: first\r\nSubject: second\r\n");
  EXPECT_STREQ("second", h.subject);
  h = parse("Subject: first\r\nSubject:\r\n");
  EXPECT_STREQ("", h.subject);
  h = parse("From: Taro <t@example.jp>\r\nFrom: other@example.jp\r\n");
  EXPECT_STREQ("", h.senderName);
  EXPECT_STREQ("other@example.jp", h.senderAddress);

  // Neither the status line nor the body is looked at.
  std::string r = "+OK Subject: status\r\nX-A: 1\r\n\r\nSubject: body\r\n.\r\n";
  extractHeaders(r.c_str(), h);
  EXPECT_STREQ("", h.subject);
  extractHeaders("\r\nSubject: x\r\n", h);
  EXPECT_STREQ("", h.subject);

  // An empty value on the first line takes nothing from the next header.
  h = parse("Subject:\r\nTo: x\r\nFrom:\r\nX-B: y\r\n");
  EXPECT_STREQ("", h.subject);
  EXPECT_STREQ("x", h.to);
  EXPECT_STREQ("", h.senderName);
  EXPECT_STREQ("", h.senderAddress);
  h = parse("To:\r\nSubject: y\r\n");
  EXPECT_STREQ("", h.to);
  EXPECT_STREQ("y", h.subject);
  h = parse("Subject:\r\n\tfolded\r\n");
  EXPECT_STREQ("folded", h.subject);
}

TEST(Headers, LongValuesAreCut) {
  EXPECT_EQ(std::string(1001, 'a'), subjectOf(std::string(1500, 'a')));
  // The limit counts bytes kept after unfolding.
  EXPECT_EQ(std::string(1001, 'b'),
            subjectOf(std::string(600, 'b') + "\r\n " + std::string(600, 'b')));
  // The cut comes before decoding: the word loses its end and stays text.
  std::string value = std::string(990, 'c') + "=?utf-8?B?QUJD?=";
  EXPECT_EQ(value.substr(0, 1001), subjectOf(value));

  MessageHeaders h = parse("From: " + std::string(1500, 'n') + " <t@example.jp>\r\n");
  EXPECT_EQ(std::string(511, 'n'), h.senderName);
  EXPECT_STREQ("t@example.jp", h.senderAddress);
  h = parse("From: <" + std::string(700, 'x') + ">\r\n");
  EXPECT_EQ(std::string(511, 'x'), h.senderAddress);
  h = parse("From: " + std::string(700, 'x') + "\r\n");
  EXPECT_EQ(std::string(511, 'x'), h.senderAddress);
  // Past the collecting limit without a '<' the text is taken as a name.
  h = parse("From: " + std::string(1500, 'x') + "\r\n");
  EXPECT_EQ(std::string(511, 'x'), h.senderName);
  EXPECT_STREQ("", h.senderAddress);

  // A long name is never cut inside a double-byte character.
  std::string kana;
  for (int i = 0; i < 300; ++i) kana += "\x82\xA0";
  h = parse("From: " + kana + " <t@example.jp>\r\n");
  EXPECT_EQ(kana.substr(0, 510), h.senderName);
}

TEST(Headers, HostileRepliesStayInBounds) {
  // Many lines, huge lines, unterminated words and escapes.
  std::string lines;
  for (int i = 0; i < 2000; ++i) lines += "Subject: =?utf-8?B?" + std::to_string(i) + "\r\n";
  lines += "Subject: " + std::string(100000, '=') + "\r\n";
  lines += "To: =?" + std::string(5000, '?') + "\r\n";
  lines += "From: " + std::string(50000, '<') + "\r\n";
  MessageHeaders h = parse(lines);
  EXPECT_EQ(std::string(1001, '='), h.subject);
  EXPECT_EQ("=?" + std::string(999, '?'), std::string(h.to));
  EXPECT_STREQ("", h.senderName);
  EXPECT_EQ(std::string(511, '<'), h.senderAddress);

  h = parse("Subject: abc\x1B\r\nTo: \x1B$B\r\n");
  EXPECT_STREQ("abc", h.subject);
  EXPECT_STREQ("", h.to);

  // Replies that end anywhere.
  struct Cut {
    const char* reply;
    const char* subject;
    const char* address;
    const char* to;
  } cuts[] = {
      {"", "", "", ""},
      {"+OK", "", "", ""},
      {"+OK\r", "", "", ""},
      {"+OK\r\nFrom:", "", "", ""},
      {"+OK\r\nFrom: <a", "", "a", ""},
      {"+OK\r\nFrom: a\r\n", "", "a", ""},
      {"+OK\r\nSubject:", "", "", ""},
      {"+OK\r\nSubject: cut", "cut", "", ""},
      {"+OK\r\nSubject: a\r", "a", "", ""},
      {"+OK\r\nTo: a\r\n\t", "", "", "a"},
      {"+OK\r\nTo: a\r\n", "", "", "a"},
      {"+OK\r\nSubject: =?utf-8?Q?a=", "=?utf-8?Q?a=", "", ""},
      {"+OK\r\nSubject: =?utf-8?Q?a=?=", kDecodeFailed, "", ""},
  };
  for (const Cut& c : cuts) {
    extractHeaders(c.reply, h);
    EXPECT_STREQ(c.subject, h.subject) << c.reply;
    EXPECT_STREQ(c.address, h.senderAddress) << c.reply;
    EXPECT_STREQ("", h.senderName) << c.reply;
    EXPECT_STREQ(c.to, h.to) << c.reply;
  }
}
