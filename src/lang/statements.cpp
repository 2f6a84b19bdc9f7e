// Statement run routines. The interpreter builds them; until then every one
// but endIf stops the run with the "not available yet" run-time error.
#include "lang/statements.h"

namespace morvel::lang {

#define MORVEL_PENDING_STATEMENT(name)                       \
  void name(RunContext&, Operand*, int) { raiseRuntimeError(kErrBuiltinNotAvailable); }

MORVEL_PENDING_STATEMENT(floatArithmetic)
MORVEL_PENDING_STATEMENT(integerArithmetic)
MORVEL_PENDING_STATEMENT(integerBitAnd)
MORVEL_PENDING_STATEMENT(integerBitOr)
MORVEL_PENDING_STATEMENT(integerBitXor)
MORVEL_PENDING_STATEMENT(arrayArrayArithmetic)
MORVEL_PENDING_STATEMENT(arrayScalarArithmetic)
MORVEL_PENDING_STATEMENT(compareEqual)
MORVEL_PENDING_STATEMENT(compareNotEqual)
MORVEL_PENDING_STATEMENT(compareGreaterEqual)
MORVEL_PENDING_STATEMENT(compareLessEqual)
MORVEL_PENDING_STATEMENT(compareAnd)
MORVEL_PENDING_STATEMENT(compareNand)
MORVEL_PENDING_STATEMENT(compareLess)
MORVEL_PENDING_STATEMENT(compareGreater)
MORVEL_PENDING_STATEMENT(jump)
MORVEL_PENDING_STATEMENT(forInit)
MORVEL_PENDING_STATEMENT(forStep)
MORVEL_PENDING_STATEMENT(armFunctionKey)
MORVEL_PENDING_STATEMENT(armMouse)
MORVEL_PENDING_STATEMENT(callLabel)
MORVEL_PENDING_STATEMENT(returnFromCall)
MORVEL_PENDING_STATEMENT(restartRun)

#undef MORVEL_PENDING_STATEMENT

void endIf(RunContext&, Operand*, int) {}

}  // namespace morvel::lang
