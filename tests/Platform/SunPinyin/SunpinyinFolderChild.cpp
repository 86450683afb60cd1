// Starts the SunPinyin engine in a process of its own, as the input method
// and the console client do: `sunpinyin_folder_child <XDG_DATA_HOME>` prints
// every notice for the user ("notice: <text>"), the sentence for "nihao" and
// "done".
#include "Platform/SunPinyin/SunpinyinWrapper.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    ::setenv("XDG_DATA_HOME", argv[1], 1);
    plat::SunpinyinWrapper::setUserNotice([](const std::string&, const std::string& text) {
        std::cout << "notice: " << text << std::endl;
    });
    plat::SunpinyinWrapper wrapper;
    std::cout << "sentence: " << wrapper.candidateWithBuffer("nihao") << std::endl;
    std::cout << "done" << std::endl;
    return 0;
}
