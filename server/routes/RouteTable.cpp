// The table itself: the groups in the order the API documents them.
#include "server/routes/RouteTable.h"

const std::vector<Route>& apiRoutes() {
  static const std::vector<Route> routes = [] {
    std::vector<Route> all;
    for (auto group : {fixedRoutes, cameraRoutes, liveViewRoutes, healthRoutes, ptzRoutes,
                       captureRoutes, sequenceRoutes, rigRoutes, volleyRoutes}) {
      for (Route& route : group()) all.push_back(std::move(route));
    }
    return all;
  }();
  return routes;
}
