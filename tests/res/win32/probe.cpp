// A GUI program that carries the program's resources and does nothing else,
// so that they can be checked in a built executable of their own.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return 0; }
