// GNOME's proxy settings, as GIO gives them, → the proxy each URL goes through. GSettings' memory
// backend stands in for dconf here: GIO reads both through the same calls.
#include "gnome_proxy.h"

#include "routes.h"
#include "temp_folder.h"

#include <gio/gio.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace wininet::preconfig;
using routes::Route;

// Set before GIO picks its backend; the runtime folder is where dconf would keep its flag.
class MemorySettings : public testing::Environment {
public:
  void SetUp() override {
    // Removed at exit, which the death tests' processes reach through std::exit.
    static const TempFolder runtime("gnome");
    ::setenv("GSETTINGS_BACKEND", "memory", 1);
    ::setenv("XDG_RUNTIME_DIR", runtime.Path().c_str(), 1);
  }
};
[[maybe_unused]] const auto *const memory = testing::AddGlobalTestEnvironment(new MemorySettings);

struct Key {
  const char *schema; // after "org.gnome.system.proxy"
  const char *name;
  const char *value; // GVariant text
};

const char *const kSchemas[] = {"", ".http", ".https", ".socks", ".ftp"};

// Every key back to its default, then the case's own.
void Store(const std::vector<Key> &keys) {
  for (const char *suffix : kSchemas) {
    const std::string id = std::string("org.gnome.system.proxy") + suffix;
    const std::unique_ptr<GSettings, decltype(&g_object_unref)> settings(g_settings_new(id.c_str()),
                                                                         g_object_unref);
    GSettingsSchema *schema = nullptr;
    g_object_get(settings.get(), "settings-schema", &schema, nullptr);
    gchar **names = g_settings_schema_list_keys(schema);
    for (gchar **name = names; *name != nullptr; ++name) {
      g_settings_reset(settings.get(), *name);
    }
    g_strfreev(names);
    g_settings_schema_unref(schema);
    for (const Key &key : keys) {
      if (std::string(key.schema) == suffix) {
        GVariant *value = g_variant_parse(nullptr, key.value, nullptr, nullptr, nullptr);
        ASSERT_NE(value, nullptr) << key.value;
        ASSERT_TRUE(g_settings_set_value(settings.get(), key.name, value)) << key.name;
      }
    }
  }
}

TEST(GnomeProxy, SettingsToProxies) {
  const Key manual{"", "mode", "'manual'"};
  const Key http{".http", "host", "'proxy.zelva.example'"};
  const Key httpPort{".http", "port", "3128"};
  const struct {
    const char *name;
    std::vector<Key> keys;
    std::string http;  // for http://www.zelva.example/
    std::string https; // for https://www.zelva.example/
  } cases[] = {
      {"Defaults", {}, "direct", "direct"},
      {"None", {{"", "mode", "'none'"}, http, httpPort}, "direct", "direct"},
      {"AutoNeverFetchesTheScript",
       {{"", "mode", "'auto'"},
        {"", "autoconfig-url", "'http://127.0.0.1:1/wpad.dat'"},
        http,
        httpPort},
       "direct",
       "direct"},
      {"HttpServesBoth",
       {manual, http, httpPort},
       "http://proxy.zelva.example:3128",
       "http://proxy.zelva.example:3128"},
      {"HttpsOfItsOwn",
       {manual,
        http,
        httpPort,
        {".https", "host", "'tls.zelva.example'"},
        {".https", "port", "3129"}},
       "http://proxy.zelva.example:3128",
       "http://tls.zelva.example:3129"},
      {"SocksWhereNothingElse",
       {manual, {".socks", "host", "'s.zelva.example'"}, {".socks", "port", "1080"}},
       "socks5h://s.zelva.example:1080",
       "socks5h://s.zelva.example:1080"},
      {"HttpBeforeSocks",
       {manual, http, httpPort, {".socks", "host", "'s'"}, {".socks", "port", "1080"}},
       "http://proxy.zelva.example:3128",
       "http://proxy.zelva.example:3128"},
      {"StoredCredentials",
       {manual,
        http,
        httpPort,
        {".http", "use-authentication", "true"},
        {".http", "authentication-user", "'zelva'"},
        {".http", "authentication-password", "'p@ss:w%rd'"}},
       "http://proxy.zelva.example:3128 zelva|p@ss:w%rd",
       "http://proxy.zelva.example:3128 zelva|p@ss:w%rd"},
      {"CredentialsNotInUse",
       {manual,
        http,
        httpPort,
        {".http", "authentication-user", "'zelva'"},
        {".http", "authentication-password", "'secret'"}},
       "http://proxy.zelva.example:3128",
       "http://proxy.zelva.example:3128"},
      {"NobodyToLogOnAs",
       {manual,
        http,
        httpPort,
        {".http", "use-authentication", "true"},
        {".http", "authentication-password", "'secret'"}},
       "http://proxy.zelva.example:3128",
       "http://proxy.zelva.example:3128"},
      {"PortZeroIsDirectNotSocks",
       {manual,
        http,
        {".http", "port", "0"},
        {".socks", "host", "'s'"},
        {".socks", "port", "1080"}},
       "direct",
       "direct"},
      {"BadHostIsDirect",
       {manual, {".http", "host", "'http://proxy'"}, httpPort},
       "direct",
       "direct"},
      {"ManualWithNothingSet", {manual}, "direct", "direct"},
      {"Ipv6",
       {manual, {".http", "host", "'::1'"}, httpPort},
       "http://[::1]:3128",
       "http://[::1]:3128"},
  };
  // One reader for the process, so every case also checks that it saw the last case's change.
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    Store(c.keys);
    const Settings settings = FromGSettings();
    EXPECT_EQ(Route(settings, "http", "www.zelva.example"), c.http);
    EXPECT_EQ(Route(settings, "https", "www.zelva.example"), c.https);
  }
}

TEST(GnomeProxy, IgnoreHosts) {
  const Key manual{"", "mode", "'manual'"};
  const Key http{".http", "host", "'proxy'"};
  const Key port{".http", "port", "3128"};
  // GNOME's default list: loopback by name and address.
  Store({manual, http, port});
  Settings settings = FromGSettings();
  EXPECT_EQ(Route(settings, "http", "localhost"), "direct");
  EXPECT_EQ(Route(settings, "http", "127.0.0.1"), "direct");
  EXPECT_EQ(Route(settings, "http", "[::1]"), "direct");
  EXPECT_EQ(Route(settings, "http", "www.zelva.example"), "http://proxy:3128");

  Store({manual,
         http,
         port,
         {"", "ignore-hosts", "['*.intra.zelva.example', '127.16.0.0/12', '<local>', '']"}});
  settings = FromGSettings();
  EXPECT_EQ(Route(settings, "http", "intra.zelva.example"), "direct");
  EXPECT_EQ(Route(settings, "https", "a.intra.zelva.example"), "direct");
  EXPECT_EQ(Route(settings, "http", "127.25.8.7"), "direct");
  EXPECT_EQ(Route(settings, "http", "127.0.0.1"), "http://proxy:3128");
  EXPECT_EQ(Route(settings, "http", "intranet"), "http://proxy:3128");
}

// The schemas are opened once per process, so these run in a process of their own each.
class GnomeProxyDeathTest : public testing::Test {
protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
  static bool Direct() {
    const Settings settings = FromGSettings();
    return Route(settings, "http", "www.zelva.example") == "direct" &&
           Route(settings, "https", "www.zelva.example") == "direct";
  }
};

TEST_F(GnomeProxyDeathTest, WithoutTheSchemaDirectNotACrash) {
  EXPECT_EXIT(
      {
        ::setenv("XDG_DATA_DIRS", "/nonexistent", 1);
        ::unsetenv("GSETTINGS_SCHEMA_DIR");
        std::exit(Direct() ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

// GLib would put dconf's flag file in the home folder.
TEST_F(GnomeProxyDeathTest, WithoutARuntimeFolderDirect) {
  EXPECT_EXIT(
      {
        Store({{"", "mode", "'manual'"}, {".http", "host", "'proxy'"}, {".http", "port", "3128"}});
        ::unsetenv("XDG_RUNTIME_DIR");
        std::exit(Direct() ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

} // namespace
