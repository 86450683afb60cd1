#include "Settings/ui/PageRegistry.h"
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
    registerSubPage("silence", "静默应用列表", makeSilenceEditor);
    registerSubPage("customCodetable", "自定义短语", makeCustomPhraseView);
    registerSubPage("keyLogger", "按键统计", makeKeyStatisticsView);
    registerTabPage("qvcloud", makeQvCloudView);
    registerTabPage("backups", makeBackupsView);
}

} // namespace kelvane::ui
