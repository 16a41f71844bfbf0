// The settings file: $XDG_CONFIG_HOME/kestravu/KESTRAVU.ini (~/.config/kestravu/ by default),
// section "section", keys "wide", "scr4" and "bufsize" with decimal values. A file copied from
// the Windows program must work as it is, so sections and keys are matched without regard to
// case, CRLF line ends are kept, and a save changes only the three values: every other byte,
// comments and foreign sections included, stays as it was.
#pragma once
#include <QString>

#include "settings.h"

class SettingsStore {
 public:
  explicit SettingsStore(QString path) : path_(std::move(path)) {}

  // Where the program keeps its settings.
  static QString defaultPath();

  // The built-in defaults, replaced by each key that holds a number other than -1; a read size
  // outside 1 ... 256 becomes 32. A missing or unreadable file leaves the defaults.
  Settings load() const;
  // Writes the three values into the file, creating it and its folder when needed; the old file
  // stays whole until the new one is complete. False when nothing could be written, also when
  // an existing file cannot be read (its other contents would be lost).
  bool save(const Settings& settings) const;

  const QString& path() const { return path_; }

 private:
  QString path_;
};
