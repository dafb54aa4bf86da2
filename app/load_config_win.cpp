// The load configuration directory of quorvel.exe. Its one setting of interest is
// the dependent-load flag: the DLLs the program imports are looked for in the
// system folder only, never next to the program or in the current folder, so a
// DLL planted there cannot ride in on the console's request. The linker makes this
// structure the image's load configuration by its name; the toolchain's own linker
// has no switch for the flag.
#include <windows.h>

#include <cstddef>

namespace {

constexpr WORD kSearchSystem32 = 0x0800;  // LOAD_LIBRARY_SEARCH_SYSTEM32

constexpr IMAGE_LOAD_CONFIG_DIRECTORY64 LoadConfig() {
  IMAGE_LOAD_CONFIG_DIRECTORY64 config{};
  config.Size = sizeof(config);
  config.Reserved1 = kSearchSystem32;  // DependentLoadFlags in later SDKs
  return config;
}

}  // namespace

static_assert(offsetof(IMAGE_LOAD_CONFIG_DIRECTORY64, Reserved1) == 78, "DependentLoadFlags lies at byte 78");

// constinit: the loader reads the structure before any of the program's code runs.
extern "C" __attribute__((used)) constinit const IMAGE_LOAD_CONFIG_DIRECTORY64 _load_config_used = LoadConfig();
