// Placeholder until the HTTP API lands.
#include "server/HttpServer.h"

HttpServer::HttpServer(std::string host, int port) : host(std::move(host)), port(port) {}
void HttpServer::run() {}
