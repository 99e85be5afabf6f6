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

  // Calls `changed` from the context that was the thread's default when the schema was opened.
  void OnChange(void (*changed)(GSettings *, gchar *, gpointer), gpointer data) const {
    g_signal_connect(settings_.get(), "changed", G_CALLBACK(changed), data);
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

// Only what the answer depends on is read: the port and the login only where there is a host.
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

struct ContextUnref {
  void operator()(GMainContext *context) const { g_main_context_unref(context); }
};

// The four schemas, opened once for the process on a main context of their own that nothing else
// runs. Their settings are read again only after the store has said they changed: its notices
// wait on that context, and every Read first takes in those that have come. A read costs tens of
// microseconds, a good part of a probe on a fast network; looking for notices, about one.
class Store {
public:
  static std::unique_ptr<Store> Open() {
    GSettingsSchemaSource *source =
        HasRuntimeFolder() ? g_settings_schema_source_get_default() : nullptr;
    if (source == nullptr) {
      return nullptr;
    }
    std::unique_ptr<GMainContext, ContextUnref> context(g_main_context_new());
    // GSettings sends its notices to the context that was the thread's default when it was made.
    g_main_context_push_thread_default(context.get());
    auto proxy = Schema::Open(source, "org.gnome.system.proxy");
    auto http = Schema::Open(source, "org.gnome.system.proxy.http");
    auto https = Schema::Open(source, "org.gnome.system.proxy.https");
    auto socks = Schema::Open(source, "org.gnome.system.proxy.socks");
    g_main_context_pop_thread_default(context.get());
    if (!proxy) {
      return nullptr;
    }
    return std::unique_ptr<Store>(new Store(std::move(context), std::move(*proxy), std::move(http),
                                            std::move(https), std::move(socks)));
  }

  Settings Read() {
    const std::lock_guard lock(mutex_);
    while (g_main_context_iteration(context_.get(), FALSE)) {
    }
    if (stale_) {
      stale_ = false; // before reading: a change made meanwhile marks it stale again
      settings_ = ReadNow();
    }
    return settings_;
  }

private:
  Store(std::unique_ptr<GMainContext, ContextUnref> context, Schema proxy,
        std::optional<Schema> http, std::optional<Schema> https, std::optional<Schema> socks)
      : context_(std::move(context)), proxy_(std::move(proxy)), http_(std::move(http)),
        https_(std::move(https)), socks_(std::move(socks)) {
    const Schema *const schemas[] = {&proxy_, Get(http_), Get(https_), Get(socks_)};
    for (const Schema *schema : schemas) {
      if (schema != nullptr) {
        schema->OnChange(
            +[](GSettings *, gchar *, gpointer store) {
              static_cast<Store *>(store)->stale_ = true;
            },
            this);
      }
    }
  }

  static const Schema *Get(const std::optional<Schema> &schema) {
    return schema ? &*schema : nullptr;
  }

  Settings ReadNow() const {
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

  std::unique_ptr<GMainContext, ContextUnref> context_;
  Schema proxy_;
  std::optional<Schema> http_, https_, socks_;
  std::mutex mutex_;
  bool stale_ = true;
  Settings settings_;
};

} // namespace

Settings FromGSettings() {
  static const std::unique_ptr<Store> store = Store::Open();
  return store ? store->Read() : Settings{};
}

} // namespace wininet::preconfig
