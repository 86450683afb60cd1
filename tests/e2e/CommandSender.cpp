// Posts commands of the preferences application over the real D-Bus channel:
//   taviro-e2e-send [--stay] okToUse=false closeDatabase switchCandidatesPanel=竖排候选栏 setFontSize=24
// Prints "SENT" once they are on the bus; with --stay it then waits to be killed.
#include "Platform/Notifications/Command.h"
#include "Platform/Notifications/DBusCommandChannel.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

int main(int argc, char** argv) {
    bool stay = false;
    plat::DBusCommandChannel channel;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--stay") {
            stay = true;
            continue;
        }
        const auto eq = arg.find('=');
        plat::Command c = plat::Command::plain(arg.substr(0, eq));
        if (eq != std::string::npos) {
            const std::string value = arg.substr(eq + 1);
            if (c.name == "okToUse") c.userInfo["okToUse"] = value == "true";
            else if (c.name == "setFontSize") c.userInfo["size"] = static_cast<int64_t>(std::stoll(value));
            else c.userInfo["name"] = value;
        }
        channel.post(c);
    }
    if (!channel.flush(std::chrono::seconds(5))) return 1;
    std::printf("SENT\n");
    std::fflush(stdout);
    while (stay) std::this_thread::sleep_for(std::chrono::seconds(1));
    return 0;
}
