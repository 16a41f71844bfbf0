// The viewer's loop, between the core and the window. It owns the links the viewer reads
// through (live device, source switch, recording) and the core's Viewer, and runs the loop:
//   device: whenever a whole frame has arrived, every waiting frame is decoded, the picture
//           shows the newest (one frameShown), and nothing ever waits for the device;
//   file:   a stream file is not live: one frame per period of a paced timer.
// What happened is told by results and signals; the window only reacts. With KESTRAVU_TRACE set
// to a file, each decode and each paint appends a line there, for timing measurements:
//   decoded MICROSECONDS BYTES_DECODED FRAMES
//   painted MICROSECONDS ARRIVAL_MICROSECONDS   (when the newest frame's last byte arrived)
// on the steady clock.
#pragma once
#include <QObject>
#include <QString>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "clock.h"
#include "device_link.h"
#include "live_link.h"
#include "recording_link.h"
#include "settings.h"
#include "source_switch.h"
#include "viewer.h"

class QSocketNotifier;
class QTimer;

// How a recording ended.
enum class RecordingEnd {
  Stopped,        // stopRecording()
  ForStreamFile,  // a stream file plays instead of the device
  Failed,         // a write or a push to the disk failed while recording
};

class ViewerController final : public QObject {
  Q_OBJECT

 public:
  // A stream file plays at the device's 60 frames a second.
  static constexpr int kFilePeriodMs = kFramePeriodMs;

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

  // Plays `file`, a stream file loaded, instead of what played, from its start and over and
  // over; the device is closed. A recording holds the device's stream alone: it ends here.
  void playFile(std::unique_ptr<DeviceLink> file);
  // Plays the device again, opened afresh: bytes the device kept while the file played would
  // tear the first frame, and it may have been plugged in or out meanwhile. When it cannot be
  // opened, the file plays on, and the result says why.
  OpenResult playDevice();
  bool playsDevice() const { return source_.playsDevice(); }

  // Bytes already taken are decoded first, then reads take the new size.
  void changeReadSize(int32_t readSize);
  // The whole picture drawn again in the settings' mode: after Wide or Screen4 changed.
  void redraw() { viewer_.redraw(settings_.pictureMode()); }

  // Records the device's stream into `sink` from the next byte on.
  void startRecording(std::unique_ptr<RecordingSink> sink);
  // Emits recordingEnded(Stopped, ...) when a recording was on.
  void stopRecording();
  bool isRecording() const { return recording_.isRecording(); }
  // The errno value of the last recording's failure; 0 when it did not fail.
  int recordingFailure() const { return recording_.failure(); }

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

 private:
  void decodeWaiting();
  void decodeFileFrame();
  void followSource();
  void failDevice();
  void checkRecording();
  void trace(int frames);

  Settings& settings_;
  RecordingTee recording_;
  LiveLink live_;
  SourceSwitch source_;
  Viewer viewer_;
  QSocketNotifier* arrivals_;
  QTimer* filePace_;
  bool running_ = false;
  bool recordingWatched_ = false;  // a recording started here has not been reported as ended
  std::FILE* trace_ = nullptr;
};
