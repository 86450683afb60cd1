#include "Settings/App/URLScheme.h"

#include <array>
#include <cctype>
#include <utility>

namespace kelvane {
namespace {

constexpr std::array<std::pair<URLSchemeFunctions, std::string_view>, 10> kCommands = {{
    {URLSchemeFunctions::silence, "silence"},
    {URLSchemeFunctions::bootButton, "bootButton"},
    {URLSchemeFunctions::customCodetable, "customCodetable"},
    {URLSchemeFunctions::extended, "extended"},
    {URLSchemeFunctions::puncMap, "puncMap"},
    {URLSchemeFunctions::one, "one"},
    {URLSchemeFunctions::two, "two"},
    {URLSchemeFunctions::three, "three"},
    {URLSchemeFunctions::four, "four"},
    {URLSchemeFunctions::five, "five"},
}};

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Percent escapes decoded; none for a broken escape.
std::optional<std::string> percentDecoded(std::string_view s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '%') {
            out += s[i];
            continue;
        }
        if (i + 2 >= s.size()) return std::nullopt;
        const int hi = hexDigit(s[i + 1]), lo = hexDigit(s[i + 2]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
    }
    return out;
}

} // namespace

std::optional<URLSchemeType> urlSchemeTypeFromRaw(std::string_view raw) {
    if (raw == "tab") return URLSchemeType::tab;
    if (raw == "functions") return URLSchemeType::functions;
    return std::nullopt;
}

std::optional<URLSchemeFunctions> urlSchemeFunctionsFromRaw(std::string_view raw) {
    for (const auto& [command, name] : kCommands)
        if (name == raw) return command;
    return std::nullopt;
}

std::string_view rawValue(URLSchemeFunctions command) {
    for (const auto& [c, name] : kCommands)
        if (c == command) return name;
    return {};
}

std::optional<int> tabIndexOf(URLSchemeFunctions command) {
    switch (command) {
    case URLSchemeFunctions::one: return 0;
    case URLSchemeFunctions::two: return 1;
    case URLSchemeFunctions::three: return 2;
    case URLSchemeFunctions::four: return 3;
    case URLSchemeFunctions::five: return 4;
    default: return std::nullopt;
    }
}

bool isSubPage(URLSchemeFunctions command) { return !tabIndexOf(command).has_value(); }

std::optional<ParsedURL> parseURL(std::string_view text) {
    // scheme ":" "//" authority path ["?" query] ["#" fragment]
    const size_t colon = text.find(':');
    if (colon == std::string_view::npos || colon == 0 || !std::isalpha(static_cast<unsigned char>(text[0])))
        return std::nullopt;
    for (size_t i = 0; i < colon; ++i) {
        const char c = text[i];
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.') return std::nullopt;
    }
    for (char c : text)
        if (static_cast<unsigned char>(c) <= 0x20) return std::nullopt;
    std::string_view rest = text.substr(colon + 1);
    if (rest.substr(0, 2) != "//") return std::nullopt;
    rest.remove_prefix(2);
    const size_t end = rest.find_first_of("?#");
    if (end != std::string_view::npos) rest = rest.substr(0, end);
    const size_t slash = rest.find('/');
    std::string_view authority = rest.substr(0, slash);
    const std::string_view path = slash == std::string_view::npos ? std::string_view{} : rest.substr(slash);
    if (const size_t at = authority.rfind('@'); at != std::string_view::npos) authority.remove_prefix(at + 1);
    if (const size_t port = authority.find(':'); port != std::string_view::npos) authority = authority.substr(0, port);
    if (authority.empty()) return std::nullopt;
    auto host = percentDecoded(authority);
    auto decodedPath = percentDecoded(path);
    if (!host || !decodedPath) return std::nullopt;
    ParsedURL url{std::move(*host), {}};
    for (char c : *decodedPath)
        if (c != '/') url.path += c;
    return url;
}

} // namespace kelvane
