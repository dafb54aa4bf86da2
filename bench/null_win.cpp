// A Windows program that does nothing: what starting any program under the loader
// costs, for comparison with quorvel.exe's own start and exit.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) { return 0; }
