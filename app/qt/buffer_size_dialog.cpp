#include "buffer_size_dialog.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "settings.h"

BufferSizeDialog::BufferSizeDialog(int32_t readSize, QWidget* parent)
    : QDialog(parent), entry_(new QLineEdit(QString::number(readSize), this)) {
  auto* ok = new QPushButton(tr("OK"), this);
  ok->setDefault(true);
  auto* layout = new QGridLayout(this);
  layout->addWidget(new QLabel(tr("USB Buffer Size"), this), 0, 0);
  layout->addWidget(entry_, 0, 1);
  layout->addWidget(new QLabel(tr("(1 - 256)"), this), 1, 0);
  layout->addWidget(ok, 2, 1);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  connect(ok, &QPushButton::clicked, this, &BufferSizeDialog::takeEntry);
}

void BufferSizeDialog::reject() {}

void BufferSizeDialog::closeEvent(QCloseEvent* event) { event->ignore(); }

void BufferSizeDialog::takeEntry() {
  const QString text = entry_->text();
  if (text.isEmpty()) return;
  const int32_t readSize = parseNumber(text.left(kTextLimit).toLatin1().constData());
  if (readSize >= 1 && readSize <= kMaxReadSize) emit readSizeAccepted(readSize);
  accept();
}
