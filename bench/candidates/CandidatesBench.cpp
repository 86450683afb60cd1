// One refresh of the candidate window as a key makes it: the model asks for
// the list, lays out a page of nine candidates and sizes the window, then the
// Qt view paints it (offscreen, into an image as the screen would get it).
// Run: build/bin/bench_candidates --benchmark_repetitions=10 --benchmark_report_aggregates_only=true
#include "InputMethod/Core/ConfigManager.h"
#include "InputMethod/TavCandidates/Qt/QtCandidateView.h"
#include "InputMethod/TavCandidates/Qt/QtCandidateWindows.h"
#include "Platform/InputMethodKit/ScriptedClient.h"

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>

namespace {

using namespace taviro;

class Delegate : public CandidateWindowDelegate {
public:
    std::vector<std::string> list;
    std::vector<std::string> candidates() override { return list; }
    void candidateSelectionChanged(const std::string&) override {}
    void commitComposition(plat::TextInputClient*) override {}
    plat::TextInputClient* currentClient() const override { return nullptr; }
};

QApplication& app() {
    static QApplication* instance = [] {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        setenv("TAVIRO_APPEARANCE", "light", 1);
        static int argc = 1;
        static char name[] = "bench_candidates";
        static char* argv[] = {name, nullptr};
        return new QApplication(argc, argv);
    }();
    return *instance;
}

ConfigManager& config(long long candidateNumber) {
    static const auto folder = std::filesystem::temp_directory_path() / "bench_candidates_config";
    static ConfigManager* manager = new ConfigManager(folder);
    manager->update([&](Settings& s) { s.candidateNumber = candidateNumber; });
    return *manager;
}

void refresh(benchmark::State& state, bool vertical) {
    app();
    CandidateEnvironment env;
    env.config = &config(vertical ? 0 : 9);
    auto window = qt::makeCandidateWindow(vertical, env);
    Delegate delegate;
    delegate.list = {"你好", "尼好", "拟好dj%dA8.Cnh", "你", "呢", "妮", "泥", "腻", "逆", "倪", "霓", "你们"};
    window->setDelegate(&delegate);
    plat::ScriptedClient client;
    client.setLineRect({200, 400, 2, 20});
    window->showAtCaret(&client);
    auto& widget = static_cast<qt::QtCandidateView*>(window->view())->widget();
    QImage image(widget.size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        window->reloadCandidates();
        if (image.size() != widget.size()) image = QImage(widget.size(), QImage::Format_ARGB32_Premultiplied);
        widget.render(&image);
        benchmark::DoNotOptimize(image.constBits());
    }
    state.counters["page"] = window->visibleCandidateCount();
}

void BM_RefreshVertical(benchmark::State& state) { refresh(state, true); }
void BM_RefreshHorizontal(benchmark::State& state) { refresh(state, false); }

} // namespace

BENCHMARK(BM_RefreshVertical)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RefreshHorizontal)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
