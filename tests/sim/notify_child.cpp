// A service for the tests of sim-servicemanager. It says on standard output what it was given,
// sends each argument after the first as one report to NOTIFY_SOCKET, and then does what the first
// argument says:
//   exit:N   exits with N
//   stop:N   waits for SIGTERM or SIGINT, says which came, and exits with N
//   kill:S   ends itself with signal S
//   notify-child MODE [REPORT...]

#include <signal.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("usage: notify-child exit:N|stop:N|kill:S [REPORT...]\n", stderr);
        return 2;
    }
    const std::string mode = argv[1];
    const int number = std::atoi(mode.substr(mode.find(':') + 1).c_str());

    // Taken before the line below tells the test that a stop may come.
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGINT);
    sigprocmask(SIG_BLOCK, &stops, nullptr);

    for (int i = 2; i < argc; ++i) {
        sd_notify(0, argv[i]);
    }
    const char* socket = std::getenv("NOTIFY_SOCKET");
    std::printf("notify-child: pid=%d pgid=%d socket=%s\n", static_cast<int>(getpid()),
                static_cast<int>(getpgrp()), socket != nullptr ? socket : "(none)");
    std::fflush(stdout);

    if (mode.rfind("kill:", 0) == 0) {
        sigprocmask(SIG_UNBLOCK, &stops, nullptr);
        raise(number);
    } else if (mode.rfind("stop:", 0) == 0) {
        int signal = 0;
        sigwait(&stops, &signal);
        std::printf("notify-child: got %s\n", signal == SIGTERM ? "SIGTERM" : "SIGINT");
    }
    return number;
}
