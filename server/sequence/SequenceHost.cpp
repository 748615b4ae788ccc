// The host's thread and the controls, shared by every kind of sequence.
#include "server/sequence/SequenceHost.h"

#include <functional>

namespace {

bool ongoing(const SequenceRun& run) {
  const SequenceState state = run.view().state;
  return state == SequenceState::Running || state == SequenceState::Paused;
}

}  // namespace

SequenceHost::SequenceHost(SchedulerClock* clock) : clock_(clockOrMachine(clock)) {}

SequenceHost::~SequenceHost() { finish(); }

void SequenceHost::finish() {
  shutdown();
  std::thread ending;
  {
    MutexLock lock(mutex_);
    ending.swap(thread_);
  }
  if (ending.joinable()) ending.join();
}

bool SequenceHost::start(const SequencePlan& plan,
                         std::optional<SchedulerClock::Wall::time_point> start, SequenceView& out,
                         const std::function<void()>& before) {
  MutexLock lock(mutex_);
  if (shutdown_ || (run_ && ongoing(*run_))) return false;
  // The last run has ended; its thread is ending or gone.
  if (thread_.joinable()) thread_.join();
  if (before) before();
  // The bases are protected: converted here, where they are reachable.
  FrameWork& work = *this;
  SequenceListener* listener = this;
  run_ = std::make_shared<SequenceRun>(plan, clock_, work, listener, start);
  out = run_->view();
  thread_ = std::thread([run = run_] { run->run(); });
  return true;
}

std::optional<SequenceView> SequenceHost::view() const {
  MutexLock lock(mutex_);
  if (!run_) return std::nullopt;
  return run_->view();
}

template <typename Control>
std::optional<SequenceView> SequenceHost::control(Control act) {
  std::shared_ptr<SequenceRun> run;
  {
    MutexLock lock(mutex_);
    run = run_;
  }
  if (!run) return std::nullopt;
  act(*run);
  return run->view();
}

std::optional<SequenceView> SequenceHost::pause() {
  return control([](SequenceRun& run) { run.pause(); });
}

std::optional<SequenceView> SequenceHost::resume() {
  return control([](SequenceRun& run) { run.resume(); });
}

std::optional<SequenceView> SequenceHost::stop() {
  return control([](SequenceRun& run) { run.stop(); });
}

void SequenceHost::shutdown() {
  MutexLock lock(mutex_);
  shutdown_ = true;
  if (run_) run_->stop();
}
