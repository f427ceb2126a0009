#pragma once
// A measuring aid: with DRAVIX_LAUNCH_REPORT naming a file, the app writes into it the
// milliseconds from the start of main() to the moment its first window is shown on screen
// (exposed), once. The launch-time benchmark reads it. Without the variable nothing is watched.
#include <chrono>

void report_first_window_when_shown(std::chrono::steady_clock::time_point main_started);
