#pragma once
// How the silence list ("silence.plist") names an application on the desktop.
// An application goes by several names, as desktops identify it: its program
// name (the base name of what it was started as: "gedit", "code"; for a
// program run by an interpreter, the script: "app.py"), the class of its
// window (WM_CLASS, which a desktop entry names in StartupWMClass, and which
// desktops also compare with the entry's file name). The input method
// computes the names of the focused client, the preferences application those
// of the desktop entry the user picks, and stores them as one pattern that
// matches those names and no other.

#include <cstddef>
#include <initializer_list>
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

// The words of a command line as a desktop entry's Exec value or a shell
// splits them: blanks separate; single quotes take everything literally;
// double quotes group, a backslash in them escaping the next character; a
// backslash outside quotes escapes the next character.
inline std::vector<std::string> commandWords(std::string_view line) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    char quote = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quote == '\'') {
            if (c == '\'') quote = 0;
            else word += c;
        } else if (quote == '"') {
            if (c == '\\' && i + 1 < line.size()) word += line[++i];
            else if (c == '"') quote = 0;
            else word += c;
        } else if (c == '"' || c == '\'') {
            quote = c;
            inWord = true;
        } else if (c == '\\' && i + 1 < line.size()) {
            word += line[++i];
            inWord = true;
        } else if (c == ' ' || c == '\t' || c == '\n') {
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

namespace detail {

template <typename List>
bool oneOf(std::string_view word, const List& list) {
    for (std::string_view w : list)
        if (w == word) return true;
    return false;
}
inline bool oneOf(std::string_view word, std::initializer_list<std::string_view> list) {
    return oneOf<std::initializer_list<std::string_view>>(word, list);
}

// "NAME=value", as env and a shell take a setting.
inline bool isAssignment(std::string_view word) {
    const auto eq = word.find('=');
    if (eq == std::string_view::npos || eq == 0) return false;
    for (std::size_t i = 0; i < eq; ++i) {
        const char c = word[i];
        const bool ok = c == '_' || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (i > 0 && c >= '0' && c <= '9');
        if (!ok) return false;
    }
    return true;
}

// Programs that run a script named on their command line. For each: the
// options followed by a value, the options whose value is what runs (a
// script or module), and the options that give code to run instead.
struct Interpreter {
    std::string_view family;
    std::vector<std::string_view> valueOptions, runOptions, codeOptions;
};

inline const Interpreter* interpreterOf(std::string_view program) {
    // "python3.11", "perl5.36", "lua5.4": the family without its version.
    while (!program.empty() && ((program.back() >= '0' && program.back() <= '9') || program.back() == '.' ||
                                program.back() == '-'))
        program.remove_suffix(1);
    static const Interpreter table[] = {
        {"sh", {"-o", "+o", "-O", "+O", "--rcfile", "--init-file"}, {}, {"-c", "--command"}},
        {"python", {"-W", "-X", "--check-hash-based-pycs"}, {"-m"}, {"-c"}},
        {"perl", {"-I"}, {}, {"-e", "-E"}},
        {"ruby", {"-I", "-r", "-C", "-E"}, {}, {"-e"}},
        {"node", {"-r", "--require", "--import", "--loader", "--input-type"}, {}, {"-e", "--eval", "-p", "--print"}},
        {"lua", {"-l"}, {}, {"-e"}},
        {"php", {"-c", "-d", "-z"}, {"-f"}, {"-r", "-R", "-B", "-E"}},
        {"tcl", {"-encoding"}, {}, {}},
        {"gjs", {"-I", "--include-path"}, {"-m", "--module"}, {"-c", "--command"}},
        {"mono", {}, {}, {}},
        {"java",
         {"-cp", "-classpath", "--class-path", "-p", "--module-path", "--add-modules", "--add-opens",
          "--add-exports", "--add-reads", "--upgrade-module-path", "--limit-modules"},
         {"-jar", "-m", "--module"},
         {}},
    };
    std::string_view family = program;
    if (oneOf(program, {"sh", "bash", "dash", "zsh", "ksh", "mksh", "fish", "csh", "tcsh"})) family = "sh";
    else if (oneOf(program, {"python", "pypy"})) family = "python";
    else if (program == "nodejs") family = "node";
    else if (program == "luajit") family = "lua";
    else if (oneOf(program, {"tclsh", "wish"})) family = "tcl";
    for (const auto& i : table)
        if (i.family == family) return &i;
    return nullptr;
}

} // namespace detail

inline std::string programNameOfCommand(const std::vector<std::string>& argv, int depth = 0);

// The program a shell command runs: that of its first command that is not a
// shell built-in, after "exec" and the command's settings.
inline std::string programNameOfShellCommand(std::string_view command, int depth) {
    std::vector<std::string> words;
    auto finish = [&]() -> std::string {
        std::size_t i = 0;
        while (i < words.size() && (detail::isAssignment(words[i]) || words[i] == "exec")) ++i;
        if (i >= words.size() ||
            detail::oneOf(words[i], {"cd", "export", "set", "unset", "umask", "ulimit", ":", "true", "trap",
                                     "source", ".", "shift", "wait"}))
            return {};
        return programNameOfCommand(std::vector<std::string>(words.begin() + static_cast<std::ptrdiff_t>(i), words.end()),
                                    depth + 1);
    };
    for (std::string word : commandWords(command)) {
        const bool operatorWord = detail::oneOf(word, {";", "&&", "||", "|", "&"});
        const bool ends = !operatorWord && !word.empty() && word.back() == ';';
        if (ends) word.pop_back();
        if (!operatorWord && !word.empty()) words.push_back(std::move(word));
        if (operatorWord || ends) {
            if (std::string name = finish(); !name.empty()) return name;
            words.clear();
        }
    }
    return finish();
}

// The name of the program a command line (argv) runs: the base name of its
// first word; after "env" and its settings, the program env starts; for an
// interpreter, the script or module it runs, and for a shell's "-c" the
// program of the command. Empty when there is none, as for code given to an
// interpreter on its command line: an interpreter never names a program.
inline std::string programNameOfCommand(const std::vector<std::string>& argv, int depth) {
    if (argv.empty() || depth > 4) return {};
    const std::string program = programName(argv[0]);
    if (program.empty() || program[0] == '%') return {};
    if (program == "env") {
        std::vector<std::string> rest;
        std::size_t i = 1;
        while (i < argv.size()) {
            const std::string& w = argv[i];
            if (w == "-S" || w == "--split-string") {
                if (i + 1 < argv.size()) rest = commandWords(argv[i + 1]);
                i += 2;
                break;
            }
            if (w.rfind("-S", 0) == 0 && w.size() > 2 && w[1] == 'S') {
                rest = commandWords(std::string_view(w).substr(2));
                ++i;
                break;
            }
            if (w.rfind("--split-string=", 0) == 0) {
                rest = commandWords(std::string_view(w).substr(15));
                ++i;
                break;
            }
            if (w == "-u" || w == "-C" || w == "--unset" || w == "--chdir") i += 2;  // the value follows
            else if ((w.size() > 1 && w[0] == '-') || detail::isAssignment(w)) ++i;
            else break;
        }
        for (; i < argv.size(); ++i) rest.push_back(argv[i]);
        std::size_t start = 0;
        while (start < rest.size() && detail::isAssignment(rest[start])) ++start;
        return programNameOfCommand(std::vector<std::string>(rest.begin() + static_cast<std::ptrdiff_t>(start), rest.end()),
                                    depth + 1);
    }
    const detail::Interpreter* interpreter = detail::interpreterOf(program);
    if (!interpreter) return program;
    const bool shell = interpreter->family == "sh";
    std::size_t i = 1;
    while (i < argv.size()) {
        const std::string& w = argv[i];
        if (w == "--") {
            ++i;
            break;
        }
        if (w.size() < 2 || (w[0] != '-' && !(shell && w[0] == '+'))) break;
        const bool shortShellFlags = shell && w[0] == '-' && w[1] != '-';
        if (detail::oneOf(w, interpreter->codeOptions) || (shortShellFlags && w.find('c') != std::string::npos)) {
            // The code runs in the interpreter: a shell's command names the
            // program it starts; other code names nothing.
            if (!shell) return {};
            std::size_t j = i + 1;
            while (j < argv.size() && argv[j].size() > 1 && (argv[j][0] == '-' || argv[j][0] == '+')) ++j;
            return j < argv.size() ? programNameOfShellCommand(argv[j], depth) : std::string();
        }
        if (detail::oneOf(w, interpreter->runOptions))
            return i + 1 < argv.size() ? programName(argv[i + 1]) : std::string();
        if (shortShellFlags && w.find('s') != std::string::npos) return {};  // commands from standard input
        i += detail::oneOf(w, interpreter->valueOptions) ? 2 : 1;
    }
    if (i >= argv.size() || argv[i] == "-" || argv[i].empty() || argv[i][0] == '%') return {};
    return programName(argv[i]);
}

// The program a desktop entry's Exec value starts; empty when there is none.
inline std::string programNameFromExec(std::string_view exec) { return programNameOfCommand(commandWords(exec)); }

// The name a desktop-file id gives its application's windows: the id without
// ".desktop" ("org.gnome.gedit.desktop" -> "org.gnome.gedit"). Empty when the
// id cannot be one: dot-separated non-empty parts of ASCII letters, digits,
// '-' and '_' (the file name comes from a folder anyone may fill).
inline std::string desktopIdName(std::string_view fileId) {
    constexpr std::string_view suffix = ".desktop";
    if (fileId.size() <= suffix.size() || fileId.substr(fileId.size() - suffix.size()) != suffix) return {};
    fileId.remove_suffix(suffix.size());
    char last = '.';
    for (const char c : fileId) {
        const bool part = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                          c == '_';
        if (!part && !(c == '.' && last != '.')) return {};
        last = c;
    }
    return last == '.' ? std::string() : std::string(fileId);
}

// A window's WM_CLASS part in the form desktops compare with a desktop-file
// id when it is not the id as it stands: ASCII lower case, blanks as '-'
// ("Fedora Eclipse" -> "fedora-eclipse").
inline std::string windowClassAsDesktopId(std::string_view wmClass) {
    std::string out(wmClass);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        else if (c == ' ') c = '-';
    }
    return out;
}

// Every name under which the application of a desktop entry runs, in this
// order, without repeats: the program its Exec starts (for "flatpak run",
// the command it names and the application id), its StartupWMClass, then the
// name its desktop-file id gives (desktopIdName; none when the id is not one).
inline std::vector<std::string> desktopEntryNames(std::string_view exec, std::string_view startupWMClass,
                                                  std::string_view desktopFileId = {}) {
    std::vector<std::string> names;
    auto add = [&](std::string name) {
        if (name.empty()) return;
        for (const auto& n : names)
            if (n == name) return;
        names.push_back(std::move(name));
    };
    const auto words = commandWords(exec);
    if (words.size() > 1 && programName(words[0]) == "flatpak" && words[1] == "run") {
        std::string command;
        for (std::size_t i = 2; i < words.size(); ++i) {
            const std::string& w = words[i];
            if (w.rfind("--command=", 0) == 0) command = w.substr(10);
            else if (w == "--command" && i + 1 < words.size()) command = words[++i];
            else if (w.rfind('-', 0) == 0) continue;
            else {
                add(programName(command));
                add(w);
                break;
            }
        }
    } else {
        add(programNameOfCommand(words));
    }
    add(std::string(startupWMClass));
    add(desktopIdName(desktopFileId));
    return names;
}

namespace detail {
inline std::string escapedForPattern(std::string_view name) {
    std::string out;
    for (char c : name) {
        if (std::string_view("\\^$.|?*+()[]{}").find(c) != std::string_view::npos) out += '\\';
        out += c;
    }
    return out;
}
} // namespace detail

// The silence-list key for one program: a regular expression that matches
// exactly that name ("^gedit$"), so that "vim" does not also silence "gvim".
inline std::string silencePattern(std::string_view program) { return "^" + detail::escapedForPattern(program) + "$"; }

// The key for an application of several names: one of them, whole
// ("^(code|Code)$"); empty without a name.
inline std::string silencePattern(const std::vector<std::string>& names) {
    if (names.empty()) return {};
    if (names.size() == 1) return silencePattern(names.front());
    std::string out = "^(";
    for (std::size_t i = 0; i < names.size(); ++i) out += (i ? "|" : "") + detail::escapedForPattern(names[i]);
    return out + ")$";
}

} // namespace contract
