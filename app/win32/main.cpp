// KESTRAVU.exe: the viewer's entry point. It takes no command line.
#include "main_window.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /* previous */, LPSTR /* command line */,
                   int /* show state */) {
  return MainWindow::run(instance);
}
