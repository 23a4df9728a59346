#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace quenby::test {

/// The quenby binary run as a child process with its stdout and stderr on pipes. Waits are
/// bounded; a child still running when the object goes is killed and reaped.
class TQuenbyProcess {
 public:
  /// Starts QUENBY_EXECUTABLE (or `executable`, when not empty) with `arguments`; `environment`
  /// replaces the inherited environment when given. Fails the test when the child cannot be
  /// started.
  explicit TQuenbyProcess(const std::vector<std::string>& arguments,
                          const std::vector<std::string>* environment = nullptr,
                          const std::string& executable = {});
  ~TQuenbyProcess();
  TQuenbyProcess(const TQuenbyProcess&) = delete;
  TQuenbyProcess& operator=(const TQuenbyProcess&) = delete;

  /// Reads stdout until a line starting with `prefix` has arrived (or the child closed its
  /// stdout, or `timeout` passed); returns that line, empty when none came.
  std::string WaitForLine(const std::string& prefix,
                          std::chrono::milliseconds timeout = std::chrono::seconds(20));
  /// The port of the "Listening on http://HOST:PORT/" line; 0 when none came.
  int WaitForListening();
  /// Sends `signal_number` without waiting.
  void Signal(int signal_number);
  /// Whether a `signal_number` sent to the child still waits to be taken; false once the child
  /// has ended.
  bool SignalPending(int signal_number) const;
  /// Sends SIGTERM and waits for the end; returns the exit code (-1 when killed).
  int Stop();
  /// Waits for the end without a signal; returns the exit code.
  int Wait(std::chrono::milliseconds timeout = std::chrono::seconds(20));

  /// The child's process id; -1 when it could not be started.
  pid_t Pid() const { return pid_; }
  /// Paths of the files the child has mapped (its /proc/PID/maps), each once.
  std::vector<std::string> MappedFiles() const;

  /// Every stdout line read so far, without line ends.
  const std::vector<std::string>& OutLines() const { return out_lines_; }
  const std::string& Err() const { return err_; }

 private:
  // Reads what is ready on both pipes, waiting up to `timeout`; false once both are closed.
  bool Pump(std::chrono::milliseconds timeout);
  void SplitLines();

  pid_t pid_ = -1;
  int out_fd_ = -1;
  int err_fd_ = -1;
  std::string out_;
  std::string err_;
  std::vector<std::string> out_lines_;
};

/// The `extra` "NAME=value" entries followed by this process's environment, for a child that
/// should see both; a name in `extra` wins, being found first.
std::vector<std::string> InheritedEnvironment(const std::vector<std::string>& extra);

/// Texts of the entries of an activity log (each entry's second line).
std::vector<std::string> LogEntryTexts(const std::string& log);

/// Sends a request on a fresh loopback connection and reads the reply until close. With
/// `client_port` the connection's local port is given back.
std::string Exchange(int port, const std::string& request, int* client_port = nullptr);

}  // namespace quenby::test
