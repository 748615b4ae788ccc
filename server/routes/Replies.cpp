// The status reply.
#include "server/routes/Replies.h"

HttpReply statusReply(int status, const std::string& text) {
  HttpReply reply;
  reply.status = status;
  reply.contentType = "application/json";
  reply.body = "{\"status\":\"" + text + "\"}";
  return reply;
}
