#include "tests/support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace ferrotick::testing {

Child::Child(const std::vector<std::string>& args,
             const std::function<void()>& inChild) {
  int out[2];
  int err[2];
  if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe2");
  }
  // Built before the fork: the child must not allocate.
  std::vector<char*> argv;
  for (const std::string& arg : args)
    argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  m_pid = ::fork();
  if (m_pid < 0) throw std::runtime_error("fork");
  if (m_pid == 0) {
    ::dup2(out[1], STDOUT_FILENO);
    ::dup2(err[1], STDERR_FILENO);
    // A shell starts background jobs with SIGINT ignored, nohup SIGHUP;
    // the program keeps what it inherits, so the tests start it plain.
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) ::signal(signal, SIG_DFL);
    if (inChild) inChild();
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(out[1]);
  ::close(err[1]);
  m_outFd = out[0];
  m_errFd = err[0];
}

Child::~Child() {
  if (m_pid > 0) {
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, nullptr, 0);
  }
  if (m_outFd >= 0) ::close(m_outFd);
  if (m_errFd >= 0) ::close(m_errFd);
}

bool Child::Pump(int timeoutMs) {
  pollfd fds[2] = {{m_outFd, POLLIN, 0}, {m_errFd, POLLIN, 0}};
  std::string* sinks[2] = {&m_result.out, &m_result.err};
  int* owners[2] = {&m_outFd, &m_errFd};
  if (m_outFd < 0 && m_errFd < 0) return false;
  if (::poll(fds, 2, timeoutMs) <= 0) return true;
  for (int i = 0; i < 2; ++i) {
    if (fds[i].fd < 0 || fds[i].revents == 0) continue;
    char buffer[4096];
    const ssize_t n = ::read(fds[i].fd, buffer, sizeof(buffer));
    if (n > 0) {
      sinks[i]->append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      ::close(*owners[i]);
      *owners[i] = -1;
    }
  }
  return true;
}

bool Child::WaitUntil(const std::function<bool(const std::string&)>& done,
                      std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done(m_result.out)) {
    if (std::chrono::steady_clock::now() > deadline || !Pump(20)) return false;
  }
  return true;
}

bool Child::WaitForOutput(const std::string& text,
                          std::chrono::milliseconds timeout) {
  return WaitUntil(
      [&text](const std::string& out) {
        return out.find(text) != std::string::npos;
      },
      timeout);
}

std::optional<std::string> Child::WaitForLine(
    const std::string& prefix, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    for (const std::string& line : SplitLines(m_result.out)) {
      if (line.rfind(prefix, 0) == 0 &&
          m_result.out.find(line + "\n") != std::string::npos) {
        return line;
      }
    }
    if (std::chrono::steady_clock::now() > deadline || !Pump(20)) {
      return std::nullopt;
    }
  }
}

void Child::Signal(int signal) {
  if (m_pid > 0) ::kill(m_pid, signal);
}

ChildResult Child::Wait(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (Pump(20)) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(m_pid, SIGKILL);
      break;
    }
  }
  int status = 0;
  if (m_pid > 0 && ::waitpid(m_pid, &status, 0) == m_pid) {
    if (WIFEXITED(status)) m_result.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) m_result.signal = WTERMSIG(status);
    m_pid = -1;
  }
  return m_result;
}

std::string CliPath() { return FERROTICK_CLI_PATH; }

Child StartCli(const std::vector<std::string>& args) {
  std::vector<std::string> argv{CliPath()};
  argv.insert(argv.end(), args.begin(), args.end());
  return Child(argv);
}

ChildResult RunCli(const std::vector<std::string>& args) {
  return StartCli(args).Wait();
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

}  // namespace ferrotick::testing
