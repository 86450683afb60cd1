#pragma once
// How the silence list ("silence.plist") names an application on the desktop:
// by its program name, the base name of the executable it was started as
// ("gedit", "code", "kate"). The input method computes it for the focused
// client (the process behind the focused window), the preferences
// application from the Exec line of the desktop entry the user picks, and
// stores it as a pattern that matches that name and no other.

#include <string>
#include <string_view>
#include <vector>

namespace contract {

// The base name of a path or command word: "/usr/bin/gedit" -> "gedit".
inline std::string programName(std::string_view command) {
    while (!command.empty() && command.back() == '/') command.remove_suffix(1);
    const auto slash = command.rfind('/');
    if (slash != std::string_view::npos) command.remove_prefix(slash + 1);
    return std::string(command);
}

// The words of a desktop entry's Exec value: split at blanks, double quotes
// group (a backslash escapes the next character inside them).
inline std::vector<std::string> execWords(std::string_view exec) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false, quoted = false;
    for (std::size_t i = 0; i < exec.size(); ++i) {
        const char c = exec[i];
        if (quoted) {
            if (c == '\\' && i + 1 < exec.size()) word += exec[++i];
            else if (c == '"') quoted = false;
            else word += c;
        } else if (c == '"') {
            quoted = inWord = true;
        } else if (c == ' ' || c == '\t') {
            if (inWord) words.push_back(std::move(word));
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord) words.push_back(std::move(word));
    return words;
}

// The program a desktop entry's Exec value starts: its first word, after an
// "env" and its NAME=value settings; empty when there is none.
inline std::string programNameFromExec(std::string_view exec) {
    const auto words = execWords(exec);
    std::size_t i = 0;
    if (i < words.size() && programName(words[i]) == "env") {
        ++i;
        while (i < words.size()) {
            const std::string& w = words[i];
            if (w == "-u" || w == "-C") i += 2;  // the option's value follows
            else if (w.rfind('-', 0) == 0 || w.find('=') != std::string::npos) ++i;
            else break;
        }
    }
    if (i >= words.size() || words[i].empty() || words[i][0] == '%') return {};
    return programName(words[i]);
}

// The silence-list key for one program: a regular expression that matches
// exactly that name ("^gedit$"), so that "vim" does not also silence "gvim".
inline std::string silencePattern(std::string_view program) {
    std::string out = "^";
    for (char c : program) {
        if (std::string_view("\\^$.|?*+()[]{}").find(c) != std::string_view::npos) out += '\\';
        out += c;
    }
    out += '$';
    return out;
}

} // namespace contract
