#include "http/authentication.h"

#include <mutex>
#include <utility>

#include "http/base64_coder.h"
#include "http/http_exceptions.h"
#include "http/http_text.h"
#include "util/text.h"

namespace quenby {
namespace {

constexpr std::string_view BasicScheme = "Basic";
constexpr std::string_view ChallengeParamSeparator = ", ";

class TAuthenticationRegistry {
 public:
  TAuthenticationRegistry() {
    methods_.emplace_back(std::string(BasicScheme),
                          TAuthenticationClass{"TBasicAuthentication", [] {
                                                 return std::make_unique<TBasicAuthentication>();
                                               }});
  }

  void Register(std::string_view name, TAuthenticationClass method) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (const auto* existing = FindLocked(name)) {
      throw EAlreadyRegisteredAuthenticationMethod(
          Format("This authentication method is already registered with class name %s.",
                 existing->ClassName.c_str()));
    }
    methods_.emplace_back(std::string(name), std::move(method));
  }

  std::optional<TAuthenticationClass> Find(std::string_view name) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (const auto* found = FindLocked(name))
      return *found;
    return std::nullopt;
  }

 private:
  const TAuthenticationClass* FindLocked(std::string_view name) const {
    for (const auto& [method_name, method] : methods_) {
      if (SameText(method_name, name))
        return &method;
    }
    return nullptr;
  }

  mutable std::mutex mutex_;
  std::vector<std::pair<std::string, TAuthenticationClass>> methods_;
};

TAuthenticationRegistry& Registry() {
  static TAuthenticationRegistry registry;
  return registry;
}

// "realm=x" becomes "realm" + separator + "x", so the parameter can be looked up by name.
std::string ParamLine(std::string param, const std::string& separator) {
  const std::size_t equals = param.find('=');
  if (equals != std::string::npos)
    param.replace(equals, 1, separator);
  return param;
}

// Without its first and last character (the quotes).
std::string Unquoted(const std::string& text) {
  return text.size() >= 2 ? text.substr(1, text.size() - 2) : std::string();
}

}  // namespace

TBasicCredentials DecodeBasicCredentials(std::string_view authorization) {
  std::string rest(authorization);
  const std::string scheme = SplitOff(rest, " ");
  if (!SameText(scheme, BasicScheme))
    throw EHTTPUnsupportedAuthorisationScheme("Unsupported authorization scheme.");
  std::string decoded = TDecoderMIME().Decode(rest);
  TBasicCredentials credentials;
  credentials.User = SplitOff(decoded, ":");
  credentials.Password = decoded;
  return credentials;
}

std::string TBasicAuthentication::Authentication() const {
  return std::string(BasicScheme) + " " + TEncoderMIME().Encode(Username() + ":" + Password());
}

bool TBasicAuthentication::ReadChallenge() {
  for (const std::string& challenge : AuthParams) {
    if (!StartsText(BasicScheme, challenge))
      continue;
    std::string rest = challenge;
    SplitOff(rest, " ");
    while (!rest.empty())
      Params.Add(ParamLine(SplitOff(rest, ChallengeParamSeparator), Params.Separator));
    Realm = Unquoted(Params.ValueByName("realm"));
    break;
  }
  ++Steps;
  const bool have_user = !Username().empty();
  State = have_user ? TAuthWhatsNext::DoRequest : TAuthWhatsNext::AskTheProgram;
  return have_user;
}

void RegisterAuthenticationMethod(std::string_view method_name, TAuthenticationClass method) {
  Registry().Register(method_name, std::move(method));
}

std::optional<TAuthenticationClass> FindAuthenticationMethod(std::string_view method_name) {
  return Registry().Find(method_name);
}

}  // namespace quenby
