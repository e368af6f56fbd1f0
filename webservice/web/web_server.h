#pragma once

// Loads the reader SDK, listens on every IPv4 address at port and serves requests on the
// calling thread, one at a time. Prints "Starting web server on port %s\n" first. Returns false
// at once (after "Failed to create listener\n") when the port cannot be listened on; otherwise
// serves until StopWebServer is called, then closes the listener and every connection and
// returns true.
bool StartWebServer(const char* port);

// Asks a running (or starting) StartWebServer to return after the request in progress. Safe to
// call from any thread, and from a signal-handling thread; a later StartWebServer serves again.
// A request made while no server runs is kept: the next StartWebServer returns true as soon as
// it listens.
void StopWebServer();

// The port the running server listens on (the one the system chose when started on port "0");
// 0 while no server listens.
unsigned short WebServerPort();
