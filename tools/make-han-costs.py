#!/usr/bin/env python3
"""Turns the Unihan tables of Debian's unicode-data into the costs, in half bits, of each CJK
ideograph (U+4E00..U+9FFF) in simplified Chinese, traditional Chinese, Japanese and Korean text,
and of each Hangul syllable of KS X 1001 in Korean text: the character model of the code-page
detector (platform/CodePageDetect.cpp). Beside it, the pairs of characters that make words: of
Chinese from jieba's dictionary (words with their counts in running text; the traditional pairs
are its words in traditional forms), of Korean from the Korean Hunspell dictionary; and what
each Russian letter costs after the one before it, from the Russian Hunspell dictionary.

usage: make-han-costs.py UNIHAN_DIR CHINESE_WORDS KOREAN_WORDS RUSSIAN_WORDS OUT.cpp
"""
import bz2
import collections
import unicodedata
import math
import os
import sys

FIRST, LAST = 0x4E00, 0x9FFF


def read(directory, name, keys):
    found = {k: {} for k in keys}
    path = os.path.join(directory, name)
    opener = bz2.open if path.endswith(".bz2") else open
    with opener(path, "rt", encoding="utf-8") as f:
        for line in f:
            if line.startswith("#") or not line.strip():
                continue
            cp, key, value = line.rstrip("\n").split("\t", 2)
            if key in found:
                found[key][int(cp[2:], 16)] = value
    return found


def code_points(value):
    return [int(v[2:].split("<")[0], 16) for v in value.split()]

# Korean syllables as initial, vowel and final jamo, each by its share of running text (per
# mille), for the syllables of native words and loanwords.
INITIALS = [130, 10, 70, 90, 7, 60, 60, 50, 2, 90, 5, 220, 80, 2, 20, 10, 15, 15, 70]
VOWELS = [220, 50, 10, 1, 100, 40, 50, 5, 90, 20, 2, 10, 15, 70, 10, 1, 7, 12, 100, 20, 150]
FINALS = [550, 60, 2, 1, 130, 1, 2, 5, 90, 2, 1, 1, 1, 1, 1, 1, 40, 15, 3, 10, 15, 70, 3, 2, 1,
          2, 1, 1]
# The vowel ㅢ takes a final consonant in almost no Korean word (의, 희 and 늬 have none): the
# product of the three shares would make 읠 or 읜 as likely as 킴.
UI, UI_WITH_FINAL = 19, 0.02
# The most frequent syllables of running text, of surnames and given names, and of the loanwords
# of music (love, blue, club, man, pop, dance, show).
COMMON_SYLLABLES = ("이다는에의고가하을지서기사로한도를리시어자나대아수인정전해일게것주부그있보장들제좋"
                    "라만우상면요되성여국계적원내했마구문거오과경소없동스비세화말학생중신각미재조위연"
                    "무회저개모은실방었니야물치분당발관운안트드때람와공래간선심영명금습녕김박최윤준민"
                    "현희진호혜석용태범훈승필랑날밤별꽃눈길봄름울바늘음꿈속너네줘난널넌크프못된될됩돼"
                    "할함합입까죠데던든듯또더런려렇렸록론르른릴림립많맞먹멀며몰몸뭐믿받밝버번벌베뿐살"
                    "새섯셨손쉬슬식싶써씨않알앞애약얘억언얼엔열였옆왜외욕웃월웠으응익잃임잊잠절젊점좀"
                    "줄즐직질짐집짜쪽찾처천첫청초추출친칠켜큰터토통파팔평포표품피향허혼홍확환후흐흔히"
                    "힘강권황송류양배백유남노곽차엄채변염설반왕옥육맹탁예봉철광숙순규형창혁종러브블클"
                    "플틀링맨빅팝댄뮤쇼컴홈걸키티디")

# The most common Chinese surnames (simplified forms): artists' names begin with them far more
# often than running text suggests.
SURNAMES = ("王李张刘陈杨黄赵吴周徐孙马朱胡郭何高林罗郑梁谢宋唐许韩冯邓曹彭曾肖田董袁潘于蒋蔡余杜"
            "叶程苏魏吕丁任沈姚卢姜崔钟谭陆汪范金石廖贾夏韦付方白邹孟熊秦邱江尹薛闫段雷侯龙史陶"
            "黎贺顾毛郝龚邵万钱严覃武戴莫孔向汤温庞齐萧费伍")

# The most common characters of Chinese given names (simplified forms), for the same reason.
GIVEN_NAMES = ("英华玉秀明丽文兰珍红芳国建军平志金海云霞春杰伟涛敏静娟燕刚勇强磊洋艳超鹏辉斌波宇浩凯"
               "俊婷琳颖倩雪慧欣怡佳梓涵轩晨萱子嘉思雨琪瑶菲娜妮莉萍蓉翔毅彦博峰龙飞鑫晶莹婉淑雯蕾"
               "薇健豪亮成德荣光永林美丹君秋冬梅")


DICTIONARY_SHARE = 0.3  # of the syllables of the Korean dictionary's words in the mixture


def hangul_costs(readings, weight, words):
    """Costs of the 11,172 syllables, 0 for those outside KS X 1001 (EUC-KR proper). A syllable
    is read as a mixture: the Sino-Korean reading of common hanja (most names and much of the
    vocabulary), the jamo model, the list of the most frequent syllables and the syllables of the
    dictionary's words (native words and loanwords too)."""
    ks = [False] * 11172
    for i in range(11172):
        try:
            ks[i] = len(chr(0xAC00 + i).encode("euc_kr")) == 2
        except UnicodeEncodeError:
            pass
    sino = [0.0] * 11172
    for cp, value in readings["kHangul"].items():
        for reading in value.split():
            s = ord(reading.split(":")[0]) - 0xAC00
            if 0 <= s < 11172:
                sino[s] += weight(cp)
    jamo = [INITIALS[i // 588] * VOWELS[i % 588 // 28] * FINALS[i % 28] *
            (UI_WITH_FINAL if i % 588 // 28 == UI and i % 28 else 1.0) if ks[i] else 0
            for i in range(11172)]
    common = [0.0] * 11172
    for c in COMMON_SYLLABLES:
        common[ord(c) - 0xAC00] = 1.0
    dictionary = [0.0] * 11172
    for word in words:
        for c in word:
            dictionary[ord(c) - 0xAC00] += 1
    totals = [sum(x for x, k in zip(t, ks) if k) for t in (sino, jamo, common, dictionary)]
    costs = []
    for i in range(11172):
        if not ks[i]:
            costs.append(0)
            continue
        p = ((1 - DICTIONARY_SHARE) * (0.45 * sino[i] / totals[0] + 0.25 * jamo[i] / totals[1] +
                                       0.3 * common[i] / totals[2]) +
             DICTIONARY_SHARE * dictionary[i] / totals[3])
        costs.append(min(255, max(2, round(-2 * math.log2(p)))) if p > 0 else 60)
    return costs


# Two characters seen together in at least this many words (counted in running text) make a
# word of Chinese; fewer are too rare to tell a reading by.
PAIR_COUNT = 50
PAIR_BONUS = 24  # a word of two characters is no surer than this
HANGUL_KEY = 0x6000  # Hangul syllables after the Han offsets in a pair's key (kHangulKey)
KOREAN_PAIR_WEIGHT = 2  # as the Chinese pairs', in half bits


def pair_key(a, b):
    def offset(c):
        return c - FIRST if FIRST <= c <= LAST else c - 0xAC00 + HANGUL_KEY
    return offset(a) << 16 | offset(b)


def chinese_pairs(path, traditional):
    """What the pairs of adjacent ideographs inside the dictionary's words take off a reading,
    in simplified forms and in traditional forms: twice their pointwise mutual information (how
    much likelier the two characters are together than each alone), in half bits."""
    pairs, characters = collections.Counter(), collections.Counter()
    with open(path, encoding="utf-8") as f:
        for line in f:
            fields = line.split()
            if len(fields) < 2:
                continue
            word, count = fields[0], int(fields[1])
            if not all(FIRST <= ord(c) <= LAST for c in word):
                continue
            for c in word:
                characters[ord(c)] += count
            for a, b in zip(word, word[1:]):
                pairs[ord(a), ord(b)] += count
    total = sum(characters.values())
    simplified = {}
    for (a, b), n in pairs.items():
        if n < PAIR_COUNT:
            continue
        bonus = round(2 * math.log2(n * total / (characters[a] * characters[b])))
        if bonus > 0:
            simplified[a, b] = min(PAIR_BONUS, bonus)
    traditional_pairs = {}
    for (a, b), bonus in simplified.items():
        for ta in traditional.get(a, [a])[:2]:
            for tb in traditional.get(b, [b])[:2]:
                traditional_pairs[ta, tb] = max(traditional_pairs.get((ta, tb), 0), bonus)
    return simplified, traditional_pairs


def korean_words(path):
    """The dictionary's words (stored as jamo) that are all Hangul syllables."""
    words = []
    with open(path, encoding="utf-8") as f:
        next(f)  # the word count
        for line in f:
            word = unicodedata.normalize("NFC", line.split("/")[0].strip())
            if word and all(0xAC00 <= ord(c) <= 0xD7A3 for c in word):
                words.append(word)
    return words


def korean_pairs(words):
    """What the pairs of adjacent syllables inside the dictionary's words take off a reading:
    twice their pointwise mutual information, in half bits, over the words (which have no
    counts: each word counts once)."""
    pairs, syllables = collections.Counter(), collections.Counter()
    for word in words:
        for c in word:
            syllables[ord(c)] += 1
        for a, b in zip(word, word[1:]):
            pairs[ord(a), ord(b)] += 1
    total = sum(syllables.values())
    bonuses = {}
    for (a, b), n in pairs.items():
        bonus = round(KOREAN_PAIR_WEIGHT * math.log2(n * total / (syllables[a] * syllables[b])))
        if bonus > 0:
            bonuses[a, b] = min(PAIR_BONUS, bonus)
    return bonuses


RUSSIAN = "абвгдежзийклмнопрстуфхцчшщъыьэюя"
# Russian letters а..я by their share of running text (per mille), mixed into the pairs so that a
# pair the dictionary lacks (its words are in their first forms only, and names and loanwords
# are few) is not priced out.
RUSSIAN_SHARES = [80, 16, 45, 17, 30, 85, 9, 17, 74, 12, 35, 44, 32, 67, 110, 28, 47, 55, 63, 26,
                  3, 10, 5, 14, 7, 4, 1, 19, 17, 3, 6, 20]
RUSSIAN_PAIR_WEIGHT = 0.9


def russian_letter_costs(path):
    """The cost, in half bits, of each letter а..я after each letter, and (the last row) at the
    start of a word, from the dictionary's words (it writes ё as е) mixed with the letters'
    shares of running text."""
    counts = collections.Counter()
    with open(path, encoding="utf-8") as f:
        next(f)  # the word count
        for line in f:
            word = line.split("/")[0].strip().lower().replace("ё", "е")
            if not word or not all(c in RUSSIAN for c in word):
                continue
            prev = None
            for c in word:
                counts[prev, c] += 1
                prev = c
    rows = []
    for prev in list(RUSSIAN) + [None]:
        total = sum(counts[prev, c] for c in RUSSIAN)
        share = sum(RUSSIAN_SHARES)
        rows.append([min(255, round(-2 * math.log2(
            RUSSIAN_PAIR_WEIGHT * (counts[prev, c] + 0.5) / (total + 0.5 * len(RUSSIAN)) +
            (1 - RUSSIAN_PAIR_WEIGHT) * RUSSIAN_SHARES[i] / share)))
                     for i, c in enumerate(RUSSIAN)])
    return rows


def write_pairs(f, name, pairs):
    """A sorted table of pair keys and, beside it, what each takes off a reading."""
    rows = sorted((pair_key(a, b), bonus) for (a, b), bonus in pairs.items())
    f.write("const uint32_t %sKeys[%d] = {\n" % (name, len(rows)))
    for i in range(0, len(rows), 16):
        f.write(",".join("%d" % k for k, _ in rows[i:i + 16]) + ",\n")
    f.write("};\nconst uint8_t %sBonus[%d] = {\n" % (name, len(rows)))
    for i in range(0, len(rows), 32):
        f.write(",".join("%d" % b for _, b in rows[i:i + 32]) + ",\n")
    f.write("};\nconst TPairs %s{%sKeys, %sBonus, %d};\n\n" % (name, name, name, len(rows)))


def main():
    directory, chinese_words, korean_words_path, russian_words, out = sys.argv[1:6]

    def table(base):
        for ext in (".txt.bz2", ".txt"):
            if os.path.exists(os.path.join(directory, base + ext)):
                return base + ext
        sys.exit("missing " + base + " in " + directory)

    readings = read(directory, table("Unihan_Readings"), ["kHanyuPinlu", "kHangul"])
    other = read(directory, table("Unihan_OtherMappings"),
                 ["kTGH", "kGB0", "kBigFive", "kJis0", "kJoyoKanji", "kJinmeiyoKanji",
                  "kKoreanEducationHanja"])
    like = read(directory, table("Unihan_DictionaryLikeData"), ["kFrequency", "kGradeLevel"])
    variants = read(directory, table("Unihan_Variants"),
                    ["kSimplifiedVariant", "kTraditionalVariant"])

    # Counts in the corpus of modern (simplified) Chinese behind kHanyuPinlu: "de(75596) di(..)".
    pinlu = {}
    for cp, value in readings["kHanyuPinlu"].items():
        pinlu[cp] = sum(int(v.split("(")[1].rstrip(")")) for v in value.split())
    total = float(sum(pinlu.values()))

    def tgh_level(cp):
        v = other["kTGH"].get(cp)
        if not v:
            return 0
        n = int(v.split(":")[1])
        return 1 if n <= 3500 else 2 if n <= 6500 else 3

    simplified = {cp: code_points(v) for cp, v in variants["kSimplifiedVariant"].items()}
    traditional = {cp: code_points(v) for cp, v in variants["kTraditionalVariant"].items()}

    frequency_counts = {0: 0, 1: 3000, 2: 600, 3: 100, 4: 20, 5: 5}
    surnames = set(ord(c) for c in SURNAMES)
    given_names = set(ord(c) for c in GIVEN_NAMES)
    for names in (surnames, given_names):
        for c in list(names):
            names.update(t for t in traditional.get(c, []))

    def usenet_count(cp):
        """kFrequency (of traditional Chinese Usenet text) as a count on kHanyuPinlu's scale."""
        count = frequency_counts.get(int(like["kFrequency"].get(cp, 0)), 0)
        for t in traditional.get(cp, []):
            count = max(count, frequency_counts.get(int(like["kFrequency"].get(t, 0)), 0))
        return count

    def simplified_count(cp):
        level = tgh_level(cp)
        floor = {1: 5.0, 2: 1.5, 3: 0.3}.get(level, 0.0)
        if not floor:
            floor = 0.2 if cp in other["kGB0"] else 0.03
        count = max(pinlu.get(cp, 0), usenet_count(cp))
        if cp in surnames:
            count = max(count, 2000)
        if cp in given_names:
            count = max(count, 1000)
        if cp in simplified and cp not in simplified[cp]:
            count, floor = 0.03 * count, min(floor, 0.03)  # a traditional form
        return count + floor

    def traditional_count(cp):
        if cp in simplified and cp not in simplified[cp]:
            count = max(pinlu.get(s, 0) for s in simplified[cp])
        elif cp in traditional and cp not in traditional[cp]:
            count = 0.02 * pinlu.get(cp, 0)  # a simplified form only
        else:
            count = pinlu.get(cp, 0)
        grade = like["kGradeLevel"].get(cp)
        if grade:
            count = max(count, {1: 300, 2: 150, 3: 80, 4: 40, 5: 25, 6: 15}[int(grade)])
        freq = like["kFrequency"].get(cp)
        if freq:
            count = max(count, frequency_counts[int(freq)])
        if not (cp in traditional and cp not in traditional[cp]):
            if cp in surnames:
                count = max(count, 2000)
            if cp in given_names:
                count = max(count, 1000)
        big5 = other["kBigFive"].get(cp)
        floor = 0.03
        if big5:
            floor = 2.0 if int(big5, 16) < 0xC940 else 0.1
        return count + floor

    def japanese_count(cp):
        count = pinlu.get(cp, 0)
        for s in simplified.get(cp, []):
            count = max(count, pinlu.get(s, 0))
        if cp in other["kJoyoKanji"]:
            return max(count, 150.0) + 3.0
        if cp in other["kJinmeiyoKanji"]:
            return max(0.5 * count, 15.0) + 1.0
        jis = other["kJis0"].get(cp)
        floor = 0.4 if jis and int(jis[:2]) <= 47 else 0.08 if jis else 0.02
        return 0.05 * count + floor

    def korean_count(cp):
        return 1.0 if cp in other["kKoreanEducationHanja"] else 0.15

    def cost(count):
        return min(255, max(2, round(-2 * math.log2(count / total))))

    with open(out, "w", encoding="utf-8") as f:
        f.write("// Generated by tools/make-han-costs.py from the Unihan tables; do not edit.\n")
        f.write('#include "HanCosts.h"\n\nnamespace platform {\n\n')
        f.write("const THanCosts kHanCosts[%d] = {\n" % (LAST - FIRST + 1))
        for cp in range(FIRST, LAST + 1):
            f.write("{%d,%d,%d,%d},\n" % (cost(simplified_count(cp)), cost(traditional_count(cp)),
                                        cost(japanese_count(cp)), cost(korean_count(cp))))
        f.write("};\n\n")
        def hanja_weight(cp):
            count = pinlu.get(cp, 0)
            for v in simplified.get(cp, []):
                count = max(count, pinlu.get(v, 0))
            return count + (5.0 if cp in other["kKoreanEducationHanja"] else 0.1)

        korean = korean_words(korean_words_path)
        costs = hangul_costs(readings, hanja_weight, korean)
        f.write("const uint8_t kHangulCosts[11172] = {\n")
        for i in range(0, len(costs), 32):
            f.write(",".join(str(c) for c in costs[i:i + 32]) + ",\n")
        f.write("};\n\n")
        simplified_pairs, traditional_pairs = chinese_pairs(chinese_words, traditional)
        write_pairs(f, "kSimplifiedPairs", simplified_pairs)
        write_pairs(f, "kTraditionalPairs", traditional_pairs)
        write_pairs(f, "kKoreanPairs", korean_pairs(korean))
        f.write("const uint8_t kRussianLetterCosts[33][32] = {\n")
        for row in russian_letter_costs(russian_words):
            f.write("{" + ",".join(str(c) for c in row) + "},\n")
        f.write("};\n\n} // namespace platform\n")


if __name__ == "__main__":
    main()
