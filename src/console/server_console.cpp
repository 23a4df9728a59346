#include "console/server_console.h"

#include "net/peer_thread.h"
#include "net/tcp_connection.h"
#include "net/thread_mgr_pool.h"
#include "util/activity_log.h"
#include "util/date_time.h"
#include "util/exception.h"
#include "util/text.h"

namespace quenby {

namespace {

constexpr const char* StartedLine = "Started at:";
constexpr const char* StoppedLine = "Stopped at:";
constexpr const char* ActivateExceptionFormat = "Exception %s in Activate. Error is:\"%s\".";
constexpr const char* ReloadingLine = "Reloading module %s: its file has changed";
constexpr const char* ReloadHeldBackLine =
    "Module %s has changed; calls still run in its old copy, which serves until they end";
constexpr const char* ReloadStaysLoadedLine =
    "Module %s keeps itself loaded: restart the server to run its new build";
constexpr char FirstDigit = '0';
constexpr char LastDigit = '9';

}  // namespace

TServerConsole::TServerConsole(std::string executable_path, std::string mime_registry)
    : executable_path_(std::move(executable_path)), mime_registry_(std::move(mime_registry)) {
  ConfigureComponents();
}

TServerConsole::~TServerConsole() {
  try {
    HTTPServer.SetActive(false);
  } catch (...) {
    // The server's own destructor waits for whatever is left; nothing to show any more.
  }
}

void TServerConsole::ConfigureComponents() {
  HTTPServer.Bindings().Add();
  HTTPServer.TerminateWaitTime = ConsoleTerminateWaitTime;
  HTTPServer.ListenQueue = ConsoleListenQueue;
  HTTPServer.DeferAccept = ConsoleDeferAccept;
  HTTPServer.SetThreadMgr(std::make_shared<TThreadMgrPool>());
  HTTPServer.AutoStartSession = true;
  HTTPServer.ParseParams = false;
  HTTPServer.ServerSoftware = std::string(ConsoleServerSoftware);
  HTTPServer.SessionTimeOut = ConsoleSessionTimeOut;
  HTTPServer.KeepAlive = false;
  HTTPServer.OnCommandGet = [this](TPeerThread& thread, THTTPRequestInfo& request,
                                   THTTPResponseInfo& response) {
    handler_->HTTPServerCommandGet(thread, request, response);
  };
  ISAPIRunner.Server = &HTTPServer;
  ISAPIRunner.OnLogServerMessage = [this](TISAPIRunner& sender, THTTPRequestInfo& request,
                                          THTTPResponseInfo& response, const std::string& message) {
    handler_->ISAPIRunnerLogServerMessage(sender, request, response, message);
  };
  ISAPIRunner.OnModuleTrace = [this](TISAPIRunner&, const std::string& line) {
    handler_->LogActivity(line);
  };
  ISAPIRunner.OnModuleReload = [this](TISAPIRunner&, const std::string& path, TReloadState state) {
    ReportModuleReload(path, state);
  };
  IPWatch1.SetActive(false);
  IPWatch1.HistoryEnabled = false;
  IPWatch1.HistoryFilename = DefaultHistoryFilename;
  ConfigureSSLComponent();
}

void TServerConsole::FormCreate(const TCommandLine& options) {
  WindowPending = true;
  InitDefaults();
  LoadSettings(options);
}

void TServerConsole::FormShow() {
  WindowPending = false;
}

void TServerConsole::FormClose() {
  if (HTTPServer.Active()) {
    btnStopClick();
  }
  SaveSettings();
}

void TServerConsole::InitDefaults() {
  LogFileName = Location().LogFile;
  DefaultRootDir = DefaultsForExecutable(executable_path_).Root;
  if (!mime_types_) {
    mime_types_ = std::make_unique<TMimeTable>(true, mime_registry_);
    handler_ = std::make_unique<TRequestHandler>(HTTPServer, ISAPIRunner, *mime_types_);
  }
}

void TServerConsole::LoadSettings(const TCommandLine& options) {
  IniFileName = options.SettingsFile.value_or(Location().SettingsFile);
  TSettingsDefaults defaults = DefaultsForExecutable(executable_path_);
  defaults.LogFile = Location().LogFile;
  defaults.Host = [this] { return LocalAddress(); };
  Settings = LoadConsoleSettings(IniFileName, defaults, options);
  TLS = LoadTLSSettings(options);
  Features = LoadFeatureOptions(options);
  LogFileName = Settings.LogFile;
}

const TSettingsLocation& TServerConsole::Location() {
  if (!location_) {
    location_ = ChooseSettingsLocation(executable_path_, TUserFolders::FromEnvironment());
  }
  return *location_;
}

void TServerConsole::SaveSettings() {
  SaveConsoleSettings(IniFileName, Settings);
}

std::string TServerConsole::LocalAddress() {
  try {
    return IPWatch1.QueryLocalAddress();
  } catch (const Exception&) {
    // A machine without a network address still serves itself.
    return LoopbackAddress;
  }
}

void TServerConsole::ApplyServerState() {
  if (WindowPending) {
    return;
  }
  const bool start = StartRequested;
  const std::string line = std::string(start ? StartedLine : StoppedLine) + FormatStamp(Now());
  try {
    if (start) {
      StartServer();
    } else {
      StopServer();
    }
    EnableControls(start);
    ShowStatus(line);
    if (start && Features.OpenBrowser)
      OpenBrowser();
  } catch (const std::exception& e) {
    ShowStatus(Format(ActivateExceptionFormat, ExceptionClassName(e).c_str(), e.what()));
  }
}

void TServerConsole::StartServer() {
  TSocketHandle& binding = HTTPServer.Bindings()[0];
  binding.IP = Settings.Host;
  // The whole number goes on: a port out of range is refused by the bind, not truncated.
  const int port = StrToInt(Settings.Port);
  binding.Port = port;
  HTTPServer.SetDefaultPort(port);
  HTTPServer.KeepAlive = Features.KeepAlive;
  HTTPServer.FramedKeepAlive = Features.KeepAlive;
  HTTPServer.AllMethodsToCommandGet = Features.AllMethods;
  handler_->SetSettings(HandlerSettings());
  ISAPIRunner.ReloadModules = Features.ReloadModules;
  ISAPIRunner.TraceModules = Features.TraceModules;
  AttachTLSHandler();
  HTTPServer.SetActive(true);
}

void TServerConsole::StopServer() {
  HTTPServer.SetActive(false);
  HTTPServer.KeepAlive = false;
  ISAPIRunner.UnloadAllModules();
  ClearPeerThreadList();
}

THandlerSettings TServerConsole::HandlerSettings() const {
  THandlerSettings copy;
  copy.Root = Settings.Root;
  copy.Index = Settings.Index;
  copy.AliasLines = Settings.AliasLines;
  copy.EnableLog = Settings.EnableLog;
  copy.LogFileName = LogFileName;
  copy.AllMethods = Features.AllMethods;
  copy.ListFolders = Features.ListFolders;
  copy.HTTPCache = Features.HTTPCache;
  return copy;
}

void TServerConsole::ReportModuleReload(const std::string& path, TReloadState state) {
  const char* format = ReloadingLine;
  if (state == TReloadState::HeldBack)
    format = ReloadHeldBackLine;
  else if (state == TReloadState::StaysLoaded)
    format = ReloadStaysLoadedLine;
  const std::string line = Format(format, path.c_str());
  try {
    handler_->LogActivity(line);
  } catch (const std::exception&) {
    // The request goes on without its log line, as it would without logging.
  }
  if (OnServerNote)
    OnServerNote(line);
}

void TServerConsole::EnableControls(bool running) {
  const bool editable = !running;
  Enabled.Host = editable;
  Enabled.Port = editable;
  Enabled.Root = editable;
  Enabled.Index = editable;
  Enabled.LogFile = editable;
  Enabled.Alias = editable;
  Enabled.EnableLog = editable;
  Enabled.Start = editable;
  Enabled.Stop = running;
}

void TServerConsole::ShowStatus(const std::string& text) {
  if (StartRequested) {
    status_lines_.clear();
  }
  status_lines_.push_back(text);
  selected_status_line_ = static_cast<int>(status_lines_.size()) - 1;
  if (OnStatus) {
    OnStatus(text);
  }
  LogActivity(text);
}

void TServerConsole::LogActivity(std::string_view text) {
  WriteActivity(text, Settings.EnableLog, LogFileName);
}

void TServerConsole::ClearPeerThreadList() {
  HTTPServer.ForEachPeerThread([](TPeerThread& thread) {
    if (TTCPServerConnection* connection = thread.Connection()) {
      connection->DropSocket();
    }
  });
}

void TServerConsole::btnStartClick() {
  StartRequested = true;
  ApplyServerState();
}

void TServerConsole::btnStopClick() {
  StartRequested = false;
  ApplyServerState();
}

void TServerConsole::btnExitClick() {
  btnStopClick();
  if (OnCloseWindow) {
    OnCloseWindow();
  }
}

void TServerConsole::Timer1Timer() {
  if (!Timer1Enabled) {
    return;
  }
  Timer1Enabled = false;
  if (Settings.AutoStart) {
    btnStartClick();
  }
}

void TServerConsole::edPortChange() {
  Settings.Port = PortDigitsOnly(Settings.Port);
}

bool TServerConsole::edPortKeyPress(char key) {
  return key == BackspaceKey || (key >= FirstDigit && key <= LastDigit);
}

void TServerConsole::edHostDblClick() {
  Settings.Host = IPWatch1.QueryLocalAddress();
}

int TServerConsole::ListeningPort() {
  if (!HTTPServer.Active() || HTTPServer.Bindings().Count() == 0) {
    return 0;
  }
  return HTTPServer.Bindings()[0].Port;
}

}  // namespace quenby
