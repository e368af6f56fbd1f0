// private-dev-log SOCKET SCRATCH PROGRAM [ARGUMENTS...]
//
// Runs PROGRAM in a mount namespace of its own where /dev/log leads to SOCKET, so that a test
// reads what the program hands to syslog(3) without the machine's log daemon, and beside other
// tests doing the same. /dev gets an overlay whose changes go to a new directory in SCRATCH; the
// rest of /dev stays as it is. The program keeps this
// process's id. Needs the right to mount (root); says why on standard error and exits with 127
// when a step fails.
#include <errno.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

int Fail(const char* step) {
    std::fprintf(stderr, "private-dev-log: %s: %s\n", step, std::strerror(errno));
    return 127;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: private-dev-log SOCKET SCRATCH PROGRAM [ARGUMENTS...]\n");
        return 2;
    }
    const std::string socket = argv[1];
    // An overlay's directories serve one mount at a time: each run makes its own.
    std::string overlay = std::string(argv[2]) + "/overlay.XXXXXX";
    if (mkdtemp(overlay.data()) == nullptr) {
        return Fail("making the overlay's directory");
    }
    const std::string upper = overlay + "/upper";
    const std::string work = overlay + "/work";
    if (mkdir(upper.c_str(), 0755) != 0 || mkdir(work.c_str(), 0755) != 0) {
        return Fail("making the overlay's directories");
    }
    if (unshare(CLONE_NEWNS) != 0) {
        return Fail("unshare");
    }
    // Nothing mounted here reaches the machine's own mounts.
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        return Fail("making the mounts private");
    }
    const std::string options = "lowerdir=/dev,upperdir=" + upper + ",workdir=" + work;
    if (mount("overlay", "/dev", "overlay", 0, options.c_str()) != 0) {
        return Fail("mounting the overlay on /dev");
    }
    if ((unlink("/dev/log") != 0 && errno != ENOENT) || symlink(socket.c_str(), "/dev/log") != 0) {
        return Fail("linking /dev/log");
    }
    execv(argv[3], argv + 3);
    return Fail(argv[3]);
}
