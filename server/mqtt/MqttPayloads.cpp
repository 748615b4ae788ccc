// The payload readers. The volley order is read by a SAX handler that takes
// each value as it comes and stops at the first thing out of place, so no
// document is built and no nesting is followed past the one list it allows.
#include "server/mqtt/MqttPayloads.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "server/http/FormParams.h"
#include "server/mqtt/MqttTopics.h"
#include "server/rig/Volley.h"

namespace mqtt {

namespace {

// Latest wall-clock time an order may name: the year 9999, in epoch ms.
constexpr std::int64_t kLatestAtMs = 253402300799999;

bool isVolleyId(const std::string& id) {
  if (id.empty() || id.size() > 64 || id == "state") return false;
  return std::all_of(id.begin(), id.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '.' || c == ':' || c == '-';
  });
}

class VolleyReader {
 public:
  using Json = nlohmann::json;

  explicit VolleyReader(VolleyOrder& order) : order_(order) {}
  const std::string& why() const { return why_; }
  // False when the document ended before its object closed.
  bool complete() const { return closed_; }

  bool null() { return refuse(); }
  bool boolean(bool) { return refuse(); }
  bool number_integer(Json::number_integer_t value) { return number(value); }
  bool number_unsigned(Json::number_unsigned_t value) {
    if (value > static_cast<Json::number_unsigned_t>(kLatestAtMs)) return refuse();
    return number(static_cast<std::int64_t>(value));
  }
  bool number_float(Json::number_float_t, const Json::string_t&) { return refuse(); }
  bool binary(Json::binary_t&) { return refuse(); }
  bool string(Json::string_t& value) {
    if (depth_ == 2 && field_ == Field::Cameras) return camera(value);
    if (depth_ != 1 || field_ != Field::Id) return refuse();
    if (!isVolleyId(value)) return fail("id invalido");
    order_.id = value;
    return true;
  }
  bool start_object(std::size_t) {
    if (depth_ != 0) return refuse();
    depth_ = 1;
    return true;
  }
  bool key(Json::string_t& name) {
    static const char* const names[] = {"id", "at", "shots", "cameras"};
    for (int i = 0; i < 4; ++i) {
      if (name != names[i]) continue;
      const unsigned bit = 1u << i;
      if (seen_ & bit) return fail("campo repetido: " + name);
      seen_ |= bit;
      field_ = static_cast<Field>(i);
      return true;
    }
    return fail("campo desconhecido");
  }
  bool end_object() {
    if (!(seen_ & 1u)) return fail("falta o id");
    if (!(seen_ & 2u)) return fail("falta o at");
    closed_ = true;
    depth_ = 0;
    return true;
  }
  bool start_array(std::size_t) {
    if (depth_ != 1 || field_ != Field::Cameras) return refuse();
    depth_ = 2;
    order_.everyCamera = false;
    return true;
  }
  bool end_array() {
    if (order_.cameras.empty()) return fail("cameras vazio");
    depth_ = 1;
    return true;
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) {
    return fail("json invalido");
  }

 private:
  enum class Field { Id, At, Shots, Cameras };

  bool fail(std::string why) {
    if (why_.empty()) why_ = std::move(why);
    return false;
  }
  // A value where the order has none of its kind.
  bool refuse() {
    switch (depth_ == 0 ? Field::Id : field_) {
      case Field::At:
        return fail("at invalido");
      case Field::Shots:
        return fail("shots invalido");
      case Field::Cameras:
        return fail("cameras invalido");
      case Field::Id:
        break;
    }
    return fail(depth_ == 0 ? "esperado um objeto" : "id invalido");
  }
  bool number(std::int64_t value) {
    if (depth_ != 1) return refuse();
    if (field_ == Field::At) {
      if (value <= 0 || value > kLatestAtMs) return fail("at invalido");
      order_.atMs = value;
      return true;
    }
    if (field_ == Field::Shots) {
      if (value < 1 || value > Volley::kMostShots) return fail("shots invalido");
      order_.shots = static_cast<int>(value);
      return true;
    }
    return refuse();
  }
  bool camera(const std::string& text) {
    const std::size_t slash = text.find('/');
    if (slash == std::string::npos) return fail("cameras invalido");
    std::pair<std::string, std::string> entry(text.substr(0, slash), text.substr(slash + 1));
    if (!isNodeName(entry.first) || !isName(entry.second)) return fail("cameras invalido");
    if (order_.cameras.size() == kMaxVolleyCameras) return fail("cameras demais");
    if (std::find(order_.cameras.begin(), order_.cameras.end(), entry) != order_.cameras.end()) {
      return fail("camera repetida");
    }
    order_.cameras.push_back(std::move(entry));
    return true;
  }

  VolleyOrder& order_;
  std::string why_;
  int depth_ = 0;  // 0 outside, 1 in the order, 2 in its "cameras"
  Field field_ = Field::Id;
  unsigned seen_ = 0;
  bool closed_ = false;
};

}  // namespace

std::string readCommandParams(std::string_view payload, HttpFields& out) {
  if (payload.size() > kMaxPayload) return "payload grande demais";
  formparams::parseQueryText(std::string(payload), out);
  return "";
}

std::string readVolleyOrder(std::string_view payload, VolleyOrder& order) {
  order = VolleyOrder();
  if (payload.size() > kMaxPayload) return "payload grande demais";
  VolleyReader reader(order);
  const bool read = nlohmann::json::sax_parse(payload.begin(), payload.end(), &reader);
  if (read && reader.complete()) return "";
  return reader.why().empty() ? "json invalido" : reader.why();
}

std::vector<std::string> camerasOf(const VolleyOrder& order, const std::string& node) {
  std::vector<std::string> out;
  for (const auto& [orderNode, camera] : order.cameras) {
    if (orderNode == node) out.push_back(camera);
  }
  return out;
}

}  // namespace mqtt
