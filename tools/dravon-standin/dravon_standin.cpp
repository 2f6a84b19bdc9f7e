// dravon-standin: a small acquisition program for tests and demonstrations.
//
// It attaches the channel library, opens a "DravonWnd" endpoint, registers it
// in client slot 4, defines channels and writes samples when told so on
// standard input, answers code 18 and 98 + channel of the "DravonView"
// message and logs every message it receives. See usage() for the options.
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "channels/acquisition.h"
#include "channels/dvdll.h"
#include "wndmsg/wndmsg.h"

namespace {

struct Channel {
  int pchan;
  double interval;
  double phase = 0;     // sine position in samples
  uint32_t counter = 0; // next counter value
};

struct State {
  std::vector<Channel> channels;
  intptr_t result18 = 1;
  intptr_t bits_default = 0;
  std::map<int, intptr_t> bits;
  uint32_t view_msg = 0;
  FILE* log = stdout;
  bool quit = false;
};

State g;

void usage() {
  fprintf(stderr,
          "Aufruf: dravon-standin [Optionen] [Konfigurationsdatei]\n"
          "  --channels P:T[,P:T...]  Kan\xC3\xA4le mit physikalischer Nummer P und Abtastintervall T (s)\n"
          "  --result18 N             Ergebnis f\xC3\xBCr Code 18 (Vorgabe 1)\n"
          "  --bits K=N               Bitmuster N f\xC3\xBCr Code 98 + K (mehrfach)\n"
          "  --bits-all N             Bitmuster f\xC3\xBCr alle anderen Kan\xC3\xA4le (Vorgabe 0)\n"
          "  --class NAME             Fensterklasse (Vorgabe DravonWnd)\n"
          "  --title TEXT             Fenstertitel (Vorgabe Dravon)\n"
          "  --no-slot4               nicht in Client-Platz 4 eintragen\n"
          "  --log DATEI              Protokoll in DATEI statt auf die Standardausgabe\n"
          "Befehle auf der Standardeingabe, einer je Zeile:\n"
          "  sine K N [Amplitude] [Periode]   N Sinuswerte auf Kanal K\n"
          "  counter K N                      N Z\xC3\xA4hlerwerte (k mod 2^24) auf Kanal K\n"
          "  file K DATEI                     Zahlen aus DATEI auf Kanal K\n"
          "  run 0|1, state TEXT, result18 N, bits K N, sync, quit\n");
}

void logf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void logf(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  vfprintf(g.log, fmt, ap);
  va_end(ap);
  fputc('\n', g.log);
  fflush(g.log);
}

const char* command_text() {
  const char* t = DV_ReadCommand();
  return t ? t : "";
}

intptr_t on_message(void*, wm_handle, uint32_t msg, uintptr_t wparam, intptr_t lparam) {
  if (msg == g.view_msg) {
    long code = static_cast<long>(wparam);
    logf("code %ld lparam %ld text %s", code, static_cast<long>(lparam), command_text());
    if (code == acquisition::kStoreStart) return g.result18;
    if (code >= acquisition::kDigitalInBase && code < acquisition::kDigitalInBase + acquisition::kDigitalChannels) {
      auto it = g.bits.find(static_cast<int>(code - acquisition::kDigitalInBase));
      return it != g.bits.end() ? it->second : g.bits_default;
    }
    return 0;
  }
  if (msg == static_cast<uint32_t>(acquisition::kExRequestMessage)) {
    logf("request %lu lparam %ld text %s", static_cast<unsigned long>(wparam), static_cast<long>(lparam),
         command_text());
    return 1;
  }
  if (msg == WNDMSG_ACTIVATE) {
    logf("activate");
    return 0;
  }
  if (msg == WNDMSG_QUIT) {
    logf("quit");
    g.quit = true;
    return 0;
  }
  logf("message %u wparam %lu lparam %ld", msg, static_cast<unsigned long>(wparam), static_cast<long>(lparam));
  return 0;
}

bool parse_channels(const char* spec) {
  std::stringstream ss(spec);
  std::string item;
  while (std::getline(ss, item, ',')) {
    char* end = nullptr;
    long p = strtol(item.c_str(), &end, 10);
    if (end == item.c_str() || *end != ':') return false;
    char* end2 = nullptr;
    double t = strtod(end + 1, &end2);
    if (end2 == end + 1 || *end2 || !(t > 0)) return false;
    g.channels.push_back(Channel{static_cast<int>(p), t});
  }
  return !g.channels.empty() && g.channels.size() <= static_cast<size_t>(dvdll::kMaxChannels);
}

void write_samples(int chan, std::vector<float>& v) {
  if (!v.empty()) DV_WriteChanFloat(chan, v.data(), static_cast<int>(v.size()));
}

void command(const std::string& line) {
  std::istringstream in(line);
  std::string cmd;
  if (!(in >> cmd)) return;
  auto channel = [&](int& k) {
    if (!(in >> k) || k < 0 || k >= static_cast<int>(g.channels.size())) {
      fprintf(stderr, "dravon-standin: ung\xC3\xBCltiger Kanal in \"%s\"\n", line.c_str());
      return false;
    }
    return true;
  };
  if (cmd == "sine" || cmd == "counter") {
    int k;
    long n;
    if (!channel(k) || !(in >> n) || n < 0) return;
    std::vector<float> v(static_cast<size_t>(n));
    Channel& c = g.channels[static_cast<size_t>(k)];
    if (cmd == "sine") {
      double amp = 1, period = 100;
      in >> amp >> period;
      if (!(period > 0)) period = 100;
      for (auto& x : v) {
        x = static_cast<float>(amp * std::sin(2 * M_PI * c.phase / period));
        c.phase += 1;
      }
    } else {
      for (auto& x : v) {
        x = static_cast<float>(c.counter);
        c.counter = (c.counter + 1) & 0xFFFFFF;
      }
    }
    write_samples(k, v);
  } else if (cmd == "file") {
    int k;
    std::string path;
    if (!channel(k) || !(in >> path)) return;
    std::ifstream f(path);
    if (!f) {
      fprintf(stderr, "dravon-standin: Datei \"%s\" kann nicht ge\xC3\xB6" "ffnet werden\n", path.c_str());
      return;
    }
    std::vector<float> v;
    double x;
    while (f >> x) v.push_back(static_cast<float>(x));
    write_samples(k, v);
  } else if (cmd == "run") {
    int on = 0;
    in >> on;
    DV_Run(on != 0);
  } else if (cmd == "state") {
    std::string rest;
    std::getline(in >> std::ws, rest);
    DV_SetState(rest.data());
  } else if (cmd == "result18") {
    long n;
    if (in >> n) g.result18 = n;
  } else if (cmd == "bits") {
    int k;
    long n;
    if (in >> k >> n) g.bits[k] = n;
  } else if (cmd == "sync") {
    printf("ok\n");
    fflush(stdout);
  } else if (cmd == "quit") {
    g.quit = true;
  } else {
    fprintf(stderr, "dravon-standin: unbekannter Befehl \"%s\"\n", cmd.c_str());
  }
}

}  // namespace

int main(int argc, char** argv) {
  const char* cls = acquisition::kWindowClass;
  const char* title = "Dravon";
  bool slot4 = true;
  const char* config = nullptr;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto next = [&]() -> const char* {
      if (i + 1 >= argc) {
        usage();
        exit(2);
      }
      return argv[++i];
    };
    if (a == "--channels") {
      if (!parse_channels(next())) {
        fprintf(stderr, "dravon-standin: ung\xC3\xBCltige Kanalliste\n");
        return 2;
      }
    } else if (a == "--result18") {
      g.result18 = strtol(next(), nullptr, 0);
    } else if (a == "--bits") {
      const char* v = next();
      char* end;
      long k = strtol(v, &end, 10);
      if (*end != '=') {
        usage();
        return 2;
      }
      g.bits[static_cast<int>(k)] = strtol(end + 1, nullptr, 0);
    } else if (a == "--bits-all") {
      g.bits_default = strtol(next(), nullptr, 0);
    } else if (a == "--class") {
      cls = next();
    } else if (a == "--title") {
      title = next();
    } else if (a == "--no-slot4") {
      slot4 = false;
    } else if (a == "--log") {
      g.log = fopen(next(), "a");
      if (!g.log) {
        fprintf(stderr, "dravon-standin: Protokolldatei kann nicht ge\xC3\xB6" "ffnet werden: %s\n", strerror(errno));
        return 2;
      }
    } else if (a == "-h" || a == "--help") {
      usage();
      return 0;
    } else if (!a.empty() && a[0] == '-') {
      usage();
      return 2;
    } else {
      config = argv[i];
    }
  }

  if (!DV_IsAttached()) {
    fprintf(stderr, "dravon-standin: Kanalbibliothek nicht verf\xC3\xBC" "gbar\n");
    return 1;
  }
  g.view_msg = wm_register_message(acquisition::kMessageName);
  wm_handle wnd = wm_create(cls, title, on_message, nullptr);
  if (!g.view_msg || !wnd) {
    fprintf(stderr, "dravon-standin: Fenster kann nicht angelegt werden\n");
    return 1;
  }
  if (config) logf("config %s", config);
  if (!g.channels.empty()) {
    int n = static_cast<int>(g.channels.size());
    DV_SetNrOfChan(n);
    for (int i = 0; i < n; ++i) {
      const Channel& c = g.channels[static_cast<size_t>(i)];
      std::string mstnr = std::to_string(i + 1), name = "Kanal " + std::to_string(c.pchan);
      DV_SetChanDef(i, c.pchan, mstnr.c_str(), name.c_str(), "V", "+", c.interval, -10, 10, -10, 10, 0);
    }
    DV_Run(true);
  }
  if (slot4) DV_Register(DVCLIENT_4, wnd);
  printf("ready %u\n", wnd);
  fflush(stdout);

  std::string pending;
  while (!g.quit) {
    pollfd p[2] = {{0, POLLIN, 0}, {wm_fd(wnd), POLLIN, 0}};
    if (poll(p, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (p[1].revents) wm_dispatch_pending(wnd);
    if (p[0].revents) {
      char buf[4096];
      ssize_t r = read(0, buf, sizeof buf);
      if (r <= 0) break;  // standard input closed: end
      pending.append(buf, static_cast<size_t>(r));
      size_t nl;
      while (!g.quit && (nl = pending.find('\n')) != std::string::npos) {
        command(pending.substr(0, nl));
        pending.erase(0, nl + 1);
      }
    }
  }
  DV_Run(false);
  wm_destroy(wnd);
  return 0;
}
