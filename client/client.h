// The client command set of `vkc`: record commands, server list, listings,
// installation, availability fetch and cycle, background job, frame loading
// and looping, and the command runner.
//
// Every handler below is called by the driver without arguments (except
// where a mode is passed), fetches its own arguments from the host runtime,
// prints its results on standard output and returns nothing the driver
// looks at.

#ifndef VARNEK_CLIENT_CLIENT_H
#define VARNEK_CLIENT_CLIENT_H

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "DBase/DBase.h"
#include "driver/driver.h"

// ---------------------------------------------------------------------------
// Record files of the client (layouts in docs/client_files.md).  Records are
// raw native images; every char field holds a NUL-terminated string of at
// most its size less one characters.

inline constexpr const char *kClientFile = "VKClientFile";
inline constexpr const char *kServerListFile = "VKServerListTable";
inline constexpr const char *kClientFileText = "Unable to open VARNEK-II Client File...";
inline constexpr const char *kServerListFileText = "Unable to open VARNEK-II ServerList List File...";
inline constexpr int kClientRecords = 200;     // record numbers 1..200
inline constexpr int kServerListRecords = 50;  // record numbers 1..50

// Image (AREA) part of a client record.
struct AreaClientStruct {
  std::int32_t Resolution;   // wanted resolution (input to Zoom); 0 when MAG is given
  std::int32_t serverRes;    // resolution of the last image on the server (cycle)
  char imgSat[7];            // satellite of the last image taken (cycle)
  std::int32_t Store;        // Boolean: copy into the work ring (BegWS > 0 and EndWS > 0)
  std::int32_t Show;         // Boolean: display into the frame ring (BegFrame > 0 and EndFrame > 0)
  std::int32_t Increment;    // minimum minutes between two images taken
  char Band[4];              // band to copy and display; "ALL" for all
  double Lat;                // display centre, degrees
  double Lon;
  std::int32_t BegWS;        // local work ring: first, last and next position
  std::int32_t EndWS;
  std::int32_t NxtWS;
  std::int32_t PointRow;     // reserved
  std::int32_t Opposite;     // stored and shown only
  std::int32_t Dominant;     // number of the dominant record, 0 none
  char Dwell[40];            // dwell setting of a loop
  char Gray[4];              // GRAY= of displays
  std::int32_t BegFrame;     // frame ring: first, last and next frame
  std::int32_t EndFrame;
  std::int32_t NxtFrame;
  std::int32_t badFrame;     // frame reported bad, 0 none
  std::int32_t Complete;     // Boolean: completion flag of the image last taken
  std::int32_t EMag;         // element and line magnification; 0 = computed
  std::int32_t LMag;
  char enhance[20];          // enhancement restored onto the loop's frames
  std::int32_t independentG; // graphics frame bound into the loop, 0 none
  std::int32_t Looping;      // Boolean: a loop started by LOOP runs
  std::int32_t Percent;      // threshold for the server's scan-line figure
  std::int32_t BegSize;      // lines and elements of the copy; -1, 0 SAME, -99 ALL
  std::int32_t EndSize;
  std::int32_t RtimeB;       // window of image minutes accepted
  std::int32_t RtimeE;
  char SUname[10];           // stretch table for SU=, "" or "NONE" for none
};

// Grid (GRID) part.
struct GridClientStruct {
  std::int32_t BegForcast;   // forecast hours, stored and shown only
  std::int32_t EndForcast;
  std::int32_t NxtForcast;
  char Param[40];            // parameter list, stored and shown only
  std::int32_t DestDel;      // Boolean: the copy replaces the destination
  std::int32_t MaxGrid;      // stored and shown only
  std::int32_t NumMatch;     // NUM= of the copy
  char Level[40];            // level list, stored and shown only
  std::int32_t BegWS;        // work ring
  std::int32_t EndWS;
  std::int32_t NxtWS;
  std::int32_t Position;     // fixed local position, 0 = use the work ring
  std::int32_t bServerPos;   // server positions accepted
  std::int32_t eServerPos;
  std::int32_t Increment;    // minimum minutes between two grids taken
};

// Point-data (MD) part.
struct PntsClientStruct {
  char Select[80];           // selection clause, stored and shown only
  char Title[80];            // title, stored and shown only
  std::int32_t DestDel;      // Boolean: DELETE= of the copy
  std::int32_t BegWS;        // work ring
  std::int32_t EndWS;
  std::int32_t NxtWS;
  std::int32_t Increment;    // minimum minutes between two files taken
  std::int32_t Position;     // server position copied from, 0 = whole dataset
};

// Text (TEXT) part.
struct TextClientStruct {
  char From[64];             // path of the file on the server
  char To[64];               // transfer target
  std::int32_t Binary;       // Boolean, stored and shown only
  std::int32_t Increment;    // minimum minutes between two transfers
};

union DataTag {
  AreaClientStruct Area;
  GridClientStruct Grid;
  PntsClientStruct Pnts;
  TextClientStruct Text;
};

// One client record: a monitored remote dataset.
struct ClientRec {
  std::int32_t Status;       // StatusTypes; 0 = empty slot
  std::int32_t DataType;     // FileTypes: which member of Data is valid
  char Descriptor[32];       // dataset on the server; local copies go to LOC/<Descriptor>
  char Group[32];            // data group on the server
  char UserCmd[32];          // host command after each new item; "NONE" for none
  std::int32_t LastItem;     // last item taken: server position,
  std::int32_t LastTime;     //   nominal time HHMMSS,
  std::int32_t LastDate;     //   nominal date as the server reports it,
  std::int64_t LastStamp;    //   time stamp in minutes since 1997-01-01 00:00
  DataTag Data;
  char UnUsed[100];          // reserved, zero
};

// One server-list record: a server whose availability file the cycle reads.
struct ServerListRec {
  std::int32_t Version;      // availability file format, 1 or 2
  char Name[32];             // free name
  char Address[64];          // host address; empty = unused entry
  char group[5];             // data group of the availability file; empty = unused
};

static_assert(sizeof(AreaClientStruct) == 208);
static_assert(offsetof(AreaClientStruct, Resolution) == 0);
static_assert(offsetof(AreaClientStruct, serverRes) == 4);
static_assert(offsetof(AreaClientStruct, imgSat) == 8);
static_assert(offsetof(AreaClientStruct, Store) == 16);
static_assert(offsetof(AreaClientStruct, Show) == 20);
static_assert(offsetof(AreaClientStruct, Increment) == 24);
static_assert(offsetof(AreaClientStruct, Band) == 28);
static_assert(offsetof(AreaClientStruct, Lat) == 32);
static_assert(offsetof(AreaClientStruct, Lon) == 40);
static_assert(offsetof(AreaClientStruct, BegWS) == 48);
static_assert(offsetof(AreaClientStruct, EndWS) == 52);
static_assert(offsetof(AreaClientStruct, NxtWS) == 56);
static_assert(offsetof(AreaClientStruct, PointRow) == 60);
static_assert(offsetof(AreaClientStruct, Opposite) == 64);
static_assert(offsetof(AreaClientStruct, Dominant) == 68);
static_assert(offsetof(AreaClientStruct, Dwell) == 72);
static_assert(offsetof(AreaClientStruct, Gray) == 112);
static_assert(offsetof(AreaClientStruct, BegFrame) == 116);
static_assert(offsetof(AreaClientStruct, EndFrame) == 120);
static_assert(offsetof(AreaClientStruct, NxtFrame) == 124);
static_assert(offsetof(AreaClientStruct, badFrame) == 128);
static_assert(offsetof(AreaClientStruct, Complete) == 132);
static_assert(offsetof(AreaClientStruct, EMag) == 136);
static_assert(offsetof(AreaClientStruct, LMag) == 140);
static_assert(offsetof(AreaClientStruct, enhance) == 144);
static_assert(offsetof(AreaClientStruct, independentG) == 164);
static_assert(offsetof(AreaClientStruct, Looping) == 168);
static_assert(offsetof(AreaClientStruct, Percent) == 172);
static_assert(offsetof(AreaClientStruct, BegSize) == 176);
static_assert(offsetof(AreaClientStruct, EndSize) == 180);
static_assert(offsetof(AreaClientStruct, RtimeB) == 184);
static_assert(offsetof(AreaClientStruct, RtimeE) == 188);
static_assert(offsetof(AreaClientStruct, SUname) == 192);

static_assert(sizeof(GridClientStruct) == 132);
static_assert(offsetof(GridClientStruct, BegForcast) == 0);
static_assert(offsetof(GridClientStruct, EndForcast) == 4);
static_assert(offsetof(GridClientStruct, NxtForcast) == 8);
static_assert(offsetof(GridClientStruct, Param) == 12);
static_assert(offsetof(GridClientStruct, DestDel) == 52);
static_assert(offsetof(GridClientStruct, MaxGrid) == 56);
static_assert(offsetof(GridClientStruct, NumMatch) == 60);
static_assert(offsetof(GridClientStruct, Level) == 64);
static_assert(offsetof(GridClientStruct, BegWS) == 104);
static_assert(offsetof(GridClientStruct, EndWS) == 108);
static_assert(offsetof(GridClientStruct, NxtWS) == 112);
static_assert(offsetof(GridClientStruct, Position) == 116);
static_assert(offsetof(GridClientStruct, bServerPos) == 120);
static_assert(offsetof(GridClientStruct, eServerPos) == 124);
static_assert(offsetof(GridClientStruct, Increment) == 128);

static_assert(sizeof(PntsClientStruct) == 184);
static_assert(offsetof(PntsClientStruct, Select) == 0);
static_assert(offsetof(PntsClientStruct, Title) == 80);
static_assert(offsetof(PntsClientStruct, DestDel) == 160);
static_assert(offsetof(PntsClientStruct, BegWS) == 164);
static_assert(offsetof(PntsClientStruct, EndWS) == 168);
static_assert(offsetof(PntsClientStruct, NxtWS) == 172);
static_assert(offsetof(PntsClientStruct, Increment) == 176);
static_assert(offsetof(PntsClientStruct, Position) == 180);

static_assert(sizeof(TextClientStruct) == 136);
static_assert(offsetof(TextClientStruct, From) == 0);
static_assert(offsetof(TextClientStruct, To) == 64);
static_assert(offsetof(TextClientStruct, Binary) == 128);
static_assert(offsetof(TextClientStruct, Increment) == 132);

static_assert(sizeof(DataTag) == 208 && alignof(DataTag) == 8);

static_assert(sizeof(ClientRec) == 440);
static_assert(offsetof(ClientRec, Status) == 0);
static_assert(offsetof(ClientRec, DataType) == 4);
static_assert(offsetof(ClientRec, Descriptor) == 8);
static_assert(offsetof(ClientRec, Group) == 40);
static_assert(offsetof(ClientRec, UserCmd) == 72);
static_assert(offsetof(ClientRec, LastItem) == 104);
static_assert(offsetof(ClientRec, LastTime) == 108);
static_assert(offsetof(ClientRec, LastDate) == 112);
static_assert(offsetof(ClientRec, LastStamp) == 120);
static_assert(offsetof(ClientRec, Data) == 128);
static_assert(offsetof(ClientRec, UnUsed) == 336);
static_assert(std::is_trivially_copyable_v<ClientRec> && std::is_standard_layout_v<ClientRec>);

static_assert(sizeof(ServerListRec) == 108);
static_assert(offsetof(ServerListRec, Version) == 0);
static_assert(offsetof(ServerListRec, Name) == 4);
static_assert(offsetof(ServerListRec, Address) == 36);
static_assert(offsetof(ServerListRec, group) == 100);
static_assert(std::is_trivially_copyable_v<ServerListRec> && std::is_standard_layout_v<ServerListRec>);

// Opens the record file `Name` (VKClientFile or VKServerListTable) for
// update.  True when it is open; otherwise prints `Text` on a line of its own
// (when `verbose` is non-zero) and returns False.  A file whose record size
// is not that of its records does not open.
Boolean OpenVarnekDB(DBase *File, const char *Name, const char *Text);

// Record reads that also end every string inside its field (the files may
// have been edited by hand).  Results as DBRead: 0, or 1 with the record
// cleared.
int ReadClientRec(DBase *File, int Rec, ClientRec *Record);
int ReadServerListRec(DBase *File, int Rec, ServerListRec *Record);

// The word of a status or data type, or "?" for a value outside the table.
const char *StatusWord(int status);
const char *TypeWord(int type);

// A fresh record of a type with the defaults of CREATE.
ClientRec ClientDefaults(int type);

// INSTALL and UNINSTALL of the client's working directory.
void InstallClient();
void UnInstallClient();

// CREATE (1), SET (2) and DELETE (3) of one client record.
void SetClientRec(int Mode);

// LIST: mode 0 takes range and type mask from the command line; mode 1
// lists brec..erec of type dtype.
void ListClientFile(int mode, int brec, int erec, int dtype);
void ReportClientFile();
void ClientReset();
void ListData();

// Availability comparison and the cycle.
void ClientCompare();
void Cycle();
void Transfer();

// Frame loading and looping.
void ClientLoop();
void ClientStopLoop();
void ClientLoad();

// The operations log printed to a text file (PRINTLOG).
void PrintLogfile();

// Runs a host command line (Tvskeyin), prints it after its own output when
// `verbose` is above 1, and appends an "Exec" entry to the operations log
// whatever the result.  Returns the command program's exit status, -1 when
// it could not be started or was killed, -2 when no such command exists.
int Exec(const char *Cmd);

// The server list.
void ListServerListFile();
void CreateServerListRec();
void SetServerListRec();

// The background job.
void ClientBGJob();
void ClientBGOff();

// ---------------------------------------------------------------------------
// Record commands.

// Write a fresh record of the type, with the defaults of CREATE, to record
// `Pointer`.
void SetClientAreaDef(DBase *ClientFile, int Pointer);
void SetClientGridDef(DBase *ClientFile, int Pointer);
void SetClientPntsDef(DBase *ClientFile, int Pointer);
void SetClientTextDef(DBase *ClientFile, int Pointer);

// Read record `Pointer`, apply the command line's keywords, write it back.
// Mode of the AREA update: 1 CREATE, 2 SET.
void UpdateClientAreaRec(DBase *ClientFile, int Pointer, int Mode);
void UpdateClientGridRec(DBase *ClientFile, int Pointer);
void UpdateClientPntsRec(DBase *ClientFile, int Pointer);
void UpdateClientTextRec(DBase *ClientFile, int Pointer);

// Applies the command line's keywords of a record's type to `record` in
// memory.  False when the command is refused (RES with MAG, a value longer
// than its field): the record must not be written.  `registration` is set
// when the local dataset is to be registered (SETREG) after the write.
bool ApplyClientKeywords(ClientRec &record, int Mode, bool &registration);

// The host command that registers a record's local dataset:
// "SETREG ADD LOC/<Descriptor> <type> <BegWS> <EndWS>", run through Exec.
int RegisterLocalDataset(const ClientRec &record);

// ---------------------------------------------------------------------------
// Argument helpers shared by the client commands.

// One optional record number (positional 2, default 1, 1..MaxValue).  False
// after "Invalid number of positional arguments ..." (when `verbose`) for
// more than one, or after the runtime's diagnostic for a bad number.
Boolean ValidateArgs1(int *Arg1, int MaxValue);

// A record range: positional 2 (default 1) and 3 (default Arg1), each
// 1..MaxValue; the command word and one or two numbers are required.
Boolean ValidateArgs2(int *Arg1, int *Arg2, int MaxValue);

// Fetches value 1 of `Option` as a string (default `Default`) into the field
// `Value` and returns the fetcher's code.  A value longer than the field
// holds is refused: the field is left as it was, "VKC error: <Option> value
// is longer than N characters." is printed and kValueTooLong returned.
inline constexpr int kValueTooLong = -9001;
int GetStrArg(const char *Option, char *Value, std::size_t Size, const char *Default);
template <std::size_t N>
int GetStrArg(const char *Option, char (&Value)[N], const char *Default) {
  return GetStrArg(Option, Value, N, Default);
}

// Index of the value of `Option` in the word list `List` (closed by
// "XENDX"), or `Default` when the keyword is absent, "NONE", or not in the
// list (then "Undefined command option ..." when `verbose`).
int GetListArg(const char *Option, const char *const *List, int Default);

// A yes/no keyword (N Y NO YES FALSE TRUE F T): True or False in `*Data`,
// `Default` when absent or not a yes/no word.
void GetLogArg(const char *Option, std::int32_t *Data, int Default);

// The type mask of LIST from TYPE=: bit n for FileTypes n; 0xFFFF when TYPE
// is absent; ALL gives 0xFFF.
void ReadDataType(int *DataTypeMask);

// Line and element magnification for an image of `Satellite` at server
// resolution Rs for a wanted resolution Rd (0 taken as 1; a server
// resolution of 0, unknown, is taken as 1 too).
void Zoom(const char *Satellite, int Rs, int Rd, int *LMag, int *EMag);

// Prints "Sizes are %d %d \n" and writes the SIZE clause of an image copy
// into `Op` (REQUIRES: room for 30 characters); returns `Op`.
char *WriteSize(char *Op, int BegSize, int EndSize);

// ---------------------------------------------------------------------------
// Server list, install, availability fetch.

// Applies VERSION, NAME, ADDRESS and GROUP to entry `Pointer` and writes it
// (not when GROUP ends up empty, nor when a value is refused).
void UpdateServerListRec(DBase *ServerListFile, int Pointer);

// Fills `IP` (REQUIRES: room for 20 characters) with the address routed for
// `Group` in $HOME/tavrin/data/TVTABLE.TXT, or the empty string; returns
// `IP`.  Ends the program with status 1 when the table cannot be read.
char *GetIP(const char *Group, char *IP);

// Fetches a server's availability text into "COMPARE2" with the host's
// text-read command under a time limit; returns Exec's status.
int QOLAreadAvailFile(const char *group, int Version);

#endif  // VARNEK_CLIENT_CLIENT_H
