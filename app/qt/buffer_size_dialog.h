// The dialog for the USB read size. OK is its only way out, and always closes it: Esc and the
// close button leave it open. The entry takes only what is or leads to a number of 1 ... 256,
// which OK passes on; an entry left empty changes nothing.
#pragma once
#include <QDialog>
#include <cstdint>

class QLineEdit;

class BufferSizeDialog final : public QDialog {
  Q_OBJECT

 public:
  BufferSizeDialog(int32_t readSize, QWidget* parent);

  void reject() override;

 signals:
  void readSizeAccepted(int32_t readSize);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void takeEntry();

  QLineEdit* entry_;
};
