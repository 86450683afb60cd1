// A Kelvane that is sharing a database, in its own process: makes the copy that the
// upload sends, prints "copied <path>", then waits until its standard input closes (or
// it is killed, as a crash mid-share would end it).
//
//   share_copy_child <database> <per-user folder>
#include "Settings/Cloud/UploadController.h"
#include "Settings/DatabaseCopy.h"

#include <cstdio>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    std::string why;
    auto copy = kelvane::databaseSnapshot(argv[1], std::filesystem::path(argv[2]) / kelvane::kSharedCopyName, &why);
    if (!copy) {
        std::printf("failed %s\n", why.c_str());
        return 3;
    }
    std::printf("copied %s\n", copy->path().c_str());
    std::fflush(stdout);
    char c;
    while (::read(0, &c, 1) > 0) {
    }
    return 0;
}
