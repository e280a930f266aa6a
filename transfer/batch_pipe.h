// Batches on their way from the thread that makes them to the one that
// takes them, in a few batches whose room is used again, so that memory
// stays flat however large the items are. Either side may end early: the
// maker with Close (its failure reaches the taker after every batch sent
// before it), the taker with Quit (its failure reaches the maker at its next
// Take, or at Finish); Abandon tells both to stop.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <mutex>

template <class TBatch, std::size_t kCount = 4>
class TBatchPipe {
 public:
  TBatchPipe() {
    for (auto& batch : m_batches) m_free.push_back(&batch);
  }
  TBatchPipe(const TBatchPipe&) = delete;
  TBatchPipe& operator=(const TBatchPipe&) = delete;

  // The maker's side: a batch to fill once one is free, as it was returned;
  // null once the pipe is abandoned or the taker quit. Throws the taker's failure.
  TBatch* Take() {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return !m_free.empty() || m_quit || m_abandoned; });
    if (m_takerFailure) std::rethrow_exception(m_takerFailure);
    if (m_quit || m_abandoned) return nullptr;
    TBatch* batch = m_free.front();
    m_free.pop_front();
    return batch;
  }
  void Send(TBatch& batch) {
    std::lock_guard lock(m_mutex);
    m_full.push_back(&batch);
    m_changed.notify_all();
  }
  // No more batches; failure, when given, reaches the taker after them.
  void Close(std::exception_ptr failure = nullptr) {
    std::lock_guard lock(m_mutex);
    m_closed = true;
    m_makerFailure = failure;
    m_changed.notify_all();
  }
  // Closes and waits until the taker has taken every batch; throws its failure.
  void Finish() {
    Close();
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return m_quit; });
    if (m_takerFailure) std::rethrow_exception(m_takerFailure);
  }

  // The taker's side: the next batch, null at the end or once abandoned;
  // throws the maker's failure after every batch sent before it.
  TBatch* Receive() {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return !m_full.empty() || m_closed || m_abandoned; });
    if (m_abandoned) return nullptr;
    if (m_full.empty()) {
      if (m_makerFailure) std::rethrow_exception(m_makerFailure);
      return nullptr;
    }
    TBatch* batch = m_full.front();
    m_full.pop_front();
    return batch;
  }
  void Return(TBatch& batch) {
    std::lock_guard lock(m_mutex);
    m_free.push_back(&batch);
    m_changed.notify_all();
  }
  // The taker takes no more; failure, when given, reaches the maker.
  void Quit(std::exception_ptr failure = nullptr) {
    std::lock_guard lock(m_mutex);
    m_quit = true;
    m_takerFailure = failure;
    m_changed.notify_all();
  }

  // Either side: what waits in the pipe is dropped and the other side stops
  // at its next call.
  void Abandon() {
    std::lock_guard lock(m_mutex);
    m_abandoned = true;
    m_changed.notify_all();
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_changed;
  TBatch m_batches[kCount];
  std::deque<TBatch*> m_free;
  std::deque<TBatch*> m_full;
  bool m_closed = false;
  bool m_quit = false;
  bool m_abandoned = false;
  std::exception_ptr m_makerFailure;
  std::exception_ptr m_takerFailure;
};
