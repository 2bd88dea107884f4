#include "app/qt/program_qt.h"

int main(int argc, char** argv) { return parlex::app::qt::ProcessMain(argc, argv); }
