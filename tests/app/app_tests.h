// The program's Windows test groups, each run as a test case of its own by name.
#pragma once

void settingsFileTests();
void dialogTextTests();
void windowTests();
void startUpTests();
void dialogTests();
