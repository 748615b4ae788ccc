// The fake SDK's state: scripting, recording, inspection and the objects it
// hands out (camera infos, discovery lists).
#include "FakeSdk.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "FakeObjects.h"

namespace fake {

CameraEntry camera(std::optional<std::string> model, std::optional<std::string> connection,
                   std::optional<std::string> ip, std::optional<std::string> mac) {
  CameraEntry e;
  e.model = std::move(model);
  e.connection = std::move(connection);
  e.ip = std::move(ip);
  e.mac = std::move(mac);
  return e;
}

CameraEntry nullCamera() {
  CameraEntry e;
  e.null = true;
  return e;
}

Event Event::none() { return Event{}; }

Event Event::connected(int delayMs) {
  Event e;
  e.kind = Kind::Connected;
  e.delayMs = delayMs;
  return e;
}

Event Event::disconnected(std::uint32_t code, int delayMs) {
  Event e;
  e.kind = Kind::Disconnected;
  e.code = code;
  e.delayMs = delayMs;
  return e;
}

Event Event::error(std::uint32_t code, int delayMs) {
  Event e;
  e.kind = Kind::Error;
  e.code = code;
  e.delayMs = delayMs;
  return e;
}

Event Event::warning(std::uint32_t code, int delayMs) {
  Event e;
  e.kind = Kind::Warning;
  e.code = code;
  e.delayMs = delayMs;
  return e;
}

Event Event::download(std::optional<std::string> file, int delayMs) {
  Event e;
  e.kind = Kind::Download;
  e.file = std::move(file);
  e.delayMs = delayMs;
  return e;
}

std::vector<std::uint8_t> jpegBytes(std::uint32_t size, std::uint8_t seed) {
  size = std::max<std::uint32_t>(size, 4);
  std::vector<std::uint8_t> bytes(size);
  for (std::uint32_t i = 0; i < size; ++i) {
    bytes[i] = static_cast<std::uint8_t>(seed + i * 7 + 1);
  }
  bytes[0] = 0xFF;
  bytes[1] = 0xD8;
  bytes[size - 2] = 0xFF;
  bytes[size - 1] = 0xD9;
  return bytes;
}

FakeSdk::FakeSdk() { reset(); }

FakeSdk::~FakeSdk() {
  std::unique_lock<std::mutex> lock(mu_);
  stopWorker(lock);
}

void FakeSdk::reset() {
  std::unique_lock<std::mutex> lock(mu_);
  stopWorker(lock);
  calls_.clear();
  defaults_.clear();
  queued_.clear();
  initResult_ = true;
  version_ = 0x01000000;
  cameras_.clear();
  enumNullList_ = false;
  createInfoNull_ = false;
  fingerprint_.clear();
  properties_.clear();
  propertiesNullArray_ = false;
  liveView_ = LiveViewStep{};
  liveView_.picture = jpegBytes(64);
  liveView_.offset = 16;
  liveViewQueue_.clear();
  lastStep_.clear();
  frameNo_ = 0;
  connectEvent_ = Event::connected(10);
  connectQueue_.clear();
  releaseEvent_ = Event::download(std::string(), 10);
  releaseQueue_.clear();
  pressEvent_ = Event::none();
  pressSeq_ = 0;
  downloadNo_ = 0;
  infos_.clear();
  lists_.clear();
  arrays_.clear();
  life_ = Lifetimes{};
  nextHandle_ = 1001;
  lastHandle_ = 0;
  callbacks_.clear();
  pending_.clear();
  seq_ = 0;
  busy_ = false;
  runningHandle_ = 0;
  runningSeq_ = 0;
}

// ---- scripting ----

void FakeSdk::setResult(const std::string& fn, VCSDK::VcStatus status) {
  std::lock_guard<std::mutex> lock(mu_);
  defaults_[fn] = status;
}

void FakeSdk::queueResults(const std::string& fn, std::vector<VCSDK::VcStatus> statuses) {
  std::lock_guard<std::mutex> lock(mu_);
  auto& q = queued_[fn];
  q.insert(q.end(), statuses.begin(), statuses.end());
}

void FakeSdk::setInitResult(bool ok) {
  std::lock_guard<std::mutex> lock(mu_);
  initResult_ = ok;
}

void FakeSdk::setVersion(std::uint32_t version) {
  std::lock_guard<std::mutex> lock(mu_);
  version_ = version;
}

void FakeSdk::setCameras(std::vector<CameraEntry> cameras) {
  std::lock_guard<std::mutex> lock(mu_);
  cameras_ = std::move(cameras);
}

void FakeSdk::setEnumNullList(bool nullList) {
  std::lock_guard<std::mutex> lock(mu_);
  enumNullList_ = nullList;
}

void FakeSdk::setCreateInfoNull(bool nullInfo) {
  std::lock_guard<std::mutex> lock(mu_);
  createInfoNull_ = nullInfo;
}

void FakeSdk::setFingerprint(std::string fingerprint) {
  std::lock_guard<std::mutex> lock(mu_);
  if (fingerprint.size() > 512) fingerprint.resize(512);
  fingerprint_ = std::move(fingerprint);
}

void FakeSdk::setProperties(std::vector<std::pair<std::uint32_t, std::uint64_t>> entries) {
  std::lock_guard<std::mutex> lock(mu_);
  properties_ = std::move(entries);
}

void FakeSdk::setPropertiesNullArray(bool nullArray) {
  std::lock_guard<std::mutex> lock(mu_);
  propertiesNullArray_ = nullArray;
}

void FakeSdk::setLiveView(LiveViewStep step) {
  std::lock_guard<std::mutex> lock(mu_);
  liveView_ = std::move(step);
}

void FakeSdk::queueLiveView(std::vector<LiveViewStep> steps) {
  std::lock_guard<std::mutex> lock(mu_);
  for (auto& s : steps) liveViewQueue_.push_back(std::move(s));
}

void FakeSdk::onConnect(Event event) {
  std::lock_guard<std::mutex> lock(mu_);
  connectEvent_ = std::move(event);
}

void FakeSdk::queueOnConnect(std::vector<Event> events) {
  std::lock_guard<std::mutex> lock(mu_);
  for (auto& e : events) connectQueue_.push_back(std::move(e));
}

void FakeSdk::onShutterRelease(Event event) {
  std::lock_guard<std::mutex> lock(mu_);
  releaseEvent_ = std::move(event);
}

void FakeSdk::queueOnShutterRelease(std::vector<Event> events) {
  std::lock_guard<std::mutex> lock(mu_);
  for (auto& e : events) releaseQueue_.push_back(std::move(e));
}

void FakeSdk::onShutterPress(Event event) {
  std::lock_guard<std::mutex> lock(mu_);
  pressEvent_ = std::move(event);
}

// ---- inspection ----

std::vector<Call> FakeSdk::calls() const {
  std::lock_guard<std::mutex> lock(mu_);
  return calls_;
}

std::vector<Call> FakeSdk::calls(const std::string& fn) const {
  std::lock_guard<std::mutex> lock(mu_);
  std::vector<Call> out;
  for (const auto& c : calls_) {
    if (c.fn == fn) out.push_back(c);
  }
  return out;
}

Names FakeSdk::names() const { return namesExcept({}); }

Names FakeSdk::namesExcept(const std::set<std::string>& skip) const {
  std::lock_guard<std::mutex> lock(mu_);
  Names out;
  for (const auto& c : calls_) {
    if (skip.count(c.fn) == 0) out.push_back(c.fn);
  }
  return out;
}

int FakeSdk::count(const std::string& fn) const {
  std::lock_guard<std::mutex> lock(mu_);
  return static_cast<int>(
      std::count_if(calls_.begin(), calls_.end(), [&](const Call& c) { return c.fn == fn; }));
}

Call FakeSdk::last(const std::string& fn) const {
  std::lock_guard<std::mutex> lock(mu_);
  for (auto it = calls_.rbegin(); it != calls_.rend(); ++it) {
    if (it->fn == fn) return *it;
  }
  return Call{};
}

void FakeSdk::clearCalls() {
  std::lock_guard<std::mutex> lock(mu_);
  calls_.clear();
}

std::string FakeSdk::transcript() const {
  std::lock_guard<std::mutex> lock(mu_);
  std::ostringstream out;
  for (const auto& c : calls_) {
    out << c.fn << "(";
    if (c.handle != 0) out << "h=" << c.handle;
    for (auto v : c.ints) out << " " << v;
    for (const auto& t : c.texts) out << " \"" << (t ? *t : "<null>") << "\"";
    out << ") -> 0x" << std::hex << c.result << std::dec << "\n";
  }
  return out.str();
}

Lifetimes FakeSdk::lifetimes() const {
  std::lock_guard<std::mutex> lock(mu_);
  return life_;
}

int FakeSdk::infoReleaseCount(int infoId) const {
  std::lock_guard<std::mutex> lock(mu_);
  if (infoId < 1 || infoId > static_cast<int>(infos_.size())) return 0;
  return infos_[infoId - 1]->releases;
}

int FakeSdk::infoId(const VCSDK::IVcCameraObjectInfo* info) const {
  std::lock_guard<std::mutex> lock(mu_);
  for (const auto& i : infos_) {
    if (i.get() == info) return i->id;
  }
  return 0;
}

std::int64_t FakeSdk::lastHandle() const {
  std::lock_guard<std::mutex> lock(mu_);
  return lastHandle_;
}

VCSDK::IDeviceCallback* FakeSdk::callbackFor(std::int64_t handle) const {
  std::lock_guard<std::mutex> lock(mu_);
  auto it = callbacks_.find(handle);
  return it == callbacks_.end() ? nullptr : it->second;
}

// ---- objects ----

const char* FakeSdk::infoText(int infoId, int which) const {
  std::lock_guard<std::mutex> lock(mu_);
  const InfoObject& info = *infos_[infoId - 1];
  bool released = info.listId != 0 ? lists_[info.listId - 1]->releases > 0 : info.releases > 0;
  if (released) ++life_.useAfterRelease;
  const std::optional<std::string>* text = nullptr;
  switch (which) {
    case 0:
      text = &info.entry.model;
      break;
    case 1:
      text = &info.entry.connection;
      break;
    case 2:
      text = &info.entry.ip;
      break;
    default:
      text = &info.entry.mac;
      break;
  }
  return *text ? (*text)->c_str() : nullptr;
}

void FakeSdk::releaseInfo(int infoId) {
  std::lock_guard<std::mutex> lock(mu_);
  InfoObject& info = *infos_[infoId - 1];
  Call c;
  c.fn = "InfoRelease";
  c.ints = {infoId};
  record(std::move(c));
  ++info.releases;
  if (info.listId != 0) {
    ++life_.listInfoReleases;
  } else if (info.releases == 1) {
    ++life_.infosReleased;
  } else {
    ++life_.infoDoubleReleases;
  }
}

std::uint32_t FakeSdk::listCount(int listId) const {
  std::lock_guard<std::mutex> lock(mu_);
  const ListObject& list = *lists_[listId - 1];
  if (list.releases > 0) ++life_.useAfterRelease;
  return static_cast<std::uint32_t>(list.entries.size());
}

VCSDK::IVcCameraObjectInfo* FakeSdk::listEntry(int listId, std::uint32_t index) const {
  std::lock_guard<std::mutex> lock(mu_);
  const ListObject& list = *lists_[listId - 1];
  if (list.releases > 0) ++life_.useAfterRelease;
  return index < list.entries.size() ? list.entries[index] : nullptr;
}

void FakeSdk::releaseList(int listId) {
  std::lock_guard<std::mutex> lock(mu_);
  ListObject& list = *lists_[listId - 1];
  Call c;
  c.fn = "ListRelease";
  c.ints = {listId};
  record(std::move(c));
  if (++list.releases == 1) {
    ++life_.listsReleased;
  } else {
    ++life_.listDoubleReleases;
  }
}

// ---- private helpers (mu_ held) ----

void FakeSdk::record(Call call) { calls_.push_back(std::move(call)); }

VCSDK::VcStatus FakeSdk::nextResult(const std::string& fn) {
  auto q = queued_.find(fn);
  if (q != queued_.end() && !q->second.empty()) {
    VCSDK::VcStatus s = q->second.front();
    q->second.pop_front();
    return s;
  }
  auto d = defaults_.find(fn);
  return d == defaults_.end() ? 0 : d->second;
}

bool FakeSdk::knownHandle(std::int64_t handle) const { return callbacks_.count(handle) != 0; }

VCSDK::VcStatus FakeSdk::checked(Call call) {
  call.result = knownHandle(call.handle) ? nextResult(call.fn) : VCSDK::VcError_InvalidHandle;
  VCSDK::VcStatus result = call.result;
  record(std::move(call));
  return result;
}

FakeSdk& sdk() {
  static FakeSdk instance;
  return instance;
}

}  // namespace fake
