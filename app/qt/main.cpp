// kestravu: the viewer's entry point. It reads --version, --help, --record, --wait, --serial
// and a stream file to play from the command line (and Qt's own options, such as -platform);
// the device and the settings file are found alone.
#include <QApplication>
#include <QCommandLineParser>
#include <cstdio>

#include "clock.h"
#include "linux_link.h"
#include "program.h"
#include "settings_store.h"

namespace {

QStringList commandLine(int argc, char** argv) {
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  return arguments;
}

// The program's own options, beside --help and --version.
struct ViewerOptions {
  QCommandLineOption record{
      QStringLiteral("record"),
      QStringLiteral("Records the device's stream into FILE from the start, as File > Record "
                     "Stream does (FILE is replaced if it exists, unless another recording is "
                     "writing it)."),
      QStringLiteral("FILE")};
  QCommandLineOption wait{
      QStringLiteral("wait"),
      QStringLiteral("Waits for the device: the window opens without it, stays when it is "
                     "unplugged or falls silent, and takes it again when it comes back, as "
                     "Device > Wait for the Device does.")};
  QCommandLineOption serial{
      QStringLiteral("serial"),
      QStringLiteral("Opens only the KESTRAVU device with this USB serial number, as a choice "
                     "in the Device menu does."),
      QStringLiteral("SERIAL")};
};

void describeOptions(QCommandLineParser& parser, const ViewerOptions& options) {
  parser.setApplicationDescription(
      QStringLiteral("Shows the live picture of the KESTRAVU USB capture device.\nSettings: ") +
      SettingsStore::defaultPath());
  parser.addHelpOption();
  parser.addVersionOption();
  parser.addPositionalArgument(
      QStringLiteral("FILE"),
      QStringLiteral("A recorded stream (.kvs) to play instead of the device, which is then not "
                     "needed."),
      QStringLiteral("[FILE]"));
  parser.addOptions({options.record, options.wait, options.serial});
}

// What the parsed command line asks for; false, with a line on stderr, when it cannot be run.
bool takeOptions(const QCommandLineParser& parser, const ViewerOptions& options, RunOptions& run) {
  const QStringList files = parser.positionalArguments();
  if (files.size() > 1) {
    std::fputs("kestravu: one stream file at most\n", stderr);
    return false;
  }
  run.streamFile = files.value(0);
  // A recording holds the device's stream alone.
  if (!files.isEmpty() && parser.isSet(options.record)) {
    std::fputs("kestravu: --record records the device, not a stream file that plays\n", stderr);
    return false;
  }
  // Given, even empty, it is not null: an empty name is refused, not taken as none.
  if (parser.isSet(options.record)) {
    run.recordFile = parser.value(options.record);
    if (run.recordFile.isNull()) run.recordFile = QStringLiteral("");
  }
  run.wait = parser.isSet(options.wait);
  if (!parser.isSet(options.serial)) return true;
  run.serial = parser.value(options.serial);
  if (!run.serial.isEmpty()) return true;
  std::fputs("kestravu: --serial needs a serial number\n", stderr);
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication::setApplicationName(QStringLiteral("kestravu"));
  QCoreApplication::setApplicationVersion(QStringLiteral(KESTRAVU_VERSION));
  QCommandLineParser parser;
  const ViewerOptions options;
  describeOptions(parser, options);
  // Looked at before the application exists, so that they work without a display.
  parser.parse(commandLine(argc, argv));
  if (parser.isSet(QStringLiteral("version"))) parser.showVersion();
  if (parser.isSet(QStringLiteral("help"))) {
    const QCoreApplication withoutDisplay(argc, argv);  // names the program in the usage line
    parser.showHelp(kExitNormal);
  }

  QApplication application(argc, argv);
  parser.process(application);  // Qt's own options are gone by now; any other is an error
  RunOptions run{SettingsStore::defaultPath(), OutputFolders::standard(), QString(), QString(),
                 false, QString()};
  if (!takeOptions(parser, options, run)) return kExitStartupFailed;
  SteadyClock clock;
  std::unique_ptr<LinuxLink> link = makeLinuxLink(clock);
  return runViewer(*link, clock, run);
}
