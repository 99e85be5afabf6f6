// A stand-in of the Internet layer that records each call with its arguments and answers as the
// test scripts it, so that a caller's contract with the system API can be checked exactly.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace wininet::record {

struct TScript {
  bool NoSession = false; // InternetOpenA gives no handle
  // The status text a URL answers with; nullopt: no URL handle comes back. May throw.
  std::function<std::optional<std::string>(const std::string &Url)> Status = [](auto &) {
    return std::string("200");
  };
  bool QueryFails = false; // HttpQueryInfoA fails
};

// Forgets every call and handle and answers as Script says from now on.
void Reset(TScript Script = {});

// One line per call, e.g. `InternetOpenUrlA(S1, "http://a", null, 0, 0x200, 0) -> U1`.
const std::vector<std::string> &Calls();

} // namespace wininet::record
