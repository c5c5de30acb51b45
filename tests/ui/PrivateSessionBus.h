#pragma once

#include <string>

namespace zembra::testing {

// Starts a D-Bus session daemon of the test program's own (once; it ends with the program) and
// points DBUS_SESSION_BUS_ADDRESS at it, so that no widget test reaches the desktop it runs on
// (a real notification, a file manager opening) and the desktop services can be watched. Must
// run before the application object exists and before any thread starts. Returns the bus
// address, or empty when dbus-daemon is not installed (the variable is then cleared).
std::string StartPrivateSessionBus();

}  // namespace zembra::testing
