// The registry of cameras, and letting many of them go at once.
#include "server/rig/Rig.h"

#include <algorithm>
#include <thread>
#include <utility>

namespace {

// Runs work on every slot, each on a thread of its own, and waits for all:
// a camera slow to let go (a capture's last shot, a link that hangs) holds
// up no other.
void onEach(std::vector<std::shared_ptr<CameraSlot>> slots,
            const std::function<void(std::shared_ptr<CameraSlot>&)>& work) {
  if (slots.size() == 1) {
    work(slots.front());
    return;
  }
  std::vector<std::thread> threads;
  threads.reserve(slots.size());
  for (std::shared_ptr<CameraSlot>& slot : slots) {
    try {
      threads.emplace_back([&work, &slot] { work(slot); });
    } catch (...) {
      work(slot);  // no thread to be had: this one, in turn
    }
  }
  for (std::thread& thread : threads) thread.join();
}

}  // namespace

Rig::Rig(EventLog& events, SlotOptions options)
    : events_(events),
      options_(options),
      main_(std::make_shared<CameraSlot>(CameraSlot::kMainId, events, options)) {
  MutexLock lock(mutex_);
  slots_.push_back(main_);
}

Rig::~Rig() {
  // Its frames use the cameras: it ends (after the shot under way) first.
  sequence_.finish();
  std::vector<std::shared_ptr<CameraSlot>> slots;
  {
    MutexLock lock(mutex_);
    slots.swap(slots_);
  }
  main_.reset();
  // The last owner's reset destroys the slot: stops its threads and
  // disconnects its camera, every camera at the same time.
  onEach(std::move(slots), [](std::shared_ptr<CameraSlot>& slot) { slot.reset(); });
}

bool Rig::validId(const std::string& id) {
  if (id.empty() || id.size() > 32) return false;
  return std::all_of(id.begin(), id.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
  });
}

std::shared_ptr<CameraSlot> Rig::find(const std::string& id) const {
  MutexLock lock(mutex_);
  for (const std::shared_ptr<CameraSlot>& slot : slots_) {
    if (slot->id() == id) return slot;
  }
  return nullptr;
}

std::vector<std::shared_ptr<CameraSlot>> Rig::all() const {
  MutexLock lock(mutex_);
  return slots_;
}

std::vector<RigCamera> Rig::added() const {
  MutexLock lock(mutex_);
  return added_;
}

std::shared_ptr<CameraSlot> Rig::add(const std::string& id, const CameraRequest& request,
                                     Refusal* refusal) {
  Refusal none;
  Refusal& why = refusal != nullptr ? *refusal : none;
  why = Refusal::None;
  if (!validId(id)) {
    why = Refusal::BadId;
    return nullptr;
  }
  std::shared_ptr<CameraSlot> slot;
  {
    MutexLock lock(mutex_);
    for (const std::shared_ptr<CameraSlot>& other : slots_) {
      if (other->id() == id) {
        why = Refusal::Exists;
        return nullptr;
      }
    }
    slot = std::make_shared<CameraSlot>(id, events_, options_);
    slots_.push_back(slot);
    added_.push_back({id, request});
  }
  events_.publish("rig", "{\"id\":\"" + id + "\",\"change\":\"added\"}");
  slot->keepConnected(request);
  if (changed_) changed_();
  return slot;
}

Rig::Refusal Rig::remove(const std::string& id) {
  if (id == CameraSlot::kMainId) return Refusal::Main;
  std::shared_ptr<CameraSlot> slot;
  {
    MutexLock lock(mutex_);
    const auto at =
        std::find_if(slots_.begin(), slots_.end(),
                     [&id](const std::shared_ptr<CameraSlot>& s) { return s->id() == id; });
    if (at == slots_.end()) return Refusal::Unknown;
    slot = std::move(*at);
    slots_.erase(at);
    added_.erase(std::remove_if(added_.begin(), added_.end(),
                                [&id](const RigCamera& c) { return c.id == id; }),
                 added_.end());
  }
  slot->retire();
  events_.publish("rig", "{\"id\":\"" + id + "\",\"change\":\"removed\"}");
  if (changed_) changed_();
  return Refusal::None;
}

void Rig::beginShutdown() const {
  sequence_.shutdown();
  onEach(all(), [](std::shared_ptr<CameraSlot>& slot) { slot->beginShutdown(); });
}
