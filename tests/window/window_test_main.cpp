// The window suite's main: a Qt application on the offscreen platform (so the suite runs where
// there is no display and never opens a window on a developer's desktop), with per-user folders
// of its own, so that no test reads or writes the real ones.
#include <QApplication>
#include <QByteArray>

#include <gtest/gtest.h>

#include "support/temp_dir.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  const quenby::test::TempDir user;
  qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(user.FilePath("config")));
  qputenv("XDG_STATE_HOME", QByteArray::fromStdString(user.FilePath("state")));
  qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(user.Path()));
  ::testing::InitGoogleTest(&argc, argv);
  QApplication application(argc, argv);
  return RUN_ALL_TESTS();
}
