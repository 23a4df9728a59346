#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QWidget>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "console/server_console.h"
#include "support/temp_dir.h"
#include "window/main_window.h"

namespace quenby::test {

/// Bound of every wait for the window to reach a state.
constexpr int WindowWaitMs = 10000;

/// Processes events until `condition` holds; false when WindowWaitMs passed first.
template <class Condition>
bool WaitFor(Condition condition) {
  return QTest::qWaitFor(condition, WindowWaitMs);
}

/// A console whose executable lies in a temporary folder (so the settings file and the log are
/// beside it), asked for no MIME registry and given a fixed machine address; and its window,
/// opened by Open().
class WindowTest : public ::testing::Test {
 protected:
  WindowTest() : console_(dir_.FilePath("quenby"), "") {
    console_.IPWatch1.AddressSource = [] { return std::string("192.0.2.9"); };
  }

  /// Loopback host, port 0, the temporary folder as root, logging on.
  static TCommandLine LoopbackOptions() {
    TCommandLine options;
    options.Host = "127.0.0.1";
    options.Port = "0";
    options.EnableLog = true;
    return options;
  }

  /// Creates the window with `options` and shows it.
  TdlgMain& Open(const TCommandLine& options = LoopbackOptions()) {
    window_ = std::make_unique<TdlgMain>(console_, options);
    window_->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
    return *window_;
  }

  template <class Control>
  Control* Find(const char* name) const {
    auto* control = window_->findChild<Control*>(QString::fromUtf8(name));
    EXPECT_NE(control, nullptr) << name;
    return control;
  }

  void Click(const char* button) { QTest::mouseClick(Find<QPushButton>(button), Qt::LeftButton); }

  /// The message box the window shows about unsaved settings, once it is open.
  QMessageBox* UnsavedSettingsBox() const {
    return window_->findChild<QMessageBox*>(QStringLiteral("unsavedSettingsBox"));
  }

  std::string Log() const { return dir_.Exists("quenby.log") ? dir_.Read("quenby.log") : ""; }

  TempDir dir_;
  TServerConsole console_;
  std::unique_ptr<TdlgMain> window_;
};

}  // namespace quenby::test
