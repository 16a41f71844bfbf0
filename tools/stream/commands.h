// The stream tool's commands, each given the arguments after its name. Each returns the
// program's exit status: 0, or kBadInput having said why on stderr.
#pragma once

int runDecode(int argc, char** argv);
int runInfo(int argc, char** argv);
int runEncode(int argc, char** argv);
int runPattern(int argc, char** argv);
int runVideo(int argc, char** argv);
