#pragma once

#include <sys/types.h>

// A listening socket held on an address and port (0: one the system picks), as another program
// would hold it.
class PortHolder {
  public:
    PortHolder(const char* address, unsigned short port, bool reuseAddress);
    ~PortHolder();
    PortHolder(const PortHolder&) = delete;
    PortHolder& operator=(const PortHolder&) = delete;

    bool Listening() const { return port_ != 0; }
    unsigned short Port() const { return port_; }

  private:
    int socket_ = -1;
    unsigned short port_ = 0;
};

// True when process pid holds the socket that listens on TCP port (IPv4) of this machine.
bool ListensOn(pid_t pid, unsigned short port);

// True when a TCP connection to 127.0.0.1:port is refused right now.
bool NothingListens(unsigned short port);
