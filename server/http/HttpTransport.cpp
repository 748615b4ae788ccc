// The transport's listening socket, accept loop, event loop and stop.
#include "server/http/HttpTransport.h"

#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <vector>

#include "common/ListenSocket.h"
#include "server/http/HttpConnection.h"

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

namespace {

// Out of descriptors: accepting again at once would only spin.
constexpr std::chrono::milliseconds kAcceptRetry{100};

}  // namespace

struct HttpTransport::Impl {
  Impl(HttpHandler handler, HttpFields defaults, httplimits::Timeouts timeouts)
      : host(io, std::move(handler), std::move(defaults), timeouts) {}

  void accept();
  void beginStop();

  asio::io_context io{1};
  ConnectionHost host;
  tcp::acceptor acceptor{io};
  asio::steady_timer retry{io};
  asio::steady_timer grace{io};
  std::atomic<bool> stopRequested{false};
  std::string bindError;
  int port = 0;
};

void HttpTransport::Impl::accept() {
  acceptor.async_accept([this](const boost::system::error_code& ec, tcp::socket socket) {
    if (host.stopping || !acceptor.is_open()) return;
    if (ec) {
      retry.expires_after(kAcceptRetry);
      retry.async_wait([this](const boost::system::error_code& waited) {
        if (!waited) accept();
      });
      return;
    }
    boost::system::error_code ignored;
    // Small replies would otherwise wait for the client's delayed ACK.
    socket.set_option(tcp::no_delay(true), ignored);
    auto connection = std::make_shared<HttpConnection>(std::move(socket), host);
    host.open.emplace(connection.get(), connection);
    connection->start();
    accept();
  });
}

void HttpTransport::Impl::beginStop() {
  if (host.stopping) return;
  host.stopping = true;
  boost::system::error_code ignored;
  acceptor.close(ignored);
  retry.cancel();
  std::vector<std::shared_ptr<HttpConnection>> connections;
  for (const auto& entry : host.open) connections.push_back(entry.second);
  for (const auto& connection : connections) connection->stop();
  if (host.open.empty()) return;
  host.onEmpty = [this] { grace.cancel(); };
  grace.expires_after(host.timeouts.stopGrace);
  grace.async_wait([this](const boost::system::error_code& ec) {
    if (ec) return;
    std::vector<std::shared_ptr<HttpConnection>> left;
    for (const auto& entry : host.open) left.push_back(entry.second);
    for (const auto& connection : left) connection->forceClose();
  });
}

HttpTransport::HttpTransport(HttpHandler handler, HttpFields defaultHeaders,
                             httplimits::Timeouts timeouts)
    : impl(std::make_unique<Impl>(std::move(handler), std::move(defaultHeaders), timeouts)) {}

HttpTransport::~HttpTransport() = default;

bool HttpTransport::bind(const std::string& host, int port) {
  raiseOpenFileLimit();
  const int fd = openListenSocket(host, port, impl->bindError);
  if (fd < 0) return false;
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  boost::system::error_code ec;
  impl->acceptor.assign(address.ss_family == AF_INET6 ? tcp::v6() : tcp::v4(), fd, ec);
  if (ec) {
    impl->bindError = ec.message();
    ::close(fd);
    return false;
  }
  impl->port = impl->acceptor.local_endpoint(ec).port();
  return true;
}

void HttpTransport::answerAtOnce(HttpQuickHandler quick) { impl->host.quick = std::move(quick); }

const std::string& HttpTransport::bindError() const { return impl->bindError; }

int HttpTransport::port() const { return impl->port; }

void HttpTransport::run() {
  if (!impl->acceptor.is_open()) return;
  if (impl->stopRequested.load()) {
    boost::system::error_code ignored;
    impl->acceptor.close(ignored);
    return;
  }
  impl->accept();
  for (;;) {
    try {
      impl->io.run();
      break;
    } catch (...) {
      // Only an allocation failure gets here; the loop goes on serving.
    }
  }
  impl->host.open.clear();
}

void HttpTransport::stop() {
  impl->stopRequested.store(true);
  asio::post(impl->io, [impl = impl.get()] { impl->beginStop(); });
}

std::size_t HttpTransport::workerThreads() const { return impl->host.workers.threadCount(); }
