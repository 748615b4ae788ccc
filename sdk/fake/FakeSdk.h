// A scriptable, recording fake of the camera SDK for unit tests. It links in
// place of the real SDK: every VCSDK:: function lands here.
//
// Use it through the one process-wide instance:
//
//   auto& f = fake::sdk();
//   f.reset();                                   // in SetUp: clean slate
//   f.setResult("SetDeviceProperty", 0x8201);    // every call refused
//   f.queueResults("Connect", {0x8106, 0});      // first refused, then ok
//   f.onConnect(fake::Event::connected(20));     // OnConnected 20 ms later
//   ... run the code under test ...
//   EXPECT_EQ(f.names(), (fake::Names{"Init", "GetSDKVersion"}));
//   EXPECT_EQ(f.last("SetDeviceProperty").ints, (fake::Ints{0x0104, 3, 800}));
//   EXPECT_EQ(f.last("Connect").texts[0], std::nullopt);   // null user
//   EXPECT_TRUE(f.drain());                      // every callback delivered
//
// Every call is recorded as a Call, in order. `handle` is the device handle
// argument (Connect: the handle it wrote; 0 when none). `ints` holds the
// other scalar arguments, `texts` the char* arguments (nullopt for null):
//
//   Init                   ints {logType}                       result: 1/0
//   Release                -
//   GetSDKVersion          -                                    result: version
//   EnumCameraObjects      ints {timeInSec}
//   CreateCameraObjectInfoEthernetConnection
//                          ints {model, ipAddress, sshSupport}, bytes = MAC
//                          (6 bytes; empty for a null MAC pointer)
//   GetFingerprint         ints {infoId, bufferWasZeroed (512 bytes all 0)}
//   Connect                ints {infoId, mode, reconnect, fingerprintSize,
//                                reserved, callbackGiven}
//                          texts {user, password, fingerprint}; the
//                          fingerprint text holds fingerprintSize bytes
//   Disconnect, ReleaseDevice                  handle only
//   SetDeviceProperty      ints {code, valueType, value}
//   GetSelectDeviceProperties  ints {numOfCodes}, codes = the codes asked
//   ReleaseDeviceProperties    ints {arrayId} (0: null or unknown pointer)
//   SetSaveInfo            ints {saveNumber}, texts {path, prefix}
//   SendCommand            ints {commandId, commandParam}
//   ControlPTZF            ints {controlType}, ptzf = the setting (nullopt
//                          for a null setting)
//   PresetPTZFSet          ints {presetNumber, includePanTilt, includeZoomFocus}
//   PresetPTZFClear        ints {presetNumber}
//   ExecuteControlCodeValue    ints {controlCode, value}
//   GetLiveViewImageInfo   -
//   GetLiveViewImage       ints {blockSize}
//   InfoRelease            ints {infoId}   (IVcCameraObjectInfo::Release)
//   ListRelease            ints {listId}   (IVcEnumCameraObjectInfo::Release)
//
// Info objects, lists and property arrays get ids from 1 in creation order.
// Handles issued by Connect are non-zero and distinct. Calls naming a handle
// that Connect never issued (or that ReleaseDevice already freed) return
// VcError_InvalidHandle after being recorded, which catches use of stale
// handles. Scripted results apply otherwise: a queued result first, then the
// per-function default, then 0.
//
// Callbacks: the IDeviceCallback given to Connect is remembered per handle.
// Events (automatic ones and those queued with fire) run on a worker thread
// of the fake's own, like the real SDK's threads, in due-time order.
// ReleaseDevice drops the handle's pending events and waits for one that is
// running, so no callback reaches an object after ReleaseDevice returns.
//
// Thread-safe: the code under test may poll from one thread while the worker
// delivers callbacks. Objects handed out (infos, lists, property arrays) stay
// allocated until reset(), so a use after release is counted, not a crash.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "vcsdk/VcSDK.h"

namespace fake {

using Ints = std::vector<std::int64_t>;
using Names = std::vector<std::string>;
using Texts = std::vector<std::optional<std::string>>;

struct Call {
  std::string fn;
  std::int64_t handle = 0;
  Ints ints;
  Texts texts;
  std::vector<std::uint8_t> bytes;
  std::vector<std::uint32_t> codes;
  std::optional<VCSDK::VcPTZFSetting> ptzf;
  std::uint32_t result = 0;  // status returned (Init: 1/0; GetSDKVersion: version)
};

// One camera in the discovery list. A null entry makes GetCameraObjectInfo
// return null at its index; a null text makes the getter return null.
struct CameraEntry {
  bool null = false;
  std::optional<std::string> model;
  std::optional<std::string> connection;
  std::optional<std::string> ip;
  std::optional<std::string> mac;
};
CameraEntry camera(std::optional<std::string> model, std::optional<std::string> connection,
                   std::optional<std::string> ip,
                   std::optional<std::string> mac = "00:00:00:00:00:00");
CameraEntry nullCamera();

// Something the fake delivers to a device callback, after delayMs.
struct Event {
  enum class Kind { None, Connected, Disconnected, Error, Warning, Download };
  Kind kind = Kind::None;
  std::uint32_t code = 0;           // Disconnected, Error, Warning
  std::optional<std::string> file;  // Download (nullopt: null file name)
  std::uint32_t fileType = VCSDK::VcDownloadFile_Jpeg;
  int delayMs = 0;

  static Event none();
  static Event connected(int delayMs = 0);
  static Event disconnected(std::uint32_t code, int delayMs = 0);
  static Event error(std::uint32_t code, int delayMs = 0);
  static Event warning(std::uint32_t code, int delayMs = 0);
  // An empty name picks "fake_NNNNN.jpg" with a running number.
  static Event download(std::optional<std::string> file = std::string(), int delayMs = 0);
};

// What one live-view request yields. GetLiveViewImageInfo returns infoCode
// and, on success, reports bufferSize (default: offset + picture + 16).
// GetLiveViewImage returns imageCode and, on success, copies picture into the
// caller's buffer at `offset` (the bytes before it are filled with 0xAA, so a
// reader that starts at the buffer's beginning sees garbage). An empty
// picture reports image size 0. A picture that would not fit in the caller's
// block yields VcError_LiveViewBufferTooSmall instead.
struct LiveViewStep {
  std::uint32_t infoCode = 0;
  std::optional<std::uint32_t> bufferSize;
  std::uint32_t imageCode = 0;
  std::vector<std::uint8_t> picture;
  std::uint32_t offset = 0;
};
// A recognisable stand-in picture: starts FF D8, ends FF D9, `size` bytes
// (at least 4), with `seed` varying the middle bytes.
std::vector<std::uint8_t> jpegBytes(std::uint32_t size, std::uint8_t seed = 0);

// Counters of object lifetimes, for "released exactly once" assertions.
struct Lifetimes {
  int infosCreated = 0;        // by CreateCameraObjectInfoEthernetConnection
  int infosReleased = 0;       // first Release of such an info
  int infoDoubleReleases = 0;  // Release of an already released info
  int listInfoReleases = 0;    // Release called on an info that a list owns
  int listsCreated = 0;
  int listsReleased = 0;
  int listDoubleReleases = 0;
  int arraysCreated = 0;  // property arrays from GetSelectDeviceProperties
  int arraysReleased = 0;
  int badArrayReleases = 0;  // null, unknown or already released pointer
  int useAfterRelease = 0;   // getter called on a released info or list
  int droppedEvents = 0;     // events whose handle had no callback when due
};

class FakeSdk {
 public:
  FakeSdk();
  ~FakeSdk();
  FakeSdk(const FakeSdk&) = delete;
  FakeSdk& operator=(const FakeSdk&) = delete;

  // Stops the callback thread (dropping pending events), forgets every call,
  // script and object. Tests call it in SetUp.
  void reset();

  // ---- scripting ----
  void setResult(const std::string& fn, VCSDK::VcStatus status);
  void queueResults(const std::string& fn, std::vector<VCSDK::VcStatus> statuses);
  void setInitResult(bool ok);
  void setVersion(std::uint32_t version);

  // Discovery: the list EnumCameraObjects hands out on success (default:
  // empty). With nullList, it returns 0 but leaves the list pointer null.
  // A non-zero scripted result leaves the pointer untouched.
  void setCameras(std::vector<CameraEntry> cameras);
  void setEnumNullList(bool nullList);

  // CreateCameraObjectInfoEthernetConnection returns 0 but leaves the
  // pointer null.
  void setCreateInfoNull(bool nullInfo);

  // GetFingerprint writes these bytes (at most 512) and their length
  // (default: none, length 0).
  void setFingerprint(std::string fingerprint);

  // GetSelectDeviceProperties hands out exactly these entries, in this
  // order, whatever codes were asked (default: none, a non-null empty array).
  // With nullArray it returns 0 and leaves the array pointer null.
  void setProperties(std::vector<std::pair<std::uint32_t, std::uint64_t>> entries);
  void setPropertiesNullArray(bool nullArray);

  // Live view: the default step, and steps consumed one per
  // GetLiveViewImageInfo call before the default applies again. A
  // GetLiveViewImage answers with the step of the same thread's latest
  // GetLiveViewImageInfo on that handle (the default step if none).
  void setLiveView(LiveViewStep step);
  void queueLiveView(std::vector<LiveViewStep> steps);

  // Automatic events: after an accepted Connect with a callback, and after an
  // accepted shutter release (SendCommand 7 with parameter 0). Queued events
  // are used first, one per trigger; then the default. Defaults:
  // Event::connected(10) and Event::download("", 10): the small delay keeps
  // the callback's line after the caller's own line in the usual case, but
  // callbacks run on another thread, so output order is never guaranteed.
  void onConnect(Event event);
  void queueOnConnect(std::vector<Event> events);
  void onShutterRelease(Event event);
  void queueOnShutterRelease(std::vector<Event> events);
  // An event after each accepted shutter press (SendCommand 7 with parameter
  // 1; default: none), for a camera that delivers while the button is still
  // down: the release that follows waits until it has been delivered.
  void onShutterPress(Event event);

  // Queues fn for the callback of `handle` (or of the last Connect) after
  // delayMs, on the worker thread.
  void fire(std::int64_t handle, std::function<void(VCSDK::IDeviceCallback&)> fn, int delayMs = 0);
  void fire(std::function<void(VCSDK::IDeviceCallback&)> fn, int delayMs = 0);
  void fire(std::int64_t handle, const Event& event);
  // Waits until no event is pending or running; false after timeoutMs.
  bool drain(int timeoutMs = 10000);

  // ---- inspection ----
  std::vector<Call> calls() const;
  std::vector<Call> calls(const std::string& fn) const;
  Names names() const;
  // Names without the calls to the given functions (e.g. hide "InfoRelease").
  Names namesExcept(const std::set<std::string>& skip) const;
  int count(const std::string& fn) const;
  // The last call to fn; a Call with an empty fn when there was none.
  Call last(const std::string& fn) const;
  void clearCalls();
  std::string transcript() const;  // one line per call, for failure messages

  Lifetimes lifetimes() const;
  // Release count of the info with this id (either kind).
  int infoReleaseCount(int infoId) const;
  // The id of an info handed out by the fake; 0 for anything else.
  int infoId(const VCSDK::IVcCameraObjectInfo* info) const;
  std::int64_t lastHandle() const;  // issued by the last accepted Connect
  VCSDK::IDeviceCallback* callbackFor(std::int64_t handle) const;

  // ---- the SDK's entry points (called by VCSDK:: functions) ----
  bool init(std::uint32_t logType);
  bool release();
  std::uint32_t version();
  VCSDK::VcStatus enumCameraObjects(VCSDK::IVcEnumCameraObjectInfo** list, std::uint8_t time);
  VCSDK::VcStatus createInfo(VCSDK::IVcCameraObjectInfo** info,
                             VCSDK::VcCameraDeviceModelList model, std::uint32_t ip,
                             std::uint8_t* mac, std::uint8_t ssh);
  VCSDK::VcStatus getFingerprint(VCSDK::IVcCameraObjectInfo* info, char* fingerprint,
                                 std::uint32_t* size);
  VCSDK::VcStatus connect(VCSDK::IVcCameraObjectInfo* info, VCSDK::IDeviceCallback* callback,
                          std::int64_t* handle, std::uint32_t mode, std::uint32_t reconnect,
                          const char* user, const char* password, const char* fingerprint,
                          std::uint32_t fingerprintSize, std::uint32_t reserved);
  VCSDK::VcStatus disconnect(std::int64_t handle);
  VCSDK::VcStatus releaseDevice(std::int64_t handle);
  VCSDK::VcStatus setDeviceProperty(std::int64_t handle, VCSDK::VcDeviceProperty* property);
  VCSDK::VcStatus getSelectDeviceProperties(std::int64_t handle, std::uint32_t numOfCodes,
                                            std::uint32_t* codes,
                                            VCSDK::VcDeviceProperty** properties,
                                            std::int32_t* numOfProperties);
  VCSDK::VcStatus releaseDeviceProperties(std::int64_t handle, VCSDK::VcDeviceProperty* properties);
  VCSDK::VcStatus setSaveInfo(std::int64_t handle, char* path, char* prefix,
                              std::int32_t saveNumber);
  VCSDK::VcStatus sendCommand(std::int64_t handle, std::uint32_t id, std::uint32_t param);
  VCSDK::VcStatus controlPtzf(std::int64_t handle, std::uint32_t type,
                              VCSDK::VcPTZFSetting* setting);
  VCSDK::VcStatus presetSet(std::int64_t handle, std::uint16_t number, std::uint8_t panTilt,
                            std::uint8_t zoomFocus);
  VCSDK::VcStatus presetClear(std::int64_t handle, std::uint16_t number);
  VCSDK::VcStatus executeControlCodeValue(std::int64_t handle, std::uint32_t code,
                                          std::uint64_t value);
  VCSDK::VcStatus liveViewInfo(std::int64_t handle, VCSDK::VcImageInfo* info);
  VCSDK::VcStatus liveViewImage(std::int64_t handle, VCSDK::VcImageDataBlock* block);

  // Called by the fake's info and list objects.
  const char* infoText(int infoId, int which) const;
  void releaseInfo(int infoId);
  std::uint32_t listCount(int listId) const;
  VCSDK::IVcCameraObjectInfo* listEntry(int listId, std::uint32_t index) const;
  void releaseList(int listId);

 private:
  struct InfoObject;
  struct ListObject;
  struct Pending {
    std::uint64_t seq;
    std::chrono::steady_clock::time_point due;
    std::int64_t handle;
    std::function<void(VCSDK::IDeviceCallback&)> fn;
  };

  // All private helpers expect mu_ held.
  void record(Call call);
  VCSDK::VcStatus nextResult(const std::string& fn);
  bool knownHandle(std::int64_t handle) const;
  VCSDK::VcStatus checked(Call call);  // records; InvalidHandle or scripted result
  void enqueue(std::int64_t handle, const Event& event);
  void enqueueFn(std::int64_t handle, std::function<void(VCSDK::IDeviceCallback&)> fn, int delayMs);
  void stopWorker(std::unique_lock<std::mutex>& lock);
  void workerLoop();
  LiveViewStep currentStep(std::int64_t handle) const;

  mutable std::mutex mu_;
  std::condition_variable cv_;

  std::vector<Call> calls_;
  std::map<std::string, VCSDK::VcStatus> defaults_;
  std::map<std::string, std::deque<VCSDK::VcStatus>> queued_;
  bool initResult_ = true;
  std::uint32_t version_ = 0x01000000;
  std::vector<CameraEntry> cameras_;
  bool enumNullList_ = false;
  bool createInfoNull_ = false;
  std::string fingerprint_;
  std::vector<std::pair<std::uint32_t, std::uint64_t>> properties_;
  bool propertiesNullArray_ = false;
  LiveViewStep liveView_;
  std::deque<LiveViewStep> liveViewQueue_;
  // The step of each thread's latest GetLiveViewImageInfo per handle, so
  // that concurrent grabs on one camera each get the picture they sized.
  std::map<std::pair<std::int64_t, std::thread::id>, LiveViewStep> lastStep_;
  std::uint32_t frameNo_ = 0;
  Event connectEvent_;
  std::deque<Event> connectQueue_;
  Event releaseEvent_;
  std::deque<Event> releaseQueue_;
  Event pressEvent_;
  std::uint64_t pressSeq_ = 0;  // the last press's event, until delivered
  std::uint32_t downloadNo_ = 0;

  std::vector<std::unique_ptr<InfoObject>> infos_;  // id = index + 1
  std::vector<std::unique_ptr<ListObject>> lists_;  // id = index + 1
  struct Array {
    int id;
    std::unique_ptr<VCSDK::VcDeviceProperty[]> data;
    bool released = false;
  };
  std::vector<Array> arrays_;
  mutable Lifetimes life_;  // counted also by const getters

  std::int64_t nextHandle_ = 1001;
  std::int64_t lastHandle_ = 0;
  std::map<std::int64_t, VCSDK::IDeviceCallback*> callbacks_;  // live handles

  std::vector<Pending> pending_;
  std::uint64_t seq_ = 0;
  bool busy_ = false;  // an event is being delivered
  std::int64_t runningHandle_ = 0;
  std::uint64_t runningSeq_ = 0;
  bool stopping_ = false;
  std::thread worker_;
};

// The one fake of the process.
FakeSdk& sdk();

}  // namespace fake
