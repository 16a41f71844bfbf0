// The program's run, from start-up to shutdown, over whatever device link it is given.
#pragma once
#include <QString>

#include "clock.h"
#include "linux_link.h"
#include "saved_files.h"

constexpr int kExitNormal = 0;
constexpr int kExitStartupFailed = 1;

struct RunOptions {
  QString settingsPath;
  OutputFolders folders;
  QString streamFile;  // played instead of the device when not empty
  // The device's stream is recorded into it from the start unless it is null; an empty name is
  // refused as any file that cannot be written.
  QString recordFile;
  bool wait = false;  // waits for the device, whatever the settings say
  QString serial;     // takes only the device with this serial number unless it is null
};

// Loads the settings, opens the device (a failure is shown in a message box and ends the run
// with kExitStartupFailed, the settings file untouched; with waiting on, the window waits for
// it instead) or, given a stream file, plays that
// without the device (a file that cannot be played ends the run the same way); given a record
// file, starts recording into it (one that cannot be written ends the run the same way); shows
// the window and runs the application's event loop until Quit, the close button, a failed
// device (unless waiting is on), or SIGINT, SIGTERM or SIGHUP; then ends a recording, closes the device, saves the
// settings (a choice of device or waiting made in the menu included, not one made by an
// option) and returns kExitNormal. A QApplication must exist.
int runViewer(LinuxLink& device, Clock& clock, const RunOptions& options);
