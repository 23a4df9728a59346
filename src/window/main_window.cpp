#include "window/main_window.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFileDialog>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QUrl>
#include <algorithm>
#include <exception>
#include <utility>

#include "console/server_console.h"
#include "util/text.h"
#include "window/off_thread_call.h"

namespace quenby {

namespace {

constexpr Qt::WindowFlags FrameFlags = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                       Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                                       Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint;
// A server listening on every address is reached on the loopback address.
constexpr const char* AnyAddress = "0.0.0.0";
constexpr const char* LoopbackHost = "127.0.0.1";
constexpr char16_t FirstPrintable = u' ';
constexpr char16_t DeleteCharacter = u'\x7f';
constexpr char16_t LastAscii = u'\x7f';

QString ToQt(const std::string& text) {
  return QString::fromStdString(text);
}

std::string FromQt(const QString& text) {
  return text.toStdString();
}

QString JoinLines(const std::vector<std::string>& lines) {
  QStringList joined;
  for (const std::string& line : lines) {
    joined << ToQt(line);
  }
  return joined.join(u'\n');
}

void ShowText(QLineEdit* field, const std::string& text) {
  const QString shown = ToQt(text);
  if (field->text() != shown) {
    const QSignalBlocker blocker(field);
    field->setText(shown);
    // A path longer than the field reads from its start, as typed.
    field->setCursorPosition(0);
  }
}

void ShowCheck(QCheckBox* box, bool checked) {
  const QSignalBlocker blocker(box);
  box->setChecked(checked);
}

}  // namespace

TdlgMain::TdlgMain(TServerConsole& console, const TCommandLine& options, QWidget* parent)
    : QWidget(parent, FrameFlags), console_(console) {
  CreateControls();
  LayOutControls();
  SetTabOrder();
  SizeFrame();
  console_.FormCreate(options);
  console_.OnCloseWindow = [this] { close_asked_ = true; };
  ShowState();
  ConnectControls();
  Timer1.setSingleShot(true);
  Timer1.setInterval(AutoStartDelay);
}

TdlgMain::~TdlgMain() {
  console_.OnCloseWindow = nullptr;
}

void TdlgMain::ConnectControls() {
  connect(btnStart, &QPushButton::clicked, this, [this] { btnStartClick(); });
  connect(btnStop, &QPushButton::clicked, this, [this] { btnStopClick(); });
  connect(btnMinimize, &QPushButton::clicked, this, [this] { btnMinimizeClick(); });
  connect(btnExit, &QPushButton::clicked, this, [this] { btnExitClick(); });
  connect(btnBrowseRoot, &QPushButton::clicked, this, [this] { btnBrowseRootClick(); });
  connect(btnBrowseLogFile, &QPushButton::clicked, this, [this] { btnBrowseLogFileClick(); });
  connect(&Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
  edPort->installEventFilter(this);
  edHost->installEventFilter(this);
  connect(edPort, &QLineEdit::textChanged, this, [this] { edPortChange(); });
  // The settings are the console's; every edit goes there at once.
  connect(edHost, &QLineEdit::textChanged, this,
          [this](const QString& text) { console_.Settings.Host = FromQt(text); });
  connect(edIndex, &QLineEdit::textChanged, this,
          [this](const QString& text) { console_.Settings.Index = FromQt(text); });
  connect(edRoot, &QLineEdit::textChanged, this,
          [this](const QString& text) { console_.Settings.Root = FromQt(text); });
  connect(edLogFile, &QLineEdit::textChanged, this,
          [this](const QString& text) { console_.Settings.LogFile = FromQt(text); });
  connect(memoAlias, &QPlainTextEdit::textChanged, this, [this] { memoAliasChange(); });
  connect(chkEnableLog, &QCheckBox::toggled, this,
          [this](bool checked) { console_.Settings.EnableLog = checked; });
  connect(chkAutoStart, &QCheckBox::toggled, this,
          [this](bool checked) { console_.Settings.AutoStart = checked; });
  connect(actOpenInBrowser, &QAction::triggered, this,
          [this] { QDesktopServices::openUrl(QUrl(ToQt(ServerAddress()))); });
  connect(actCopyAddress, &QAction::triggered, this,
          [this] { QGuiApplication::clipboard()->setText(ToQt(ServerAddress())); });
}

std::string TdlgMain::ServerAddress() const {
  std::string address = console_.BaseURL();
  // A browser cannot open the any-address: the machine's own loopback reaches the server.
  const std::string any_host = std::string("://") + AnyAddress + ":";
  if (const std::size_t at = address.find(any_host); at != std::string::npos) {
    address.replace(at + 3, std::string(AnyAddress).size(), LoopbackHost);
  }
  return address;
}

void TdlgMain::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  console_.FormShow();
  if (shown_once_) {
    return;
  }
  shown_once_ = true;
  if (QScreen* shown_on = screen()) {
    QRect frame = frameGeometry();
    frame.moveCenter(shown_on->availableGeometry().center());
    move(frame.topLeft());
  }
  Timer1.start();
}

void TdlgMain::closeEvent(QCloseEvent* event) {
  if (busy_) {
    // Closed again once the running call has ended.
    close_pending_ = true;
    event->ignore();
    return;
  }
  if (close_without_saving_) {
    event->accept();
    return;
  }
  try {
    CallConsole([this] { console_.FormClose(); });
  } catch (const std::exception& e) {
    event->ignore();
    AskAboutUnsavedSettings(e.what());
    return;
  }
  close_pending_ = false;
  event->accept();
}

bool TdlgMain::eventFilter(QObject* watched, QEvent* event) {
  if (watched == edPort && event->type() == QEvent::KeyPress) {
    return !edPortKeyPress(static_cast<const QKeyEvent&>(*event));
  }
  if (watched == edHost && event->type() == QEvent::MouseButtonDblClick && edHost->isEnabled()) {
    edHostDblClick();
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

void TdlgMain::ShowSettings() {
  const TConsoleSettings& settings = console_.Settings;
  ShowText(edHost, settings.Host);
  ShowText(edPort, settings.Port);
  ShowText(edIndex, settings.Index);
  ShowText(edRoot, settings.Root);
  ShowText(edLogFile, settings.LogFile);
  if (TextToLines(FromQt(memoAlias->toPlainText())) != settings.AliasLines) {
    const QSignalBlocker blocker(memoAlias);
    memoAlias->setPlainText(JoinLines(settings.AliasLines));
  }
  ShowCheck(chkEnableLog, settings.EnableLog);
  ShowCheck(chkAutoStart, settings.AutoStart);
}

void TdlgMain::ShowState() {
  ShowSettings();
  const TControlStates& enabled = console_.Enabled;
  const std::pair<QWidget*, bool> controls[] = {{edHost, enabled.Host},
                                                {edPort, enabled.Port},
                                                {edIndex, enabled.Index},
                                                {edRoot, enabled.Root},
                                                {btnBrowseRoot, enabled.Root},
                                                {memoAlias, enabled.Alias},
                                                {edLogFile, enabled.LogFile},
                                                {btnBrowseLogFile, enabled.LogFile},
                                                {chkEnableLog, enabled.EnableLog},
                                                {lbLog, enabled.StatusList},
                                                {chkAutoStart, enabled.AutoStart},
                                                {btnStart, enabled.Start},
                                                {btnStop, enabled.Stop},
                                                {btnMinimize, enabled.Minimize},
                                                {btnExit, enabled.Exit}};
  // Focus on a control about to be disabled goes to the button to press next, instead of hopping
  // along the fields that are being disabled one by one.
  QWidget* focused = focusWidget();
  for (const auto& [control, on] : controls) {
    if (control == focused && !on) {
      QPushButton* next = enabled.Stop ? btnStop : enabled.Start ? btnStart : btnExit;
      next->setEnabled(true);
      next->setFocus();
    }
  }
  for (const auto& [control, on] : controls) {
    control->setEnabled(on);
  }
  ShowStatusList();
  const bool running = !ServerAddress().empty();
  actOpenInBrowser->setEnabled(running);
  actCopyAddress->setEnabled(running);
}

void TdlgMain::ShowStatusList() {
  const std::vector<std::string>& lines = console_.StatusLines();
  bool same = lbLog->count() == static_cast<int>(lines.size());
  for (int i = 0; same && i < lbLog->count(); ++i) {
    same = lbLog->item(i)->text() == ToQt(lines[static_cast<std::size_t>(i)]);
  }
  if (same) {
    return;
  }
  lbLog->clear();
  for (const std::string& line : lines) {
    lbLog->addItem(ToQt(line));
  }
  const int selected = console_.SelectedStatusLine();
  if (selected >= 0 && selected < lbLog->count()) {
    lbLog->setCurrentRow(selected);
    lbLog->scrollToItem(lbLog->item(selected));
  }
}

void TdlgMain::CallConsole(const std::function<void()>& call) {
  busy_ = true;
  std::exception_ptr failure;
  try {
    RunOffWindowThread(call);
  } catch (...) {
    failure = std::current_exception();
  }
  busy_ = false;
  ShowState();
  if (close_pending_) {
    QTimer::singleShot(0, this, [this] {
      if (close_pending_) {
        close_pending_ = false;
        close();
      }
    });
  }
  if (failure) {
    std::rethrow_exception(failure);
  }
}

bool TdlgMain::Run(const std::function<void()>& call) {
  if (busy_) {
    return false;
  }
  try {
    CallConsole(call);
    return true;
  } catch (const std::exception& e) {
    ShowError(e.what());
    return false;
  }
}

void TdlgMain::ShowError(const std::string& message) {
  auto* box = new QMessageBox(QMessageBox::Warning, QString::fromUtf8(WindowCaption), ToQt(message),
                              QMessageBox::Ok, this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setWindowModality(Qt::WindowModal);
  box->open();
}

void TdlgMain::AskAboutUnsavedSettings(const std::string& message) {
  if (unsaved_box_) {
    unsaved_box_->raise();
    return;
  }
  auto* box = new QMessageBox(QMessageBox::Warning, QString::fromUtf8(WindowCaption), ToQt(message),
                              QMessageBox::NoButton, this);
  box->setObjectName(QStringLiteral("unsavedSettingsBox"));
  box->setInformativeText(
      QStringLiteral("The settings were not saved. The window stays open, so that you can put "
                     "right what stops the save and close again."));
  QPushButton* keep = box->addButton(QStringLiteral("Keep Window Open"), QMessageBox::RejectRole);
  QPushButton* discard =
      box->addButton(QStringLiteral("Close without saving"), QMessageBox::DestructiveRole);
  box->setDefaultButton(keep);
  box->setEscapeButton(keep);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setWindowModality(Qt::WindowModal);
  connect(box, &QMessageBox::buttonClicked, this, [this, discard](QAbstractButton* clicked) {
    if (clicked == discard) {
      close_without_saving_ = true;
      QTimer::singleShot(0, this, &QWidget::close);
    }
  });
  unsaved_box_ = box;
  box->open();
}

void TdlgMain::btnStartClick() {
  Run([this] { console_.btnStartClick(); });
}

void TdlgMain::btnStopClick() {
  Run([this] { console_.btnStopClick(); });
}

void TdlgMain::btnMinimizeClick() {
  showMinimized();
}

void TdlgMain::btnExitClick() {
  close_asked_ = false;
  if (Run([this] { console_.btnExitClick(); }) && close_asked_) {
    close();
  }
}

void TdlgMain::btnBrowseRootClick() {
  const QString folder =
      QFileDialog::getExistingDirectory(this, QStringLiteral("Host Path"), edRoot->text());
  if (!folder.isEmpty()) {
    edRoot->setText(folder);
  }
}

void TdlgMain::btnBrowseLogFileClick() {
  // The log is appended to, so choosing an existing file asks nothing.
  const QString file =
      QFileDialog::getSaveFileName(this, QStringLiteral("Log File"), edLogFile->text(),
                                   QStringLiteral("Log files (*.log);;All files (*)"), nullptr,
                                   QFileDialog::DontConfirmOverwrite);
  if (!file.isEmpty()) {
    edLogFile->setText(file);
  }
}

void TdlgMain::Timer1Timer() {
  if (busy_) {
    Timer1.start();
    return;
  }
  Run([this] { console_.Timer1Timer(); });
}

bool TdlgMain::edPortKeyPress(const QKeyEvent& event) const {
  // Shortcuts (paste, undo, select all) and editing keys are not typed characters.
  if (event.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) {
    return true;
  }
  const QString text = event.text();
  return std::all_of(text.begin(), text.end(), [](QChar typed) {
    const char16_t code = typed.unicode();
    if (code < FirstPrintable || code == DeleteCharacter) {
      return true;
    }
    return code < LastAscii && TServerConsole::edPortKeyPress(static_cast<char>(code));
  });
}

void TdlgMain::edPortChange() {
  const QString typed = edPort->text();
  const int cursor = edPort->cursorPosition();
  console_.Settings.Port = FromQt(typed);
  console_.edPortChange();
  const QString filtered = ToQt(console_.Settings.Port);
  if (filtered == typed) {
    return;
  }
  const QSignalBlocker blocker(edPort);
  edPort->setText(filtered);
  // The cursor stays behind the digits that were before it.
  const std::size_t kept = PortDigitsOnly(FromQt(typed.left(cursor))).size();
  edPort->setCursorPosition(static_cast<int>(std::min<std::size_t>(kept, filtered.size())));
}

void TdlgMain::edHostDblClick() {
  Run([this] { console_.edHostDblClick(); });
}

void TdlgMain::memoAliasChange() {
  console_.Settings.AliasLines = TextToLines(FromQt(memoAlias->toPlainText()));
}

}  // namespace quenby
