#include "support/quenby_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

#include <gtest/gtest.h>

#include "support/net_loopback.h"

extern char** environ;

namespace quenby::test {

namespace {

constexpr std::size_t ReadChunk = 4096;
constexpr std::string_view ListeningPrefix = "Listening on ";

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) {
    pointers.push_back(text.data());
  }
  pointers.push_back(nullptr);
  return pointers;
}

int ExitCode(int status) {
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TQuenbyProcess::TQuenbyProcess(const std::vector<std::string>& arguments,
                               const std::vector<std::string>* environment,
                               const std::string& executable) {
  const std::string program = executable.empty() ? QUENBY_EXECUTABLE : executable;
  int out_pipe[2];
  int err_pipe[2];
  if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe failed";
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out_pipe[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err_pipe[1], STDERR_FILENO);
  std::vector<std::string> argv_texts = {program};
  argv_texts.insert(argv_texts.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv = Pointers(argv_texts);
  std::vector<std::string> env_texts = environment ? *environment : std::vector<std::string>{};
  std::vector<char*> envp = Pointers(env_texts);
  const int result = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(),
                                 environment ? envp.data() : environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out_pipe[1]);
  close(err_pipe[1]);
  out_fd_ = out_pipe[0];
  err_fd_ = err_pipe[0];
  if (result != 0) {
    pid_ = -1;
    ADD_FAILURE() << "cannot start " << program;
  }
}

TQuenbyProcess::~TQuenbyProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
  if (out_fd_ >= 0)
    close(out_fd_);
  if (err_fd_ >= 0)
    close(err_fd_);
}

bool TQuenbyProcess::Pump(std::chrono::milliseconds timeout) {
  pollfd fds[2] = {{out_fd_, POLLIN, 0}, {err_fd_, POLLIN, 0}};
  if (out_fd_ < 0 && err_fd_ < 0) {
    return false;
  }
  if (poll(fds, 2, static_cast<int>(timeout.count())) <= 0) {
    return true;
  }
  std::string* sinks[2] = {&out_, &err_};
  int* owners[2] = {&out_fd_, &err_fd_};
  for (int i = 0; i < 2; ++i) {
    if (fds[i].fd < 0 || fds[i].revents == 0) {
      continue;
    }
    char buffer[ReadChunk];
    const ssize_t count = read(fds[i].fd, buffer, sizeof(buffer));
    if (count <= 0) {
      close(fds[i].fd);
      *owners[i] = -1;
    } else {
      sinks[i]->append(buffer, static_cast<std::size_t>(count));
    }
  }
  SplitLines();
  return out_fd_ >= 0 || err_fd_ >= 0;
}

void TQuenbyProcess::SplitLines() {
  std::size_t end;
  while ((end = out_.find('\n')) != std::string::npos) {
    out_lines_.push_back(out_.substr(0, end));
    out_.erase(0, end + 1);
  }
}

std::string TQuenbyProcess::WaitForLine(const std::string& prefix,
                                        std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::size_t seen = 0;
  while (true) {
    for (; seen < out_lines_.size(); ++seen) {
      if (out_lines_[seen].rfind(prefix, 0) == 0) {
        return out_lines_[seen];
      }
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || out_fd_ < 0 || !Pump(left)) {
      return {};
    }
  }
}

int TQuenbyProcess::WaitForListening() {
  const std::string line = WaitForLine(std::string(ListeningPrefix));
  const std::size_t colon = line.rfind(':');
  if (line.empty() || colon == std::string::npos) {
    return 0;
  }
  return std::atoi(line.c_str() + colon + 1);
}

void TQuenbyProcess::Signal(int signal_number) {
  if (pid_ > 0) {
    kill(pid_, signal_number);
  }
}

bool TQuenbyProcess::SignalPending(int signal_number) const {
  if (pid_ <= 0) {
    return false;
  }
  // "ShdPnd:" is the set pending for the whole process, in hexadecimal, bit n - 1 for signal n.
  std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
  constexpr std::string_view PendingField = "ShdPnd:";
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(PendingField, 0) == 0) {
      const unsigned long long pending = std::stoull(line.substr(PendingField.size()), nullptr, 16);
      return ((pending >> (signal_number - 1)) & 1U) != 0;
    }
  }
  return false;
}

std::vector<std::string> TQuenbyProcess::MappedFiles() const {
  std::vector<std::string> files;
  if (pid_ <= 0) {
    return files;
  }
  // "address perms offset device inode path": the path, when any, starts at the first "/".
  std::ifstream maps("/proc/" + std::to_string(pid_) + "/maps");
  for (std::string line; std::getline(maps, line);) {
    const std::size_t path = line.find('/');
    if (path == std::string::npos) {
      continue;
    }
    std::string file = line.substr(path);
    if (std::find(files.begin(), files.end(), file) == files.end()) {
      files.push_back(std::move(file));
    }
  }
  return files;
}

int TQuenbyProcess::Stop() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
  }
  return Wait();
}

int TQuenbyProcess::Wait(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  bool open = true;
  while (open && std::chrono::steady_clock::now() < deadline) {
    open = Pump(std::chrono::milliseconds(100));
  }
  if (pid_ <= 0) {
    return -1;
  }
  if (open) {
    ADD_FAILURE() << "quenby did not end in time";
    kill(pid_, SIGKILL);
  }
  // Both pipes closed: the child has ended or is about to.
  int status = 0;
  waitpid(pid_, &status, 0);
  pid_ = -1;
  return ExitCode(status);
}

std::vector<std::string> InheritedEnvironment(const std::vector<std::string>& extra) {
  std::vector<std::string> environment = extra;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    environment.emplace_back(*entry);
  }
  return environment;
}

std::vector<std::string> LogEntryTexts(const std::string& log) {
  std::vector<std::string> texts;
  std::size_t at = 0;
  bool stamp_line = true;
  while (at < log.size()) {
    const std::size_t end = log.find("\r\n", at);
    const std::size_t stop = end == std::string::npos ? log.size() : end;
    if (!stamp_line) {
      texts.push_back(log.substr(at, stop - at));
    }
    stamp_line = !stamp_line;
    at = end == std::string::npos ? log.size() : end + 2;
  }
  return texts;
}

std::string Exchange(int port, const std::string& request, int* client_port) {
  TLoopbackClient client(port);
  if (client_port != nullptr) {
    sockaddr_in address{};
    socklen_t length = sizeof(address);
    getsockname(client.Handle(), reinterpret_cast<sockaddr*>(&address), &length);
    *client_port = ntohs(address.sin_port);
  }
  client.Send(request);
  return client.ReceiveUntilClose();
}

}  // namespace quenby::test
