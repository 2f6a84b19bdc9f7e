#include "shell/document.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "shell/scramble.h"
#include "shell/settings.h"

namespace fs = std::filesystem;
using namespace morvel::shell;

namespace {

struct RecordingNotice : AcquisitionNotice {
  std::vector<std::string> commands;
  std::vector<int> codes;
  void writeCommand(const std::string& t) override { commands.push_back(t); }
  void broadcast(int code) override { codes.push_back(code); }
};

struct RecordingMessages : MessageSink {
  std::vector<std::string> texts;
  void message(std::string_view t) override { texts.emplace_back(t); }
};

std::string readFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void writeFile(const fs::path& p, const std::string& s) {
  std::ofstream out(p, std::ios::binary);
  out << s;
}

class DocumentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/morvel-doc-XXXXXX";
    dir = mkdtemp(tmpl);
    unsetenv("MORVEL_DOCUMENT_KEY");
  }
  void TearDown() override { fs::remove_all(dir); }

  // A document with everything the format holds.
  static void fill(Document& d) {
    d.hasPlacement = true;
    d.placement = {{10, 20, 810, 620}, 0, 1};
    d.textMacros = true;
    d.hasColors = true;
    for (int i = 0; i < 16; ++i) d.colors[static_cast<size_t>(i)] = i * 0x111111 - 3;
    d.program.title = "Pr\xFC" "fstand 3";
    d.program.watches = {{0, 12, ""}, {3, 0, "spektrum"}};
    d.program.watchOn = 1;
    d.program.watchAutoOn = 1;
    d.program.tracePos = {1, 2, 3, 4};
    d.program.processes = {"*Start\nv1 = 1\n", "*Prozess1\ns1 = \"Gr\xFC\xDF" "e \xE4\xF6\"\n",
                           "*End\nv2 = v1 + 1"};
    d.program.openEditors = {{1, 17}, {2, 0}};
    auto& dialogs = static_cast<OpaqueBlocks&>(d.dialogs());
    dialogs.blocks() = {{"DialogResource:", "DialogName:Eingabe", "Feld:Integer,Anzahl,Stk", "End:"},
                        {"DialogResource:", "DialogName:Zweiter", "End:"}};
    auto& layouts = static_cast<OpaqueBlocks&>(d.layouts());
    layouts.blocks() = {{"Layout:", "Name:Haupt", "DiagTyp:1", "PropertiesDiag:", "End:", "End:", "End:"},
                        {"Layout:", "Name:Zwei", "End:"}};
  }

  fs::path dir;
  IniSettings settings;
  RecordingNotice notice;
  RecordingMessages messages;
};

TEST_F(DocumentTest, RoundTripIsByteForByte) {
  Document a;
  fill(a);
  DocumentState sa(a, dir, {&settings, &notice, &messages});
  ASSERT_TRUE(sa.saveDocument((dir / "one.mvl").string(), true, true));
  std::string first = readFile(dir / "one.mvl");
  EXPECT_NE(first.find("\r\n"), std::string::npos);
  EXPECT_EQ(first.find("\n\n"), std::string::npos);  // every line ends with CR LF

  Document b;
  DocumentState sb(b, dir, {&settings, &notice, &messages});
  ASSERT_TRUE(sb.loadDocument((dir / "one.mvl").string(), true, true));
  EXPECT_EQ(b.placement, a.placement);
  EXPECT_EQ(b.colors, a.colors);
  EXPECT_TRUE(b.textMacros);
  EXPECT_EQ(b.program.title, a.program.title);
  EXPECT_EQ(b.program.watches, a.program.watches);
  EXPECT_EQ(b.program.tracePos, a.program.tracePos);
  EXPECT_EQ(b.program.openEditors, a.program.openEditors);
  ASSERT_EQ(b.program.processes.size(), 3u);
  EXPECT_EQ(b.program.processes[1], a.program.processes[1]);
  EXPECT_EQ(b.program.processes[2], "*End\nv2 = v1 + 1\n");  // final line break added
  EXPECT_EQ(static_cast<OpaqueBlocks&>(b.dialogs()).blocks(), static_cast<OpaqueBlocks&>(a.dialogs()).blocks());
  EXPECT_EQ(static_cast<OpaqueBlocks&>(b.layouts()).blocks(), static_cast<OpaqueBlocks&>(a.layouts()).blocks());

  ASSERT_TRUE(sb.saveDocument((dir / "two.mvl").string(), true, true));
  EXPECT_EQ(readFile(dir / "two.mvl"), first);
}

TEST_F(DocumentTest, ReadsLfOnlyFilesAndIgnoresUnknownLines) {
  writeFile(dir / "lf.mvl",
            "Zukunft:42\nPelkatTextMacro:1\nProgram:\nTitle:T\nbWatchAuto:1\nNeuesFeld:x\n"
            "$Prozess:\n*Start\r\nv1 = 2\n$ProzessEnde:\nEnd:\n");
  Document d;
  DocumentState s(d, dir, {&settings, &notice, &messages});
  ASSERT_TRUE(s.loadDocument((dir / "lf.mvl").string(), true, false));
  EXPECT_FALSE(d.hasPlacement);  // a missing WindowPlc: leaves the window alone
  EXPECT_TRUE(d.textMacros);
  EXPECT_EQ(d.program.watchAutoOn, 1);
  EXPECT_EQ(d.program.watchOn, 0);  // bWatchAuto:1 is not bWatch:
  ASSERT_EQ(d.program.processes.size(), 1u);
  EXPECT_EQ(d.program.processes[0], "*Start\nv1 = 2\n");
}

TEST_F(DocumentTest, LongLinesComeBackWhole) {
  Document a;
  std::string longLine = "s1 = \"" + std::string(5000, 'x') + "\"";
  a.program.processes = {"*Start\n" + longLine + "\n"};
  a.program.title = std::string(600, 'T');
  DocumentState sa(a, dir, {});
  for (int32_t key : {0, 777}) {
    sa.setKey(key);
    ASSERT_TRUE(sa.saveDocument((dir / "long.mvl").string(), false, true));
    Document b;
    DocumentState sb(b, dir, {});
    sb.setKey(key);
    ASSERT_TRUE(sb.loadDocument((dir / "long.mvl").string(), false, false));
    ASSERT_EQ(b.program.processes.size(), 1u);
    EXPECT_EQ(b.program.processes[0], a.program.processes[0]) << key;
    EXPECT_EQ(b.program.title, a.program.title);
  }
}

TEST_F(DocumentTest, ScrambledProcesses) {
  std::string text = "*Prozess1\n";
  while (text.size() < 1000) text += "v1 = v1 + 1 ; z\xE4hlen\n";
  text.resize(999);
  text += '\n';
  for (int32_t key : {12345, 2147483647, 29826162, 1}) {
    Document a;
    a.program.processes = {text, text};
    DocumentState sa(a, dir, {});
    sa.setKey(key);
    ASSERT_TRUE(sa.saveDocument((dir / "s.mvl").string(), false, true));
    std::string file = readFile(dir / "s.mvl");
    EXPECT_EQ(file.find("v1 = v1"), std::string::npos) << key;
    EXPECT_NE(file.find("$PrKd:2000\r\n"), std::string::npos) << key;

    Document b;
    DocumentState sb(b, dir, {});
    sb.setKey(key);
    ASSERT_TRUE(sb.loadDocument((dir / "s.mvl").string(), false, false));
    ASSERT_EQ(b.program.processes.size(), 2u);
    EXPECT_EQ(b.program.processes[0], text) << key;
    EXPECT_EQ(b.program.processes[1], text) << key;

    // Process 0 and process 1 of the same text give different hex lines.
    std::string p0 = text, p1 = text;
    scrambleText(p0, key, 0);
    scrambleText(p1, key, 1);
    EXPECT_NE(toHex(p0), toHex(p1));

    // Without the key the process shows the hexadecimal line.
    Document c;
    DocumentState sc(c, dir, {});
    sc.setKey(0);
    ASSERT_TRUE(sc.loadDocument((dir / "s.mvl").string(), false, false));
    ASSERT_EQ(c.program.processes.size(), 2u);
    EXPECT_EQ(c.program.processes[0], toHex(p0) + "\n");
  }
}

TEST_F(DocumentTest, ScrambleIndexStaysInTableForEveryKey) {
  // Keys whose 32-bit product wraps negative must still work (the sanitizer
  // build catches an index outside the table).
  for (int32_t key : {INT32_MAX, INT32_MIN, -1, -12345, 29826161, 1 << 30}) {
    for (int process = 0; process < 50; ++process) {
      std::string t(300, 'a'), u = t;
      scrambleText(u, key, process);
      scrambleText(u, key, process);
      EXPECT_EQ(u, t);
    }
  }
}

TEST_F(DocumentTest, MismatchedScrambledLineIsKeptAsText) {
  writeFile(dir / "bad.mvl",
            "Program:\n$PrKd:10\nzz11\n$ProzessEnde:\n$PrKd:8\n0a0b\n$ProzessEnde:\nEnd:\n");
  Document d;
  DocumentState s(d, dir, {});
  s.setKey(99);
  ASSERT_TRUE(s.loadDocument((dir / "bad.mvl").string(), false, false));
  ASSERT_EQ(d.program.processes.size(), 2u);
  EXPECT_EQ(d.program.processes[0], "zz11\n");
  EXPECT_EQ(d.program.processes[1], "0a0b\n");
}

TEST_F(DocumentTest, MoreThanFiftyProcessesAreRefused) {
  std::string doc = "Program:\n";
  for (int i = 0; i < 53; ++i) doc += "$Prozess:\n*P" + std::to_string(i) + "\n$ProzessEnde:\n";
  doc += "End:\n";
  writeFile(dir / "many.mvl", doc);
  Document d;
  DocumentState s(d, dir, {nullptr, nullptr, &messages});
  ASSERT_TRUE(s.loadDocument((dir / "many.mvl").string(), true, false));
  EXPECT_EQ(d.program.processes.size(), 50u);
  EXPECT_EQ(d.program.processes[49], "*P49\n");
  ASSERT_EQ(messages.texts.size(), 1u);
  EXPECT_NE(messages.texts[0].find("50"), std::string::npos);
}

TEST_F(DocumentTest, SaveSideEffects) {
  settings.setInteger("Window size", "AutoStartDravon", 1);
  Document d;
  fill(d);
  DocumentState s(d, dir.string(), {&settings, &notice, &messages});
  EXPECT_EQ(s.fileNamePart(), "Unbenannt.mvl");
  s.setModified(true);
  EXPECT_EQ(s.windowTitle(), "Morvel - Unbenannt.mvl*");

  std::string target = (dir / "Versuch.MVL").string();
  ASSERT_TRUE(s.saveDocument(target, false, true));  // not remembered
  EXPECT_TRUE(s.modified());
  EXPECT_EQ(settings.text("Einstellungen", "LastPathAndName"), "");
  ASSERT_EQ(notice.commands.size(), 1u);
  EXPECT_EQ(notice.commands[0], (dir / "Versuch.dvw").string());
  EXPECT_EQ(notice.codes, std::vector<int>{21});

  ASSERT_TRUE(s.saveDocument(target, true, true));
  EXPECT_FALSE(s.modified());
  EXPECT_EQ(settings.text("Einstellungen", "LastPathAndName"), target);
  EXPECT_EQ(s.windowTitle(), "Morvel - Versuch.MVL");

  notice = {};
  Document e;
  DocumentState t(e, dir.string(), {&settings, &notice, &messages});
  ASSERT_TRUE(t.loadDocument(target, true, true));
  EXPECT_EQ(notice.codes, std::vector<int>{20});
  settings.setInteger("Window size", "AutoStartDravon", 0);
  ASSERT_TRUE(t.loadDocument(target, true, true));
  EXPECT_EQ(notice.codes, std::vector<int>{20});  // no notice without AutoStartDravon
}

TEST_F(DocumentTest, FailedSaveKeepsOldFileAndChangesNothing) {
  Document d;
  fill(d);
  DocumentState s(d, dir.string(), {&settings, &notice, &messages});
  fs::create_directory(dir / "ro");
  std::string target = (dir / "ro" / "doc.mvl").string();
  writeFile(target, "old contents");
  s.setModified(true);
  chmod((dir / "ro").c_str(), 0555);
  bool asRoot = geteuid() == 0;
  bool ok = s.saveDocument(target, true, true);
  chmod((dir / "ro").c_str(), 0755);
  if (asRoot) {
    // Root may write anywhere; use a folder that does not exist instead.
    EXPECT_TRUE(ok);
    messages.texts.clear();
    notice = {};
    s.setModified(true);
    ok = s.saveDocument((dir / "missing" / "doc.mvl").string(), true, true);
  } else {
    EXPECT_EQ(readFile(target), "old contents");
  }
  EXPECT_FALSE(ok);
  ASSERT_EQ(messages.texts.size(), 1u);
  EXPECT_EQ(messages.texts[0], "Kann File nicht \xF6" "ffnen");
  EXPECT_TRUE(s.modified());
  EXPECT_TRUE(notice.commands.empty());
  EXPECT_TRUE(notice.codes.empty());
  // No temporary file is left behind.
  for (auto& e : fs::directory_iterator(dir / "ro")) EXPECT_EQ(e.path().filename(), "doc.mvl");
}

TEST_F(DocumentTest, LoadFailureReportsInteractively) {
  Document d;
  d.program.processes = {"*Start\n"};
  DocumentState s(d, dir.string(), {&settings, &notice, &messages});
  EXPECT_FALSE(s.loadDocument((dir / "nix.mvl").string(), false, false));
  EXPECT_TRUE(messages.texts.empty());
  EXPECT_TRUE(d.program.processes.empty());  // already removed
  EXPECT_FALSE(s.loadDocument((dir / "nix.mvl").string(), true, false));
  ASSERT_EQ(messages.texts.size(), 1u);
  EXPECT_EQ(messages.texts[0], "Kann " + (dir / "nix.mvl").string() + " nicht \xF6" "ffnen");
}

TEST_F(DocumentTest, BackupRules) {
  Document d;
  fill(d);
  DocumentState s(d, dir.string(), {&settings, &notice, &messages});
  std::string doc = (dir / "a.mvl").string();
  ASSERT_TRUE(s.saveDocument(doc, true, true));
  ASSERT_TRUE(s.backupBeforeRun());
  EXPECT_EQ(readFile(s.backupPath()), readFile(doc));

  Document e;
  DocumentState t(e, dir.string(), {&settings, &notice, &messages});
  ASSERT_TRUE(t.openBackup());
  EXPECT_EQ(e.program.processes.size(), 3u);
  EXPECT_EQ(t.fileName(), (dir / "Unbenannt.mvl").string());

  t.newDocument();
  EXPECT_EQ(e.program.processes, (std::vector<std::string>{"*Start\n", "*Prozess1\n", "*End\n"}));
}

TEST(DocumentNames, ConfigurationName) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {{"/x/a.mvl", "/x/a.dvw"}, {"A.MVL", "A.dvw"}, {"a.Mvl", "a.Mvl"}, {"/x.mvl/a", "/x.mvl/a"}};
  for (auto& c : cases) EXPECT_EQ(configurationNameFor(c.in), c.out) << c.in;
}

TEST(Settings, IniFileRoundTripAndDocumentKey) {
  char tmpl[] = "/tmp/morvel-ini-XXXXXX";
  fs::path dir = mkdtemp(tmpl);
  {
    IniSettings s((dir / "m.conf").string());
    s.setText("Window size", "Rechteck", "0010 0010 0500 0400");
    s.setInteger("Einstellungen", "DocumentKey", 4711);
    ASSERT_TRUE(s.save());
  }
  IniSettings r((dir / "m.conf").string());
  EXPECT_EQ(r.text("Window size", "Rechteck"), "0010 0010 0500 0400");
  EXPECT_NE(readFile(dir / "m.conf").find("[Window%20size]"), std::string::npos);
  unsetenv("MORVEL_DOCUMENT_KEY");
  EXPECT_EQ(documentKey(r), 4711);
  setenv("MORVEL_DOCUMENT_KEY", "12", 1);
  EXPECT_EQ(documentKey(r), 12);
  unsetenv("MORVEL_DOCUMENT_KEY");
  fs::remove_all(dir);
}

}  // namespace
