// A viewer of GET /liveview.mjpg for tests and benchmarks: reads the
// multipart stream on a thread of its own, splits it into parts by their
// Content-Length, and records each part with the camera's render stamp (the
// virtual camera's JPEG comment) and the time it arrived.
//
//   auto viewer = MjpegReader::open("127.0.143.2", 8080);
//   ... viewer->count(), viewer->parts(), viewer->waitEnded(3000) ...
//
// Thread-safe: the accessors may be called while the stream is read.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct MjpegPart {
  std::uint64_t frame = 0;  // X-Frame
  double serverStamp = 0;   // X-Timestamp, seconds since the epoch
  double renderStamp = 0;   // "kamora-vcam render S" in the JPEG, 0 without
  double arrival = 0;       // system clock, seconds, when its last byte came
  std::size_t bytes = 0;
  bool wholeJpeg = false;  // starts FF D8 and ends FF D9
  std::string camera;      // X-Camera (GET /tiles.mjpg)
  std::string view;        // X-View
  int width = 0;           // from the JPEG's frame header, 0 when not found
};

struct MjpegReaderOptions {
  std::string path = "/liveview.mjpg";
  int pauseAfterPartMs = 0;    // a slow viewer: waits this long after each part
  int receiveBufferBytes = 0;  // 0: the system's default
  bool keepPictures = false;   // keep each part's bytes (pictures())
};

class MjpegReader {
 public:
  // Connects and sends the request; null when the connection fails.
  static std::unique_ptr<MjpegReader> open(const std::string& host, int port,
                                           const MjpegReaderOptions& options = {});
  ~MjpegReader();  // stops reading and closes
  MjpegReader(const MjpegReader&) = delete;
  MjpegReader& operator=(const MjpegReader&) = delete;

  // Stops reading and closes the connection.
  void stop();
  // True once the server closed the connection (within timeoutMs).
  bool waitEnded(int timeoutMs);
  // True once at least n parts arrived (within timeoutMs).
  bool waitParts(std::size_t n, int timeoutMs);

  int status() const;             // the reply's status, 0 before it came
  std::string replyHead() const;  // the reply's status line and headers
  bool closingBoundary() const;   // "--kamoraframe--" came
  bool malformed() const;         // something that is not a well-formed part
  bool ended() const;             // the server closed the connection
  std::size_t count() const;
  std::vector<MjpegPart> parts() const;
  std::vector<std::string> pictures() const;  // with keepPictures
  std::string body() const;                   // the bytes after the reply head (small replies)

 private:
  MjpegReader() = default;
  void run();
  void parse();  // called with mutex_ held

  int fd_ = -1;
  MjpegReaderOptions options_;
  std::thread thread_;
  std::atomic<bool> stopping_{false};
  mutable std::mutex mutex_;
  std::string buffer_;  // unparsed bytes
  std::string head_;
  std::string body_;
  int status_ = 0;
  bool closing_ = false, malformed_ = false, ended_ = false;
  std::vector<MjpegPart> parts_;
  std::vector<std::string> pictures_;
};

// The render stamp of a JPEG from kamora-vcam (seconds), 0 without one.
double vcamRenderStamp(const std::string& jpeg);
// Now on the system clock, in seconds since the epoch.
double wallSeconds();
