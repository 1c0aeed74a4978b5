"""The mailboxes the POP3 tests check on a real Dovecot server. The C++ tests
in this folder hold the expected results; keep the two in step."""
import base64
import os
import random

PASSWORDS = {
    "taro": "tanstaaf",      # the Japanese mailbox: every kind of header
    "hanako": "hana-pass",   # APOP
    "saburo": "saburo-pw",   # a deletion that is carried out
    "jiro": "jiro-pw",       # a deletion before a failure: kept on the server
    "goro": "goro-pw",       # seven messages, two deleted: pipelined ...
    "rokuro": "rokuro-pw",   # ... and the same, one command at a time
    "hachiro": "hachiro-pw", # header blocks and body lines of real size
    "shiro": "shiro-pw",     # empty mailbox
    "ichiro": "ichiro-pw",   # IMAP IDLE: starts empty, the tests deliver to it
    "sanae": "sanae-pw",     # IMAP IDLE under kel.exe
    "kuro": "kuro-pw",       # checked again: only what is new costs a TOP
    "demo": "demo-pass",     # make run's mailbox
    "kaede": "no-password-works-for-kaede",  # signs in with OAuth2 only (oauth_server.py)
    "ichika": "ichika-pw",   # IMAP: taro's mailbox, over IMAP
    "nanami": "nanami-pw",   # IMAP: flags set by another client
    "imadate": "imadate-pw", # IMAP: kel.exe's account in the end-to-end test
    "bulk3000": "bulk-pw",   # 3,000 mails as large providers send them
    "bench1000": "bench",    # only with KEL_BENCH_MAILBOXES
    "bench1500": "bench",
    "bench5000": "bench",
    "real5000": "bench",     # header blocks of 2-16 KB, for the cost of a check
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
        # the test removes it after STAT, so that its TOP is refused
        message([("From", "gone@example.jp"), ("Subject", "removed under the session")]),
    ]
    seven = [message([("From", "spam@example.com" if i in (2, 5) else "m%d@example.jp" % i),
                      ("Subject", b_word("第%d通" % i))]) for i in range(1, 8)]
    received = "".join("Received: from relay%d.example.net (relay%d.example.net [192.0.2.%d])\n"
                       "\tby mx.example.jp with ESMTPS id %s; Tue, 8 Dec 2026 09:00:%02d +0900\n"
                       % (i, i, i, "A" * 40, i) for i in range(40))
    signature = "".join("\n\t" + "QUJDREVGR0hJSktMTU5PUFFSU1RVVldYWVo" * 2 for _ in range(140))
    hachiro = [
        # 20 KB of other headers, then From and Subject, then 20 KB more
        message([("X-Before", received[1:-1] + "\n\t" + "b" * 14000),
                 ("From", "%s <big@example.jp>" % b_word("大きなヘッダ")),
                 ("Subject", b_word("四十キロバイトのヘッダ")),
                 ("DKIM-Signature", "v=1; a=rsa-sha256; b=" + signature),
                 ("ARC-Seal", "i=1; a=rsa-sha256; b=" + signature)]),
        # an HTML mail on one line of a megabyte
        message([("From", "html@example.jp"), ("Subject", "one long line")],
                body="<html>" + "x" * (1 << 20) + "</html>", body_charset="ascii"),
        message([("From", "after@example.jp"), ("Subject", "after the long line")]),
    ]
    demo = [
        message([("From", "%s <yamada@example.jp>" % b_word("山田太郎")), ("To", "demo@example.jp"),
                 ("Subject", b_word("来週の打ち合わせについて"))]),
        message([("From", "%s <sato@example.jp>" % b_word("佐藤花子", "utf-8")), ("To", "demo@example.jp"),
                 ("Subject", q_word("お昼ごはん行きませんか？"))]),
        message([("From", "Kel <kel@example.jp>"), ("To", "demo@example.jp"),
                 ("Subject", b_word("ようこそ！新着メールをお知らせします"))]),
    ]
    kaede = [message([("From", "%s <ms@example.jp>" % b_word("トークン太郎")), ("To", "kaede@example.jp"),
                      ("Subject", b_word("OAuth2で届きました"))]),
             message([("From", "google@example.jp"), ("Subject", "second")])]
    kuro = [message([("From", "k%d@example.jp" % i), ("Subject", b_word("広告です" if i == 3 else "第%d報" % i))])
            for i in range(1, 5)]
    boxes = {"taro": taro, "hanako": hanako, "saburo": saburo, "jiro": jiro, "shiro": [], "demo": demo,
             "goro": seven, "rokuro": list(seven), "hachiro": hachiro, "kuro": kuro,
             "kaede": kaede,
             "ichika": list(taro), "nanami": list(seven), "imadate": list(kuro), "ichiro": [], "sanae": []}
    boxes["bulk3000"] = bulk(3000)
    if os.environ.get("KEL_BENCH_MAILBOXES"):
        for n in (1000, 1500, 5000):
            boxes["bench%d" % n] = [
                message([("From", '%s <user%d@example.jp>' % (b_word("山田太郎"), i)),
                         ("To", "bench@example.jp"),
                         ("Subject", b_word("ベンチマーク %d 通目" % i))])
                for i in range(n)]
        boxes["real5000"] = realistic(5000)
    return boxes


SURNAMES = ["山田", "佐藤", "鈴木", "高橋", "田中", "伊藤", "渡辺", "中村", "小林", "加藤", "吉田", "山本"]
GIVEN = ["太郎", "花子", "一郎", "美咲", "健太", "陽子", "大輔", "由美", "翔", "恵子"]
SENDERS = ["株式会社サンプル商事", "お知らせ係", "ネット通販ストア", "経理部", "総務部", "カスタマーサポート"]
TOPICS = ["会議の議事録を送付します", "来週の打ち合わせについて", "ご注文ありがとうございます", "請求書のご案内",
          "システムメンテナンスのお知らせ", "新製品発表会のご招待", "パスワード変更のお願い", "週報",
          "出張報告書", "お見積りの件", "年末年始の営業について", "資料を共有しました"]
DOMAINS = ["mail.example.co.jp", "smtp.example.ne.jp", "mx.example.com", "out.example.jp"]


def b64_text(rng, n):
    return base64.b64encode(rng.randbytes(n * 3 // 4 + 3)).decode()[:n]


def folded(name, value, width=76):
    """A header whose value is folded at `width` columns, as signers fold theirs."""
    text = "%s: " % name
    lines = []
    while len(text) + len(value) > width:
        cut = width - len(text)
        lines.append(text + value[:cut])
        value = value[cut:]
        text = "\t"
    lines.append(text + value)
    return "\n".join(lines)


def encoded_words(text, charset):
    """Long Japanese text as several encoded words on folded lines (RFC 2047's 75 columns)."""
    words, piece = [], ""
    for ch in text:
        if len(b_word(piece + ch, charset)) > 70:
            words.append(b_word(piece, charset))
            piece = ""
        piece += ch
    words.append(b_word(piece, charset))
    return "\n ".join(words)


def stamped_up_to(rng, out, target):
    """`out` with anti-spam stamps after it, to about `target` bytes in all."""
    size = sum(len(h) + 1 for h in out)
    n = 0
    while size < target - 200:
        h = folded("X-Antispam-Report-%d" % n, b64_text(rng, min(2000, target - size - 200)))
        out.append(h)
        size += len(h) + 1
        n += 1
    return out


def big_header_block(rng, i, target):
    """Trace and signature headers of a large hosted provider, about `target` bytes."""
    domain = rng.choice(DOMAINS)
    out = ["Return-Path: <bounce-%d@%s>" % (i, domain),
           "Delivered-To: bulk3000@example.jp"]
    for hop in range(rng.randint(5, 8)):
        out.append("Received: from relay%d.%s (relay%d.%s [192.0.2.%d])\n\tby mx%d.example.jp (Postfix) with "
                   "ESMTPS id %s\n\tfor <bulk3000@example.jp>; Mon, 3 Jun 2024 09:%02d:%02d +0900 (JST)"
                   % (hop, domain, hop, domain, rng.randint(1, 254), hop, b64_text(rng, 12).replace("/", "x"),
                      rng.randint(0, 59), rng.randint(0, 59)))
    out.append(folded("ARC-Seal", "i=1; a=rsa-sha256; t=1717372800; cv=none; d=%s; s=arc-20240605; b=%s"
                      % (domain, b64_text(rng, 1400))))
    out.append(folded("ARC-Message-Signature", "i=1; a=rsa-sha256; c=relaxed/relaxed; d=%s; s=arc-20240605; "
                      "h=to:subject:message-id:date:from:mime-version:dkim-signature; bh=%s; b=%s"
                      % (domain, b64_text(rng, 44), b64_text(rng, 1400))))
    out.append(folded("ARC-Authentication-Results", "i=1; mx.example.jp; dkim=pass header.i=@%s; spf=pass "
                      "(example.jp: domain of bounce-%d@%s designates 192.0.2.1 as permitted sender) "
                      "smtp.mailfrom=bounce-%d@%s; dmarc=pass (p=REJECT sp=REJECT dis=NONE) header.from=%s"
                      % (domain, i, domain, i, domain, domain)))
    for selector in ("20230601", "fbl"):
        out.append(folded("DKIM-Signature", "v=1; a=rsa-sha256; c=relaxed/relaxed; d=%s; s=%s; t=1717372800; "
                          "h=to:subject:message-id:date:from:mime-version:from:to:cc:subject:date:message-id:"
                          "reply-to; bh=%s; b=%s" % (domain, selector, b64_text(rng, 44), b64_text(rng, 1800))))
    out.append(folded("Authentication-Results", "mx.example.jp; dkim=pass header.i=@%s; spf=pass "
                      "smtp.mailfrom=%s; dmarc=pass header.from=%s" % (domain, domain, domain)))
    return stamped_up_to(rng, out, target)


def bulk(n, seed=3000):
    """`n` mails as they arrive from everywhere: Japanese names and subjects in
    encoded words (ISO-2022-JP and UTF-8), one in ten behind a header block of
    10-16 KB, now and then an HTML mail with a long first body line."""
    rng = random.Random(seed)
    messages = []
    for i in range(n):
        charset = "ISO-2022-JP" if rng.random() < 0.7 else "UTF-8"
        if rng.random() < 0.6:
            name = rng.choice(SURNAMES) + rng.choice(GIVEN)
        else:
            name = rng.choice(SENDERS)
        subject = "%s（%d）" % (rng.choice(TOPICS), i + 1)
        if rng.random() < 0.3:
            subject = "Re: " + subject + "、ご確認をお願いいたします。"
        headers = big_header_block(rng, i, rng.randint(10 * 1024, 15 * 1024 + 512)) if i % 10 == 7 else [
            "Return-Path: <user%d@example.jp>" % i,
            "Received: from smtp.example.ne.jp (smtp.example.ne.jp [192.0.2.%d])\n\tby mx.example.jp "
            "(Postfix) with ESMTP; Mon, 3 Jun 2024 09:00:00 +0900 (JST)" % (i % 250 + 1)]
        headers += [
            "From: %s <user%d@example.jp>" % (encoded_words(name, charset), i),
            "To: bulk3000@example.jp",
            "Subject: %s" % encoded_words(subject, charset),
            "Date: Mon, 3 Jun 2024 09:%02d:%02d +0900" % (i // 60 % 60, i % 60),
            "Message-ID: <%d.%s@example.jp>" % (i, b64_text(rng, 16).replace("/", "x")),
            "MIME-Version: 1.0",
        ]
        if i % 25 == 12:
            headers.append("Content-Type: text/html; charset=UTF-8")
            body = ("<html><body>" + "".join("<p style=\"margin:0;color:#333\">%s</p>" % rng.choice(TOPICS)
                                             for _ in range(140)) + "</body></html>\n").encode("utf-8")
        else:
            headers.append("Content-Type: text/plain; charset=ISO-2022-JP")
            body = ("%s様\n\nいつもお世話になっております。\n%s\nよろしくお願いいたします。\n"
                    % (rng.choice(SURNAMES), subject)).encode("iso2022_jp")
        messages.append("\n".join(headers).encode("ascii") + b"\n\n" + body)
    return messages


def sized_header_block(rng, i, target):
    """Trace headers, one signature and anti-spam stamps, about `target` bytes (2 KB and up)."""
    if target >= 9 * 1024:
        return big_header_block(rng, i, target)
    domain = rng.choice(DOMAINS)
    out = ["Return-Path: <user%d@%s>" % (i, domain),
           "Received: from %s (%s [192.0.2.%d])\n\tby mx.example.jp (Postfix) with ESMTPS; "
           "Mon, 3 Jun 2024 09:00:00 +0900 (JST)" % (domain, domain, i % 250 + 1),
           folded("DKIM-Signature", "v=1; a=rsa-sha256; d=%s; s=sel; h=from:to:subject:date; bh=%s; b=%s"
                  % (domain, b64_text(rng, 44), b64_text(rng, 340)))]
    return stamped_up_to(rng, out, target)


def realistic(n, seed=5000):
    """`n` mails with header blocks of 2 to 16 KB, Japanese names and subjects."""
    rng = random.Random(seed)
    messages = []
    for i in range(n):
        headers = sized_header_block(rng, i, rng.randint(2 * 1024, 16 * 1024))
        headers += [
            "From: %s <user%d@example.jp>" % (b_word(rng.choice(SURNAMES) + rng.choice(GIVEN)), i),
            "To: real5000@example.jp",
            "Subject: %s" % b_word("%s（%d）" % (rng.choice(TOPICS), i + 1)),
            "Date: Mon, 3 Jun 2024 09:%02d:%02d +0900" % (i // 60 % 60, i % 60),
            "Message-ID: <%d.real@example.jp>" % i,
        ]
        messages.append("\n".join(headers).encode("ascii") + b"\n\n" + "本文です。\n".encode("iso2022_jp"))
    return messages
