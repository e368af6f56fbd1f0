#pragma once

// The tests hold the service manager's end of the notification socket as sim-servicemanager does.
#include "sim/servicemanager/notify_socket.h"

using NotifySocket = sim::NotifySocket;
