#pragma once
// The application document (.mvl): reading and writing, and the document
// state of the main frame with its side effects (settings, acquisition
// notice, modified flag) behind small interfaces.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/notifier.h"
#include "shell/document_lines.h"

namespace morvel::shell {

class SettingsStore;

inline constexpr int kMaxProcesses = 50;

struct Rect {
  int left = 0, top = 0, right = 0, bottom = 0;
  bool operator==(const Rect&) const = default;
};

struct WindowPlacement {
  Rect normal;
  int minimized = 0;
  int maximized = 0;
  bool operator==(const WindowPlacement&) const = default;
};

struct WatchEntry {
  int type = 0;  // 0 float, 1 integer, 2 string, 3 array
  int index = 0;
  std::string symbol;
  bool operator==(const WatchEntry&) const = default;
};

// The "Program:" section without the blocks that belong to other subsystems.
struct ProgramSection {
  std::string title;
  std::vector<WatchEntry> watches;
  int editMaximize = 0;
  int watchOn = 0, watchAutoOn = 0, watchProcessOn = 0, traceOn = 0;
  Rect debugEditPos, watchPos, watchAutoPos, showArray, watchProcessPos, searchResultPos, tracePos;
  std::vector<std::string> processes;  // Windows-1252 bytes, LF line ends, final LF
  std::vector<std::pair<int, int>> openEditors;  // process number, caret position
};

// A kind of section whose contents belong to another subsystem (layouts,
// user dialogs). The document reader hands it the key line that opened a
// block; the handler reads the block's lines. The writer asks it to write all
// of its blocks, key lines included.
class SectionHandler {
 public:
  virtual ~SectionHandler() = default;
  virtual void clear() = 0;
  virtual void read(const std::string& keyLine, LineReader& in) = 0;
  virtual void write(LineWriter& out) const = 0;
};

// Keeps blocks as the lines read, so that loading and saving a document
// preserves sections that no subsystem interprets yet.
class OpaqueBlocks : public SectionHandler {
 public:
  // A block ends after a line matching `endKey`, or (with an empty endKey)
  // before the next line matching `stopKey` or at the end of the file.
  OpaqueBlocks(std::string endKey, std::string stopKey) : end_(std::move(endKey)), stop_(std::move(stopKey)) {}
  void clear() override { blocks_.clear(); }
  void read(const std::string& keyLine, LineReader& in) override;
  void write(LineWriter& out) const override;
  const std::vector<std::vector<std::string>>& blocks() const { return blocks_; }
  std::vector<std::vector<std::string>>& blocks() { return blocks_; }

 private:
  std::string end_, stop_;
  std::vector<std::vector<std::string>> blocks_;
};

// Notices for the user ("Kann File nicht öffnen") go through a Notifier;
// headless they appear on standard error as "Message: TEXT".
using MessageSink = morvel::Notifier;

// The acquisition program's side of loading and saving.
class AcquisitionNotice {
 public:
  virtual ~AcquisitionNotice() = default;
  virtual void writeCommand(const std::string& text) = 0;  // the channel library's text command
  virtual void broadcast(int code) = 0;                    // the notification message
};

inline constexpr int kNoticeDocumentLoaded = 20;
inline constexpr int kNoticeDocumentSaved = 21;

// Everything a document holds. The program section is read here; the
// window placement, palette and text-macro setting are plain values that the
// desktop program applies; layouts and dialog definitions go to handlers.
class Document {
 public:
  Document();

  bool hasPlacement = false;
  WindowPlacement placement;
  bool textMacros = false;
  bool hasColors = false;
  std::array<int32_t, 16> colors{};
  ProgramSection program;

  // Handlers for "Layout:" sections and "DialogResource:" blocks. By default
  // they keep the lines as read; later subsystems install their own.
  void setLayoutHandler(std::shared_ptr<SectionHandler> h) { layouts_ = std::move(h); }
  void setDialogHandler(std::shared_ptr<SectionHandler> h) { dialogs_ = std::move(h); }
  SectionHandler& layouts() { return *layouts_; }
  SectionHandler& dialogs() { return *dialogs_; }

  // Removes program, layouts and dialogs (handlers stay installed).
  void clear();

  // Reads a document. `key` is the document key (0 = none). Processes past
  // the 50th are dropped with a message to `messages` (may be null).
  void read(LineReader& in, int32_t key, MessageSink* messages);
  // Writes the whole document; scrambled when key != 0.
  void write(LineWriter& out, int32_t key) const;

 private:
  void readProgram(LineReader& in, int32_t key, MessageSink* messages);
  std::shared_ptr<SectionHandler> layouts_;
  std::shared_ptr<SectionHandler> dialogs_;
};

// A process text as stored: CR LF pairs become LF and the text ends with LF.
std::string normaliseProcessText(const std::string& text);

// The document state of the main frame and the commands that load, save and
// back up the document.
class DocumentState {
 public:
  struct Ports {
    SettingsStore* settings = nullptr;
    AcquisitionNotice* acquisition = nullptr;
    MessageSink* messages = nullptr;
  };
  DocumentState(Document& doc, std::string programDir, Ports ports);

  const std::string& fileName() const { return fileName_; }  // with path
  std::string directory() const;
  std::string fileNamePart() const;
  bool modified() const { return modified_; }
  void setModified(bool m) { modified_ = m; }
  std::string windowTitle() const;  // "Morvel - name.mvl*"

  int32_t key() const { return key_; }
  void setKey(int32_t key) { key_ = key; }

  // Writes the document to `fileName` through a temporary file in the same
  // folder, renamed over the target when complete. On failure reports
  // "Kann File nicht öffnen", leaves the old file and changes nothing else.
  bool saveDocument(const std::string& fileName, bool remember, bool scramble);
  // Removes the current program and layouts and reads `fileName`.
  bool loadDocument(const std::string& fileName, bool interactive, bool informAcquisition);

  // Before a run: copies the current document file to Backup.mvl in the
  // program directory.
  bool backupBeforeRun();
  // "Öffnen Backup": loads Backup.mvl; the current name becomes
  // Unbenannt.mvl in the program directory.
  bool openBackup();
  // New program: current name Unbenannt.mvl, everything removed.
  void newDocument();

  std::string backupPath() const;
  std::string untitledPath() const;

 private:
  void message(const std::string& text);
  Document& doc_;
  std::string programDir_;
  Ports ports_;
  std::string fileName_;
  bool modified_ = false;
  int32_t key_ = 0;
};

// "name.mvl" -> "name.dvw" (also ".MVL"); other names are returned unchanged.
std::string configurationNameFor(const std::string& documentName);

}  // namespace morvel::shell
