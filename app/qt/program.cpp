#include "program.h"

#include <QApplication>
#include <QLocale>
#include <QMessageBox>

#include "main_window.h"
#include "settings_store.h"
#include "viewer.h"

namespace {

// Start-up failures are reported in Japanese, as by the Windows program; elsewhere an English
// line follows for users who do not read it.
struct StartupFailure {
  const char* japanese;
  const char* english;
};
constexpr StartupFailure kDeviceFailed = {"USB の初期化に失敗しました",
                                          "Could not open the USB capture device."};
constexpr StartupFailure kMemoryFailed = {"メモリの確保に失敗しました",
                                          "Could not allocate memory for the picture."};
constexpr char kErrorCaption[] = "エラー";

int showStartupFailure(const StartupFailure& failure) {
  QString text = QString::fromUtf8(failure.japanese);
  if (QLocale().language() != QLocale::Japanese) text += '\n' + QString::fromUtf8(failure.english);
  QMessageBox::critical(nullptr, QString::fromUtf8(kErrorCaption), text);
  return kExitStartupFailed;
}

}  // namespace

int runViewer(DeviceLink& link, Clock& clock, const QString& settingsPath) {
  const SettingsStore store(settingsPath);
  Settings settings = store.load();
  Viewer viewer(link, clock);
  if (viewer.openDevice(settings.bufsize) != OpenResult::Opened)
    return showStartupFailure(kDeviceFailed);
  if (!viewer.allocateBuffers()) return showStartupFailure(kMemoryFailed);

  MainWindow window(viewer, settings);
  // Quit and the close button end the loop by closing the last window; a failed device ends it
  // here, quietly, also while the dialog is open.
  QObject::connect(&window, &MainWindow::deviceFailed, qApp,
                   [] { QCoreApplication::exit(kExitNormal); });
  window.show();
  QApplication::exec();

  viewer.closeDevice();
  store.save(settings);
  return kExitNormal;
}
