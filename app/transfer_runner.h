// Runs one export or import on a thread of its own, so that the window keeps
// repainting and answering while it works. The transfer reports through
// stand-ins that hand every bar move and every message box over to the GUI
// thread; a box is shown there and the transfer waits for its answer.
#pragma once

#include <QObject>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "transfer/reporting.h"
#include "transfer/table_transfer.h"

class TTransferRunner : public QObject {
  Q_OBJECT

 public:
  // The transfer itself, run on the worker thread with the stand-ins.
  using TTransfer = std::function<TTransferResult(IProgress&, IMessages&)>;
  // Called on the GUI thread once the transfer has ended; failure is null
  // when it returned, else what it threw.
  using TFinished = std::function<void(std::exception_ptr failure)>;

  explicit TTransferRunner(QObject* parent = nullptr);
  // Stops a transfer still running and waits for its thread: boxes it still
  // asks for are answered without being shown (a refused line with Stop), and
  // nothing is reported to the GUI thread any more.
  ~TTransferRunner() override;

  // Starts transfer on a new thread; only one runs at a time (throws
  // std::logic_error otherwise). progress and messages are the GUI thread's
  // own, used only there; they must outlive the runner.
  void Start(TTransfer transfer, IProgress& progress, IMessages& messages, TFinished finished);
  // True from Start until finished has been called.
  bool Running() const { return m_running; }
  // From now on the transfer's StopRequested() is true. Harmless when none runs.
  void RequestStop() { m_stopRequested = true; }
  bool StopRequested() const { return m_stopRequested; }

  // True while a transfer runs in any window of the process (GUI thread only).
  static bool AnyRunning();

 private:
  class TWorkerProgress;
  class TWorkerMessages;
  struct TBridge;

  // Runs call on the GUI thread and waits for it; false (call not run, or not
  // to its end) once the runner is shutting down.
  bool CallOnGuiThread(std::function<void()> call);
  // Runs call on the GUI thread later, unless the runner is shutting down.
  void PostToGuiThread(std::function<void()> call);
  void Finish(std::exception_ptr failure);

  IProgress* m_progress = nullptr;
  IMessages* m_messages = nullptr;
  std::shared_ptr<TBridge> m_bridge;
  std::thread m_thread;
  bool m_running = false;
  std::atomic<bool> m_stopRequested{false};
  TFinished m_finished;
};
