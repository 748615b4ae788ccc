// The capture review routes over HTTP against `kamora --server`: the listing's
// order, paging and fields (a real download from the virtual camera beside
// planted files), the picture and its scaled copies with their caching, every
// way of asking for a file outside the capture folder, and a listing taken
// while pictures arrive.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "tests/support/KamoraServer.h"
#include "tests/support/StatusReply.h"
#include "tests/support/Vcam.h"

namespace {

// "YYYY-MM-DDTHH:MM:SS": digits where the pattern has 9, the rest as written.
bool isLocalTimestamp(const std::string& text) {
  const std::string pattern = "9999-99-99T99:99:99";
  if (text.size() != pattern.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool digit = std::isdigit(static_cast<unsigned char>(text[i])) != 0;
    if (pattern[i] == '9' ? !digit : text[i] != pattern[i]) return false;
  }
  return true;
}

using nlohmann::json;
namespace fs = std::filesystem;

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void setMtime(const std::string& path, long long seconds, long nanoseconds = 0) {
  struct timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
  ::utimensat(AT_FDCWD, path.c_str(), times, 0);
}

long long mtimeMs(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return -1;
  return (static_cast<long long>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec) / 1000000;
}

int jpegWidth(const std::string& jpeg) {
  tjhandle tj = tjInitDecompress();
  int w = 0, h = 0, sub = 0, space = 0;
  const int rc = tjDecompressHeader3(tj, reinterpret_cast<const unsigned char*>(jpeg.data()),
                                     static_cast<unsigned long>(jpeg.size()), &w, &h, &sub, &space);
  tjDestroy(tj);
  return rc == 0 ? w : -1;
}

std::vector<std::string> namesOf(const json& listing) {
  std::vector<std::string> names;
  for (const json& p : listing["pictures"]) names.push_back(p["name"].get<std::string>());
  return names;
}

json getJson(httplib::Client& c, const std::string& path) {
  auto r = c.Get(path.c_str());
  if (!r || r->status != 200) return json();
  return json::parse(r->body, nullptr, false);
}

// One request sent byte for byte as written (no client normalises the path),
// on a connection of its own; returns the status code and the body.
std::pair<int, std::string> rawGet(const std::string& host, const std::string& target) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(8080);
  ::inet_pton(AF_INET, host.c_str(), &addr.sin_addr);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return {-1, ""};
  }
  const std::string request =
      "GET " + target + " HTTP/1.1\r\nHost: " + host + ":8080\r\nConnection: close\r\n\r\n";
  ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  timeval timeout{5, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  std::string out;
  char buffer[4096];
  for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) out.append(buffer, n);
  ::close(fd);
  const std::size_t split = out.find("\r\n\r\n");
  if (out.compare(0, 9, "HTTP/1.1 ") != 0 || split == std::string::npos) return {-1, out};
  return {std::atoi(out.c_str() + 9), out.substr(split + 4)};
}

TEST(HttpCaptureReviewTest, ListsNewestFirstWithTheirSettingsAndServesEachPicture) {
  auto cam = VirtualCamera::start("127.0.173.1", "02:00:00:00:73:01");
  ASSERT_TRUE(cam) << VirtualCamera::lastError();
  auto server = KamoraServer::start("127.0.173.2");
  ASSERT_TRUE(server) << KamoraServer::lastError();
  httplib::Client c = server->client();
  const std::string dir = server->workDir() + "/captures";

  // Nothing downloaded yet: an empty page, not an error.
  json empty = getJson(c, "/captures");
  EXPECT_EQ(empty, json::parse(R"({"pictures":[],"more":false,"total":0})"));

  ASSERT_EQ(c.Post(("/connect?ip=" + cam->ip() + "&mac=" + cam->mac()).c_str())->status, 200);
  ASSERT_EQ(c.Post("/exposure?iso=400&fnumber=8&shutter=1/250&ev=0.3")->status, 200);
  auto shot = c.Post("/capture");
  ASSERT_TRUE(shot);
  ASSERT_EQ(shot->body, statusBody("1 foto(s)"));
  const std::string shotName = "KAMORA_00001.JPG";
  ASSERT_TRUE(fs::exists(dir + "/" + shotName));

  // Planted beside it, all older than the download: live-view frames (a JPEG
  // without EXIF), two of the same time (then by name, descending), a file
  // that is no picture under a picture's name, and what is never listed.
  const std::string frame = cam->frame();
  ASSERT_GT(jpegWidth(frame), 0);
  const struct {
    const char* name;
    long long seconds;
  } planted[] = {{"KAMORA_00102.JPG", 1700000300},
                 {"KAMORA_00101.JPG", 1700000200},
                 {"KAMORA_00103.jpg", 1700000200},
                 {"KAMORA_CAM2_00100.JPG", 1700000100},
                 {"KAMORA_00099.JPG", 1700000000}};
  for (const auto& p : planted) {
    writeFile(dir + "/" + p.name, p.name == std::string("KAMORA_00099.JPG") ? "no jpeg" : frame);
    setMtime(dir + "/" + p.name, p.seconds, 5000000);
  }
  writeFile(dir + "/notes.txt", frame);
  writeFile(dir + "/.vcdl-00000000000000ab.part", frame);
  writeFile(dir + "/KAMORA_0001.JPG", frame);
  ASSERT_EQ(::symlink("/etc/passwd", (dir + "/KAMORA_00300.JPG").c_str()), 0);
  ASSERT_EQ(::mkdir((dir + "/KAMORA_00301.JPG").c_str(), 0755), 0);

  const std::vector<std::string> order = {
      shotName,           "KAMORA_00102.JPG",      "KAMORA_00103.jpg",
      "KAMORA_00101.JPG", "KAMORA_CAM2_00100.JPG", "KAMORA_00099.JPG"};
  auto all = c.Get("/captures");
  ASSERT_TRUE(all);
  EXPECT_EQ(all->get_header_value("Content-Type"), "application/json");
  EXPECT_EQ(all->get_header_value("Cache-Control"), "no-store");
  const nlohmann::ordered_json listing = nlohmann::ordered_json::parse(all->body, nullptr, false);
  ASSERT_FALSE(listing.is_discarded()) << all->body;
  EXPECT_EQ(namesOf(listing), order);
  EXPECT_EQ(listing["more"], false);
  EXPECT_EQ(listing["total"], order.size());

  // The download: what the camera was set to, as its EXIF says, in this order.
  const nlohmann::ordered_json& first = listing["pictures"][0];
  std::vector<std::string> keys;
  for (auto it = first.begin(); it != first.end(); ++it) keys.push_back(it.key());
  EXPECT_EQ(keys, (std::vector<std::string>{"name", "bytes", "mtime", "iso", "fnumber", "shutter",
                                            "ev", "model", "taken", "width", "height"}));
  EXPECT_EQ(first["bytes"], fs::file_size(dir + "/" + shotName));
  EXPECT_EQ(first["mtime"], mtimeMs(dir + "/" + shotName));
  EXPECT_EQ(first["iso"], 400);
  EXPECT_EQ(first["fnumber"], 8.0);
  EXPECT_EQ(first["shutter"], "1/250");
  EXPECT_NEAR(first["ev"].get<double>(), 0.3, 1e-9);
  EXPECT_EQ(first["model"], "SB_A4");
  EXPECT_TRUE(isLocalTimestamp(first["taken"].get<std::string>())) << first["taken"];
  EXPECT_EQ(first["width"], 3000);
  EXPECT_EQ(first["height"], 2000);
  // A frame without EXIF: only its size; a file that is no JPEG: nothing.
  const nlohmann::ordered_json& plain = listing["pictures"][1];
  EXPECT_EQ(plain["mtime"], 1700000300005LL);
  for (const char* k : {"iso", "fnumber", "shutter", "ev", "model", "taken"})
    EXPECT_TRUE(plain[k].is_null()) << k;
  EXPECT_EQ(plain["width"], jpegWidth(frame));
  for (const char* k : {"iso", "fnumber", "shutter", "ev", "model", "taken", "width", "height"})
    EXPECT_TRUE(listing["pictures"][5][k].is_null()) << k;

  // Pages of two follow one another without a gap or a repeat; limit 0 and
  // text mean the default; a name the folder never had gives an empty page.
  std::vector<std::string> paged;
  std::string before;
  for (int page = 0; page < 3; ++page) {
    json p = getJson(c, "/captures?limit=2" + (before.empty() ? "" : "&before=" + before));
    ASSERT_EQ(p["pictures"].size(), 2u) << p.dump();
    EXPECT_EQ(p["more"], page < 2);
    for (const std::string& n : namesOf(p)) paged.push_back(n);
    before = paged.back();
  }
  EXPECT_EQ(paged, order);
  EXPECT_EQ(namesOf(getJson(c, "/captures?limit=0")), order);
  EXPECT_EQ(namesOf(getJson(c, "/captures?limit=abc")), order);
  EXPECT_EQ(namesOf(getJson(c, "/captures?limit=1&before=KAMORA_00101.JPG")),
            std::vector<std::string>{"KAMORA_CAM2_00100.JPG"});
  EXPECT_EQ(getJson(c, "/captures?before=KAMORA_77777.JPG")["pictures"], json::array());

  // The picture itself, byte for byte, cached for good, 304 when unchanged.
  auto original = c.Get(("/captures/" + shotName).c_str());
  ASSERT_TRUE(original);
  EXPECT_EQ(original->status, 200);
  EXPECT_EQ(original->get_header_value("Content-Type"), "image/jpeg");
  EXPECT_EQ(original->get_header_value("Cache-Control"), "private, max-age=31536000, immutable");
  EXPECT_TRUE(original->body == readFile(dir + "/" + shotName));
  const std::string etag = original->get_header_value("ETag");
  ASSERT_FALSE(etag.empty());
  for (const std::string& asked : {etag, "W/" + etag, "\"x\", " + etag, std::string("*")}) {
    auto again = c.Get(("/captures/" + shotName).c_str(), {{"If-None-Match", asked}});
    ASSERT_TRUE(again);
    EXPECT_EQ(again->status, 304) << asked;
    EXPECT_TRUE(again->body.empty());
    EXPECT_EQ(again->get_header_value("ETag"), etag);
  }
  auto stale = c.Get(("/captures/" + shotName).c_str(), {{"If-None-Match", "\"1-2\""}});
  ASSERT_TRUE(stale);
  EXPECT_EQ(stale->status, 200);

  // Scaled copies: their own width and their own ETag.
  std::set<std::string> etags = {etag};
  for (const auto& size : {std::make_pair("thumb", 320), std::make_pair("screen", 1600)}) {
    auto copy = c.Get(("/captures/" + shotName + "?size=" + size.first).c_str());
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->status, 200) << size.first;
    EXPECT_EQ(copy->get_header_value("Content-Type"), "image/jpeg");
    const int width = jpegWidth(copy->body);  // the scaler may stop at a fraction of 3000
    EXPECT_LE(width, size.second) << size.first;
    EXPECT_GT(width, size.second / 2) << size.first;
    EXPECT_TRUE(etags.insert(copy->get_header_value("ETag")).second) << size.first;
    EXPECT_EQ(copy->get_header_value("Cache-Control"), "private, max-age=31536000, immutable");
  }
  auto odd = c.Get(("/captures/" + shotName + "?size=big").c_str());
  ASSERT_TRUE(odd);
  EXPECT_EQ(odd->status, 400);
  EXPECT_EQ(odd->body, statusBody("tamanho invalido"));
  auto broken = c.Get("/captures/KAMORA_00099.JPG?size=thumb");
  ASSERT_TRUE(broken);
  EXPECT_EQ(broken->status, 422);
  EXPECT_EQ(broken->body, statusBody("foto ilegivel"));
}

TEST(HttpCaptureReviewTest, NothingOutsideTheFolderIsEverServed) {
  auto server = KamoraServer::start("127.0.173.3");
  ASSERT_TRUE(server) << KamoraServer::lastError();
  const std::string root = server->workDir();
  const std::string dir = root + "/captures";
  ASSERT_TRUE(fs::create_directories(dir + "/sub"));
  const std::string secret = "segredo fora da pasta";
  writeFile(dir + "/KAMORA_00001.JPG", "inside");
  writeFile(root + "/KAMORA_00099.JPG", secret);  // beside the folder
  writeFile(dir + "/sub/KAMORA_00002.JPG", secret);
  writeFile(dir + "/notes.txt", secret);
  ASSERT_EQ(::symlink("/etc/passwd", (dir + "/KAMORA_00300.JPG").c_str()), 0);
  ASSERT_EQ(::symlink((root + "/KAMORA_00099.JPG").c_str(), (dir + "/KAMORA_00301.JPG").c_str()),
            0);
  ASSERT_EQ(::symlink("../KAMORA_00099.JPG", (dir + "/KAMORA_00302.JPG").c_str()), 0);
  ASSERT_EQ(::symlink("/etc", (dir + "/KAMORA_00303.JPG").c_str()), 0);
  ASSERT_EQ(::symlink("..", (dir + "/up_00304.JPG").c_str()), 0);

  // The route answers a good name, so every 404 below is a refusal.
  ASSERT_EQ(rawGet(server->host(), "/captures/KAMORA_00001.JPG"),
            std::make_pair(200, std::string("inside")));

  const std::vector<std::string> targets = {
      "/captures/..%2f..%2fetc%2fpasswd",
      "/captures/..%2F..%2F..%2F..%2Fetc%2Fpasswd",
      "/captures/%2e%2e%2f%2e%2e%2fetc%2fpasswd",
      "/captures/%2E%2E%2FKAMORA_00099.JPG",
      "/captures/..%252f..%252fetc%252fpasswd",
      "/captures/../KAMORA_00099.JPG",
      "/captures/../../../../etc/passwd",
      "/captures/..",
      "/captures/.",
      "/captures/%2e%2e",
      "/captures/..%5cKAMORA_00099.JPG",
      "/captures/..\\KAMORA_00099.JPG",
      "/captures/%2fetc%2fpasswd",
      "/captures//etc/passwd",
      "/captures/" + root + "/KAMORA_00099.JPG",
      "/captures/sub/KAMORA_00002.JPG",
      "/captures/sub%2fKAMORA_00002.JPG",
      "/captures/KAMORA_00001.JPG%00/../../etc/passwd",
      "/captures/KAMORA_00001.JPG/",
      "/captures/KAMORA_00099.JPG",
      "/captures/notes.txt",
      "/captures/KAMORA_00300.JPG",
      "/captures/KAMORA_00301.JPG",
      "/captures/KAMORA_00302.JPG",
      "/captures/KAMORA_00303.JPG",
      "/captures/up_00304.JPG/KAMORA_00099.JPG",
      "/captures/up_00304.JPG%2fKAMORA_00099.JPG",
  };
  for (const std::string& target : targets) {
    for (const char* size : {"", "?size=thumb", "?size=screen"}) {
      SCOPED_TRACE(target + size);
      const auto [status, body] = rawGet(server->host(), target + size);
      EXPECT_EQ(status, 404);
      EXPECT_EQ(body, statusBody("foto nao encontrada"));
    }
  }
  // Nor does the listing show a link or anything beyond the folder.
  httplib::Client c = server->client();
  EXPECT_EQ(namesOf(getJson(c, "/captures")), std::vector<std::string>{"KAMORA_00001.JPG"});
}

// The camera's downloads appear under their name only once whole (written
// under a temporary name, then linked): a listing taken meanwhile shows each
// picture whole or not at all, in order, and paging through a folder that
// grows neither skips nor repeats a picture that was there at the start.
TEST(HttpCaptureReviewTest, PicturesArrivingDuringAListing) {
  auto server = KamoraServer::start("127.0.173.4");
  ASSERT_TRUE(server) << KamoraServer::lastError();
  const std::string dir = server->workDir() + "/captures";
  ASSERT_TRUE(fs::create_directories(dir));
  const std::string picture(200000, 'x');
  const int before = 300;
  for (int i = 1; i <= before; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "/KAMORA_%05d.JPG", i);
    writeFile(dir + name, picture);
    setMtime(dir + name, 1700000000 + i);
  }

  std::atomic<bool> stop{false};
  std::atomic<int> added{0};
  std::thread camera([&] {
    for (int n = before + 1; !stop.load() && n <= before + 400; ++n) {
      const std::string tmp = dir + "/.vcdl-" + std::to_string(n) + ".part";
      {
        std::ofstream out(tmp, std::ios::binary);
        for (int k = 0; k < 10; ++k) {  // slowly, so listings see it half written
          out.write(picture.data() + k * 20000, 20000);
          out.flush();
          std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
      }
      char name[32];
      std::snprintf(name, sizeof name, "/KAMORA_%05d.JPG", n);
      ASSERT_EQ(::link(tmp.c_str(), (dir + name).c_str()), 0);
      ::unlink(tmp.c_str());
      added.fetch_add(1);
    }
  });

  httplib::Client c = server->client();
  int rounds = 0;
  while ((rounds < 20 || added.load() < 20) && rounds < 1000) {
    ++rounds;
    std::set<std::string> seen;
    std::string last;
    std::int64_t lastMtime = INT64_MAX;
    bool more = true;
    while (more) {
      json p = getJson(c, "/captures?limit=50" + (last.empty() ? "" : "&before=" + last));
      ASSERT_TRUE(p.is_object());
      for (const json& e : p["pictures"]) {
        const std::string name = e["name"];
        ASSERT_EQ(e["bytes"], picture.size()) << name;  // never half written
        ASSERT_TRUE(seen.insert(name).second) << name << " twice";
        ASSERT_LE(e["mtime"].get<std::int64_t>(), lastMtime) << name << " out of order";
        lastMtime = e["mtime"];
        last = name;
      }
      more = p["more"];
    }
    for (int i = 1; i <= before; ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "KAMORA_%05d.JPG", i);
      ASSERT_TRUE(seen.count(name)) << name << " skipped in round " << rounds;
    }
  }
  stop = true;
  camera.join();
  EXPECT_GE(added.load(), 20);
  EXPECT_GE(rounds, 20);
  json now = getJson(c, "/captures?limit=1");
  EXPECT_EQ(now["total"], before + added.load());
}

}  // namespace
