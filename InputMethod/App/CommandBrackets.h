#pragma once
#include "Platform/Notifications/Command.h"

#include <map>
#include <string>

namespace taviro {

class CommandTargets;

// Watches the brackets the preferences application opens around a database
// rewrite ("okToUse" false or "closeDatabase", then "needsReloadDBLink" and
// "okToUse" true). When the sender leaves the bus with a bracket still open
// (killed mid-import), the databases are reopened and the ready flag raised,
// so the input method does not keep offering only its waiting text.
class CommandBrackets {
public:
    explicit CommandBrackets(CommandTargets& targets) : targets_(targets) {}

    // Before the command handler runs the command.
    void commandReceived(const plat::Command& command, const std::string& sender);
    // A connection left the bus.
    void senderGone(const std::string& name);

    bool hasOpenBracket(const std::string& sender) const { return open_.count(sender) != 0; }

private:
    struct Open {
        bool flagLowered = false;
        bool databasesClosed = false;
    };
    CommandTargets& targets_;
    std::map<std::string, Open> open_;
};

} // namespace taviro
