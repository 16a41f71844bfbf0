// Presents the picture the viewer decoded, from the core's frame buffer.
#pragma once
#include <QImage>
#include <QWidget>

#include "frame_buffer.h"

class QLabel;

class PictureView final : public QWidget {
  Q_OBJECT

 public:
  // `picture` is allocated and outlives the view.
  explicit PictureView(const FrameBuffer& picture, QWidget* parent = nullptr);

  // Normal scale shows 426 x 262 pixels, Wide the whole 852 x 524 buffer.
  void setWide(bool wide);
  // In a window the view is the picture's size times `scale` (1 ... 4), rounded to a whole
  // multiple of the picture in device pixels: windowSize(scale).
  void setWindowScale(int scale);
  // The view's size in a window at `scale`: at a fractional display scale, the nearest whole
  // multiple of the picture in device pixels to what the scale asks for, a tie rounded up, so
  // that the picture fills the view with sharp squares.
  QSize windowSize(int scale) const;
  // Full screen the view takes whatever size the screen gives it.
  void setFullScreen(bool fullScreen);
  // A mark in the top right corner, over the picture: where the menu bar's mark is hidden.
  void setRecordingMark(bool shown);

 signals:
  // The picture has been drawn.
  void painted();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void fitSize();
  void placeRecordingMark();

  QImage buffer_;  // all 852 x 524 pixels of the picture, the core's own memory
  const bool setsTopByte_;  // where the window shows the top byte of a pixel as alpha
  QSize pictureSize_;
  int windowScale_ = 1;
  bool fullScreen_ = false;
  QLabel* recordingMark_;
};

// The "● REC" mark in red that tells that the stream is being recorded.
QLabel* makeRecordingMark(QWidget* parent);
