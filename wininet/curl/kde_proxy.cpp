#include "kde_proxy.h"

#include "text.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <utility>

namespace wininet::preconfig {
namespace {

// Far beyond any real kioslaverc; a bigger file is not one.
constexpr std::size_t kMaxFileBytes = std::size_t{1024} * 1024;

// KConfig pads keys and values with blanks only: a line end inside a value was written escaped
// ("\n") and is part of it.
constexpr std::string_view kBlank = " \t\r";

using Group = std::map<std::string, std::string, std::less<>>;

// The escapes KConfig writes into values.
std::string Unescape(std::string_view value) {
  std::string plain;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\' || i + 1 == value.size()) {
      plain += value[i];
      continue;
    }
    const char next = value[++i];
    switch (next) {
    case 's':
      plain += ' ';
      break;
    case 't':
      plain += '\t';
      break;
    case 'n':
      plain += '\n';
      break;
    case 'r':
      plain += '\r';
      break;
    case 'x':
      if (i + 2 < value.size() && HexDigit(value[i + 1]) >= 0 && HexDigit(value[i + 2]) >= 0) {
        plain += static_cast<char>(HexDigit(value[i + 1]) * 16 + HexDigit(value[i + 2]));
        i += 2;
      } else {
        plain += "\\x";
      }
      break;
    default: // \\, \; and \, stand for themselves
      plain += next;
    }
  }
  return plain;
}

// The entries of [Proxy Settings]; a later one wins, as in KConfig.
Group ProxyGroup(std::string_view text) {
  Group group;
  bool inside = false;
  while (!text.empty()) {
    const auto end = text.find('\n');
    const std::string_view line = Trim(text.substr(0, end), kBlank);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.empty() || line.front() == '#') {
      continue;
    }
    if (line.front() == '[') {
      inside = line == "[Proxy Settings]" || line == "[Proxy Settings][$i]";
      continue;
    }
    const auto equals = line.find('=');
    if (!inside || equals == std::string_view::npos) {
      continue;
    }
    std::string_view key = Trim(line.substr(0, equals), kBlank);
    // Flags such as [$e] or [$i] follow a key; a locale ([pt_BR]) makes it another entry.
    if (const auto flags = key.find("[$"); flags != std::string_view::npos && key.ends_with(']')) {
      key = key.substr(0, flags);
    } else if (key.find('[') != std::string_view::npos) {
      continue;
    }
    group.insert_or_assign(std::string(key), Unescape(Trim(line.substr(equals + 1), kBlank)));
  }
  return group;
}

std::string Entry(const Group &group, std::string_view key) {
  const auto found = group.find(key);
  return found != group.end() ? found->second : std::string();
}

// ProxyType 4: the entry names a variable (or several, apart by commas: the first set counts).
std::string FromVariables(std::string_view names, const Lookup &lookup) {
  while (!names.empty()) {
    const auto comma = names.find(',');
    const std::string name(Trim(names.substr(0, comma), kBlank));
    names.remove_prefix(comma == std::string_view::npos ? names.size() : comma + 1);
    if (const auto value = name.empty() ? std::nullopt : lookup(name); value && !value->empty()) {
      return *value;
    }
  }
  return {};
}

// "http://host port" is KDE's own form of "http://host:port". A SOCKS proxy without a version is
// a SOCKS 5 one that resolves the names itself, as KDE and GLib take it.
std::optional<Proxy> ParseKdeProxy(std::string_view value, bool socks) {
  std::string url(Trim(value, kBlank));
  if (const auto space = url.rfind(' '); space != std::string::npos) {
    url = std::string(Trim(url.substr(0, space), kBlank)) + ":" + url.substr(space + 1);
  }
  if (socks && url.find("://") == std::string::npos) {
    url = "socks5h://" + url;
  } else if (socks && Lower(url.substr(0, 8)) == "socks://") {
    url = "socks5h://" + url.substr(8);
  }
  return ParseProxyUrl(url);
}

class File {
public:
  explicit File(int fd) : fd_(fd) {}
  ~File() {
    if (fd_ >= 0) {
      ::close(fd_);
    }
  }
  File(const File &) = delete;
  File &operator=(const File &) = delete;
  int get() const { return fd_; }

private:
  int fd_;
};

std::optional<std::string> ReadKioslaverc(const Lookup &lookup) {
  std::string folder;
  if (const auto config = lookup("XDG_CONFIG_HOME"); config && config->starts_with('/')) {
    folder = *config;
  } else if (const auto home = lookup("HOME"); home && !home->empty()) {
    folder = *home + "/.config";
  } else {
    return std::nullopt;
  }
  // Non-blocking, so that a FIFO in the file's place cannot hold the probe up.
  const File file(
      ::open((folder + "/kioslaverc").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  struct stat status {};
  if (file.get() < 0 || ::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode) ||
      static_cast<std::size_t>(status.st_size) > kMaxFileBytes) {
    return std::nullopt;
  }
  // One byte more than the file holds, to see it grow while read.
  std::string text(static_cast<std::size_t>(status.st_size) + 1, '\0');
  std::size_t size = 0;
  for (ssize_t got = 0; size < text.size(); size += static_cast<std::size_t>(got)) {
    got = ::read(file.get(), text.data() + size, text.size() - size);
    if (got < 0) {
      return std::nullopt;
    }
    if (got == 0) {
      break;
    }
  }
  if (size == text.size()) {
    return std::nullopt; // it grew while read
  }
  text.resize(size);
  return text;
}

} // namespace

Settings FromKioslaverc(std::string_view text, const Lookup &lookup) {
  const Group group = ProxyGroup(text);
  const std::string type = Entry(group, "ProxyType");
  const bool manual = type == "1";
  if (!manual && type != "4") {
    return {};
  }
  const auto value = [&](std::string_view key) {
    const std::string entry = Entry(group, key);
    return manual ? entry : FromVariables(entry, lookup);
  };
  const std::string socks = value("socksProxy");
  const auto choose = [&](const std::string &own) -> std::optional<Proxy> {
    if (!Trim(own, kBlank).empty()) {
      return ParseKdeProxy(own, false);
    }
    return Trim(socks, kBlank).empty() ? std::nullopt : ParseKdeProxy(socks, true);
  };
  Settings settings;
  settings.http = choose(value("httpProxy"));
  settings.https = choose(value("httpsProxy"));
  settings.bypass = Bypass::FromList(value("NoProxyFor"));
  const std::string reversed = Lower(Entry(group, "ReversedException"));
  settings.bypassOnlyListed = manual && (reversed == "true" || reversed == "1");
  return settings;
}

Settings FromKde(const Lookup &lookup) {
  const auto text = ReadKioslaverc(lookup);
  return text ? FromKioslaverc(*text, lookup) : Settings{};
}

} // namespace wininet::preconfig
