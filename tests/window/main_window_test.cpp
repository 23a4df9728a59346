// The window driven as a user drives it: clicks, typing and paste through Qt Test, the console's
// state and the files it writes checked afterwards.
#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QScreen>
#include <QSignalSpy>

#include <gmock/gmock.h>

#include "window_fixture.h"

namespace quenby::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::SizeIs;
using ::testing::StartsWith;

constexpr const char* EditableControls[] = {"edHost",       "edPort",        "edIndex",
                                            "edRoot",       "memoAlias",     "edLogFile",
                                            "chkEnableLog", "btnBrowseRoot", "btnBrowseLogFile"};

std::vector<std::string> StatusList(const QListWidget* list) {
  std::vector<std::string> lines;
  for (int i = 0; i < list->count(); ++i) {
    lines.push_back(list->item(i)->text().toStdString());
  }
  return lines;
}

class MainWindowTest : public WindowTest {
 protected:
  bool Enabled(const char* name) const { return Find<QWidget>(name)->isEnabled(); }

  void ExpectEditable(bool editable) const {
    for (const char* name : EditableControls) {
      EXPECT_EQ(Enabled(name), editable) << name;
    }
    EXPECT_EQ(Enabled("btnStart"), editable);
    for (const char* name : {"chkAutoStart", "btnMinimize", "btnExit", "lbLog"}) {
      EXPECT_TRUE(Enabled(name)) << name << " stays enabled throughout";
    }
  }

  QListWidget* StatusBox() const { return Find<QListWidget>("lbLog"); }
  QLineEdit* Field(const char* name) const { return Find<QLineEdit>(name); }
};

TEST_F(MainWindowTest, ShowsTheLoadedSettingsInAFixedFrameWithEveryControlEnabled) {
  dir_.Write("quenby.ini",
             "[Setup]\r\nHost=10.0.0.1\r\nPort=8081\r\nRoot=/srv/www/\r\nEnableLog=true\r\n"
             "[Alias]\r\n/bin=/srv/dlls\r\n/img=/srv/img\r\n");
  TCommandLine options;
  options.Host = "127.0.0.1";
  Open(options);

  EXPECT_EQ(window_->windowTitle(), "Quenby");
  EXPECT_FALSE(window_->windowIcon().isNull());
  EXPECT_EQ(Field("edHost")->text(), "127.0.0.1") << "an option takes the file's place";
  EXPECT_EQ(Field("edPort")->text(), "8081");
  EXPECT_EQ(Field("edRoot")->text(), "/srv/www/");
  EXPECT_EQ(Field("edIndex")->text(), "index.htm") << "the default replaces the design text";
  EXPECT_EQ(Field("edLogFile")->text().toStdString(), dir_.FilePath("quenby.log"));
  EXPECT_EQ(Find<QPlainTextEdit>("memoAlias")->toPlainText(), "/bin=/srv/dlls\n/img=/srv/img");
  EXPECT_TRUE(Find<QCheckBox>("chkEnableLog")->isChecked());
  EXPECT_FALSE(Find<QCheckBox>("chkAutoStart")->isChecked());
  EXPECT_THAT(StatusList(StatusBox()), IsEmpty());
  ExpectEditable(true);
  EXPECT_TRUE(Enabled("btnStop")) << "the initial state enables Stop too";

  EXPECT_EQ(window_->minimumSize(), window_->maximumSize()) << "the frame cannot be resized";
  EXPECT_LE((window_->frameGeometry().center() - window_->screen()->availableGeometry().center())
                .manhattanLength(),
            2)
      << "centred on the screen";
  EXPECT_NEAR(double(window_->width()) / window_->height(),
              double(DesignClientWidth) / DesignClientHeight, 0.01);
  for (QWidget* control : window_->findChildren<QWidget*>()) {
    if (qobject_cast<QLabel*>(control) || qobject_cast<QCheckBox*>(control)) {
      EXPECT_GE(control->width(), control->sizeHint().width())
          << control->objectName().toStdString() << " is clipped";
    }
    if (auto* button = qobject_cast<QPushButton*>(control)) {
      EXPECT_GT(button->width(), button->fontMetrics().horizontalAdvance(button->text()))
          << button->objectName().toStdString() << " is clipped";
    }
  }
  const QLineEdit* host = Field("edHost");
  EXPECT_GT(host->width(), host->fontMetrics().horizontalAdvance("255.255.255.255"));
}

TEST_F(MainWindowTest, TabWalksTheControlsInRowOrderAndNeverReachesTheStatusList) {
  Open();
  QApplication::setActiveWindow(window_.get());
  ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
  Field("edHost")->setFocus();
  std::vector<std::string> order;
  for (int i = 0; i < 15; ++i) {
    order.push_back(QApplication::focusWidget()->objectName().toStdString());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  }
  EXPECT_THAT(order,
              ElementsAre("edHost", "edPort", "edIndex", "edRoot", "btnBrowseRoot", "memoAlias",
                          "edLogFile", "btnBrowseLogFile", "chkEnableLog", "chkAutoStart",
                          "btnStart", "btnStop", "btnMinimize", "btnExit", "edHost"));
}

TEST_F(MainWindowTest, StartRunsStopStopsAndEachStartBeginsAFreshStatusList) {
  Open();
  Click("btnStart");
  ASSERT_TRUE(console_.HTTPServer.Active());
  ExpectEditable(false);
  EXPECT_TRUE(Enabled("btnStop"));
  ASSERT_THAT(StatusList(StatusBox()), ElementsAre(StartsWith("Started at:")));
  EXPECT_EQ(StatusBox()->currentRow(), 0);
  EXPECT_TRUE(StatusBox()->item(0)->isSelected());

  Click("btnStop");
  EXPECT_FALSE(console_.HTTPServer.Active());
  ExpectEditable(true);
  EXPECT_FALSE(Enabled("btnStop"));
  EXPECT_THAT(StatusList(StatusBox()),
              ElementsAre(StartsWith("Started at:"), StartsWith("Stopped at:")));
  EXPECT_TRUE(StatusBox()->item(1)->isSelected()) << "the latest line is selected";

  Click("btnStart");
  EXPECT_THAT(StatusList(StatusBox()), ElementsAre(StartsWith("Started at:")));
  Click("btnStop");

  // A start while typing (Auto Start, say) takes the focus to Stop, not along the fields.
  Field("edLogFile")->setFocus();
  Find<QPushButton>("btnStart")->click();
  EXPECT_EQ(window_->focusWidget(), Find<QWidget>("btnStop"));
  EXPECT_EQ(Field("edLogFile")->selectedText(), "");
  Click("btnStop");
}

TEST_F(MainWindowTest, FailedStartLeavesTheControlsAsTheyWere) {
  TCommandLine options = LoopbackOptions();
  options.Port = "";
  Open(options);
  Click("btnStart");
  EXPECT_FALSE(console_.HTTPServer.Active());
  ExpectEditable(true);
  EXPECT_TRUE(Enabled("btnStop"));
  EXPECT_THAT(StatusList(StatusBox()),
              ElementsAre("Exception EConvertError in Activate. Error is:\"'' is not a valid "
                          "integer value\"."));
}

TEST_F(MainWindowTest, PortFieldTakesDigitsOnlyWhetherTypedOrPasted) {
  TCommandLine options = LoopbackOptions();
  options.Port = "";
  Open(options);
  QLineEdit* port = Field("edPort");
  QTest::keyClicks(port, "8");
  const QSignalSpy changes(port, &QLineEdit::textChanged);
  QTest::keyClicks(port, "a");
  EXPECT_EQ(changes.count(), 0) << "a typed letter never reaches the field";
  QTest::keyClicks(port, "0");
  EXPECT_EQ(port->text(), "80");
  QTest::keyClick(port, Qt::Key_Backspace);
  EXPECT_EQ(port->text(), "8");

  QGuiApplication::clipboard()->setText("80.8");
  port->selectAll();
  QTest::keyClick(port, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(port->text(), "80");
  EXPECT_EQ(port->cursorPosition(), 2);
  EXPECT_EQ(console_.Settings.Port, "80");

  port->setText("12x34");
  EXPECT_EQ(port->text(), "1234") << "every change is filtered, not only typing";
}

TEST_F(MainWindowTest, DoubleClickOnHostPutsTheMachineAddressThere) {
  Open();
  QTest::mouseDClick(Field("edHost"), Qt::LeftButton);
  EXPECT_EQ(Field("edHost")->text(), "192.0.2.9");
  EXPECT_EQ(console_.Settings.Host, "192.0.2.9");
}

TEST_F(MainWindowTest, AutoStartPressesStartAboutASecondAfterStartUp) {
  dir_.Write("quenby.ini", "[Setup]\r\nAutoStart=TRUE\r\n");
  QElapsedTimer clock;
  clock.start();
  Open();
  EXPECT_FALSE(console_.HTTPServer.Active());
  EXPECT_TRUE(WaitFor([&] { return console_.HTTPServer.Active(); }));
  EXPECT_GE(clock.elapsed(), 900);
  EXPECT_THAT(StatusList(StatusBox()), ElementsAre(StartsWith("Started at:")));
  EXPECT_FALSE(Enabled("btnStart"));
}

TEST_F(MainWindowTest, NoAutoStartWhenNotTicked) {
  Open();
  EXPECT_TRUE(WaitFor([&] { return !console_.Timer1Enabled; }));
  EXPECT_FALSE(console_.HTTPServer.Active());
  EXPECT_THAT(StatusList(StatusBox()), IsEmpty());
}

TEST_F(MainWindowTest, ExitWhileStoppedShowsAndLogsAStopLineThenClosesAndSaves) {
  Open();
  Click("btnExit");
  EXPECT_FALSE(window_->isVisible());
  ASSERT_THAT(console_.StatusLines(), ElementsAre(StartsWith("Stopped at:")));
  EXPECT_THAT(StatusList(StatusBox()), ElementsAre(console_.StatusLines()[0]));
  EXPECT_THAT(Log(), HasSubstr("\r\n" + console_.StatusLines()[0] + "\r\n"));
  EXPECT_TRUE(dir_.Exists("quenby.ini"));
}

TEST_F(MainWindowTest, CloseStopsTheServerAndSavesWhatTheWindowShowsInKeyOrder) {
  TCommandLine options = LoopbackOptions();
  options.EnableLog = false;
  Open(options);
  QLineEdit* index = Field("edIndex");
  index->selectAll();
  QTest::keyClicks(index, "home.htm");
  Field("edRoot")->clear();
  QPlainTextEdit* alias = Find<QPlainTextEdit>("memoAlias");
  alias->clear();
  QTest::keyClicks(alias, "/bin=/srv/dlls");
  QTest::keyClick(alias, Qt::Key_Return);
  QTest::keyClicks(alias, "/img=/srv/img");
  QTest::keyClick(alias, Qt::Key_Return);
  QTest::mouseClick(Find<QCheckBox>("chkAutoStart"), Qt::LeftButton);
  Click("btnStart");
  ASSERT_TRUE(console_.HTTPServer.Active());

  EXPECT_TRUE(window_->close());
  EXPECT_FALSE(console_.HTTPServer.Active());
  EXPECT_THAT(console_.StatusLines().back(), StartsWith("Stopped at:"));
  EXPECT_EQ(dir_.Read("quenby.ini"), "[Setup]\nHost=127.0.0.1\nPort=0\nIndex=home.htm\nLogFile=" +
                                         dir_.FilePath("quenby.log") +
                                         "\nEnableLog=FALSE\nAutoStart=TRUE\n"
                                         "[Alias]\n/bin=/srv/dlls\n/img=/srv/img\n")
      << "an emptied Root removes its key";
}

TEST_F(MainWindowTest, FailingSaveKeepsTheWindowOpenUntilTheUserClosesWithoutSaving) {
  TCommandLine options = LoopbackOptions();
  options.SettingsFile = dir_.FilePath("missing/quenby.ini");
  Open(options);
  EXPECT_FALSE(window_->close());
  EXPECT_TRUE(window_->isVisible());
  QMessageBox* box = UnsavedSettingsBox();
  ASSERT_NE(box, nullptr);
  EXPECT_TRUE(box->isVisible());
  EXPECT_THAT(box->text().toStdString(), HasSubstr("Unable to write to"));
  ASSERT_NE(box->defaultButton(), nullptr);
  EXPECT_EQ(box->defaultButton()->text(), "Keep Window Open");
  QTest::mouseClick(box->defaultButton(), Qt::LeftButton);
  EXPECT_TRUE(WaitFor([&] { return UnsavedSettingsBox() == nullptr; }));
  EXPECT_TRUE(window_->isVisible());

  EXPECT_FALSE(window_->close());
  box = UnsavedSettingsBox();
  ASSERT_NE(box, nullptr);
  QAbstractButton* discard = nullptr;
  for (QAbstractButton* button : box->buttons()) {
    if (button->text() == "Close without saving") {
      discard = button;
    }
  }
  ASSERT_NE(discard, nullptr);
  QTest::mouseClick(discard, Qt::LeftButton);
  EXPECT_TRUE(WaitFor([&] { return !window_->isVisible(); }));
  EXPECT_FALSE(dir_.Exists("missing"));
}

TEST_F(MainWindowTest, UnloggableStartLineIsShownInAMessageBoxAndTheServerRuns) {
  TCommandLine options = LoopbackOptions();
  options.LogFile = dir_.FilePath("missing/quenby.log");
  Open(options);
  Click("btnStart");
  EXPECT_TRUE(console_.HTTPServer.Active());
  EXPECT_THAT(StatusList(StatusBox()), ElementsAre(StartsWith("Exception EInOutError")));
  QMessageBox* box = window_->findChild<QMessageBox*>();
  ASSERT_NE(box, nullptr);
  EXPECT_THAT(box->text().toStdString(), HasSubstr(dir_.FilePath("missing/quenby.log")));
}

TEST_F(MainWindowTest, StatusListMenuCopiesTheRunningServersAddress) {
  Open();
  QAction* copy = Find<QAction>("actCopyAddress");
  EXPECT_FALSE(copy->isEnabled());
  EXPECT_FALSE(Find<QAction>("actOpenInBrowser")->isEnabled());
  Click("btnStart");
  ASSERT_TRUE(copy->isEnabled());
  copy->trigger();
  EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(),
            "http://127.0.0.1:" + std::to_string(console_.ListeningPort()) + "/");
  Click("btnStop");
  EXPECT_FALSE(copy->isEnabled());
}

TEST_F(MainWindowTest, AServerOnTLSIsOfferedWithItsHttpsAddress) {
  TCommandLine options = LoopbackOptions();
  options.TLS = true;
  Open(options);
  Click("btnStart");
  ASSERT_TRUE(console_.HTTPServer.Active());
  Find<QAction>("actCopyAddress")->trigger();
  EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(),
            "https://127.0.0.1:" + std::to_string(console_.ListeningPort()) + "/");
  Click("btnStop");
}

TEST_F(MainWindowTest, MinimizeMinimizesTheWindow) {
  Open();
  Click("btnMinimize");
  EXPECT_TRUE(WaitFor([&] { return window_->isMinimized(); }));
}

}  // namespace
}  // namespace quenby::test
