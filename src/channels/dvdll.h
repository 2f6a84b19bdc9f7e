// DVDLL: live measurement channels shared between programs through two named
// shared-memory areas. One writer per channel appends samples to a ring; up to
// five clients (0..4) read every channel with read positions of their own.
//
// Every process maps the areas when it loads the library. Names:
// "/morvel-<uid>.dllmemfilemap" and "/morvel-<uid>.dllmemfilemapblob", or
// "/X.dllmemfilemap" and "/X.dllmemfilemapblob" when DVDLL_NAMESPACE=X.
// The first process to attach starts from an all-zero area; the areas vanish
// with the last one. When attaching failed, every function does nothing and
// returns 0 / false / a null pointer, and DV_IsAttached() returns false.
#ifndef MORVEL_DVDLL_H
#define MORVEL_DVDLL_H

#include <cstddef>
#include <cstdint>

#if defined(DVDLL_BUILD)
#define DVDLL_API __attribute__((visibility("default")))
#else
#define DVDLL_API
#endif

// A top-level window: the 32-bit wndmsg handle.
typedef uint32_t HWND;

// Reader slots.
enum DVCLIENT : int32_t { DVCLIENT_0 = 0, DVCLIENT_1 = 1, DVCLIENT_2 = 2, DVCLIENT_3 = 3, DVCLIENT_4 = 4 };

// Mailbox commands; 0 means none pending. Other values are agreed between the
// programs that use the mailbox.
enum ECOMMAND : int32_t { ECOMMAND_NONE = 0 };

namespace dvdll {

// ---- shared-memory layout ---------------------------------------------------

constexpr size_t kMainSize = 67110192;  // 64 MiB + 1,328 bytes
constexpr size_t kBlobSize = 1000000;
constexpr size_t kHeaderSize = 872;
constexpr size_t kRecordSize = 456;
constexpr int kClients = 5;
constexpr int kAnalogOutputs = 32;
constexpr int kMaxChannels = 29382;  // the largest count that leaves L >= 1
constexpr int kExRequestMessage = 2947;

struct ChannelRecord {
  char Mstnr[10];
  char Name[256];
  char Unit[20];
  char Polarity[82];
  int32_t PChan;
  char reserved1[4];
  double RangeLow;
  double RangeHigh;
  double RangeLow2;
  double RangeHigh2;
  double Clkrate;
  int32_t DigMsk;
  int32_t BufOffset;
  char reserved2[8];
  int32_t WritePos;
  int32_t ReadPos;
  int32_t FrozenWritePos;
  int32_t FrozenReadPos;
  int32_t BufLen;
  char reserved3[4];
};

struct Header {
  int32_t NrOfChan;
  uint8_t ViewFlag;
  char reserved1[3];
  uint32_t ClientWnd[kClients];
  int32_t Command;
  char CommandText[256];
  uint8_t RunFlag;
  char reserved2[7];
  char XUnit[32];
  double AnalogoutValue[kAnalogOutputs];
  uint8_t AnalogoutNew[kAnalogOutputs];
  char State[256];
};

// The ring length L for n channels (0 for n outside 1..kMaxChannels).
constexpr int32_t RingLength(int n) {
  if (n < 1 || n > kMaxChannels) return 0;
  return static_cast<int32_t>(((static_cast<int64_t>(kMainSize - kHeaderSize) - 2280LL * n) / 4) / n);
}

// Byte offset of channel i's ring for n channels.
constexpr int64_t RingOffset(int n, int i) {
  return static_cast<int64_t>(kHeaderSize) + 2280LL * n + 4LL * RingLength(n) * i;
}

}  // namespace dvdll

// An exported class without data.
class DVDLL_API CDVDLL {
public:
  CDVDLL();
  CDVDLL& operator=(const CDVDLL&);
};

extern DVDLL_API int nDVDLL;

// ---- writer -----------------------------------------------------------------
DVDLL_API void DV_SetNrOfChan(int n);
DVDLL_API void DV_SetChanDef(int chan, int pchan, const char* mstnr, const char* name, const char* unit,
                             const char* polarity, double clkrate, double rangeLow, double rangeHigh,
                             double rangeLow2, double rangeHigh2, int digmsk);
DVDLL_API void DV_SetChanName(int chan, char* text);
DVDLL_API void DV_SetChanUnit(int chan, char* text);
DVDLL_API void DV_SetChanPolarity(int chan, char* text);
DVDLL_API void DV_SetChanClk(int chan, double clkrate);
DVDLL_API void DV_WriteChan(int chan, unsigned char* samples, int count);
DVDLL_API void DV_WriteChanFloat(int chan, float* samples, int count);
DVDLL_API void DV_WriteChanOneFloatValue(int chan, int* value);
DVDLL_API void DV_SetXUnit(char* text);
DVDLL_API void DV_Run(bool running);
DVDLL_API void DV_SetState(char* text);

// ---- readers ----------------------------------------------------------------
DVDLL_API void DV_SetMemPointer();
DVDLL_API void DV_Register(DVCLIENT client, HWND wnd);
DVDLL_API int DV_GetNrOfChan();
DVDLL_API const char* DV_GetChanName(int chan);
DVDLL_API const char* DV_GetChanUnit(int chan);
DVDLL_API const char* DV_GetChanMstnr(int chan);
DVDLL_API int DV_GetChanPChan(int chan);
DVDLL_API double DV_GetChanClkrate(int chan);
DVDLL_API int DV_GetDigMsk(int chan);
DVDLL_API void DV_GetChanRange(int chan, double& rangeLow, double& rangeHigh, double& rangeLow2, double& rangeHigh2);
DVDLL_API void DV_GetChanDef(int chan, int* pchan, char* mstnr, char* name, char* unit, char* polarity,
                             double* clkrate, double* rangeLow, double* rangeHigh, int* digmsk);
DVDLL_API int DV_CheckChanEx(DVCLIENT client, int chan);
DVDLL_API int DV_ReadChanEx(DVCLIENT client, int chan, unsigned char* dst, int count, int mode);
DVDLL_API void DV_ResetBuffer(DVCLIENT client, int chan);
DVDLL_API void DV_FreezeBuffers(DVCLIENT client);
DVDLL_API void DV_DefrostBuffers();
DVDLL_API int DV_CheckChan(DVCLIENT client, int chan);
DVDLL_API int DV_ReadChan(DVCLIENT client, int chan, unsigned char* dst, int count);
DVDLL_API int DV_ReadChanFromEnd(DVCLIENT client, int chan, unsigned char* dst, int count);
DVDLL_API char* DV_GetXUnit();
DVDLL_API bool DV_IsRunning();
DVDLL_API char* DV_GetState();

// ---- viewer flag --------------------------------------------------------------
DVDLL_API void DV_DravonView(bool present);
DVDLL_API bool DV_IsDravonViewThere();

// ---- mailbox and text command --------------------------------------------------
DVDLL_API bool DV_SetCommand(ECOMMAND cmd);
DVDLL_API ECOMMAND DV_GetCommand();
DVDLL_API bool DV_IsCommandDone();
DVDLL_API void DV_QuitCommand();
DVDLL_API void DV_WriteCommand(char* text);

// ---- analogue outputs ------------------------------------------------------------
DVDLL_API void DV_Analogout(int index, double value);
DVDLL_API bool DV_AnalogoutState(int index);
DVDLL_API double DV_AnalogoutGet(int index);

// ---- blob area ---------------------------------------------------------------------
DVDLL_API void DV_WriteBlob(unsigned char* src, int offset, int count);
DVDLL_API void DV_ReadBlob(unsigned char* dst, int offset, int count);

extern "C" {
DVDLL_API char* DV_ReadCommand();

// false when this process could not map the shared areas.
DVDLL_API bool DV_IsAttached();

DVDLL_API void EX_Register(int client, HWND wnd);
DVDLL_API bool EX_LoadConfig(const char* path);
DVDLL_API bool EX_SetDataPath(const char* path);
DVDLL_API bool EX_Start(int param);
DVDLL_API bool EX_Stop();
DVDLL_API int EX_GetChannelCount();
DVDLL_API void EX_GetChannelDef(int chan, int* pchan, char* mstnr, char* name, char* unit);
DVDLL_API int EX_GetDataAvailable(int client);
DVDLL_API int EX_GetData(int client, int chan, unsigned char* dst, int count);
}

#endif
