#include "picture_view.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <algorithm>
#include <cmath>

namespace {

constexpr int kMarkMargin = 8;

}  // namespace

QLabel* makeRecordingMark(QWidget* parent) {
  auto* mark = new QLabel(QStringLiteral("\u25CF REC"), parent);
  mark->setStyleSheet(
      QStringLiteral("QLabel { color: #e00000; font-weight: bold; padding: 0 6px; }"));
  mark->setToolTip(QObject::tr("Recording the stream"));
  mark->hide();
  return mark;
}

PictureView::PictureView(const FrameBuffer& picture, QWidget* parent)
    : QWidget(parent),
      buffer_(reinterpret_cast<const uchar*>(picture.pixels.get()), kBufferWidth, kBufferHeight,
              kBufferWidth * 4, QImage::Format_RGB32),
      setsTopByte_(QGuiApplication::platformName() != QLatin1String("xcb")),
      recordingMark_(makeRecordingMark(this)) {
  // Every pixel is painted each time, opaque.
  setAttribute(Qt::WA_OpaquePaintEvent);
  recordingMark_->setAutoFillBackground(true);
  QPalette black = recordingMark_->palette();
  black.setColor(QPalette::Window, Qt::black);
  recordingMark_->setPalette(black);
  setWide(false);
}

void PictureView::setWide(bool wide) {
  const PictureSize size = pictureSize(wide);
  pictureSize_ = QSize(size.width, size.height);
  fitSize();
}

void PictureView::setWindowScale(int scale) {
  windowScale_ = scale;
  fitSize();
}

void PictureView::setFullScreen(bool fullScreen) {
  fullScreen_ = fullScreen;
  fitSize();
}

QSize PictureView::windowSize(int scale) const {
  const qreal ratio = devicePixelRatioF();
  const QSize device =
      pictureSize_ * std::max(1, static_cast<int>(std::floor(scale * ratio + 0.5)));
  // The logical size times the ratio is rounded to whole device pixels, and not every device
  // size is reached so: then the one above, where the picture keeps its scale with a line of
  // black, rather than the one below, where it would drop to the next lower scale.
  auto logical = [ratio](int devicePixels) {
    return static_cast<int>(std::ceil((devicePixels - 0.5) / ratio - 1e-9));
  };
  return {logical(device.width()), logical(device.height())};
}

void PictureView::fitSize() {
  if (fullScreen_) {
    setMinimumSize(0, 0);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  } else {
    setFixedSize(windowSize(windowScale_));
  }
  update();
}

void PictureView::setRecordingMark(bool shown) {
  recordingMark_->setVisible(shown);
  placeRecordingMark();
}

void PictureView::resizeEvent(QResizeEvent*) { placeRecordingMark(); }

void PictureView::placeRecordingMark() {
  recordingMark_->adjustSize();
  recordingMark_->move(width() - recordingMark_->width() - kMarkMargin, kMarkMargin);
}

// Drawn in device pixels at a whole multiple of the picture's size, so that each picture pixel
// becomes a sharp square at any display scale; a fractional scale leaves a black margin
// around the centred picture instead of blurring it.
// The picture's top byte is 0, not the 0xFF that Format_RGB32 stands for, and Qt copies it as it
// is into the window's buffer. X11's usual 24-bit windows ignore that byte; elsewhere, as on
// Wayland, it is alpha and the picture would be transparent: there the view is filled opaque
// black and the picture ORed onto it, which sets the byte as the picture is drawn, with no copy
// of the picture. X11 keeps the plain copy, as the OR reads the buffer back and costs more.
void PictureView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const qreal ratio = devicePixelRatioF();
  const QSize device = (QSizeF(size()) * ratio).toSize();
  const int scale = std::max(
      1, std::min(device.width() / pictureSize_.width(), device.height() / pictureSize_.height()));
  const QSize drawn = pictureSize_ * scale;
  const QPoint origin((device.width() - drawn.width()) / 2, (device.height() - drawn.height()) / 2);

  painter.scale(1 / ratio, 1 / ratio);
  painter.setCompositionMode(QPainter::CompositionMode_Source);
  if (setsTopByte_ || drawn != device) painter.fillRect(QRect(QPoint(0, 0), device), Qt::black);
  if (setsTopByte_) painter.setCompositionMode(QPainter::RasterOp_SourceOrDestination);
  painter.drawImage(QRect(origin, drawn), buffer_, QRect(QPoint(0, 0), pictureSize_));
  painter.end();
  emit painted();
}
