// The builtin table: rows, order, lookup, checks and help texts.
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "lang/builtin_table.h"
#include "lang/value_store.h"
#include "lang/program.h"

namespace morvel::lang {
namespace {

std::vector<std::string> words(const char* text) {
  std::istringstream in(text);
  std::vector<std::string> out;
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

const char* kNames =
    "abs acos amp vxindata vxinclear analogin analogout clranalogin asciin asin atan atan2 avg backcolor betr box breakoff breakon close clr clrcursor color complex copy copybuf cos dev digitalin digitalout dir dos getdirpath setdirpath dialog dialogx messagebox diskfree winexit mvexit draw vorkin sarnix edit dravon eff end exit exp fft filelength fill gethmsdmy getkey getkeynow getlen getoffset getonkey getmousehit getmousestate getphyscoord getusbprintername getxdist gmean grid hms_sec ifft ifnotsignal ifsignal ifwait im inb initcursor int inw keyoff keyon konjc layout layoutontop layoutprint layoutshow linput ln locate log mathdefaultoff mathdefaulton mavg max maxiy maxxy mean min miniy minxy moment neg open opencom outb outw panalogin phase pid poly pos pow print program quant rand readbin readfloat real remove rename revspec run seek setcurkey setcursor setlen setoffset setphyscoord setphyscoord2 setpid setsigcol setsigcol1 setxdist shift shot signaloff signalon signum sin sqrt splitpath start startw starttime stddev stop stoptime streamoff streamon sum tan text trigger trimleft trimright replace waittime zmoment setfilter filter supp receive breceive send intpl cd md getcd vorkouth1 vorkouth2 vorkinh1 vorkinh2 sarnixh1 sarnixh2 vorkoutdat setxdiv setydiv fftdev noisesup putimage reduce hms_sec_1970 sec_1970_hms fifoin levelcr vorkkseek tolower errorexit fract trunc mod multitask and drvoption closef debug trace settxt gettxt closecom playsound listbox sendmail setxtxt setytxt gpibinit gpibopen gpibclose gpibwrite gpibread gpiblocal gpibremote gpibtrigger gpibllo gpibgeterror transf inetHttpGetFile inetFtpOpen inetFtpSetDir inetFtpGetFile inetFtpPutFile inetFtpClose CSVOpen CSVGetAt CSVClose atoi atof htoi vibrel vibrel mutation ModSetTemp ModGetTemp ModStartProg ModStopProg ModBasicOn ModSetType textwcolor backwcolor delminmax CRC16Hex readline writeline chklimit openftd readftd closeftd GetFtdComPortNumber";

// Rows that accept any operands.
const char* kWithoutCheck =
    "CRC16Hex CSVClose CSVGetAt CSVOpen GetFtdComPortNumber ModBasicOn ModGetTemp ModSetTemp ModSetType ModStartProg ModStopProg and atof atoi backcolor backwcolor breakoff breakon breceive chklimit closecom closef closeftd clranalogin color debug delminmax dialog dialogx dos drvoption errorexit exit fftdev fifoin filter fract getdirpath getlen getmousehit gettxt getusbprintername gmean gpibclose gpibgeterror gpibinit gpibllo gpiblocal gpibopen gpibread gpibremote gpibtrigger gpibwrite hms_sec_1970 htoi ifnotsignal ifsignal ifwait inetFtpClose inetFtpGetFile inetFtpOpen inetFtpPutFile inetFtpSetDir inetHttpGetFile layout layoutontop layoutprint layoutshow levelcr listbox locate mathdefaultoff mathdefaulton messagebox mod multitask mutation noisesup openftd playsound putimage rand readftd readline revspec sarnixh1 sarnixh2 sec_1970_hms sendmail setdirpath setfilter setlen settxt setxdiv setxtxt setydiv setytxt signaloff signalon starttime stoptime streamoff supp textwcolor tolower trace transf trunc vibrel vorkinh1 vorkinh2 vorkkseek vorkoutdat vxinclear vxindata writeline";

// Rows whose help text is empty.
const char* kEmptyHelp =
    "analogout asciin box clrcursor color draw ifnotsignal ifsignal ifwait inb initcursor inw layoutprint "
    "locate outb outw pid program setcurkey setcursor setpid setsigcol shot signaloff signalon text trigger "
    "filter hms_sec_1970 vorkkseek errorexit and drvoption settxt gpibinit gpibopen gpibclose gpibwrite "
    "gpibread gpiblocal gpibremote gpibtrigger gpibllo gpibgeterror transf inetHttpGetFile inetFtpOpen "
    "inetFtpSetDir inetFtpGetFile inetFtpPutFile inetFtpClose CSVOpen CSVGetAt CSVClose";

TEST(BuiltinTable, HasAllRowsInOrderAndEndsWithANullRow) {
  const auto names = words(kNames);
  ASSERT_EQ(names.size(), static_cast<size_t>(kBuiltinCount));
  const BuiltinEntry* t = builtinTable();
  for (int i = 0; i < kBuiltinCount; ++i) {
    ASSERT_NE(t[i].name, nullptr) << i;
    EXPECT_EQ(t[i].name, names[i]) << "row " << i;
    EXPECT_NE(t[i].run, nullptr) << t[i].name;
    EXPECT_NE(t[i].help, nullptr) << t[i].name;
  }
  EXPECT_EQ(t[kBuiltinCount].name, nullptr);
}

TEST(BuiltinTable, RowsWithoutCheckRoutineAreExactlyTheListedOnes) {
  const auto list = words(kWithoutCheck);
  std::set<std::string> without(list.begin(), list.end());
  for (const BuiltinEntry* e = builtinTable(); e->name; ++e)
    if (without.count(e->name)) {
      EXPECT_EQ(e->check, nullptr) << e->name;
    }
  for (const char* name : {"start", "startw", "run", "stop", "end", "winexit", "mvexit", "waittime", "keyon",
                           "keyoff", "getonkey", "program"}) {
    EXPECT_EQ(without.count(name), 0u) << name;
    EXPECT_NE(findBuiltin(name)->check, nullptr) << name;
  }
}

TEST(BuiltinTable, EmptyHelpTextsAndSomeKnownOnes) {
  for (const auto& name : words(kEmptyHelp)) EXPECT_STREQ(findBuiltin(name)->help, "") << name;
  EXPECT_STREQ(findBuiltin("abs")->help, "(va);va=abs(va)");
  EXPECT_STREQ(findBuiltin("start")->help, "(Prozess);start(i) Startet den angegebenen Prozess vom Anfang an");
  EXPECT_STREQ(findBuiltin("digitalin")->help, "(vi);i=digitalin(vi)");
  // Windows-1252 bytes
  EXPECT_NE(std::string(findBuiltin("analogin")->help).find("L\xE4nge"), std::string::npos);
}

TEST(BuiltinTable, LookupIgnoresCaseAndTakesTheFirstRow) {
  const BuiltinEntry* t = builtinTable();
  EXPECT_EQ(findBuiltin("abs"), &t[0]);
  EXPECT_EQ(findBuiltin("ABS"), &t[0]);
  EXPECT_EQ(findBuiltin("Abs"), &t[0]);
  EXPECT_EQ(findBuiltin("csvopen"), findBuiltin("CSVOpen"));
  EXPECT_STREQ(findBuiltin("inethttpgetfile")->name, "inetHttpGetFile");
  const BuiltinEntry* vibrel = findBuiltin("VIBREL");
  ASSERT_NE(vibrel, nullptr);
  int firstVibrel = -1;
  for (int i = 0; i < kBuiltinCount; ++i)
    if (std::string(t[i].name) == "vibrel") {
      firstVibrel = i;
      break;
    }
  EXPECT_EQ(builtinRow(vibrel), firstVibrel);
  EXPECT_EQ(std::string(t[firstVibrel + 1].name), "vibrel");
  EXPECT_EQ(findBuiltin("abs "), nullptr);
  EXPECT_EQ(findBuiltin(""), nullptr);
  EXPECT_EQ(findBuiltin("nosuch"), nullptr);
  EXPECT_EQ(findBuiltin(std::string(40, 'a')), nullptr);
  for (int i = 0; i < kBuiltinCount; ++i) EXPECT_EQ(builtinRow(findBuiltin(t[i].name)) <= i, true) << t[i].name;
}

TEST(BuiltinTable, PendingRowsRaiseTheNotAvailableError) {
  const auto pending = pendingBuiltins();
  ASSERT_FALSE(pending.empty());
  int notImplemented = 0;
  for (const BuiltinEntry* e = builtinTable(); e->name; ++e) notImplemented += builtinImplemented(*e) ? 0 : 1;
  EXPECT_EQ(static_cast<int>(pending.size()), notImplemented);
  const BuiltinEntry* row = findBuiltin(pending.front());
  ValueStore values;
  RunContext ctx{values};
  Operand ops[1];
  try {
    row->run(ctx, ops, 0);
    FAIL() << "no error raised";
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.number(), kErrBuiltinNotAvailable);
  }
}

TEST(BuiltinTable, ProcessChecks) {
  ValueStore values;
  CompileSettings settings;
  CheckContext ctx{values, settings};
  Operand f, i, s;
  f.word = Operand::makeWord(KindFloat, 1);
  i.word = Operand::makeWord(KindInteger, 1);
  s.word = Operand::makeWord(KindString, 1);
  CheckRoutine mvexit = findBuiltin("mvexit")->check;
  EXPECT_EQ(findBuiltin("winexit")->check, mvexit);
  EXPECT_LT(mvexit(ctx, nullptr, 0), 0);
  EXPECT_EQ(mvexit(ctx, &f, 1), 0);
  EXPECT_EQ(mvexit(ctx, &i, 1), 0);
  EXPECT_LT(mvexit(ctx, &s, 1), 0);
  CheckRoutine program = findBuiltin("program")->check;
  Operand is[2] = {i, s};
  EXPECT_EQ(program(ctx, &s, 1), 0);
  EXPECT_EQ(program(ctx, is, 2), 0);
  EXPECT_LT(program(ctx, is, 1), 0);
  EXPECT_LT(program(ctx, &f, 1), 0);
}

}  // namespace
}  // namespace morvel::lang
