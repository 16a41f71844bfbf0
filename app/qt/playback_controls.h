// The window's controls for a stream file that plays: the Playback menu and its keys, and a bar
// under the picture with the position slider and the frame and time. They show only while a
// file plays; they map keys and the slider to the playback's calls and show what it tells.
#pragma once
#include <QObject>
#include <functional>

#include "playback_controller.h"

class QAction;
class QLabel;
class QMainWindow;
class QMenu;
class QSlider;

class PlaybackControls final : public QObject {
  Q_OBJECT

 public:
  // Adds the menu to `window`'s menu bar and the bar as its status bar; `playback` outlives them.
  PlaybackControls(PlaybackController& playback, QMainWindow* window);

  // Shown, and the keys on, while a file plays.
  void setActive(bool active);
  // The bar is hidden full screen, where the keys still work.
  void setFullScreen(bool fullScreen);
  // What the bar adds to the window's height.
  int barHeight() const;
  QMenu* menu() const { return menu_; }

  // "Frame 123 / 455  0:02.05 / 0:07.58": from 0, as the stream tool numbers frames, out of
  // the last frame, with "≥" while the file's end is not known yet.
  static QString positionText(qint64 frame, qint64 total, bool totalKnown);
  // "¼×" ... "4×".
  static QString speedText(int speedQuarters);

 private:
  void addAction(const QString& text, const QKeySequence& key, const std::function<void()>& call);
  void showPosition(qint64 frame, qint64 total, bool totalKnown);
  void showState(bool paused, int speedQuarters);
  void followSlider(int value);
  void showBar();

  PlaybackController& playback_;
  QMainWindow* window_;
  QMenu* menu_;
  QWidget* bar_;
  QSlider* slider_;
  QLabel* position_;
  QLabel* state_;
  QAction* pause_ = nullptr;
  bool active_ = false;
  bool fullScreen_ = false;
};
