#include "engine/link_socket.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "logging/logger.h"

namespace quillon::link {

namespace {

bool fail(std::string* error, std::string reason) {
  if (error) *error = std::move(reason);
  return false;
}

bool fillAddress(const std::string& path, sockaddr_un& address, std::string* error) {
  address = sockaddr_un{};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof(address.sun_path)) {
    return fail(error, formatString("socket path \"%s\" is empty or longer than %zu bytes", path.c_str(),
                                    sizeof(address.sun_path) - 1));
  }
  std::memcpy(address.sun_path, path.data(), path.size());
  return true;
}

std::string parentOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// mkdir -p, with 0700 for every folder it creates.
bool ensureFolder(const std::string& folder, std::string* error) {
  struct stat st {};
  if (stat(folder.c_str(), &st) == 0) {
    if (!S_ISDIR(st.st_mode)) return fail(error, "\"" + folder + "\" is not a folder");
    return true;
  }
  const std::string parent = parentOf(folder);
  if (parent != folder && !ensureFolder(parent, error)) return false;
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    return fail(error, formatString("cannot create \"%s\": %s", folder.c_str(), std::strerror(errno)));
  }
  return true;
}

// Another user's folder could have our socket swapped under us; only our own
// folders and the system's (root's, such as /tmp with its sticky bit) will do.
bool folderIsTrusted(const std::string& folder, std::string* error) {
  struct stat st {};
  if (stat(folder.c_str(), &st) != 0) {
    return fail(error, formatString("cannot inspect \"%s\": %s", folder.c_str(), std::strerror(errno)));
  }
  if (st.st_uid != geteuid() && st.st_uid != 0) {
    return fail(error, "\"" + folder + "\" belongs to another user");
  }
  return true;
}

bool someoneListens(const sockaddr_un& address) {
  const int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (probe < 0) return false;
  const bool answered = connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  close(probe);
  return answered;
}

}  // namespace

std::string defaultSocketPath() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && *runtime) return std::string(runtime) + "/quillon/engine.sock";
  return formatString("/tmp/quillon-%u/engine.sock", static_cast<unsigned>(getuid()));
}

int listenOnUnixSocket(const std::string& path, std::string* error) {
  sockaddr_un address{};
  if (!fillAddress(path, address, error)) return -1;
  const std::string folder = parentOf(path);
  if (!ensureFolder(folder, error) || !folderIsTrusted(folder, error)) return -1;

  struct stat st {};
  if (lstat(path.c_str(), &st) == 0) {
    if (!S_ISSOCK(st.st_mode)) {
      fail(error, "\"" + path + "\" exists and is not a socket");
      return -1;
    }
    if (someoneListens(address)) {
      fail(error, "another host already listens on \"" + path + "\"");
      return -1;
    }
    unlink(path.c_str());  // left behind by a host that did not exit cleanly
  }

  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    fail(error, formatString("socket: %s", std::strerror(errno)));
    return -1;
  }
  // Nobody can connect before listen(), so tightening the mode in between leaves no window.
  if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    fail(error, formatString("cannot bind \"%s\": %s", path.c_str(), std::strerror(errno)));
    close(fd);
    return -1;
  }
  if (chmod(path.c_str(), 0600) != 0 || listen(fd, 4) != 0) {
    fail(error, formatString("cannot listen on \"%s\": %s", path.c_str(), std::strerror(errno)));
    close(fd);
    unlink(path.c_str());
    return -1;
  }
  return fd;
}

int connectToUnixSocket(const std::string& path, std::string* error) {
  sockaddr_un address{};
  if (!fillAddress(path, address, error)) return -1;
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    fail(error, formatString("socket: %s", std::strerror(errno)));
    return -1;
  }
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    const int code = errno;
    close(fd);
    if (code == ENOENT || code == ECONNREFUSED) {
      fail(error, formatString("no host listens on \"%s\" (%s); is quillon-host running?", path.c_str(),
                               std::strerror(code)));
    } else {
      fail(error, formatString("cannot connect to \"%s\": %s", path.c_str(), std::strerror(code)));
    }
    return -1;
  }
  return fd;
}

}  // namespace quillon::link
