// The window's Device menu: Wait for the Device, and the choice between the attached KESTRAVU
// devices by serial number (or the first one), kept current as devices come and go. It only
// passes choices to the controller and shows its state.
#pragma once
#include <QObject>
#include <QStringList>

class QAction;
class QActionGroup;
class QMenu;
class ViewerController;

class DeviceMenu final : public QObject {
  Q_OBJECT

 public:
  // Fills `menu`, which outlives this object's use of it.
  DeviceMenu(ViewerController& controller, QMenu* menu);

 private:
  void showDevices(const QStringList& serials);

  ViewerController& controller_;
  QMenu* menu_;
  QActionGroup* devices_;
};
