// The value store: pools, reading one kind as another, array growth, the f
// variable files and the start/end-of-run resets.
#include "lang/value_store.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>

#include "platform/cnumber.h"

namespace morvel::lang {

namespace {

constexpr int kFileHeaderSize = 10;

void* defaultAllocate(size_t count, size_t size) { return std::calloc(count, size); }

// Large buffers ask the kernel for 2 MiB pages. A loop over 10^7 samples
// otherwise walks 20,000 small pages per array, and the page walks cost a
// memory-bound loop like a3 = a1 * a2 about a fifth of its time. The advice
// covers the whole pages inside the buffer and is a hint only: without
// transparent huge pages nothing changes.
constexpr size_t kHugePageAdviceBytes = size_t{4} << 20;

void adviseHugePages(void* buffer, size_t bytes) {
  if (bytes < kHugePageAdviceBytes) return;
  const uintptr_t page = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
  const uintptr_t begin = (reinterpret_cast<uintptr_t>(buffer) + page - 1) & ~(page - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(buffer) + bytes) & ~(page - 1);
  if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

// Array buffers start on a 64-byte line, so a vector loop over the samples
// never splits a load over two lines (the allocators give 16 bytes). The
// block from the allocator is 64 bytes longer; the samples start at the first
// line boundary at least 8 bytes into it, and those 8 bytes before the first
// sample keep the block's address.
constexpr size_t kLine = 64;
constexpr size_t kExtraSlots = kLine / sizeof(double);

double* firstLineOf(void* block) {
  const uintptr_t first = reinterpret_cast<uintptr_t>(block) + sizeof(double);
  return reinterpret_cast<double*>((first + kLine - 1) & ~uintptr_t{kLine - 1});
}

// The samples' start in `block`, with the block's address kept before it.
double* alignedIn(void* block) {
  double* data = firstLineOf(block);
  std::memcpy(data - 1, &block, sizeof(block));
  return data;
}

void* blockOf(double* data) {
  void* block;
  std::memcpy(&block, data - 1, sizeof(block));
  return block;
}

// realloc for an aligned buffer, growing it: the samples move along with the
// block; when the new block's line boundary lies elsewhere relative to it,
// they are moved onto it (`keepSlots` of them, the old buffer's length).
double* reallocAligned(double* data, size_t keepSlots, size_t slots) {
  void* block = blockOf(data);
  const size_t offset = static_cast<size_t>(reinterpret_cast<char*>(data) - static_cast<char*>(block));
  void* fresh = std::realloc(block, (slots + kExtraSlots) * sizeof(double));
  if (fresh == nullptr) return nullptr;
  double* moved = reinterpret_cast<double*>(static_cast<char*>(fresh) + offset);
  if (firstLineOf(fresh) != moved) std::memmove(firstLineOf(fresh), moved, keepSlots * sizeof(double));
  return alignedIn(fresh);
}

bool writeAll(int fd, const void* data, size_t size, off_t offset) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = ::pwrite(fd, p, size, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
    offset += n;
  }
  return true;
}

// Reads up to `size` bytes; returns the number read, -1 on an error.
ssize_t readAll(int fd, void* data, size_t size, off_t offset) {
  char* p = static_cast<char*>(data);
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::pread(fd, p + done, size - done, offset + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

void putU16(unsigned char* p, uint16_t v) {
  p[0] = static_cast<unsigned char>(v & 0xFF);
  p[1] = static_cast<unsigned char>(v >> 8);
}

void putF32(unsigned char* p, float f) {
  uint32_t v = std::bit_cast<uint32_t>(f);
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>((v >> (8 * i)) & 0xFF);
}

uint16_t getU16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

float getF32(const unsigned char* p) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(p[i]) << (8 * i);
  return std::bit_cast<float>(v);
}

uint64_t swapIfBig(uint64_t v) {
  if constexpr (std::endian::native == std::endian::big) return __builtin_bswap64(v);
  return v;
}

// Writes `count` doubles as little-endian 64-bit values at `offset`.
bool writeSamples(int fd, const double* data, int64_t count, off_t offset) {
  if (count <= 0) return true;
  if constexpr (std::endian::native == std::endian::little) {
    return writeAll(fd, data, static_cast<size_t>(count) * 8, offset);
  } else {
    uint64_t chunk[512];
    while (count > 0) {
      int64_t n = count < 512 ? count : 512;
      for (int64_t i = 0; i < n; ++i) chunk[i] = swapIfBig(std::bit_cast<uint64_t>(data[i]));
      if (!writeAll(fd, chunk, static_cast<size_t>(n) * 8, offset)) return false;
      data += n;
      count -= n;
      offset += static_cast<off_t>(n * 8);
    }
    return true;
  }
}

}  // namespace

int32_t toInteger(double x) {
  // Truncate to 64 bits, keep the low 32. Out of the 64-bit range (and NaN)
  // the conversion yields -2^63, whose low half is 0.
  if (!(std::fabs(x) < 9223372036854775808.0)) return 0;
  const auto wide = static_cast<int64_t>(x);
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(wide)));
}

// --- construction -----------------------------------------------------------

ValueStore::ValueStore() : allocate_(defaultAllocate) {
  for (int k = 0; k < kFloatSlots; ++k) {
    ValueArray& twin = records_[kArraySlots + k];
    twin.data = &floats_[k];
    twin.capacity = 1;
    twin.length = 1;
  }
  for (int k = 0; k < kScratchRecords; ++k) {
    scratch_[k].data = &scratchValues_[k];
    scratch_[k].capacity = 1;
    scratch_[k].length = 1;
  }
  for (int& fd : fileArrayFds_) fd = -1;
}

ValueStore::~ValueStore() {
  for (int k = 0; k < kArraySlots + kFloatSlots; ++k) releaseBuffer(records_[k]);
  for (ValueArray& s : scratch_) releaseBuffer(s);
  closeAllFileArrays();
  closeFileChannels(0);
}

// --- raw slots ----------------------------------------------------------------

double& ValueStore::floatSlot(int slot) { return *records_[kArraySlots + slot].data; }
int32_t& ValueStore::integerSlot(int slot) { return integers_[slot]; }
char* ValueStore::stringSlot(int slot) { return strings_[slot]; }
ValueArray& ValueStore::arrayRecord(int slot) { return records_[slot]; }
ValueArray& ValueStore::floatTwin(int slot) { return records_[kArraySlots + slot]; }

FileChannel& ValueStore::fileChannel(int number) { return fileChannels_[number]; }
double& ValueStore::averagingCounter(int slot) { return averaging_[slot]; }

bool ValueStore::isFloatTwin(const ValueArray& array) const {
  std::less<const ValueArray*> less;
  const ValueArray* p = &array;
  return !less(p, &records_[kArraySlots]) && less(p, &records_[kArraySlots + kFloatSlots]);
}

// The value a record's data points at when it owns no heap buffer: a float
// twin's own float slot, a scratch record's value. nullptr for arrays.
double* ValueStore::homeOf(const ValueArray& array) const {
  std::less<const ValueArray*> less;
  const ValueArray* p = &array;
  if (isFloatTwin(array)) return const_cast<double*>(&floats_[p - &records_[kArraySlots]]);
  if (!less(p, &scratch_[0]) && less(p, &scratch_[kScratchRecords]))
    return const_cast<double*>(&scratchValues_[p - &scratch_[0]]);
  return nullptr;
}

double* ValueStore::newBuffer(size_t slots) {
  void* block = allocate_(slots + kExtraSlots, sizeof(double));
  return block == nullptr ? nullptr : alignedIn(block);
}

void ValueStore::freeBuffer(double* data) {
  if (data != nullptr) std::free(blockOf(data));
}

// Frees a heap buffer. A twin or scratch record goes back to its own value
// (keeping the first sample), an array becomes empty.
void ValueStore::releaseBuffer(ValueArray& array) {
  double* home = homeOf(array);
  if (array.data != home) {
    if (home != nullptr && array.data != nullptr && array.capacity > 0) *home = array.data[0];
    freeBuffer(array.data);
    array.data = home;
  }
  array.dirtyFrom = INT32_MAX;
  if (home != nullptr) {
    array.capacity = 1;
    array.length = 1;
  } else {
    array.capacity = 0;
    array.length = 0;
  }
}

// --- resolving operands -------------------------------------------------------

// The slot an operand names; an indirect slot outside 0..poolSize-1 stops the
// run with error 150.
int ValueStore::resolvedSlot(const Operand& op, int poolSize) {
  int slot = op.slot();
  if (op.indirect()) {
    if (slot >= kIntegerSlots) raiseRuntimeError(kErrIndirectSlotOutOfPool);
    slot = integers_[slot];
  }
  if (slot < 0 || slot >= poolSize) raiseRuntimeError(kErrIndirectSlotOutOfPool);
  return slot;
}

int ValueStore::SlotOf(const Operand& op) {
  switch (op.kind()) {
    case KindWindow: {
      int slot = op.slot();
      if (op.indirect()) {
        if (slot >= kIntegerSlots) raiseRuntimeError(kErrIndirectSlotOutOfPool);
        slot = integers_[slot];
      }
      if (slot < 0 || slot >= kWindowSlots) raiseRuntimeError(kErrWindowNumber);
      return slot;
    }
    case KindArray: return resolvedSlot(op, kArraySlots);
    case KindFileArray: return resolvedSlot(op, kFileArraySlots);
    case KindFloat: return resolvedSlot(op, kFloatSlots);
    case KindInteger: return resolvedSlot(op, kIntegerSlots);
    case KindString: return resolvedSlot(op, kStringSlots);
    case KindFileNumber: return resolvedSlot(op, kFileNumberSlots);
    default: return op.slot();
  }
}

ValueArray& ValueStore::scratchRecord() {
  ValueArray& r = scratch_[nextScratch_];
  nextScratch_ = (nextScratch_ + 1) % kScratchRecords;
  releaseBuffer(r);
  r.xOffset = 0.0f;
  r.xDistance = 1.0f;
  r.kind = 0;
  return r;
}

ValueArray& ValueStore::ArrayOf(const Operand& op) {
  switch (op.kind()) {
    case KindArray:
      if (!op.indirect() && op.target != nullptr) return *static_cast<ValueArray*>(op.target);
      return records_[resolvedSlot(op, kArraySlots)];
    case KindFloat:
      if (!op.indirect() && op.target != nullptr) return *static_cast<ValueArray*>(op.target);
      return records_[kArraySlots + resolvedSlot(op, kFloatSlots)];
    case KindInteger: {
      // An integer has no record: hand out a one-value array holding it.
      int32_t v = IntegerValue(op);
      ValueArray& r = scratchRecord();
      r.data[0] = v;
      return r;
    }
    default: {
      ValueArray& r = scratchRecord();
      r.data[0] = 0.0;
      r.length = 0;
      return r;
    }
  }
}

int32_t ValueStore::IntegerValue(const Operand& op) {
  switch (op.kind()) {
    case KindInteger: return integers_[resolvedSlot(op, kIntegerSlots)];
    case KindFloat:
    case KindArray: {
      const ValueArray& r = ArrayOf(op);
      return r.data != nullptr && r.capacity > 0 ? toInteger(r.data[0]) : 0;
    }
    case KindString: return static_cast<signed char>(StringOf(op)[0]);
    default: return 0;
  }
}

double ValueStore::FloatValue(const Operand& op) {
  switch (op.kind()) {
    case KindInteger: return integers_[resolvedSlot(op, kIntegerSlots)];
    case KindFloat:
    case KindArray: {
      const ValueArray& r = ArrayOf(op);
      return r.data != nullptr && r.capacity > 0 ? r.data[0] : 0.0;
    }
    case KindString: return static_cast<signed char>(StringOf(op)[0]);
    default: return 0.0;
  }
}

char* ValueStore::StringOf(const Operand& op) {
  if (op.kind() != KindString) {
    // Only strings have a text; anything else reads as an empty one.
    scratchString_[0] = '\0';
    return scratchString_;
  }
  if (!op.indirect() && op.target != nullptr) return static_cast<char*>(op.target);
  return strings_[resolvedSlot(op, kStringSlots)];
}

int ValueStore::WindowOf(const Operand& op) {
  int slot = op.slot();
  if (op.indirect()) {
    if (slot >= kIntegerSlots) raiseRuntimeError(kErrIndirectSlotOutOfPool);
    slot = integers_[slot];
  }
  if (windows_ == nullptr || slot < 0 || slot >= kWindowSlots || !windows_->hasWindow(slot))
    raiseRuntimeError(kErrWindowNumber);
  return slot;
}

void ValueStore::storeScalar(const Operand& target, double value) {
  switch (target.kind()) {
    case KindInteger: integers_[resolvedSlot(target, kIntegerSlots)] = toInteger(value); return;
    case KindFloat:
    case KindArray: {
      ValueArray& r = ArrayOf(target);
      if (r.capacity < 1) Grow(r, 1);
      r.data[0] = value;
      r.length = 1;
      r.xOffset = 0.0f;
      r.xDistance = 1.0f;
      r.kind = 0;
      return;
    }
    default: return;
  }
}

int ValueStore::FileArrayHandle(int slot) const {
  if (slot < 0 || slot >= kFileArraySlots) return -1;
  return fileArrayFds_[slot];
}

// --- growth -------------------------------------------------------------------

void ValueStore::Grow(ValueArray& array, int64_t n, bool clearRest) {
  if (n <= array.capacity) return;
  if (n > std::numeric_limits<int32_t>::max()) raiseRuntimeError(kErrArrayMemory);
  const int64_t c = n + n / 8;
  if (c > std::numeric_limits<int32_t>::max()) raiseRuntimeError(kErrArrayMemory);
  // Two spare values beyond the capacity, as the buffers always had.
  const size_t slots = static_cast<size_t>(c) + 2;
  int32_t keep = array.length < array.capacity ? array.length : array.capacity;
  if (keep < 0) keep = 0;
  double* home = homeOf(array);
  const bool owned = array.data != nullptr && array.data != home;
  double* fresh;
  if (owned && allocate_ == defaultAllocate) {
    // realloc can extend the buffer in place or move its pages instead of
    // faulting in a new buffer and copying into it. Everything past the kept
    // values is zeroed, as a fresh buffer reads; an append leaves the new
    // room as it is and marks it in dirtyFrom (extendLength clears it).
    const int64_t oldSlots = static_cast<int64_t>(array.capacity) + 2;
    fresh = reallocAligned(array.data, static_cast<size_t>(oldSlots), slots);
    if (fresh == nullptr) raiseRuntimeError(kErrArrayMemory);
    adviseHugePages(fresh, slots * sizeof(double));
    if (clearRest) {
      std::memset(fresh + keep, 0, (slots - static_cast<size_t>(keep)) * sizeof(double));
      array.dirtyFrom = INT32_MAX;
    } else if (oldSlots < array.dirtyFrom) {
      array.dirtyFrom = static_cast<int32_t>(oldSlots);
    }
  } else {
    fresh = newBuffer(slots);
    if (fresh == nullptr) raiseRuntimeError(kErrArrayMemory);
    if (allocate_ == defaultAllocate) adviseHugePages(fresh, slots * sizeof(double));
    if (keep > 0 && array.data != nullptr) std::memcpy(fresh, array.data, static_cast<size_t>(keep) * 8);
    if (owned) freeBuffer(array.data);
    array.dirtyFrom = INT32_MAX;  // a fresh buffer reads zero
  }
  array.data = fresh;
  array.capacity = static_cast<int32_t>(c);
}

void ValueStore::extendLength(ValueArray& array, int32_t n) {
  // The samples in use hold values: a shorter length keeps them marked so.
  if (array.length > array.dirtyFrom) array.dirtyFrom = array.length;
  Grow(array, n);
  const int32_t from = array.length > array.dirtyFrom ? array.length : array.dirtyFrom;
  if (n > from) {
    std::memset(array.data + from, 0, static_cast<size_t>(n - from) * sizeof(double));
    array.dirtyFrom = n;
  }
  array.length = n;
}

// --- f variables --------------------------------------------------------------

std::string ValueStore::fileArrayName(int slot) { return platform::formatC("f%02d.tmp", slot); }

int ValueStore::openFileArray(int slot) {
  if (slot < 0 || slot >= kFileArraySlots) return -1;
  int& fd = fileArrayFds_[slot];
  if (fd >= 0) return fd;
  const std::string name = fileArrayName(slot);
  // Read-write, so that a later write of the run can use the same handle.
  fd = ::open(name.c_str(), O_RDWR | O_CLOEXEC);
  fileArrayWritable_[slot] = fd >= 0;
  if (fd < 0 && (errno == EACCES || errno == EROFS || errno == EPERM))
    fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
  return fd;
}

void ValueStore::readFileArray(int slot, ValueArray& dst, int64_t skip, int64_t count) {
  if (slot < 0 || slot >= kFileArraySlots) raiseRuntimeError(kErrIndirectSlotOutOfPool);
  const int fd = openFileArray(slot);
  if (fd < 0) raiseRuntimeError(kErrFileArrayOpen);
  ::lseek(fd, 0, SEEK_SET);
  struct stat st {};
  if (::fstat(fd, &st) != 0) raiseRuntimeError(kErrFileArrayOpen);
  unsigned char header[kFileHeaderSize];
  if (st.st_size < kFileHeaderSize ||
      readAll(fd, header, kFileHeaderSize, 0) != kFileHeaderSize) {
    dst.length = 0;  // no complete header: no samples
    return;
  }
  if (skip < 0) skip = 0;
  int64_t available = (static_cast<int64_t>(st.st_size) - kFileHeaderSize) / 8 - skip;
  if (available < 0) available = 0;
  const int64_t wanted = count >= 0 && count < available ? count : available;
  Grow(dst, wanted);
  int64_t got = 0;
  if (wanted > 0) {
    const off_t at = static_cast<off_t>(kFileHeaderSize + skip * 8);
    ssize_t n = readAll(fd, dst.data, static_cast<size_t>(wanted) * 8, at);
    if (n < 0) raiseRuntimeError(kErrFileArrayOpen);
    got = n / 8;
    if constexpr (std::endian::native == std::endian::big) {
      for (int64_t i = 0; i < got; ++i)
        dst.data[i] = std::bit_cast<double>(swapIfBig(std::bit_cast<uint64_t>(dst.data[i])));
    }
  }
  dst.kind = getU16(header) & 3u;
  dst.xDistance = getF32(header + 2);
  dst.xOffset = getF32(header + 6);
  dst.length = static_cast<int32_t>(got);
}

void ValueStore::writeFileArray(int slot, const ValueArray& src, bool append) {
  if (slot < 0 || slot >= kFileArraySlots) raiseRuntimeError(kErrIndirectSlotOutOfPool);
  int& fd = fileArrayFds_[slot];
  if (fd >= 0 && !fileArrayWritable_[slot]) {
    ::close(fd);
    fd = -1;
  }
  if (fd < 0) {
    const std::string name = fileArrayName(slot);
    const int flags = O_RDWR | O_CREAT | O_CLOEXEC | (append ? 0 : O_TRUNC);
    fd = ::open(name.c_str(), flags, 0666);
    if (fd < 0) raiseRuntimeError(kErrFileArrayCreate);
    fileArrayWritable_[slot] = true;
  }
  const int64_t count = src.length > 0 && src.data != nullptr ? src.length : 0;
  struct stat st {};
  if (::fstat(fd, &st) != 0) raiseRuntimeError(kErrFileArrayWrite);
  if (append && st.st_size >= kFileHeaderSize) {
    if (!writeSamples(fd, src.data, count, st.st_size)) raiseRuntimeError(kErrFileArrayWrite);
    return;
  }
  unsigned char header[kFileHeaderSize];
  putU16(header, static_cast<uint16_t>(src.kind & 3u));
  putF32(header + 2, src.xDistance);
  putF32(header + 6, src.xOffset);
  if (!writeAll(fd, header, kFileHeaderSize, 0) || !writeSamples(fd, src.data, count, kFileHeaderSize) ||
      ::ftruncate(fd, kFileHeaderSize + count * 8) != 0)
    raiseRuntimeError(kErrFileArrayWrite);
}

void ValueStore::closeFileArray(int slot) {
  if (slot < 0 || slot >= kFileArraySlots) return;
  if (fileArrayFds_[slot] >= 0) ::close(fileArrayFds_[slot]);
  fileArrayFds_[slot] = -1;
  fileArrayWritable_[slot] = false;
}

bool ValueStore::removeFileArray(int slot) {
  if (slot < 0 || slot >= kFileArraySlots) return false;
  closeFileArray(slot);
  return ::unlink(fileArrayName(slot).c_str()) == 0;
}

void ValueStore::closeAllFileArrays() {
  for (int k = 0; k < kFileArraySlots; ++k) closeFileArray(k);
}

void ValueStore::closeFileChannels(int first) {
  for (int k = first < 0 ? 0 : first; k < kFileNumberSlots; ++k) {
    // Descriptors 0..2 are the process's own standard streams.
    if (fileChannels_[k].fd > 2) ::close(fileChannels_[k].fd);
    fileChannels_[k] = FileChannel{};
  }
}

// --- run lifecycle ------------------------------------------------------------

void ValueStore::resetForStart() {
  for (int k = 0; k < kFloatSlots; ++k) {
    ValueArray& twin = records_[kArraySlots + k];
    releaseBuffer(twin);
    floats_[k] = 0.0;
    twin.xDistance = 1.0f;
  }
  for (int k = 0; k < kFirstNamedSlot; ++k) integers_[k] = 0;
  for (auto& s : strings_) s[0] = '\0';
  for (int k = 0; k < kArraySlots; ++k) {
    releaseBuffer(records_[k]);
    averaging_[k] = 0.0;
  }
  for (ValueArray& s : scratch_) releaseBuffer(s);
  closeAllFileArrays();
  closeFileChannels(0);
}

bool ValueStore::allocateArrays(std::string& message) {
  for (int k = 0; k < kArraySlots; ++k) {
    ValueArray& a = records_[k];
    releaseBuffer(a);
    double* buffer = newBuffer(kInitialArrayCapacity + 2);
    if (buffer == nullptr) {
      for (int j = 0; j < k; ++j) releaseBuffer(records_[j]);
      message = platform::formatC("Ab Array %d kein Platz im Speicher", k);
      return false;
    }
    a.data = buffer;
    a.capacity = kInitialArrayCapacity;
    a.length = 0;
  }
  return true;
}

void ValueStore::releaseAtEnd() {
  for (int k = 0; k < kArraySlots + kFloatSlots; ++k) releaseBuffer(records_[k]);
  for (ValueArray& s : scratch_) releaseBuffer(s);
  closeAllFileArrays();
}

// --- watch text ---------------------------------------------------------------

std::string ValueStore::watchText(int kind, int slot) const {
  auto* self = const_cast<ValueStore*>(this);
  switch (kind) {
    case 0:
      if (slot < 0 || slot >= kFloatSlots) break;
      return platform::formatC("%g", self->floatSlot(slot));
    case 1:
      if (slot < 0 || slot >= kIntegerSlots) break;
      return platform::formatC("%d", integers_[slot]);
    case 2:
      if (slot < 0 || slot >= kStringSlots) break;
      return std::string(strings_[slot], strnlen(strings_[slot], kMaxStringLength));
    case 3: {
      if (slot < 0 || slot >= kArraySlots) break;
      const ValueArray& a = records_[slot];
      double lo = 1e37;
      double hi = -1e37;
      const int32_t n = a.data != nullptr && a.length <= a.capacity ? a.length : 0;
      for (int32_t i = 0; i < n; ++i) {
        if (a.data[i] < lo) lo = a.data[i];
        if (a.data[i] > hi) hi = a.data[i];
      }
      return platform::formatC("%d Werte  Clk:%g min:%g max:%g Offset:%g", a.length,
                               static_cast<double>(a.xDistance), lo, hi,
                               static_cast<double>(a.xOffset));
    }
    default: break;
  }
  return "*";
}

}  // namespace morvel::lang
