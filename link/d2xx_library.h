// The vendor's D2XX driver library, loaded at run time: "FTD2XX.dll" with its functions taken by
// ordinal on Windows, "libftd2xx.so" with them taken by name elsewhere. Found by the system's
// library search, and kept loaded for as long as this object lives.
#pragma once
#include "d2xx.h"

class D2xxLibrary {
 public:
  enum class LoadResult {
    Loaded,           // all six functions are in functions()
    LibraryMissing,   // the library file could not be loaded
    FunctionMissing,  // the library lacks one of the six functions
  };

  D2xxLibrary() = default;
  D2xxLibrary(const D2xxLibrary&) = delete;
  D2xxLibrary& operator=(const D2xxLibrary&) = delete;
  ~D2xxLibrary();

  LoadResult load();
  const D2xxFunctions& functions() const { return functions_; }

 private:
  void* module_ = nullptr;
  D2xxFunctions functions_;
};
