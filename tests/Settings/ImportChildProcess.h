#pragma once
#include <gtest/gtest.h>

#include "support/ChildProcess.h"

#include <string>
#include <vector>

namespace kelvane::test {

// The import helper program (ImportChild.cpp) as a child process with pipes on its
// standard input and output. Every wait is bounded; the destructor kills it by its id.
class ImportChild : public taviro::test::ChildProcess {
public:
    explicit ImportChild(const std::vector<std::string>& args) : ChildProcess(SETTINGS_IMPORT_CHILD, args) {}

    // Lets a held import go on.
    void resume() { closeInput(); }
};

} // namespace kelvane::test
