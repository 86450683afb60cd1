#include "Settings/BuiltinFiles.h"

#include "Platform/Foundation/FileUtil.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/Paths.h"

#include <system_error>

namespace fs = std::filesystem;

namespace kelvane {

const std::array<std::string_view, 12> BuiltinFiles::splist = {
    "智能ABC.plist",      "小浪双拼.plist",          "紫光拼音.plist", "自然码.plist",
    "拼音加加.plist",     "微软双拼2003.plist",      "微软双拼2003标准版.plist",
    "大牛双拼.plist",     "星空键道.plist",          "键道3.plist",    "键道6.plist",
    "国标双拼.plist",
};

const std::array<std::string_view, 6> BuiltinFiles::fplist = {
    "86版五笔辅码.txt", "自然码辅码.txt",         "速成辅码.txt",
    "小牛形码.txt",     "速成辅码-纯单辅.txt",    "小牛形码-纯单辅.txt",
};

const std::array<std::string_view, 11> BuiltinFiles::ctlist = {
    "自然码.txt",       "雅虎倉頡.txt",  "五笔86.txt",       "大牛双拼.txt",
    "键道3.txt",        "键道3音笔.txt", "仓颉五代.txt",     "五笔画.txt",
    "星空键道6.2.txt",  "09五笔第一代.txt", "智能 ABC 固顶码.txt",
};

namespace {

bool sameSize(const fs::path& a, const fs::path& b) {
    std::error_code ea, eb;
    const auto sa = fs::file_size(a, ea);
    const auto sb = fs::file_size(b, eb);
    return !ea && !eb && sa == sb;
}

void installOne(std::string_view name, const fs::path& resources, const fs::path& folder,
                BuiltinFiles::Report& report) {
    const fs::path dest = folder / fs::path(name);
    if (!BuiltinFiles::isSafeTitle(name)) {
        report.failed.push_back(dest);
        return;
    }
    const fs::path source = resources / fs::path(name);
    if (sameSize(dest, source)) {
        ++report.unchanged;
        return;
    }
    const auto shipped = plat::readWholeFile(source);
    if (!shipped) {
        report.failed.push_back(dest);
        return;
    }
    std::error_code ec;
    fs::create_directories(folder, ec);
    std::string error;
    if (fs::exists(fs::symlink_status(dest, ec))) {
        // The user's edited copy: keep it before the shipped file goes back.
        const auto edited = fs::is_regular_file(dest, ec) ? plat::readWholeFile(dest) : std::nullopt;
        const fs::path backup = folder / (std::string(name) + ".bak");
        if (!edited || !plat::writeFileAtomically(backup, *edited, &error)) {
            plat::log("BuiltinFiles: not replacing " + dest.string() + ", its copy could not be kept " + error);
            report.failed.push_back(dest);
            return;
        }
        report.backedUp.push_back(backup);
    }
    if (!plat::writeFileAtomically(dest, *shipped, &error)) {
        plat::log("BuiltinFiles: cannot install " + dest.string() + ": " + error);
        report.failed.push_back(dest);
        return;
    }
    report.copied.push_back(dest);
}

template <std::size_t N>
void installList(const std::array<std::string_view, N>& list, const fs::path& resources, const fs::path& folder,
                 BuiltinFiles::Report& report) {
    for (auto name : list) installOne(name, resources, folder, report);
}

} // namespace

BuiltinFiles::Report BuiltinFiles::install(Page page, const fs::path& resources, const fs::path& userFolder) {
    Report report;
    const bool schemes = page != Page::CodeTable;
    const bool codeTables = page != Page::ShuangPin;
    if (schemes) {
        installList(splist, resources, userFolder / "KeyMaps", report);
        installList(fplist, resources, userFolder / "AssistCodes", report);
    }
    if (codeTables) installList(ctlist, resources, userFolder, report);
    return report;
}

BuiltinFiles::Report BuiltinFiles::install(Page page) {
    return install(page, plat::Paths::resourceFolder(plat::Bundle::Kelvane), plat::Paths::userFolder());
}

bool BuiltinFiles::isSafeTitle(std::string_view title) {
    return plat::Paths::isSafeRelativeName(title) && title.find("..") == std::string_view::npos;
}

} // namespace kelvane
