#pragma once

#include "webservice/web/server_settings.h"

// Loads the reader SDK, listens at port on the address of the settings (every IPv4 address by
// default) and serves requests on the calling thread, one at a time, as the settings allow.
// Prints "Starting web server on port %s\n" first. Returns false at once (after "Failed to
// create listener\n") when the port cannot be listened on; otherwise serves until StopWebServer
// is called, then closes the listener, lets answers in writing go out, closes every connection
// and returns true.
bool StartWebServer(const char* port, const ServerSettings& settings = ServerSettings());

// Asks a running (or starting) StartWebServer to return after the request in progress. Safe to
// call from any thread, and from a signal-handling thread; a later StartWebServer serves again.
// A request made while no server runs is kept: the next StartWebServer returns true as soon as
// it listens.
void StopWebServer();

// The port the running server listens on (the one the system chose when started on port "0");
// 0 while no server listens.
unsigned short WebServerPort();
