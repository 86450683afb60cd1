// A child program that stands for the other program holding the settings lock:
//
//   lock_holder <lock file>
//
// Takes the lock (waiting at most 10 s), prints "locked", and holds it until its
// standard input ends or says "release"; then prints "released" and ends.
#include "Platform/Foundation/FileLock.h"

#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    std::string error;
    auto lock = plat::FileLock::acquire(argv[1], std::chrono::seconds(10), &error);
    if (!lock) {
        std::printf("failed %s\n", error.c_str());
        return 1;
    }
    std::printf("locked\n");
    std::fflush(stdout);
    std::string line;
    while (std::getline(std::cin, line) && line != "release") {
    }
    lock.reset();
    std::printf("released\n");
    std::fflush(stdout);
    return 0;
}
