#pragma once

#include <functional>

#include <QString>

// Shows one of the shut-down failure messages to the user (an information box
// captioned "Tolva Clipvane" in the program).
using ShutdownMessageBox = std::function<void(const QString& text)>;

// Shuts the computer down at once through systemd-logind on the system bus:
// CanPowerOff, then PowerOff without interactive authorisation. Failures are
// shown through showMessage:
//   "OpenProcessToken failed."             the system bus cannot be reached;
//   "AdjustTokenPrivileges enable failed." CanPowerOff does not answer "yes";
//   "InitiateSystemShutdown failed."       PowerOff is refused.
// The system bus is the one DBUS_SYSTEM_BUS_ADDRESS names (the standard socket
// when it is unset), connected anew for each call.
void ShutdownWindows(const ShutdownMessageBox& showMessage);
