#include "settings_store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <optional>
#include <vector>

namespace {

constexpr char kFileName[] = "KESTRAVU.ini";
constexpr char kFolderName[] = "kestravu";

// This viewer's own section, after the Windows program's keys.
constexpr char kViewSection[] = "view";
constexpr SettingsKey<ViewSettings> kViewKeys[] = {{"scale", &ViewSettings::scale}};

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

QByteArray keyLine(const char* key, int32_t value) {
  return QByteArray(key) + '=' + QByteArray::number(value);
}

// Replaces the value after the '=' and keeps the blanks around it, as a user may have spaced it.
void replaceValue(QByteArray& text, int32_t value) {
  qsizetype start = text.indexOf('=') + 1, end = text.size();
  while (start < end && isBlank(text[start])) ++start;
  while (end > start && isBlank(text[end - 1])) --end;
  text.replace(start, end - start, QByteArray::number(value));
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

// Sets each key's value where it stands, and adds the missing keys after the section's last
// line that is not blank, so that blank lines before the next section stay where they are. A
// missing section is added at the end.
template <typename Record, size_t kKeyCount>
void writeValues(std::vector<Line>& lines, const char* section,
                 const SettingsKey<Record> (&keys)[kKeyCount], const Record& record,
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
  for (const SettingsKey<Record>& key : keys) {
    const int32_t value = record.*key.value;
    size_t at = findKey(lines, *range, key.name);
    if (at != range->last) {
      replaceValue(lines[at].text, value);
      continue;
    }
    if (insertAt > 0 && lines[insertAt - 1].end.isEmpty()) lines[insertAt - 1].end = lineEnd;
    lines.insert(lines.begin() + static_cast<long>(insertAt),
                 Line{keyLine(key.name, value), lineEnd});
    ++insertAt, ++range->last;
  }
}

// The file's lines; none when it is missing or unreadable.
std::vector<Line> readLines(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? splitLines(file.readAll()) : std::vector<Line>();
}

}  // namespace

QString SettingsStore::defaultPath() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + '/' +
         QLatin1String(kFolderName) + '/' + QLatin1String(kFileName);
}

Settings SettingsStore::load() const {
  Settings settings;
  readValues(readLines(path_), kSettingsSection, kSettingsKeys, settings);
  settings.bufsize = sanitizedReadSize(settings.bufsize);
  return settings;
}

ViewSettings SettingsStore::loadView() const {
  ViewSettings view;
  readValues(readLines(path_), kViewSection, kViewKeys, view);
  if (view.scale < 1 || view.scale > ViewSettings::kMaxScale) view.scale = ViewSettings{}.scale;
  return view;
}

bool SettingsStore::save(const Settings& settings, const ViewSettings& view) const {
  QByteArray content;
  QFile existing(path_);
  if (existing.exists()) {
    if (!existing.open(QIODevice::ReadOnly)) return false;
    content = existing.readAll();
    existing.close();
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

  if (!QDir().mkpath(QFileInfo(path_).absolutePath())) return false;
  QSaveFile file(path_);
  if (!file.open(QIODevice::WriteOnly)) return false;
  for (const Line& line : lines) file.write(line.text + line.end);
  return file.commit();
}
