#include "datafiles/random_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace morvel::datafiles {

static_assert(sizeof(off_t) == 8, "64-bit file positions are required");

bool RandomFile::open(const std::string& hostPath) {
  close();
  int fd = ::open(hostPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  size_ = st.st_size;
  path_ = hostPath;
  return true;
}

void RandomFile::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  size_ = 0;
  path_.clear();
}

int64_t RandomFile::readAt(int64_t offset, void* dest, int64_t bytes) const {
  if (fd_ < 0 || offset < 0 || bytes < 0) return -1;
  int64_t done = 0;
  auto* out = static_cast<char*>(dest);
  while (done < bytes) {
    ssize_t n = ::pread(fd_, out + done, static_cast<size_t>(bytes - done), static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return done > 0 ? done : -1;
    }
    if (n == 0) break;
    done += n;
  }
  return done;
}

LineReader::LineReader(const RandomFile& file, int64_t start, int64_t end) : file_(file), pos_(start), end_(end) {}

bool LineReader::fill() {
  if (pos_ >= end_) return false;
  int64_t want = end_ - pos_;
  if (want > static_cast<int64_t>(sizeof buf_)) want = sizeof buf_;
  int64_t n = file_.readAt(pos_, buf_, want);
  if (n <= 0) {
    pos_ = end_;
    return false;
  }
  pos_ += n;
  have_ = static_cast<size_t>(n);
  at_ = 0;
  return true;
}

bool LineReader::next(std::string& line, size_t maxLine) {
  line.clear();
  bool any = false;
  for (;;) {
    if (at_ >= have_ && !fill()) return any;
    any = true;
    const char* start = buf_ + at_;
    const char* stop = static_cast<const char*>(std::memchr(start, '\n', have_ - at_));
    size_t len = stop ? static_cast<size_t>(stop - start) : have_ - at_;
    for (size_t i = 0; i < len; ++i)
      if (start[i] != '\r') line.push_back(start[i]);
    at_ += len;
    if (line.size() > maxLine) {
      tooLong_ = true;
      return false;
    }
    if (stop) {
      ++at_;
      return true;
    }
  }
}

}  // namespace morvel::datafiles
