// Test helpers for driving the SDK directly: a callback that records every
// event with the thread it arrived on, and JPEG decoding for picture checks.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "vcsdk/VcSDK.h"

// Thread-safe: the SDK calls it on its threads while a test waits on it.
class RecordingCallback : public VCSDK::IDeviceCallback {
 public:
  struct Event {
    std::string kind;  // connected, disconnected, error, warning, property, download
    unsigned code = 0;
    std::string file;
    std::thread::id thread;
    std::chrono::steady_clock::time_point at;
  };

  void OnConnected(VCSDK::DeviceConnectionVersion) override { add("connected"); }
  void OnDisconnected(unsigned error) override { add("disconnected", error); }
  void OnPropertyChanged() override { add("property"); }
  void OnCompleteDownload(char* filename, unsigned) override {
    add("download", 0, filename ? filename : "");
  }
  void OnWarning(unsigned code) override { add("warning", code); }
  void OnError(unsigned code) override { add("error", code); }

  // Waits until an event of kind has arrived (count of them, in total).
  bool waitFor(const std::string& kind, int timeoutMs, std::size_t count = 1);
  std::size_t count(const std::string& kind) const;
  std::vector<Event> events() const;
  // The first connected/error/disconnected event, waiting up to timeoutMs.
  bool waitOutcome(int timeoutMs, Event& out);

 private:
  void add(const char* kind, unsigned code = 0, std::string file = std::string());
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Event> events_;
};

// One SDK connection for a test: created, connected and let go in order.
// Not copyable: the SDK keeps the callback's address.
struct SdkLink {
  std::int64_t handle = 0;
  RecordingCallback callback;
  VCSDK::IVcCameraObjectInfo* info = nullptr;

  SdkLink() = default;
  SdkLink(const SdkLink&) = delete;
  SdkLink& operator=(const SdkLink&) = delete;
  ~SdkLink() { close(); }

  // Describes the camera and asks for the connection; the SDK's code.
  VCSDK::VcStatus request(const std::string& ip, const std::string& mac,
                          VCSDK::VcCameraDeviceModelList model = VCSDK::VcCameraModel_SB_A4,
                          bool ssh = false, const char* user = nullptr, const char* pass = nullptr,
                          bool withFingerprint = false, const char* forcedFingerprint = nullptr);
  // request() and a wait for OnConnected.
  bool open(const std::string& ip, const std::string& mac,
            VCSDK::VcCameraDeviceModelList model = VCSDK::VcCameraModel_SB_A4,
            int timeoutMs = 5000);
  void close();
};

// Sets one property of the camera behind handle; the SDK's code.
VCSDK::VcStatus setProperty(std::int64_t handle, std::uint32_t code, VCSDK::VcDataType type,
                            std::uint64_t value);

// Fetches one live-view picture the way the program does; the code of the
// first failing call, or 0 with jpeg filled (empty when no picture came).
VCSDK::VcStatus grabFrame(std::int64_t handle, std::string& jpeg);

// Decodes a JPEG to RGB; false if it is not one.
bool decodeJpeg(const std::string& jpeg, std::vector<std::uint8_t>& rgb, int& w, int& h);
bool decodeJpeg(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& rgb, int& w,
                int& h);
// Mean of each channel over the whole picture.
void meanRgb(const std::vector<std::uint8_t>& rgb, double mean[3]);
// Mean absolute difference per sample between two pictures of one size.
double meanAbsDiff(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b);
