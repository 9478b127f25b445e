#include "python_bridge/process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <utility>

#include "util/file.hpp"

extern char** environ;

namespace orvik {
namespace {

// An owned file descriptor, closed when the owner goes away.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
      reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { reset(); }

  int get() const { return fd_; }
  bool is_open() const { return fd_ >= 0; }
  void reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

struct Pipe {
  UniqueFd read_end;
  UniqueFd write_end;
};

// Both ends close on exec. When the standard streams of this process are closed, pipe2 hands out
// 0, 1 or 2; such an end is moved to 3 or above so that the child's redirections onto 0, 1 and 2
// cannot overwrite it.
Result<UniqueFd> above_standard_streams(UniqueFd fd) {
  if (fd.get() > 2) return fd;
  const int moved = ::fcntl(fd.get(), F_DUPFD_CLOEXEC, 3);
  if (moved < 0) return fail(system_error_text(errno));
  return UniqueFd(moved);
}

Result<Pipe> make_pipe() {
  std::array<int, 2> fds{};
  if (::pipe2(fds.data(), O_CLOEXEC) != 0) return fail(system_error_text(errno));
  UniqueFd read_end(fds[0]);
  UniqueFd write_end(fds[1]);
  auto read_moved = above_standard_streams(std::move(read_end));
  if (!read_moved) return fail(read_moved.error());
  auto write_moved = above_standard_streams(std::move(write_end));
  if (!write_moved) return fail(write_moved.error());
  return Pipe{std::move(*read_moved), std::move(*write_moved)};
}

class SpawnFileActions {
 public:
  SpawnFileActions() { ok_ = ::posix_spawn_file_actions_init(&actions_) == 0; }
  SpawnFileActions(const SpawnFileActions&) = delete;
  SpawnFileActions& operator=(const SpawnFileActions&) = delete;
  ~SpawnFileActions() {
    if (ok_) ::posix_spawn_file_actions_destroy(&actions_);
  }
  bool ok() const { return ok_; }
  posix_spawn_file_actions_t* get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_{};
  bool ok_ = false;
};

class SpawnAttributes {
 public:
  SpawnAttributes() { ok_ = ::posix_spawnattr_init(&attributes_) == 0; }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;
  ~SpawnAttributes() {
    if (ok_) ::posix_spawnattr_destroy(&attributes_);
  }
  bool ok() const { return ok_; }
  posix_spawnattr_t* get() { return &attributes_; }

 private:
  posix_spawnattr_t attributes_{};
  bool ok_ = false;
};

// A started child and the read ends of its output pipes. Going away closes the pipes first (so
// a child still writing gets EPIPE instead of blocking) and then reaps the child, on every path.
class Child {
 public:
  Child(pid_t pid, UniqueFd out, UniqueFd err)
      : pid_(pid), out_(std::move(out)), err_(std::move(err)) {}
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  ~Child() {
    out_.reset();
    err_.reset();
    if (pid_ > 0) {
      int status = 0;
      while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
      }
    }
  }

  // Reads both streams until each reaches its end.
  Result<ProcessOutput> collect() {
    ProcessOutput output;
    std::array<char, 65536> buffer{};
    while (out_.is_open() || err_.is_open()) {
      std::array<pollfd, 2> fds{};
      std::array<UniqueFd*, 2> owners{};
      std::array<std::string*, 2> sinks{};
      nfds_t count = 0;
      if (out_.is_open()) {
        fds[count] = pollfd{out_.get(), POLLIN, 0};
        owners[count] = &out_;
        sinks[count] = &output.stdout_bytes;
        ++count;
      }
      if (err_.is_open()) {
        fds[count] = pollfd{err_.get(), POLLIN, 0};
        owners[count] = &err_;
        sinks[count] = &output.stderr_bytes;
        ++count;
      }
      if (::poll(fds.data(), count, -1) < 0) {
        if (errno == EINTR) continue;
        return fail(system_error_text(errno));
      }
      for (nfds_t i = 0; i < count; ++i) {
        if (fds[i].revents == 0) continue;
        const ssize_t n = ::read(fds[i].fd, buffer.data(), buffer.size());
        if (n > 0) {
          sinks[i]->append(buffer.data(), static_cast<std::size_t>(n));
        } else if (n == 0) {
          owners[i]->reset();
        } else if (errno != EINTR && errno != EAGAIN) {
          return fail(system_error_text(errno));
        }
      }
    }
    int status = 0;
    pid_t waited = -1;
    while ((waited = ::waitpid(pid_, &status, 0)) < 0 && errno == EINTR) {
    }
    if (waited < 0) return fail(system_error_text(errno));
    pid_ = -1;
    output.exited_zero = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return output;
  }

 private:
  pid_t pid_;
  UniqueFd out_;
  UniqueFd err_;
};

bool has_nul(const std::string& text) {
  return text.find('\0') != std::string::npos;
}

}  // namespace

Result<ProcessOutput> run_process(const std::string& program,
                                  const std::vector<std::string>& args) {
  if (has_nul(program)) return fail("nul byte found in provided data");
  std::vector<char*> argv;
  argv.reserve(args.size() + 2);
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const auto& arg : args) {
    if (has_nul(arg)) return fail("nul byte found in provided data");
    argv.push_back(const_cast<char*>(arg.c_str()));
  }
  argv.push_back(nullptr);

  auto out = make_pipe();
  if (!out) return fail(out.error());
  auto err = make_pipe();
  if (!err) return fail(err.error());

  SpawnFileActions actions;
  SpawnAttributes attributes;
  if (!actions.ok() || !attributes.ok()) return fail(system_error_text(ENOMEM));
  // Every pipe end is close-on-exec, so after the redirections the child keeps only its
  // standard streams; descriptors other code opened without close-on-exec are closed too.
  int rc = ::posix_spawn_file_actions_addopen(actions.get(), 0, "/dev/null", O_RDONLY, 0);
  if (rc == 0) rc = ::posix_spawn_file_actions_adddup2(actions.get(), out->write_end.get(), 1);
  if (rc == 0) rc = ::posix_spawn_file_actions_adddup2(actions.get(), err->write_end.get(), 2);
#if defined(__GLIBC__) && __GLIBC_PREREQ(2, 34)
  if (rc == 0) rc = ::posix_spawn_file_actions_addclosefrom_np(actions.get(), 3);
#endif
  // The child starts with no blocked signals and with SIGPIPE at its default action, whatever
  // this process inherited.
  sigset_t empty_mask;
  sigset_t default_signals;
  sigemptyset(&empty_mask);
  sigemptyset(&default_signals);
  sigaddset(&default_signals, SIGPIPE);
  if (rc == 0) rc = ::posix_spawnattr_setsigmask(attributes.get(), &empty_mask);
  if (rc == 0) rc = ::posix_spawnattr_setsigdefault(attributes.get(), &default_signals);
  if (rc == 0) {
    rc = ::posix_spawnattr_setflags(attributes.get(),
                                    POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  }
  if (rc != 0) return fail(system_error_text(rc));

  // glibc's posix_spawnp reports a failed exec (missing file, no permission, not an executable
  // format) as its return value, and runs no shell for files without an interpreter line.
  pid_t pid = -1;
  rc = ::posix_spawnp(&pid, program.c_str(), actions.get(), attributes.get(), argv.data(), environ);
  if (rc != 0) return fail(system_error_text(rc));
  out->write_end.reset();
  err->write_end.reset();
  Child child(pid, std::move(out->read_end), std::move(err->read_end));
  return child.collect();
}

}  // namespace orvik
