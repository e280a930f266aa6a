#include "app/transfer_runner.h"

#include <stdexcept>

namespace {

int g_running = 0;

}  // namespace

struct TTransferRunner::TBridge {
  std::mutex mutex;
  std::condition_variable answered;
  bool shutDown = false;
};

// Hands the bar over only when its position changes, so that a transfer of
// millions of rows posts a hundred events, not millions.
class TTransferRunner::TWorkerProgress : public IProgress {
 public:
  explicit TWorkerProgress(TTransferRunner& runner) : m_runner(runner) {}
  void SetPosition(int position) override {
    if (position == m_shown) return;
    m_shown = position;
    IProgress* progress = m_runner.m_progress;
    const std::int64_t rows = m_rows;
    m_runner.PostToGuiThread([progress, position, rows] {
      progress->SetRowsDone(rows);
      progress->SetPosition(position);
    });
  }
  void SetRowsDone(std::int64_t rows) override { m_rows = rows; }
  bool StopRequested() override { return m_runner.StopRequested(); }

 private:
  TTransferRunner& m_runner;
  int m_shown = -1;
  std::int64_t m_rows = 0;
};

// Every box is shown by the GUI thread; the transfer waits for the answer.
class TTransferRunner::TWorkerMessages : public IMessages {
 public:
  explicit TWorkerMessages(TTransferRunner& runner) : m_runner(runner) {}
  void ShowMessage(const std::string& text) override {
    IMessages* messages = m_runner.m_messages;
    m_runner.CallOnGuiThread([messages, text] { messages->ShowMessage(text); });
  }
  TRefusalAnswer AskRefusedLine(const TRefusedLine& line) override {
    IMessages* messages = m_runner.m_messages;
    auto answer = std::make_shared<TRefusalAnswer>(TRefusalAnswer::raStop);
    m_runner.CallOnGuiThread([messages, line, answer] { *answer = messages->AskRefusedLine(line); });
    return *answer;
  }

 private:
  TTransferRunner& m_runner;
};

TTransferRunner::TTransferRunner(QObject* parent) : QObject(parent), m_bridge(std::make_shared<TBridge>()) {}

TTransferRunner::~TTransferRunner() {
  m_stopRequested = true;
  {
    std::lock_guard lock(m_bridge->mutex);
    m_bridge->shutDown = true;
  }
  m_bridge->answered.notify_all();
  if (m_thread.joinable()) m_thread.join();
  if (m_running) --g_running;
}

bool TTransferRunner::AnyRunning() { return g_running > 0; }

void TTransferRunner::Start(TTransfer transfer, IProgress& progress, IMessages& messages, TFinished finished) {
  if (m_running) throw std::logic_error("A transfer is running already");
  if (m_thread.joinable()) m_thread.join();
  m_progress = &progress;
  m_messages = &messages;
  m_finished = std::move(finished);
  m_stopRequested = false;
  m_running = true;
  ++g_running;
  m_thread = std::thread([this, transfer = std::move(transfer)] {
    TWorkerProgress workerProgress(*this);
    TWorkerMessages workerMessages(*this);
    std::exception_ptr failure;
    try {
      transfer(workerProgress, workerMessages);
    } catch (...) {
      failure = std::current_exception();
    }
    PostToGuiThread([this, failure] { Finish(failure); });
  });
}

void TTransferRunner::Finish(std::exception_ptr failure) {
  if (m_thread.joinable()) m_thread.join();
  m_running = false;
  --g_running;
  TFinished finished = std::move(m_finished);
  m_finished = nullptr;
  if (finished) finished(failure);
}

void TTransferRunner::PostToGuiThread(std::function<void()> call) {
  // Posting under the lock: once shut down, the runner may be going away.
  std::lock_guard lock(m_bridge->mutex);
  if (m_bridge->shutDown) return;
  QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection);
}

bool TTransferRunner::CallOnGuiThread(std::function<void()> call) {
  struct TCall {
    std::function<void()> call;
    bool done = false;
  };
  auto pending = std::make_shared<TCall>();
  pending->call = std::move(call);
  std::shared_ptr<TBridge> bridge = m_bridge;
  std::unique_lock lock(bridge->mutex);
  if (bridge->shutDown) return false;
  QMetaObject::invokeMethod(
      this,
      [bridge, pending] {
        try {
          pending->call();
        } catch (...) {
          // A box that could not be shown answers as its default does.
        }
        std::lock_guard done(bridge->mutex);
        pending->done = true;
        bridge->answered.notify_all();
      },
      Qt::QueuedConnection);
  bridge->answered.wait(lock, [&] { return pending->done || bridge->shutDown; });
  return pending->done;
}
