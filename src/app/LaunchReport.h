#pragma once
// A measuring aid: with DRAVIX_LAUNCH_REPORT naming a file, the app writes into it, once, the
// milliseconds from the start of main() to the moment its first window is shown on screen
// (exposed), then that moment on the steady clock in milliseconds (the system's monotonic clock,
// which a launching process can compare with its own). The launch-time benchmark reads it.
// Without the variable nothing is watched.
#include <chrono>

void report_first_window_when_shown(std::chrono::steady_clock::time_point main_started);
