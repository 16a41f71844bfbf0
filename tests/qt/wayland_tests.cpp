// The native viewer as a Wayland client of a headless Weston (weston.sh), over the simulated
// device: what the compositor shows, read back with its screenshooter, must be the picture as
// the stream tool decodes it, opaque, in a window and full screen. KESTRAVU_DISPLAY_SCALE is
// Weston's output scale.
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <functional>

#include "harness.h"

using namespace Harness;

namespace {

constexpr int kShownWaitMs = 15000;

// The whole output as Weston composed it, ARGB; null when the screenshooter failed.
QImage screenshot() {
  QTemporaryDir folder;
  QProcess shooter;
  shooter.setWorkingDirectory(folder.path());
  shooter.start(QStringLiteral("weston-screenshooter"), QStringList());
  if (!shooter.waitForFinished(10000) || shooter.exitCode() != 0) return {};
  const QString file = onlyFile(folder.path());
  return file.isEmpty() ? QImage() : QImage(file).convertToFormat(QImage::Format_ARGB32);
}

// Whether the screenshot shows `reference` at `at`, each pixel a `scale` x `scale` square of
// its colour, opaque.
bool showsAt(const QImage& shot, QPoint at, const QImage& reference, int scale) {
  for (int y = 0; y < reference.height() * scale; ++y) {
    const auto* row = reinterpret_cast<const QRgb*>(shot.constScanLine(at.y() + y)) + at.x();
    const auto* picture = reinterpret_cast<const QRgb*>(reference.constScanLine(y / scale));
    for (int x = 0; x < reference.width() * scale; ++x)
      if (row[x] != (picture[x / scale] | 0xFF000000u)) return false;
  }
  return true;
}

// Where a window can only be placed by the compositor, the picture is looked for anywhere.
bool showsPicture(const QImage& shot, const QImage& reference, int scale) {
  const QSize size = reference.size() * scale;
  for (int y = 0; y + size.height() <= shot.height(); ++y)
    for (int x = 0; x + size.width() <= shot.width(); ++x)
      if (showsAt(shot, {x, y}, reference, scale)) return true;
  return false;
}

// The whole output is the picture at the largest whole scale, centred on black, opaque.
bool showsFullScreen(const QImage& shot, const QImage& reference) {
  for (int y = 0; y < shot.height(); ++y) {
    const auto* row = reinterpret_cast<const QRgb*>(shot.constScanLine(y));
    for (int x = 0; x < shot.width(); ++x)
      if (qAlpha(row[x]) != 255) return false;
  }
  return differingPixels(shot, reference) == 0;
}

// Screenshots, with the viewer's events handled in between, until one passes `shows`; the
// last one is kept as `name`.png in the working folder when none does.
bool waitForScreen(const char* name, const std::function<bool(const QImage&)>& shows) {
  QElapsedTimer clock;
  clock.start();
  QImage shot;
  do {
    QTest::qWait(100);
    shot = screenshot();
    if (!shot.isNull() && shows(shot)) return true;
  } while (clock.elapsed() < kShownWaitMs);
  const QString kept = QStringLiteral("wayland-%1.png").arg(QLatin1String(name));
  if (shot.save(kept)) qWarning("not shown; the last screenshot is %s", qPrintable(kept));
  return false;
}

}  // namespace

class WaylandTests : public QObject {
  Q_OBJECT

 private slots:
  void picture();

 private:
  QTemporaryDir scratch_;
};

// One key frame over and over. The window starts at Scale 2x, as large as it gets in Wide at
// 1x: a Wayland client cannot move its window, and the compositor places it once, where that
// size fits.
void WaylandTests::picture() {
  QCOMPARE(QGuiApplication::platformName(), QStringLiteral("wayland"));
  const QString stream = patternStream(scratch_.path(), 1);
  const QImage normal = referencePicture(stream, scratch_.path(), {false, false}, 0);
  const QImage wide = referencePicture(stream, scratch_.path(), {true, false}, 0);
  QVERIFY(!normal.isNull() && !wide.isNull());
  setUpDevice("STREAM", stream.toLocal8Bit());
  setUpDevice("LOOP", "1");
  RunningViewer run;
  run.folders = foldersIn(scratch_.path());
  run.view.scale = 2;
  QVERIFY(run.start());
  MainWindow& window = *run.window;
  const int ratio = qEnvironmentVariableIntValue("KESTRAVU_DISPLAY_SCALE");
  QCOMPARE(window.devicePixelRatioF(), qreal(ratio));

  QVERIFY(waitForScreen("scale-2", [&](const QImage& shot) {
    return showsPicture(shot, normal, 2 * ratio);
  }));
  action(&window, QStringLiteral("Scale &1×"))->trigger();
  QVERIFY(waitForScreen("scale-1", [&](const QImage& shot) {
    return showsPicture(shot, normal, ratio);
  }));
  action(&window, QStringLiteral("&Fullscreen"))->trigger();
  QVERIFY(waitForScreen("fullscreen", [&](const QImage& shot) {
    return showsFullScreen(shot, normal);
  }));
  // Weston's headless output has no keyboard, so the window never has the focus that its
  // shortcuts need: Esc's command is triggered instead.
  action(&window, QStringLiteral("Leave Fullscreen"))->trigger();
  QVERIFY(waitForScreen("left-fullscreen", [&](const QImage& shot) {
    return showsPicture(shot, normal, ratio) && !showsFullScreen(shot, normal);
  }));
  QVERIFY(!window.isFullScreen());

  action(&window, QStringLiteral("&Wide"))->trigger();
  QVERIFY(waitForScreen("wide", [&](const QImage& shot) {
    return showsPicture(shot, wide, ratio);
  }));
  action(&window, QStringLiteral("&Save Picture"))->trigger();
  QCOMPARE(differingPixels(QImage(onlyFile(run.folders.pictures)), wide), 0);
}

QTEST_MAIN(WaylandTests)
#include "wayland_tests.moc"
