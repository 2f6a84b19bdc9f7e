#pragma once
// Array and elementwise mathematics: run and check routines of the builtin
// table rows abs ... mod.
//
// Elementwise rows (operands: result, argument[, second argument]):
//   the result (`a` or `v`) grows to the argument's length and takes its x
//   distance; its x offset stays (log takes the argument's); the complex flag
//   is cleared (log keeps a complex argument's, and leaves it alone). A `v`
//   result with an array argument receives every sample in its twin.
#include "lang/routine.h"

namespace morvel::builtins {

using lang::CheckContext;
using lang::Operand;
using lang::RunContext;

// Run-time error numbers of this family.
inline constexpr int kErrShiftTooFar = 1;    // shift count beyond the length (or negative)
inline constexpr int kErrNegativeCount = 4;  // negative count (copybuf, fill, setlen, rand)
inline constexpr int kErrBadOffset = 5;      // negative offset, source too short
inline constexpr int kErrNegativeRoot = 10;  // sqrt of a negative sample or NaN
inline constexpr int kErrPolyOrder = 11;     // poly order above 20 or beyond the coefficients
inline constexpr int kMaxPolyOrder = 20;

// --- elementwise family ------------------------------------------------------
void runAbs(RunContext&, Operand*, int);
void runSin(RunContext&, Operand*, int);
void runCos(RunContext&, Operand*, int);
void runTan(RunContext&, Operand*, int);
void runAsin(RunContext&, Operand*, int);
void runAcos(RunContext&, Operand*, int);
void runAtan(RunContext&, Operand*, int);
void runAtan2(RunContext&, Operand*, int);
void runSqrt(RunContext&, Operand*, int);
void runExp(RunContext&, Operand*, int);
void runLn(RunContext&, Operand*, int);
void runLog(RunContext&, Operand*, int);
void runPow(RunContext&, Operand*, int);
void runSignum(RunContext&, Operand*, int);
void runPos(RunContext&, Operand*, int);
void runNeg(RunContext&, Operand*, int);
void runTrunc(RunContext&, Operand*, int);
void runFract(RunContext&, Operand*, int);
void runAnd(RunContext&, Operand*, int);

// result a/v, argument a/v.
int checkElementwise(CheckContext&, const Operand*, int);
// result a/v, two arguments a/v.
int checkAtan2(CheckContext&, const Operand*, int);
// result a/v, base a/v, exponent v/i.
int checkPow(CheckContext&, const Operand*, int);

// --- further array rows ------------------------------------------------------
void runInt(RunContext&, Operand*, int);
void runDev(RunContext&, Operand*, int);
void runPoly(RunContext&, Operand*, int);
void runShift(RunContext&, Operand*, int);
void runFill(RunContext&, Operand*, int);
void runCopybuf(RunContext&, Operand*, int);
void runClr(RunContext&, Operand*, int);
void runSetlen(RunContext&, Operand*, int);
void runGetlen(RunContext&, Operand*, int);
void runSetxdist(RunContext&, Operand*, int);
void runSetoffset(RunContext&, Operand*, int);
void runGetxdist(RunContext&, Operand*, int);
void runGetoffset(RunContext&, Operand*, int);
void runRand(RunContext&, Operand*, int);
void runMod(RunContext&, Operand*, int);

int checkIntegrate(CheckContext&, const Operand*, int);  // int, dev: result a/v, argument a
int checkPoly(CheckContext&, const Operand*, int);
int checkShift(CheckContext&, const Operand*, int);
int checkFill(CheckContext&, const Operand*, int);
int checkCopybuf(CheckContext&, const Operand*, int);
int checkClr(CheckContext&, const Operand*, int);
int checkSetAxis(CheckContext&, const Operand*, int);  // setxdist, setoffset
int checkGetAxis(CheckContext&, const Operand*, int);  // getxdist, getoffset

}  // namespace morvel::builtins
