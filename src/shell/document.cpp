#include "shell/document.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/cnumber.h"
#include "shell/scramble.h"
#include "shell/settings.h"

namespace morvel::shell {
namespace {

using platform::formatC;

int toInt(std::string_view v) { return platform::atoiC(std::string(v).c_str()); }

// Reads "%d,%d,%d,%d" (or blank separated) into a rectangle.
Rect parseRect(std::string_view v) {
  std::string s(v);
  const char* p = s.c_str();
  int values[4] = {0, 0, 0, 0};
  for (int& x : values) {
    const char* end = p;
    x = platform::strtolC(p, &end);
    p = end;
    if (*p == ',') ++p;
  }
  return {values[0], values[1], values[2], values[3]};
}

std::string rectText(const char* key, const Rect& r) {
  return formatC("%s%d,%d,%d,%d", key, r.left, r.top, r.right, r.bottom);
}

std::string stripExtension(const std::string& name, std::string& ext) {
  auto slash = name.find_last_of('/');
  auto dot = name.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
    ext.clear();
    return name;
  }
  ext = name.substr(dot);
  return name.substr(0, dot);
}

}  // namespace

// ---------------------------------------------------------------- OpaqueBlocks

void OpaqueBlocks::read(const std::string& keyLine, LineReader& in) {
  std::vector<std::string> block{keyLine};
  std::string line;
  while (in.next(line)) {
    if (end_.empty() && matchKey(line, stop_)) {
      in.unread(std::move(line));
      break;
    }
    bool isEnd = !end_.empty() && matchKey(line, end_);
    block.push_back(std::move(line));
    if (isEnd) break;
  }
  blocks_.push_back(std::move(block));
}

void OpaqueBlocks::write(LineWriter& out) const {
  for (const auto& block : blocks_)
    for (const auto& l : block) out.line(l);
}

// ---------------------------------------------------------------- Document

Document::Document()
    : layouts_(std::make_shared<OpaqueBlocks>("", "Layout:")),
      dialogs_(std::make_shared<OpaqueBlocks>("End:", "")) {}

void Document::clear() {
  hasPlacement = false;
  placement = {};
  textMacros = false;
  hasColors = false;
  colors = {};
  program = {};
  layouts_->clear();
  dialogs_->clear();
}

std::string normaliseProcessText(const std::string& text) {
  std::string out;
  out.reserve(text.size() + 1);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out.push_back(text[i]);
  }
  if (out.empty() || out.back() != '\n') out.push_back('\n');
  return out;
}

void Document::read(LineReader& in, int32_t key, MessageSink* messages) {
  std::string line;
  std::string_view v;
  while (in.next(line)) {
    if (matchKey(line, "WindowPlc:", &v)) {
      std::string s(v);
      int values[6] = {0, 0, 0, 0, 0, 0};
      const char* p = s.c_str();
      for (int& x : values) {
        const char* end = p;
        x = platform::strtolC(p, &end);
        p = end;
      }
      placement = {{values[0], values[1], values[2], values[3]}, values[4], values[5]};
      hasPlacement = true;
    } else if (matchKey(line, "PelkatTextMacro:", &v)) {
      textMacros = toInt(v) != 0;
    } else if (matchKey(line, "Color:", &v)) {
      // Sixteen numbers like strtol, each after one separator character
      // (the first follows the colon directly).
      std::string s(v);
      const char* p = s.c_str();
      for (size_t i = 0; i < colors.size(); ++i) {
        if (i > 0 && *p) ++p;
        const char* end = p;
        colors[i] = platform::strtolC(p, &end);
        p = end;
      }
      hasColors = true;
    } else if (matchKey(line, "Program:")) {
      readProgram(in, key, messages);
    } else if (matchKey(line, "Layout:")) {
      layouts_->read(line, in);
    }
  }
}

void Document::readProgram(LineReader& in, int32_t key, MessageSink* messages) {
  std::string line;
  std::string_view v;
  bool warned = false;
  auto addProcess = [&](std::string text) {
    if (program.processes.size() >= static_cast<size_t>(kMaxProcesses)) {
      if (!warned && messages)
        messages->message(formatC("Mehr als %d Prozesse: die weiteren Prozesse werden nicht geladen",
                                  kMaxProcesses));
      warned = true;
      return;
    }
    program.processes.push_back(std::move(text));
  };
  auto readPlain = [&](std::string text) {
    std::string l;
    while (in.next(l)) {
      if (matchKey(l, "$ProzessEnde:")) break;
      text += l;
      text += '\n';
    }
    addProcess(std::move(text));
  };
  while (in.next(line)) {
    if (matchKey(line, "End:")) return;
    if (matchKey(line, "Title:", &v)) {
      program.title = std::string(v);
    } else if (matchKey(line, "Watch:")) {
      WatchEntry w;
      std::string l;
      while (in.next(l)) {
        if (matchKey(l, "End:")) break;
        if (matchKey(l, "Typ:", &v))
          w.type = toInt(v);
        else if (matchKey(l, "Index:", &v))
          w.index = toInt(v);
        else if (matchKey(l, "Symbol:", &v))
          w.symbol = std::string(v);
      }
      program.watches.push_back(std::move(w));
    } else if (matchKey(line, "EditMaximize:", &v)) {
      program.editMaximize = toInt(v);
    } else if (matchKey(line, "bWatch:", &v)) {
      program.watchOn = toInt(v);
    } else if (matchKey(line, "bWatchAuto:", &v)) {
      program.watchAutoOn = toInt(v);
    } else if (matchKey(line, "bWatchProzess:", &v)) {
      program.watchProcessOn = toInt(v);
    } else if (matchKey(line, "bTrace:", &v)) {
      program.traceOn = toInt(v);
    } else if (matchKey(line, "DebugEditPos:", &v)) {
      program.debugEditPos = parseRect(v);
    } else if (matchKey(line, "WatchPos:", &v)) {
      program.watchPos = parseRect(v);
    } else if (matchKey(line, "WatchAutoPos:", &v)) {
      program.watchAutoPos = parseRect(v);
    } else if (matchKey(line, "ShowArray:", &v)) {
      program.showArray = parseRect(v);
    } else if (matchKey(line, "WatchProzessPos:", &v)) {
      program.watchProcessPos = parseRect(v);
    } else if (matchKey(line, "SearchResultPos:", &v)) {
      program.searchResultPos = parseRect(v);
    } else if (matchKey(line, "TracePos:", &v)) {
      program.tracePos = parseRect(v);
    } else if (matchKey(line, "$Prozess:")) {
      readPlain({});
    } else if (matchKey(line, "$PrKd:", &v)) {
      int count = toInt(v);
      if (count == 0 || key == 0) {
        // Without a key the block is read as plain text: the process shows
        // its hexadecimal line.
        readPlain({});
        continue;
      }
      std::string hex;
      if (!in.next(hex)) break;
      auto bytes = fromHex(hex);
      if (!bytes || static_cast<int64_t>(hex.size()) != count) {
        // Not the scrambled line the count announces: keep what is there.
        if (matchKey(hex, "$ProzessEnde:"))
          addProcess({});
        else
          readPlain(hex + "\n");
        continue;
      }
      scrambleText(*bytes, key, static_cast<int>(program.processes.size()));
      addProcess(std::move(*bytes));
      // The "$ProzessEnde:" line that follows is skipped as an unknown line.
    } else if (matchKey(line, "EditPrnr:", &v)) {
      std::string s(v);
      const char* end = nullptr;
      int nr = platform::strtolC(s.c_str(), &end);
      if (*end == ',') ++end;
      int pos = platform::strtolC(end);
      program.openEditors.emplace_back(nr, pos);
    } else if (matchKey(line, "DialogResource:")) {
      dialogs_->read(line, in);
    }
  }
}

void Document::write(LineWriter& out, int32_t key) const {
  // Documents without a stored placement still get a line, as the desktop
  // program always has one; a zero rectangle means "leave the window".
  out.line(formatC("WindowPlc:%d %d %d %d %d %d", placement.normal.left, placement.normal.top,
                   placement.normal.right, placement.normal.bottom, placement.minimized, placement.maximized));
  out.line(formatC("PelkatTextMacro:%d", textMacros ? 1 : 0));
  std::string c = "Color:";
  for (size_t i = 0; i < colors.size(); ++i) {
    if (i) c += ',';
    c += std::to_string(colors[i]);
  }
  out.line(c);

  const ProgramSection& p = program;
  out.line("Program:");
  out.line("Title:" + p.title);
  for (const auto& w : p.watches) {
    out.line("Watch:");
    out.line(formatC("Typ:%d", w.type));
    out.line(formatC("Index:%d", w.index));
    out.line("Symbol:" + w.symbol);
    out.line("End:");
  }
  out.line(formatC("EditMaximize:%d", p.editMaximize));
  out.line(formatC("bWatch:%d", p.watchOn));
  out.line(formatC("bWatchAuto:%d", p.watchAutoOn));
  out.line(formatC("bWatchProzess:%d", p.watchProcessOn));
  out.line(formatC("bTrace:%d", p.traceOn));
  out.line(rectText("DebugEditPos:", p.debugEditPos));
  out.line(rectText("WatchPos:", p.watchPos));
  out.line(rectText("WatchAutoPos:", p.watchAutoPos));
  out.line(rectText("ShowArray:", p.showArray));
  out.line(rectText("WatchProzessPos:", p.watchProcessPos));
  out.line(rectText("SearchResultPos:", p.searchResultPos));
  out.line(rectText("TracePos:", p.tracePos));
  out.line("Title:" + p.title);
  for (size_t i = 0; i < p.processes.size(); ++i) {
    std::string text = normaliseProcessText(p.processes[i]);
    if (key != 0) {
      scrambleText(text, key, static_cast<int>(i));
      std::string hex = toHex(text);
      out.line(formatC("$PrKd:%zu", hex.size()));
      out.line(hex);
    } else {
      out.line("$Prozess:");
      size_t start = 0;
      while (start < text.size()) {
        size_t lf = text.find('\n', start);
        out.line(std::string_view(text).substr(start, lf - start));
        start = lf + 1;
      }
    }
    out.line("$ProzessEnde:");
  }
  for (const auto& [nr, pos] : p.openEditors) out.line(formatC("EditPrnr:%d,%d", nr, pos));
  dialogs_->write(out);
  out.line("End:");
  layouts_->write(out);
}

// ---------------------------------------------------------------- DocumentState

std::string configurationNameFor(const std::string& name) {
  std::string ext;
  std::string base = stripExtension(name, ext);
  if (ext == ".mvl" || ext == ".MVL") return base + ".dvw";
  return name;
}

DocumentState::DocumentState(Document& doc, std::string programDir, Ports ports)
    : doc_(doc), programDir_(std::move(programDir)), ports_(ports) {
  if (!programDir_.empty() && programDir_.back() == '/') programDir_.pop_back();
  fileName_ = untitledPath();
  if (ports_.settings) key_ = documentKey(*ports_.settings);
}

std::string DocumentState::backupPath() const { return programDir_ + "/Backup.mvl"; }
std::string DocumentState::untitledPath() const { return programDir_ + "/Unbenannt.mvl"; }

std::string DocumentState::directory() const {
  auto slash = fileName_.find_last_of('/');
  return slash == std::string::npos ? std::string(".") : fileName_.substr(0, slash);
}

std::string DocumentState::fileNamePart() const {
  auto slash = fileName_.find_last_of('/');
  return slash == std::string::npos ? fileName_ : fileName_.substr(slash + 1);
}

std::string DocumentState::windowTitle() const {
  return "Morvel - " + fileNamePart() + (modified_ ? "*" : "");
}

void DocumentState::message(const std::string& text) {
  if (ports_.messages) ports_.messages->message(text);
}

bool DocumentState::saveDocument(const std::string& fileName, bool remember, bool scramble) {
  const std::string failure = "Kann File nicht \xF6" "ffnen";
  std::string dir = ".";
  if (auto slash = fileName.find_last_of('/'); slash != std::string::npos) dir = fileName.substr(0, slash + 1);
  std::string tmpl = (dir == "." ? std::string("./") : dir) + ".mvl-save-XXXXXX";
  int fd = mkstemp(tmpl.data());
  if (fd < 0) {
    message(failure);
    return false;
  }
  // Keep the permissions of an existing document (mkstemp creates 0600).
  struct stat st {};
  mode_t mode = 0644;
  if (stat(fileName.c_str(), &st) == 0) mode = st.st_mode & 07777;
  fchmod(fd, mode);
  std::FILE* f = fdopen(fd, "wb");
  if (!f) {
    close(fd);
    unlink(tmpl.c_str());
    message(failure);
    return false;
  }
  LineWriter out(f);
  doc_.write(out, scramble ? key_ : 0);
  bool ok = out.ok() && std::fflush(f) == 0 && fsync(fileno(f)) == 0;
  ok = std::fclose(f) == 0 && ok;
  if (!ok || std::rename(tmpl.c_str(), fileName.c_str()) != 0) {
    unlink(tmpl.c_str());
    message(failure);
    return false;
  }
  if (remember) {
    fileName_ = fileName;
    modified_ = false;
    if (ports_.settings) ports_.settings->setText("Einstellungen", "LastPathAndName", fileName);
  }
  if (ports_.acquisition) {
    ports_.acquisition->writeCommand(configurationNameFor(fileName));
    ports_.acquisition->broadcast(kNoticeDocumentSaved);
  }
  return true;
}

bool DocumentState::loadDocument(const std::string& fileName, bool interactive, bool informAcquisition) {
  doc_.clear();
  std::FILE* f = fileName.empty() ? nullptr : std::fopen(fileName.c_str(), "rb");
  if (!f) {
    if (interactive && !fileName.empty()) message(formatC("Kann %s nicht \xF6" "ffnen", fileName.c_str()));
    return false;
  }
  LineReader in(f);
  doc_.read(in, key_, ports_.messages);
  std::fclose(f);
  fileName_ = fileName;
  modified_ = false;
  if (ports_.settings) ports_.settings->setText("Einstellungen", "LastPathAndName", fileName);
  if (informAcquisition && ports_.acquisition && ports_.settings &&
      ports_.settings->integer("Window size", "AutoStartDravon", 0) != 0) {
    ports_.acquisition->writeCommand(configurationNameFor(fileName));
    ports_.acquisition->broadcast(kNoticeDocumentLoaded);
  }
  return true;
}

bool DocumentState::backupBeforeRun() {
  std::FILE* in = std::fopen(fileName_.c_str(), "rb");
  if (!in) return false;
  std::string tmp = backupPath() + ".tmp";
  std::FILE* out = std::fopen(tmp.c_str(), "wb");
  if (!out) {
    std::fclose(in);
    return false;
  }
  char buf[65536];
  size_t n;
  bool ok = true;
  while ((n = std::fread(buf, 1, sizeof buf, in)) > 0)
    if (std::fwrite(buf, 1, n, out) != n) ok = false;
  ok = !std::ferror(in) && ok;
  std::fclose(in);
  ok = std::fclose(out) == 0 && ok;
  if (!ok || std::rename(tmp.c_str(), backupPath().c_str()) != 0) {
    std::remove(tmp.c_str());
    return false;
  }
  return true;
}

bool DocumentState::openBackup() {
  bool ok = loadDocument(backupPath(), true, false);
  fileName_ = untitledPath();
  return ok;
}

void DocumentState::newDocument() {
  doc_.clear();
  doc_.program.processes = {"*Start\n", "*Prozess1\n", "*End\n"};
  fileName_ = untitledPath();
  modified_ = false;
}

}  // namespace morvel::shell
