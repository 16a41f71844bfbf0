// The tool's pictures: PNG files in and out, the nearest-palette quantising of a picture into a
// frame's cells, and the decoded picture as the window shows it.
#pragma once
#include <cstdint>
#include <cstdio>

#include "frame_buffer.h"

bool writePng(FILE* file, const uint8_t* rgb, PictureSize size);
// Reads a picture of kPictureWidth x kPictureHeight into `rgb` (8-bit RGB, top line first).
// 0 or kBadInput.
int readPicture(const char* path, uint8_t* rgb);
// Two pixels make a cell: the left one in the low nibble.
void quantisePicture(const uint8_t* rgb, uint8_t* cells);
// The picture as the window shows it, 8-bit RGB, top line first.
void copyPicture(const FrameBuffer& picture, bool wide, uint8_t* rgb);
