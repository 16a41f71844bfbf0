#include "buffer_size_dialog.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>

#include "settings.h"

BufferSizeDialog::BufferSizeDialog(int32_t readSize, QWidget* parent)
    : QDialog(parent), entry_(new QLineEdit(QString::number(readSize), this)) {
  // 1 ... 256 and what leads to it, so that a key that would leave that range does nothing. A
  // spin box would put its last value back into an emptied entry, and OK would reopen the
  // device at the old size.
  static_assert(kMaxReadSize == 256, "the pattern's range");
  entry_->setValidator(new QRegularExpressionValidator(
      QRegularExpression(QStringLiteral("[1-9][0-9]?|1[0-9][0-9]|2[0-4][0-9]|25[0-6]")), entry_));
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
  if (entry_->hasAcceptableInput()) emit readSizeAccepted(entry_->text().toInt());
  accept();
}
