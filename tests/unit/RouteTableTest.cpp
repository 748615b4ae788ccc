// The route table against its documentation and its own rules: every route
// is in docs/http-api.md's table, and each method and path is declared once.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "server/routes/RouteTable.h"

namespace {

std::string readFile(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

const char* methodName(HttpMethod method) {
  return method == HttpMethod::Get ? "GET" : method == HttpMethod::Post ? "POST" : "?";
}

}  // namespace

TEST(RouteTableTest, EveryRouteIsDocumentedOnceAndDeclaredOnce) {
  const std::string doc = readFile(std::string(KAMORA_SOURCE_DIR) + "/docs/http-api.md");
  ASSERT_FALSE(doc.empty());
  std::set<std::string> seen;
  for (const Route& route : apiRoutes()) {
    const std::string row =
        std::string("| ") + methodName(route.method) + " | `" + route.path + "` |";
    SCOPED_TRACE(row);
    EXPECT_NE(doc.find(row), std::string::npos) << "missing from docs/http-api.md";
    EXPECT_TRUE(seen.insert(std::string(methodName(route.method)) + route.path).second);
    EXPECT_TRUE(route.handle);
  }
}
