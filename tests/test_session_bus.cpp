// When the program may use a session bus, and when it must not start one.
#include "session_bus.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;
using vcl::native::SessionBusExists;

class RuntimeFolder : public testing::Test {
protected:
  RuntimeFolder() {
    std::string pattern = (fs::temp_directory_path() / "zelva-bus-XXXXXX").string();
    folder_ = ::mkdtemp(pattern.data());
  }
  ~RuntimeFolder() override {
    if (socket_ >= 0) {
      ::close(socket_);
    }
    fs::remove_all(folder_);
  }

  // A listening socket named "bus" in the folder, as a user's bus has it.
  void Listen() {
    socket_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = (folder_ / "bus").string();
    ASSERT_LT(path.size(), sizeof address.sun_path);
    std::strcpy(address.sun_path, path.c_str());
    ASSERT_EQ(::bind(socket_, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(socket_, 1), 0);
  }

  fs::path folder_;
  int socket_ = -1;
};

TEST_F(RuntimeFolder, AnAddressOrTheFoldersSocket) {
  const std::string folder = folder_.string();
  EXPECT_TRUE(SessionBusExists("unix:path=/run/user/1000/bus", nullptr));
  EXPECT_TRUE(SessionBusExists("disabled:", folder.c_str()));
  EXPECT_FALSE(SessionBusExists(nullptr, nullptr));
  EXPECT_FALSE(SessionBusExists("", nullptr));
  EXPECT_FALSE(SessionBusExists(nullptr, ""));
  EXPECT_FALSE(SessionBusExists(nullptr, folder.c_str()));
  EXPECT_FALSE(SessionBusExists(nullptr, "relative/run"));

  std::ofstream(folder_ / "bus") << "not a socket";
  EXPECT_FALSE(SessionBusExists(nullptr, folder.c_str()));
  fs::remove(folder_ / "bus");

  Listen();
  EXPECT_TRUE(SessionBusExists(nullptr, folder.c_str()));
  EXPECT_TRUE(SessionBusExists("", folder.c_str()));
}

} // namespace
