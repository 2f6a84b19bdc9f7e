// The builtin table and its lookup.
#include "lang/builtin_table.h"
#include "lang/process_control.h"

#include "builtins/filter.h"
#include "builtins/math.h"
#include "builtins/fourier.h"
#include "builtins/statistics.h"
#include "builtins/strings.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace morvel::lang {

void pendingBuiltin(RunContext&, Operand*, int) { raiseRuntimeError(kErrBuiltinNotAvailable); }

namespace {

bool isNumber(uint32_t kind) { return kind == KindFloat || kind == KindInteger; }

// start, startw, run, stop, end, winexit, mvexit, waittime, keyon, keyoff:
// one integer or float operand (a literal or `*` included).
int checkNumberFirst(CheckContext&, const Operand* ops, int count) {
  return isNumber(operandKind(ops, count, 0)) ? 0 : -1;
}

// getonkey: an integer target.
int checkIntegerTarget(CheckContext&, const Operand* ops, int count) {
  return operandKind(ops, count, 0) == KindInteger ? 0 : -1;
}

// program(s) or i = program(s).
int checkProgram(CheckContext&, const Operand* ops, int count) {
  int first = operandKind(ops, count, 0) == KindInteger ? 1 : 0;
  return operandKind(ops, count, first) == KindString ? 0 : -1;
}

// Rows in table order. Help texts are Windows-1252 bytes.
constexpr BuiltinEntry kTable[] = {
    {"abs", "(va);va=abs(va)", builtins::runAbs, builtins::checkElementwise, kBuiltinImplemented},
    {"acos", "(va);", builtins::runAcos, builtins::checkElementwise, kBuiltinImplemented},
    {"amp", "(a);", builtins::runAmp, builtins::checkAggregate, kBuiltinImplemented},
    {"vxindata", "", pendingBuiltin, nullptr, 0},
    {"vxinclear", "", pendingBuiltin, nullptr, 0},
    {"analogin", "(Mode,Kanal,L\xE4" "nge);va=analogin(...) Mode:0=von letzter Lesepos.  1:die letzten n Werte  2:die n\xE4" "chsten n Werte", pendingBuiltin, nullptr, 0},
    {"analogout", "", pendingBuiltin, nullptr, 0},
    {"clranalogin", "", pendingBuiltin, nullptr, 0},
    {"asciin", "", pendingBuiltin, nullptr, 0},
    {"asin", "(va);", builtins::runAsin, builtins::checkElementwise, kBuiltinImplemented},
    {"atan", "(va);", builtins::runAtan, builtins::checkElementwise, kBuiltinImplemented},
    {"atan2", "(va,va); Vierquadranten", builtins::runAtan2, builtins::checkAtan2, kBuiltinImplemented},
    {"avg", "(Zielaray,Quellarray);Ziel- und Quellarray m\xFC" "ssen unterschiedlich sein", builtins::runAvg, builtins::checkAvg, kBuiltinImplemented},
    {"backcolor", "", pendingBuiltin, nullptr, 0},
    {"betr", "(a);a=betr(a)", builtins::runBetr, builtins::checkComplexSource, kBuiltinImplemented},
    {"box", "", pendingBuiltin, nullptr, 0},
    {"breakoff", "", builtinBreakoff, nullptr, kBuiltinImplemented},
    {"breakon", "", builtinBreakon, nullptr, kBuiltinImplemented},
    {"close", "(#n);Schliesst eine mit open ge\xF6" "ffnete Datei oder Device", pendingBuiltin, nullptr, 0},
    {"clr", "(wafs)", builtins::runClr, builtins::checkClr, kBuiltinImplemented | kBuiltinNoTarget},
    {"clrcursor", "", pendingBuiltin, nullptr, 0},
    {"color", "", pendingBuiltin, nullptr, 0},
    {"complex", "(Realeil,Imagin\xE4" "rteil);a=Complex(a,a)", builtins::runComplex, builtins::checkComplex, kBuiltinImplemented},
    {"copy", "(Quellname,Zielname);i0=copy(s1,s2)", pendingBuiltin, nullptr, 0},
    {"copybuf", "(as,vi,vi);afs=copybuf(as,vi,vi)", builtins::runCopybuf, builtins::checkCopybuf, kBuiltinImplemented},
    {"cos", "(va);va=cos(va)", builtins::runCos, builtins::checkElementwise, kBuiltinImplemented},
    {"dev", "(a);a=dev(a)", builtins::runDev, builtins::checkIntegrate, kBuiltinImplemented},
    {"digitalin", "(vi);i=digitalin(vi)", pendingBuiltin, nullptr, 0},
    {"digitalout", "(Kanal,Bitmuster);digitalout(vi,i)", pendingBuiltin, nullptr, 0},
    {"dir", "(Zielstring,Dateiname,x,y);i=dir(...)", pendingBuiltin, nullptr, 0},
    {"dos", "(Dosbefehl);dos(s0)", pendingBuiltin, nullptr, 0},
    {"getdirpath", "();s=getdirpath()", pendingBuiltin, nullptr, 0},
    {"setdirpath", "(path);setdirpath(s)", pendingBuiltin, nullptr, 0},
    {"dialog", "(Dialogname,Variablenliste...);i=dialog(s,...)", pendingBuiltin, nullptr, 0},
    {"dialogx", "(Dialogname,Variablenliste...);i=dialog(s,...)", pendingBuiltin, nullptr, 0},
    {"messagebox", "(Boxtext,mode);i=messagebox(s,vi) mode: 0-Ok, 1-Ok Abbrechen 2-ja nein 3 Nein Abbrechen", pendingBuiltin, nullptr, 0},
    {"diskfree", "(Devicenummer);v=diskfree(vs)", pendingBuiltin, nullptr, 0},
    {"winexit", "", builtinWinexit, checkNumberFirst, kBuiltinImplemented},
    {"mvexit", "", builtinWinexit, checkNumberFirst, kBuiltinImplemented},
    {"draw", "", pendingBuiltin, nullptr, 0},
    {"vorkin", "", pendingBuiltin, nullptr, 0},
    {"sarnix", "", pendingBuiltin, nullptr, 0},
    {"edit", "(Dateiname,x1,y1,x2,y2);i=edit(...) i:-1 Datei kann nicht geschrieben werden  i:0 Ok", pendingBuiltin, nullptr, 0},
    {"dravon", "(Dateiname);i=dravon(...) i:-1 Dravon nicht gestartet i:0 Ok", pendingBuiltin, nullptr, 0},
    {"eff", "(a);v=eff(a)", builtins::runEff, builtins::checkAggregate, kBuiltinImplemented},
    {"end", "", builtinEnd, checkNumberFirst, kBuiltinImplemented},
    {"exit", "", builtinExit, nullptr, kBuiltinImplemented},
    {"exp", "(va);va=exp(va)", builtins::runExp, builtins::checkElementwise, kBuiltinImplemented},
    {"fft", "(Quellarray,Punkte,fenster);a=fft(a,vi,vi) fenster 0:Rechteck 1:Hann 2:Kaiser-Bessel 3:Flat-Top", builtins::runFft, builtins::checkFft, kBuiltinImplemented},
    {"filelength", "(Dateiname);v=filelength(s) Ermittelt die L\xE4" "nge einer Datei", pendingBuiltin, nullptr, 0},
    {"fill", "(a,vi,vi,v);fill(a,vi,vi,v)", builtins::runFill, builtins::checkFill, kBuiltinImplemented | kBuiltinNoTarget},
    {"gethmsdmy", "(std,minsek,tah,mon,jahr);gethmsdmy(i,i,i,i,i,i)", pendingBuiltin, nullptr, 0},
    {"getkey", "();i=getkey() Wartet auf eine Bet\xE4" "tigung der Tastatur (die anderen Prozesse laufen weiter) und gibt den Tastaturcode der zur\xFC" "ck. Die Funktionstasten F1..F12 k\xF6" "nnen nicht eingelesen werden", pendingBuiltin, nullptr, 0},
    {"getkeynow", "();i=getkey() Liest ein Zeichen von der Tastatur. Wenn keine Taste gedr\xFC" "ckt wird, wird der R\xFC" "ckgabeparameter auf -1 gesetzt, ansonsten enth\xE4" "lt er den Tastaturcode", pendingBuiltin, nullptr, 0},
    {"getlen", "(a);v=getlen(a)", builtins::runGetlen, nullptr, kBuiltinImplemented},
    {"getoffset", "(a);v=getoffset(a)", builtins::runGetoffset, builtins::checkGetAxis, kBuiltinImplemented},
    {"getonkey", "", builtinGetonkey, checkIntegerTarget, kBuiltinImplemented},
    {"getmousehit", "();s=getmousehit() getmousehit()gibt den Fensternamen als Text zur\xFC" "ck", pendingBuiltin, nullptr, 0},
    {"getmousestate", "(Fenster,lbutton,rbutton,x,y);i0=getmousestate(w,i,i,v,v) holt Buttons und Position der Maus", pendingBuiltin, nullptr, 0},
    {"getphyscoord", "(fenstername,x1,y1,x2,y2)", pendingBuiltin, nullptr, 0},
    {"getusbprintername", "(),s1=mvgetusbprintername()", pendingBuiltin, nullptr, 0},
    {"getxdist", "(va);v=getxdist(va)", builtins::runGetxdist, builtins::checkGetAxis, kBuiltinImplemented},
    {"gmean", "(Quellarray);v=gmean(a)", builtins::runGmean, nullptr, kBuiltinImplemented},
    {"grid", "(fenstername);grid(w)", pendingBuiltin, nullptr, 0},
    {"hms_sec", "(std,min,sec);i=hms_sec(i,i,i) Berechnet die Anzahl der Sekunden seit Mitternacht aus Stunde, Minute und Sekunden", pendingBuiltin, nullptr, 0},
    {"ifft", "(Quellarray,Punkte);a=ifft(a,i)", builtins::runIfft, builtins::checkIfft, kBuiltinImplemented},
    {"ifnotsignal", "", builtinIfnotsignal, nullptr, kBuiltinImplemented | kBuiltinNoTarget},
    {"ifsignal", "", builtinIfsignal, nullptr, kBuiltinImplemented | kBuiltinNoTarget},
    {"ifwait", "", builtinIfwait, nullptr, kBuiltinImplemented | kBuiltinNoTarget},
    {"im", "(Quellarray);a=im(a)", builtins::runIm, builtins::checkComplexSource, kBuiltinImplemented},
    {"inb", "", pendingBuiltin, nullptr, 0},
    {"initcursor", "", pendingBuiltin, nullptr, 0},
    {"int", "(a);i=int(a) Integration", builtins::runInt, builtins::checkIntegrate, kBuiltinImplemented},
    {"inw", "", pendingBuiltin, nullptr, 0},
    {"keyoff", "", builtinKeyoff, checkNumberFirst, kBuiltinImplemented},
    {"keyon", "", builtinKeyon, checkNumberFirst, kBuiltinImplemented},
    {"konjc", "(Quellarray);a=konjc(a)", builtins::runKonjc, builtins::checkComplexSource, kBuiltinImplemented},
    {"layout", "(Layoutname);layout(s) Macht das benannte Layout aktiv. Alle Bildschirm relevanten Ausgaben beziehen sich auf das ausgew\xE4" "hlte Layout", pendingBuiltin, nullptr, 0},
    {"layoutontop", "(Layoutname);layoutontop(s) Setzt das benannte Layout in den Vordergrund", pendingBuiltin, nullptr, 0},
    {"layoutprint", "", pendingBuiltin, nullptr, 0},
    {"layoutshow", "(Layoutname);layoutshow(s,i) Macht das benannte Layout (un)sichtbar", pendingBuiltin, nullptr, 0},
    {"linput", "(Quelle,Format);i=linput(#n|s,s)", pendingBuiltin, nullptr, 0},
    {"ln", "(va);va=ln(va)", builtins::runLn, builtins::checkElementwise, kBuiltinImplemented},
    {"locate", "", pendingBuiltin, nullptr, 0},
    {"log", "(va);va=log(va)", builtins::runLog, builtins::checkElementwise, kBuiltinImplemented},
    {"mathdefaultoff", "", builtinMathdefaultoff, nullptr, kBuiltinImplemented},
    {"mathdefaulton", "", builtinMathdefaulton, nullptr, kBuiltinImplemented},
    {"mavg", "(Quellarray,n)a=mavg(a,v); v=Spanne Ziel- und Quellarray m\xFC" "ssen unterschiedlich sein", builtins::runMavg, builtins::checkMavg, kBuiltinImplemented},
    {"max", "(Quellarray);v=max(a)", builtins::runMax, builtins::checkAggregate, kBuiltinImplemented},
    {"maxiy", "(Quellarray,index,Maxwert);maxiy(a,i,v)", builtins::runMaxiy, builtins::checkExtremeIY, kBuiltinImplemented},
    {"maxxy", "(Quellarray);maxxy(a,v,v)", builtins::runMaxxy, builtins::checkExtremeXY, kBuiltinImplemented},
    {"mean", "(Quellarray);v=mean(a)", builtins::runMean, builtins::checkAggregate, kBuiltinImplemented},
    {"min", "(Quellarray);v=min(a)", builtins::runMin, builtins::checkAggregate, kBuiltinImplemented},
    {"miniy", "(Quellarray,index,Minwert);miniy(a,i,v)", builtins::runMiniy, builtins::checkExtremeIY, kBuiltinImplemented},
    {"minxy", "(Quellarray);minxy(a,v,v)", builtins::runMinxy, builtins::checkExtremeXY, kBuiltinImplemented},
    {"moment", "(Quellarray,Ordnung);va=moment(a,v)", builtins::runMoment, builtins::checkMoment, kBuiltinImplemented},
    {"neg", "(a);a=neg(a)", builtins::runNeg, builtins::checkElementwise, kBuiltinImplemented},
    {"open", "(Dateiname,#n,Mode);[i]=open(s,#n,vi)", pendingBuiltin, nullptr, 0},
    {"opencom", "(Einstellung);i=opencom(s) z.B.:i0=opencom(\"1,19200,n,8,1\")", pendingBuiltin, nullptr, 0},
    {"outb", "", pendingBuiltin, nullptr, 0},
    {"outw", "", pendingBuiltin, nullptr, 0},
    {"panalogin", "(Mode,Kanal,Werte);", pendingBuiltin, nullptr, 0},
    {"phase", "(Quellarray);a=phase(a)", builtins::runPhase, builtins::checkComplexSource, kBuiltinImplemented},
    {"pid", "", builtins::runPid, builtins::checkPid, kBuiltinImplemented},
    {"poly", "(va,v,...v...);va=poly(va,v,...v...)", builtins::runPoly, builtins::checkPoly, kBuiltinImplemented},
    {"pos", "(a);a=pos(a)", builtins::runPos, builtins::checkElementwise, kBuiltinImplemented},
    {"pow", "(va,v);va=pow(va,v)", builtins::runPow, builtins::checkPow, kBuiltinImplemented},
    {"print", "(Ziel,Format,...);i=print(ws#,s,...vis...)", pendingBuiltin, nullptr, 0},
    {"program", "", builtinProgram, checkProgram, kBuiltinImplemented},
    {"quant", "(Quellarray,Untergrenze,Obergrenz,Klassen);a=quant(a,v,v,vi) H\xE4" "ufigkeitsverteilung in %", builtins::runQuant, builtins::checkQuant, kBuiltinImplemented},
    {"rand", "(v);a=rand(v)", builtins::runRand, nullptr, kBuiltinImplemented},
    {"readbin", "(#,Zielarray,Kan\xE4" "le,Kanal,Werte,Zahlenformat);i=readbib(#n,a,vi,vi,vi,vi)", pendingBuiltin, nullptr, 0},
    {"readfloat", "(#,Zielarray,Kan\xE4" "le,Kanal,Werte,Zahlenformat);i=readfloat(#n,a,vi,vi,vi)", pendingBuiltin, nullptr, 0},
    {"real", "(Quellarray);a=real(a)", builtins::runReal, builtins::checkComplexSource, kBuiltinImplemented},
    {"remove", "(Dateiname);i=remove(s)", pendingBuiltin, nullptr, 0},
    {"rename", "(DateinameAlt,DateinameNeu);i=rename(s,s) i:0 Kein Fehler", pendingBuiltin, nullptr, 0},
    {"revspec", "(Quellarray);a=revspec(a)", builtins::runRevspec, nullptr, kBuiltinImplemented},
    {"run", "", builtinRun, checkNumberFirst, kBuiltinImplemented},
    {"seek", "(#n,Position,Mode);i=seek(#n,vi,vi)", pendingBuiltin, nullptr, 0},
    {"setcurkey", "", pendingBuiltin, nullptr, 0},
    {"setcursor", "", pendingBuiltin, nullptr, 0},
    {"setlen", "(a,vi);setlen(a,vi)", builtins::runSetlen, nullptr, kBuiltinImplemented | kBuiltinNoTarget},
    {"setoffset", "(a,v);setoffset(a,v)", builtins::runSetoffset, builtins::checkSetAxis, kBuiltinImplemented | kBuiltinNoTarget},
    {"setphyscoord", "(Fenster,x1,y1,x2,y2);", pendingBuiltin, nullptr, 0},
    {"setphyscoord2", "(Fenster,x1,x2,dx,y1,y2,dy);", pendingBuiltin, nullptr, 0},
    {"setpid", "", builtins::runSetpid, builtins::checkSetpid, kBuiltinImplemented},
    {"setsigcol", "", pendingBuiltin, nullptr, 0},
    {"setsigcol1", "(Fenster,Diagramkanal,Farbnummer);", pendingBuiltin, nullptr, 0},
    {"setxdist", "(va,v);setxdist(va,v)", builtins::runSetxdist, builtins::checkSetAxis, kBuiltinImplemented | kBuiltinNoTarget},
    {"shift", "(a,vi);a=shift(a,vi)", builtins::runShift, builtins::checkShift, kBuiltinImplemented},
    {"shot", "", pendingBuiltin, nullptr, 0},
    {"signaloff", "", builtinSignaloff, nullptr, kBuiltinImplemented},
    {"signalon", "", builtinSignalon, nullptr, kBuiltinImplemented},
    {"signum", "(va);va=signum(va)", builtins::runSignum, builtins::checkElementwise, kBuiltinImplemented},
    {"sin", "(va);va=sin(va)", builtins::runSin, builtins::checkElementwise, kBuiltinImplemented},
    {"sqrt", "(va);va=sqrt(va)", builtins::runSqrt, builtins::checkElementwise, kBuiltinImplemented},
    {"splitpath", "(Pfadname,Pfad,Name);splitpath(s,s,s)", pendingBuiltin, nullptr, 0},
    {"start", "(Prozess);start(i) Startet den angegebenen Prozess vom Anfang an", builtinStart, checkNumberFirst, kBuiltinImplemented},
    {"startw", "", builtinStartw, checkNumberFirst, kBuiltinImplemented},
    {"starttime", "(Timerindex);starttime(vi) Startet einen von 64 Zeitnehmer", pendingBuiltin, nullptr, 0},
    {"stddev", "(Quellarray);a=stddev(a)", builtins::runStddev, builtins::checkAggregate, kBuiltinImplemented},
    {"stop", "", builtinStop, checkNumberFirst, kBuiltinImplemented},
    {"stoptime", "(Timerindex);v=stoptime(vi) Holt die Zeit seit starttime(", pendingBuiltin, nullptr, 0},
    {"streamoff", "Schaltet die Speicherung der Messdaten in Dravon aus", pendingBuiltin, nullptr, 0},
    {"streamon", "Zieldateinamen;[i=]streamon(s) Schaltet die Speicherung der Messdaten in Dravon ein", pendingBuiltin, nullptr, 0},
    {"sum", "(Quellarray);v=sum(a)", builtins::runSum, builtins::checkAggregate, kBuiltinImplemented},
    {"tan", "(va);va=tan(va)", builtins::runTan, builtins::checkElementwise, kBuiltinImplemented},
    {"text", "", pendingBuiltin, nullptr, 0},
    {"trigger", "", builtins::runTrigger, builtins::checkTrigger, kBuiltinImplemented},
    {"trimleft", "(Text,Zu l\xF6" "schende Zeichen);trimleft(s23, )", builtins::runTrimleft, builtins::checkTrim, kBuiltinImplemented | kBuiltinNoTarget},
    {"trimright", "(Text,Zu l\xF6" "schende Zeichen);trimright(s23, )", builtins::runTrimright, builtins::checkTrim, kBuiltinImplemented | kBuiltinNoTarget},
    {"replace", "(Text,zu ersetz. Text,Erastztext);replace(s23,gestern,heute)", builtins::runReplace, builtins::checkReplace, kBuiltinImplemented | kBuiltinNoTarget},
    {"waittime", "", builtinWaittime, checkNumberFirst, kBuiltinImplemented},
    {"zmoment", "(Quellarray,Ordnung);va=zmoment)va,vi)", builtins::runZmoment, builtins::checkMoment, kBuiltinImplemented},
    {"setfilter", "(", builtins::runSetfilter, nullptr, kBuiltinImplemented},
    {"filter", "", builtins::runFilter, nullptr, kBuiltinImplemented},
    {"supp", "(Quellerrray,mode,gewichtung,vor,nach);supp(a,vi,vi,vi)", builtins::runSupp, nullptr, kBuiltinImplemented},
    {"receive", "(Option,Empfangsbuffer);i=receive(i,s) Emppf\xE4" "ngt Zeichen der seriellen Schnittstelle", pendingBuiltin, nullptr, 0},
    {"breceive", "(Option,Empfangsbuffer);i=receive(i,s) Emppf\xE4" "ngt Zeichen der seriellen Schnittstelle", pendingBuiltin, nullptr, 0},
    {"send", "(Option,text);i=send(i,s) Sendet Zeichen an die  serielle Schnittstelle", pendingBuiltin, nullptr, 0},
    {"intpl", "(Quellarray,Werte);a=intpl(a,vi) Erzeugt aus dem Quellarray ein Zielarray mit mehr Werten mitels der Akima-Interpolation", builtins::runIntpl, builtins::checkIntpl, kBuiltinImplemented},
    {"cd", "(Verzechnis);i=cd(s)", pendingBuiltin, nullptr, 0},
    {"md", "(Verzechnis);i=md(s)", pendingBuiltin, nullptr, 0},
    {"getcd", "();s=getcd() Holt das aktuelle Directory", pendingBuiltin, nullptr, 0},
    {"vorkouth1", "(Dateiname,Kan\xE4" "le,clk);[i]=vorkouth1(s,v,v)", pendingBuiltin, nullptr, 0},
    {"vorkouth2", "(Dateiname,kanal,Kanalname,Kanaleinheit,min,max);i=vorkouth2(s,v,s,s,v,v)", pendingBuiltin, nullptr, 0},
    {"vorkinh1", "(Dateiname,Kan\xE4" "le,clk,frames,datum);[i]=vorkinh1(s,v,v,v,i) Liest den allgemeinen Datenheader eines VORK Files", pendingBuiltin, nullptr, 0},
    {"vorkinh2", "", pendingBuiltin, nullptr, 0},
    {"sarnixh1", "(Dateiname,Kan\xE4" "le,clk,frames,datum);[i]=sarnixh1(s,v,v,v,i) Liest den allgemeinen Datenheader eines SARNIX Files", pendingBuiltin, nullptr, 0},
    {"sarnixh2", "", pendingBuiltin, nullptr, 0},
    {"vorkoutdat", "(Dateiname,Kanal,Quellaray,Offset);[i]=vorkoutdat(s,vi,a,vi) Schreibt Daten in das mit vorkouth1(..) erzeugte File entsprechend der in vorkouth2(..) \xFC" "bergebenen Kanalinformationen", pendingBuiltin, nullptr, 0},
    {"setxdiv", "(fenstername,Div.)", pendingBuiltin, nullptr, 0},
    {"setydiv", "(fenstername,Div.,Nachkommastellen)", pendingBuiltin, nullptr, 0},
    {"fftdev", "(Quellarray);a=fftdev(a)", builtins::runFftdev, nullptr, kBuiltinImplemented},
    {"noisesup", "(Quellaray,bereich,abstand);a=noisesup(a,vi,vi)", builtins::runNoisesup, nullptr, kBuiltinImplemented},
    {"putimage", "", pendingBuiltin, nullptr, 0},
    {"reduce", "(Offset,Werte,Datei,WerteNeu,mode); a=reduce(vi,f,vi,vi)", pendingBuiltin, nullptr, 0},
    {"hms_sec_1970", "", pendingBuiltin, nullptr, 0},
    {"sec_1970_hms", "(ZeitInSec,std,min,sec,tag,mon,jahr);sec_1970_hms(i,i,i,i,i,i,i) Berechnet aus der Anzahl der Sekunden seit 1.01.1970 Stunde, Minute und Sekunden, Tag, Monat und Jahr", pendingBuiltin, nullptr, 0},
    {"fifoin", "(Fifoarray,Quellarray,L\xE4" "nge);fifoin(a,va,vi) Fifo der angegebenen L\xE4" "nge wird von hinten mit neuen Werte gef\xFC" "llt", builtins::runFifoin, nullptr, kBuiltinImplemented},
    {"levelcr", "(Quellarray,Untergrenze,Obergrenze,Klassen,R\xFC" "ckstellbreite,Startwert);a=levelcr(a,v,v,v,v,v) berechnet Levelcrossing-Verteilung", builtins::runLevelcr, nullptr, kBuiltinImplemented},
    {"vorkkseek", "", pendingBuiltin, nullptr, 0},
    {"tolower", "(String);tolower(s) konvertiert alle Grossbuchstaben in Kleinbuchstaben", builtins::runTolower, nullptr, kBuiltinImplemented | kBuiltinNoTarget},
    {"errorexit", "", builtinErrorexit, nullptr, kBuiltinImplemented},
    {"fract", "(v|a);v=fract(v|a)", builtins::runFract, nullptr, kBuiltinImplemented},
    {"trunc", "(v|a);vi=trunc(v|a)", builtins::runTrunc, nullptr, kBuiltinImplemented},
    {"mod", "(vi,vi);vi=mod(vi,vi)", builtins::runMod, nullptr, kBuiltinImplemented},
    {"multitask", "", builtinMultitask, nullptr, kBuiltinImplemented},
    {"and", "", builtins::runAnd, nullptr, kBuiltinImplemented},
    {"drvoption", "", pendingBuiltin, nullptr, 0},
    {"closef", "", builtinClosef, nullptr, kBuiltinImplemented},
    {"debug", "(); Haltepunkt der auch im Nicht-Debugmode funktioniert", builtinDebug, nullptr, kBuiltinImplemented},
    {"trace", "(Text);trace(s) stellt den Textinhalt im Tracefenster des Debuggers dar", builtinTrace, nullptr, kBuiltinImplemented},
    {"settxt", "", pendingBuiltin, nullptr, 0},
    {"gettxt", "(Zeilennummer); Holt aus dem mit settxt() def. File eine Zeile", pendingBuiltin, nullptr, 0},
    {"closecom", "();schlieset den mit opencom(...) ge\xF6" "ffneten seriellen Anschluss", pendingBuiltin, nullptr, 0},
    {"playsound", "(Dateiname);", pendingBuiltin, nullptr, 0},
    {"listbox", "(\xDC" "berschrift,xPos,yPos,breite,h\xF6" "he,SelectIndex,SelectString,Boxinhalt;listbox(s,vi,vi,vi,vi,,i,s,s)", pendingBuiltin, nullptr, 0},
    {"sendmail", "(adr,betreff,Text,Anhang);", pendingBuiltin, nullptr, 0},
    {"setxtxt", "(fenstername,X-Achsentext)", pendingBuiltin, nullptr, 0},
    {"setytxt", "(fenstername,Y-Achsentext,Y-Einheit)", pendingBuiltin, nullptr, 0},
    {"gpibinit", "", pendingBuiltin, nullptr, 0},
    {"gpibopen", "", pendingBuiltin, nullptr, 0},
    {"gpibclose", "", pendingBuiltin, nullptr, 0},
    {"gpibwrite", "", pendingBuiltin, nullptr, 0},
    {"gpibread", "", pendingBuiltin, nullptr, 0},
    {"gpiblocal", "", pendingBuiltin, nullptr, 0},
    {"gpibremote", "", pendingBuiltin, nullptr, 0},
    {"gpibtrigger", "", pendingBuiltin, nullptr, 0},
    {"gpibllo", "", pendingBuiltin, nullptr, 0},
    {"gpibgeterror", "", pendingBuiltin, nullptr, 0},
    {"transf", "", builtins::runTransf, nullptr, kBuiltinImplemented},
    {"inetHttpGetFile", "", pendingBuiltin, nullptr, 0},
    {"inetFtpOpen", "", pendingBuiltin, nullptr, 0},
    {"inetFtpSetDir", "", pendingBuiltin, nullptr, 0},
    {"inetFtpGetFile", "", pendingBuiltin, nullptr, 0},
    {"inetFtpPutFile", "", pendingBuiltin, nullptr, 0},
    {"inetFtpClose", "", pendingBuiltin, nullptr, 0},
    {"CSVOpen", "", pendingBuiltin, nullptr, 0},
    {"CSVGetAt", "", pendingBuiltin, nullptr, 0},
    {"CSVClose", "", pendingBuiltin, nullptr, 0},
    {"atoi", "(text);i=atoi(s) Konvertiert Textzahl in Integerzahl", builtins::runAtoi, nullptr, kBuiltinImplemented},
    {"atof", "(text);v=atof(s) Konvertiert Textzahl in Gelitkommazahl", builtins::runAtof, nullptr, kBuiltinImplemented},
    {"htoi", "(text);v=htoi(s) Konvertiert Hextext zahl n Integerzahl", builtins::runHtoi, nullptr, kBuiltinImplemented},
    {"vibrel", "(text);vibrel(s) Startet den vibrel mit der angegebenen Datei", pendingBuiltin, nullptr, 0},
    {"vibrel", "(text);vibrel(s) Startet den vibrel mit der angegebenen Datei", pendingBuiltin, nullptr, 0},
    {"mutation", "(mode);mutation(i) Schaltet Umlautkonvertierung ein oder aus", pendingBuiltin, nullptr, 0},
    {"ModSetTemp", "(comnr,Temp);i0=ModSetTemp(1,v_temp) Setzt Temperatur", pendingBuiltin, nullptr, 0},
    {"ModGetTemp", "(comnr,Temp);i0=ModGetTemp(1,v_Temp) Holt Temperatur", pendingBuiltin, nullptr, 0},
    {"ModStartProg", "(comnr,Programmnummer);i0=ModStartProg(1,i_Prog) Startet Programm", pendingBuiltin, nullptr, 0},
    {"ModStopProg", "(comnr,Programmnummer);i0=ModStopProg(1,i_Prog) Stoppt Programm", pendingBuiltin, nullptr, 0},
    {"ModBasicOn", "(comnr,Programmnummer);i0=ModBasicOn(1) Startet Programm", pendingBuiltin, nullptr, 0},
    {"ModSetType", "(type);ModSetType(1) Setzt Schranktyp 0: alt (default)   1:neu", pendingBuiltin, nullptr, 0},
    {"textwcolor", "(fenstername,Farbindex);Stellt Textfarbe im Textfenster ein", pendingBuiltin, nullptr, 0},
    {"backwcolor", "(fenstername,Farbindex);Stellt Hintergrundfarbe im Textfenster ein", pendingBuiltin, nullptr, 0},
    {"delminmax", "(Quellaray,nMin,nMax);a=delminmax(a,vivi) Entfernt die nMin kleinesten und nMax gr\xF6" "\xDF" "ten Werte aus dem Array", builtins::runDelminmax, nullptr, kBuiltinImplemented},
    {"CRC16Hex", "(Quellaray);appendCRC16Hex(s) H\xE4" "ngt CRC16 alds Hex an", pendingBuiltin, nullptr, 0},
    {"readline", "(Quelle);i0=readline(#n,s)", pendingBuiltin, nullptr, 0},
    {"writeline", "(Quelle);i0=writeline(#n,s)", pendingBuiltin, nullptr, 0},
    {"chklimit", "(v0,v1,v2);i0=chklimit(v0,-10,10)", builtins::runChklimit, nullptr, kBuiltinImplemented},
    {"openftd", "();i0=openftd()", pendingBuiltin, nullptr, 0},
    {"readftd", "();a=readftd(i)", pendingBuiltin, nullptr, 0},
    {"closeftd", "();i0=closeftd()", pendingBuiltin, nullptr, 0},
    {"GetFtdComPortNumber", "();i0=GetFtdComPortNumber()", pendingBuiltin, nullptr, 0},
    {nullptr, nullptr, nullptr, nullptr, 0},
};

static_assert(sizeof(kTable) / sizeof(kTable[0]) == kBuiltinCount + 1, "244 rows and the end row");

int compareNoCase(std::string_view a, std::string_view b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    int ca = std::tolower(static_cast<unsigned char>(a[i]));
    int cb = std::tolower(static_cast<unsigned char>(b[i]));
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

// Row numbers sorted by name ignoring case; among equal names the lower row
// comes first, so the search below finds the first row of a duplicate name.
struct NameIndex {
  std::array<short, kBuiltinCount> rows{};
  NameIndex() {
    for (int i = 0; i < kBuiltinCount; ++i) rows[i] = static_cast<short>(i);
    std::stable_sort(rows.begin(), rows.end(), [](short a, short b) {
      return compareNoCase(kTable[a].name, kTable[b].name) < 0;
    });
  }
};

const NameIndex& nameIndex() {
  static const NameIndex index;
  return index;
}

}  // namespace

const BuiltinEntry* builtinTable() { return kTable; }

const BuiltinEntry* findBuiltin(std::string_view name) {
  if (name.empty() || name.size() > static_cast<size_t>(kMaxBuiltinNameLength)) return nullptr;
  const auto& rows = nameIndex().rows;
  auto it = std::lower_bound(rows.begin(), rows.end(), name, [](short row, std::string_view key) {
    return compareNoCase(kTable[row].name, key) < 0;
  });
  if (it == rows.end() || compareNoCase(kTable[*it].name, name) != 0) return nullptr;
  return &kTable[*it];
}

int builtinRow(const BuiltinEntry* entry) { return static_cast<int>(entry - kTable); }

bool builtinImplemented(const BuiltinEntry& entry) { return (entry.flags & kBuiltinImplemented) != 0; }

std::vector<const char*> pendingBuiltins() {
  std::vector<const char*> names;
  for (const BuiltinEntry* e = kTable; e->name; ++e)
    if (!builtinImplemented(*e)) names.push_back(e->name);
  return names;
}

}  // namespace morvel::lang
