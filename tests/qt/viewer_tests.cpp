// The native viewer on the offscreen platform, over the simulated device. The device reads its
// set-up once per process, so ctest runs each function (or data row) in a process of its own.
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include "buffer_size_dialog.h"
#include "harness.h"
#include "linux_link.h"
#include "program.h"
#include "settings_store.h"

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

int runProgram(const QString& settingsPath) {
  SteadyClock clock;
  std::unique_ptr<DeviceLink> link = makeLinuxLink(clock);
  return runViewer(*link, clock, settingsPath);
}

// The log of driver calls since `from` lines, the simulated device's KESTRAVU_SIM_LOG.
QStringList logLines(const QString& log, int from = 0) {
  return QString::fromLatin1(readFile(log)).split('\n', Qt::SkipEmptyParts).mid(from);
}

// A settings file as the Windows program's users have them: CRLF, other sections, keys in
// another case, a comment, and values the INI reader of a library would rewrite.
const QByteArray kWindowsFile =
    "; KESTRAVU\r\n[Other "
    "Tool]\r\npath=C:\\Tools\\new\\x\r\nlist=a,b\r\n\r\n[Section]\r\nWIDE=0\r\n"
    "Scr4 = 1 \r\nBUFSIZE=64\r\n\r\n[zz]\r\nwide=7\r\n";

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
  void quitKeepsOtherSettings();
  void settingsFile();

 private:
  QTemporaryDir scratch_;
};

// One key frame over and over: whatever the tick, the picture is that frame, drawn in the
// current mode, which the menu switches through all four. Also run with QT_SCALE_FACTOR set.
void ViewerTests::picture() {
  const QString stream = patternStream(scratch_.path(), 1);
  setUpDevice("STREAM", stream.toLocal8Bit());
  setUpDevice("LOOP", "1");
  RunningViewer run;
  QVERIFY(run.start());
  MainWindow& window = *run.window;
  QWidget* view = window.centralWidget();
  const QSize normalWindow = window.size();
  auto expectPicture = [&](PictureMode mode, QSize pictureSize) {
    QCOMPARE(view->size(), pictureSize);
    QCOMPARE(view->geometry().top(), window.menuBar()->geometry().bottom() + 1);
    QTRY_COMPARE(window.size(),
                 QSize(pictureSize.width(), window.menuBar()->height() + pictureSize.height()));
    const QImage reference = referencePicture(stream, scratch_.path(), mode, 0);
    QTRY_COMPARE_WITH_TIMEOUT(differingPixels(view->grab().toImage(), reference), 0, kFrameWaitMs);
  };

  expectPicture({false, false}, QSize(426, 262));
  action(&window, "&Screen4")->trigger();
  QVERIFY(action(&window, "&Screen4")->isChecked());
  expectPicture({false, true}, QSize(426, 262));
  action(&window, "&Wide")->trigger();
  QVERIFY(action(&window, "&Wide")->isChecked());
  expectPicture({true, true}, QSize(852, 524));
  action(&window, "&Screen4")->trigger();
  expectPicture({true, false}, QSize(852, 524));
  action(&window, "&Wide")->trigger();
  expectPicture({false, false}, QSize(426, 262));
  QCOMPARE(window.size(), normalWindow);
  QCOMPARE(run.settings.wide, 0);
  QCOMPARE(run.settings.scr4, 0);
}

void ViewerTests::title_data() {
  QTest::addColumn<int>("frames");
  QTest::newRow("nine") << 9;
  QTest::newRow("ten") << 10;
}

// The stream ends as if unplugged after its last frame, so the run ends at once.
void ViewerTests::title() {
  QFETCH(int, frames);
  const QString stream = patternStream(scratch_.path(), frames);
  setUpDevice("STREAM", stream.toLocal8Bit());
  setUpDevice("FPS", "0");
  setUpDevice("FAIL_AFTER", QByteArray::number(QFile(stream).size()));
  RunningViewer run;
  QVERIFY(run.start());
  QCOMPARE(run.window->windowTitle(), QStringLiteral("KESTRAVU"));
  QSignalSpy failed(run.window.get(), &MainWindow::deviceFailed);
  QVERIFY(failed.wait(10000));

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

// Frames go on while the dialog is open; only OK closes it, and only 1 ... 256 reopens the
// device with a new read size.
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
  enter(dialog, QString());
  QTest::qWait(100);
  QVERIFY2(dialog && dialog->isVisible(), "OK with no text closed it");
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

  for (const QString& refused :
       {QStringLiteral("0"), QStringLiteral("257"), QStringLiteral("abc")}) {
    const int linesBeforeRefused = logLines(log).size();
    dialog = openDialog();
    QVERIFY(dialog);
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
  QCOMPARE(readFile(settingsPath), QByteArray("[section]\nwide=0\nscr4=0\nbufsize=32\n"));
}

void ViewerTests::deviceUnplugged() {
  setUpDevice("FAIL_AFTER", "50000");
  const QString settingsPath = scratch_.filePath("KESTRAVU.ini");
  QElapsedTimer elapsed;
  elapsed.start();
  QCOMPARE(runProgram(settingsPath), kExitNormal);
  QVERIFY2(elapsed.elapsed() < 2500, qPrintable(QString::number(elapsed.elapsed())));
  QCOMPARE(readFile(settingsPath), QByteArray("[section]\nwide=0\nscr4=0\nbufsize=32\n"));
}

// A Windows file: Screen4 starts on, its read size reaches the device, Wide is switched on and
// Quit ends the run; the save changes that one value and nothing else.
void ViewerTests::quitKeepsOtherSettings() {
  const QString log = scratch_.filePath("driver.log");
  setUpDevice("LOG", log.toLocal8Bit());
  const QString settingsPath = scratch_.filePath("KESTRAVU.ini");
  writeFile(settingsPath, kWindowsFile);
  QSize normalSize, wideSize;
  bool screen4 = false;
  whenMainWindowShown([&](MainWindow* window) {
    screen4 = action(window, "&Screen4")->isChecked();
    normalSize = window->centralWidget()->size();
    action(window, "&Wide")->trigger();
    wideSize = window->centralWidget()->size();
    action(window, "&Quit")->trigger();
  });
  QCOMPARE(runProgram(settingsPath), kExitNormal);
  QVERIFY(screen4);
  QCOMPARE(normalSize, QSize(426, 262));
  QCOMPARE(wideSize, QSize(852, 524));
  QVERIFY(logLines(log).contains(QStringLiteral("FT_SetUSBParameters handle=1 in=64 out=0 -> 0")));
  QByteArray expected = kWindowsFile;
  expected.replace("WIDE=0", "WIDE=1");
  QCOMPARE(readFile(settingsPath), expected);
}

void ViewerTests::settingsFile() {
  const QString path = scratch_.filePath("KESTRAVU.ini");
  // Out of range and -1 (the same as missing); a missing key is added to the section, before
  // the blank line that ends it; the last line lacks its line end.
  writeFile(path, "[x]\r\n[SECTION]\r\nwide=-1\r\nbufsize=257\r\n\r\n[y]\r\nz=1");
  Settings settings = SettingsStore(path).load();
  QCOMPARE(settings.wide, 0);
  QCOMPARE(settings.bufsize, 32);
  settings.scr4 = 1;
  QVERIFY(SettingsStore(path).save(settings));
  QCOMPARE(readFile(path),
           QByteArray("[x]\r\n[SECTION]\r\nwide=0\r\nbufsize=32\r\nscr4=1\r\n\r\n[y]\r\nz=1"));

  // No section yet: it is added at the end.
  writeFile(path, "[y]\nz=1");
  settings.wide = 3;
  QVERIFY(SettingsStore(path).save(settings));
  QCOMPARE(readFile(path), QByteArray("[y]\nz=1\n[section]\nwide=3\nscr4=1\nbufsize=32\n"));
  QCOMPARE(SettingsStore(path).load().pictureMode().wide, true);
}

QTEST_MAIN(ViewerTests)
#include "viewer_tests.moc"
