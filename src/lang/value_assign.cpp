// The assignment routines `target = source` and `target &= source`, one per
// kind of target.
#include <cstdlib>
#include <cstring>

#include "lang/value_store.h"

namespace morvel::lang {

namespace {

bool hasRecord(uint32_t kind) { return kind == KindFloat || kind == KindArray; }

// Length of a string value, never more than the 1023 characters a string
// variable holds.
size_t boundedLength(const char* s) { return strnlen(s, kMaxStringLength); }

// Appends `n` values of `src` to `dst`, growing it by the source's length
// when the free room is too small. `src` may be `dst` itself: the values
// appended are those it held before.
void appendValues(ValueStore& values, ValueArray& dst, ValueArray& src) {
  const int32_t n = src.length > 0 ? src.length : 0;
  if (static_cast<int64_t>(dst.capacity) - dst.length < n)
    values.Grow(dst, static_cast<int64_t>(dst.capacity) + n);
  if (n > 0) std::memmove(dst.data + dst.length, src.data, static_cast<size_t>(n) * 8);
  dst.length += n;
}

}  // namespace

void assignFloat(RunContext& ctx, Operand* ops, int count) {
  if (count < 2) return;
  ValueStore& values = ctx.values;
  const Operand& source = ops[1];
  const double v = values.FloatValue(source);
  ValueArray& twin = values.ArrayOf(ops[0]);
  twin.data[0] = v;
  if (hasRecord(source.kind())) twin.xDistance = values.ArrayOf(source).xDistance;
}

void assignInteger(RunContext& ctx, Operand* ops, int count) {
  if (count < 2) return;
  ValueStore& values = ctx.values;
  const int32_t v = values.IntegerValue(ops[1]);
  values.integerSlot(values.SlotOf(ops[0])) = v;
}

void assignString(RunContext& ctx, Operand* ops, int count) {
  if (count < 2) return;
  ValueStore& values = ctx.values;
  char* dst = values.StringOf(ops[0]);
  const size_t start = ops[0].append() ? boundedLength(dst) : 0;
  const size_t room = static_cast<size_t>(kMaxStringLength) - start;
  if (ops[1].kind() == KindString) {
    const char* src = values.StringOf(ops[1]);
    size_t n = boundedLength(src);
    if (n > room) n = room;
    std::memmove(dst + start, src, n);  // the source may be the target itself
    dst[start + n] = '\0';
  } else {
    const char c = static_cast<char>(values.IntegerValue(ops[1]) & 0xFF);
    if (room > 0) {
      dst[start] = c;
      dst[start + 1] = '\0';
    } else {
      dst[start] = '\0';
    }
  }
}

void assignArray(RunContext& ctx, Operand* ops, int count) {
  if (count < 2) return;
  ValueStore& values = ctx.values;
  ValueArray& dst = values.ArrayOf(ops[0]);
  const Operand& source = ops[1];
  const bool append = ops[0].append();
  switch (source.kind()) {
    case KindArray:
    case KindFloat: {
      ValueArray& src = values.ArrayOf(source);
      const float xDistance = src.xDistance;
      const float xOffset = src.xOffset;
      const uint32_t kind = src.kind;
      if (append) {
        appendValues(values, dst, src);
      } else if (&src != &dst) {
        const int32_t n = src.length > 0 ? src.length : 0;
        if (dst.capacity < n) values.Grow(dst, n);
        if (n > 0) std::memcpy(dst.data, src.data, static_cast<size_t>(n) * 8);
        dst.length = n;
      }
      dst.xDistance = xDistance;
      dst.xOffset = xOffset;
      dst.kind = kind;
      break;
    }
    case KindFileArray:
      values.readFileArray(values.SlotOf(source), dst);
      break;
    default: {
      // An integer (or a string's first character) as one value.
      const double v = values.IntegerValue(source);
      if (append) {
        if (dst.length >= dst.capacity) values.Grow(dst, static_cast<int64_t>(dst.capacity) + 8);
        dst.data[dst.length] = v;
        dst.length += 1;
      } else {
        if (dst.capacity < 1) values.Grow(dst, 1);
        dst.data[0] = v;
        dst.length = 1;
      }
      break;
    }
  }
}

void assignFileArray(RunContext& ctx, Operand* ops, int count) {
  if (count < 2) return;
  ValueStore& values = ctx.values;
  const int slot = values.SlotOf(ops[0]);
  const bool append = ops[0].append();
  if (ops[1].kind() == KindFileArray) {
    // f = f: through a temporary array.
    ValueArray copy;
    try {
      values.readFileArray(values.SlotOf(ops[1]), copy);
      values.writeFileArray(slot, copy, append);
    } catch (...) {
      ValueStore::freeBuffer(copy.data);
      throw;
    }
    ValueStore::freeBuffer(copy.data);
    return;
  }
  values.writeFileArray(slot, values.ArrayOf(ops[1]), append);
}

void assignWindow(RunContext& ctx, Operand* ops, int count) {
  if (count < 2) return;
  ValueStore& values = ctx.values;
  const int number = values.WindowOf(ops[0]);
  values.windowPort()->assign(number, ops[0], ops + 1, count - 1 > 2 ? 2 : count - 1, values);
}

}  // namespace morvel::lang
