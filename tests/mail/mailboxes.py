"""The mailboxes the POP3 tests check on a real Dovecot server. The C++ tests
in this folder hold the expected results; keep the two in step."""
import base64
import os

PASSWORDS = {
    "taro": "tanstaaf",      # the Japanese mailbox: every kind of header
    "hanako": "hana-pass",   # APOP
    "saburo": "saburo-pw",   # a deletion that is carried out
    "jiro": "jiro-pw",       # a deletion before a failure: kept on the server
    "shiro": "shiro-pw",     # empty mailbox
    "demo": "demo-pass",     # make run's mailbox
    "bench1000": "bench",    # only with KEL_BENCH_MAILBOXES
    "bench5000": "bench",
}


def b_word(text, charset="iso-2022-jp"):
    data = text.encode("iso2022_jp" if charset.lower() == "iso-2022-jp" else charset)
    return "=?%s?B?%s?=" % (charset, base64.b64encode(data).decode())


def q_word(text, charset="utf-8"):
    data = text.encode(charset)
    return "=?%s?Q?%s?=" % (charset, "".join("=%02X" % b if b > 0x7E or b < 0x21 or b in b"=?_" else chr(b)
                                             for b in data))


def message(headers, body="本文です。\n", body_charset="iso2022_jp"):
    head = "".join("%s: %s\n" % (k, v) for k, v in headers)
    return (head.encode("ascii", "surrogateescape") + b"\n" + body.encode(body_charset) + b"\n")


def raw_jis(text):
    return text.encode("iso2022_jp").decode("ascii")


def mailboxes():
    """user -> list of message bytes, in maildrop order."""
    taro = [
        # 1: name and subject in base64 ISO-2022-JP
        message([("From", '%s <yamada@example.jp>' % b_word("山田太郎", "ISO-2022-JP")),
                 ("To", "taro@example.jp"),
                 ("Subject", b_word("こんにちは", "ISO-2022-JP"))]),
        # 2: UTF-8, B for the name and Q for the subject, charset in lower case
        message([("From", '%s <sato@example.jp>' % b_word("佐藤花子", "utf-8")),
                 ("To", "taro@example.jp"),
                 ("Subject", q_word("会議のお知らせ"))]),
        # 3: raw ISO-2022-JP subject, a quoted ASCII display name
        message([("From", '"Suzuki Ichiro" <suzuki@example.com>'),
                 ("To", "taro@example.jp"),
                 ("Subject", raw_jis("明日の予定"))]),
        # 4: a subject folded between two encoded words, "Re: " in front
        message([("From", "tanaka@example.org"),
                 ("To", "taro@example.jp"),
                 ("Subject", "Re: %s\n %s" % (b_word("長い件名の"), b_word("メールです")))]),
        # 5: matches the delete list (sender address equals)
        message([("From", "Spam King <spam@example.com>"),
                 ("To", "taro@example.jp"),
                 ("Subject", "Buy now")]),
        # 6: matches the ignore list (subject contains メルマガ)
        message([("From", "news@example.jp"),
                 ("To", "taro@example.jp"),
                 ("Subject", b_word("週刊メルマガ第10号"))]),
        # 7: a quoted subject and a long one, cut for display
        message([("From", "=?ISO-2022-JP?B?%s?= <kato@example.jp>" % base64.b64encode("加藤".encode("iso2022_jp")).decode()),
                 ("To", "taro@example.jp"),
                 ("Subject", '"quoted subject"')]),
        message([("From", "ito@example.jp"),
                 ("To", "taro@example.jp"),
                 ("Subject", "A subject line that is much longer than thirty-two bytes")]),
        # 9: the seventh kept message: counted, not listed
        message([("From", "watanabe@example.jp"),
                 ("To", "taro@example.jp"),
                 ("Subject", "seventh")]),
    ]
    hanako = [message([("From", "taro@example.jp"), ("To", "hanako@example.jp"), ("Subject", "APOP works")])]
    saburo = [
        message([("From", "a@example.jp"), ("Subject", "first")]),
        message([("From", "spam@example.com"), ("Subject", "to be deleted")]),
        message([("From", "c@example.jp"), ("Subject", "third")]),
    ]
    jiro = [
        message([("From", "spam@example.com"), ("Subject", "deleted, then the session fails")]),
        # a header block larger than the client's buffer
        message([("From", "big@example.jp"), ("Subject", "big"), ("X-Filler", "x" * 9000)]),
    ]
    demo = [
        message([("From", "%s <yamada@example.jp>" % b_word("山田太郎")), ("To", "demo@example.jp"),
                 ("Subject", b_word("来週の打ち合わせについて"))]),
        message([("From", "%s <sato@example.jp>" % b_word("佐藤花子", "utf-8")), ("To", "demo@example.jp"),
                 ("Subject", q_word("お昼ごはん行きませんか？"))]),
        message([("From", "Kel <kel@example.jp>"), ("To", "demo@example.jp"),
                 ("Subject", b_word("ようこそ！新着メールをお知らせします"))]),
    ]
    boxes = {"taro": taro, "hanako": hanako, "saburo": saburo, "jiro": jiro, "shiro": [], "demo": demo}
    if os.environ.get("KEL_BENCH_MAILBOXES"):
        for n in (1000, 5000):
            boxes["bench%d" % n] = [
                message([("From", '%s <user%d@example.jp>' % (b_word("山田太郎"), i)),
                         ("To", "bench@example.jp"),
                         ("Subject", b_word("ベンチマーク %d 通目" % i))])
                for i in range(n)]
    return boxes
