// The settings file: $XDG_CONFIG_HOME/kestravu/KESTRAVU.ini (~/.config/kestravu/ by default),
// section "section", keys "wide", "scr4" and "bufsize" with decimal values, as the Windows
// program keeps them, and this viewer's own sections "view", key "scale", and "device", keys
// "wait" and "serial" (text). A file copied from
// the Windows program must work as it is, so sections and keys are matched without regard to
// case, CRLF line ends are kept, and a save changes only the program's values: every other byte,
// comments and foreign sections included, stays as it was.
#pragma once
#include <QString>

#include "settings.h"

// The settings of this viewer alone, which the Windows program has no use for.
struct ViewSettings {
  static constexpr int32_t kMaxScale = 4;
  int32_t scale = 1;  // the window shows the picture 1 ... 4 times its size
};

// Which capture device the viewer takes, and whether it waits for one.
struct DeviceSettings {
  int32_t wait = 0;  // non-zero: wait for the device at start-up and after an unplug or silence
  QString serial;    // the USB serial number of the device to take; empty: the first one
  bool operator==(const DeviceSettings& other) const {
    return wait == other.wait && serial == other.serial;
  }
};

class SettingsStore {
 public:
  explicit SettingsStore(QString path) : path_(std::move(path)) {}

  // Where the program keeps its settings.
  static QString defaultPath();

  // Only a regular file of at most this size is read, opened without waiting: the program's own
  // is under 100 bytes, and a FIFO or a device in its place, or a larger file, is no settings
  // file the program or its user wrote.
  static constexpr qint64 kMaxFileBytes = 1 << 20;

  // The built-in defaults, replaced by each key that holds a number other than -1; a read size
  // outside 1 ... 256 becomes 32, a scale outside 1 ... 4 becomes 1. A missing file leaves the
  // defaults; so does one that is not read, and load() says why on stderr.
  Settings load() const;
  ViewSettings loadView() const;
  // A serial number is the text after '=', blanks around it dropped.
  DeviceSettings loadDevice() const;
  // Writes the four values into the file, creating it and its folder when needed, and the
  // section "view" after the others when it is missing. A symbolic link stays, and the file it
  // names is written. The new file replaces the old one only once it is written whole and on
  // the disk. False, with the reason on stderr, when nothing was written: the old file is left
  // as it was, also when it is not read (its other contents would be lost).
  // Given `device`, its section is written too, unless it holds the defaults and the file has
  // no such section.
  bool save(const Settings& settings, const ViewSettings& view,
            const DeviceSettings* device = nullptr) const;

  const QString& path() const { return path_; }

 private:
  QString path_;
};
