#include "InputMethod/TavCandidates/Qt/QtCandidateWindows.h"

#include "InputMethod/TavCandidates/CandidatesHController.h"
#include "InputMethod/TavCandidates/CandidatesVController.h"
#include "InputMethod/TavCandidates/Qt/QtCandidateView.h"

namespace taviro::qt {

std::unique_ptr<CandidateController> makeCandidateWindow(bool vertical, CandidateEnvironment env) {
    const CandidateEnvironment qt = qtEnvironment();
    if (!env.measurer) env.measurer = qt.measurer;
    if (!env.screens) env.screens = qt.screens;
    std::unique_ptr<CandidateController> model;
    if (vertical) model = std::make_unique<CandidatesVController>(env);
    else model = std::make_unique<CandidatesHController>(env);
    model->setView(std::make_unique<QtCandidateView>(*model));
    return model;
}

CandidateWindowHolder::Factory candidateWindowFactory(CandidateWindowHolder& holder) {
    return [&holder](bool vertical) -> std::unique_ptr<CandidateWindow> {
        CandidateEnvironment env;
        env.strip = &holder.strip();
        return makeCandidateWindow(vertical, env);
    };
}

void installQtCandidateWindows(CandidateWindowHolder& holder) {
    holder.setFactory(candidateWindowFactory(holder));
    if (!holder.hasWindow()) return;
    CandidateWindow& old = holder.window();
    CandidateWindowDelegate* delegate = old.delegate();
    const FontSize size = old.fontSize();
    old.close();
    CandidateWindow& next = holder.replace(old.isVertical());
    next.setDelegate(delegate);
    next.setFontSize(size);
}

} // namespace taviro::qt
