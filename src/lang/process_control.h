#pragma once
// Run and check routines of the process-control rows of the builtin table:
// processes (start, startw, run, stop, end, multitask, waittime, signals),
// the end of a run (exit, winexit, mvexit, errorexit, program), function
// keys, the math default mode, CTRL+B, debug, trace and closef.
#include "lang/routine.h"

namespace morvel::lang {

void builtinStart(RunContext& ctx, Operand* ops, int count);
void builtinStartw(RunContext& ctx, Operand* ops, int count);
void builtinRun(RunContext& ctx, Operand* ops, int count);
void builtinStop(RunContext& ctx, Operand* ops, int count);
void builtinEnd(RunContext& ctx, Operand* ops, int count);
void builtinExit(RunContext& ctx, Operand* ops, int count);
void builtinWinexit(RunContext& ctx, Operand* ops, int count);  // also mvexit
void builtinErrorexit(RunContext& ctx, Operand* ops, int count);
void builtinProgram(RunContext& ctx, Operand* ops, int count);
void builtinMultitask(RunContext& ctx, Operand* ops, int count);
void builtinWaittime(RunContext& ctx, Operand* ops, int count);
void builtinSignalon(RunContext& ctx, Operand* ops, int count);
void builtinSignaloff(RunContext& ctx, Operand* ops, int count);
void builtinKeyon(RunContext& ctx, Operand* ops, int count);
void builtinKeyoff(RunContext& ctx, Operand* ops, int count);
void builtinGetonkey(RunContext& ctx, Operand* ops, int count);
void builtinMathdefaulton(RunContext& ctx, Operand* ops, int count);
void builtinMathdefaultoff(RunContext& ctx, Operand* ops, int count);
void builtinBreakon(RunContext& ctx, Operand* ops, int count);
void builtinBreakoff(RunContext& ctx, Operand* ops, int count);
void builtinDebug(RunContext& ctx, Operand* ops, int count);
void builtinTrace(RunContext& ctx, Operand* ops, int count);
void builtinClosef(RunContext& ctx, Operand* ops, int count);
void builtinIfwait(RunContext& ctx, Operand* ops, int count);
void builtinIfsignal(RunContext& ctx, Operand* ops, int count);
void builtinIfnotsignal(RunContext& ctx, Operand* ops, int count);

}  // namespace morvel::lang
