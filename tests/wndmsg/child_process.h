// A helper program started by a test, talked to through pipes on its
// standard input and output. Lines are read with a time-out so a broken peer
// fails the test instead of hanging it.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

class ChildProcess {
public:
  using Env = std::vector<std::pair<std::string, std::string>>;

  // before_exec runs in the child just before it starts the program.
  ChildProcess(const std::vector<std::string>& argv, const Env& env = {},
               const std::function<void()>& before_exec = nullptr) {
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(in[0], 0);
      dup2(out[1], 1);
      for (auto& [k, v] : env) setenv(k.c_str(), v.c_str(), 1);
      if (before_exec) before_exec();
      std::vector<char*> args;
      for (auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      execv(args[0], args.data());
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    in_ = in[1];
    out_ = out[0];
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess() {
    if (in_ >= 0) close(in_);
    if (out_ >= 0) close(out_);
    if (pid_ > 0 && !reaped_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }

  bool started() const { return pid_ > 0 && in_ >= 0; }
  pid_t pid() const { return pid_; }

  // Next line of the child's output without the newline; "" on end or time-out.
  std::string line(int timeout_ms = 20000) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
      size_t nl = buf_.find('\n');
      if (nl != std::string::npos) {
        std::string l = buf_.substr(0, nl);
        buf_.erase(0, nl + 1);
        return l;
      }
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return "";
      pollfd p{out_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left.count())) <= 0) return "";
      char tmp[4096];
      ssize_t r = read(out_, tmp, sizeof tmp);
      if (r <= 0) return "";
      buf_.append(tmp, static_cast<size_t>(r));
    }
  }

  bool send(const std::string& text) {
    std::string s = text + "\n";
    return write(in_, s.data(), s.size()) == static_cast<ssize_t>(s.size());
  }

  void close_input() {
    if (in_ >= 0) close(in_);
    in_ = -1;
  }

  void signal(int sig) { kill(pid_, sig); }

  // Exit status (or 128 + signal); -1 if it does not end within the time-out.
  int wait(int timeout_ms = 20000) {
    if (reaped_) return status_;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
      int st;
      pid_t r = waitpid(pid_, &st, WNOHANG);
      if (r == pid_) {
        reaped_ = true;
        status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
        return status_;
      }
      if (std::chrono::steady_clock::now() >= deadline) return -1;
      usleep(2000);
    }
  }

private:
  pid_t pid_ = -1;
  int in_ = -1, out_ = -1;
  std::string buf_;
  bool reaped_ = false;
  int status_ = -1;
};
