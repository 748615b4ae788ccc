// The event thread: connect, then long-poll the camera for events. A camera
// that dies or drops the link is noticed at once (reset or 410); one that
// stops answering, after at most 1.5 s. The margin over the camera's 400 ms
// wait keeps a merely busy machine from looking like a lost camera.
#include "Session.h"

#include <httplib.h>

#include <nlohmann/json.hpp>

#include "Downloads.h"
#include "QuietSocket.h"
#include "Wire.h"

namespace standin {

using namespace VCSDK;
using nlohmann::json;

namespace {
constexpr int kPollWaitMs = 400;
constexpr int kPollTimeoutMs = 1500;
}  // namespace

Session::Session(std::int64_t handle, ConnectRequest request, IDeviceCallback* callback)
    : handle_(handle), request_(std::move(request)), callback_(callback), link_(request_.ip) {}

Session::~Session() { stop(); }

void Session::start() {
  // The thread keeps the session alive: a callback may release its own device.
  std::shared_ptr<Session> self = shared_from_this();
  // Under the lock: a stop() from another thread (a Release() racing this
  // connect) must see either no thread or the whole of it.
  MutexLock lock(mutex_);
  thread_ = std::thread([self] { self->run(); });
  eventThread_ = thread_.get_id();
}

std::string Session::id() const {
  MutexLock lock(mutex_);
  return id_;
}

void Session::setSaveInfo(const std::string& folder, const std::string& prefix) {
  MutexLock lock(mutex_);
  folder_ = folder;
  prefix_ = prefix;
}

void Session::stop() {
  stopping_ = true;
  bool onEventThread;
  {
    MutexLock lock(mutex_);
    if (pollClient_) pollClient_->stop();  // wakes a long poll at once
    onEventThread = eventThread_ == std::this_thread::get_id();
    // Called from a callback: the thread ends after it returns.
    if (onEventThread && thread_.joinable()) thread_.detach();
  }
  if (!onEventThread) {
    // Joined outside mutex_, which the event thread takes until it ends.
    std::lock_guard<std::mutex> join(joinMutex_);
    std::thread thread;
    {
      MutexLock lock(mutex_);
      thread = std::move(thread_);
    }
    if (thread.joinable()) thread.join();
  }
  std::string id = this->id();
  State s = state_.load();
  if (!id.empty() && (s == Ready || s == Connecting))
    link_.post(std::string(vcwire::kDisconnect) + "?session=" + id, json::object(), 1000);
  state_ = Closed;
}

void Session::lose() {
  State expected = Ready;
  if (state_.compare_exchange_strong(expected, Lost)) {
    callback_->OnDisconnected(VcError_ConnectionLost);
    return;
  }
  expected = Connecting;
  if (state_.compare_exchange_strong(expected, Lost)) callback_->OnError(VcError_ConnectionLost);
}

void Session::run() {
  json req{{"mac", request_.mac}, {"ssh", request_.ssh}};
  if (!request_.user.empty()) req["user"] = request_.user;
  if (!request_.pass.empty()) req["pass"] = request_.pass;
  if (!request_.fingerprint.empty()) req["fingerprint"] = request_.fingerprint;
  json reply;
  VcStatus status = link_.call(vcwire::kConnect, req, VcError_ConnectNoCamera, &reply);
  if (stopping_) return;
  if (status != VcError_None) {
    state_ = Failed;
    callback_->OnError(status);
    return;
  }
  {
    MutexLock lock(mutex_);
    id_ = reply.value("session", std::string());
  }
  while (!stopping_ && poll()) {
  }
}

bool Session::poll() {
  httplib::Client client(request_.ip, vcwire::port());
  client.set_tcp_nodelay(true);
  client.set_socket_options(quietSocket);
  client.set_connection_timeout(kPollTimeoutMs / 1000, (kPollTimeoutMs % 1000) * 1000);
  client.set_read_timeout(kPollTimeoutMs / 1000, (kPollTimeoutMs % 1000) * 1000);
  {
    MutexLock lock(mutex_);
    if (stopping_) return false;
    pollClient_ = &client;
  }
  std::string path =
      std::string(vcwire::kEvents) + "?session=" + id() + "&wait=" + std::to_string(kPollWaitMs);
  auto res = client.Get(path.c_str());
  {
    MutexLock lock(mutex_);
    pollClient_ = nullptr;
  }
  if (stopping_) return false;
  if (!res || res->status == vcwire::kGone) {
    lose();
    return false;
  }
  json j = json::parse(res->body, nullptr, false);
  if (!j.is_object()) return true;
  for (const json& e : j.value("events", json::array())) {
    if (stopping_) return false;
    std::string type = e.value("type", std::string());
    if (type == vcwire::kEventReady) {
      State expected = Connecting;
      if (state_.compare_exchange_strong(expected, Ready))
        callback_->OnConnected(VcDeviceConnectionVersion_V2);
    } else if (type == vcwire::kEventError) {
      VcStatus code = e.value("code", VcStatus(VcError_Generic));
      State expected = Connecting;
      if (state_.compare_exchange_strong(expected, Failed)) {
        // The camera declined the link: tell it we are gone and stop polling.
        link_.post(std::string(vcwire::kDisconnect) + "?session=" + id(), json::object(), 1000);
        callback_->OnError(code);
        return false;
      }
      callback_->OnError(code);
    } else if (type == vcwire::kEventProps) {
      std::vector<unsigned> codes;
      for (const json& c : e.value("codes", json::array()))
        if (c.is_number_unsigned()) codes.push_back(c.get<unsigned>());
      callback_->OnPropertyChanged();
      callback_->OnPropertyChangedCodes(static_cast<unsigned>(codes.size()), codes.data());
    } else if (type == vcwire::kEventPicture) {
      download(e.value("id", std::uint64_t(0)));
    }
  }
  return true;
}

void Session::download(std::uint64_t pictureId) {
  Reply r = link_.get(
      std::string(vcwire::kPicture) + "?session=" + id() + "&id=" + std::to_string(pictureId),
      10000);
  std::string folder, prefix;
  {
    MutexLock lock(mutex_);
    folder = folder_;
    prefix = prefix_;
  }
  std::string path;
  if (!r.reached || r.status != 200 || folder.empty() ||
      !savePicture(folder, prefix, r.body, path)) {
    callback_->OnError(VcError_DownloadFailed);
    return;
  }
  callback_->OnCompleteDownload(path.data(), VcDownloadFile_Jpeg);
}

}  // namespace standin
