#pragma once
#include <string_view>

namespace taviro {

// In-process notifications of the input method (default notification centre).
// Posted when the double-pinyin scheme file changed; every Double2Pinyin rereads it.
inline constexpr std::string_view NeedReloadPlan = "NeedReloadPlan";
// Posted by a candidate cell when clicked; the object is the cell.
inline constexpr std::string_view DidClickCandidate = "DidClickCandidate";

} // namespace taviro
