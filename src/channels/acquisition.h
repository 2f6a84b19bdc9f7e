// The interface to the acquisition program: its registered message, its
// window class, its command line and the codes that travel in wParam.
#ifndef MORVEL_CHANNELS_ACQUISITION_H
#define MORVEL_CHANNELS_ACQUISITION_H

#include <string>

namespace acquisition {

// Registered by every program at start; the code travels in wParam.
inline constexpr const char* kMessageName = "DravonView";
// The acquisition program's main window class.
inline constexpr const char* kWindowClass = "DravonWnd";
// The program and its command line: "dravon " followed by a file name.
inline constexpr const char* kProgram = "dravon";
inline std::string CommandLine(const std::string& file) {
  return file.empty() ? std::string(kProgram) : std::string(kProgram) + " " + file;
}

// Codes sent by the main program.
enum Code : int {
  kRunEnded = 4,              // broadcast
  kRunStarted = 17,           // broadcast; also after starting the program with `dravon`
  kStoreStart = 18,           // sent to the window; CommandText names the file; result != 0 on success
  kStoreStop = 19,            // broadcast
  kDocumentLoaded = 20,       // broadcast; CommandText names the .dvw configuration to load
  kDocumentSaved = 21,        // broadcast; CommandText names the .dvw configuration to store
  kMainClosing = 22,          // broadcast while AutoStartDravon is on
  kNextApplicationLoading = 24,
  kNextApplicationStarted = 25,
  kDigitalOutBase = 66,       // + channel, broadcast, lParam = bit pattern
  kDigitalInBase = 98,        // + channel, sent to the window; result = bit pattern
  kDriverOption = 130,        // broadcast, lParam = number
};

// Codes the main program reacts to.
enum MainCode : int { kStartApplication = 1, kStopApplication = 2, kQuitMain = 14 };

// Codes of the signal generator: it starts on 3 or 17 and stops on 4; it
// broadcasts 10, 11, 12, 13 and 1 when it starts and 10 when it stops.
enum GeneratorCode : int {
  kGeneratorStart = 3,
  kGeneratorStop = 4,
  kGeneratorNotice10 = 10,
  kGeneratorNotice11 = 11,
  kGeneratorNotice12 = 12,
  kGeneratorNotice13 = 13,
};

// Digital channels addressed by the 66 + channel and 98 + channel codes
// (the next code block begins at 130).
inline constexpr int kDigitalChannels = 32;
inline constexpr int DigitalOutCode(int channel) { return kDigitalOutBase + channel; }
inline constexpr int DigitalInCode(int channel) { return kDigitalInBase + channel; }

// The channel library's private request to the window in client slot 4.
inline constexpr int kExRequestMessage = 2947;
enum ExRequest : int { kExLoadConfig = 1, kExSetDataPath = 2, kExStart = 3, kExStop = 4 };

// The slot the acquisition program registers in.
inline constexpr int kAcquisitionClient = 4;

}  // namespace acquisition

#endif
