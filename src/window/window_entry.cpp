// The entry point of quenby-window.so, the only symbol the library exports.
#include "window/window_library.h"

#include "window/window_runner.h"

extern "C" __attribute__((visibility("default"))) int QuenbyRunWindow(
    int* argc, char** argv, const quenby::TCommandLine* options,
    quenby::TStopSignals* stop_signals) {
  return quenby::RunWindow(*argc, argv, *options, *stop_signals);
}
