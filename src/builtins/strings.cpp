// String rows: changes of string variables in place and conversions between
// text and numbers.
#include "builtins/strings.h"

#include <cstdint>
#include <cstring>

#include "builtins/operands.h"
#include "platform/cnumber.h"

namespace morvel::builtins {

namespace {

using lang::KindFloat;
using lang::KindInteger;
using lang::KindString;

size_t stringLength(const char* s) {
  return strnlen(s, lang::kMaxStringLength);
}

// Membership table of a character set (order and repetitions do not matter).
struct CharSet {
  bool has[256] = {};
  explicit CharSet(const char* set) {
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(set); *p; ++p) has[*p] = true;
  }
  bool operator()(char c) const { return has[static_cast<unsigned char>(c)]; }
};

bool isBlank(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The integer result of atoi and htoi: an `i` variable, or a scalar `v`/`a`.
void storeInteger(ValueStore& values, const Operand& target, int32_t value) {
  const uint32_t k = target.kind();
  if (k == KindInteger) {
    values.integerSlot(values.SlotOf(target)) = value;
  } else if (isArrayOrFloat(k)) {
    values.storeScalar(target, value);
  } else {
    lang::raiseRuntimeError(kErrOperandKind);
  }
}

}  // namespace

int32_t hexToInt(const char* text) {
  const char* p = text;
  while (isBlank(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && hexDigit(p[2]) >= 0) p += 2;
  int64_t v = 0;
  for (int d; (d = hexDigit(*p)) >= 0; ++p) {
    v = v * 16 + d;
    if (v > static_cast<int64_t>(INT32_MAX) + 1) v = static_cast<int64_t>(INT32_MAX) + 1;
  }
  if (negative) v = -v;
  if (v > INT32_MAX) v = INT32_MAX;
  return static_cast<int32_t>(v);
}

size_t replaceAll(const char* text, const char* find, const char* with, char* out, size_t capacity) {
  if (capacity == 0) return 0;
  const size_t limit = capacity - 1;
  const size_t findLength = std::strlen(find);
  const size_t withLength = std::strlen(with);
  size_t n = 0;
  const char* p = text;
  while (*p && n < limit) {
    if (findLength > 0 && std::strncmp(p, find, findLength) == 0) {
      const size_t take = withLength < limit - n ? withLength : limit - n;
      std::memcpy(out + n, with, take);
      n += take;
      p += findLength;
    } else {
      out[n++] = *p++;
    }
  }
  out[n] = '\0';
  return n;
}

// --- check routines -----------------------------------------------------------

int checkTrim(CheckContext& ctx, const Operand* ops, int count) {
  return kindAt(ops, count, 0) == KindString && isStringVariable(ctx.values, ops[0]) &&
                 kindAt(ops, count, 1) == KindString
             ? 0
             : -1;
}

int checkReplace(CheckContext& ctx, const Operand* ops, int count) {
  return checkTrim(ctx, ops, count) == 0 && kindAt(ops, count, 2) == KindString ? 0 : -1;
}

// --- run routines -------------------------------------------------------------

// A..Z to a..z; every other byte (umlauts included) stays.
void runTolower(RunContext& ctx, Operand* ops, int count) {
  char* s = writableString(ctx.values, required(ops, count, 0));
  for (size_t i = 0, n = stringLength(s); i < n; ++i)
    if (s[i] >= 'A' && s[i] <= 'Z') s[i] = static_cast<char>(s[i] - 'A' + 'a');
}

void runTrimleft(RunContext& ctx, Operand* ops, int) {
  char* s = writableString(ctx.values, ops[0]);
  const CharSet set(ctx.values.StringOf(ops[1]));
  const size_t n = stringLength(s);
  size_t skip = 0;
  while (skip < n && set(s[skip])) ++skip;
  if (skip > 0) std::memmove(s, s + skip, n - skip + 1);
}

void runTrimright(RunContext& ctx, Operand* ops, int) {
  char* s = writableString(ctx.values, ops[0]);
  const CharSet set(ctx.values.StringOf(ops[1]));
  size_t n = stringLength(s);
  while (n > 0 && set(s[n - 1])) --n;
  s[n] = '\0';
}

void runReplace(RunContext& ctx, Operand* ops, int) {
  ValueStore& values = ctx.values;
  char* s = writableString(values, ops[0]);
  // The search and replacement texts may be the target itself; the result is
  // built apart and copied back, cut at 1023 characters.
  char find[lang::kStringCapacity];
  char with[lang::kStringCapacity];
  char out[lang::kStringCapacity];
  std::strncpy(find, values.StringOf(ops[1]), lang::kMaxStringLength);
  find[lang::kMaxStringLength] = '\0';
  std::strncpy(with, values.StringOf(ops[2]), lang::kMaxStringLength);
  with[lang::kMaxStringLength] = '\0';
  if (find[0] == '\0') return;
  const size_t n = replaceAll(s, find, with, out, sizeof out);
  std::memcpy(s, out, n + 1);
}

// i = atoi(s), or i = atoi(n, s) starting at character n (0-based); a start
// outside the string gives 0.
void runAtoi(RunContext& ctx, Operand* ops, int count) {
  ValueStore& values = ctx.values;
  Operand& target = required(ops, count, 0);
  Operand& first = required(ops, count, 1);
  int32_t value = 0;
  if (first.kind() == KindString) {
    value = platform::atoiC(values.StringOf(first));
  } else if (isNumber(first.kind()) || first.kind() == lang::KindArray) {
    const int32_t start = values.IntegerValue(first);
    Operand& text = required(ops, count, 2);
    if (text.kind() != KindString) lang::raiseRuntimeError(kErrOperandKind);
    const char* s = values.StringOf(text);
    if (start >= 0 && static_cast<size_t>(start) < stringLength(s)) value = platform::atoiC(s + start);
  } else {
    lang::raiseRuntimeError(kErrOperandKind);
  }
  storeInteger(values, target, value);
}

// v = atof(s): only the first sample of the result changes.
void runAtof(RunContext& ctx, Operand* ops, int count) {
  ValueStore& values = ctx.values;
  Operand& target = required(ops, count, 0);
  Operand& text = required(ops, count, 1);
  if (text.kind() != KindString) lang::raiseRuntimeError(kErrOperandKind);
  const double value = platform::atofC(values.StringOf(text));
  const uint32_t k = target.kind();
  if (k == KindInteger) {
    values.integerSlot(values.SlotOf(target)) = lang::toInteger(value);
  } else if (isArrayOrFloat(k)) {
    ValueArray& a = values.ArrayOf(target);
    if (a.capacity < 1) values.Grow(a, 1);
    a.data[0] = value;
  } else {
    lang::raiseRuntimeError(kErrOperandKind);
  }
}

void runHtoi(RunContext& ctx, Operand* ops, int count) {
  ValueStore& values = ctx.values;
  Operand& target = required(ops, count, 0);
  Operand& text = required(ops, count, 1);
  if (text.kind() != KindString) lang::raiseRuntimeError(kErrOperandKind);
  storeInteger(values, target, hexToInt(values.StringOf(text)));
}

}  // namespace morvel::builtins
