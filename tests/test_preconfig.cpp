// Where a session's proxy settings come from: the environment's variables, else the desktop's.
#include "preconfig.h"

#include "loopback.h"
#include "routes.h"
#include "temp_folder.h"

#include <gio/gio.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

namespace {

namespace fs = std::filesystem;
using namespace wininet::preconfig;
using loopback::ScopedEnv;
using routes::From;
using routes::Route;
using routes::Variables;

const char *const kVariables[] = {
    "http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY",     "all_proxy",          "ALL_PROXY",
    "no_proxy",   "NO_PROXY",   "HOME",        "XDG_CONFIG_HOME", "XDG_CURRENT_DESKTOP"};

// A home with a config folder, GSettings in memory and a runtime folder: nothing of the machine's
// own settings reaches these tests.
class PrivateSession : public testing::Environment {
public:
  static inline fs::path Home;

  void SetUp() override {
    folder_.emplace("preconfig");
    Home = folder_->Path();
    fs::create_directories(Home / ".config");
    fs::create_directories(Home / "run");
    for (const char *name : kVariables) {
      ::unsetenv(name);
    }
    ::setenv("HOME", Home.c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", (Home / "run").c_str(), 1);
    ::setenv("GSETTINGS_BACKEND", "memory", 1);
  }
  void TearDown() override { folder_.reset(); }

private:
  std::optional<TempFolder> folder_;
};
[[maybe_unused]] const auto *const session = testing::AddGlobalTestEnvironment(new PrivateSession);

TEST(Preconfig, EnvironmentAsLibcurlReadsIt) {
  const struct {
    Variables variables;
    std::string http;  // for http://www.zelva.example/, or "(none)": not the environment's say
    std::string https; // for https://www.zelva.example/
  } cases[] = {
      {{}, "(none)", "(none)"},
      {{{"no_proxy", "*"}}, "(none)", "(none)"},
      {{{"HTTP_PROXY", "http://upper:1"}}, "(none)", "(none)"},
      {{{"http_proxy", "http://a:1"}}, "http://a:1", "direct"},
      {{{"http_proxy", "http://a:1"}, {"HTTP_PROXY", "http://upper:1"}}, "http://a:1", "direct"},
      {{{"https_proxy", "http://b:2"}}, "direct", "http://b:2"},
      {{{"HTTPS_PROXY", "http://b:2"}}, "direct", "http://b:2"},
      {{{"https_proxy", "http://b:2"}, {"HTTPS_PROXY", "http://c:3"}}, "direct", "http://b:2"},
      {{{"all_proxy", "http://c:3"}}, "http://c:3", "http://c:3"},
      {{{"ALL_PROXY", "socks5h://d:4"}}, "socks5h://d:4", "socks5h://d:4"},
      {{{"all_proxy", "http://c:3"}, {"ALL_PROXY", "http://d:4"}}, "http://c:3", "http://c:3"},
      {{{"http_proxy", "http://a:1"}, {"all_proxy", "http://c:3"}}, "http://a:1", "http://c:3"},
      // Set but empty: no proxy, and the desktop's settings are not consulted either.
      {{{"http_proxy", ""}, {"all_proxy", "http://c:3"}}, "direct", "http://c:3"},
      {{{"http_proxy", ""}}, "direct", "direct"},
      {{{"http_proxy", "ftp://a:21"}}, "direct", "direct"},
      {{{"http_proxy", "http://a:0"}}, "direct", "direct"},
      {{{"all_proxy", "http://c:3"}, {"no_proxy", "zelva.example"}}, "direct", "direct"},
      {{{"all_proxy", "http://c:3"}, {"NO_PROXY", "zelva.example"}}, "direct", "direct"},
      {{{"all_proxy", "http://c:3"}, {"no_proxy", ""}, {"NO_PROXY", "zelva.example"}},
       "http://c:3",
       "http://c:3"},
      {{{"all_proxy", "http://c:3"}, {"no_proxy", "*"}}, "direct", "direct"},
  };
  for (const auto &c : cases) {
    std::string trace;
    for (const auto &[name, value] : c.variables) {
      trace += name + "=" + value + " ";
    }
    SCOPED_TRACE(trace);
    const auto settings = FromEnvironment(From(c.variables));
    EXPECT_EQ(settings ? Route(*settings, "http", "www.zelva.example") : "(none)", c.http);
    EXPECT_EQ(settings ? Route(*settings, "https", "www.zelva.example") : "(none)", c.https);
  }
}

TEST(Preconfig, DesktopFromItsNames) {
  const struct {
    const char *names;
    Desktop desktop;
  } cases[] = {
      {"KDE", Desktop::Kde},     {"ubuntu:KDE", Desktop::Kde},     {"KDE:GNOME", Desktop::Kde},
      {"GNOME", Desktop::Gnome}, {"ubuntu:GNOME", Desktop::Gnome}, {"XFCE", Desktop::Gnome},
      {"", Desktop::Gnome},      {"kde", Desktop::Gnome},          {"KDEX:XKDE", Desktop::Gnome},
      {":::", Desktop::Gnome},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.names);
    EXPECT_EQ(DesktopOf(c.names), c.desktop);
  }
}

class ReadOrder : public testing::Test {
protected:
  ReadOrder() {
    std::ofstream(PrivateSession::Home / ".config" / "kioslaverc")
        << "[Proxy Settings]\nProxyType=1\nhttpProxy=http://kde 3128\n";
    GSettings *proxy = g_settings_new("org.gnome.system.proxy");
    GSettings *http = g_settings_new("org.gnome.system.proxy.http");
    g_settings_set_string(proxy, "mode", "manual");
    g_settings_set_string(http, "host", "gnome");
    g_settings_set_int(http, "port", 3128);
    g_object_unref(http);
    g_object_unref(proxy);
  }
  ~ReadOrder() override { fs::remove(PrivateSession::Home / ".config" / "kioslaverc"); }

  static std::string HttpRoute() { return Route(Read(), "http", "www.zelva.example"); }
};

TEST_F(ReadOrder, EnvironmentFirstThenTheDesktopsOwn) {
  {
    const ScopedEnv kde("XDG_CURRENT_DESKTOP", "KDE");
    EXPECT_EQ(HttpRoute(), "http://kde:3128");
    const ScopedEnv variable("http_proxy", "http://environment:1");
    EXPECT_EQ(HttpRoute(), "http://environment:1");
  }
  EXPECT_EQ(HttpRoute(), "http://gnome:3128");
  {
    const ScopedEnv gnome("XDG_CURRENT_DESKTOP", "ubuntu:GNOME");
    EXPECT_EQ(HttpRoute(), "http://gnome:3128");
    const ScopedEnv variable("all_proxy", "");
    EXPECT_EQ(HttpRoute(), "direct");
  }
  // no_proxy alone names no proxy: the desktop's stays, and its own exceptions with it.
  const ScopedEnv exempt("no_proxy", "www.zelva.example");
  EXPECT_EQ(HttpRoute(), "http://gnome:3128");
}

TEST(Preconfig, ReversedExceptionsSendOnlyTheListedThroughTheProxy) {
  Settings settings;
  settings.http = MakeProxy("http", "proxy", 3128);
  settings.bypass = Bypass({"intra.zelva.example"});
  EXPECT_EQ(Route(settings, "http", "intra.zelva.example"), "direct");
  EXPECT_EQ(Route(settings, "http", "www.zelva.example"), "http://proxy:3128");
  settings.bypassOnlyListed = true;
  EXPECT_EQ(Route(settings, "http", "intra.zelva.example"), "http://proxy:3128");
  EXPECT_EQ(Route(settings, "http", "www.zelva.example"), "direct");
  EXPECT_EQ(Route(settings, "https", "intra.zelva.example"), "direct"); // no https proxy
}

} // namespace
