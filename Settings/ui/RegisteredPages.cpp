#include "Settings/ui/PageRegistry.h"
#include "Settings/Editors/ExtraCodesController.h"
#include "Settings/ui/Cloud/CloudViews.h"
#include "Settings/ui/Pages.h"

namespace kelvane::ui {

// Every page of the settings window. One line per page; see PageRegistry.h.
void registerPages() {
    static bool done = false;
    if (done) return;
    done = true;

    registerTabPage("general", makeGeneralTab);
    registerTabPage("codetable", makeInputModeTab);
    registerTabPage("advance", makeSystemTab);
    registerInputModePage(1, makeShuangPinView);
    registerInputModePage(2, makeCodeTableView);
    registerInputModePage(3, makeCombinedSchemeView);
    registerSubPage("silence", "静默应用列表", makeSilenceEditor);
    registerSubPage("customCodetable", "自定义短语", makeCustomPhraseView);
    registerSubPage("keyLogger", "按键统计", makeKeyStatisticsView);
    registerSubPage("puncMap", "标点映射", makePuncMapView);
    registerSubPage("bootButton", "引导符号", makeBootButtonsView);
    registerSubPage(std::string(ExtraCodesController::kRoute), QString::fromUtf8(ExtraCodesController::kTitle.data(), qsizetype(ExtraCodesController::kTitle.size())),
                    makeExtraCodesView);
    registerSubPage("extended", "扩展词库", makeExtendedView);
    registerSubPage("spEditor", "编辑双拼方案", makeSchemeEditorView);
    registerTabPage("qvcloud", makeQvCloudView);
    registerTabPage("backups", makeBackupsView);
}

} // namespace kelvane::ui
