// The manual pages: the help pages in man(7) markup.
#include "Help.h"

#include <cctype>
#include <cstdio>

namespace {

using Kind = THelpSectionKind;

std::string RoffEscape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            if (c == '\\')
                out += "\\e";
            else if (c == '-')
                out += "\\-";
            else if ((c == '.' || c == '\'') && (out.empty() || out.back() == '\n'))
                out += "\\&" + std::string(1, static_cast<char>(c));
            else
                out += static_cast<char>(c);
            ++i;
            continue;
        }
        // Beyond ASCII, groff's own escape keeps the page independent of the input encoding.
        const unsigned cp = NextCodePoint(text, i);
        char buf[16];
        std::snprintf(buf, sizeof buf, "\\[u%04X]", cp);
        out += buf;
    }
    return out;
}

bool IsWordChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_';
}

// A synopsis or option term: placeholders (upper-case words) in italics, the literal words
// (program, command, options, numbers) in bold, the punctuation plain.
std::string RoffTerm(const std::string& term) {
    std::string out;
    for (size_t i = 0; i < term.size();) {
        if (!IsWordChar(term[i])) {
            out += RoffEscape(std::string(1, term[i]));
            ++i;
            continue;
        }
        size_t end = i;
        while (end < term.size() && IsWordChar(term[end]))
            ++end;
        const std::string word = term.substr(i, end - i);
        bool hasLetter = false, hasLower = false;
        for (char c : word) {
            hasLetter |= std::isalpha(static_cast<unsigned char>(c)) != 0;
            hasLower |= std::islower(static_cast<unsigned char>(c)) != 0;
        }
        const bool placeholder = word[0] != '-' && hasLetter && !hasLower;
        out += (placeholder ? "\\fI" : "\\fB") + RoffEscape(word) + "\\fR";
        i = end;
    }
    return out;
}

// A paragraph of running text; a reference such as quillon(1) gets its name in bold.
std::string RoffText(const std::string& text) {
    std::string out;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t ref = text.find("(1)", pos);
        if (ref == std::string::npos) break;
        size_t start = ref;
        while (start > pos && IsWordChar(text[start - 1]))
            --start;
        out += RoffEscape(text.substr(pos, start - pos));
        if (start < ref) out += "\\fB" + RoffEscape(text.substr(start, ref - start)) + "\\fR";
        out += "(1)";
        pos = ref + 3;
    }
    return out + RoffEscape(text.substr(pos));
}

std::string Upper(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string RoffParagraphs(const std::string& text, const char* separator) {
    std::string out;
    bool first = true;
    for (const std::string& p : HelpParagraphs(text)) {
        if (!first) out += std::string(separator) + "\n";
        out += RoffText(p) + "\n";
        first = false;
    }
    return out;
}

std::string RoffSection(const THelpSection& s) {
    std::string out = ".SH " + RoffEscape(Upper(s.title)) + "\n";
    switch (s.kind) {
    case Kind::Paragraphs:
        out += RoffParagraphs(s.text, ".PP");
        break;
    case Kind::Definitions:
        for (const THelpItem& item : s.items)
            out += ".TP\n" + RoffTerm(item.term) + "\n" + RoffText(item.text) + "\n";
        break;
    case Kind::Examples:
        for (const THelpItem& item : s.items)
            out += ".PP\n" + RoffText(item.text) + "\n.RS 4\n.nf\n" + RoffEscape(item.term) +
                   "\n.fi\n.RE\n";
        break;
    }
    return out;
}

} // namespace

std::string FormatManPage(const THelpPage& page, const std::vector<THelpPage>& commands,
                          const std::string& date, const std::string& version) {
    std::string out = ".TH " + RoffEscape(Upper(page.program)) + " 1 \"" + RoffEscape(date) +
                      "\" \"Quillon " + RoffEscape(version) + "\" \"User Commands\"\n";
    out += ".SH NAME\n" + RoffEscape(page.program) + " \\- " + RoffEscape(page.summary) + "\n";

    // Synopsis: one line per form, continuation lines indented under the program's name.
    out += ".SH SYNOPSIS\n.nh\n.ad l\n.in +4n\n";
    auto synopsis = [&](const THelpPage& p) {
        for (const std::string& usage : p.usage) {
            std::string line = p.program;
            if (!p.command.empty()) line += " " + p.command;
            if (!usage.empty()) line += " " + usage;
            out += ".ti -4n\n" + RoffTerm(line) + "\n.br\n";
        }
    };
    if (commands.empty())
        synopsis(page);
    else
        for (const THelpPage& c : commands)
            synopsis(c);
    out += ".in\n.ad\n.hy\n";

    out += ".SH DESCRIPTION\n" + RoffParagraphs(page.description, ".PP");

    if (!commands.empty()) {
        out += ".SH COMMANDS\n";
        for (const THelpPage& c : commands) {
            for (const std::string& usage : c.usage)
                out += (&usage == &c.usage.front() ? ".TP\n" : ".TQ\n") +
                       RoffTerm(c.command + " " + usage) + "\n";
            out += RoffParagraphs(c.description, ".IP");
            for (const THelpSection& s : c.sections) {
                if (s.title != "Options") continue;
                out += ".RS\n";
                for (const THelpItem& item : s.items) {
                    if (item.term == kHelpOption.term) continue; // said once, below
                    out += ".TP\n" + RoffTerm(item.term) + "\n" + RoffText(item.text) + "\n";
                }
                out += ".RE\n";
            }
        }
    }
    for (const THelpSection& s : page.sections) {
        if (!commands.empty() && s.title == "Commands") continue; // the section above says more
        out += RoffSection(s);
    }
    return out;
}
