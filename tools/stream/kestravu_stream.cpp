// kestravu-stream: looks at capture streams without the device. Decodes a stream into PNG
// pictures with the program's own decoder, tells what a stream holds, encodes PNG pictures
// into a stream, writes the built-in test pattern and exports a stream to a video file. Bad
// input ends it with status 2 and one line on stderr; outputs appear only when complete.
// The folder: command_line.h (options and reports), mapped_stream.h (the input),
// output_file.h (outputs), pictures.h (PNG files and quantising), stream_pass.h (the decoding
// loop), frame_range.h (a slice of the frames by number), commands.h (the commands) and
// video_writer.h (video files).
#include <cstdio>
#include <cstring>

#include "command_line.h"
#include "commands.h"
#include "output_file.h"

int main(int argc, char** argv) {
  if (argc < 2) return fail("no command (%s)", kUsage);
  removeTemporaryFileOnSignals();
  const char* command = argv[1];
  if (!std::strcmp(command, "--help") || !std::strcmp(command, "-h")) {
    std::printf("%s\n", kUsage);
    return 0;
  }
  if (!std::strcmp(command, "decode")) return runDecode(argc - 2, argv + 2);
  if (!std::strcmp(command, "info")) return runInfo(argc - 2, argv + 2);
  if (!std::strcmp(command, "encode")) return runEncode(argc - 2, argv + 2);
  if (!std::strcmp(command, "pattern")) return runPattern(argc - 2, argv + 2);
  if (!std::strcmp(command, "video")) return runVideo(argc - 2, argv + 2);
  return fail("unknown command '%s' (%s)", command, kUsage);
}
