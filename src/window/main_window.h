#pragma once

#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <string>

#include "console/command_line.h"

class QAction;
class QCheckBox;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QListWidget;
class QMessageBox;
class QPlainTextEdit;
class QPushButton;

namespace quenby {

class TServerConsole;

/// Caption of the window and of its message boxes.
inline constexpr const char* WindowCaption = "Quenby";
/// Client area of the window on the small font it was first laid out for; the frame keeps this
/// proportion and grows with the desktop's font.
constexpr int DesignClientWidth = 399;
constexpr int DesignClientHeight = 231;

/// The console window: a thin view over a TServerConsole. Every event is forwarded to the
/// console, and what the window shows (field texts, enabled controls, the Status list) is read
/// back from the console's state after each call. Start, Stop, Exit, the auto-start timer and the
/// close run the console off the window thread (RunOffWindowThread), so the window keeps painting
/// through a stop that waits for its peer threads, and no other console call can start meanwhile.
/// Window thread only; the console must outlive the window.
class TdlgMain : public QWidget {
 public:
  /// Builds the controls, runs FormCreate with `options` (each given option takes the place of the
  /// settings file's value) and shows the loaded settings. Raises what FormCreate raises.
  explicit TdlgMain(TServerConsole& console, const TCommandLine& options = {},
                    QWidget* parent = nullptr);
  ~TdlgMain() override;
  TdlgMain(const TdlgMain&) = delete;
  TdlgMain& operator=(const TdlgMain&) = delete;

  /// The address of the running server as a browser would ask for it ("http://HOST:PORT/"), or an
  /// empty text while the server is inactive.
  std::string ServerAddress() const;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void CreateControls();
  void LayOutControls();
  void SizeFrame();
  void ConnectControls();
  void SetTabOrder();

  void ShowSettings();
  void ShowState();
  void ShowStatusList();

  /// Runs a console call off the window thread, then shows the console's state and replays a close
  /// asked for meanwhile. Rethrows what the call raised.
  void CallConsole(const std::function<void()>& call);
  /// CallConsole with a failure shown in a message box. False when the call raised, or did not run
  /// because another one is running.
  bool Run(const std::function<void()>& call);
  void ShowError(const std::string& message);
  void AskAboutUnsavedSettings(const std::string& message);

  void btnStartClick();
  void btnStopClick();
  void btnMinimizeClick();
  void btnExitClick();
  void btnBrowseRootClick();
  void btnBrowseLogFileClick();
  void Timer1Timer();
  bool edPortKeyPress(const QKeyEvent& event) const;
  void edPortChange();
  void edHostDblClick();
  void memoAliasChange();

  TServerConsole& console_;

  QLineEdit* edHost = nullptr;
  QLineEdit* edPort = nullptr;
  QLineEdit* edIndex = nullptr;
  QLineEdit* edRoot = nullptr;
  QPushButton* btnBrowseRoot = nullptr;
  QPlainTextEdit* memoAlias = nullptr;
  QLineEdit* edLogFile = nullptr;
  QPushButton* btnBrowseLogFile = nullptr;
  QCheckBox* chkEnableLog = nullptr;
  QListWidget* lbLog = nullptr;
  QCheckBox* chkAutoStart = nullptr;
  QPushButton* btnStart = nullptr;
  QPushButton* btnStop = nullptr;
  QPushButton* btnMinimize = nullptr;
  QPushButton* btnExit = nullptr;
  QAction* actOpenInBrowser = nullptr;
  QAction* actCopyAddress = nullptr;
  QTimer Timer1;

  /// A console call is running off the window thread.
  bool busy_ = false;
  /// A close asked for while busy, replayed when the call ends.
  bool close_pending_ = false;
  /// The console asked to close the window (Exit).
  bool close_asked_ = false;
  /// The user chose to close although the settings could not be saved.
  bool close_without_saving_ = false;
  bool shown_once_ = false;
  QPointer<QMessageBox> unsaved_box_;
};

}  // namespace quenby
