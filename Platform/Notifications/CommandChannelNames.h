#pragma once
// Names of the command channel from the preferences application to the input method.
// Both programs include this header; nothing else defines these names.

namespace plat::command {

// The notification name; also the input method's bundle identifier.
inline constexpr const char* kNotificationName = "com.quorvel.inputmethod.TaviroMac2";

// The D-Bus session-bus signal that carries one command.
inline constexpr const char* kObjectPath = "/com/quorvel/inputmethod/TaviroMac2";
inline constexpr const char* kInterface = "com.quorvel.inputmethod.TaviroMac2";
inline constexpr const char* kMember = "Command";
inline constexpr const char* kSignature = "sa{sv}";

// Commands (the notification's object string).
inline constexpr const char* kOkToUse = "okToUse";
inline constexpr const char* kCloseDatabase = "closeDatabase";
inline constexpr const char* kNeedsReloadDBLink = "needsReloadDBLink";
inline constexpr const char* kConfigNeedsReload = "configNeedsReload";
inline constexpr const char* kNeedReloadPlan = "needReloadPlan";
inline constexpr const char* kResetUserDict = "resetUserDict";
inline constexpr const char* kResetCustom = "resetCustom";
inline constexpr const char* kResetBootButtons = "resetBootButtons";
inline constexpr const char* kSwitchCandidatesPanel = "switchCandidatesPanel";
inline constexpr const char* kSetFontSize = "setFontSize";

// userInfo keys and their D-Bus types: "okToUse" b, "name" s, "size" x.
inline constexpr const char* kOkToUseKey = "okToUse";
inline constexpr const char* kNameKey = "name";
inline constexpr const char* kSizeKey = "size";

// Values of "name".
inline constexpr const char* kHorizontalPanel = "横排候选栏";
inline constexpr const char* kVerticalPanel = "竖排候选栏";

} // namespace plat::command
