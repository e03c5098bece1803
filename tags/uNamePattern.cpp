#include "uNamePattern.h"

#include "CodePage.h"
#include "ID3v2Tags.h"

#include <cctype>

namespace {

// The separators a literal " - " stands for: names made on Windows often have the full-width
// hyphen or an en dash in its place.
constexpr std::string_view kDash = " - ";
constexpr std::string_view kDashes[] = {" - ", "\xEF\xBC\x8D", " \xE2\x80\x93 "};

bool IsSpaceAt(std::string_view text, size_t i, size_t& length) {
    if (text[i] == ' ' || text[i] == '\t') {
        length = 1;
        return true;
    }
    if (text.compare(i, 3, "\xE3\x80\x80") == 0) { // the ideographic space
        length = 3;
        return true;
    }
    return false;
}

std::string_view Trimmed(std::string_view text) {
    size_t n = 0;
    while (!text.empty() && IsSpaceAt(text, 0, n))
        text.remove_prefix(n);
    for (;;) {
        if (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
            text.remove_suffix(1);
        else if (text.size() >= 3 && text.substr(text.size() - 3) == "\xE3\x80\x80")
            text.remove_suffix(3);
        else
            return text;
    }
}

int FieldAt(std::string_view pattern, size_t at, size_t& length) {
    for (int f = 0; f < static_cast<int>(std::size(kNameFields)); ++f) {
        const std::string_view name = kNameFields[f].Placeholder;
        if (pattern.size() - at < name.size()) continue;
        bool same = true;
        for (size_t i = 0; i < name.size() && same; ++i)
            same = std::tolower(static_cast<unsigned char>(pattern[at + i])) == name[i];
        if (same) {
            length = name.size();
            return f;
        }
    }
    return -1;
}

// The matcher: parts from `k` on against the stem from `pos` on. A part that failed at a place
// fails there again, so each (part, place) is tried once: a pattern of many fields costs no more
// than parts x places x places.
struct TMatcher {
    const TNamePattern& parts;
    std::string_view text;
    std::vector<char> failed;
    std::vector<std::string_view> taken; // per part, the text a field took

    bool From(size_t k, size_t pos) {
        if (k == parts.size()) return pos == text.size();
        char& tried = failed[k * (text.size() + 1) + pos];
        if (tried) return false;
        const TNamePart& part = parts[k];
        if (part.Field < 0) {
            if (part.Literal == kDash) {
                for (std::string_view dash : kDashes)
                    if (text.compare(pos, dash.size(), dash) == 0 && From(k + 1, pos + dash.size()))
                        return true;
            } else if (text.compare(pos, part.Literal.size(), part.Literal) == 0 &&
                       From(k + 1, pos + part.Literal.size())) {
                return true;
            }
        } else {
            // The shortest text first, whole characters only.
            for (size_t end = pos; end <= text.size();) {
                const std::string_view piece = text.substr(pos, end - pos);
                if ((part.Field == kSkipField || !Trimmed(piece).empty()) && From(k + 1, end)) {
                    taken[k] = Trimmed(piece);
                    return true;
                }
                if (end == text.size()) break;
                const size_t n = platform::Utf8SequenceLength(text, end);
                end += n ? n : 1;
            }
        }
        tried = 1;
        return false;
    }
};

bool IsDigits(std::string_view text) {
    if (text.empty()) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

} // namespace

std::optional<TNamePattern> ParseNamePattern(std::string_view pattern, TNamePatternUse use,
                                             std::string& error) {
    if (!platform::IsWellFormedUtf8(pattern)) {
        error = "the pattern is not valid UTF-8";
        return std::nullopt;
    }
    TNamePattern parts;
    auto literal = [&](std::string_view text) {
        if (parts.empty() || parts.back().Field >= 0) parts.push_back({});
        parts.back().Literal += text;
    };
    for (size_t i = 0; i < pattern.size();) {
        size_t length = 0;
        const int field = pattern[i] == '%' ? FieldAt(pattern, i, length) : -1;
        if (field < 0) {
            literal(pattern.substr(i, 1));
            ++i;
            continue;
        }
        parts.push_back({field, {}});
        i += length;
    }
    // " - " is a separator of its own, so that it can match its Windows forms.
    TNamePattern split;
    for (TNamePart& part : parts) {
        if (part.Field >= 0) {
            split.push_back(std::move(part));
            continue;
        }
        std::string_view rest = part.Literal;
        while (!rest.empty()) {
            const size_t dash = rest.find(kDash);
            if (dash != 0) split.push_back({-1, std::string(rest.substr(0, dash))});
            if (dash == std::string_view::npos) break;
            split.push_back({-1, std::string(kDash)});
            rest.remove_prefix(dash + kDash.size());
        }
    }
    bool fields = false;
    std::vector<bool> seen(std::size(kNameFields));
    for (size_t k = 0; k < split.size(); ++k) {
        const int f = split[k].Field;
        if (f < 0) {
            if (use == TNamePatternUse::ToName && split[k].Literal.find('/') != std::string::npos) {
                error = "the pattern makes a file name, which cannot hold '/'";
                return std::nullopt;
            }
            continue;
        }
        const std::string name = kNameFields[f].Placeholder;
        if (use == TNamePatternUse::ToName && f == kSkipField) {
            error = "%skip% has no text to give a file name";
            return std::nullopt;
        }
        if (use == TNamePatternUse::FromName) {
            if (k > 0 && split[k - 1].Field >= 0) {
                error = std::string(kNameFields[split[k - 1].Field].Placeholder) + " and " + name +
                        " need text between them";
                return std::nullopt;
            }
            if (f != kSkipField && seen[f]) {
                error = name + " appears twice in the pattern";
                return std::nullopt;
            }
        }
        seen[f] = true;
        fields = fields || f != kSkipField;
    }
    if (!fields) {
        error = "the pattern has no field: %artist% %title% %album% %track% %year% %genre%";
        return std::nullopt;
    }
    return split;
}

std::optional<TNameFields> MatchName(const TNamePattern& pattern, std::string_view stem) {
    TMatcher m{pattern, stem, std::vector<char>((pattern.size() + 1) * (stem.size() + 1)),
               std::vector<std::string_view>(pattern.size())};
    if (!m.From(0, 0)) return std::nullopt;
    TNameFields fields;
    for (size_t k = 0; k < pattern.size(); ++k) {
        const int f = pattern[k].Field;
        if (f >= 0 && f != kSkipField) fields.emplace_back(kNameFields[f].Id, m.taken[k]);
    }
    return fields;
}

std::string_view BaseName(std::string_view path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::pair<std::string_view, std::string_view> SplitExtension(std::string_view base) {
    const size_t dot = base.find_last_of('.');
    if (dot == std::string_view::npos || dot == 0) return {base, {}};
    return {base.substr(0, dot), base.substr(dot)};
}

std::string NameText(std::string_view bytes) {
    if (platform::IsWellFormedUtf8(bytes)) return std::string(bytes);
    return platform::LegacyToUtf8(platform::DetectCodePage({bytes}), bytes);
}

std::string NameFieldText(const TID3v2Tag& tag, int field) {
    const std::string id = kNameFields[field].Id;
    int index = tag.IndexOfId(id);
    const bool fromTdrc = index == -1 && id == "TYER";
    if (fromTdrc) index = tag.IndexOfId("TDRC");
    if (index == -1) return {};
    std::string text(Trimmed(tag.DisplayText(static_cast<size_t>(index))));
    if (fromTdrc) return IsDigits(std::string_view(text).substr(0, 4)) ? text.substr(0, 4) : "";
    if (id == "TRCK") {
        const std::string_view number = std::string_view(text).substr(0, text.find('/'));
        const std::string_view total =
            number.size() < text.size() ? std::string_view(text).substr(number.size() + 1) : "";
        if (IsDigits(number) && (number.size() == text.size() || IsDigits(total))) {
            std::string padded(number.size() < 2 ? 1 : 0, '0');
            padded.append(number);
            return padded;
        }
    }
    return text;
}

std::string FillName(const TNamePattern& pattern, const std::vector<std::string>& text,
                     std::string_view extension) {
    std::string stem;
    for (const TNamePart& part : pattern) {
        if (part.Field < 0) {
            stem += part.Literal;
            continue;
        }
        for (char c : text[static_cast<size_t>(part.Field)]) {
            const auto byte = static_cast<unsigned char>(c);
            stem += byte == '/' || byte < 0x20 || byte == 0x7f ? '_' : c;
        }
    }
    if (extension.size() >= kMaxNameBytes) return {};
    const size_t room = kMaxNameBytes - extension.size();
    if (stem.size() > room) {
        // Back to the start of the character the limit falls in.
        size_t cut = room;
        while (cut > 0 && (static_cast<unsigned char>(stem[cut]) & 0xC0) == 0x80)
            --cut;
        stem.resize(cut);
    }
    if (stem.empty() || ((stem == "." || stem == "..") && extension.empty())) return {};
    return stem + std::string(extension);
}
