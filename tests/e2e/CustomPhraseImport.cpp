// Runs the custom phrase editor's text import, as Kelvane does, into the per-user
// folder of this environment, posting its commands on the real D-Bus channel:
//   taviro-e2e-import FILE
// Prints "START" when it begins and "DONE 1" (or "DONE 0") once the rows are in and
// the commands are on the bus.
#include "Platform/Foundation/Paths.h"
#include "Platform/Notifications/DBusCommandChannel.h"
#include "Platform/Text/TextFileReader.h"
#include "Settings/Functions/ModelManager.h"
#include "Settings/NotificationSender.h"
#include "Settings/Tables/CustomPhraseEditor.h"

#include <chrono>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: taviro-e2e-import FILE\n");
        return 2;
    }
    auto channel = std::make_shared<plat::DBusCommandChannel>();
    kelvane::NotificationSender::setChannel(channel);
    kelvane::ModelManager store(plat::Paths::perUserFolder());
    kelvane::CustomPhraseEditor editor(store);
    std::printf("START\n");
    std::fflush(stdout);
    bool ok = false;
    if (const auto text = plat::readTextFile(argv[1])) {
        const auto parsed = kelvane::CustomPhraseEditor::parseText(*text);
        ok = !parsed.badLine && editor.importRows(parsed.rows);
    }
    if (!channel->flush(std::chrono::seconds(5))) ok = false;
    std::printf("DONE %d\n", ok ? 1 : 0);
    std::fflush(stdout);
    return ok ? 0 : 1;
}
