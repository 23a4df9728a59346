#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "console/command_line.h"
#include "console/console_settings.h"
#include "console/feature_options.h"
#include "console/request_handler.h"
#include "console/settings_location.h"
#include "console/tls_settings.h"
#include "http/http_server.h"
#include "http/mime_table.h"
#include "isapi/isapi_runner.h"
#include "net/ip_watch.h"
#include "net/server_io_handler_ssl.h"

namespace quenby {

/// Bound of a stop's wait for the peer threads, in ms.
constexpr int ConsoleTerminateWaitTime = 50000;
/// Listen queue of the console's server: the transport's default of 15 overflows under a few
/// dozen clients connecting at once, and each overflow costs a client a SYN retransmit.
constexpr int ConsoleListenQueue = 511;
/// Seconds a connection of the console's server may wait in the kernel for its request before
/// a thread takes it. Browsers send at once; a thread that took the connection earlier would
/// only sleep until the request came. A client that connects and stays silent is taken after
/// about this long.
constexpr int ConsoleDeferAccept = 1;
/// Idle time of a session, in ms (sessions stay off: the console never switches them on).
constexpr int ConsoleSessionTimeOut = 1200000;
inline constexpr std::string_view ConsoleServerSoftware = "Larkmoor";
/// Delay of the one-shot auto-start timer, in ms (the view runs the timer).
constexpr int AutoStartDelay = 1000;
/// Character code of backspace, which the Port field accepts besides digits.
constexpr char BackspaceKey = 8;

/// Which of the window's controls accept input. Every control starts enabled.
struct TControlStates {
  bool Host = true;
  bool Port = true;
  bool Root = true;
  bool Index = true;
  bool LogFile = true;
  bool Alias = true;
  bool EnableLog = true;
  bool Start = true;
  bool Stop = true;
  // Enabled throughout; listed so that a view can take every flag from here.
  bool AutoStart = true;
  bool Minimize = true;
  bool Exit = true;
  bool StatusList = true;

  bool operator==(const TControlStates&) const = default;
};

/// The console without a window: owns the HTTP server, the extension host, the address watch and
/// the MIME table, keeps the settings and the enabled flags that the window's controls show, starts
/// and stops the server and keeps the Status list. A Qt window and the headless runner are views
/// over it.
///
/// Threads: every member function runs on one main thread, except the request handler, which the
/// server calls on its peer threads with a copy of the settings taken at start. OnStatus and
/// OnCloseWindow run on the main thread.
class TServerConsole {
  // Declared before the components: the server, destroyed first, waits for the peer threads that
  // use the handler, the MIME table and the extension host.
  std::unique_ptr<TMimeTable> mime_types_;
  std::unique_ptr<TRequestHandler> handler_;
  // The handler a start attaches to the server for HTTPS; nullptr for plain HTTP.
  std::unique_ptr<TServerIOHandlerSSL> tls_handler_;

 public:
  /// `executable_path` gives the default settings file, log file and document root; `mime_registry`
  /// is the host file the console's MIME table reads (empty: none).
  explicit TServerConsole(std::string executable_path,
                          std::string mime_registry = std::string(DefaultMimeTypesPath));
  /// Makes sure the server is inactive (FormDestroy). Never raises.
  ~TServerConsole();
  TServerConsole(const TServerConsole&) = delete;
  TServerConsole& operator=(const TServerConsole&) = delete;

  // Components, configured once by the constructor.
  TISAPIRunner ISAPIRunner;
  TIPWatch IPWatch1;
  THTTPServer HTTPServer;
  /// Configured ("cert.pem", "key.pem", server mode) but never attached to HTTPServer; HTTPS
  /// comes from the TLS settings instead.
  TServerIOHandlerSSL ServerIOHandlerSSL1;

  /// The controls' values; a view edits them only while the settings are enabled.
  TConsoleSettings Settings;
  /// How a start serves HTTPS; loaded with the settings (no control shows it).
  TTLSSettings TLS;
  /// The opt-in features of this run; loaded with the settings (no control shows them).
  TFeatureOptions Features;
  TControlStates Enabled;
  bool StartRequested = false;
  bool WindowPending = false;
  /// Whether the one-shot auto-start timer has yet to fire.
  bool Timer1Enabled = true;

  /// The settings file; set by LoadSettings.
  std::string IniFileName;
  /// The activity log of this run: the Log File setting as loaded.
  std::string LogFileName;
  /// The executable's folder, with its trailing "/".
  std::string DefaultRootDir;

  /// Told every status line as it is shown, before it is logged.
  std::function<void(const std::string&)> OnStatus;
  /// Told the lines the server logs on its own threads that a user watching the console
  /// should see (module reloads). Any thread: a handler must be thread-safe.
  std::function<void(const std::string&)> OnServerNote;
  /// Told a one-line warning that is no failure (the browser could not be opened). Unset:
  /// the line goes to stderr. Main thread.
  std::function<void(const std::string&)> OnWarning;
  /// Asked to close the window after Exit.
  std::function<void()> OnCloseWindow;

  /// WindowPending := true, InitDefaults, LoadSettings with the options of this run.
  void FormCreate(const TCommandLine& options = {});
  /// WindowPending := false.
  void FormShow();
  /// Stops a running server, then SaveSettings. Raises what SaveSettings raises, so the window
  /// stays open.
  void FormClose();

  /// Derives LogFileName and DefaultRootDir from the executable; creates the MIME table. The
  /// settings file and the default log file go beside the executable, or to the per-user folders
  /// when its folder takes no new files (ChooseSettingsLocation).
  void InitDefaults();
  /// Reads the settings file (or `options.SettingsFile`) into Settings, the options taking the
  /// place of stored values; LogFileName follows the loaded Log File. A missing host is asked of
  /// the address watch. Raises EInOutError for an unreadable file.
  void LoadSettings(const TCommandLine& options = {});
  /// Writes Settings to IniFileName. Raises EInOutError "Unable to write to %s".
  void SaveSettings();

  /// Starts or stops the server as StartRequested says, sets the enabled flags and shows the
  /// "Started at:"/"Stopped at:" line; a failure is shown as the exception line and leaves flags
  /// and StartRequested as they were. Raises only when that line cannot be logged either.
  void ApplyServerState();
  /// Adds a line to the Status list (a start first empties it), tells OnStatus and logs it. Raises
  /// EInOutError when the log cannot be written; the line is shown all the same.
  void ShowStatus(const std::string& text);
  /// Writes to LogFileName when logging is ticked.
  void LogActivity(std::string_view text);
  /// Drops the connection of any peer thread still listed, so that it ends and leaves the list;
  /// after a completed stop the list is already empty.
  void ClearPeerThreadList();

  void btnStartClick();
  void btnStopClick();
  /// Always stops first (also when stopped, so a "Stopped at:" line is shown and logged), then asks
  /// OnCloseWindow to close.
  void btnExitClick();
  /// Fires once: presses Start when Auto Start is ticked.
  void Timer1Timer();
  /// Filters the Port text to its leading digits.
  void edPortChange();
  /// Whether a character typed into the Port field is taken.
  static bool edPortKeyPress(char key);
  /// Puts the machine's own address into the Host field. Raises when there is none.
  void edHostDblClick();

  const std::vector<std::string>& StatusLines() const { return status_lines_; }
  /// Index of the selected Status line, -1 for none.
  int SelectedStatusLine() const { return selected_status_line_; }
  /// The port the server listens on (the bound one when 0 was asked); 0 when inactive.
  int ListeningPort();
  /// The address of the running server as a browser opens it: "https://HOST:PORT/" when it
  /// serves TLS, else "http://HOST:PORT/", with 0.0.0.0 for an empty host and the bound
  /// port. Empty when inactive.
  std::string BaseURL();
  /// BaseURL as a browser on this machine can open it: an empty host (any address) is
  /// reached through the loopback address.
  std::string BrowserURL();
  /// The SHA-256 fingerprint of the self-signed certificate the running server uses; empty
  /// when it uses none.
  const std::string& SelfSignedFingerprint() const { return self_signed_fingerprint_; }
  /// The request handler the server calls.
  TRequestHandler& Handler() { return *handler_; }
  TMimeTable* ConsoleMimeTypes() const { return mime_types_.get(); }

 private:
  void ConfigureComponents();
  void ConfigureSSLComponent();
  /// Attaches a TLS handler made from TLS to the server, or none; makes the self-signed
  /// certificate when it is asked for and missing. Raises the EOSSL loading exceptions for
  /// a certificate or key not named, EInOutError when a certificate cannot be written.
  void AttachTLSHandler();
  void StartServer();
  void StopServer();
  void EnableControls(bool running);
  /// The server's address with `host`; empty when inactive.
  std::string URLFor(const std::string& host);
  /// Opens BrowserURL with the desktop's opener; a failure is a warning.
  void OpenBrowser();
  /// Logs and notes a reload of a rebuilt module. Peer threads.
  void ReportModuleReload(const std::string& path, TReloadState state);
  THandlerSettings HandlerSettings() const;
  std::string LocalAddress();
  const TSettingsLocation& Location();

  std::string executable_path_;
  std::string mime_registry_;
  std::optional<TSettingsLocation> location_;
  std::vector<std::string> status_lines_;
  int selected_status_line_ = -1;
  std::string self_signed_fingerprint_;
};

}  // namespace quenby
