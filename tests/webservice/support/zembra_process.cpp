#include "tests/webservice/support/zembra_process.h"

#include <signal.h>

#include <chrono>
#include <fstream>

ZembraProcess::ZembraProcess() {
    directory_ = scratch_.Path() / "program";
    std::filesystem::create_directory(directory_);
    program_ = directory_ / "zembra";
    std::filesystem::copy_file(ZEMBRA_PROGRAM, program_);
}

ZembraProcess::ZembraProcess(const std::filesystem::path& program)
    : directory_(program.parent_path()), program_(program) {}

ZembraProcess::~ZembraProcess() {
    Stop();
}

void ZembraProcess::WriteFile(const std::string& name, const std::string& contents) const {
    std::ofstream(directory_ / name, std::ios::binary | std::ios::trunc) << contents;
}

void ZembraProcess::CopyFile(const std::filesystem::path& from, const std::string& name) const {
    std::filesystem::copy_file(from, directory_ / name,
                               std::filesystem::copy_options::overwrite_existing);
}

HostProcess::Environment ZembraProcess::Environment() const {
    return {
        {"ZEMBRA_REGISTRY_ROOT", (scratch_.Path() / "registry").string()},
        // Registration removes an installed service first: never the machine's own.
        {"ZEMBRA_UNIT_DIR", (scratch_.Path() / "units").string()},
        {"NOTIFY_SOCKET", std::nullopt},
        {"TROVIK_SIM_CONFIG", std::nullopt},
        {"TROVIK_SIM_LOG", std::nullopt},
    };
}

bool ZembraProcess::Start(std::string& problem) {
    const auto registered =
        HostProcess::Run(program_, {"-RegServer"}, Environment(), scratch_.Path());
    if (registered != 0) {
        problem = "zembra -RegServer failed";
        return false;
    }
    process_ = std::make_unique<HostProcess>(program_, std::vector<std::string>{}, Environment(),
                                             scratch_.Path());
    if (!process_->Started()) {
        problem = "zembra could not be started";
        return false;
    }
    if (!process_->WaitUntilServing(kPort, problem)) {
        problem = "zembra: " + problem;
        return false;
    }
    return true;
}

void ZembraProcess::Stop() {
    if (!process_) {
        return;
    }
    process_->Signal(SIGTERM);
    if (!process_->WaitForExit()) {
        process_->Signal(SIGKILL);
        process_->WaitForExit();
    }
}

std::string ZembraProcess::Output() const {
    return process_ ? process_->Output() : std::string();
}
