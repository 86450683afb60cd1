#pragma once
#include "Settings/CodeTable/CodeTableChooser.h"
#include "Settings/Tables/CodeTablePage.h"
#include "Settings/Tables/ShuangPinPage.h"

#include <array>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kelvane {

class ConfigManager;
class PbarController;

// The combined scheme page: full or double pinyin with its scheme, the main code table
// with its options, the assist table with its options and the five full-pinyin
// corrections, on one page. The code-table and double-pinyin pages do the saving and
// the rebuilds; this page keeps the state of its controls.
class CombinedSchemePage {
public:
    // A check box or radio button.
    struct Box {
        bool on = false;
        bool enabled = true;
    };
    // A pop-up button; `selected` is -1 when no item is selected.
    struct PopUp {
        int selected = -1;
        bool enabled = true;
    };
    struct Controls {
        bool quanpinViewHidden = false;
        bool shuangpinViewHidden = false;
        Box quanpinButton, shuangpinButton;
        std::array<Box, 5> corrections; // in the order of QuanPinView::boxes()
        PopUp spSelector;
        Box mainCheckBox;
        PopUp mainSelector, codeLength, upMethods, emptyCleanMethod;
        Box revealCode, emptySlide, codetableInUserDict;
        Box assistCheckBox;
        PopUp assistSelector;
        Box revealAssist, dupGoBack, wordFirst;
    };

    CombinedSchemePage(ConfigManager& config, TableLocations where);

    // Puts the built-in schemes, assist tables and code tables into the user folder (once,
    // when the page is loaded).
    void install();
    // The page entered or left its window: the three lists are read again from empty and
    // every control follows the settings. Changes no setting.
    void setUp();

    const std::vector<std::string>& schemes() const { return shuangPin_.schemes(); }
    const std::vector<std::string>& mainTables() const { return codeTables_.tables(); }
    const std::vector<std::string>& assistTables() const { return shuangPin_.assistTables(); }
    // The five commit-rule titles for the stored code length.
    std::array<std::string, 5> commitRules() const;
    const Controls& controls() const { return controls_; }
    std::filesystem::path userFolder() const { return codeTables_.userFolder(); }

    // Full or double pinyin; pressing the button of the current mode saves again.
    void useQuanpin();
    void useShuangpin();
    void setCorrection(size_t box, bool on);

    // Puts the chosen scheme in place; false (nothing changed) when it could not be.
    bool selectScheme(const std::string& title);

    // On: the main code-table controls are enabled with no table selected, nothing saved.
    // Off: no main code table and its options back to their defaults.
    void setMainOn(bool on);
    // Rebuilds the main code-table database behind `sheet`; the sheet closes on success
    // and keeps the message with its done button enabled on failure, when the page shows
    // the table still in use. `done` runs on the main queue after that.
    void selectMainCodeTable(const std::string& title, std::shared_ptr<PbarController> sheet,
                             std::function<void(bool)> done);
    void setCodeLengthIndex(int index);
    void setCommitRule(int index);
    void setEmptyCleanIndex(int index);
    void setRevealCode(bool on);
    void setEmptySlide(bool on);
    void setCodetableInUserDict(bool on);

    // The same for the assist table.
    void setAssistOn(bool on);
    void selectAssistTable(const std::string& title, std::shared_ptr<PbarController> sheet,
                           std::function<void(bool)> done);
    void setRevealAssist(bool on);
    void setMoveBack(bool on);
    void setWordFirst(bool on);

private:
    void useInputMode(bool quanPin);
    // The main check box and pop-up follow the stored main code table.
    void showMainSetting();
    // The assist check box and pop-up follow the double-pinyin page's state.
    void showAssistSetting();

    ConfigManager& config_;
    TableLocations where_;
    CodeTablePage codeTables_;
    ShuangPinPage shuangPin_;
    Controls controls_;
    // Lets a completion that outlives the page see that it is gone.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

} // namespace kelvane
