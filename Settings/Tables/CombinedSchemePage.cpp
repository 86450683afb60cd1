#include "Settings/Tables/CombinedSchemePage.h"

#include "Settings/BuiltinFiles.h"
#include "Settings/ConfigManager.h"
#include "Settings/InputMethodCommands.h"
#include "Settings/NotificationSender.h"
#include "Settings/Pages/PbarController.h"
#include "Settings/Pages/QuanPinView.h"

#include <algorithm>

namespace kelvane {

namespace {

// A check box whose setting the code-table or double-pinyin page saves.
template <class Saver> void check(Saver& saver, void (Saver::*save)(bool), CombinedSchemePage::Box& box, bool on) {
    (saver.*save)(on);
    box.on = on;
}

int indexOf(const std::vector<std::string>& list, const std::string& title) {
    auto it = std::find(list.begin(), list.end(), title);
    return it == list.end() ? -1 : int(it - list.begin());
}

} // namespace

CombinedSchemePage::CombinedSchemePage(ConfigManager& config, TableLocations where)
    : config_(config), where_(where), codeTables_(config, where), shuangPin_(config, where) {}

void CombinedSchemePage::install() {
    BuiltinFiles::install(BuiltinFiles::Page::Mix, where_.resourceFolder, where_.userFolder);
}

void CombinedSchemePage::setUp() {
    Controls& c = controls_;
    c.dupGoBack.on = config_.moveBack;
    c.wordFirst.on = config_.wordFirst;

    c.quanpinViewHidden = !config_.quanPin;
    c.shuangpinViewHidden = config_.quanPin;
    c.quanpinButton.on = config_.quanPin;
    c.shuangpinButton.on = !config_.quanPin;

    // The lists are read from empty, so a removed file leaves its pop-up.
    codeTables_.willAppear();
    shuangPin_.willAppear();
    showAssistSetting();
    for (Box* b : {&c.revealAssist, &c.dupGoBack, &c.wordFirst})
        b->enabled = c.assistCheckBox.on;

    showMainSetting();
    const bool main = c.mainCheckBox.on;
    for (Box* b : {&c.revealCode, &c.emptySlide, &c.codetableInUserDict})
        b->enabled = main;
    for (PopUp* p : {&c.upMethods, &c.emptyCleanMethod, &c.codeLength})
        p->enabled = main;

    c.spSelector.selected = shuangPin_.selectedScheme();
    c.upMethods.selected = codeTables_.selectedCommitRule();
    c.codeLength.selected = codeTables_.codeLengthIndex();
    c.codetableInUserDict.on = config_.codetableInUserDict;
    c.revealCode.on = config_.revealCode;
    c.revealAssist.on = config_.revealAssist;
    c.emptySlide.on = config_.emptySlide;
    c.emptyCleanMethod.selected = codeTables_.emptyCleanIndex();

    QuanPinView corrections(config_);
    for (size_t i = 0; i < c.corrections.size(); ++i)
        c.corrections[i].on = corrections.state(i);
}

void CombinedSchemePage::showMainSetting() {
    Controls& c = controls_;
    c.mainCheckBox.on = config_.codeTableName != kNoMainCodeTable;
    c.mainSelector.enabled = c.mainCheckBox.on;
    c.mainSelector.selected = codeTables_.selectedTable();
}

void CombinedSchemePage::showAssistSetting() {
    Controls& c = controls_;
    c.assistCheckBox.on = shuangPin_.assistOn();
    c.assistSelector.enabled = c.assistCheckBox.on;
    c.assistSelector.selected = shuangPin_.selectedAssistTable();
}

std::array<std::string, 5> CombinedSchemePage::commitRules() const { return codeTables_.commitRules(); }

void CombinedSchemePage::useQuanpin() { useInputMode(true); }
void CombinedSchemePage::useShuangpin() { useInputMode(false); }

void CombinedSchemePage::useInputMode(bool quanPin) {
    Controls& c = controls_;
    c.quanpinButton.on = quanPin;
    c.shuangpinButton.on = !quanPin;
    c.shuangpinViewHidden = quanPin;
    c.quanpinViewHidden = !quanPin;
    config_.quanPin = quanPin;
    config_.save();
    config_.disableDatabase = false;
    config_.save();
    NotificationSender::post(plat::command::kNeedsReloadDBLink);
}

void CombinedSchemePage::setCorrection(size_t box, bool on) {
    if (box >= controls_.corrections.size()) return;
    QuanPinView(config_).toggle(box, on);
    controls_.corrections[box].on = on;
}

bool CombinedSchemePage::selectScheme(const std::string& title) {
    const bool ok = shuangPin_.selectScheme(title);
    controls_.spSelector.selected = shuangPin_.selectedScheme();
    return ok;
}

void CombinedSchemePage::setMainOn(bool on) {
    Controls& c = controls_;
    c.mainCheckBox.on = on;
    for (Box* b : {&c.codetableInUserDict, &c.emptySlide, &c.revealCode})
        b->enabled = on;
    for (PopUp* p : {&c.codeLength, &c.emptyCleanMethod, &c.mainSelector, &c.upMethods})
        p->enabled = on;
    c.mainSelector.selected = -1;
    if (on) return;

    // One save per field, as every other control does.
    config_.codeTableName = kNoMainCodeTable;
    config_.save();
    config_.fourCode = 0;
    config_.save();
    config_.codeTableVersion = -1;
    config_.save();
    config_.revealCode = false;
    config_.save();
    config_.emptySlide = false;
    config_.save();
    config_.spaceClean = false;
    config_.save();
    NotificationSender::post(plat::command::kNeedsReloadDBLink);

    c.revealCode.on = false;
    c.upMethods.selected = 0;
    c.emptySlide.on = false;
    c.emptyCleanMethod.selected = 0;
    NotificationSender::post(plat::command::kConfigNeedsReload);
}

void CombinedSchemePage::selectMainCodeTable(const std::string& title, std::shared_ptr<PbarController> sheet,
                                             std::function<void(bool)> done) {
    controls_.mainSelector.selected = indexOf(mainTables(), title);
    codeTables_.selectMainCodeTable(title, sheet, [this, alive = std::weak_ptr<int>(alive_), sheet, done](bool ok) {
        if (!ok && alive.lock()) showMainSetting();
        if (sheet) sheet->finish(ok);
        if (done) done(ok);
    });
}

void CombinedSchemePage::setCodeLengthIndex(int index) {
    if (!codeTables_.setCodeLengthIndex(index)) return;
    // The commit rules are titled by the new length; the chosen rule keeps its index.
    controls_.codeLength.selected = index;
    NotificationSender::post(plat::command::kConfigNeedsReload);
}

void CombinedSchemePage::setCommitRule(int index) {
    if (!codeTables_.setCommitRule(index)) return;
    controls_.upMethods.selected = index;
    NotificationSender::post(plat::command::kConfigNeedsReload);
}

void CombinedSchemePage::setEmptyCleanIndex(int index) {
    if (index < 0 || index > 2) return;
    codeTables_.setEmptyCleanIndex(index);
    controls_.emptyCleanMethod.selected = index;
}

void CombinedSchemePage::setRevealCode(bool on) {
    check(codeTables_, &CodeTablePage::setRevealCode, controls_.revealCode, on);
}
void CombinedSchemePage::setEmptySlide(bool on) {
    check(codeTables_, &CodeTablePage::setEmptySlide, controls_.emptySlide, on);
}
void CombinedSchemePage::setCodetableInUserDict(bool on) {
    check(codeTables_, &CodeTablePage::setCodetableInUserDict, controls_.codetableInUserDict, on);
}

void CombinedSchemePage::setAssistOn(bool on) {
    Controls& c = controls_;
    shuangPin_.setAssistOn(on);
    c.assistCheckBox.on = on;
    c.assistSelector.enabled = on;
    for (Box* b : {&c.revealAssist, &c.dupGoBack, &c.wordFirst})
        b->enabled = on;
    c.assistSelector.selected = -1;
    if (!on) c.revealAssist.on = false;
}

void CombinedSchemePage::selectAssistTable(const std::string& title, std::shared_ptr<PbarController> sheet,
                                           std::function<void(bool)> done) {
    controls_.assistSelector.selected = indexOf(assistTables(), title);
    shuangPin_.selectAssistTable(title, sheet, [this, alive = std::weak_ptr<int>(alive_), sheet, done](bool ok) {
        if (!ok && alive.lock()) showAssistSetting();
        if (sheet) sheet->finish(ok);
        if (done) done(ok);
    });
}

void CombinedSchemePage::setRevealAssist(bool on) {
    check(shuangPin_, &ShuangPinPage::setRevealAssist, controls_.revealAssist, on);
}
void CombinedSchemePage::setMoveBack(bool on) {
    check(shuangPin_, &ShuangPinPage::setMoveBack, controls_.dupGoBack, on);
}
void CombinedSchemePage::setWordFirst(bool on) {
    check(shuangPin_, &ShuangPinPage::setWordFirst, controls_.wordFirst, on);
}

} // namespace kelvane
