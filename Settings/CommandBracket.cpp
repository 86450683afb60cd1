#include "Settings/CommandBracket.h"

#include "Settings/NotificationSender.h"

namespace kelvane {

CommandBracket::CommandBracket(Kind kind) : kind_(kind) {
    switch (kind_) {
    case Kind::Full:
        NotificationSender::okToUse(false);
        NotificationSender::post(plat::command::kCloseDatabase);
        break;
    case Kind::UserDictionary:
        NotificationSender::post(plat::command::kCloseDatabase);
        NotificationSender::okToUse(false);
        break;
    case Kind::OkToUseOnly: NotificationSender::okToUse(false); break;
    }
}

CommandBracket::~CommandBracket() {
    if (kind_ != Kind::OkToUseOnly) NotificationSender::post(plat::command::kNeedsReloadDBLink);
    NotificationSender::okToUse(true);
}

} // namespace kelvane
