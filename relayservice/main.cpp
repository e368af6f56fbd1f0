#include "relayservice/relay_service.h"

// Halvane has no command line: the program only hands itself to the service manager, and returns
// 0 when the service has stopped, or at once when it was not started as a service.
int main() {
    RelayService service;
    service.Run();
    return 0;
}
