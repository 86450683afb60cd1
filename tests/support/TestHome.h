#pragma once
#include <filesystem>
#include <string>

namespace taviro::test {

// The temporary home of this test process. HOME, XDG_DATA_HOME, XDG_CONFIG_HOME,
// XDG_CACHE_HOME and XDG_RUNTIME_DIR point into it before any test runs.
const std::filesystem::path& testHome();

// A new empty folder under the test home, unique within the process.
std::filesystem::path freshDir(const std::string& hint = "dir");

} // namespace taviro::test
