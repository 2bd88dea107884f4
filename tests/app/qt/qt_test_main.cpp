// The entry of the test programs that run Qt windows or the web engine in
// their own process: the application object lives for the whole run, as in
// the program; listing the tests (done at build time, maybe without a
// display) must not create it.
#include <gtest/gtest.h>

#include <QApplication>

#include "app/qt/program_qt.h"
#include "support/x11_display.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (GTEST_FLAG_GET(list_tests)) return RUN_ALL_TESTS();
  parlex::test::HoldXDisplay();
  parlex::app::qt::PrepareProcess();
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
