#include "d2xx.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

namespace D2xxLibrary {

D2xxFunctions functions;

#ifdef _WIN32

namespace {

HMODULE library = nullptr;

template <class Function>
bool take(Function& function, int ordinal) {
  function = reinterpret_cast<Function>(
      reinterpret_cast<void*>(GetProcAddress(library, MAKEINTRESOURCEA(ordinal))));
  return function != nullptr;
}

}  // namespace

// The driver library is found by the system's DLL search. It is kept loaded to the end of the
// process: a reopen must not unload the library whose handle it is about to use again.
BindResult bind() {
  if (library != nullptr) return BindResult::Bound;
  library = LoadLibraryA("FTD2XX.dll");
  if (library == nullptr) return BindResult::LibraryMissing;
  D2xxFunctions found;
  bool complete = take(found.openEx, kOrdinalOpenEx) && take(found.setBitMode, kOrdinalSetBitMode) &&
                  take(found.setUSBParameters, kOrdinalSetUSBParameters) &&
                  take(found.setTimeouts, kOrdinalSetTimeouts) && take(found.read, kOrdinalRead) &&
                  take(found.close, kOrdinalClose);
  if (!complete) {
    FreeLibrary(library);
    library = nullptr;
    return BindResult::FunctionMissing;
  }
  functions = found;
  return BindResult::Bound;
}

#else

// Bound when the program is linked: whatever provides the six functions serves.
BindResult bind() {
  functions.openEx = FT_OpenEx;
  functions.setBitMode = FT_SetBitMode;
  functions.setUSBParameters = FT_SetUSBParameters;
  functions.setTimeouts = FT_SetTimeouts;
  functions.read = FT_Read;
  functions.close = FT_Close;
  return BindResult::Bound;
}

#endif

}  // namespace D2xxLibrary
