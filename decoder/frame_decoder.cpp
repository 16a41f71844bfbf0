#include "frame_decoder.h"

Settings settings;

namespace FrameDecoder {

DecoderState decoderState;

}  // namespace FrameDecoder
