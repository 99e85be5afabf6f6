#include "gnome_proxy.h"

#include <gio/gio.h>
#include <sys/stat.h>

#include <cstdlib>
#include <memory>
#include <mutex>

namespace wininet::preconfig {
namespace {

struct ObjectUnref {
  void operator()(gpointer object) const { g_object_unref(object); }
};
struct SchemaUnref {
  void operator()(GSettingsSchema *schema) const { g_settings_schema_unref(schema); }
};
struct VariantUnref {
  void operator()(GVariant *value) const { g_variant_unref(value); }
};
using Value = std::unique_ptr<GVariant, VariantUnref>;

// One schema's settings. Every key is looked up in the schema and its type checked before it is
// read: GSettings aborts the process on a missing key, and an old or altered schema may lack one.
class Schema {
public:
  static std::optional<Schema> Open(GSettingsSchemaSource *source, const char *id) {
    Schema schema;
    schema.schema_.reset(g_settings_schema_source_lookup(source, id, TRUE));
    if (!schema.schema_) {
      return std::nullopt;
    }
    schema.settings_.reset(g_settings_new_full(schema.schema_.get(), nullptr, nullptr));
    return schema;
  }

  std::string String(const char *key) const {
    const Value value = Get(key, G_VARIANT_TYPE_STRING);
    return value ? g_variant_get_string(value.get(), nullptr) : "";
  }
  long Int(const char *key) const {
    const Value value = Get(key, G_VARIANT_TYPE_INT32);
    return value ? g_variant_get_int32(value.get()) : 0;
  }
  bool Bool(const char *key) const {
    const Value value = Get(key, G_VARIANT_TYPE_BOOLEAN);
    return value && g_variant_get_boolean(value.get());
  }
  std::vector<std::string> Strings(const char *key) const {
    std::vector<std::string> strings;
    if (const Value value = Get(key, G_VARIANT_TYPE_STRING_ARRAY)) {
      for (gsize i = 0; i < g_variant_n_children(value.get()); ++i) {
        const Value item(g_variant_get_child_value(value.get(), i));
        strings.emplace_back(g_variant_get_string(item.get(), nullptr));
      }
    }
    return strings;
  }

private:
  Value Get(const char *key, const GVariantType *type) const {
    if (!g_settings_schema_has_key(schema_.get(), key)) {
      return nullptr;
    }
    Value value(g_settings_get_value(settings_.get(), key));
    return value && g_variant_is_of_type(value.get(), type) ? std::move(value) : nullptr;
  }

  std::unique_ptr<GSettingsSchema, SchemaUnref> schema_;
  std::unique_ptr<GSettings, ObjectUnref> settings_;
};

// A proxy the settings name: not configured (no host), or configured and perhaps unusable.
struct Server {
  bool configured = false;
  std::optional<Proxy> proxy;
};

// Each GSettings read costs microseconds, a good part of a probe on a fast network, so only what
// the answer depends on is read: the port and the login only where there is a host.
Server ServerOf(const std::optional<Schema> &schema, std::string_view scheme, bool login = false) {
  Server server;
  const std::string host = schema ? schema->String("host") : "";
  server.configured = host.find_first_not_of(" \t") != std::string::npos;
  if (!server.configured) {
    return server;
  }
  std::optional<Credentials> credentials;
  if (login && schema->Bool("use-authentication")) {
    if (std::string user = schema->String("authentication-user"); !user.empty()) {
      credentials = Credentials{std::move(user), schema->String("authentication-password")};
    }
  }
  server.proxy = MakeProxy(scheme, host, schema->Int("port"), std::move(credentials));
  return server;
}

// dconf keeps a flag file in the session's runtime folder; without one GLib would put it in the
// home folder, and this program writes nothing there.
bool HasRuntimeFolder() {
  const char *folder = std::getenv("XDG_RUNTIME_DIR");
  struct stat status {};
  return folder != nullptr && folder[0] == '/' && ::stat(folder, &status) == 0 &&
         S_ISDIR(status.st_mode);
}

// The four schemas, opened once for the process: the settings store is read afresh on every
// Read, so later changes are seen, and opening them once spares the bus a subscription a probe.
class Store {
public:
  static std::unique_ptr<const Store> Open() {
    GSettingsSchemaSource *source =
        HasRuntimeFolder() ? g_settings_schema_source_get_default() : nullptr;
    auto proxy = source ? Schema::Open(source, "org.gnome.system.proxy") : std::nullopt;
    if (!proxy) {
      return nullptr;
    }
    return std::unique_ptr<const Store>(
        new Store(std::move(*proxy), Schema::Open(source, "org.gnome.system.proxy.http"),
                  Schema::Open(source, "org.gnome.system.proxy.https"),
                  Schema::Open(source, "org.gnome.system.proxy.socks")));
  }

  Settings Read() const {
    const std::lock_guard lock(mutex_);
    if (proxy_.String("mode") != "manual") {
      return {}; // 'none', and 'auto' too: no script, no WPAD
    }
    const Server http = ServerOf(http_, "http", true);
    const Server https = ServerOf(https_, "http");
    // As GLib's resolver: https falls back to the http proxy, both to the SOCKS one.
    const auto socks = [this] { return ServerOf(socks_, "socks5h").proxy; };
    Settings settings;
    settings.http = http.configured ? http.proxy : socks();
    settings.https = https.configured ? https.proxy : http.configured ? http.proxy : socks();
    settings.bypass = Bypass(proxy_.Strings("ignore-hosts"));
    return settings;
  }

private:
  Store(Schema proxy, std::optional<Schema> http, std::optional<Schema> https,
        std::optional<Schema> socks)
      : proxy_(std::move(proxy)), http_(std::move(http)), https_(std::move(https)),
        socks_(std::move(socks)) {}

  Schema proxy_;
  std::optional<Schema> http_, https_, socks_;
  mutable std::mutex mutex_;
};

} // namespace

Settings FromGSettings() {
  static const std::unique_ptr<const Store> store = Store::Open();
  return store ? store->Read() : Settings{};
}

} // namespace wininet::preconfig
