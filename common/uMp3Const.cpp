#include "uMp3Const.h"

const std::array<std::string_view, kGenreCount> GenreNames = {
    // 0
    "Blues",
    "ClassicRock",
    "Country",
    "Dance",
    "Disco",
    "Funk",
    "Grunge",
    "Hip-Hop",
    "Jazz",
    "Metal",
    // 10
    "NewAge",
    "Oldies",
    "Other",
    "Pop",
    "R&B",
    "Rap",
    "Reggae",
    "Rock",
    "Techno",
    "Industrial",
    // 20
    "Alternative",
    "Ska",
    "DeathMetal",
    "Pranks",
    "Soundtrack",
    "Euro-Techno",
    "Ambient",
    "Trip-Hop",
    "Vocal",
    "Jazz+Funk",
    // 30
    "Fusion",
    "Trance",
    "Classical",
    "Instrumental",
    "Acid",
    "House",
    "Game",
    "SoundClip",
    "Gospel",
    "Noise",
    // 40
    "AlternRock",
    "Bass",
    "Soul",
    "Punk",
    "Space",
    "Meditative",
    "InstrumentalPop",
    "InstrumentalRock",
    "Ethnic",
    "Gothic",
    // 50
    "Darkwave",
    "Techno-Industrial",
    "Electronic",
    "Pop-Folk",
    "Eurodance",
    "Dream",
    "SouthernRock",
    "Comedy",
    "Cult",
    "Gangsta",
    // 60
    "Top",
    "ChristianRap",
    "Pop/Funk",
    "Jungle",
    "NativeAmerican",
    "Cabaret",
    "NewWave",
    "Psychadelic",
    "Rave",
    "Showtunes",
    // 70
    "Trailer",
    "Lo-Fi",
    "Tribal",
    "AcidPunk",
    "AcidJazz",
    "Polka",
    "Retro",
    "Musical",
    "Rock&Roll",
    "HardRock",
    // 80
    "Folk",
    "Folk-Rock",
    "NationalFolk",
    "Swing",
    "FastFusion",
    "Bebob",
    "Latin",
    "Revival",
    "Celtic",
    "Bluegrass",
    // 90
    "Avantgarde",
    "GothicRock",
    "ProgessiveRock",
    "PsychedelicRock",
    "SymphonicRock",
    "SlowRock",
    "BigBand",
    "Chorus",
    "EasyListening",
    "Acoustic",
    // 100
    "Humour",
    "Speech",
    "Chanson",
    "Opera",
    "ChamberMusic",
    "Sonata",
    "Symphony",
    "BootyBass",
    "Primus",
    "PornGroove",
    // 110
    "Satire",
    "SlowJam",
    "Club",
    "Tango",
    "Samba",
    "Folklore",
    "Ballad",
    "PowerBallad",
    "RhythmicSoul",
    "Freestyle",
    // 120
    "Duet",
    "PunkRock",
    "DrumSolo",
    "Acapella",
    "Euro-House",
    "DanceHall",
    "Goa",
    "Drum&Bass",
    "Club-House",
    "Hardcore",
    // 130
    "Terror",
    "Indie",
    "BritPop",
    "Negerpunk",
    "PolskPunk",
    "Beat",
    "ChristianGangstaRap",
    "HeavyMetal",
    "BlackMetal",
    "Crossover",
    // 140
    "ContemporaryChristian",
    "ChristianRock",
    "Merengue",
    "Salsa",
    "TrashMetal",
    "Anime",
    "JPop",
    "Synthpop",
};

const std::array<std::string_view, kFrameIdCount> FrameIdList = {
    "APIC", "TIT2", "TPE1", "TLAN", "TCON", "TFLT", "TCOM", "TEXT", "TALB", "PRIV", "TDLY",
    "TYER", "TPUB", "COMM", "SYLT", "TPIC", "COMR", "ENCR", "EQUA", "ETCO", "GEOB", "GRID",
    "IPLS", "LINK", "MCDI", "MLLT", "OWNE", "PCNT", "POPM", "POSS", "RBUF", "RVAD", "RVRB",
    "SYTC", "TBPM", "TCOP", "TDAT", "TENC", "TIME", "TIT1", "TIT3", "TKEY", "TLEN", "TMED",
    "TOAL", "TOFN", "TOLY", "TOPE", "TORY", "TOWN", "TPE2", "TPE3", "TPE4", "TPOS", "TRCK",
    "TRDA", "TRSN", "TRSO", "TSIZ", "TSRC", "TSSE", "TXXX", "UFID", "USER", "USLT", "WCOM",
    "WCOP", "WOAF", "WOAR", "WOAS", "WORS", "WPAY", "WPUB", "WXXX",
};

// Code page 936 bytes; the Unicode text is in the comment.
const std::array<std::string_view, kPictureTypeCount> PictureTypeNames = {
    "\xc6\xe4\xcb\xfb",                                      // 0 其他
    "ICON1",                                                 // 1 ICON1
    "ICON2",                                                 // 2 ICON2
    "\xb7\xe2\xc3\xe6",                                      // 3 封面
    "\xb7\xe2\xb5\xd7",                                      // 4 封底
    "\xd2\xb3\xc3\xe6\xd0\xa1\xb2\xe1\xd7\xd3",              // 5 页面小册子
    "CD\xc3\xbd\xcc\xe5",                                    // 6 CD媒体
    "\xca\xd7\xcf\xaf\xd2\xd5\xca\xf5\xbc\xd2",              // 7 首席艺术家
    "\xb1\xed\xd1\xdd\xd5\xdf",                              // 8 表演者
    "\xb5\xbc\xd1\xdd",                                      // 9 导演
    "\xc0\xd6\xb6\xd3",                                      // 10 乐队
    "\xc7\xfa\xd7\xf7\xd5\xdf",                              // 11 曲作者
    "\xb4\xca\xd7\xf7\xd5\xdf",                              // 12 词作者
    "\xc2\xbc\xd6\xc6\xb5\xd8\xb5\xe3",                      // 13 录制地点
    "\xc2\xbc\xd6\xc6\xb9\xfd\xb3\xcc",                      // 14 录制过程
    "\xb9\xfd\xb3\xcc\xb1\xed\xcf\xd6",                      // 15 过程表现
    "\xc6\xc1\xc4\xbb\xb2\xb6\xd7\xbd",                      // 16 屏幕捕捉
    "\xb9\xdb\xc9\xcd\xd3\xe3",                              // 17 观赏鱼
    "\xb2\xe5\xcd\xbc",                                      // 18 插图
    "\xc0\xd6\xb6\xd3/\xd2\xd5\xc8\xcblogo",                 // 19 乐队/艺人logo
    "\xb3\xf6\xb0\xe6\xc9\xcc/\xb9\xa4\xd7\xf7\xca\xd2logo", // 20 出版商/工作室logo
};
