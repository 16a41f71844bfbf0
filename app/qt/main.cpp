// kestravu: the viewer's entry point. It reads only --version and --help from the command line
// (and Qt's own options, such as -platform); the device and the settings file are found alone.
#include <QApplication>
#include <QCommandLineParser>

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

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication::setApplicationName(QStringLiteral("kestravu"));
  QCoreApplication::setApplicationVersion(QStringLiteral(KESTRAVU_VERSION));
  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("Shows the live picture of the KESTRAVU USB capture device.\nSettings: ") +
      SettingsStore::defaultPath());
  parser.addHelpOption();
  parser.addVersionOption();
  // Looked at before the application exists, so that they work without a display.
  parser.parse(commandLine(argc, argv));
  if (parser.isSet(QStringLiteral("version"))) parser.showVersion();
  if (parser.isSet(QStringLiteral("help"))) {
    const QCoreApplication withoutDisplay(argc, argv);  // names the program in the usage line
    parser.showHelp(kExitNormal);
  }

  QApplication application(argc, argv);
  parser.process(application);  // Qt's own options are gone by now; any other is an error
  SteadyClock clock;
  std::unique_ptr<DeviceLink> link = makeLinuxLink(clock);
  return runViewer(*link, clock, SettingsStore::defaultPath());
}
