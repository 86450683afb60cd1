// Installing the built-in schemes and tables into a user folder, from a
// resource folder of small stand-in files.
#include "Settings/BuiltinFiles.h"

#include "Platform/Foundation/FileUtil.h"
#include "Platform/Foundation/TemporaryFiles.h"
#include "support/TestHome.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>

namespace fs = std::filesystem;
using kelvane::BuiltinFiles;

namespace {

std::string read(const fs::path& p) { return plat::readWholeFile(p).value_or("<missing>"); }

void write(const fs::path& p, const std::string& text) {
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << text;
}

std::string shippedText(std::string_view name) { return "shipped " + std::string(name) + "\n"; }

// A resource folder holding every listed name.
fs::path resources() {
    const fs::path dir = taviro::test::freshDir("resources");
    for (auto n : BuiltinFiles::splist) write(dir / fs::path(n), shippedText(n));
    for (auto n : BuiltinFiles::fplist) write(dir / fs::path(n), shippedText(n));
    for (auto n : BuiltinFiles::ctlist) write(dir / fs::path(n), shippedText(n));
    return dir;
}

// Every installed path of a page, relative to the user folder.
std::set<fs::path> expectedPaths(BuiltinFiles::Page page) {
    std::set<fs::path> out;
    if (page != BuiltinFiles::Page::CodeTable) {
        for (auto n : BuiltinFiles::splist) out.insert(fs::path("KeyMaps") / fs::path(n));
        for (auto n : BuiltinFiles::fplist) out.insert(fs::path("AssistCodes") / fs::path(n));
    }
    if (page != BuiltinFiles::Page::ShuangPin)
        for (auto n : BuiltinFiles::ctlist) out.insert(fs::path(n));
    return out;
}

std::set<fs::path> relative(const std::vector<fs::path>& paths, const fs::path& base) {
    std::set<fs::path> out;
    for (const auto& p : paths) out.insert(fs::relative(p, base));
    return out;
}

} // namespace

TEST(BuiltinFiles, ListsHoldTheNamedFilesOnce) {
    EXPECT_EQ(BuiltinFiles::splist.front(), "智能ABC.plist");
    EXPECT_EQ(BuiltinFiles::splist.back(), "国标双拼.plist");
    EXPECT_EQ(BuiltinFiles::fplist[3], "小牛形码.txt");
    // The fifth assist table is the third with "-纯单辅" before ".txt".
    std::string third(BuiltinFiles::fplist[2]);
    EXPECT_EQ(std::string(BuiltinFiles::fplist[4]), third.substr(0, third.size() - 4) + "-纯单辅.txt");
    EXPECT_EQ(BuiltinFiles::ctlist[9], "09五笔第一代.txt");
    EXPECT_EQ(BuiltinFiles::ctlist[10], "智能 ABC 固顶码.txt");
    std::set<std::string_view> all;
    for (auto n : BuiltinFiles::splist) all.insert(n);
    for (auto n : BuiltinFiles::fplist) all.insert(n);
    for (auto n : BuiltinFiles::ctlist) all.insert(n);
    EXPECT_EQ(all.size(), 29u);
    for (auto n : all) EXPECT_TRUE(BuiltinFiles::isSafeTitle(n)) << n;
}

// First start installs everything into a fresh user folder (creating its
// folders); a second start copies nothing; each page installs its own share.
TEST(BuiltinFiles, FirstStartInstallsEverythingSecondCopiesNothing) {
    const fs::path res = resources();
    const struct {
        BuiltinFiles::Page page;
        std::size_t count;
    } cases[] = {
        {BuiltinFiles::Page::Mix, 29}, {BuiltinFiles::Page::ShuangPin, 18}, {BuiltinFiles::Page::CodeTable, 11}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.count);
        const fs::path user = taviro::test::freshDir("user") / "塔维输入法"; // not there yet
        const auto first = BuiltinFiles::install(c.page, res, user);
        EXPECT_EQ(first.copied.size(), c.count);
        EXPECT_EQ(relative(first.copied, user), expectedPaths(c.page));
        EXPECT_TRUE(first.backedUp.empty());
        EXPECT_TRUE(first.failed.empty());
        for (const auto& p : first.copied) EXPECT_EQ(read(p), shippedText(p.filename().string()));

        const auto second = BuiltinFiles::install(c.page, res, user);
        EXPECT_TRUE(second.copied.empty());
        EXPECT_EQ(second.unchanged, c.count);
    }
    // The page loaded second finds the shared lists in place.
    const fs::path user = taviro::test::freshDir("user");
    EXPECT_EQ(BuiltinFiles::install(BuiltinFiles::Page::ShuangPin, res, user).copied.size(), 18u);
    const auto mix = BuiltinFiles::install(BuiltinFiles::Page::Mix, res, user);
    EXPECT_EQ(mix.copied.size(), 11u);
    EXPECT_EQ(mix.unchanged, 18u);
}

// A copy of another size is kept as "<name>.bak" and the shipped file comes
// back; one of the same size stays; deleted files return; the user's own files
// are never touched.
TEST(BuiltinFiles, RestoresShippedFilesKeepingTheUsersCopy) {
    const fs::path res = resources();
    const fs::path user = taviro::test::freshDir("user");
    BuiltinFiles::install(BuiltinFiles::Page::Mix, res, user);

    const fs::path edited = user / "KeyMaps" / "自然码.plist";
    const fs::path sameSize = user / "自然码.txt";
    const fs::path deleted = user / "AssistCodes" / "小牛形码.txt";
    const fs::path own = user / "KeyMaps" / "我的方案.plist";
    const std::string editedText = "my own edit, longer than the shipped file\n";
    std::string sameSizeText = shippedText("自然码.txt");
    sameSizeText[0] = 'S';
    write(edited, editedText);
    write(sameSize, sameSizeText);
    fs::remove(deleted);
    write(own, "mine");

    const auto report = BuiltinFiles::install(BuiltinFiles::Page::Mix, res, user);
    EXPECT_EQ(relative(report.copied, user),
              (std::set<fs::path>{fs::relative(edited, user), fs::relative(deleted, user)}));
    EXPECT_EQ(read(edited), shippedText("自然码.plist"));
    EXPECT_EQ(read(edited.string() + ".bak"), editedText);
    EXPECT_EQ(report.backedUp, (std::vector<fs::path>{edited.string() + ".bak"}));
    EXPECT_EQ(read(sameSize), sameSizeText);
    EXPECT_EQ(read(deleted), shippedText("小牛形码.txt"));
    EXPECT_FALSE(fs::exists(deleted.string() + ".bak"));
    EXPECT_EQ(read(own), "mine");
    // No temporary files are left beside the installed ones.
    for (const auto& e : fs::recursive_directory_iterator(user))
        EXPECT_FALSE(plat::parseTemporaryName(e.path().filename().string())) << e.path();
}

// Files that cannot be installed are skipped and reported; the rest go on.
TEST(BuiltinFiles, FailuresSkipOneNameAndKeepWhatIsThere) {
    const fs::path res = resources();
    fs::remove(res / "键道6.plist"); // missing from the resources
    const fs::path user = taviro::test::freshDir("user");
    // A folder where a table should be: it is neither removed nor replaced.
    fs::create_directories(user / "五笔86.txt" / "inside");
    // A file where a folder should be: nothing can go into "AssistCodes".
    write(user / "AssistCodes", "not a folder");

    const auto report = BuiltinFiles::install(BuiltinFiles::Page::Mix, res, user);
    std::set<fs::path> failed = relative(report.failed, user);
    std::set<fs::path> expected{fs::path("KeyMaps") / "键道6.plist", fs::path("五笔86.txt")};
    for (auto n : BuiltinFiles::fplist) expected.insert(fs::path("AssistCodes") / fs::path(n));
    EXPECT_EQ(failed, expected);
    EXPECT_EQ(report.copied.size(), 29u - expected.size());
    EXPECT_TRUE(fs::exists(user / "五笔86.txt" / "inside"));
    EXPECT_EQ(read(user / "AssistCodes"), "not a folder");
}

TEST(BuiltinFiles, TitlesForPathsRefuseAbsoluteAndParentNames) {
    const struct {
        const char* title;
        bool safe;
    } cases[] = {
        {"自然码", true}, {"星空键道6.2", true}, {"智能 ABC 固顶码", true},
        {"", false},      {"/etc/passwd", false}, {"..", false},
        {"../自然码", false}, {"a/../../b", false}, {"a..b", false},
    };
    for (const auto& c : cases) EXPECT_EQ(BuiltinFiles::isSafeTitle(c.title), c.safe) << c.title;
}
