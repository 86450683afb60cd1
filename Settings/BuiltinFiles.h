#pragma once
// The built-in double-pinyin schemes, assist tables and code tables that the
// preferences application ships, and their installation into the user folder.
#include <array>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace kelvane {

class BuiltinFiles {
public:
    // Installed into "KeyMaps/".
    static const std::array<std::string_view, 12> splist;
    // Installed into "AssistCodes/".
    static const std::array<std::string_view, 6> fplist;
    // Installed into the user folder itself.
    static const std::array<std::string_view, 11> ctlist;

    // The pages that install built-in files, each with its share of the lists.
    enum class Page { Mix, ShuangPin, CodeTable };

    struct Report {
        std::vector<std::filesystem::path> copied;   // installed or restored
        std::vector<std::filesystem::path> backedUp; // the user's copy kept as "<name>.bak"
        std::vector<std::filesystem::path> failed;   // left as they were
        std::size_t unchanged = 0;                   // same size as shipped
    };

    // Installs the page's lists from `resources` into `userFolder`: a copy of
    // the shipped size stays; any other copy is kept as "<name>.bak" and the
    // shipped file put in its place atomically; missing folders are created.
    // A file is never replaced when its backup could not be written, and a
    // name missing from the resources is skipped. Reports nothing to the user.
    static Report install(Page page, const std::filesystem::path& resources,
                          const std::filesystem::path& userFolder);
    // The same with the application's resource folder and the user's folder.
    static Report install(Page page);

    // A title that may be joined to a folder: refused when empty, absolute or
    // holding "..".
    static bool isSafeTitle(std::string_view title);
};

} // namespace kelvane
