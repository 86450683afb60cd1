#include "RecordingChannelFixture.h"
#include "Settings/ConfigManager.h"
#include "Settings/Pages/DesktopApplications.h"
#include "Settings/Pages/ResetController.h"
#include "Settings/Pages/SilenceManager.h"
#include "SharedLib/contract/ApplicationName.h"
#include "support/TestHome.h"

#include <fstream>
#include <tuple>

namespace kelvane {
namespace {

namespace fs = std::filesystem;

class SilenceManagerTest : public test::RecordingChannelFixture {
protected:
    void SetUp() override {
        RecordingChannelFixture::SetUp();
        folder_ = taviro::test::freshDir("peruser");
        config_ = std::make_unique<ConfigManager>(folder_);
        config_->silenceDict.clear();
        page_ = std::make_unique<SilenceManager>(*config_);
        // Each listed under the pattern of the program its entry starts.
        page_->addApplications(
            {{"org.b.desktop", "B", "bee"}, {"Zeta.desktop", "Zeta", "Zeta"}, {"org.a.desktop", "A", "ay"}});
        channel_->clear();
    }
    // The list as silence.plist holds it.
    StringMap stored() const { return ConfigManager(folder_).silenceDict; }
    std::vector<std::string> reloads(size_t n) const { return std::vector<std::string>(n, "configNeedsReload"); }

    fs::path folder_;
    std::unique_ptr<ConfigManager> config_;
    std::unique_ptr<SilenceManager> page_;
};

TEST_F(SilenceManagerTest, RowsAreSortedByIdentifierWithTheirNames) {
    EXPECT_EQ(page_->data(), (std::vector<std::string>{"^Zeta$", "^ay$", "^bee$"}));
    EXPECT_EQ(page_->objectValue("name", 1), "A");
    EXPECT_EQ(page_->objectValue("id", 2), "^bee$");
    EXPECT_EQ(page_->objectValue("other", 0), "");
    EXPECT_EQ(page_->objectValue("id", 9), "");
    EXPECT_EQ(stored().size(), 3u);
}

TEST_F(SilenceManagerTest, AddingAgainKeepsOneRowAndSkipsIncompleteEntries) {
    page_->addApplications({{"org.a.desktop", "A2", "ay"}, {"noexec.desktop", "No program", ""},
                            {"noname.desktop", "", "noname"}});
    EXPECT_EQ(page_->numberOfRows(), 3u);
    EXPECT_EQ(stored().at("^ay$"), "A2");
    EXPECT_EQ(posted(), reloads(1));
}

TEST_F(SilenceManagerTest, DeletingSelectedRowsRemovesEachOnce) {
    page_->deleteRows({});
    EXPECT_TRUE(posted().empty());
    page_->deleteRows({0, 2, 7});
    EXPECT_EQ(page_->data(), (std::vector<std::string>{"^ay$"}));
    EXPECT_EQ(stored().size(), 1u);
    EXPECT_EQ(posted(), reloads(2));
}

TEST_F(SilenceManagerTest, InPlaceEdits) {
    struct Case {
        long row;
        int column;
        const char* text;
        bool changed;
        std::vector<std::string> rows;
        size_t posts;
    } cases[] = {
        {1, 1, "Alpha", true, {"^Zeta$", "^ay$", "^bee$"}, 1},
        {1, 0, "a.moved", true, {"^Zeta$", "^bee$", "a.moved"}, 2},
        {1, 0, "^bee$", true, {"^Zeta$", "^bee$", "a.moved"}, 2},
        {1, 0, "", false, {"^Zeta$", "^bee$", "a.moved"}, 0},
        {-1, 1, "nobody", false, {"^Zeta$", "^bee$", "a.moved"}, 0},
        {0, 2, "x", false, {"^Zeta$", "^bee$", "a.moved"}, 0},
        {0, 0, "^bee$", true, {"^bee$", "a.moved"}, 2},
    };
    for (const auto& c : cases) {
        channel_->clear();
        EXPECT_EQ(page_->endEditing(c.row, c.column, c.text), c.changed) << c.row << c.column << c.text;
        EXPECT_EQ(page_->data(), c.rows) << c.row << c.column << c.text;
        EXPECT_EQ(posted(), reloads(c.posts)) << c.row << c.column << c.text;
    }
    EXPECT_EQ(stored().at("a.moved"), "Alpha");
    EXPECT_EQ(stored().at("^bee$"), "Zeta"); // the edited row's name wins
}

TEST(DesktopApplicationsTest, EntriesGiveNameDesktopFileIdAndProgram) {
    const fs::path first = taviro::test::freshDir("apps1"), second = taviro::test::freshDir("apps2");
    fs::create_directories(first / "kde");
    std::ofstream(first / "org.example.Editor.desktop") << "[Desktop Entry]\nType=Application\nName=Editor\n"
                                                           "Name[zh_CN]=编辑器\nExec=editor\n";
    std::ofstream(first / "kde" / "konsole.desktop") << "[Desktop Entry]\nType=Application\nName=Konsole\n"
                                                        "Exec=env QT_SCALE=1 /usr/bin/konsole --new-tab\n";
    std::ofstream(first / "hidden.desktop") << "[Desktop Entry]\nType=Application\nName=Hidden\nNoDisplay=true\n";
    std::ofstream(first / "link.desktop") << "[Desktop Entry]\nType=Link\nName=Link\n";
    std::ofstream(first / "noname.desktop") << "[Desktop Entry]\nType=Application\n";
    std::ofstream(first / "other.desktop") << "[Desktop Action new]\nName=Wrong group\n[Desktop Entry]\n"
                                              "Type=Application\nName=Other\n";
    std::ofstream(second / "org.example.Editor.desktop") << "[Desktop Entry]\nType=Application\nName=Shadowed\n";
    std::ofstream(second / "zed.desktop") << "[Desktop Entry]\nType=Application\nName=Zed\n";
    const auto apps = applicationsIn({first, second, first / "missing"});
    std::vector<std::tuple<std::string, std::string, std::string>> got;
    for (const auto& a : apps) got.emplace_back(a.name, a.identifier, a.program);
    EXPECT_EQ(got, (std::vector<std::tuple<std::string, std::string, std::string>>{
                       {"Editor", "org.example.Editor.desktop", "editor"},
                       {"Konsole", "kde-konsole.desktop", "konsole"},
                       {"Other", "other.desktop", ""},
                       {"Zed", "zed.desktop", ""}}));
}

// Picking an application lists exactly the pattern the input method matches
// against the program it finds behind the focused window and its WM_CLASS.
TEST_F(SilenceManagerTest, PickedEntryIsListedUnderItsProgramsPattern) {
    const fs::path apps = taviro::test::freshDir("apps");
    std::ofstream(apps / "org.gnome.gedit.desktop") << "[Desktop Entry]\nType=Application\nName=Text Editor\n"
                                                      "Exec=/usr/bin/gedit --new-window %U\n";
    page_->addApplications(applicationsIn({apps}));
    EXPECT_EQ(stored().at(contract::silencePattern(std::vector<std::string>{"gedit", "org.gnome.gedit"})),
              "Text Editor");
    EXPECT_EQ(stored().count("org.gnome.gedit.desktop"), 0u);
}

// What is stored for a picked entry: every name its application runs
// under, as one pattern; for an interpreter, the script and never the
// interpreter; the entry's file name (its desktop-file id), which desktops
// compare with the window class, when it can be one.
TEST_F(SilenceManagerTest, PickedEntriesAreListedUnderTheNamesTheirApplicationsRunAs) {
    const struct {
        const char* file;   // in the applications folder
        const char* lines;  // of the entry, after Type and Name
        const char* stored; // "": nothing listed
    } cases[] = {
        {"gedit.desktop", "Exec=/usr/bin/gedit --new-window %U\n", "^gedit$"},
        {"myed.desktop", "Exec=myed %F\nStartupWMClass=Realed\n", "^(myed|Realed)$"},
        {"realed.desktop", "Exec=realed\nStartupWMClass=realed\n", "^realed$"},
        {"app.py.desktop", "Exec=python3 app.py\n", "^app\\.py$"},
        {"tool.py.desktop", "Exec=/usr/bin/python3 -u /opt/tool/tool.py --gui\n", "^tool\\.py$"},
        {"realed.desktop", "Exec=sh -c 'exec realed --new'\n", "^realed$"},
        {"realed.desktop", "Exec=bash -lc \"cd ~/work && FOO=1 exec realed\"\n", "^realed$"},
        {"prog.desktop", "Exec=env VAR=1 prog %U\n", "^prog$"},
        {"org.gimp.GIMP.desktop",
         "Exec=/usr/bin/flatpak run --branch=stable --arch=x86_64 --command=gimp-2.10 org.gimp.GIMP @@u %U @@\n",
         "^(gimp-2\\.10|org\\.gimp\\.GIMP)$"},
        {"org.gnome.TextEditor.desktop", "Exec=flatpak run org.gnome.TextEditor\nStartupWMClass=org.gnome.TextEditor\n",
         "^org\\.gnome\\.TextEditor$"},
        {"Tool.desktop", "Exec=python3 -c 'import tool; tool.main()'\nStartupWMClass=Tool\n", "^Tool$"},
        // A wrapper without StartupWMClass: its windows are found by the entry's id.
        {"realed.desktop", "Exec=myed %F\n", "^(myed|realed)$"},
        {"realed.desktop", "Exec=myed %F\nStartupWMClass=Realed\n", "^(myed|Realed|realed)$"},
        {"org.example.Realed.desktop", "Exec=/opt/bin/myed\n", "^(myed|org\\.example\\.Realed)$"},
        {"kde/realed.desktop", "Exec=myed\n", "^(myed|kde-realed)$"},
        {"real_ed-2.desktop", "Exec=myed\n", "^(myed|real_ed-2)$"},
        {"realed.desktop", "Exec=python3 -c 'run()'\n", "^realed$"},
        // File names that cannot be a desktop-file id are not names.
        {"real ed.desktop", "Exec=myed\n", "^myed$"},
        {"real(ed).desktop", "Exec=myed\n", "^myed$"},
        {"real$|.*.desktop", "Exec=myed\n", "^myed$"},
        {"réal.desktop", "Exec=myed\n", "^myed$"},
        {"real..ed.desktop", "Exec=myed\n", "^myed$"},
        {".realed.desktop", "Exec=myed\n", "^myed$"},
        {"real\\ed.desktop", "Exec=myed\n", "^myed$"},
        {"real\ned.desktop", "Exec=myed\n", "^myed$"},
        // Code run by an interpreter names no program; nor does a bad file name.
        {"real ed.desktop", "Exec=python3 -c 'run()'\n", ""},
    };
    for (const auto& c : cases) {
        config_->silenceDict.clear();
        const fs::path apps = taviro::test::freshDir("apps"), file = apps / c.file;
        fs::create_directories(file.parent_path());
        std::ofstream(file) << "[Desktop Entry]\nType=Application\nName=Picked\n" << c.lines;
        page_->addApplications(applicationsIn({apps}));
        EXPECT_EQ(page_->data(), *c.stored ? std::vector<std::string>{c.stored} : std::vector<std::string>{})
            << c.file << ": " << c.lines;
    }
}

// The picker says under which names each application will be silenced.
TEST(SilencePickerTest, EachLineShowsTheNamesItIsSilencedUnder) {
    const struct {
        DesktopApplication app;
        const char* label;
    } cases[] = {
        {{"realed.desktop", "Realed", "myed", {"myed", "realed"}}, "Realed  (myed, realed)"},
        {{"gedit.desktop", "Text Editor", "gedit", {"gedit"}}, "Text Editor  (gedit)"},
        {{"org.b.desktop", "B", "bee", {}}, "B  (bee)"},
        {{"real ed.desktop", "Nothing", "", {}}, "Nothing  (real ed.desktop)"},
    };
    for (const auto& c : cases) EXPECT_EQ(SilenceManager::pickerLabel(c.app), c.label) << c.app.identifier;
}

using ResetPanelTest = test::RecordingChannelFixture;

TEST_F(ResetPanelTest, EachButtonPostsOneCommandAndCloses) {
    ResetController boot;
    boot.resetBootButton();
    EXPECT_TRUE(boot.closed());
    ResetController custom;
    custom.resetCustom();
    EXPECT_TRUE(custom.closed());
    EXPECT_EQ(posted(), (std::vector<std::string>{"resetBootButtons", "resetCustom"}));
}

} // namespace
} // namespace kelvane
