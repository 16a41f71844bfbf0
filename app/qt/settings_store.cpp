#include "settings_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "recording_link.h"

namespace {

constexpr char kFileName[] = "KESTRAVU.ini";
constexpr char kFolderName[] = "kestravu";

// This viewer's own section, after the Windows program's keys.
constexpr char kViewSection[] = "view";
constexpr SettingsKey<ViewSettings> kViewKeys[] = {{"scale", &ViewSettings::scale}};
constexpr char kDeviceSection[] = "device";
constexpr SettingsKey<DeviceSettings> kDeviceKeys[] = {{"wait", &DeviceSettings::wait}};
constexpr char kSerialKey[] = "serial";

// One line of the file with its own line end, so that a rewrite keeps CRLF and LF as found.
struct Line {
  QByteArray text;
  QByteArray end;
};

std::vector<Line> splitLines(const QByteArray& content) {
  std::vector<Line> lines;
  qsizetype start = 0;
  while (start < content.size()) {
    qsizetype newline = content.indexOf('\n', start);
    if (newline < 0) {
      lines.push_back({content.mid(start), {}});
      break;
    }
    qsizetype textEnd = newline > start && content[newline - 1] == '\r' ? newline - 1 : newline;
    lines.push_back(
        {content.mid(start, textEnd - start), content.mid(textEnd, newline + 1 - textEnd)});
    start = newline + 1;
  }
  return lines;
}

// The name in a "[name]" line; a UTF-8 byte order mark, as some Windows editors write, is skipped.
std::optional<QByteArray> sectionName(QByteArray text) {
  if (text.startsWith("\xEF\xBB\xBF")) text.remove(0, 3);
  text = text.trimmed();
  if (!text.startsWith('[')) return std::nullopt;
  qsizetype close = text.indexOf(']');
  return text.mid(1, close < 0 ? -1 : close - 1).trimmed();
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

bool sameName(const QByteArray& a, const char* b) { return qstricmp(a.constData(), b) == 0; }

// The lines of the first section named `section`: [first, last).
struct SectionRange {
  size_t first, last;
};

std::optional<SectionRange> findSection(const std::vector<Line>& lines, const char* section) {
  for (size_t i = 0; i < lines.size(); ++i) {
    std::optional<QByteArray> name = sectionName(lines[i].text);
    if (!name || !sameName(*name, section)) continue;
    size_t last = i + 1;
    while (last < lines.size() && !sectionName(lines[last].text)) ++last;
    return SectionRange{i + 1, last};
  }
  return std::nullopt;
}

// The first line of the section that holds `key`, or `range.last`.
size_t findKey(const std::vector<Line>& lines, const SectionRange& range, const char* key) {
  for (size_t i = range.first; i < range.last; ++i) {
    qsizetype equals = lines[i].text.indexOf('=');
    if (equals >= 0 && sameName(lines[i].text.left(equals).trimmed(), key)) return i;
  }
  return range.last;
}

QByteArray keyLine(const char* key, const QByteArray& value) { return QByteArray(key) + '=' + value; }

// Replaces the value after the '=' and keeps the blanks around it, as a user may have spaced it.
void replaceValue(QByteArray& text, const QByteArray& value) {
  qsizetype start = text.indexOf('=') + 1, end = text.size();
  while (start < end && isBlank(text[start])) ++start;
  while (end > start && isBlank(text[end - 1])) --end;
  text.replace(start, end - start, value);
}

// Each of `keys` that holds a number other than -1 in `section` sets its value in `record`.
template <typename Record, size_t kKeyCount>
void readValues(const std::vector<Line>& lines, const char* section,
                const SettingsKey<Record> (&keys)[kKeyCount], Record& record) {
  std::optional<SectionRange> range = findSection(lines, section);
  if (!range) return;
  for (const SettingsKey<Record>& key : keys) {
    size_t at = findKey(lines, *range, key.name);
    if (at == range->last) continue;
    const QByteArray& text = lines[at].text;
    int32_t value = parseNumber(text.mid(text.indexOf('=') + 1).constData());
    if (value != kMissingSettingValue) record.*key.value = value;
  }
}

// The text after the '=' of `key` in `section`, blanks around it dropped; none when missing.
std::optional<QByteArray> readText(const std::vector<Line>& lines, const char* section,
                                   const char* key) {
  std::optional<SectionRange> range = findSection(lines, section);
  if (!range) return std::nullopt;
  size_t at = findKey(lines, *range, key);
  if (at == range->last) return std::nullopt;
  const QByteArray& text = lines[at].text;
  return text.mid(text.indexOf('=') + 1).trimmed();
}

struct KeyValue {
  const char* key;
  QByteArray value;
};

// Sets each key's value where it stands, and adds the missing keys after the section's last
// line that is not blank, so that blank lines before the next section stay where they are. A
// missing section is added at the end.
void writeKeys(std::vector<Line>& lines, const char* section, const std::vector<KeyValue>& values,
               const QByteArray& lineEnd) {
  std::optional<SectionRange> range = findSection(lines, section);
  if (!range) {
    if (!lines.empty() && lines.back().end.isEmpty()) lines.back().end = lineEnd;
    lines.push_back({QByteArray("[") + section + ']', lineEnd});
    range = SectionRange{lines.size(), lines.size()};
  }
  size_t insertAt = range->first;
  for (size_t i = range->first; i < range->last; ++i)
    if (!lines[i].text.trimmed().isEmpty()) insertAt = i + 1;
  for (const KeyValue& entry : values) {
    size_t at = findKey(lines, *range, entry.key);
    if (at != range->last) {
      replaceValue(lines[at].text, entry.value);
      continue;
    }
    if (insertAt > 0 && lines[insertAt - 1].end.isEmpty()) lines[insertAt - 1].end = lineEnd;
    lines.insert(lines.begin() + static_cast<long>(insertAt),
                 Line{keyLine(entry.key, entry.value), lineEnd});
    ++insertAt;
    ++range->last;
  }
}

template <typename Record, size_t kKeyCount>
std::vector<KeyValue> numberValues(const SettingsKey<Record> (&keys)[kKeyCount],
                                   const Record& record) {
  std::vector<KeyValue> values;
  for (const SettingsKey<Record>& key : keys)
    values.push_back({key.name, QByteArray::number(record.*key.value)});
  return values;
}

template <typename Record, size_t kKeyCount>
void writeValues(std::vector<Line>& lines, const char* section,
                 const SettingsKey<Record> (&keys)[kKeyCount], const Record& record,
                 const QByteArray& lineEnd) {
  writeKeys(lines, section, numberValues(keys, record), lineEnd);
}

// A serial number goes on one line: a line end in it would start a key of its own.
QByteArray serialText(const QString& serial) {
  QByteArray text = serial.toUtf8();
  text.replace('\r', ' ').replace('\n', ' ');
  return text.trimmed();
}

constexpr qint64 kMaxFileBytes = SettingsStore::kMaxFileBytes;

void warn(const QString& text) { std::fprintf(stderr, "kestravu: %s\n", qPrintable(text)); }

QString systemError(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

// Fills `buffer` from the file, up to its end: the count, or -1 with the reason in `problem`.
qint64 readInto(int descriptor, QByteArray& buffer, QString& problem) {
  qint64 size = 0;
  while (size < buffer.size()) {
    const ssize_t part = ::read(descriptor, buffer.data() + size, buffer.size() - size);
    if (part == 0) break;
    if (part > 0) {
      size += part;
    } else if (errno != EINTR) {
      problem = systemError(errno);
      return -1;
    }
  }
  return size;
}

// Reads the file whole into `content`: false, with the reason in `problem`, when there is a
// file that is not read, which must then be left as it is. A missing file is read as empty.
// Opened without waiting, so that a FIFO in its place cannot hold the program.
bool readFile(const QString& path, QByteArray& content, QString& problem) {
  content.clear();
  const QByteArray name = QFile::encodeName(path);
  struct stat status = {};
  if (::stat(name.constData(), &status) == 0 && !S_ISREG(status.st_mode)) {
    problem = QStringLiteral("not a regular file");  // a device is not even opened
    return false;
  }
  const int descriptor = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (descriptor < 0) {
    const int error = errno;
    problem = systemError(error);
    return error == ENOENT;
  }
  bool read = false;
  if (fstat(descriptor, &status) != 0) {
    problem = systemError(errno);
  } else if (!S_ISREG(status.st_mode)) {
    problem = QStringLiteral("not a regular file");
  } else if (status.st_size > kMaxFileBytes) {
    problem = QStringLiteral("larger than 1 MiB");
  } else {
    content.resize(kMaxFileBytes + 1);  // one byte past the bound shows a file that grew past it
    const qint64 size = readInto(descriptor, content, problem);
    read = size >= 0 && size <= kMaxFileBytes;
    if (size > kMaxFileBytes) problem = QStringLiteral("larger than 1 MiB");
    content.resize(read ? size : 0);
  }
  ::close(descriptor);
  return read;
}

// The file's lines; none when there is no file or it is not read, and then, if `report`, why.
std::vector<Line> readLines(const QString& path, bool report) {
  QByteArray content;
  QString problem;
  if (readFile(path, content, problem)) return splitLines(content);
  if (report)
    warn(QStringLiteral("%1: %2: the default settings are used, and the file is left as it is")
             .arg(path, problem));
  return {};
}

// Where a save writes: the file a symbolic link names, even one that does not exist yet.
QString savedPath(const QString& path) {
  const QFileInfo info(path);
  if (info.exists()) return info.canonicalFilePath();
  return info.isSymLink() ? info.symLinkTarget() : path;
}

// Writes `content` into a new file beside `path` and renames it over `path` once it is
// written whole and on the disk; on any failure `path` is left as it was and the new file is
// removed. The errno of the failure, or 0.
int replaceFile(const QString& path, const QByteArray& content) {
  const QByteArray target = QFile::encodeName(path);
  struct stat old = {};
  const bool existed = ::stat(target.constData(), &old) == 0;
  if (existed && ::access(target.constData(), W_OK) != 0) return errno;
  QByteArray temporary;
  int descriptor = -1;
  for (int attempt = 0; attempt < 100 && descriptor < 0; ++attempt) {
    temporary = target + '.' + QByteArray::number(QRandomGenerator::global()->generate(), 36);
    descriptor = ::open(temporary.constData(),
                        O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (descriptor < 0 && errno != EEXIST) return errno;
  }
  if (descriptor < 0) return EEXIST;
  int error = FileDescriptorSink(descriptor).write(
      reinterpret_cast<const uint8_t*>(content.constData()), uint32_t(content.size()));
  // The old file's permissions are kept where the file system has them (vfat has none).
  if (existed) ::fchmod(descriptor, old.st_mode & 07777);
  if (error == 0 && ::fsync(descriptor) != 0) error = errno;
  if (::close(descriptor) != 0 && error == 0) error = errno;
  if (error == 0 && ::rename(temporary.constData(), target.constData()) != 0) error = errno;
  if (error != 0) ::unlink(temporary.constData());
  return error;
}

}  // namespace

QString SettingsStore::defaultPath() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + '/' +
         QLatin1String(kFolderName) + '/' + QLatin1String(kFileName);
}

Settings SettingsStore::load() const {
  Settings settings;
  readValues(readLines(path_, true), kSettingsSection, kSettingsKeys, settings);
  settings.bufsize = sanitizedReadSize(settings.bufsize);
  return settings;
}

ViewSettings SettingsStore::loadView() const {
  ViewSettings view;
  readValues(readLines(path_, false), kViewSection, kViewKeys, view);
  if (view.scale < 1 || view.scale > ViewSettings::kMaxScale) view.scale = ViewSettings{}.scale;
  return view;
}

DeviceSettings SettingsStore::loadDevice() const {
  DeviceSettings device;
  const std::vector<Line> lines = readLines(path_, false);
  readValues(lines, kDeviceSection, kDeviceKeys, device);
  if (std::optional<QByteArray> serial = readText(lines, kDeviceSection, kSerialKey))
    device.serial = QString::fromUtf8(*serial);
  return device;
}

bool SettingsStore::save(const Settings& settings, const ViewSettings& view,
                         const DeviceSettings* device) const {
  QByteArray content;
  QString problem;
  if (!readFile(path_, content, problem)) {
    warn(QStringLiteral("%1: %2: the settings are not saved").arg(path_, problem));
    return false;
  }
  std::vector<Line> lines = splitLines(content);
  QByteArray lineEnd = "\n";
  for (const Line& line : lines)
    if (!line.end.isEmpty()) {
      lineEnd = line.end;
      break;
    }
  writeValues(lines, kSettingsSection, kSettingsKeys, settings, lineEnd);
  writeValues(lines, kViewSection, kViewKeys, view, lineEnd);
  if (device != nullptr && (!(*device == DeviceSettings{}) || findSection(lines, kDeviceSection))) {
    std::vector<KeyValue> values = numberValues(kDeviceKeys, *device);
    values.push_back({kSerialKey, serialText(device->serial)});
    writeKeys(lines, kDeviceSection, values, lineEnd);
  }
  content.clear();
  for (const Line& line : lines) content += line.text + line.end;

  const QString target = savedPath(path_);
  const QString folder = QFileInfo(target).absolutePath();
  if (target == path_ && !QDir().mkpath(folder)) {
    warn(QStringLiteral("%1: the folder cannot be created: the settings are not saved")
             .arg(folder));
    return false;
  }
  if (const int error = replaceFile(target, content)) {
    warn(QStringLiteral("%1: %2: the settings are not saved, the file is left as it was")
             .arg(target, systemError(error)));
    return false;
  }
  return true;
}
