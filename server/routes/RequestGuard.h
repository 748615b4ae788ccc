// The rule that keeps other web sites away from the camera: a page the user
// visits elsewhere must not drive the API through the user's browser, and a
// DNS-rebinding page must not read it under a borrowed name.
#pragma once

#include <string>

// The request is refused when:
//  - it carries an Origin that does not name the same host and port as its
//    Host header ("null" included), or
//  - its Host names anything but "localhost", this machine's own name (with
//    or without ".local") or an IPv4/IPv6 address literal.
// Requests without an Origin (curl, scripts) and without a Host pass the
// first or second part. machineName is this machine's host name.
bool isRequestAllowed(const std::string* host, const std::string* origin,
                      const std::string& machineName);

// This machine's host name, as the system reports it ("" when unknown).
std::string localMachineName();
