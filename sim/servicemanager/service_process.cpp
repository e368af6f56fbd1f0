#include "sim/servicemanager/service_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "sim/servicemanager/spawn_attributes.h"

extern char** environ;

namespace sim {

ServiceProcess::ServiceProcess(char* const command[]) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    const SpawnAttributes attributes(true);
    const int failure =
        posix_spawnp(&pid_, command[0], &actions, attributes.Get(), command, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failure != 0) {
        pid_ = -1;
        error_ = std::strerror(failure);
    }
}

ServiceProcess::~ServiceProcess() {
    if (pid_ > 0 && !status_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

// Reaping and signalling happen on one thread, so a signal never reaches a process that has
// taken the service's place under its reaped process id.
void ServiceProcess::Stop() {
    if (pid_ > 0 && !status_) {
        kill(pid_, SIGTERM);
    }
}

std::optional<int> ServiceProcess::Ended() {
    int raw = 0;
    if (pid_ > 0 && !status_ && waitpid(pid_, &raw, WNOHANG) == pid_) {
        signal_ = WIFSIGNALED(raw) ? WTERMSIG(raw) : 0;
        status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + signal_;
    }
    return status_;
}

}  // namespace sim
