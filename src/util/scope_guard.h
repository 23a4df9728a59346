#pragma once

#include <type_traits>
#include <utility>

namespace quenby {

/// Runs an action when the scope holding the guard ends, by a return or by an exception,
/// unless Dismiss was called first. The action runs in a destructor, where a second
/// exception would end the process, so it must not raise: cleanup that may raise (hooks,
/// events, stream calls) goes through Finally instead.
template <typename Action>
class TScopeGuard {
 public:
  explicit TScopeGuard(Action action) : action_(std::move(action)) {}
  ~TScopeGuard() {
    if (active_)
      action_();
  }
  TScopeGuard(const TScopeGuard&) = delete;
  TScopeGuard& operator=(const TScopeGuard&) = delete;

  /// The action will not run.
  void Dismiss() noexcept { active_ = false; }

 private:
  Action action_;
  bool active_ = true;
};

/// Runs `body`, then `cleanup`, also when `body` raises, by the rules of a finally block:
/// an exception from `body` travels on once `cleanup` has run, and an exception from
/// `cleanup` travels on in its place. Returns what `body` returns.
template <typename Body, typename Cleanup>
decltype(auto) Finally(Body&& body, Cleanup&& cleanup) {
  using Result = std::invoke_result_t<Body&>;
  if constexpr (std::is_void_v<Result>) {
    try {
      body();
    } catch (...) {
      cleanup();
      throw;
    }
    cleanup();
  } else {
    Result result = [&]() -> Result {
      try {
        return body();
      } catch (...) {
        cleanup();
        throw;
      }
    }();
    cleanup();
    return result;
  }
}

}  // namespace quenby
