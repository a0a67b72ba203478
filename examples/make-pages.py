# Writes the sample page collection in its several encodings. The pages are
# committed as bytes; run this from examples/ only to remake them.
import os
root = "pages"
def page(rel, enc, title, keywords, body, decl=None, extra_head="", bom=False):
    path = os.path.join(root, rel)
    os.makedirs(os.path.dirname(path) or root, exist_ok=True)
    charset = decl if decl is not None else {"cp932": "Shift_JIS", "euc_jp": "EUC-JP", "iso2022_jp": "ISO-2022-JP", "utf-8": "UTF-8"}[enc]
    meta = f'<meta http-equiv="Content-Type" content="text/html; charset={charset}">\n' if charset else ""
    if enc == "utf-8" and decl == "html5":
        meta = '<meta charset="utf-8">\n'
    kw = f'<meta name="keywords" content="{keywords}">\n' if keywords is not None else ""
    text = (f"<html>\n<head>\n{meta}<title>{title}</title>\n{kw}{extra_head}</head>\n"
            f"<body>\n<h1>{title}</h1>\n<p>{body}</p>\n</body>\n</html>\n")
    with open(path, "wb") as f:
        if bom:
            f.write(b"\xef\xbb\xbf")
        f.write(text.replace("\n", "\r\n").encode(enc))

page("index.htm", "cp932", "わたしのホームページ", "ホーム; 目次; index",
     "旅行、料理、本、音楽のページがあります。")
page("travel/kyoto.htm", "cp932", "京都の旅", "京都; 寺; 紅葉; travel",
     "秋の京都で寺をめぐりました。")
page("travel/nara.html", "euc_jp", "奈良公園の鹿", "奈良; 鹿; 大仏; travel",
     "鹿せんべいを買いました。")
page("travel/hokkaido/sapporo.htm", "iso2022_jp", "札幌の雪まつり", "北海道; 札幌; 雪; travel",
     "雪像がたくさんありました。")
page("cooking/curry.htm", "cp932", "カレーの作り方", "料理; カレー; レシピ",
     "玉ねぎをよく炒めます。")
page("cooking/sushi.HTM", "euc_jp", "寿司の話", "料理; 寿司; 魚",
     "京都の市場で買った魚で作りました。")
page("books/reading.htm", "cp932", "読書メモ & 感想", "本; 読書; 小説",
     "今年読んだ本の記録です。")
page("music/piano.htm", "iso2022_jp", "音楽の部屋", "音楽; ピアノ; バッハ",
     "バッハの平均律を練習中です。")
page("日記/表紙.htm", "cp932", "日記の表紙", "日記; 表紙",
     "毎日の記録です。")
# Pages of today, in UTF-8: with a byte-order mark and an HTML5 declaration,
# and with only the older http-equiv declaration. The emoji has no Shift_JIS
# form and is stored as the geta mark.
page("blog/cafe.html", "utf-8", "京都のカフェ巡り", "カフェ; 珈琲; 京都",
     "町家を改装したカフェで珈琲を飲みました。", decl="html5", bom=True)
page("blog/autumn.htm", "utf-8", "旅の記録 〜秋〜", "旅行; 紅葉; 🍁",
     "紅葉の写真を載せました。")
# Titles a browser must show as text: one written with a character reference
# (stored decoded, escaped again on the result page) and one holding markup.
# Japanese folder and file names; 表 ends in the byte 0x5C, the backslash.
page("アニメ/トムとジェリー.htm", "cp932", "Tom &amp; Jerry", "猫とねずみ; アニメ; cartoon",
     "追いかけっこのアニメです。")
page("アニメ/番組表.htm", "cp932", "今週の<b>番組表</b>", "テレビ; アニメ番組; 番組表",
     "月曜から金曜までの番組です。")
# Found by its title alone: no keyword holds アニメ.
page("blog/anime.htm", "utf-8", "好きなアニメの話", "ブログ; 感想",
     "子供のころに見た番組の話です。")
with open(os.path.join(root, "books/notes.txt"), "wb") as f:
    f.write("本のメモ（ページではありません）\r\n".encode("cp932"))
with open(os.path.join(root, "music/cover.htm"), "wb") as f:
    # Not text: an image saved under a page's name.
    f.write(b"\x89PNG\r\n\x1a\n\x00\x00\x00\rIHDR\x00\x00\x00\x10\x00\x00\x00\x10\x08\x02\x00\x00\x00")
