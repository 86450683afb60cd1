#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace kelvane {

// The hosts of "taviromac2://" URLs.
enum class URLSchemeType { tab, functions };

// The commands a URL's path names, in declaration order.
enum class URLSchemeFunctions { silence, bootButton, customCodetable, extended, puncMap, one, two, three, four, five };

// Exact matches of the raw values ("tab", "functions"; "silence" ... "five"); none otherwise.
std::optional<URLSchemeType> urlSchemeTypeFromRaw(std::string_view raw);
std::optional<URLSchemeFunctions> urlSchemeFunctionsFromRaw(std::string_view raw);
std::string_view rawValue(URLSchemeFunctions command);

// The tab position of `one` ... `five` (0-4), none for the sub-page commands.
std::optional<int> tabIndexOf(URLSchemeFunctions command);
// True for the commands that open a sub-page of the system tab.
bool isSubPage(URLSchemeFunctions command);

// What a URL asks for: its host and its path with every "/" removed (percent escapes
// decoded). The scheme is not checked; query and fragment are ignored.
struct ParsedURL {
    std::string host;
    std::string path;
};
// None when the text is not a URL with a host.
std::optional<ParsedURL> parseURL(std::string_view text);

} // namespace kelvane
