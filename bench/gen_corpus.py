#!/usr/bin/env python3
"""Deterministic benchmark data for Tessaly!.

  gen_corpus.py pages DIR [--pages N] [--seed S]
      Writes N pages (default 20,000) of 5-9 KB below DIR in nested folders
      (at most 100 pages and 30 folders a folder, so no folder comes near the
      walk's 3000 entries): about 55% Shift_JIS, 10% EUC-JP, 5% ISO-2022-JP and
      30% UTF-8, a fifth of them without a declared charset. Each head holds a
      title, a keywords meta (entries separated by ';'), other metas and a
      script. About 5% of the pages hold 京都 in their title or keywords; their
      paths (relative, backslash-separated, in walk order) go to DIR.kyoto.txt.
      Some other pages hold 京都 only in their body, which is never indexed.

  gen_corpus.py database FILE [--pages N] [--seed S]
      Writes a keyword database of N pages directly, as the builder would
      write it (CR LF line ends, the same header and quoting), and the list of
      its pages that hold 京都 in title or keywords to FILE.kyoto.txt.

The same arguments always give the same bytes.
"""
import argparse
import os
import random

KYOTO = "京都"

# Words that every encoding used here can carry (JIS X 0208).
WORDS = ("旅行 寺 紅葉 料理 写真 音楽 日記 読書 映画 庭園 温泉 歴史 神社 祭り 桜 雪 海 山 川 "
         "駅 電車 地図 案内 手引き 設定 説明書 使い方 ファイル メニュー ウィンドウ 検索 保存 印刷 "
         "ソフト インストール ネットワーク データベース プログラム 開発 環境 入門 講座 大阪 奈良 "
         "東京 札幌 福岡 名古屋 神戸 横浜 春 夏 秋 冬 朝 夜 お茶 和菓子 抹茶 豆腐 料亭 旅館 "
         "ホームページ 更新 記録 感想 資料 索引 目次 リンク 家族 子供 犬 猫 鳥 花 木 石 水").split()
ASCII_WORDS = ("html css java linux windows guide manual tips faq news blog photo travel "
               "recipe index memo diary howto setup install network server").split()
SENTENCES = [
    "今日は朝から雨が降っていたので、家で本を読んで過ごしました。",
    "このページでは、ソフトの使い方を順番に説明します。",
    "設定ファイルを開いて、必要な項目を書き換えてください。",
    "写真をクリックすると、大きな画像が表示されます。",
    "駅から歩いて十分ほどのところに、小さな庭園があります。",
    "質問やご意見は、下のリンクからお寄せください。",
    "古いお寺の境内には、静かな時間が流れていました。",
    "The quick brown fox jumps over the lazy dog.",
    "Please read the manual before you install the software.",
]
ENCODINGS = [("cp932", "Shift_JIS", 55), ("euc_jp", "EUC-JP", 10),
             ("iso2022_jp", "ISO-2022-JP", 5), ("utf-8", "UTF-8", 30)]


def pick_encoding(rnd):
    x = rnd.randrange(100)
    for enc, name, share in ENCODINGS:
        if x < share:
            return enc, name
        x -= share
    return ENCODINGS[-1][:2]


def title_and_keywords(rnd, kyoto):
    title = "".join(rnd.sample(WORDS, rnd.randint(2, 3)))
    if rnd.random() < 0.3:
        title += " " + rnd.choice(ASCII_WORDS)
    entries = rnd.sample(WORDS, rnd.randint(2, 5)) + rnd.sample(ASCII_WORDS, rnd.randint(0, 2))
    if kyoto:
        where = rnd.randrange(3)
        if where in (0, 2):
            title = KYOTO + "の" + title
        if where in (1, 2):
            entries.insert(rnd.randrange(len(entries) + 1), KYOTO + rnd.choice(["", "旅行", "の寺"]))
    return title, "; ".join(entries)


def layout(n):
    """Relative paths (tuples of names) of n pages: 100 pages a folder, 30
    folders a parent folder, nested as deep as n needs."""
    leaves = (n + 99) // 100
    paths = []
    for i in range(n):
        leaf, k = divmod(i, 100)
        parts, x = [], leaf
        while True:
            x, r = divmod(x, 30)
            parts.append("d%02d" % r)
            if x == 0 and len(parts) >= 2:
                break
        parts.reverse()
        paths.append(tuple(parts) + ("p%03d.htm" % k,))
    return paths, leaves


def page_bytes(rnd, enc, charset, declared, title, keywords, body_kyoto):
    size = rnd.randint(5 * 1024, 9 * 1024)
    head = ["<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\">", "<html lang=\"ja\">",
            "<head>"]
    if declared:
        head.append('<meta http-equiv="Content-Type" content="text/html; charset=%s">' % charset)
    head.append("<title>%s</title>" % title)
    head.append('<meta name="keywords" content="%s">' % keywords)
    head.append('<meta name="description" content="%s">' % rnd.choice(SENTENCES).replace('"', ""))
    head.append('<meta name="author" content="%s">' % rnd.choice(["山田太郎", "taro", "hanako"]))
    head.append('<link rel="stylesheet" href="../style.css" type="text/css">')
    head.append("<script type=\"text/javascript\">\n<!--\nfunction go(n) { if (n < 3 && n > 0) "
                "location.href = 'p' + n + '.htm'; }\n// -->\n</script>")
    head.append("</head>")
    parts = ["\r\n".join(head), "\r\n<body>\r\n<h1>%s</h1>\r\n" % title]
    text = "\r\n".join(parts)
    body = []
    length = len(text.encode(enc))
    while length < size - 40:
        s = "<p>" + "".join(rnd.choice(SENTENCES) for _ in range(3))
        if body_kyoto and not body:
            s += KYOTO + "の話は本文だけにあります。"
        s += "</p>\r\n"
        body.append(s)
        length += len(s.encode(enc))
    return (text + "".join(body) + "</body>\r\n</html>\r\n").encode(enc)


def write_pages(root, n, seed, share):
    rnd = random.Random(seed)
    paths, _ = layout(n)
    hits = []
    for path in paths:
        enc, charset = pick_encoding(rnd)
        declared = rnd.random() >= 0.2
        kyoto = rnd.random() < share
        title, keywords = title_and_keywords(rnd, kyoto)
        data = page_bytes(rnd, enc, charset, declared, title, keywords,
                          not kyoto and rnd.random() < 0.02)
        full = os.path.join(root, *path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "wb") as f:
            f.write(data)
        if kyoto:
            hits.append("\\".join(path))
    with open(root.rstrip("/") + ".kyoto.txt", "w", encoding="utf-8") as f:
        f.write("".join(h + "\n" for h in hits))
    return len(hits)


def quote(value):
    """A string value as the attribute-file writer writes it."""
    if not value:
        return ""
    if "," in value or '"' in value or value[0] == " " or value[-1] == " ":
        return '"' + value.replace('"', '""') + '"'
    return value


def write_database(path, n, seed, share):
    rnd = random.Random(seed)
    paths, _ = layout(n)
    hits = []
    head = ("[main] \n", "Application = Tessaly!\n", "Version = 100\n", "bNewFile = 0\n",
            "Base = .\n", "Update = 2026/12/06-00:00:00\n", "bCanUpdate = 1\n",
            "DispURL = (default)\n", "DispTarget = main\n", " \n", "[links] \n")
    with open(path, "wb") as f:
        f.write("".join(head).replace("\n", "\r\n").encode("cp932"))
        chunk = []
        for p in paths:
            kyoto = rnd.random() < share
            title, keywords = title_and_keywords(rnd, kyoto)
            rel = "\\".join(p)
            chunk.append("A = %s, %s, %s\r\n" % (quote(title), quote(keywords), rel))
            if kyoto:
                hits.append(rel)
            if len(chunk) >= 10000:
                f.write("".join(chunk).encode("cp932"))
                chunk = []
        f.write("".join(chunk).encode("cp932"))
        f.write(b" \r\n")
    with open(path + ".kyoto.txt", "w", encoding="utf-8") as f:
        f.write("".join(h + "\n" for h in hits))
    return len(hits)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("kind", choices=["pages", "database"])
    ap.add_argument("target")
    ap.add_argument("--pages", type=int, default=20000)
    ap.add_argument("--seed", type=int, default=13)
    ap.add_argument("--share", type=float, default=0.05)
    a = ap.parse_args()
    if a.kind == "pages":
        hits = write_pages(a.target, a.pages, a.seed, a.share)
    else:
        hits = write_database(a.target, a.pages, a.seed, a.share)
    print("%s: %d pages, %d hold %s" % (a.target, a.pages, hits, KYOTO))


if __name__ == "__main__":
    main()
