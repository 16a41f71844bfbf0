#include "harness.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QTest>
#include <QTimer>

#include "linux_link.h"

namespace Harness {

namespace {

bool runStreamTool(const QStringList& arguments) {
  QProcess tool;
  tool.start(QStringLiteral(KESTRAVU_STREAM_TOOL), arguments);
  const bool ran = tool.waitForFinished(60000) && tool.exitStatus() == QProcess::NormalExit &&
                   tool.exitCode() == 0;
  if (!ran)
    qWarning("kestravu-stream %s: %s", qPrintable(arguments.join(' ')),
             tool.readAllStandardError().constData());
  return ran;
}

// Polls until `ready` gives a widget, then runs `act` on it from the event loop.
void whenShown(std::function<QWidget*()> ready, std::function<void(QWidget*)> act) {
  QTimer::singleShot(10, qApp, [ready, act] {
    if (QWidget* widget = ready(); widget != nullptr && widget->isVisible()) return act(widget);
    whenShown(ready, act);
  });
}

}  // namespace

void setUpDevice(const char* name, const QByteArray& value) {
  qputenv(QByteArray("KESTRAVU_SIM_") + name, value);
}

QString patternStream(const QString& directory, int frames) {
  const QString stream = directory + QStringLiteral("/pattern-%1.stream").arg(frames);
  runStreamTool({QStringLiteral("pattern"), QStringLiteral("-o"), stream,
                 QStringLiteral("--frames"), QString::number(frames)});
  return stream;
}

// The folder the tool decoded the stream into; empty when it failed.
QString decode(const QString& stream, const QString& directory, PictureMode mode) {
  const QString output = directory + QStringLiteral("/decoded-%1-%2%3")
                                         .arg(QFileInfo(stream).fileName())
                                         .arg(mode.wide)
                                         .arg(mode.screen4);
  QStringList arguments = {QStringLiteral("decode"), stream, output};
  if (mode.wide) arguments << QStringLiteral("--wide");
  if (mode.screen4) arguments << QStringLiteral("--screen4");
  return runStreamTool(arguments) ? output : QString();
}

QImage referencePicture(const QString& stream, const QString& directory, PictureMode mode,
                        int frame) {
  const QString output = decode(stream, directory, mode);
  if (output.isEmpty()) return {};
  return QImage(output + QStringLiteral("/frame-%1.png").arg(frame, 5, 10, QLatin1Char('0')))
      .convertToFormat(QImage::Format_RGB32);
}

QList<QImage> referencePictures(const QString& stream, const QString& directory, PictureMode mode) {
  QList<QImage> pictures;
  const QString output = decode(stream, directory, mode);
  if (output.isEmpty()) return pictures;
  for (const QString& name :
       QDir(output).entryList({QStringLiteral("frame-*.png")}, QDir::Files, QDir::Name))
    pictures << QImage(output + '/' + name).convertToFormat(QImage::Format_RGB32);
  return pictures;
}

int differingPixels(const QImage& grabbed, const QImage& reference) {
  const QImage shown = grabbed.convertToFormat(QImage::Format_RGB32);
  if (reference.isNull() || shown.width() < reference.width() ||
      shown.height() < reference.height())
    return -1;
  const int scale =
      std::min(shown.width() / reference.width(), shown.height() / reference.height());
  const int left = (shown.width() - scale * reference.width()) / 2;
  const int top = (shown.height() - scale * reference.height()) / 2;
  int differing = 0;
  for (int y = 0; y < shown.height(); ++y) {
    for (int x = 0; x < shown.width(); ++x) {
      const int pictureX = x - left, pictureY = y - top;
      const bool inside = pictureX >= 0 && pictureY >= 0 && pictureX < scale * reference.width() &&
                          pictureY < scale * reference.height();
      const QRgb expected =
          inside ? reference.pixel(pictureX / scale, pictureY / scale) : qRgb(0, 0, 0);
      differing += shown.pixel(x, y) != expected;
    }
  }
  return differing;
}

namespace {

// Colours alone: QImage's == also compares the colour spaces, which a grab lacks, and the top
// byte of a grab's pixels is whatever the picture's was.
bool samePixels(const QImage& a, const QImage& b) {
  for (int y = 0; y < a.height(); ++y) {
    const auto* rowA = reinterpret_cast<const QRgb*>(a.constScanLine(y));
    const auto* rowB = reinterpret_cast<const QRgb*>(b.constScanLine(y));
    for (int x = 0; x < a.width(); ++x)
      if (((rowA[x] ^ rowB[x]) & 0xFFFFFFu) != 0) return false;
  }
  return true;
}

}  // namespace

int shownFrame(const QImage& grabbed, const QList<QImage>& references) {
  const QImage shown = grabbed.convertToFormat(QImage::Format_RGB32);
  for (int frame = 0; frame < references.size(); ++frame) {
    const QImage& reference = references[frame];
    if (shown.size() == reference.size() ? samePixels(shown, reference)
                                         : differingPixels(shown, reference) == 0)
      return frame;
  }
  return -1;
}

OutputFolders foldersIn(const QString& directory) {
  return {directory + QStringLiteral("/videos"), directory + QStringLiteral("/pictures")};
}

QString onlyFile(const QString& folder) {
  const QStringList files = QDir(folder).entryList(QDir::Files);
  return files.size() == 1 ? QDir(folder).filePath(files[0]) : QString();
}

qint64 deliveredBytes(const QStringList& logLines) {
  QProcess reader;
  reader.start(QStringLiteral("awk"),
               {QStringLiteral("-f"), QStringLiteral(KESTRAVU_DELIVERED_BYTES)});
  reader.write((logLines.join('\n') + '\n').toUtf8());
  reader.closeWriteChannel();
  if (!reader.waitForFinished(10000) || reader.exitCode() != 0) return -1;
  return reader.readAllStandardOutput().split(' ').value(0).toLongLong();
}

QByteArray loopedSlice(const QByteArray& stream, qint64 offset, qint64 length) {
  QByteArray slice;
  for (qint64 at = offset; slice.size() < length; at = 0)
    slice += stream.mid(at % stream.size(), length - slice.size());
  return slice;
}

QAction* action(QWidget* window, const QString& text) {
  for (QAction* candidate : window->findChildren<QAction*>())
    if (candidate->text() == text) return candidate;
  qWarning("no command %s", qPrintable(text));
  return nullptr;
}

void whenModalShown(std::function<void(QWidget*)> act) {
  whenShown([] { return QApplication::activeModalWidget(); }, act);
}

// The path is typed into the name field: a choice made with selectFile() can be cleared by the
// folder listing, which the dialog makes on a thread of its own.
void whenFileDialogShown(const QString& path) {
  whenModalShown([path](QWidget* widget) {
    auto* dialog = qobject_cast<QFileDialog*>(widget);
    auto* name = widget->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    if (dialog == nullptr || name == nullptr) return widget->close(), void();
    name->setText(path);
    static_cast<QDialog*>(dialog)->accept();  // the file dialog's own, through the public base
  });
}

void whenMainWindowShown(std::function<void(MainWindow*)> act) {
  whenShown(
      [] {
        for (QWidget* widget : QApplication::topLevelWidgets())
          if (auto* window = qobject_cast<MainWindow*>(widget))
            return static_cast<QWidget*>(window);
        return static_cast<QWidget*>(nullptr);
      },
      [act](QWidget* window) { act(static_cast<MainWindow*>(window)); });
}

bool RunningViewer::start() {
  LinuxBackend backend = LinuxBackend::Libftdi;
  device = makeLinuxLink(clock, &backend);
  if (backend != LinuxBackend::VendorD2xx) {
    qWarning("the simulated device's libftd2xx.so is not on the library path");
    return false;
  }
  controller = std::make_unique<ViewerController>(*device, clock, settings);
  if (controller->openDevice() != OpenResult::Opened || !controller->allocateBuffers())
    return false;
  window = std::make_unique<MainWindow>(ViewerParts{*controller, settings, view}, folders);
  window->show();
  if (!QTest::qWaitForWindowExposed(window.get())) return false;
  if (startsLoop) controller->start();
  return true;
}

}  // namespace Harness
