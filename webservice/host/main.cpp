#include "platform/command_line.h"
#include "platform/process_exit.h"
#include "webservice/host/zembra_module.h"

int main(int argc, char** argv) {
    CZembraModule module;
    return platform::ProcessExitStatus(module.Main(platform::ProgramCommandLine(argc, argv)));
}
