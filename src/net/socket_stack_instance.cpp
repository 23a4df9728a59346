// Life of the process-wide stack: created with the first lease, freed with the last.
#include <memory>
#include <mutex>

#include "net/socket_stack.h"

namespace quenby {

namespace {

struct StackInstance {
  std::mutex lock;
  int leases = 0;
  std::unique_ptr<TSocketStack> stack;
};

StackInstance& Instance() {
  static StackInstance instance;
  return instance;
}

}  // namespace

TSocketStack& SocketStack() {
  StackInstance& instance = Instance();
  std::lock_guard<std::mutex> lock(instance.lock);
  if (!instance.stack) {
    throw ENetException("The socket stack is not available: no transport component exists.");
  }
  return *instance.stack;
}

bool SocketStackExists() {
  StackInstance& instance = Instance();
  std::lock_guard<std::mutex> lock(instance.lock);
  return instance.stack != nullptr;
}

TSocketStackLease::TSocketStackLease() {
  StackInstance& instance = Instance();
  std::lock_guard<std::mutex> lock(instance.lock);
  if (instance.leases++ == 0) {
    instance.stack = std::make_unique<TSocketStack>();
  }
}

TSocketStackLease::~TSocketStackLease() {
  StackInstance& instance = Instance();
  std::lock_guard<std::mutex> lock(instance.lock);
  if (--instance.leases == 0) {
    instance.stack.reset();
  }
}

}  // namespace quenby
