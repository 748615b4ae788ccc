// The route table against its documentation and its own rules: every route
// is in docs/http-api.md's table, and each method and path is declared once.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "server/routes/RouteTable.h"
#include "tests/support/ReadFile.h"

namespace {

const char* methodName(HttpMethod method) {
  switch (method) {
    case HttpMethod::Get:
      return "GET";
    case HttpMethod::Post:
      return "POST";
    case HttpMethod::Delete:
      return "DELETE";
    default:
      return "?";
  }
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
