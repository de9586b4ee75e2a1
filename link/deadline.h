// Every bounded wait of the link (a read's and a write's total time-out, a connect, gpsd's
// answer, a rate listened to) counts down to one deadline and hands poll() what is left of
// it, so a wait cut short by a signal or a spurious wake-up never starts its time afresh.
//
// Thread rule: pure.
#pragma once

#include <chrono>

// What is left until the deadline in whole milliseconds, as poll() takes it; 0 once it has
// passed.
inline int RemainingMs(std::chrono::steady_clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}
