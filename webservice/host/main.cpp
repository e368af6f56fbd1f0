#include "webservice/web/web_server.h"

// Until the service host exists, the program serves the reader directly.
int main() { return StartWebServer("19196") ? 0 : 1; }
