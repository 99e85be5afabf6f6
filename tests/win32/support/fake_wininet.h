// A stand-in for the system's four Internet calls, linked in place of wininet.dll: each link
// answers as the test says, without a network.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace fake_wininet {

// The status code a URL answers with; 0 for no answer at all. May throw, as a failing platform
// call would.
extern std::function<int(const std::string &Url)> Answer;
// Every URL opened and every agent named, in order.
extern std::vector<std::string> Urls, Agents;
int OpenHandles();
void Reset();

} // namespace fake_wininet
