// The native viewer on the offscreen platform, over the simulated device. The device reads its
// set-up once per process, so ctest runs each function (or data row) in a process of its own.
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryFile>
#include <QThread>
#include <QTest>
#include <QTimer>
#include <cmath>
#include <csignal>

#include "buffer_size_dialog.h"
#include "frame_format.h"
#include "harness.h"
#include "linux_link.h"
#include "picture_view.h"
#include "program.h"
#include "settings_store.h"
#include "stream_file_player.h"

using namespace Harness;

namespace {

constexpr int kFrameWaitMs = 3000;

QByteArray readFile(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& content) {
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly));
  file.write(content);
}

int runProgram(const QString& settingsPath, const QString& streamFile = QString(),
               const QString& recordFile = QString()) {
  SteadyClock clock;
  std::unique_ptr<LinuxLink> link = makeLinuxLink(clock);
  return runViewer(*link, clock,
                   {settingsPath, foldersIn(QFileInfo(settingsPath).absolutePath()), streamFile,
                    recordFile, false, QString()});
}

// The newest warning or note the window shows beside the picture, if one is shown.
QMessageBox* shownWarning(QWidget* window) {
  QMessageBox* newest = nullptr;
  for (QMessageBox* box : window->findChildren<QMessageBox*>(Qt::FindDirectChildrenOnly))
    if (box->isVisible()) newest = box;
  return newest;
}

const QByteArray kNewFile = "[section]\nwide=0\nscr4=0\nbufsize=32\n[view]\nscale=1\n";

// The log of driver calls since `from` lines, the simulated device's KESTRAVU_SIM_LOG.
QStringList logLines(const QString& log, int from = 0) {
  return QString::fromLatin1(readFile(log)).split('\n', Qt::SkipEmptyParts).mid(from);
}

// The most this process has had resident so far, in KiB (VmHWM in /proc/self/status).
long peakResidentKib() {
  const QByteArray status = readFile(QStringLiteral("/proc/self/status"));
  const qsizetype at = status.indexOf("VmHWM:");
  return at < 0 ? -1 : status.mid(at + 6, status.indexOf('\n', at) - at - 6).trimmed().split(' ')[0].toLong();
}

// A settings file as the Windows program's users have them: CRLF, other sections, keys in
// another case, a comment, and values the INI reader of a library would rewrite.
const QByteArray kWindowsFile =
    "; KESTRAVU\r\n[Other "
    "Tool]\r\npath=C:\\Tools\\new\\x\r\nlist=a,b\r\n\r\n[Section]\r\nWIDE=0\r\n"
    "Scr4 = 1 \r\nBUFSIZE=64\r\n\r\n[zz]\r\nwide=7\r\n";

// What `run` writes on the process's stderr.
QByteArray stderrOf(const std::function<void()>& run) {
  QTemporaryFile capture;
  if (!capture.open()) return "(stderr not captured)";
  std::fflush(stderr);
  const int saved = dup(STDERR_FILENO);
  dup2(capture.handle(), STDERR_FILENO);
  run();
  std::fflush(stderr);
  dup2(saved, STDERR_FILENO);
  close(saved);
  return readFile(capture.fileName());
}

// A tmpfs of `bytes` at `path`, a folder made for it, while this exists; mounted() is false
// where this process may not mount.
class SmallDisk {
 public:
  SmallDisk(const QString& path, int bytes) : path_(QFile::encodeName(path)) {
    const QByteArray options = "size=" + QByteArray::number(bytes);
    mounted_ = QDir().mkpath(path) &&
               mount("tmpfs", path_.constData(), "tmpfs", 0, options.constData()) == 0;
  }
  ~SmallDisk() {
    if (mounted_) umount2(path_.constData(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }
  // Writes a file until the disk is full.
  void fill() const {
    QFile filler(QFile::decodeName(path_) + "/filler");
    if (!filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) return;
    const QByteArray block(4096, 'x');
    while (filler.write(block) > 0) {
    }
  }
  bool makeReadOnly() const {
    return mount(nullptr, path_.constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
  }

 private:
  QByteArray path_;
  bool mounted_ = false;
};

}  // namespace

class ViewerTests : public QObject {
  Q_OBJECT

 private slots:
  void picture();
  void title_data();
  void title();
  void dialog();
  void deviceAbsent();
  void deviceStops();
  void deviceUnplugged();
  void waitForDevice();
  void quitKeepsOtherSettings();
  void settingsFile();
  void record_data();
  void record();
  void recordingFailures();
  void openStream();
  void streamFileWithoutDevice();
  void longRecording();

  // Files on a full or read-only disk, and files that are not what they seem.
  void fullDisk();
  void oddSettingsFiles();
  void recordingFileSafety();

 private:
  QTemporaryDir scratch_;
};

// One key frame over and over: whenever it is painted, the picture is that frame, drawn in the
// current mode, which the menu switches through all four, at each window scale and full
// screen; Save Picture writes it as the stream tool decodes it. Also run with QT_SCALE_FACTOR
// set, where the picture must stay whole device pixels and fill the view.
void ViewerTests::picture() {
  const QString stream = patternStream(scratch_.path(), 1);
  setUpDevice("STREAM", stream.toLocal8Bit());
  setUpDevice("LOOP", "1");
  RunningViewer run;
  run.folders = foldersIn(scratch_.path());
  QVERIFY(run.start());
  MainWindow& window = *run.window;
  QWidget* view = window.centralWidget();
  const QSize normalWindow = window.size();
  const qreal ratio = view->devicePixelRatioF();
  auto scaleInUse = [&] {
    for (int scale = 1; scale <= ViewSettings::kMaxScale; ++scale)
      if (action(&window, QStringLiteral("Scale &%1×").arg(scale))->isChecked()) return scale;
    return 0;
  };
  // The chosen scale, or the largest whole one below it whose window fits the screen; the view
  // is the whole multiple of the picture in device pixels nearest to the scale, or one more
  // where no logical size gives that exactly, and the picture fills it.
  auto expectPicture = [&](PictureMode mode, int chosen) {
    const QImage reference = referencePicture(stream, scratch_.path(), mode, 0);
    const QSize available = window.screen()->availableGeometry().size();
    const int used = scaleInUse();
    QVERIFY2(used >= 1 && used <= chosen, qPrintable(QString::number(used)));
    QCOMPARE(run.view.scale, chosen);
    QCOMPARE(view->geometry().top(), window.menuBar()->geometry().bottom() + 1);
    QTRY_COMPARE(window.size(), QSize(view->width(), window.menuBar()->height() + view->height()));
    QVERIFY(window.width() <= available.width() && window.height() <= available.height());
    const QSize larger = static_cast<PictureView*>(view)->windowSize(used + 1);
    QVERIFY(used == chosen || larger.width() > available.width() ||
            larger.height() + window.menuBar()->height() > available.height());
    const QSize grabbed = view->grab().size();
    const int shownScale = grabbed.width() / reference.width();
    const QSize wanted = reference.size() * shownScale;
    QVERIFY2(std::abs(shownScale - used * ratio) <= 0.5 && grabbed.width() - wanted.width() <= 1 &&
                 grabbed.height() - wanted.height() <= 1 && grabbed.height() >= wanted.height(),
             qPrintable(QStringLiteral("%1x%2").arg(grabbed.width()).arg(grabbed.height())));
    if (ratio == 1.5 && used == 1 && !mode.wide) QCOMPARE(grabbed, QSize(852, 524));
    QTRY_COMPARE_WITH_TIMEOUT(differingPixels(view->grab().toImage(), reference), 0, kFrameWaitMs);
    // In the window too, below the menu bar: not a device pixel off, not under its last row.
    const QRect inWindow(QPoint(0, qRound(view->y() * ratio)), grabbed);
    QCOMPARE(differingPixels(window.grab().toImage().copy(inWindow), reference), 0);
    action(&window, "&Save Picture")->trigger();
    const QString saved = onlyFile(run.folders.pictures);
    QVERIFY(
        QFileInfo(saved).fileName().contains(QRegularExpression("^kestravu-\\d{8}-\\d{6}\\.png$")));
    QCOMPARE(QImage(saved).size(), reference.size());
    QCOMPARE(differingPixels(QImage(saved), reference), 0);
    QVERIFY(QFile::remove(saved));
  };
  auto setScale = [&](int scale) {
    action(&window, QStringLiteral("Scale &%1×").arg(scale))->trigger();
  };
  // Saved at once, before the next frame is decoded: no cell is left in the old mode.
  auto switchMode = [&](const char* command, PictureMode mode) {
    action(&window, command)->trigger();
    action(&window, "&Save Picture")->trigger();
    const QString saved = onlyFile(run.folders.pictures);
    QCOMPARE(differingPixels(QImage(saved), referencePicture(stream, scratch_.path(), mode, 0)), 0);
    QVERIFY(QFile::remove(saved));
  };

  expectPicture({false, false}, 1);
  switchMode("&Screen4", {false, true});
  QVERIFY(action(&window, "&Screen4")->isChecked());
  expectPicture({false, true}, 1);
  switchMode("&Wide", {true, true});
  QVERIFY(action(&window, "&Wide")->isChecked());
  expectPicture({true, true}, 1);
  switchMode("&Screen4", {true, false});
  expectPicture({true, false}, 1);
  setScale(2);
  expectPicture({true, false}, 2);
  setScale(3);  // wider than the screen
  QVERIFY(scaleInUse() < 3);
  expectPicture({true, false}, 3);
  switchMode("&Wide", {false, false});
  for (int scale : {3, 4}) {
    setScale(scale);
    expectPicture({false, false}, scale);
  }
  QCOMPARE(run.view.scale, 4);

  // Full screen, the largest whole scale that fits, centred on black; Esc leaves it.
  action(&window, "&Fullscreen")->trigger();
  QTRY_VERIFY(window.isFullScreen());
  QTRY_COMPARE(view->size(), window.screen()->size());
  QVERIFY(!window.menuBar()->isVisible());
  for (bool wide : {false, true}) {
    if (wide) action(&window, "&Wide")->trigger();
    const QImage reference = referencePicture(stream, scratch_.path(), {wide, false}, 0);
    QTRY_COMPARE_WITH_TIMEOUT(differingPixels(view->grab().toImage(), reference), 0, kFrameWaitMs);
    if (!wide && qEnvironmentVariable("KESTRAVU_UPDATE_SCREENSHOT") == "1" &&
        !qEnvironmentVariableIsSet("QT_SCALE_FACTOR"))
      QVERIFY(view->grab().save(KESTRAVU_DOCS "/kestravu-fullscreen.png"));
  }
  action(&window, "&Wide")->trigger();
  QTest::keyClick(&window, Qt::Key_Escape);
  QTRY_VERIFY(!window.isFullScreen());
  QVERIFY(!action(&window, "&Fullscreen")->isChecked());
  expectPicture({false, false}, 4);
  setScale(1);
  expectPicture({false, false}, 1);
  QCOMPARE(window.size(), normalWindow);
  QCOMPARE(run.settings.wide, 0);
  QCOMPARE(run.settings.scr4, 0);

  // Two pictures in the same second: the second gets a name of its own.
  action(&window, "&Save Picture")->trigger();
  action(&window, "&Save Picture")->trigger();
  QCOMPARE(QDir(run.folders.pictures).entryList(QDir::Files).size(), 2);
}

void ViewerTests::title_data() {
  QTest::addColumn<int>("frames");
  QTest::newRow("nine") << 9;
  QTest::newRow("ten") << 10;
}

// The stream ends as if unplugged after its last frame, so the run ends at once. Every frame
// has arrived before the loop starts: all are decoded (the title counts them) and one paint
// shows the last.
void ViewerTests::title() {
  QFETCH(int, frames);
  const QString stream = patternStream(scratch_.path(), frames);
  setUpDevice("STREAM", stream.toLocal8Bit());
  setUpDevice("FPS", "0");
  setUpDevice("FAIL_AFTER", QByteArray::number(QFile(stream).size()));
  RunningViewer run;
  run.startsLoop = false;
  QVERIFY(run.start());
  QCOMPARE(run.window->windowTitle(), QStringLiteral("KESTRAVU"));
  QSignalSpy failed(run.controller.get(), &ViewerController::deviceFailed);
  QSignalSpy shown(run.controller.get(), &ViewerController::frameShown);
  run.controller->start();
  QThread::msleep(1000);  // the frames arrive while this thread is held up
  QVERIFY(failed.wait(10000));
  QCOMPARE(shown.count(), 1);
  const QImage last = referencePicture(stream, scratch_.path(), {}, frames - 1);
  QTRY_COMPARE(differingPixels(run.window->centralWidget()->grab().toImage(), last), 0);

  if (frames < 10) {
    QCOMPARE(run.window->windowTitle(), QStringLiteral("KESTRAVU"));
    return;
  }
  const QRegularExpressionMatch title =
      QRegularExpression("^KESTRAVU \\[(\\d+) frames/sec\\] \\[(\\d+) bytes/frame\\]$")
          .match(run.window->windowTitle());
  QVERIFY2(title.hasMatch(), qPrintable(run.window->windowTitle()));
  QVERIFY(title.captured(1).toInt() > 0);
  QCOMPARE(title.captured(2).toLongLong(), QFile(stream).size() / 10);
}

// Frames go on while the dialog is open; only OK closes it, whatever the entry, and only
// 1 ... 256 reopens the device with a new read size. 0, letters and numbers past 256 cannot be
// typed.
void ViewerTests::dialog() {
  const QString log = scratch_.filePath("driver.log");
  setUpDevice("LOG", log.toLocal8Bit());
  RunningViewer run;
  QVERIFY(run.start());
  auto openDialog = [&]() -> BufferSizeDialog* {
    action(run.window.get(), QStringLiteral("USB &Buffer Size…"))->trigger();
    return qobject_cast<BufferSizeDialog*>(QApplication::activeModalWidget());
  };
  auto enter = [](BufferSizeDialog* dialog, const QString& text) {
    auto* entry = dialog->findChild<QLineEdit*>();
    entry->clear();
    QTest::keyClicks(entry, text);
    QTest::keyClick(entry, Qt::Key_Return);
  };

  QPointer<BufferSizeDialog> dialog = openDialog();
  QVERIFY(dialog);
  QVERIFY(QTest::qWaitForWindowExposed(dialog));
  QCOMPARE(dialog->findChild<QLineEdit*>()->text(), QStringLiteral("32"));
  const int readsBefore = logLines(log).size();
  QTest::keyClick(dialog, Qt::Key_Escape);
  QTest::qWait(50);
  QVERIFY2(dialog && dialog->isVisible(), "Esc closed it");
  dialog->close();
  QTest::qWait(50);
  QVERIFY2(dialog && dialog->isVisible(), "the close button closed it");
  QVERIFY2(logLines(log).size() > readsBefore + 5, "no frames while the dialog was open");

  const int linesBefore = logLines(log).size();
  enter(dialog, QStringLiteral("128"));
  QTRY_VERIFY(!dialog);
  QCOMPARE(run.settings.bufsize, 128);
  QTRY_VERIFY(logLines(log, linesBefore)
                  .contains(QStringLiteral("FT_Read handle=2 count=128 -> 0 received=128")));
  const QStringList reopening = logLines(log, linesBefore);
  QVERIFY(reopening.contains(QStringLiteral("FT_Close handle=1 -> 0")));
  QVERIFY(reopening.contains(QStringLiteral("FT_SetUSBParameters handle=2 in=128 out=0 -> 0")));

  for (const QString& refused : {QString(), QStringLiteral("0"), QStringLiteral("abc")}) {
    const int linesBeforeRefused = logLines(log).size();
    dialog = openDialog();
    QVERIFY(dialog);
    auto* entry = dialog->findChild<QLineEdit*>();
    entry->clear();
    QTest::keyClicks(entry, QStringLiteral("0257x"));
    QCOMPARE(entry->text(), QStringLiteral("25"));
    enter(dialog, refused);
    QTRY_VERIFY2(!dialog, qPrintable(refused));
    QTest::qWait(50);
    QCOMPARE(run.settings.bufsize, 128);
    QVERIFY(!logLines(log, linesBeforeRefused).join('\n').contains(QStringLiteral("FT_Close")));
  }
}

// The message box, exit code 1, the settings file untouched; the English line only outside a
// Japanese locale.
void ViewerTests::deviceAbsent() {
  setUpDevice("ABSENT", "1");
  const QString settingsPath = scratch_.filePath("KESTRAVU.ini");
  writeFile(settingsPath, kWindowsFile);
  for (const QLocale& locale : {QLocale(QLocale::English, QLocale::UnitedStates),
                                QLocale(QLocale::Japanese, QLocale::Japan)}) {
    QLocale::setDefault(locale);
    QString caption, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    whenModalShown([&](QWidget* widget) {
      auto* box = qobject_cast<QMessageBox*>(widget);
      if (box == nullptr) return widget->close(), void();
      caption = box->windowTitle(), text = box->text(), icon = box->icon();
      box->accept();
    });
    QCOMPARE(runProgram(settingsPath), kExitStartupFailed);
    QCOMPARE(caption, QStringLiteral("エラー"));
    QCOMPARE(icon, QMessageBox::Critical);
    QString expected = QStringLiteral("USB の初期化に失敗しました");
    if (locale.language() != QLocale::Japanese)
      expected += QStringLiteral("\nCould not open the USB capture device.");
    QCOMPARE(text, expected);
  }
  QCOMPARE(readFile(settingsPath), kWindowsFile);
}

// The stream falls silent: the run ends by itself through the read time-out, quietly, and
// saves the settings into a file and folder that did not exist.
void ViewerTests::deviceStops() {
  setUpDevice("STREAM", patternStream(scratch_.path(), 3).toLocal8Bit());
  const QString settingsPath = scratch_.filePath("config/kestravu/KESTRAVU.ini");
  QElapsedTimer elapsed;
  elapsed.start();
  QCOMPARE(runProgram(settingsPath), kExitNormal);
  QVERIFY2(elapsed.elapsed() >= 3000 && elapsed.elapsed() < 15000,
           qPrintable(QString::number(elapsed.elapsed())));
  QCOMPARE(readFile(settingsPath), kNewFile);
}

void ViewerTests::deviceUnplugged() {
  setUpDevice("FAIL_AFTER", "50000");
  const QString settingsPath = scratch_.filePath("KESTRAVU.ini");
  QElapsedTimer elapsed;
  elapsed.start();
  QCOMPARE(runProgram(settingsPath), kExitNormal);
  QVERIFY2(elapsed.elapsed() < 2500, qPrintable(QString::number(elapsed.elapsed())));
  QCOMPARE(readFile(settingsPath), kNewFile);
}

// Waiting on in the settings file, with a recording: no device at launch, the window says it
// waits; the device comes, fails after a while (unplugged), the window waits again, and the
// device comes back afresh. The run goes on throughout, the recording is both plugs' streams
// one after the other, and waiting stays on in the file.
void ViewerTests::waitForDevice() {
  const QString stream = patternStream(scratch_.path(), 60);
  const QByteArray streamBytes = readFile(stream);
  const QString log = scratch_.filePath("driver.log");
  const qint64 unplugAfter = streamBytes.size() * 3 / 2;
  setUpDevice("ABSENT", "1");
  setUpDevice("STREAM", stream.toLocal8Bit());
  setUpDevice("LOOP", "1");
  setUpDevice("LOG", log.toLocal8Bit());
  setUpDevice("FAIL_AFTER", QByteArray::number(unplugAfter));
  const QString settingsPath = scratch_.filePath("KESTRAVU.ini");
  writeFile(settingsPath, "[device]\nwait=1\n");
  QStringList titles;  // each change of the title
  int stage = 0;        // 0 plugged in, 1 failed, 2 unplugged, 3 plugged in again
  int logAtUnplug = 0;
  whenMainWindowShown([&](MainWindow* window) {
    titles << window->windowTitle();
    auto* poll = new QTimer(window);
    connect(poll, &QTimer::timeout, window, [&, window] {
      if (window->windowTitle() != titles.last()) titles << window->windowTitle();
      if (stage == 0 && titles.filter("waiting").size() == 2) {
        stage = 1;
        logAtUnplug = logLines(log).size();
        setUpDevice("ABSENT", "1");
      } else if (stage == 1 && logLines(log, logAtUnplug).filter("count=0").size() > 0) {
        stage = 2;
        setUpDevice("FAIL_AFTER", "");
        setUpDevice("ABSENT", "0");
      } else if (stage == 2 && !titles.last().contains("waiting")) {
        stage = 3;
        QTimer::singleShot(1500, window, &QWidget::close);
      }
    });
    setUpDevice("ABSENT", "0");
    poll->start(50);
  });
  QCOMPARE(runProgram(settingsPath, {}, scratch_.filePath("wait.kvs")), kExitNormal);
  QVERIFY2(stage == 3, qPrintable(titles.join(" | ")));
  QCOMPARE(titles.first(), QStringLiteral("KESTRAVU [waiting for the KESTRAVU device]"));
  QCOMPARE(titles.filter("waiting").size(), 2);
  const QByteArray recorded = readFile(scratch_.filePath("wait.kvs"));
  QCOMPARE(deliveredBytes(logLines(log)), qint64(recorded.size()));
  QVERIFY(recorded.size() > unplugAfter);
  QVERIFY(recorded.left(unplugAfter) == loopedSlice(streamBytes, 0, unplugAfter));
  QVERIFY2(recorded.mid(unplugAfter) == loopedSlice(streamBytes, 0, recorded.size() - unplugAfter),
           "the second plug's stream does not follow the first's");
  QVERIFY(readFile(settingsPath).contains("wait=1"));
}

// A Windows file: Screen4 starts on, its read size reaches the device, Wide and Scale 2× are
// chosen and Quit ends the run; the save changes that one value and adds the view's section.
void ViewerTests::quitKeepsOtherSettings() {
  const QString log = scratch_.filePath("driver.log");
  setUpDevice("LOG", log.toLocal8Bit());
  const QString settingsPath = scratch_.filePath("KESTRAVU.ini");
  writeFile(settingsPath, kWindowsFile);
  QSize normalSize, wideSize, scaledSize;
  bool screen4 = false;
  whenMainWindowShown([&](MainWindow* window) {
    screen4 = action(window, "&Screen4")->isChecked();
    normalSize = window->centralWidget()->size();
    action(window, "&Wide")->trigger();
    wideSize = window->centralWidget()->size();
    action(window, QStringLiteral("Scale &2×"))->trigger();
    scaledSize = window->centralWidget()->size();
    action(window, "&Quit")->trigger();
  });
  QCOMPARE(runProgram(settingsPath), kExitNormal);
  QVERIFY(screen4);
  QCOMPARE(normalSize, QSize(426, 262));
  QCOMPARE(wideSize, QSize(852, 524));
  QCOMPARE(scaledSize, QSize(1704, 1048));
  QVERIFY(logLines(log).contains(QStringLiteral("FT_SetUSBParameters handle=1 in=64 out=0 -> 0")));
  QByteArray expected = kWindowsFile;
  expected.replace("WIDE=0", "WIDE=1");
  QCOMPARE(readFile(settingsPath), expected + "[view]\r\nscale=2\r\n");
}

void ViewerTests::settingsFile() {
  const QString path = scratch_.filePath("KESTRAVU.ini");
  // Out of range and -1 (the same as missing); a missing key is added to the section, before
  // the blank line that ends it; the last line lacks its line end. The view's section keeps
  // its place.
  writeFile(path,
            "[x]\r\n[SECTION]\r\nwide=-1\r\nbufsize=257\r\n\r\n[View]\r\nscale = 3\r\n[y]\r\nz=1");
  Settings settings = SettingsStore(path).load();
  ViewSettings view = SettingsStore(path).loadView();
  QCOMPARE(settings.wide, 0);
  QCOMPARE(settings.bufsize, 32);
  QCOMPARE(view.scale, 3);
  settings.scr4 = 1;
  view.scale = 4;
  QCOMPARE(chmod(QFile::encodeName(path).constData(), 0604), 0);  // kept by the new file
  QVERIFY(SettingsStore(path).save(settings, view));
  struct stat status = {};
  QVERIFY(stat(QFile::encodeName(path).constData(), &status) == 0 && (status.st_mode & 0777) == 0604);
  QCOMPARE(readFile(path), QByteArray("[x]\r\n[SECTION]\r\nwide=0\r\nbufsize=32\r\nscr4=1\r\n\r\n"
                                      "[View]\r\nscale = 4\r\n[y]\r\nz=1"));

  // No sections yet: they are added at the end. A scale out of range is the default.
  writeFile(path, "[y]\nz=1\n[view]\nscale=5");
  QCOMPARE(SettingsStore(path).loadView().scale, 1);
  writeFile(path, "[y]\nz=1");
  settings.wide = 3;
  QVERIFY(SettingsStore(path).save(settings, view));
  QCOMPARE(readFile(path),
           QByteArray("[y]\nz=1\n[section]\nwide=3\nscr4=1\nbufsize=32\n[view]\nscale=4\n"));
  QCOMPARE(SettingsStore(path).load().pictureMode().wide, true);

  // The device's section: left out while it holds the defaults, then written; a serial number
  // is text, blanks around it dropped, and a line end in it cannot start a key of its own.
  DeviceSettings device;
  QVERIFY(SettingsStore(path).save(settings, view, &device));
  QVERIFY(!readFile(path).contains("[device]"));
  device.wait = 1;
  device.serial = QStringLiteral("KV 01\nwait=0");
  QVERIFY(SettingsStore(path).save(settings, view, &device));
  QVERIFY(readFile(path).endsWith("[device]\nwait=1\nserial=KV 01 wait=0\n"));
  writeFile(path, "[Device]\nserial =  KV 02 \nwait=1\n");
  const DeviceSettings loaded = SettingsStore(path).loadDevice();
  QCOMPARE(loaded.serial, QStringLiteral("KV 02"));
  QCOMPARE(loaded.wait, 1);
}

void ViewerTests::record_data() {
  QTest::addColumn<QString>("ending");
  for (const char* ending : {"stop", "quit", "close", "terminated", "unplugged", "silent", "launch"})
    QTest::newRow(ending) << QString::fromLatin1(ending);
}

// Recorded while the device plays a known stream, the file holds exactly the bytes the device
// delivered from Record on, to the last read before the recording ended, however it ended (the
// device is read on a thread of its own: the reads of the moment a command is chosen may fall
// on either side of it):
// Stop, Quit, the close button, a signal, the device unplugged, or its stream at an end. Started
// at launch into a given file, it holds the stream from the first byte read, the file replaced.
void ViewerTests::record() {
  QFETCH(QString, ending);
  const bool atLaunch = ending == "launch";
  const QString givenFile = scratch_.filePath("given.kvs");
  writeFile(givenFile, "an older file");
  const QString stream = patternStream(scratch_.path(), 60);
  const QByteArray streamBytes = readFile(stream);
  const QString log = scratch_.filePath("driver.log");
  setUpDevice("STREAM", stream.toLocal8Bit());
  setUpDevice("LOG", log.toLocal8Bit());
  if (ending != "silent") setUpDevice("LOOP", "1");
  const qint64 unplugAfter = streamBytes.size() * 3 / 2;
  if (ending == "unplugged") setUpDevice("FAIL_AFTER", QByteArray::number(unplugAfter));
  int readsBefore = -1, readsAtStart = -1, readsBeforeStop = -1, readsAtStop = -1;
  bool shown = false;
  whenMainWindowShown([&](MainWindow* window) {
    readsBefore = atLaunch ? 0 : logLines(log).size();
    if (!atLaunch) action(window, "&Record Stream")->trigger();
    readsAtStart = atLaunch ? 0 : logLines(log).size();
    shown = action(window, "&Record Stream")->isChecked() &&
            window->menuBar()->cornerWidget()->isVisible();
    QTimer::singleShot(600, window, [&, window] {
      if (ending == "stop") {
        readsBeforeStop = logLines(log).size();
        action(window, "&Record Stream")->trigger();
        readsAtStop = logLines(log).size();
        shown = shown && !window->menuBar()->cornerWidget()->isVisible();
        QTimer::singleShot(200, window, &QWidget::close);
      }
      if (ending == "quit") action(window, "&Quit")->trigger();
      if (ending == "close" || atLaunch) window->close();
      if (ending == "terminated") std::raise(SIGTERM);
    });
  });
  QCOMPARE(runProgram(scratch_.filePath("KESTRAVU.ini"), {}, atLaunch ? givenFile : QString()),
           kExitNormal);
  QVERIFY(shown);

  const QStringList lines = logLines(log);
  if (readsAtStop < 0) readsBeforeStop = readsAtStop = lines.size();
  const qint64 startFrom = deliveredBytes(lines.mid(0, readsBefore));
  const qint64 startTo = deliveredBytes(lines.mid(0, readsAtStart));
  const qint64 endFrom = deliveredBytes(lines.mid(0, readsBeforeStop));
  const qint64 endTo = deliveredBytes(lines.mid(0, readsAtStop));
  const QString recording = atLaunch ? givenFile : onlyFile(foldersIn(scratch_.path()).videos);
  QVERIFY(atLaunch || QFileInfo(recording).fileName().contains(
                          QRegularExpression("^kestravu-\\d{8}-\\d{6}\\.kvs$")));
  const QByteArray recorded = readFile(recording);
  QVERIFY(!recorded.isEmpty());
  qint64 start = -1;
  for (qint64 at = startFrom; at <= startTo && start < 0; ++at)
    if (recorded == loopedSlice(streamBytes, at, recorded.size())) start = at;
  QVERIFY2(start >= 0, "the recording is not the stream from the moment Record was chosen");
  const qint64 end = start + recorded.size();
  QVERIFY2(end >= endFrom && end <= endTo,
           qPrintable(QStringLiteral("recorded to %1, delivered to %2 ... %3").arg(end).arg(endFrom).arg(endTo)));
  if (ending == "unplugged") QCOMPARE(end, unplugAfter);
  if (ending == "silent") QCOMPARE(end, qint64(streamBytes.size()));
  if (!atLaunch) return;

  // A file that cannot be written ends the start.
  const QString unwritable = scratch_.filePath("missing/given.kvs");
  QString text;
  whenModalShown([&](QWidget* widget) {
    if (auto* box = qobject_cast<QMessageBox*>(widget)) text = box->text();
    widget->close();
  });
  QCOMPARE(runProgram(scratch_.filePath("KESTRAVU.ini"), {}, unwritable), kExitStartupFailed);
  QVERIFY2(text.contains(unwritable), qPrintable(text));
}

// A folder that cannot be made, then a full disk (a file size limit): a message beside the
// picture, which goes on; recording stops, and what was written is a slice of the stream.
void ViewerTests::recordingFailures() {
  const QString stream = patternStream(scratch_.path(), 60);
  const QList<QImage> frames = referencePictures(stream, scratch_.path(), {});
  setUpDevice("STREAM", stream.toLocal8Bit());
  setUpDevice("LOOP", "1");
  const QString blocker = scratch_.filePath("blocker");
  writeFile(blocker, "a file where the folder's parent should be");
  RunningViewer run;
  run.folders = {blocker + "/videos", scratch_.filePath("pictures")};
  QVERIFY(run.start());
  MainWindow& window = *run.window;
  QAction* record = action(&window, "&Record Stream");
  auto picturesGoOn = [&] {
    int first = -1, later = -1;
    QTRY_VERIFY((first = shownFrame(window.centralWidget()->grab().toImage(), frames)) >= 0);
    QTRY_VERIFY((later = shownFrame(window.centralWidget()->grab().toImage(), frames)) >= 0 &&
                later != first);
  };

  record->trigger();
  QTRY_VERIFY(shownWarning(&window));
  QVERIFY(shownWarning(&window)->text().contains(blocker));
  QVERIFY(!record->isChecked());
  QVERIFY(!window.menuBar()->cornerWidget()->isVisible());
  picturesGoOn();
  shownWarning(&window)->close();

  QVERIFY(QFile::remove(blocker));
  constexpr rlim_t kDiskRoom = 100000;
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit limit = {};
  QVERIFY(getrlimit(RLIMIT_FSIZE, &limit) == 0);
  const rlimit unlimited = limit;
  limit.rlim_cur = kDiskRoom;
  QVERIFY(setrlimit(RLIMIT_FSIZE, &limit) == 0);
  record->trigger();
  QVERIFY(record->isChecked());
  QTRY_VERIFY_WITH_TIMEOUT(shownWarning(&window), 10000);
  QVERIFY(setrlimit(RLIMIT_FSIZE, &unlimited) == 0);
  QVERIFY(shownWarning(&window)->text().startsWith("Recording stopped"));
  QVERIFY(!record->isChecked());
  picturesGoOn();
  const QByteArray recorded = readFile(onlyFile(run.folders.videos));
  QCOMPARE(recorded.size(), int(kDiskRoom));
  QVERIFY(loopedSlice(readFile(stream), 0, 3 * readFile(stream).size()).contains(recorded));
}

// A recording played from the menu while it is still being recorded: recording stops with a
// note naming the file, which then plays, the pictures the stream tool decodes from it, with no
// reads of the device meanwhile; Close Stream goes back to the device. The device sends delta
// frames alone, so the recording plays right only from cleared cells, as the tool decodes it.
void ViewerTests::openStream() {
  const QString log = scratch_.filePath("driver.log");
  const QByteArray pattern = readFile(patternStream(scratch_.path(), 60));
  const QString deltas = scratch_.filePath("deltas.stream");
  writeFile(deltas,
            pattern.mid(qsizetype(FrameFormat::frameEnd(
                reinterpret_cast<const uint8_t*>(pattern.constData()), pattern.size(), 0))));
  setUpDevice("STREAM", deltas.toLocal8Bit());
  setUpDevice("LOOP", "1");
  setUpDevice("LOG", log.toLocal8Bit());
  RunningViewer run;
  run.folders = foldersIn(scratch_.path());
  QVERIFY(run.start());
  MainWindow& window = *run.window;
  action(&window, "&Record Stream")->trigger();
  QTest::qWait(1500);
  const QString recording = onlyFile(run.folders.videos);

  // Typed, as a user may: the dialog lists its folder in a thread of its own, and a selection
  // made before that is done may not take.
  whenFileDialogShown(recording);
  action(&window, "&Open Stream…")->trigger();
  const int readsAtOpen = logLines(log).size();
  QVERIFY(!action(&window, "&Record Stream")->isChecked());
  QVERIFY(!action(&window, "&Record Stream")->isEnabled());
  QVERIFY(shownWarning(&window) && shownWarning(&window)->text().contains(recording));
  const QList<QImage> frames = referencePictures(recording, scratch_.path(), {});
  QVERIFY(frames.size() > 60);
  QTRY_VERIFY_WITH_TIMEOUT(shownFrame(window.centralWidget()->grab().toImage(), frames) >= 0, 500);
  QTest::qWait(200);
  QVERIFY(!logLines(log, readsAtOpen).join('\n').contains("FT_Read"));

  action(&window, "&Close Stream")->trigger();
  QTRY_VERIFY(logLines(log, readsAtOpen).join('\n').contains("FT_Read"));
  QVERIFY(action(&window, "&Record Stream")->isEnabled());
  QVERIFY(!action(&window, "&Close Stream")->isEnabled());

  // A FIFO, which no one writes: a message at once, and the device plays on.
  const QString fifo = scratch_.filePath("fifo.kvs");
  QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  whenFileDialogShown(fifo);
  action(&window, "&Open Stream…")->trigger();
  QMessageBox* warning = shownWarning(&window);
  QVERIFY(warning != nullptr);
  QCOMPARE(warning->text(), fifo + ": not a regular file.");
  const int readsAfterFifo = logLines(log).size();
  QTRY_VERIFY(logLines(log, readsAfterFifo).join('\n').contains("FT_Read"));
  QVERIFY(!action(&window, "&Close Stream")->isEnabled());
}

// `kestravu FILE` with no device: the file plays, cut at both ends as a recording is, and
// Close Stream leaves it playing with a message. A file that cannot be played ends the start.
void ViewerTests::streamFileWithoutDevice() {
  setUpDevice("ABSENT", "1");
  const QByteArray stream = readFile(patternStream(scratch_.path(), 60));
  const QString cut = scratch_.filePath("cut.kvs");
  writeFile(cut, stream.mid(1000) + stream.left(500));
  const QList<QImage> frames = referencePictures(cut, scratch_.path(), {});
  bool played1 = false, warned = false, played2 = false;
  whenMainWindowShown([&](MainWindow* window) {
    auto playing = [&] {
      return QTest::qWaitFor(
          [&] { return shownFrame(window->centralWidget()->grab().toImage(), frames) >= 0; });
    };
    played1 = playing();
    action(window, "&Close Stream")->trigger();
    warned = QTest::qWaitFor([&] { return shownWarning(window) != nullptr; });
    played2 = playing();
    window->close();
  });
  QCOMPARE(runProgram(scratch_.filePath("KESTRAVU.ini"), cut), kExitNormal);
  QVERIFY(played1);
  QVERIFY(warned);
  QVERIFY(played2);

  // Each with its own reason; a FIFO that no one writes, and a directory, at once.
  writeFile(scratch_.filePath("empty.kvs"), "");
  QCOMPARE(mkfifo(QFile::encodeName(scratch_.filePath("fifo.kvs")).constData(), 0600), 0);
  const std::pair<QString, QString> unplayables[] = {
      {scratch_.filePath("missing.kvs"), "there is no such file."},
      {scratch_.filePath("empty.kvs"), "no whole frame of a capture stream in it."},
      {scratch_.filePath("fifo.kvs"), "not a regular file."},
      {scratch_.path(), "not a regular file."}};
  for (const auto& [unplayable, reason] : unplayables) {
    QString text;
    whenModalShown([&](QWidget* widget) {
      if (auto* box = qobject_cast<QMessageBox*>(widget)) text = box->text();
      widget->close();
    });
    QCOMPARE(runProgram(scratch_.filePath("KESTRAVU.ini"), unplayable), kExitStartupFailed);
    QVERIFY2(text.endsWith('\n' + unplayable + ": " + reason), qPrintable(text));
  }
}

// A recording of a gigabyte, nearly all of it a dead input's zero bytes (a sparse file), with
// whole frames at both ends. The viewer plays it, the file link serves it through to its last
// frame and round again, and `kestravu-stream info` counts its frames, each in little memory:
// the file is read from disk as it plays, never held whole.
void ViewerTests::longRecording() {
  constexpr qint64 kFileBytes = qint64(1) << 30;
  constexpr long kResidentLimitKib = 64 * 1024;
  setUpDevice("ABSENT", "1");
  const QString framesPath = patternStream(scratch_.path(), 10);
  const QByteArray frames = readFile(framesPath);
  const QString path = scratch_.filePath("long.kvs");
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly) && file.write(frames) == frames.size());
  QVERIFY(file.resize(kFileBytes - frames.size()) && file.seek(kFileBytes - frames.size()));
  QVERIFY(file.write(frames) == frames.size());
  file.close();

  const QList<QImage> pictures = referencePictures(framesPath, scratch_.path(), {});
  bool played = false;
  whenMainWindowShown([&](MainWindow* window) {
    played = QTest::qWaitFor(
        [&] { return shownFrame(window->centralWidget()->grab().toImage(), pictures) >= 0; });
    QTest::qWait(1000);  // on into the zero bytes
    window->close();
  });
  QCOMPARE(runProgram(scratch_.filePath("KESTRAVU.ini"), path), kExitNormal);
  QVERIFY(played);
  QVERIFY2(peakResidentKib() < kResidentLimitKib, qPrintable(QString::number(peakResidentKib())));

  // The last frames, past the gigabyte of zero bytes, as End finds them.
  FrameDecoder decoder;
  FrameBuffer picture;
  QVERIFY(decoder.allocate() && picture.allocate());
  StreamFilePlayer player(decoder, picture);
  QCOMPARE(player.load(QFile::encodeName(path).constData()), StreamFilePlayer::LoadResult::Loaded);
  QCOMPARE(player.goToEnd({}), StreamFilePlayer::Result::Shown);
  QCOMPARE(player.shownFrame(), 19);
  QVERIFY(player.totalKnown());
  QVERIFY2(peakResidentKib() < kResidentLimitKib, qPrintable(QString::number(peakResidentKib())));

  QProcess info;
  info.start(QStringLiteral(KESTRAVU_STREAM_TOOL), {QStringLiteral("info"), path});
  QVERIFY(info.waitForFinished(60000));
  QVERIFY2(info.readAllStandardOutput().contains("\nframes: 20 (key 2, delta 18)\n"),
           qPrintable(info.readAllStandardError()));
  // The largest child so far; the stream tool's other runs here are small ones.
  struct rusage children = {};
  QCOMPARE(getrusage(RUSAGE_CHILDREN, &children), 0);
  QVERIFY2(children.ru_maxrss < kResidentLimitKib, qPrintable(QString::number(children.ru_maxrss)));
  qInfo("peak resident: viewer and link %ld KiB, stream tool %ld KiB", peakResidentKib(), children.ru_maxrss);
}

// The settings and the pictures on a full disk: Save Picture says so and leaves no file; the
// settings are not saved, the file stays as it was, with no file of the attempt beside it, and
// stderr says why. On the disk made read-only the same, from the store alone.
void ViewerTests::fullDisk() {
  const QString folder = scratch_.filePath("full");
  const SmallDisk disk(folder, 64 * 1024);
  if (!disk.mounted()) QSKIP("a tmpfs cannot be mounted here (the case needs root)");
  const QString settingsPath = folder + "/KESTRAVU.ini";
  writeFile(settingsPath, kWindowsFile);
  QVERIFY(QDir(folder).mkdir("pictures"));
  disk.fill();
  QString warning;
  QStringList pictures = {"not looked at"};
  whenMainWindowShown([&](MainWindow* window) {
    action(window, "&Wide")->trigger();
    action(window, "&Save Picture")->trigger();
    if (QMessageBox* box = shownWarning(window)) warning = box->text();
    pictures = QDir(folder + "/pictures").entryList(QDir::Files | QDir::Hidden);
    action(window, "&Quit")->trigger();
  });
  int exitCode = -1;
  const QByteArray messages = stderrOf([&] { exitCode = runProgram(settingsPath); });
  QCOMPARE(exitCode, kExitNormal);
  QVERIFY2(warning.startsWith("The picture could not be saved"), qPrintable(warning));
  QCOMPARE(pictures, QStringList());
  QCOMPARE(readFile(settingsPath), kWindowsFile);
  QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden),
           QStringList({"filler", "KESTRAVU.ini"}));
  QVERIFY2(messages.contains(settingsPath.toLocal8Bit() + ": No space left on device: the "
                                                          "settings are not saved"),
           messages.constData());

  QVERIFY(QFile::remove(folder + "/filler"));
  QVERIFY(disk.makeReadOnly());
  const QByteArray readOnly = stderrOf([&] { QVERIFY(!SettingsStore(settingsPath).save({}, {})); });
  QVERIFY2(readOnly.contains("Read-only file system"), readOnly.constData());
  QCOMPARE(readFile(settingsPath), kWindowsFile);
}

// In the settings file's place: a FIFO no one writes, a link to a device that gives endless
// zero bytes, a file past 1 MiB that starts as a settings file. Each is read at once as no file
// (the defaults), with the reason on stderr, and a save leaves it as it was. A dangling link
// cannot be saved through, and stderr says so.
void ViewerTests::oddSettingsFiles() {
  if (geteuid() != 0) QSKIP("making a device node needs root");
  const QByteArray zero = QFile::encodeName(scratch_.filePath("zero"));
  QCOMPARE(mknod(zero.constData(), S_IFCHR | 0600, makedev(1, 5)), 0);
  const QString fifo = scratch_.filePath("fifo.ini");
  QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  const QString device = scratch_.filePath("device.ini");
  QVERIFY(QFile::link(QFile::decodeName(zero), device));
  const QString large = scratch_.filePath("large.ini");
  writeFile(large, "[section]\nwide=1\n");
  QVERIFY(QFile::resize(large, SettingsStore::kMaxFileBytes + 1));
  for (const auto& [path, reason] : {std::pair{fifo, "not a regular file"},
                                     std::pair{device, "not a regular file"},
                                     std::pair{large, "larger than 1 MiB"}}) {
    const SettingsStore store(path);
    Settings settings;
    const QByteArray messages = stderrOf([&] {
      settings = store.load();
      QVERIFY(!store.save(settings, {}));
    });
    QCOMPARE(settings.wide, 0);
    QVERIFY2(messages.count(reason) == 2, messages.constData());
  }
  struct stat status = {};
  QVERIFY(stat(QFile::encodeName(fifo).constData(), &status) == 0 && S_ISFIFO(status.st_mode));
  QVERIFY(QFileInfo(device).isSymLink());
  QCOMPARE(QFileInfo(large).size(), SettingsStore::kMaxFileBytes + 1);
  QVERIFY(readFile(large).startsWith("[section]\nwide=1\n"));

  const QString dangling = scratch_.filePath("dangling.ini");
  const QString missing = scratch_.filePath("missing/KESTRAVU.ini");
  QVERIFY(QFile::link(missing, dangling));
  const QByteArray messages =
      stderrOf([&] { QVERIFY(!SettingsStore(dangling).save({}, {})); });
  QVERIFY2(messages.contains(missing.toLocal8Bit() + ": No such file or directory"),
           messages.constData());
  QVERIFY(QFileInfo(dangling).isSymLink() && !QFileInfo::exists(missing));
}

// A recording's file is locked: another recording into it, started from the command line, is
// refused and truncates nothing, and a closed recording frees its file. A FIFO no one reads and
// an empty name end the start with the message, at once.
void ViewerTests::recordingFileSafety() {
  auto run = std::make_unique<RunningViewer>();
  run->folders = foldersIn(scratch_.path());
  QVERIFY(run->start());
  const QString given = scratch_.filePath("given.kvs");
  QString error;
  QVERIFY(run->window->recordTo(given, error));
  QTRY_VERIFY(QFileInfo(given).size() > 0);
  const qint64 recorded = QFileInfo(given).size();
  QVERIFY(openRecording(given, error) == nullptr);
  QCOMPARE(error, given + ": another recording is being written into it");
  QVERIFY(QFileInfo(given).size() >= recorded);

  std::unique_ptr<QFile> made = createRecording(run->folders.videos, error);
  QVERIFY(made != nullptr);
  const QString madeName = made->fileName();
  QVERIFY(openRecording(madeName, error) == nullptr);
  made.reset();
  QVERIFY(openRecording(madeName, error) != nullptr);
  run.reset();

  const QString fifo = scratch_.filePath("fifo.kvs");
  QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  const QString noName = QStringLiteral("");  // given, but empty: not the null of no option
  for (const auto& [file, reason] : {std::pair{fifo, fifo + ": not a regular file"},
                                     std::pair{noName, QStringLiteral("no file name given")}}) {
    QString text;
    whenModalShown([&](QWidget* widget) {
      if (auto* box = qobject_cast<QMessageBox*>(widget)) text = box->text();
      widget->close();
    });
    QCOMPARE(runProgram(scratch_.filePath("KESTRAVU.ini"), {}, file), kExitStartupFailed);
    QVERIFY2(text.endsWith('\n' + reason), qPrintable(text));
  }
}

QTEST_MAIN(ViewerTests)
#include "viewer_tests.moc"
