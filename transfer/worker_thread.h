// A transfer's second thread, ended early when the transfer is left early.
#pragma once

#include <functional>
#include <thread>

// When the scope is left while thread still runs (a stop or a failure), it
// is told to end (abandon) and waited for.
struct TJoinOnExit {
  std::thread& thread;
  std::function<void()> abandon;
  ~TJoinOnExit() {
    if (!thread.joinable()) return;
    abandon();
    thread.join();
  }
};
