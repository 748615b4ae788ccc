// Reading and splitting a multipart JPEG stream from a plain socket.
#include "tests/support/MjpegReader.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>

namespace {

const char kBoundary[] = "--kamoraframe";

// The value of a header named `name` (case as the server writes it) in head.
std::string field(const std::string& head, const std::string& name) {
  const std::string key = "\r\n" + name + ": ";
  const std::size_t at = ("\r\n" + head).find(key);
  if (at == std::string::npos) return "";
  const std::size_t start = at + key.size() - 2;
  return head.substr(start, head.find("\r\n", start) - start);
}

// The width in a JPEG's frame header (SOF0..SOF2), walking the segments; 0
// when there is none.
int jpegWidth(const std::string& jpeg) {
  const auto byte = [&jpeg](std::size_t i) { return static_cast<unsigned char>(jpeg[i]); };
  std::size_t at = 2;
  while (at + 9 < jpeg.size() && byte(at) == 0xFF) {
    const unsigned marker = byte(at + 1);
    if (marker >= 0xC0 && marker <= 0xC2) return byte(at + 7) << 8 | byte(at + 8);
    at += 2 + (byte(at + 2) << 8 | byte(at + 3));
  }
  return 0;
}

bool waitUntil(const std::function<bool()>& done, int timeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace

double wallSeconds() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

double vcamRenderStamp(const std::string& jpeg) {
  if (jpeg.size() < 6 || static_cast<unsigned char>(jpeg[2]) != 0xFF ||
      static_cast<unsigned char>(jpeg[3]) != 0xFE) {
    return 0;
  }
  const std::size_t length =
      (static_cast<unsigned char>(jpeg[4]) << 8) | static_cast<unsigned char>(jpeg[5]);
  const std::string text = jpeg.substr(6, length >= 2 ? length - 2 : 0);
  const std::string prefix = "kamora-vcam render ";
  if (text.compare(0, prefix.size(), prefix) != 0) return 0;
  return std::strtod(text.c_str() + prefix.size(), nullptr);
}

std::unique_ptr<MjpegReader> MjpegReader::open(const std::string& host, int port,
                                               const MjpegReaderOptions& options) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return nullptr;
  if (options.receiveBufferBytes > 0) {
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &options.receiveBufferBytes,
                 sizeof options.receiveBufferBytes);
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  if (::inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1 ||
      ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return nullptr;
  }
  const std::string request = "GET " + options.path + " HTTP/1.1\r\nHost: " + host + ":" +
                              std::to_string(port) + "\r\n\r\n";
  if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) !=
      static_cast<ssize_t>(request.size())) {
    ::close(fd);
    return nullptr;
  }
  std::unique_ptr<MjpegReader> reader(new MjpegReader());
  reader->fd_ = fd;
  reader->options_ = options;
  reader->thread_ = std::thread([r = reader.get()] { r->run(); });
  return reader;
}

MjpegReader::~MjpegReader() {
  stop();
  if (fd_ >= 0) ::close(fd_);
}

void MjpegReader::stop() {
  stopping_ = true;
  if (thread_.joinable()) thread_.join();
}

void MjpegReader::run() {
  char chunk[65536];
  while (!stopping_) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
    std::size_t before = 0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (n <= 0) {
        ended_ = true;
        return;
      }
      before = parts_.size();
      buffer_.append(chunk, static_cast<std::size_t>(n));
      parse();
      if (parts_.size() == before || options_.pauseAfterPartMs <= 0) continue;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(options_.pauseAfterPartMs));
  }
}

void MjpegReader::parse() {
  if (status_ == 0) {
    const std::size_t end = buffer_.find("\r\n\r\n");
    if (end == std::string::npos) return;
    head_ = buffer_.substr(0, end + 2);
    status_ = std::atoi(head_.c_str() + head_.find(' ') + 1);
    buffer_.erase(0, end + 4);
  }
  if (head_.find("multipart/x-mixed-replace") == std::string::npos) {
    body_ += buffer_;
    buffer_.clear();
    return;
  }
  while (!closing_ && !malformed_) {
    std::size_t start = 0;
    while (buffer_.compare(start, 2, "\r\n") == 0) start += 2;
    const std::string closing = std::string(kBoundary) + "--";
    if (buffer_.size() - start >= closing.size()) {
      if (buffer_.compare(start, closing.size(), closing) == 0) {
        closing_ = true;
        return;
      }
    }
    const std::size_t headEnd = buffer_.find("\r\n\r\n", start);
    if (headEnd == std::string::npos) return;
    const std::string partHead = buffer_.substr(start, headEnd + 2 - start);
    if (partHead.compare(0, sizeof kBoundary - 1, kBoundary) != 0) {
      malformed_ = true;
      return;
    }
    const std::string length = field(partHead, "Content-Length");
    if (length.empty()) {
      malformed_ = true;
      return;
    }
    const std::size_t size = std::strtoul(length.c_str(), nullptr, 10);
    const std::size_t bodyAt = headEnd + 4;
    if (buffer_.size() < bodyAt + size) return;
    const std::string picture = buffer_.substr(bodyAt, size);
    MjpegPart part;
    part.frame = std::strtoull(field(partHead, "X-Frame").c_str(), nullptr, 10);
    part.serverStamp = std::strtod(field(partHead, "X-Timestamp").c_str(), nullptr);
    part.renderStamp = vcamRenderStamp(picture);
    part.camera = field(partHead, "X-Camera");
    part.view = field(partHead, "X-View");
    part.width = jpegWidth(picture);
    part.arrival = wallSeconds();
    part.bytes = size;
    part.wholeJpeg = size >= 4 && static_cast<unsigned char>(picture[0]) == 0xFF &&
                     static_cast<unsigned char>(picture[1]) == 0xD8 &&
                     static_cast<unsigned char>(picture[size - 2]) == 0xFF &&
                     static_cast<unsigned char>(picture[size - 1]) == 0xD9;
    parts_.push_back(part);
    if (options_.keepPictures) pictures_.push_back(picture);
    buffer_.erase(0, bodyAt + size);
  }
}

bool MjpegReader::waitEnded(int timeoutMs) {
  return waitUntil([this] { return ended(); }, timeoutMs);
}

bool MjpegReader::waitParts(std::size_t n, int timeoutMs) {
  return waitUntil([this, n] { return count() >= n || ended(); }, timeoutMs) && count() >= n;
}

int MjpegReader::status() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return status_;
}
std::string MjpegReader::replyHead() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return head_;
}
bool MjpegReader::closingBoundary() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return closing_;
}
bool MjpegReader::malformed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return malformed_;
}
bool MjpegReader::ended() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return ended_;
}
std::size_t MjpegReader::count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return parts_.size();
}
std::vector<MjpegPart> MjpegReader::parts() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return parts_;
}
std::vector<std::string> MjpegReader::pictures() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return pictures_;
}
std::string MjpegReader::body() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return body_;
}
