// Target and parameter decoding against the old HTTP library's own parser,
// on inputs where a rewrite easily differs from it.
#include <gtest/gtest.h>
#include <httplib.h>

#include <map>

#include "server/http/FormParams.h"

namespace {

// The old library kept parameters in a multimap: by name, in order within a
// name. The same view of ours compares equal when every look-up agrees.
std::multimap<std::string, std::string> byName(const HttpFields& fields) {
  std::multimap<std::string, std::string> out;
  for (const auto& field : fields) out.emplace(field.first, field.second);
  return out;
}

const char* const kTricky[] = {
    "",
    "a=1&b=2",
    "a=b=c",
    "shots=",
    "shots",
    "=x",
    "=",
    "&&a=1&&",
    " a = 1 &\tb\t=\t2\t",
    "a=1&a=2&a=1&a=3",
    "a=1&a=1",
    "name=a+b%20c",
    "a%3Db=c%26d",
    "x=%",
    "x=%4",
    "x=%zz&y=%4g",
    "x=100%",
    "x=%u00e9%u4e2d",
    "x=%uD800z",
    "x=%u12",
    "x=%U00e9",
    "x=%C3%A9",
    "x=%00y",
    "x=+%2B+",
    "a==b",
    "a=b=",
    "a= =b",
    "%61=1&a=2",
    "k=v;w=x",
    "ISO=100&iso=200",
};

}  // namespace

TEST(HttpFormParams, ParsesQueriesExactlyAsTheOldLibrary) {
  for (const char* text : kTricky) {
    httplib::Params old;
    httplib::detail::parse_query_text(text, old);
    HttpFields ours;
    formparams::parseQueryText(text, ours);
    EXPECT_EQ(byName(ours), old) << "query: \"" << text << "\"";
  }
  // Order across names is ours to keep: query string order.
  HttpFields ours;
  formparams::parseQueryText("z=1&a=2&m=3", ours);
  EXPECT_EQ(ours, (HttpFields{{"z", "1"}, {"a", "2"}, {"m", "3"}}));
}

TEST(HttpFormParams, DecodesLikeTheOldLibrary) {
  for (const char* text : kTricky) {
    EXPECT_EQ(formparams::decodeUrl(text, true), httplib::detail::decode_url(text, true)) << text;
    EXPECT_EQ(formparams::decodeUrl(text, false), httplib::detail::decode_url(text, false)) << text;
  }
}

TEST(HttpFormParams, SplitsTargetsIntoPathAndQuery) {
  struct Case {
    const char* target;
    bool ok;
    const char* path;
    HttpFields params;
  };
  const Case cases[] = {
      {"/status", true, "/status", {}},
      {"/a%20b+c", true, "/a b+c", {}},  // no '+' conversion in a path
      {"/capture?shots=3&iso=", true, "/capture", {{"shots", "3"}, {"iso", ""}}},
      {"/x?", true, "/x", {}},
      {"/x??a=1", true, "/x", {{"a", "1"}}},
      {"/x?a=1?b=2", false, "", {}},
      {"/%2e%2E/x", true, "/../x", {}},
  };
  for (const Case& c : cases) {
    std::string path;
    HttpFields params;
    EXPECT_EQ(formparams::parseTarget(c.target, path, params), c.ok) << c.target;
    if (!c.ok) continue;
    EXPECT_EQ(path, c.path) << c.target;
    EXPECT_EQ(params, c.params) << c.target;
  }
}
