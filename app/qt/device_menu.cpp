#include "device_menu.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>

#include "viewer_controller.h"

DeviceMenu::DeviceMenu(ViewerController& controller, QMenu* menu)
    : QObject(menu), controller_(controller), menu_(menu), devices_(new QActionGroup(this)) {
  QAction* wait = menu_->addAction(tr("&Wait for the Device"));
  wait->setCheckable(true);
  wait->setChecked(controller_.waitsForDevice());
  connect(wait, &QAction::toggled, &controller_, &ViewerController::setWaitForDevice);
  menu_->addSeparator();
  connect(&controller_, &ViewerController::devicesChanged, this, &DeviceMenu::showDevices);
  showDevices(controller_.attachedDevices());
}

// Numbered, so that a key picks each; the chosen device is listed even while it is away.
void DeviceMenu::showDevices(const QStringList& serials) {
  // One of them may be the action being triggered.
  for (QAction* action : devices_->actions()) {
    devices_->removeAction(action);
    menu_->removeAction(action);
    action->deleteLater();
  }
  const QString chosen = controller_.chosenDevice();
  QStringList shown = serials;
  if (!chosen.isEmpty() && !shown.contains(chosen)) shown << chosen;
  auto add = [this, &chosen](const QString& text, const QString& serial) {
    QAction* action = menu_->addAction(text);
    action->setCheckable(true);
    action->setChecked(serial == chosen);
    devices_->addAction(action);
    connect(action, &QAction::triggered, &controller_, [this, serial] {
      controller_.chooseDevice(serial);
      showDevices(controller_.attachedDevices());
    });
  };
  add(tr("&Any Device"), QString());
  for (int i = 0; i < shown.size(); ++i) {
    const QString absent = serials.contains(shown[i]) ? QString() : tr(" (not attached)");
    add(QStringLiteral("&%1  %2%3").arg(i + 1).arg(shown[i], absent), shown[i]);
  }
}
