// A stream file reviewed in the native viewer, driven by its keys and its position slider on the
// offscreen platform, over the simulated device.
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QSlider>
#include <QStatusBar>
#include <QTest>

#include "harness.h"

using namespace Harness;

namespace {

// The newest message the window shows, if one is shown.
QMessageBox* shownMessage(QWidget* window) {
  QMessageBox* newest = nullptr;
  for (QMessageBox* box : window->findChildren<QMessageBox*>(Qt::FindDirectChildrenOnly))
    if (box->isVisible()) newest = box;
  return newest;
}

}  // namespace

class PlaybackTests : public QObject {
  Q_OBJECT

 private slots:
  void reviewByKeysAndSlider();

 private:
  QTemporaryDir scratch_;
};

// A file of 400 frames with a key frame every 60: pause, both steps, both jumps (each clamped
// at an end), Home, End, a slider drag and the speeds, each picture saved with Ctrl+S exactly
// the tool's decode of the frame the bar names, also after Screen4 is switched on while paused.
// The bar adds its height to the window while the file plays. A file cut to nothing while it
// plays is said so, and the device plays again; when the device cannot be opened either (it
// opens twice only), the last picture stays and nothing plays.
void PlaybackTests::reviewByKeysAndSlider() {
  constexpr int kFrames = 400;
  setUpDevice("OPENS", "2");
  const QString stream = patternStream(scratch_.path(), kFrames);
  const QString played = scratch_.filePath("review.kvs");
  QVERIFY(QFile::copy(stream, played));
  const QList<QImage> frames = referencePictures(stream, scratch_.path(), {});
  QCOMPARE(frames.size(), kFrames);
  RunningViewer run;
  run.folders = foldersIn(scratch_.path());
  QVERIFY(run.start());
  MainWindow& window = *run.window;
  PlaybackController& playback = run.controller->playback();
  QAction* menu = nullptr;
  for (QAction* candidate : window.menuBar()->actions())
    if (candidate->text() == "&Playback") menu = candidate;
  QVERIFY(menu != nullptr && !menu->isVisible());
  const int deviceHeight = window.height();
  QVERIFY(!window.statusBar()->isVisible());

  QString error;
  QVERIFY2(window.openStream(played, error), qPrintable(error));
  QVERIFY(window.statusBar()->isVisible() && menu->isVisible());
  QTRY_COMPARE(window.height(), deviceHeight + window.statusBar()->height());
  QTRY_VERIFY(playback.shownFrame() > 2);  // it plays

  auto label = [&](int index) {
    return window.statusBar()->findChildren<QLabel*>().value(index)->text();
  };
  QDir pictures(run.folders.pictures);
  // The picture saved is the frame the bar shows, as the tool decodes it.
  auto savedIsShown = [&](const QList<QImage>& references) {
    const qint64 frame = playback.shownFrame();
    if (!label(0).startsWith(QStringLiteral("Frame %1 / ").arg(frame))) {
      qWarning("bar: %s, frame %lld", qPrintable(label(0)), frame);
      return false;
    }
    QTest::keyClick(&window, Qt::Key_S, Qt::ControlModifier);
    const QString saved = onlyFile(run.folders.pictures);
    const QImage picture = QImage(saved).convertToFormat(QImage::Format_RGB32);
    QFile::remove(saved);
    const int differing = differingPixels(picture, references.value(frame));
    if (differing != 0) qWarning("frame %lld: %d pixels differ", frame, differing);
    return differing == 0;
  };

  QTest::keyClick(&window, Qt::Key_Space);
  QVERIFY(label(1).startsWith("paused"));
  const qint64 paused = playback.shownFrame();
  QTest::qWait(100);
  QCOMPARE(playback.shownFrame(), paused);
  QVERIFY(savedIsShown(frames));
  QTest::keyClick(&window, Qt::Key_Period);
  QCOMPARE(playback.shownFrame(), paused + 1);
  QVERIFY(savedIsShown(frames));
  QTest::keyClick(&window, Qt::Key_Comma);
  QTest::keyClick(&window, Qt::Key_Comma);
  QCOMPARE(playback.shownFrame(), paused - 1);
  QVERIFY(savedIsShown(frames));

  QTest::keyClick(&window, Qt::Key_Home);
  QCOMPARE(playback.shownFrame(), 0);
  QVERIFY(label(0).contains(QStringLiteral("/ ≥")));  // the end is not known yet
  QTest::keyClick(&window, Qt::Key_Left);
  QCOMPARE(playback.shownFrame(), 0);
  QTest::keyClick(&window, Qt::Key_Right);
  QCOMPARE(playback.shownFrame(), 300);
  QVERIFY(savedIsShown(frames));
  QTest::keyClick(&window, Qt::Key_Right);
  QCOMPARE(playback.shownFrame(), kFrames - 1);
  QCOMPARE(label(0), QStringLiteral("Frame 399 / 399  0:06.65 / 0:06.65"));
  QVERIFY(savedIsShown(frames));
  QTest::keyClick(&window, Qt::Key_Left);
  QCOMPARE(playback.shownFrame(), kFrames - 1 - 300);
  QVERIFY(savedIsShown(frames));
  QTest::keyClick(&window, Qt::Key_Home);
  QTest::keyClick(&window, Qt::Key_End);
  QCOMPARE(playback.shownFrame(), kFrames - 1);

  auto* slider = window.statusBar()->findChild<QSlider*>();
  QCOMPARE(slider->maximum(), kFrames - 1);
  QCOMPARE(slider->value(), kFrames - 1);
  slider->setSliderDown(true);
  for (int position : {320, 200, 157}) slider->setSliderPosition(position);
  slider->setSliderDown(false);
  QCOMPARE(playback.shownFrame(), 157);
  QVERIFY(savedIsShown(frames));

  // Screen4 while paused: the frame decoded again in it, running colour and all.
  action(&window, "&Screen4")->trigger();
  QVERIFY(savedIsShown(referencePictures(stream, scratch_.path(), {false, true})));
  action(&window, "&Screen4")->trigger();

  // Playing again; a step pauses.
  QTest::keyClick(&window, Qt::Key_Space);
  QVERIFY(!label(1).startsWith("paused"));
  QTRY_VERIFY(playback.shownFrame() > 160);
  QTest::keyClick(&window, Qt::Key_Period);
  QVERIFY(label(1).startsWith("paused"));
  QVERIFY(savedIsShown(frames));

  for (int i = 0; i < 3; ++i) QTest::keyClick(&window, Qt::Key_BracketRight);
  QCOMPARE(label(1), QStringLiteral("paused  4×"));
  for (int i = 0; i < 5; ++i) QTest::keyClick(&window, Qt::Key_BracketLeft);
  QCOMPARE(label(1), QStringLiteral("paused  ¼×"));

  // Cut to nothing while it plays: a message, and the device again.
  QTest::keyClick(&window, Qt::Key_Space);
  QVERIFY(QFile::resize(played, 0));
  QTRY_VERIFY(shownMessage(&window) != nullptr);
  QVERIFY2(shownMessage(&window)->text().contains("no whole frame is left"),
           qPrintable(shownMessage(&window)->text()));
  QVERIFY(shownMessage(&window)->text().contains("The capture device plays again."));
  QVERIFY(run.controller->playsDevice());
  QVERIFY(action(&window, "&Record Stream")->isEnabled());
  QVERIFY(!action(&window, "&Pause")->isEnabled());
  QVERIFY(!window.statusBar()->isVisible() && !menu->isVisible());
  QTRY_COMPARE(window.height(), deviceHeight);
  shownMessage(&window)->close();

  QVERIFY(QFile::copy(stream, played + ".again"));
  QVERIFY(window.openStream(played + ".again", error));
  QVERIFY(QFile::resize(played + ".again", 0));
  QTRY_VERIFY(shownMessage(&window) != nullptr);
  QVERIFY2(shownMessage(&window)->text().endsWith("cannot be opened: nothing plays."),
           qPrintable(shownMessage(&window)->text()));
  QVERIFY(!run.controller->playsDevice() && !run.controller->playsFile());
  QVERIFY(!action(&window, "&Record Stream")->isEnabled() && !menu->isVisible());
  shownMessage(&window)->close();
  action(&window, "&Close Stream")->trigger();
  QCOMPARE(shownMessage(&window)->text(), QStringLiteral("The capture device cannot be opened."));
}

QTEST_MAIN(PlaybackTests)
#include "playback_tests.moc"
