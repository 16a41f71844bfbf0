// The dialog for the USB read size. OK is its only way out: Esc and the close button leave it
// open. An entry of 1 ... 256 is passed on; anything else closes it with nothing changed.
#pragma once
#include <QDialog>
#include <cstdint>

class QLineEdit;

class BufferSizeDialog final : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kTextLimit = 63;  // characters of the entry that are read

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
