// Presents the picture the viewer decoded: the core's frame buffer, wrapped without a copy.
#pragma once
#include <QImage>
#include <QWidget>

#include "frame_buffer.h"

class PictureView final : public QWidget {
  Q_OBJECT

 public:
  // `picture` is allocated and outlives the view.
  explicit PictureView(const FrameBuffer& picture, QWidget* parent = nullptr);

  // Normal scale shows 426 x 262 pixels, Wide the whole 852 x 524 buffer; the view takes that
  // size.
  void setWide(bool wide);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QImage buffer_;  // all 852 x 524 pixels of the picture, rows bottom-up as the core keeps them
  QSize pictureSize_;
};
