// A separate process that runs one import for the tests that kill an import or run two
// programs' imports at once. It prints "MIDWAY" when the import shows its first bad-line
// message, then holds the import there (inside its transaction) until a line or the end
// of its standard input arrives; it prints "DONE 1" or "DONE 0" when the import ends.
//
//   settings_import_child rebuild <template> <text> <database>
//   settings_import_child word <extended.db> <library folder> <name>
#include "Platform/Dispatch/MainQueue.h"
#include "Platform/Dispatch/RunLoopDriver.h"
#include "Platform/Notifications/RecordingCommandChannel.h"
#include "Settings/CodeTable/CodeTableImporter.h"
#include "Settings/Functions/ExtendedController/ExtendedDatabasetManager.h"
#include "Settings/NotificationSender.h"
#include "Settings/ProgressSink.h"

#include <atomic>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <thread>

namespace {

class PausingSink : public kelvane::ProgressSink {
public:
    void setDoubleValue(double) override {}
    void setMaxValue(double) override {}
    void incrementBy(double) override {}
    void setStringValue(const std::string& text) override {
        if (paused_ || text.rfind("第", 0) != 0) return;
        paused_ = true;
        std::cout << "MIDWAY" << std::endl;
        std::string line;
        std::getline(std::cin, line);
    }

private:
    bool paused_ = false;
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::cerr << "usage: settings_import_child rebuild|word <path> <path> <path|name>\n";
        return 2;
    }
    const std::string mode = argv[1];
    kelvane::NotificationSender::setChannel(std::make_shared<plat::RecordingCommandChannel>());
    plat::RunLoopDriver driver(plat::MainQueue::shared());
    auto sink = std::make_shared<PausingSink>();
    std::atomic<int> result{-1};
    const auto done = [&result](bool ok) { result = ok ? 1 : 0; };
    std::thread worker([&] {
        if (mode == "rebuild") {
            kelvane::CodeTableImporter::rebuildDatabase(argv[2], argv[3], argv[4], false, sink, done);
        } else {
            kelvane::ExtendedDatabasetManager manager(argv[2], argv[3]);
            manager.importWordLibrary(argv[4], sink, done);
        }
    });
    driver.runUntil([&] { return result >= 0; }, std::chrono::seconds(120));
    worker.join();
    std::cout << "DONE " << result.load() << std::endl;
    return result == 1 ? 0 : 1;
}
