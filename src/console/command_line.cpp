#include "console/command_line.h"

#include <algorithm>
#include <array>

namespace quenby {

namespace {

constexpr std::string_view OptionPrefix = "--";
constexpr std::size_t HelpColumn = 24;

/// Stores an option's value; returns an error message, or an empty text when accepted.
using ApplyValue = std::string (*)(TCommandLine& options, const std::string& value);
/// Records a flag option.
using ApplyFlag = void (*)(TCommandLine& options);

/// One option: the single table that both the parser and the usage text are built from.
struct OptionInfo {
  std::string_view name;      // without the leading "--"
  std::string_view argument;  // placeholder of the value; empty for a flag
  std::string_view help;
  ApplyValue apply_value;
  ApplyFlag apply_flag;
};

template <std::optional<std::string> TCommandLine::*Field>
std::string SetText(TCommandLine& options, const std::string& value) {
  options.*Field = value;
  return {};
}

template <std::optional<bool> TCommandLine::*Field>
void SetFlag(TCommandLine& options) {
  options.*Field = true;
}

std::string AddAlias(TCommandLine& options, const std::string& value) {
  if (!options.AliasLines)
    options.AliasLines.emplace();
  if (value.empty())
    return {};
  if (value.find('=') == std::string::npos) {
    return "option '--alias' needs the form /NAME=DIR, not '" + value + "'";
  }
  options.AliasLines->push_back(value);
  return {};
}

const std::array<OptionInfo, 21> OptionTable = {{
    {"headless", "", "run without a window, printing status lines to stdout", nullptr,
     [](TCommandLine& o) { o.Headless = true; }},
    {"settings", "FILE", "settings file to use instead of the one beside the program",
     SetText<&TCommandLine::SettingsFile>, nullptr},
    {"host", "ADDR", "address to listen on", SetText<&TCommandLine::Host>, nullptr},
    {"port", "N", "port to listen on (0 picks a free one)", SetText<&TCommandLine::Port>, nullptr},
    {"root", "DIR", "document root", SetText<&TCommandLine::Root>, nullptr},
    {"index", "NAME", "default document of a folder", SetText<&TCommandLine::Index>, nullptr},
    {"log-file", "FILE", "activity log file", SetText<&TCommandLine::LogFile>, nullptr},
    {"log", "", "write the activity log", nullptr, [](TCommandLine& o) { o.EnableLog = true; }},
    {"no-log", "", "do not write the activity log", nullptr,
     [](TCommandLine& o) { o.EnableLog = false; }},
    {"alias", "/NAME=DIR", "serve DIR under /NAME; repeat for more; replaces the file's aliases",
     AddAlias, nullptr},
    {"tls", "", "serve HTTPS with a self-signed certificate kept beside the settings", nullptr,
     SetFlag<&TCommandLine::TLS>},
    {"tls-cert", "FILE", "serve HTTPS with this certificate (PEM); needs --tls-key",
     SetText<&TCommandLine::TLSCertFile>, nullptr},
    {"tls-key", "FILE", "the private key (PEM) of --tls-cert", SetText<&TCommandLine::TLSKeyFile>,
     nullptr},
    {"keep-alive", "", "keep connections open between requests", nullptr,
     SetFlag<&TCommandLine::KeepAlive>},
    {"http-cache", "", "validators, 304 and byte ranges for files", nullptr,
     SetFlag<&TCommandLine::HTTPCache>},
    {"list-folders", "", "list a folder that has no index document", nullptr,
     SetFlag<&TCommandLine::ListFolders>},
    {"open", "", "open the server's address in the browser after a start", nullptr,
     SetFlag<&TCommandLine::OpenBrowser>},
    {"reload-modules", "", "reload a module whose file was rebuilt, at its next request", nullptr,
     SetFlag<&TCommandLine::ReloadModules>},
    {"trace-modules", "", "log every module call and callback", nullptr,
     SetFlag<&TCommandLine::TraceModules>},
    {"all-methods", "", "pass every request method to the handler", nullptr,
     SetFlag<&TCommandLine::AllMethods>},
    {"help", "", "print this text and exit", nullptr, [](TCommandLine& o) { o.Help = true; }},
}};

const OptionInfo* FindOption(std::string_view name) {
  for (const OptionInfo& option : OptionTable) {
    if (option.name == name)
      return &option;
  }
  return nullptr;
}

bool IsOption(std::string_view argument) {
  return argument.starts_with(OptionPrefix);
}

/// Parses the option at `index`, consuming its value when it takes one. Returns an error
/// message or an empty text.
std::string ParseOption(const std::vector<std::string>& arguments, std::size_t& index,
                        TCommandLine& options) {
  const std::string& argument = arguments[index];
  const std::size_t equals = argument.find('=');
  const std::string name = argument.substr(OptionPrefix.size(), equals == std::string::npos
                                                                    ? std::string::npos
                                                                    : equals - OptionPrefix.size());
  const OptionInfo* option = FindOption(name);
  if (option == nullptr || name.empty())
    return "unknown option '" + argument + "'";
  if (option->apply_flag != nullptr) {
    if (equals != std::string::npos)
      return "option '--" + name + "' takes no value";
    option->apply_flag(options);
    return {};
  }
  if (equals != std::string::npos)
    return option->apply_value(options, argument.substr(equals + 1));
  if (index + 1 >= arguments.size() || IsOption(arguments[index + 1])) {
    return "option '--" + name + "' needs a value";
  }
  return option->apply_value(options, arguments[++index]);
}

}  // namespace

TCommandLineResult ParseCommandLine(const std::vector<std::string>& arguments) {
  TCommandLineResult result;
  for (std::size_t index = 0; index < arguments.size() && !result.Options.Help; ++index) {
    const std::string& argument = arguments[index];
    if (!IsOption(argument)) {
      result.Error = "unexpected argument '" + argument + "'";
    } else {
      result.Error = ParseOption(arguments, index, result.Options);
    }
    if (!result.Ok())
      break;
  }
  if (result.Ok() && !result.Options.Help &&
      result.Options.TLSCertFile.has_value() != result.Options.TLSKeyFile.has_value()) {
    result.Error = "options '--tls-cert' and '--tls-key' go together";
  }
  return result;
}

TCommandLineResult ParseCommandLine(int argc, const char* const argv[]) {
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i)
    arguments.emplace_back(argv[i]);
  return ParseCommandLine(arguments);
}

std::string Usage(std::string_view program) {
  std::string text = "Usage: " + std::string(program) +
                     " [--headless] [--settings FILE] [--host ADDR] [--port N] [--root DIR]\n"
                     "       [--index NAME] [--log-file FILE] [--log | --no-log]"
                     " [--alias /NAME=DIR]...\n"
                     "       [--tls | --tls-cert FILE --tls-key FILE] [--keep-alive]"
                     " [--http-cache]\n"
                     "       [--list-folders] [--open] [--reload-modules] [--trace-modules]"
                     " [--all-methods]\n"
                     "Options (also as --option=VALUE):\n";
  for (const OptionInfo& option : OptionTable) {
    std::string left = "  --" + std::string(option.name);
    if (!option.argument.empty())
      left += " " + std::string(option.argument);
    left.resize(std::max(left.size() + 1, HelpColumn), ' ');
    text += left + std::string(option.help) + "\n";
  }
  text +=
      "Given options override the settings file; an empty value (--port \"\") empties\n"
      "that setting.\n";
  return text;
}

}  // namespace quenby
