#include "platform/cnumber.h"

#include <locale.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace platform {
namespace {

locale_t cLocale() {
  static locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return loc;
}

// Switches the calling thread to the C locale for one scope; uselocale only
// touches thread-local state, so other threads are unaffected.
class CLocaleScope {
 public:
  CLocaleScope() : old_(uselocale(cLocale())) {}
  ~CLocaleScope() { uselocale(old_); }
  CLocaleScope(const CLocaleScope&) = delete;
  CLocaleScope& operator=(const CLocaleScope&) = delete;

 private:
  locale_t old_;
};

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

}  // namespace

int formatC(char* buf, size_t size, const char* fmt, ...) {
  CLocaleScope scope;
  va_list ap;
  va_start(ap, fmt);
  int n = vsnprintf(buf, size, fmt, ap);
  va_end(ap);
  return n;
}

std::string formatC(const char* fmt, ...) {
  CLocaleScope scope;
  char small[128];
  va_list ap;
  va_start(ap, fmt);
  va_list ap2;
  va_copy(ap2, ap);
  int n = vsnprintf(small, sizeof small, fmt, ap);
  va_end(ap);
  std::string out;
  if (n < 0) {
    va_end(ap2);
    return out;
  }
  if (static_cast<size_t>(n) < sizeof small) {
    out.assign(small, static_cast<size_t>(n));
  } else {
    out.resize(static_cast<size_t>(n));
    vsnprintf(out.data(), out.size() + 1, fmt, ap2);
  }
  va_end(ap2);
  return out;
}

std::string formatG(double v) { return formatC("%g", v); }

double strtodC(const char* s, const char** end) {
  char* e = nullptr;
  double v = strtod_l(s, &e, cLocale());
  if (end) *end = e;
  return v;
}

double atofC(const char* s) { return strtodC(s); }

int32_t strtolC(const char* s, const char** end) {
  const char* p = s;
  while (isBlank(*p)) ++p;
  bool neg = false;
  if (*p == '+' || *p == '-') {
    neg = *p == '-';
    ++p;
  }
  if (*p < '0' || *p > '9') {
    if (end) *end = s;
    return 0;
  }
  int64_t v = 0;
  bool over = false;
  for (; *p >= '0' && *p <= '9'; ++p) {
    if (!over) {
      v = v * 10 + (*p - '0');
      if (v > int64_t{INT32_MAX} + 1) over = true;
    }
  }
  if (end) *end = p;
  if (neg) {
    v = -v;
    if (over || v < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(v);
  }
  if (over || v > INT32_MAX) return INT32_MAX;
  return static_cast<int32_t>(v);
}

int32_t atoiC(const char* s, const char** end) { return strtolC(s, end); }

}  // namespace platform
