// The viewer's loop, between the core and the window. It owns the links the viewer reads
// through (live device, recording) and the core's Viewer, and runs the loop:
//   device: whenever a whole frame has arrived, every waiting frame is decoded, the picture
//           shows the newest (one frameShown), and nothing ever waits for the device;
//   file:   a stream file is not live: its player plays it at a pace, paused, stepped or
//           jumped (playback_controller.h);
//   gone:   a device that fails or falls silent ends the loop, or, with waiting on, is waited
//           for: the picture stays, a recording stays open, and the device wanted (the chosen
//           one, or any) is opened when it appears, its stream decoded as after a switch.
// What happened is told by results and signals; the window only reacts. With KESTRAVU_TRACE set
// to a file, each decode and each paint appends a line there, for timing measurements:
//   decoded MICROSECONDS BYTES_DECODED FRAMES
//   painted MICROSECONDS ARRIVAL_MICROSECONDS   (when the newest frame's last byte arrived)
// on the steady clock.
#pragma once
#include <QObject>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "clock.h"
#include "device_link.h"
#include "live_link.h"
#include "recording_link.h"
#include "playback_controller.h"
#include "settings.h"
#include "viewer.h"

class DevicePresence;
class LinuxLink;
class QSocketNotifier;

// How a recording ended.
enum class RecordingEnd {
  Stopped,        // stopRecording()
  ForStreamFile,  // a stream file plays instead of the device
  Failed,         // a write or a push to the disk failed while recording
};

class ViewerController final : public QObject {
  Q_OBJECT

 public:
  // `device`, `clock` and `settings` outlive the controller; the picture is drawn in the mode
  // `settings` has at each frame, and the device opened with its read size.
  ViewerController(DeviceLink& device, Clock& clock, Settings& settings, QObject* parent = nullptr);
  ~ViewerController() override;

  OpenResult openDevice();
  // The cell history and the picture; false when memory is short.
  bool allocateBuffers() { return viewer_.allocateBuffers(); }
  // Frames are decoded from now on, once the event loop runs, until stop() or a failed device.
  void start();
  void stop();
  // Stops the loop, ends a recording (false when its last bytes could not be written) and
  // closes the device.
  bool shutDown();

  // Plays the stream file at `path` instead of what played, from its start and over and over;
  // the device is closed. A recording holds the device's stream alone: it ends here. When the
  // file cannot be played, what played goes on (the system's reason in playback().loadError()).
  StreamFilePlayer::LoadResult playFile(const QByteArray& path);
  // Plays the device again, opened afresh: bytes the device kept while the file played would
  // tear the first frame, and it may have been plugged in or out meanwhile. When it cannot be
  // opened, the file plays on, and the result says why.
  OpenResult playDevice();
  bool playsDevice() const { return devicePlays_; }
  bool playsFile() const { return playback_->hasFile(); }
  // Pause, steps, jumps and speed while a file plays.
  PlaybackController& playback() { return *playback_; }

  // Bytes already taken are decoded first, then reads take the new size.
  void changeReadSize(int32_t readSize);
  // The whole picture drawn again in the settings' mode: after Wide or Screen4 changed.
  void redraw();

  // Records the device's stream into `sink` from the next byte on.
  void startRecording(std::unique_ptr<RecordingSink> sink);
  // Emits recordingEnded(Stopped, ...) when a recording was on.
  void stopRecording();
  bool isRecording() const { return recording_.isRecording(); }
  // The errno value of the last recording's failure; 0 when it did not fail.
  int recordingFailure() const { return recording_.failure(); }

  // The devices attached and the choice between them (viewer_controller_device.cpp). Lists the
  // devices through `link`, the controller's device, and opens the one with this serial number
  // (empty: the first one).
  void watchDevices(LinuxLink& link, const QString& serial);
  QStringList attachedDevices() const;
  QString chosenDevice() const;
  // Opens the device with this serial number (empty: the first one) in place of the one open.
  // One that cannot be opened is waited for with waiting on; otherwise the one before stays.
  void chooseDevice(const QString& serial);
  // Turned off while waiting, the loop ends as for a failed device.
  void setWaitForDevice(bool on);
  bool waitsForDevice() const { return waitForDevice_; }
  // The device is closed and waited for: at start-up when none could be opened.
  void waitForDevice();
  bool isWaiting() const { return waiting_; }

  QString title() const { return QString::fromLatin1(viewer_.title()); }
  const FrameBuffer& picture() const { return viewer_.picture(); }
  uint64_t droppedBytes() const { return live_.droppedBytes(); }
  // The window has drawn the picture.
  void notePainted();

 signals:
  // The picture holds a new frame: one paint shows it.
  void frameShown();
  void titleChanged(const QString& title);
  // The device failed or fell silent for the read time-out: no more frames are decoded.
  void deviceFailed();
  // `error` is the errno value of a failure (the recording's last bytes could not be written,
  // or a write or push failed), 0 when the recording ended whole.
  void recordingEnded(RecordingEnd how, int error);
  // The file that played was cut to no whole frame, or could not be read (`error`); the device
  // plays again when `deviceOpened`, else nothing plays.
  void fileEnded(PlaybackController::End how, int error, bool deviceOpened);
  void waitingChanged(bool waiting);
  void devicesChanged(const QStringList& serials);

 private:
  void decodeWaiting();
  void endFile(PlaybackController::End how, int error);
  void followSource();
  void failDevice();
  void checkRecording();
  void trace(int frames);
  bool openChosenDevice();
  void takeWantedDevice();
  void endWaiting();

  Settings& settings_;
  RecordingTee recording_;
  LiveLink live_;
  Viewer viewer_;
  QSocketNotifier* arrivals_;
  PlaybackController* playback_;
  bool running_ = false;
  bool devicePlays_ = true;  // false while a file plays, or nothing does
  DevicePresence* presence_ = nullptr;
  bool waitForDevice_ = false;
  bool waiting_ = false;
  bool recordingWatched_ = false;  // a recording started here has not been reported as ended
  std::FILE* trace_ = nullptr;
};
