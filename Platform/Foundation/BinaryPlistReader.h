#pragma once
#include "Platform/Foundation/Plist.h"

#include <optional>
#include <string_view>

namespace plat {

// A bounds-checked reader of binary ("bplist00") property lists: any offset,
// length or reference outside the file, a reference cycle or an unknown
// object kind makes the read fail instead of trusting the file.
class BinaryPlistReader {
public:
    static std::optional<PlistValue> read(std::string_view bytes);
};

} // namespace plat
