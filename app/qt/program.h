// The program's run, from start-up to shutdown, over whatever device link it is given.
#pragma once
#include <QString>

#include "clock.h"
#include "device_link.h"

constexpr int kExitNormal = 0;
constexpr int kExitStartupFailed = 1;

// Loads the settings from `settingsPath`, opens the device (a failure is shown in a message box
// and ends the run with kExitStartupFailed, the settings file untouched), shows the window and
// runs the application's event loop until Quit, the close button or a failed device; then
// closes the device, saves the settings and returns kExitNormal. A QApplication must exist.
int runViewer(DeviceLink& link, Clock& clock, const QString& settingsPath);
