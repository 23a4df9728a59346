#include "isapi/module_guard.h"

#include <csetjmp>
#include <csignal>
#include <cstdlib>
#include <memory>
#include <mutex>

namespace quenby {
namespace {

constexpr int GuardedSignals[] = {SIGSEGV, SIGBUS, SIGFPE};
constexpr std::size_t SignalCount = sizeof(GuardedSignals) / sizeof(GuardedSignals[0]);
// Room for the handler and whatever a sanitizer's handler needs when we chain to it.
constexpr std::size_t AltStackSize = 64 * 1024;

// The jump point of the guarded call running on this thread, or null. Trivial type, so the
// signal handler can read it without touching a TLS wrapper.
thread_local sigjmp_buf* t_jump_point = nullptr;

struct sigaction g_previous[SignalCount];
std::once_flag g_install_once;

int SignalSlot(int signal_number) {
  for (std::size_t i = 0; i < SignalCount; ++i)
    if (GuardedSignals[i] == signal_number)
      return static_cast<int>(i);
  return -1;
}

// A fault outside a module call keeps its normal effect: hand it to whoever handled it
// before us (a sanitizer, say), else die of it with the default action.
void PassOn(int signal_number, siginfo_t* info, void* context) {
  const int slot = SignalSlot(signal_number);
  const struct sigaction& previous = g_previous[slot];
  if ((previous.sa_flags & SA_SIGINFO) != 0 && previous.sa_sigaction != nullptr) {
    previous.sa_sigaction(signal_number, info, context);
    return;
  }
  if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN &&
      previous.sa_handler != nullptr) {
    previous.sa_handler(signal_number);
    return;
  }
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

void FaultHandler(int signal_number, siginfo_t* info, void* context) {
  sigjmp_buf* jump_point = t_jump_point;
  if (jump_point == nullptr) {
    PassOn(signal_number, info, context);
    return;
  }
  t_jump_point = nullptr;
  siglongjmp(*jump_point, signal_number);
}

void InstallHandlers() {
  struct sigaction action {};
  action.sa_sigaction = FaultHandler;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
  sigemptyset(&action.sa_mask);
  for (std::size_t i = 0; i < SignalCount; ++i)
    sigaction(GuardedSignals[i], &action, &g_previous[i]);
}

// One alternate signal stack per thread that calls modules, so that a module that
// overflows its stack can still be recovered. Unregistered before it is freed. Left
// uninitialised: its pages stay untouched, so cost no memory, until a fault uses them.
class TAltStack {
 public:
  TAltStack() : memory_(std::make_unique_for_overwrite<char[]>(AltStackSize)) {
    stack_t stack{};
    stack.ss_sp = memory_.get();
    stack.ss_size = AltStackSize;
    installed_ = sigaltstack(&stack, &previous_) == 0;
  }
  ~TAltStack() {
    if (installed_)
      sigaltstack(&previous_, nullptr);
  }
  TAltStack(const TAltStack&) = delete;
  TAltStack& operator=(const TAltStack&) = delete;

 private:
  std::unique_ptr<char[]> memory_;
  stack_t previous_{};
  bool installed_ = false;
};

void PrepareThread() {
  std::call_once(g_install_once, InstallHandlers);
  thread_local TAltStack alt_stack;
}

// Runs `call` under a jump point. Kept free of objects with destructors between the
// sigsetjmp and the call, because a fault skips them.
template <typename Call>
TGuardOutcome Guarded(Call call) {
  PrepareThread();
  sigjmp_buf jump_point;
  sigjmp_buf* const outer = t_jump_point;
  // The signal mask is not saved: the handler runs with SA_NODEFER and an empty sa_mask, so
  // the mask it jumps back with is the one of the call, and each call saves a system call.
  if (sigsetjmp(jump_point, 0) != 0) {
    t_jump_point = outer;
    return TGuardOutcome::Faulted;
  }
  t_jump_point = &jump_point;
  try {
    call();
  } catch (...) {
    t_jump_point = outer;
    return TGuardOutcome::Threw;
  }
  t_jump_point = outer;
  return TGuardOutcome::Returned;
}

}  // namespace

TGuardOutcome GuardedGetExtensionVersion(PFN_GETEXTENSIONVERSION proc, HSE_VERSION_INFO* info,
                                         BOOL& result) {
  return Guarded([&] { result = proc(info); });
}

TGuardOutcome GuardedExtensionProc(PFN_HTTPEXTENSIONPROC proc, EXTENSION_CONTROL_BLOCK* ecb,
                                   DWORD& result) {
  return Guarded([&] { result = proc(ecb); });
}

}  // namespace quenby
