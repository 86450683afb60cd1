// TaviroMac2: the input method on the desktop. The IBus engine and the Qt
// windows share one GLib main loop; start-up is the application delegate's.
#include "InputMethod/App/Desktop/DesktopApp.h"
#include "InputMethod/App/Desktop/DisplayChoice.h"

#include <QApplication>

#include <cstring>
#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    taviro::DesktopOptions options;
    options.started = std::chrono::steady_clock::now();
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--ibus") == 0) {
            options.startedByDaemon = true;
        } else if (std::strcmp(argv[i], "--version") == 0) {
            std::cout << "TaviroMac2 " << TAVIRO_VERSION << "\n";
            return 0;
        } else if (std::strcmp(argv[i], "--help") == 0) {
            std::cout << "usage: TaviroMac2 [--ibus]\n"
                         "\n"
                         "The TaviroMac2 input method. Started by the IBus daemon (--ibus) from its\n"
                         "component file, or by hand: it then registers itself with the running daemon.\n"
                         "Select it in IBus as \"TaviroMac2\".\n";
            return 0;
        }
    }
    // A platform that starts whatever display there is (or none): the
    // engine must come up even where no window can be shown. Passed as an
    // argument so that programs started from here keep their own choice.
    const std::string platform = taviro::qtPlatformFor(taviro::processEnvironment());
    std::vector<char*> args(argv, argv + argc);
    std::string platformFlag = "-platform";
    args.push_back(platformFlag.data());
    args.push_back(const_cast<char*>(platform.c_str()));
    args.push_back(nullptr);
    int qtArgc = static_cast<int>(args.size()) - 1;
    QApplication app(qtArgc, args.data());
    QApplication::setQuitOnLastWindowClosed(false);
    return taviro::runDesktopApp(app, options);
}
