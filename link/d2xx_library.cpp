#include "d2xx_library.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

#ifdef _WIN32
constexpr char kLibraryName[] = "FTD2XX.dll";

void* openModule() { return reinterpret_cast<void*>(LoadLibraryA(kLibraryName)); }
void closeModule(void* module) { FreeLibrary(static_cast<HMODULE>(module)); }

// The 32-bit library's names carry stdcall decorations that vary between builds; its ordinals
// do not.
template <class Function>
bool bind(void* module, Function& function, int ordinal, const char* /* name */) {
  function = reinterpret_cast<Function>(
      reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), MAKEINTRESOURCEA(ordinal))));
  return function != nullptr;
}
#else
constexpr char kLibraryName[] = "libftd2xx.so";

void* openModule() { return dlopen(kLibraryName, RTLD_NOW | RTLD_LOCAL); }
void closeModule(void* module) { dlclose(module); }

template <class Function>
bool bind(void* module, Function& function, int /* ordinal */, const char* name) {
  function = reinterpret_cast<Function>(dlsym(module, name));
  return function != nullptr;
}
#endif

}  // namespace

D2xxLibrary::~D2xxLibrary() {
  if (module_ != nullptr) closeModule(module_);
}

D2xxLibrary::LoadResult D2xxLibrary::load() {
  if (module_ != nullptr) return LoadResult::Loaded;
  void* module = openModule();
  if (module == nullptr) return LoadResult::LibraryMissing;
  D2xxFunctions found;
  bool complete = bind(module, found.openEx, kOrdinalOpenEx, "FT_OpenEx") &&
                  bind(module, found.setBitMode, kOrdinalSetBitMode, "FT_SetBitMode") &&
                  bind(module, found.setUSBParameters, kOrdinalSetUSBParameters, "FT_SetUSBParameters") &&
                  bind(module, found.setTimeouts, kOrdinalSetTimeouts, "FT_SetTimeouts") &&
                  bind(module, found.read, kOrdinalRead, "FT_Read") &&
                  bind(module, found.close, kOrdinalClose, "FT_Close");
  if (!complete) {
    closeModule(module);
    return LoadResult::FunctionMissing;
  }
  module_ = module;
  functions_ = found;
  return LoadResult::Loaded;
}
