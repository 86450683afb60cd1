// Starts the SunPinyin engine in a process of its own, as the input method
// and the console client do: `sunpinyin_folder_child <XDG_DATA_HOME> [<keys>
// [<uid>]]` prints every notice for the user ("notice: <text>"), the sentence
// for the keys ("nihao" when none are given) and "done". With a uid, it first
// becomes that account (when run as root), as a user's own process.
#include "Platform/SunPinyin/SunpinyinWrapper.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include <grp.h>
#include <sys/prctl.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 4)
        return 2;
    if (argc == 4 && ::geteuid() == 0) {
        const auto id = static_cast<uid_t>(std::stoul(argv[3]));
        if (::setgroups(0, nullptr) != 0 || ::setgid(id) != 0 || ::setuid(id) != 0)
            return 3;
        // A user's process reaches its own /proc entries; one that changed account does not by default.
        ::prctl(PR_SET_DUMPABLE, 1);
    }
    ::setenv("XDG_DATA_HOME", argv[1], 1);
    const std::string keys = argc >= 3 ? argv[2] : "nihao";
    plat::SunpinyinWrapper::setUserNotice([](const std::string&, const std::string& text) {
        std::cout << "notice: " << text << std::endl;
    });
    plat::SunpinyinWrapper wrapper;
    std::cout << "sentence: " << wrapper.candidateWithBuffer(keys) << std::endl;
    std::cout << "done" << std::endl;
    return 0;
}
