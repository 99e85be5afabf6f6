// Exception lists as GNOME (one entry a line), KDE and no_proxy (one string) keep them, matched
// against hosts and ports. Input: the list; after a NUL byte, one probe a line, "host [port]".
// Besides crashes, it looks for wrong answers: the two list forms disagreeing, a list answering
// other than the union of its entries, case or a trailing dot changing an answer, and a name
// entry that does not match itself and the names below it.
#include "bypass.h"
#include "readers.h"
#include "text.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace {

using fuzz::Split;
using wininet::preconfig::Bypass;
using wininet::preconfig::IsDigits;
using wininet::preconfig::IsSpace;
using wininet::preconfig::Trim;

// Enough to reach every kind of entry and host, few enough to keep each run short.
constexpr std::size_t kMaxEntries = 64;
constexpr std::size_t kMaxProbes = 16;

struct Probe {
  std::string host;
  int port;
};

std::string Upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}

// "host port", the port where the last word is one, else 80.
Probe ProbeOf(std::string_view line) {
  const auto space = line.rfind(' ');
  if (space != std::string_view::npos) {
    const std::string_view digits = line.substr(space + 1);
    if (!digits.empty() && digits.size() <= 5 && IsDigits(digits)) {
      return {std::string(line.substr(0, space)), std::stoi(std::string(digits))};
    }
  }
  return {std::string(line), 80};
}

// A host name that cannot be read as an address: it has a letter and no colon.
bool IsName(std::string_view host) {
  return !host.empty() && std::all_of(host.begin(), host.end(), [](unsigned char c) {
    return std::isalnum(c) || c == '.' || c == '-' || c == '_';
  }) && std::any_of(host.begin(), host.end(), [](unsigned char c) { return std::isalpha(c); });
}

// A name entry ("corp.example", ".corp.example", "*.corp.example", "corp.example:8080"): it must
// match that name and the names below it, on its port only where it names one.
void CheckNameEntry(const std::string &entry) {
  std::string_view name = Trim(entry);
  int port = 0;
  if (const auto colon = name.find(':'); colon != std::string_view::npos) {
    const std::string_view digits = name.substr(colon + 1);
    if (digits.empty() || digits.size() > 5 || !IsDigits(digits)) {
      return;
    }
    port = std::stoi(std::string(digits));
    if (port > 65535) {
      return;
    }
    name = name.substr(0, colon);
  }
  if (name.starts_with("*.")) {
    name.remove_prefix(2);
  } else if (name.starts_with('.')) {
    name.remove_prefix(1);
  }
  if (!IsName(name)) {
    return;
  }
  const Bypass one({entry});
  const int on = port == 0 ? 80 : port;
  const std::string host(name);
  if (!one.Matches(host, on) || !one.Matches("www." + host, on) || !one.Matches(Upper(host), on)) {
    fuzz::Fail("a name entry does not match its own name");
  }
  if (port != 0 && one.Matches(host, port == 80 ? 81 : 80)) {
    fuzz::Fail("an entry with a port matches another port");
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char *>(data), size);
  const auto nul = input.find('\0');
  const std::string_view list = input.substr(0, nul);
  std::vector<Probe> probes;
  if (nul != std::string_view::npos) {
    for (const std::string &line : Split(input.substr(nul + 1), '\n')) {
      if (probes.size() < kMaxProbes) {
        probes.push_back(ProbeOf(line));
      }
    }
  }

  const std::vector<std::string> entries = Split(list, '\n'); // GNOME's form
  const Bypass asArray(entries);
  const Bypass asString = Bypass::FromList(list); // KDE's and no_proxy's form
  // Where no entry holds a separator of the string form, both forms are the same list.
  const bool sameList = std::none_of(entries.begin(), entries.end(), [](const std::string &entry) {
    const std::string_view trimmed = Trim(entry);
    return std::any_of(trimmed.begin(), trimmed.end(),
                       [](char c) { return c == ',' || IsSpace(c); });
  });

  std::vector<Bypass> single;
  for (std::size_t i = 0; i < entries.size() && i < kMaxEntries; ++i) {
    single.emplace_back(std::vector<std::string>{entries[i]});
    CheckNameEntry(entries[i]);
  }

  for (const Probe &probe : probes) {
    const bool matches = asArray.Matches(probe.host, probe.port);
    if (sameList && asString.Matches(probe.host, probe.port) != matches) {
      fuzz::Fail("the string and array forms of one list disagree");
    }
    if (entries.size() <= kMaxEntries &&
        std::any_of(single.begin(), single.end(), [&](const Bypass &one) {
          return one.Matches(probe.host, probe.port);
        }) != matches) {
      fuzz::Fail("a list does not match the union of its entries");
    }
    if (asArray.Matches(Upper(probe.host), probe.port) != matches) {
      fuzz::Fail("case changed whether a host matches");
    }
    if (IsName(probe.host) && !probe.host.ends_with('.') &&
        asArray.Matches(probe.host + ".", probe.port) != matches) {
      fuzz::Fail("a trailing dot changed whether a name matches");
    }
  }
  return 0;
}
