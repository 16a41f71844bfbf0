#include "program.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QLocale>
#include <QMessageBox>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <memory>

#include "main_window.h"
#include "settings_store.h"
#include "viewer_controller.h"

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

constexpr StartupFailure kStreamFileFailed = {"ストリームファイルを再生できません",
                                              "Cannot play the stream file."};
constexpr StartupFailure kRecordingFailed = {"ストリームを記録できません",
                                             "Cannot record the stream."};

int showStartupFailure(const StartupFailure& failure, const QString& detail = QString()) {
  QString text = QString::fromUtf8(failure.japanese);
  if (QLocale().language() != QLocale::Japanese) text += '\n' + QString::fromUtf8(failure.english);
  if (!detail.isEmpty()) text += '\n' + detail;
  QMessageBox::critical(nullptr, QString::fromUtf8(kErrorCaption), text);
  return kExitStartupFailed;
}

// Ending by a signal (Ctrl+C in a terminal, a logout, kill) takes the normal way out, so that a
// recording is written out whole and the settings are saved. A handler may only write to a
// pipe, which the event loop reads; the pipe is the process's, made once.
int signalPipe[2] = {-1, -1};
constexpr int kEndSignals[] = {SIGINT, SIGTERM, SIGHUP};

// `write` may set errno under the code the signal interrupted, which may be about to read it.
void onEndSignal(int) {
  const int savedErrno = errno;
  const char byte = 0;
  [[maybe_unused]] ssize_t written = write(signalPipe[1], &byte, 1);
  errno = savedErrno;
}

// While it exists, the signals end the event loop; then they have their default effect again.
// Without a pipe they keep it throughout.
class EndOnSignals {
 public:
  EndOnSignals() {
    if (signalPipe[0] < 0 && socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0)
      return;
    notifier_ = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, qApp, [] {
      char byte = 0;
      [[maybe_unused]] ssize_t got = read(signalPipe[0], &byte, 1);
      QCoreApplication::exit(kExitNormal);
    });
    setHandler(onEndSignal);
  }
  ~EndOnSignals() {
    if (notifier_ != nullptr) setHandler(SIG_DFL);
  }

 private:
  static void setHandler(void (*handler)(int)) {
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : kEndSignals) sigaction(signal, &action, nullptr);
  }

  std::unique_ptr<QSocketNotifier> notifier_;
};

// The settings as the options change them for this run alone.
DeviceSettings deviceChoice(DeviceSettings device, const RunOptions& options) {
  if (options.wait) device.wait = 1;
  if (!options.serial.isNull()) device.serial = options.serial;
  return device;
}

// What the menu changed during the run is remembered; what an option set is not.
void rememberDeviceChoice(const ViewerController& controller, const DeviceSettings& atStart,
                          DeviceSettings& stored) {
  if (controller.waitsForDevice() != (atStart.wait != 0)) stored.wait = controller.waitsForDevice() ? 1 : 0;
  if (controller.chosenDevice() != atStart.serial) stored.serial = controller.chosenDevice();
}

}  // namespace

int runViewer(LinuxLink& device, Clock& clock, const RunOptions& options) {
  const SettingsStore store(options.settingsPath);
  Settings settings = store.load();
  ViewSettings view = store.loadView();
  DeviceSettings storedDevice = store.loadDevice();
  const DeviceSettings choice = deviceChoice(storedDevice, options);
  ViewerController controller(device, clock, settings);
  controller.watchDevices(device, choice.serial);
  controller.setWaitForDevice(choice.wait != 0);
  // Given a stream file, the program needs no device.
  const bool playsFile = !options.streamFile.isEmpty();
  if (!playsFile && controller.openDevice() != OpenResult::Opened) {
    if (!controller.waitsForDevice()) return showStartupFailure(kDeviceFailed);
    controller.waitForDevice();
  }
  if (!controller.allocateBuffers()) return showStartupFailure(kMemoryFailed);

  MainWindow window({controller, settings, view}, options.folders);
  QString error;
  if (playsFile && !window.openStream(options.streamFile, error))
    return showStartupFailure(kStreamFileFailed, error);
  if (!options.recordFile.isNull() && !window.recordTo(options.recordFile, error))
    return showStartupFailure(kRecordingFailed, error);
  // Quit and the close button end the loop by closing the last window; a failed device ends it
  // here, quietly, also while the dialog is open.
  QObject::connect(&controller, &ViewerController::deviceFailed, qApp,
                   [] { QCoreApplication::exit(kExitNormal); });
  const EndOnSignals endOnSignals;
  window.show();
  controller.start();
  QApplication::exec();

  if (!controller.shutDown()) qWarning("kestravu: %s", qPrintable(window.recordingFailure()));
  rememberDeviceChoice(controller, choice, storedDevice);
  store.save(settings, view, &storedDevice);
  return kExitNormal;
}
