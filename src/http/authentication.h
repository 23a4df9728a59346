#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "http/header_list.h"

namespace quenby {

/// User name and password carried by Basic credentials.
struct TBasicCredentials {
  std::string User;
  std::string Password;
};

/// Decodes the value of an "Authorization" header ("Basic " + base64 of "user:password",
/// scheme word in any case): the user is the decoded text before its first ":", the password
/// everything after it (empty without a ":"). "Basic" alone gives empty credentials.
/// Raises EHTTPUnsupportedAuthorisationScheme ("Unsupported authorization scheme.") for any
/// other scheme and EDecoderError for base64 whose length is not a multiple of 4.
TBasicCredentials DecodeBasicCredentials(std::string_view authorization);

/// Where a client-direction authentication stands after reading a challenge.
enum class TAuthWhatsNext { AskTheProgram, DoRequest };

/// A client-direction authentication scheme: builds the "Authorization" value from the user
/// name and password kept in Params, and reads the challenges a server sent. The server
/// itself never creates one. Used by one thread at a time.
class TAuthentication {
 public:
  TAuthentication() = default;
  virtual ~TAuthentication() = default;
  TAuthentication(const TAuthentication&) = delete;
  TAuthentication& operator=(const TAuthentication&) = delete;

  /// The credentials text for an "Authorization" header; empty when there is none.
  virtual std::string Authentication() const = 0;
  /// Reads the challenge lines in AuthParams; returns whether a user name is available.
  virtual bool ReadChallenge() = 0;

  std::string Username() const { return Params.ValueByName("Username"); }
  void SetUsername(std::string_view value) { Params.SetValue("Username", value); }
  std::string Password() const { return Params.ValueByName("Password"); }
  void SetPassword(std::string_view value) { Params.SetValue("Password", value); }

  /// Challenges read so far.
  int Steps = 0;
  TAuthWhatsNext State = TAuthWhatsNext::AskTheProgram;
  /// "Username" and "Password", then the parameters of the last challenge read.
  THeaderList Params;
  /// The challenge lines received ("WWW-Authenticate" values).
  std::vector<std::string> AuthParams;
};

/// The Basic scheme.
class TBasicAuthentication : public TAuthentication {
 public:
  /// "Basic " followed by the base64 of user name, ":", password.
  std::string Authentication() const override;
  /// Takes the first challenge line that begins with "Basic", adds its parameters to Params
  /// and sets Realm from the quoted "realm" parameter.
  bool ReadChallenge() override;

  std::string Realm;
};

/// A scheme class for the registry: its name and how to make an object of it.
struct TAuthenticationClass {
  std::string ClassName;
  std::function<std::unique_ptr<TAuthentication>()> Create;
};

/// Adds a scheme to the process-wide registry ("Basic" is there from the start). Raises
/// EAlreadyRegisteredAuthenticationMethod ("This authentication method is already
/// registered with class name %s.") when the name (ignoring case) is present; the first
/// registration stays. Thread-safe.
void RegisterAuthenticationMethod(std::string_view method_name, TAuthenticationClass method);

/// The class registered under `method_name` (ignoring case), if any. Thread-safe.
std::optional<TAuthenticationClass> FindAuthenticationMethod(std::string_view method_name);

}  // namespace quenby
