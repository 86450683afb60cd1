#include "Settings/Pages/ResetController.h"

#include "Settings/InputMethodCommands.h"

namespace kelvane {

void ResetController::resetBootButton() {
    InputMethodCommands::resetBootButtons();
    closed_ = true;
}

void ResetController::resetCustom() {
    InputMethodCommands::resetCustom();
    closed_ = true;
}

} // namespace kelvane
