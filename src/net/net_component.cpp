#include "net/net_component.h"

#include "util/text.h"

namespace quenby {

namespace {

constexpr const char* StatusFormats[] = {
    "Resolving hostname %s.", "Connecting to %s.", "Connected.", "Disconnecting.", "Disconnected.",
};

}  // namespace

void TNetComponent::BeginWork(TWorkMode mode, std::int64_t maximum) {
  WorkState& work = work_[mode];
  if (++work.level == 1) {
    work.maximum = maximum;
    work.total = 0;
    if (OnWorkBegin) {
      OnWorkBegin(*this, mode, maximum);
    }
  }
}

void TNetComponent::DoWork(TWorkMode mode, std::int64_t count) {
  WorkState& work = work_[mode];
  if (work.level < 1) {
    return;
  }
  work.total += count;
  if (OnWork) {
    OnWork(*this, mode, work.total);
  }
}

void TNetComponent::EndWork(TWorkMode mode) {
  WorkState& work = work_[mode];
  if (work.level == 1 && OnWorkEnd) {
    OnWorkEnd(*this, mode);
  }
  if (work.level > 0) {
    --work.level;
  }
}

std::string TNetComponent::StatusText(TStatus status, const std::string& argument) {
  const char* format = StatusFormats[status];
  return status <= hsConnecting ? Format(format, argument.c_str()) : std::string(format);
}

void TNetComponent::DoStatus(TStatus status, const std::string& argument) {
  if (OnStatus) {
    OnStatus(*this, status, StatusText(status, argument));
  }
}

}  // namespace quenby
