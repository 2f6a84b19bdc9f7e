// The compiler of the script language.
#include "lang/compiler.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <new>
#include <string_view>

#include "lang/builtin_table.h"
#include "lang/escape_text.h"
#include "lang/statements.h"
#include "lang/value_store.h"
#include "platform/cnumber.h"

namespace morvel::lang {

CompiledProgram::CompiledProgram() = default;

std::string CompiledProgram::summary() const {
  char buf[80];
  std::snprintf(buf, sizeof buf, "%d Zeilen  %d freie Par.bl\xF6" "cke", totalStatements_, freeOperands());
  return buf;
}

namespace {

// Instruction pool: every statement, one zero record before each process and
// one after the last, and one spare record so that the statement that
// exceeds the limit can be compiled before error 36 is raised.
constexpr int kInstructionPoolSize = kMaxStatements + kMaxProcesses + 2;
constexpr int kMaxArguments = 19999;

// Thrown to the compile loop by every compile error.
struct Failure {
  int number;
  int column;
  const char* message;  // only when number is 0
};

struct Label {
  std::string_view text;  // with its leading colon
  int index;              // instruction index of the next statement
};

struct OpenIf {
  Operand* operand;  // a compare's control operand or an else's jump operand
  bool compare;
  int line;
};

struct OpenFor {
  int index;      // instruction index of the forInit
  Operand* ops;   // its four operands
  int line;
};

enum class Where { Target, FirstSource, Source, Argument };

bool isBlank(char c) { return c == ' ' || c == '\t'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isAlnum(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; }
bool isNumber(uint32_t kind) { return kind == KindFloat || kind == KindInteger; }

// --- check routines of the statements --------------------------------------

int kindOf(const Operand* ops, int count, int i) { return static_cast<int>(operandKind(ops, count, i)); }

// x op y with + - * /: operands target, x, operator, y.
int checkArithmeticNumbers(CheckContext&, const Operand* ops, int count) {
  return isNumber(kindOf(ops, count, 1)) && isNumber(kindOf(ops, count, 3)) ? 0 : -1;
}
int checkArithmeticArrayScalar(CheckContext&, const Operand* ops, int count) {
  auto ok = [](uint32_t k) { return k == KindArray || isNumber(k); };
  return ok(kindOf(ops, count, 1)) && ok(kindOf(ops, count, 3)) ? 0 : -1;
}
// x and/or/xor y: operands target, x, y.
int checkBitNumbers(CheckContext&, const Operand* ops, int count) {
  return isNumber(kindOf(ops, count, 1)) && isNumber(kindOf(ops, count, 2)) ? 0 : -1;
}
// Assignment sources by target kind: only the kinds the value store can read
// as the target's kind.
int checkFloatSource(CheckContext&, const Operand* ops, int count) {
  uint32_t k = kindOf(ops, count, 1);
  return isNumber(k) || k == KindArray ? 0 : -1;
}
int checkIntegerSource(CheckContext&, const Operand* ops, int count) {
  uint32_t k = kindOf(ops, count, 1);
  return isNumber(k) || k == KindArray || k == KindString ? 0 : -1;
}
int checkArraySource(CheckContext&, const Operand* ops, int count) {
  uint32_t k = kindOf(ops, count, 1);
  return isNumber(k) || k == KindArray || k == KindFileArray ? 0 : -1;
}
int checkStringSource(CheckContext&, const Operand* ops, int count) {
  uint32_t k = kindOf(ops, count, 1);
  return isNumber(k) || k == KindString ? 0 : -1;
}
int checkFileArraySource(CheckContext&, const Operand* ops, int count) {
  uint32_t k = kindOf(ops, count, 1);
  return k == KindArray || k == KindFloat ? 0 : -1;
}
int checkWindowSource(CheckContext&, const Operand* ops, int count) {
  uint32_t k = kindOf(ops, count, 1);
  return isNumber(k) || k == KindArray || k == KindString ? 0 : -1;
}
// if x == y / x != y: numbers with numbers, strings with strings.
int checkCompareEqual(CheckContext&, const Operand* ops, int count) {
  uint32_t x = kindOf(ops, count, 0), y = kindOf(ops, count, 1);
  if (isNumber(x) && isNumber(y)) return 0;
  return x == KindString && y == KindString ? 0 : -1;
}
int checkCompareNumbers(CheckContext&, const Operand* ops, int count) {
  return isNumber(kindOf(ops, count, 0)) && isNumber(kindOf(ops, count, 1)) ? 0 : -1;
}
// onkey F<n>,<text>,<process>
int checkOnKey(CheckContext&, const Operand* ops, int count) {
  return kindOf(ops, count, 0) == KindFloat && kindOf(ops, count, 1) == KindString &&
                 kindOf(ops, count, 2) == KindFloat
             ? 0
             : -1;
}

}  // namespace

// --- the compilation of one application ------------------------------------

class CompilerJob {
 public:
  CompilerJob(ValueStore& values, const CompileOptions& options, CompiledProgram& program)
      : values_(values), options_(options), prog_(program) {}

  void compileProcess(int process, std::string_view text);
  void finish();

  int process_ = 0;
  int lineNo_ = 0;

 private:
  // line buffer
  void loadLine(std::string_view physical);
  char cur() const { return line_[pos_]; }
  char at(int i) const { return i < len_ ? line_[i] : '\0'; }
  void skipBlanks() {
    while (isBlank(line_[pos_])) ++pos_;
  }
  bool startsNoCase(const char* word) const;
  [[noreturn]] void fail(int number) { throw Failure{number, pos_, nullptr}; }

  // labels
  void scanLabels(std::string_view text);
  int findLabel(std::string_view text);

  // statements
  void compileStatement();
  bool compileFor();
  void compileNext();
  void compileGoto();
  void compileIf();
  void compileElse();
  void compileEndif();
  void compileOnKey();
  void compileOnMouse();
  void compileCall();
  void compileOrdinary();
  void compileAssignment(Operand* target);

  // operands
  Operand& newOperand();
  Operand& readOperand(Where where);
  Operand& readVariable(char letter, Where where);
  Operand& readString();
  Operand& numericLiteral(double value);
  int bindName(uint32_t kind, std::string_view name);
  int readDecimal();
  void readSubIndex(Operand& op);
  void watch(uint32_t kind, int slot);
  void skipSeparator() {
    if (cur() != '\0') ++pos_;
  }
  std::string_view restOfLine() const { return std::string_view(line_ + pos_, len_ - pos_); }

  ValueStore& values_;
  const CompileOptions& options_;
  CompiledProgram& prog_;

  char line_[kLineBufferSize + 1] = {};
  int len_ = 0;
  int pos_ = 0;

  int insIndex_ = 0;      // next free instruction record
  int processStart_ = 0;  // pool index of the current process's first instruction
  int statement_ = 0;     // instruction index within the process
  int opUsed_ = 0;
  Instruction* ins_ = nullptr;
  CheckRoutine check_ = nullptr;
  RunRoutine routine_ = nullptr;

  // next free named slot per kind (v, i, s, a, w)
  int nextFloat_ = kFloatSlots - 1;
  int nextInteger_ = kIntegerSlots - 1;
  int nextString_ = kStringSlots - 1;
  int nextArray_ = kArraySlots - 1;
  int nextWindow_ = kWindowSlots - 1;

  std::vector<bool> watched_[4] = {std::vector<bool>(kFloatSlots), std::vector<bool>(kIntegerSlots),
                                   std::vector<bool>(kStringSlots), std::vector<bool>(kArraySlots)};

  std::vector<Label> labels_;  // sorted by text after the scan
  OpenIf ifStack_[kMaxNesting] = {};
  int ifDepth_ = 0;
  OpenFor forStack_[kMaxNesting] = {};
  int forDepth_ = 0;
};

// Copies one physical line (without its LF; a CR ends it too) into the line
// buffer, cutting it after kLineBufferSize - 1 characters, then cuts it at the
// first ';' outside a string literal and strips trailing blanks.
void CompilerJob::loadLine(std::string_view physical) {
  size_t n = 0;
  while (n < physical.size() && physical[n] != '\r' && n < static_cast<size_t>(kLineBufferSize - 1)) ++n;
  std::memcpy(line_, physical.data(), n);
  len_ = static_cast<int>(n);
  line_[len_] = '\0';
  bool inString = false;
  for (int i = 0; i < len_; ++i) {
    if (line_[i] == '"') inString = !inString;
    else if (line_[i] == ';' && !inString) {
      len_ = i;
      break;
    }
  }
  while (len_ > 0 && isBlank(line_[len_ - 1])) --len_;
  line_[len_] = '\0';
  pos_ = 0;
  skipBlanks();
}

bool CompilerJob::startsNoCase(const char* word) const {
  for (int i = 0; word[i]; ++i)
    if (std::tolower(static_cast<unsigned char>(line_[pos_ + i])) != word[i]) return false;
  return true;
}

// Label table of one process: lines up to the first one that begins with
// "END"; each label names the next statement.
void CompilerJob::scanLabels(std::string_view text) {
  labels_.clear();
  int statements = 0;
  size_t p = 0;
  int lineNo = 0;
  while (p < text.size()) {
    size_t e = text.find('\n', p);
    if (e == std::string_view::npos) e = text.size();
    std::string_view line = text.substr(p, e - p);
    if (line.substr(0, 3) == "END") break;
    size_t i = 0;
    while (i < line.size() && isBlank(line[i])) ++i;
    char c = i < line.size() ? line[i] : '\0';
    if (c == ':') {
      size_t j = i;
      while (j < line.size() && line[j] != '\t' && line[j] != ' ' && line[j] != ';' && line[j] != '\r') ++j;
      if (static_cast<int>(labels_.size()) == kMaxLabels) {
        lineNo_ = lineNo;
        throw Failure{0, static_cast<int>(i), "Mehr als 2000 Labels ..."};
      }
      labels_.push_back({line.substr(i, j - i), statements});
    } else if (c != '\0' && c != '\r' && c != '*' && c != ';') {
      ++statements;
    }
    p = e + 1;
    ++lineNo;
  }
  std::stable_sort(labels_.begin(), labels_.end(),
                   [](const Label& a, const Label& b) { return a.text < b.text; });
}

int CompilerJob::findLabel(std::string_view text) {
  auto range = std::equal_range(labels_.begin(), labels_.end(), Label{text, 0},
                                [](const Label& a, const Label& b) { return a.text < b.text; });
  if (range.first == range.second) fail(4);
  if (range.second - range.first > 1) fail(29);
  return range.first->index;
}

void CompilerJob::compileProcess(int process, std::string_view text) {
  process_ = process;
  lineNo_ = 0;
  scanLabels(text);
  ifDepth_ = 0;
  forDepth_ = 0;

  ++insIndex_;  // zero record ending the previous process
  processStart_ = insIndex_;
  statement_ = 0;

  size_t p = 0;
  lineNo_ = 0;
  while (p < text.size()) {
    size_t e = text.find('\n', p);
    if (e == std::string_view::npos) e = text.size();
    loadLine(text.substr(p, e - p));
    char c = cur();
    if (c != '\0' && c != '*' && c != ':' && c != ';') compileStatement();
    p = e + 1;
    ++lineNo_;
  }

  if (forDepth_ > 0) {
    lineNo_ = forStack_[forDepth_ - 1].line;
    throw Failure{7, 0, nullptr};
  }
  if (ifDepth_ > 0) {
    lineNo_ = ifStack_[ifDepth_ - 1].line;
    throw Failure{26, 0, nullptr};
  }
  ProcessCode code;
  code.start = processStart_;
  code.statements = statement_;
  auto range = std::equal_range(labels_.begin(), labels_.end(), Label{":gpibonerror", 0},
                                [](const Label& a, const Label& b) { return a.text < b.text; });
  if (range.first != range.second) code.gpibOnError = range.first->index;
  prog_.processes_.push_back(code);
}

void CompilerJob::finish() {
  ++insIndex_;  // zero record after the last process (already zero)
  prog_.usedOperands_ = opUsed_;
  prog_.autoWatch_.shrink_to_fit();
}

void CompilerJob::compileStatement() {
  ins_ = &prog_.instructions_[insIndex_];
  ins_->line = lineNo_;
  ins_->operands = &prog_.operands_[opUsed_];
  const int firstOperand = opUsed_;
  check_ = nullptr;
  routine_ = nullptr;

  if (startsNoCase("for")) {
    if (!compileFor()) compileOrdinary();
  } else if (startsNoCase("next")) {
    compileNext();
  } else if (startsNoCase("goto")) {
    compileGoto();
  } else if (startsNoCase("if")) {
    compileIf();
  } else if (startsNoCase("else")) {
    compileElse();
  } else if (startsNoCase("endif")) {
    compileEndif();
  } else if (startsNoCase("onkey")) {
    compileOnKey();
  } else if (startsNoCase("onmouse")) {
    compileOnMouse();
  } else if (startsNoCase("call")) {
    compileCall();
  } else if (startsNoCase("return")) {
    routine_ = returnFromCall;
  } else if (startsNoCase("restart")) {
    routine_ = restartRun;
  } else {
    compileOrdinary();
  }

  ins_->routine = routine_;
  ins_->count = opUsed_ - firstOperand;
  if (check_) {
    CheckContext ctx{values_, prog_.settings_};
    if (check_(ctx, ins_->operands, ins_->count) < 0) fail(3);
  }
  ++insIndex_;
  ++statement_;
  if (++prog_.totalStatements_ > kMaxStatements) fail(36);
}

// for x = start to end [step inc]. Returns false when the statement is to be
// read again as an ordinary statement (no `to`, or no float slot for the
// implicit step).
bool CompilerJob::compileFor() {
  const int startPos = pos_;
  const int startOperands = opUsed_;
  pos_ += 3;
  Operand& x = readOperand(Where::Source);
  if (x.kind() != KindFloat && x.kind() != KindInteger) fail(3);
  skipBlanks();
  if (cur() != '=') fail(8);
  ++pos_;
  readOperand(Where::Source);
  skipBlanks();
  bool to = cur() == 't' && at(pos_ + 1) == 'o';
  if (to) {
    pos_ += 2;
    readOperand(Where::Source);
    skipBlanks();
    if (startsNoCase("step")) {
      pos_ += 4;
      readOperand(Where::Source);
    } else if (nextFloat_ >= kFirstNamedSlot) {
      numericLiteral(1.0);
    } else {
      to = false;
    }
  }
  if (!to) {
    for (int i = startOperands; i < opUsed_; ++i) prog_.operands_[i] = Operand{};
    opUsed_ = startOperands;
    pos_ = startPos;
    return false;
  }
  if (forDepth_ == kMaxNesting) fail(24);
  forStack_[forDepth_++] = OpenFor{statement_, &prog_.operands_[startOperands], lineNo_};
  routine_ = forInit;
  return true;
}

void CompilerJob::compileNext() {
  pos_ += 4;
  if (forDepth_ == 0) fail(20);
  const OpenFor& f = forStack_[--forDepth_];
  for (int i = 0; i < 4; ++i) newOperand() = f.ops[i];
  newOperand().word = static_cast<uint32_t>(f.index + 1);
  routine_ = forStep;
}

void CompilerJob::compileGoto() {
  pos_ += 4;
  skipBlanks();
  if (cur() != ':') fail(34);
  int index = findLabel(restOfLine());
  newOperand().word = static_cast<uint32_t>(index);
  pos_ = len_;
  routine_ = jump;
}

void CompilerJob::compileIf() {
  pos_ += 2;
  readOperand(Where::Source);
  skipBlanks();
  struct Op {
    const char* text;
    RunRoutine routine;
    bool equality;
  };
  static constexpr Op kOps[] = {
      {"==", compareEqual, true},         {"!=", compareNotEqual, true}, {">=", compareGreaterEqual, false},
      {"<=", compareLessEqual, false},    {"and", compareAnd, false},    {"nand", compareNand, false},
      {"<", compareLess, false},          {">", compareGreater, false},
  };
  const Op* op = nullptr;
  for (const Op& o : kOps)
    if (startsNoCase(o.text)) {
      op = &o;
      break;
    }
  if (!op) fail(12);
  pos_ += static_cast<int>(std::strlen(op->text));
  readOperand(Where::Source);
  skipBlanks();
  Operand& control = newOperand();
  if (startsNoCase("goto") || startsNoCase("call")) {
    bool call = startsNoCase("call");
    pos_ += 4;
    skipBlanks();
    int index = findLabel(restOfLine());
    control.word = static_cast<uint32_t>(index) | (call ? kControlCallBit : 0u);
    pos_ = len_;
  } else if (cur() == '\0') {
    if (ifDepth_ == kMaxNesting) fail(23);
    ifStack_[ifDepth_++] = OpenIf{&control, true, lineNo_};
  } else {
    fail(13);
  }
  routine_ = op->routine;
  check_ = op->equality ? checkCompareEqual : checkCompareNumbers;
}

void CompilerJob::compileElse() {
  pos_ += 4;
  if (ifDepth_ == 0) fail(21);
  OpenIf& top = ifStack_[ifDepth_ - 1];
  const uint32_t next = static_cast<uint32_t>(statement_ + 1);
  top.operand->word = top.compare ? (next | kControlBlockBit) : next;
  Operand& own = newOperand();
  top = OpenIf{&own, false, lineNo_};
  routine_ = jump;
}

void CompilerJob::compileEndif() {
  pos_ += 5;
  if (ifDepth_ == 0) fail(22);
  OpenIf& top = ifStack_[--ifDepth_];
  const uint32_t next = static_cast<uint32_t>(statement_ + 1);
  top.operand->word = top.compare ? (next | kControlBlockBit) : next;
  routine_ = endIf;
}

void CompilerJob::compileOnKey() {
  pos_ += 5;
  skipBlanks();
  if ((cur() != 'F' && cur() != 'f') || !isDigit(at(pos_ + 1))) fail(14);
  ++pos_;
  readOperand(Where::Source);
  skipSeparator();
  readOperand(Where::Source);
  skipSeparator();
  readOperand(Where::Source);
  routine_ = armFunctionKey;
  check_ = checkOnKey;
}

void CompilerJob::compileOnMouse() {
  pos_ += 7;
  readOperand(Where::Source);
  skipSeparator();
  readOperand(Where::Source);
  routine_ = armMouse;
}

void CompilerJob::compileCall() {
  pos_ += 4;
  skipBlanks();
  int index = findLabel(restOfLine());
  newOperand().word = static_cast<uint32_t>(index);
  pos_ = len_;
  routine_ = callLabel;
}

// Target, function call or assignment.
void CompilerJob::compileOrdinary() {
  Operand* target = nullptr;
  const char c = cur();
  const char n = at(pos_ + 1);
  if (std::strchr("wafivs", c) && c != '\0' && (isDigit(n) || n == '_' || n == '[')) {
    target = &readOperand(Where::Target);
    skipBlanks();
    if (cur() == '=') {
      ++pos_;
    } else if ((cur() == '&' || cur() == '%') && at(pos_ + 1) == '=') {
      pos_ += 2;
      target->word |= Operand::kAppendBit;
    } else {
      fail(10);
    }
    skipBlanks();
  }

  const char* paren = cur() == '"' ? nullptr : std::strchr(line_ + pos_, '(');
  if (paren) {
    std::string_view name(line_ + pos_, static_cast<size_t>(paren - (line_ + pos_)));
    const BuiltinEntry* entry = findBuiltin(name);
    if (!entry) fail(9);
    if (target && target->append()) fail(30);
    if (target && (entry->flags & kBuiltinNoTarget)) fail(3);
    pos_ = static_cast<int>(paren - line_) + 1;
    int arguments = 0;
    while (true) {
      skipBlanks();
      if (cur() == ')') {
        ++pos_;
        break;
      }
      if (cur() == '\0') fail(2);
      if (arguments == kMaxArguments) fail(2);
      readOperand(Where::Argument);
      ++arguments;
      skipBlanks();
      if (cur() == ',') ++pos_;
    }
    skipBlanks();
    if (cur() != '\0') fail(31);
    routine_ = entry->run;
    check_ = entry->check;
    return;
  }
  if (!target) fail(9);
  compileAssignment(target);
}

void CompilerJob::compileAssignment(Operand* target) {
  enum class Form { Plain, Comma, Arithmetic, Bit } form = Form::Plain;
  RunRoutine bitRoutine = nullptr;
  Operand& x = readOperand(Where::FirstSource);
  Operand* y = nullptr;
  skipBlanks();
  const char c = cur();
  if (c == ',') {
    ++pos_;
    y = &readOperand(Where::Source);
    form = Form::Comma;
  } else if (c == '+' || c == '-' || c == '*' || c == '/') {
    ++pos_;
    newOperand().word = Operand::makeWord(KindNone, c);
    y = &readOperand(Where::Source);
    form = Form::Arithmetic;
  } else if (startsNoCase("and") || startsNoCase("xor") || startsNoCase("or")) {
    if (startsNoCase("and")) {
      bitRoutine = integerBitAnd;
      pos_ += 3;
    } else if (startsNoCase("xor")) {
      bitRoutine = integerBitXor;
      pos_ += 3;
    } else {
      bitRoutine = integerBitOr;
      pos_ += 2;
    }
    y = &readOperand(Where::Source);
    form = Form::Bit;
  }
  skipBlanks();
  if (cur() != '\0') fail(31);

  switch (target->kind()) {
    case KindFloat:
      if (form == Form::Bit) fail(3);
      if (form == Form::Arithmetic) {
        routine_ = floatArithmetic;
        check_ = checkArithmeticNumbers;
      } else {
        routine_ = assignFloat;
        check_ = checkFloatSource;
      }
      break;
    case KindInteger:
      if (form == Form::Bit) {
        routine_ = bitRoutine;
        check_ = checkBitNumbers;
      } else if (form == Form::Arithmetic) {
        routine_ = integerArithmetic;
        check_ = checkArithmeticNumbers;
      } else {
        routine_ = assignInteger;
        check_ = checkIntegerSource;
      }
      break;
    case KindArray:
      if (form == Form::Bit) fail(3);
      if (form == Form::Arithmetic) {
        if (x.kind() == KindArray && y->kind() == KindArray) {
          routine_ = arrayArrayArithmetic;
        } else {
          routine_ = arrayScalarArithmetic;
          check_ = checkArithmeticArrayScalar;
        }
      } else {
        routine_ = assignArray;
        check_ = checkArraySource;
      }
      break;
    case KindString:
      if (form == Form::Bit) fail(3);
      routine_ = assignString;
      check_ = checkStringSource;
      break;
    case KindFileArray:
      if (form == Form::Bit) fail(3);
      routine_ = assignFileArray;
      check_ = checkFileArraySource;
      break;
    case KindWindow:
      if (form == Form::Bit) fail(3);
      routine_ = assignWindow;
      check_ = checkWindowSource;
      break;
    default:
      fail(3);
  }
}

// --- operands ----------------------------------------------------------------

Operand& CompilerJob::newOperand() {
  if (opUsed_ >= kOperandPoolSize) fail(33);
  return prog_.operands_[opUsed_++];
}

Operand& CompilerJob::readOperand(Where where) {
  skipBlanks();
  const char c = cur();
  switch (c) {
    case 'a': case 'w': case 'v': case 'f': case 'i': case 's': case '#':
      return readVariable(c, where);
    case '"':
      return readString();
    case '\'': {
      ++pos_;
      if (cur() == '\0') fail(3);
      const double value = static_cast<signed char>(cur());
      ++pos_;
      return numericLiteral(value);
    }
    case '*':
      ++pos_;
      return numericLiteral(-1.0);
    default:
      break;
  }
  if (isDigit(c) || c == '+' || c == '-') {
    const char* end = nullptr;
    const double value = platform::strtodC(line_ + pos_, &end);
    if (end == line_ + pos_) {
      // A sign without a number: the literal 0, the sign stays for the
      // operator. In an argument list that would never end: error 3.
      if (where == Where::Argument) fail(3);
      return numericLiteral(0.0);
    }
    pos_ = static_cast<int>(end - line_);
    return numericLiteral(value);
  }
  fail(3);  // also `p<digit>`, which has no value
}

int CompilerJob::readDecimal() {
  long value = 0;
  while (isDigit(cur())) {
    if (value < 1000000) value = value * 10 + (cur() - '0');
    ++pos_;
  }
  return static_cast<int>(value);
}

void CompilerJob::readSubIndex(Operand& op) {
  if (cur() == '.' && isDigit(at(pos_ + 1))) {
    ++pos_;
    op.subIndex = static_cast<uint32_t>(std::min(readDecimal(), 0xFFFF));
  }
}

Operand& CompilerJob::readVariable(char letter, Where where) {
  uint32_t kind = KindNone;
  int pool = 0;
  switch (letter) {
    case 'w': kind = KindWindow; pool = kWindowSlots; break;
    case 'a': kind = KindArray; pool = kArraySlots; break;
    case 'f': kind = KindFileArray; pool = kFileArraySlots; break;
    case 'v': kind = KindFloat; pool = kFloatSlots; break;
    case 'i': kind = KindInteger; pool = kIntegerSlots; break;
    case 's': kind = KindString; pool = kStringSlots; break;
    default: kind = KindFileNumber; pool = kFileNumberSlots; break;
  }
  ++pos_;
  skipBlanks();
  int slot = 0;
  bool indirect = false;
  bool numbered = false;
  if (isDigit(cur())) {
    slot = readDecimal();
    if (slot >= pool) fail(25);
    numbered = true;
  } else if (cur() == '_') {
    if (kind == KindFileArray || kind == KindFileNumber) fail(25);
    ++pos_;
    const int start = pos_;
    while (isAlnum(cur())) ++pos_;
    if (pos_ == start) fail(25);
    if (pos_ - start > kMaxNameLength) fail(37);
    slot = bindName(kind, std::string_view(line_ + start, pos_ - start));
  } else if (cur() == '[') {
    ++pos_;
    skipBlanks();
    if (cur() != 'i') fail(16);
    ++pos_;
    skipBlanks();
    if (isDigit(cur())) {
      slot = readDecimal();
      if (slot >= kIntegerSlots) fail(25);
    } else if (cur() == '_') {
      ++pos_;
      const int start = pos_;
      while (isAlnum(cur())) ++pos_;
      if (pos_ == start) fail(25);
      if (pos_ - start > kMaxNameLength) fail(37);
      slot = bindName(KindInteger, std::string_view(line_ + start, pos_ - start));
    } else {
      fail(16);
    }
    skipBlanks();
    if (cur() != ']') fail(17);
    ++pos_;
    indirect = true;
  } else {
    fail(25);
  }

  Operand& op = newOperand();
  op.word = Operand::makeWord(kind, slot, indirect);
  if (where == Where::Target || numbered) readSubIndex(op);
  if (where == Where::Target && kind != KindWindow) op.subIndex = 0;
  if (!indirect) {
    switch (kind) {
      case KindFloat: op.target = &values_.floatTwin(slot); break;
      case KindArray: op.target = &values_.arrayRecord(slot); break;
      case KindString: op.target = values_.stringSlot(slot); break;
      default: break;
    }
    watch(kind, slot);
  }
  return op;
}

int CompilerJob::bindName(uint32_t kind, std::string_view name) {
  int symbolKind = 0;
  int* next = nullptr;
  switch (kind) {
    case KindFloat: symbolKind = 0; next = &nextFloat_; break;
    case KindInteger: symbolKind = 1; next = &nextInteger_; break;
    case KindString: symbolKind = 2; next = &nextString_; break;
    case KindArray: symbolKind = 3; next = &nextArray_; break;
    default: symbolKind = 4; next = &nextWindow_; break;
  }
  SymbolTable& table = prog_.symbols_[symbolKind];
  const int found = table.find(name);
  if (found >= 0) return found;
  if (*next < kFirstNamedSlot) fail(19);
  if (!table.add(name, *next)) fail(19);
  return (*next)--;
}

Operand& CompilerJob::numericLiteral(double value) {
  if (nextFloat_ < kFirstNamedSlot) fail(19);
  const int slot = nextFloat_--;
  values_.floatSlot(slot) = value;
  Operand& op = newOperand();
  op.word = Operand::makeWord(KindFloat, slot);
  op.target = &values_.floatTwin(slot);
  return op;
}

Operand& CompilerJob::readString() {
  const int start = pos_ + 1;
  int end = start;
  while (true) {
    if (end >= len_) fail(15);
    if (line_[end] == '"') {
      const bool escaped = end - 1 >= start && line_[end - 1] == '\\' &&
                           !(end - 2 >= start && line_[end - 2] == '\\');
      if (!escaped) break;
    }
    ++end;
  }
  const int length = end - start;
  if (prog_.literalUsed_ + length + 1 > kLiteralPoolSize) {
    pos_ = start;
    fail(27);
  }
  char* text = prog_.literals_.get() + prog_.literalUsed_;
  std::memcpy(text, line_ + start, static_cast<size_t>(length));
  const size_t n = EscapeText(text, static_cast<size_t>(length), static_cast<size_t>(length) + 1, options_.textMacros);
  text[n] = '\0';
  prog_.literalUsed_ += static_cast<int>(n) + 1;
  pos_ = end + 1;
  Operand& op = newOperand();
  op.word = Operand::makeWord(KindString, 0);
  op.target = text;
  return op;
}

void CompilerJob::watch(uint32_t kind, int slot) {
  int k = -1;
  switch (kind) {
    case KindFloat: k = 0; break;
    case KindInteger: k = 1; break;
    case KindString: k = 2; break;
    case KindArray: k = 3; break;
    default: return;
  }
  if (watched_[k][slot]) return;
  watched_[k][slot] = true;
  prog_.autoWatch_.push_back(WatchEntry{kind, slot});
}

Compiler::Compiler(ValueStore& values, CompileOptions options) : values_(values), options_(options) {}

CompileResult Compiler::compile(const std::vector<std::string>& processes) {
  CompileResult result;
  if (processes.size() > static_cast<size_t>(kMaxProcesses)) {
    result.error.message = "Mehr als 50 Prozesse";
    return result;
  }
  std::unique_ptr<CompiledProgram> program;
  try {
    program.reset(new CompiledProgram());
    program->instructions_ = std::make_unique<Instruction[]>(kInstructionPoolSize);
  } catch (const std::bad_alloc&) {
    result.error.message = "Kein Platz f\xFCr Compileradr";
    return result;
  }
  try {
    program->symbols_ = std::make_unique<SymbolTable[]>(kSymbolKinds);
  } catch (const std::bad_alloc&) {
    result.error.message = "Kein Platz f\xFCr Symboltabelle";
    return result;
  }
  try {
    program->operands_ = std::make_unique<Operand[]>(kOperandPoolSize);
    program->literals_ = std::make_unique<char[]>(kLiteralPoolSize);
    program->processes_.reserve(processes.size());
  } catch (const std::bad_alloc&) {
    result.error.message = "Kein Platz f\xFCr Compileradr";
    return result;
  }

  CompilerJob job(values_, options_, *program);
  try {
    for (size_t p = 0; p < processes.size(); ++p) job.compileProcess(static_cast<int>(p), processes[p]);
    job.finish();
  } catch (const Failure& failure) {
    result.error.process = job.process_;
    result.error.line = job.lineNo_;
    result.error.column = failure.column;
    result.error.number = failure.number;
    if (failure.message) result.error.message = failure.message;
    return result;
  } catch (const std::bad_alloc&) {
    result.error.process = job.process_;
    result.error.message = "Kein Platz f\xFCr Labletabelle";
    return result;
  }
  result.program = std::move(program);
  return result;
}

}  // namespace morvel::lang
