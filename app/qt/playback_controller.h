// A stream file played in the viewer: pace, pause, speed, steps and jumps, over the stream file
// player (link/stream_file_player.h), which decodes into the viewer's own decoder and picture.
// A file is not live: it plays at the stream's 60 frames a second times the speed, and every
// frame shown is exactly the picture that decoding the file from its start up to it gives.
#pragma once
#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>

#include "clock.h"
#include "settings.h"
#include "stream_file_player.h"
#include "viewer.h"

class QTimer;

class PlaybackController final : public QObject {
  Q_OBJECT

 public:
  static constexpr int kFramesPerSecond = 60;
  static constexpr int64_t kJumpFrames = 5 * kFramesPerSecond;
  // Speeds are quarters of the normal one: 1/4x ... 4x, halved and doubled.
  static constexpr int kSlowestQuarters = 1;
  static constexpr int kNormalQuarters = 4;
  static constexpr int kFastestQuarters = 16;
  // A loop held up for longer than this many frames does not race to catch up.
  static constexpr int64_t kMostFramesATick = 4;

  enum class End {
    NoWholeFrame,  // the file was cut short to no whole frame
    ReadFailed,    // the file could not be read any more (errno in the signal)
  };

  // `viewer`, `clock` and `settings` outlive the controller; frames are drawn in the mode
  // `settings` has at each frame.
  PlaybackController(Viewer& viewer, Clock& clock, const Settings& settings,
                     QObject* parent = nullptr);
  ~PlaybackController() override;

  // Loads the file at `path` in place of the one that plays, if any; what plays goes on when
  // it cannot be loaded (the system's reason in loadError()). Nothing is shown until play().
  StreamFilePlayer::LoadResult load(const QByteArray& path);
  int loadError() const { return loadError_; }
  // Shows the loaded file's first frame and plays on from there, unpaused at the normal speed.
  void play();
  // Lets the file go; nothing plays.
  void unload();
  bool hasFile() const { return player_ != nullptr; }
  // Frames are paced only while the loop runs (the window is up).
  void setRunning(bool running);

  void togglePause();
  bool isPaused() const { return paused_; }
  // Steps pause a file that plays.
  void stepForward();
  void stepBack();
  // Jumps keep playing or paused as they were, and stop at the first and the last frame.
  void jump(int64_t frames);
  void goToFirst();
  void goToLast();
  void goTo(int64_t frame);
  void slower();
  void faster();
  int speedQuarters() const { return speedQuarters_; }
  // The frame shown again, decoded in the settings' mode: after Wide or Screen4 changed.
  void showAgain();

  int64_t shownFrame() const;

 signals:
  // The picture holds a new frame: one paint shows it.
  void frameShown();
  void titleChanged(const QString& title);
  // The frame shown (from 0) and the frames the file has: all of them when totalKnown, else
  // those found so far.
  void positionChanged(qint64 frame, qint64 total, bool totalKnown);
  void stateChanged(bool paused, int speedQuarters);
  // The file stopped playing; it is let go.
  void ended(PlaybackController::End how, int error);

 private:
  void playOn();
  void setPaused(bool paused);
  void restartPace();
  void followPace();
  bool show(StreamFilePlayer::Result result);

  Viewer& viewer_;
  Clock& clock_;
  const Settings& settings_;
  std::unique_ptr<StreamFilePlayer> player_;
  QTimer* pace_;
  int loadError_ = 0;
  bool running_ = false;
  bool paused_ = false;
  int speedQuarters_ = kNormalQuarters;
  uint32_t paceStart_ = 0;     // when frames began to be counted at this pace
  int64_t framesPlayed_ = 0;   // frames played on since then
};
