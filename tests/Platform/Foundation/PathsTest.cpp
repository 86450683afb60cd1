#include "Platform/Foundation/Paths.h"

#include "Platform/Foundation/FileUtil.h"
#include "support/TestHome.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>

namespace plat {
namespace {

namespace fs = std::filesystem;

// Sets or clears environment variables for one test and puts them back after.
class EnvGuard {
public:
    void set(const char* name, const std::optional<std::string>& value) {
        if (!saved_.count(name)) {
            const char* old = std::getenv(name);
            saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
        }
        if (value) ::setenv(name, value->c_str(), 1);
        else ::unsetenv(name);
    }
    ~EnvGuard() {
        for (const auto& [name, value] : saved_) {
            if (value) ::setenv(name.c_str(), value->c_str(), 1);
            else ::unsetenv(name.c_str());
        }
    }

private:
    std::map<std::string, std::optional<std::string>> saved_;
};

TEST(Paths, PerUserAndLibraryFoldersFollowXdgDataHome) {
    const fs::path home = taviro::test::freshDir("home");
    struct Case {
        const char* label;
        std::optional<std::string> dataHome;
        fs::path perUser;
        fs::path library;
    } cases[] = {
        {"set", "/data/x", "/data/x/TaviroMac", "/data/x"},
        {"unset", std::nullopt, home / ".local/share/TaviroMac", home / ".local/share"},
        {"empty", "", home / ".local/share/TaviroMac", home / ".local/share"},
        {"relative is ignored", "rel/dir", home / ".local/share/TaviroMac", home / ".local/share"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        EnvGuard env;
        env.set("HOME", home.string());
        env.set("XDG_DATA_HOME", c.dataHome);
        EXPECT_EQ(Paths::perUserFolder(), c.perUser);
        EXPECT_EQ(Paths::perUserFile("config.plist"), c.perUser / "config.plist");
        EXPECT_EQ(Paths::libraryFolder(), c.library);
        EXPECT_EQ(Paths::libraryFolder() / "KeyboardServices/TextReplacements.db",
                  c.library / "KeyboardServices/TextReplacements.db");
    }
}

TEST(Paths, EnsurePerUserFolderCreatesIt) {
    EnvGuard env;
    const fs::path data = taviro::test::freshDir("data") / "deep" / "er";
    env.set("XDG_DATA_HOME", data.string());
    EXPECT_FALSE(fs::exists(Paths::perUserFolder()));
    EXPECT_TRUE(Paths::ensurePerUserFolder());
    EXPECT_TRUE(fs::is_directory(data / "TaviroMac"));
    EXPECT_TRUE(Paths::ensurePerUserFolder());
}

TEST(Paths, UserFolderFollowsUserDirs) {
    const fs::path home = taviro::test::freshDir("home");
    const fs::path config = taviro::test::freshDir("config");
    struct Case {
        const char* label;
        std::optional<std::string> userDirs; // nullopt: no file
        fs::path documents;
    } cases[] = {
        {"no file", std::nullopt, home / "Documents"},
        {"$HOME form", "# comment\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\nXDG_DOCUMENTS_DIR=\"$HOME/文档\"\n",
         home / "文档"},
        {"absolute", "XDG_DOCUMENTS_DIR=\"/srv/docs\"\n", "/srv/docs"},
        {"bare $HOME", "XDG_DOCUMENTS_DIR=\"$HOME\"\n", home},
        {"escaped and CRLF", "XDG_DOCUMENTS_DIR=\"$HOME/My\\ Docs\"\r\n", home / "My Docs"},
        {"last line wins", "XDG_DOCUMENTS_DIR=\"$HOME/A\"\nXDG_DOCUMENTS_DIR=\"$HOME/B\"\n", home / "B"},
        {"relative ignored", "XDG_DOCUMENTS_DIR=\"Docs\"\n", home / "Documents"},
        {"other keys only", "XDG_MUSIC_DIR=\"$HOME/Music\"\n", home / "Documents"},
        {"commented out", "#XDG_DOCUMENTS_DIR=\"$HOME/X\"\n", home / "Documents"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        EnvGuard env;
        env.set("HOME", home.string());
        env.set("XDG_CONFIG_HOME", config.string());
        fs::remove(config / "user-dirs.dirs");
        if (c.userDirs) {
            ASSERT_TRUE(writeFileAtomically(config / "user-dirs.dirs", *c.userDirs));
        }
        EXPECT_EQ(Paths::documentsFolder(), c.documents);
        EXPECT_EQ(Paths::userFolder(), c.documents / "塔维输入法");
        EXPECT_EQ(Paths::userFile("BootButtons.plist"), c.documents / "塔维输入法" / "BootButtons.plist");
    }
}

TEST(Paths, UserDirsDefaultsToHomeConfig) {
    const fs::path home = taviro::test::freshDir("home");
    EnvGuard env;
    env.set("HOME", home.string());
    env.set("XDG_CONFIG_HOME", std::nullopt);
    fs::create_directories(home / ".config");
    ASSERT_TRUE(writeFileAtomically(home / ".config/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/D\"\n"));
    EXPECT_EQ(Paths::documentsFolder(), home / "D");
}

TEST(Paths, ResourcesFromEnvironmentOrBesideTheExecutable) {
    const fs::path taviro = taviro::test::freshDir("taviroRes");
    const fs::path kelvane = taviro::test::freshDir("kelvaneRes");
    ASSERT_TRUE(writeFileAtomically(taviro / "py2hz.plist", "x"));
    ASSERT_TRUE(writeFileAtomically(kelvane / "codetable.database", "x"));

    EnvGuard env;
    env.set("TAVIRO_RESOURCES", taviro.string());
    env.set("KELVANE_RESOURCES", kelvane.string());
    EXPECT_EQ(Paths::resourceFolder(Bundle::TaviroMac2), taviro);
    EXPECT_EQ(Paths::resourceFolder(Bundle::Kelvane), kelvane);
    EXPECT_EQ(Paths::resourcePath(Bundle::TaviroMac2, "py2hz.plist"), taviro / "py2hz.plist");
    EXPECT_EQ(Paths::resourcePath(Bundle::Kelvane, "codetable.database"), kelvane / "codetable.database");
    EXPECT_EQ(Paths::resourcePath(Bundle::TaviroMac2, "py2hz", "plist"), taviro / "py2hz.plist");
    EXPECT_FALSE(Paths::resourcePath(Bundle::TaviroMac2, "codetable.database"));
    EXPECT_FALSE(Paths::resourcePath(Bundle::TaviroMac2, "../kelvaneRes/codetable.database"));
    EXPECT_FALSE(Paths::resourcePath(Bundle::TaviroMac2, ""));

    env.set("TAVIRO_RESOURCES", std::nullopt);
    env.set("KELVANE_RESOURCES", "");
    const fs::path exeDir = fs::read_symlink("/proc/self/exe").parent_path();
    EXPECT_EQ(Paths::resourceFolder(Bundle::TaviroMac2), (exeDir / "../share/TaviroMac2").lexically_normal());
    EXPECT_EQ(Paths::resourceFolder(Bundle::Kelvane), (exeDir / "../share/Kelvane").lexically_normal());
    // The build puts test binaries in bin/ beside share/.
    EXPECT_EQ(Paths::resourceFolder(Bundle::TaviroMac2), fs::path(TAVIRO_RESOURCE_DIR).lexically_normal());
}

TEST(Paths, SafeRelativeNames) {
    struct Case {
        const char* name;
        bool safe;
    } cases[] = {
        {"config.plist", true},  {"KeyMaps/小鹤.plist", true}, {"", false},
        {"/etc/passwd", false},  {"../x", false},            {"a/../../x", false},
        {"a//b", false},         {"./a", false},             {"a/", false},
        {"..", false},           {"...", true},              {".hidden", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Paths::isSafeRelativeName(c.name), c.safe);
    }
}

} // namespace
} // namespace plat
