// The client command set of `vkc`: record commands, server list, listings,
// installation, availability fetch and cycle, background job, frame loading
// and looping, and the command runner.
//
// Every handler below is called by the driver without arguments (except
// where a mode is passed), fetches its own arguments from the host runtime,
// prints its results on standard output and returns its status to the
// driver, which turns it into the program's exit status:
//
//   kClientOk      the command did what was asked: status 0;
//   kClientFailed, kClientRefused
//                  it could not (a file missing or refused, a value
//                  refused, nothing stored; the reason has been printed):
//                  status 1;
//   kClientUsage   a usage error (wrong positional arguments): status 2.
//
// An argument the runtime could not convert raises the status too (see
// TvArgumentStatus).

#ifndef VARNEK_CLIENT_CLIENT_H
#define VARNEK_CLIENT_CLIENT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "AvailFile/AvailFile.h"
#include "DBase/DBase.h"
#include "vocab/vocab.h"

// Results of the client's handlers and helpers.
inline constexpr int kClientOk = 0;
inline constexpr int kClientFailed = 1;
inline constexpr int kClientRefused = -1;  // refused with a message; nothing changed
inline constexpr int kClientUsage = 2;     // a usage error (with a message): wrong
                                           // positional arguments

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
// (when `verbose` is non-zero) and returns False.  A file whose header is not
// that of its kind (block size 0, its record size and record count) is
// refused: "<Name> refused: its header (...) is not that of <Name> (...);
// nothing was changed." on the error stream (always), and False.
[[nodiscard]] Boolean OpenVarnekDB(DBase *File, const char *Name, const char *Text);

// OpenVarnekDB for reading only, for the commands that only read (LIST,
// REPORT, DATA, LISTSERVERS, TRANSFER): a file the user may read but not
// write is still read.
[[nodiscard]] Boolean OpenVarnekDBForRead(DBase *File, const char *Name, const char *Text);

// Record reads that also end every string inside its field (the files may
// have been edited by hand).  Results as DBRead: 0, or 1 with the record
// cleared.
[[nodiscard]] int ReadClientRec(DBase *File, int Rec, ClientRec *Record);

// Ends every text field of a record read from the file inside its field and
// masks its control characters (ReadClientRec does this).
void CleanClientRecord(ClientRec &r);
[[nodiscard]] int ReadServerListRec(DBase *File, int Rec, ServerListRec *Record);

// Writes record `Rec`: kClientOk, or kClientFailed after reporting
// "Client Record <n> not written: <reason>" (or "ServerList Record ...") on
// the error stream.
[[nodiscard]] int WriteClientRec(DBase *File, int Rec, const ClientRec *Record);
[[nodiscard]] int WriteServerListRec(DBase *File, int Rec, const ServerListRec *Record);

// Closes a record file opened by OpenVarnekDB before its handle goes away
// (which closes it too).  Every write has reached the file when it
// returned, so a failed close loses nothing.
void CloseVarnekDB(DBase *File);

// A fresh record of a type with the defaults of CREATE.
ClientRec ClientDefaults(int type);

// The verbose-level file and the VERBOSE command.
inline constexpr const char *kVerboseFile = "VKCVerboseLevel";

// The client's start-up step: reads the level from the verbose-level file
// when it exists, creates the file holding the current level otherwise.
// kClientOk, or kClientFailed after printing "Can't open file %s for read\n"
// or "Can't open file %s for write\n".
[[nodiscard]] int LoadVerboseLevel();

// VERBOSE [level]: prints the level, or sets it and rewrites the file
// (kClientFailed after "Can't open file %s for write\n").
[[nodiscard]] int SetVerboseLevel();

// INSTALL and UNINSTALL of the client's working directory.
[[nodiscard]] int InstallClient();
[[nodiscard]] int UnInstallClient();

// CREATE (1), SET (2) and DELETE (3) of one client record.
[[nodiscard]] int SetClientRec(int Mode);

// LIST: mode 0 takes range and type mask from the command line; mode 1
// lists brec..erec of type dtype.
[[nodiscard]] int ListClientFile(int mode, int brec, int erec, int dtype);

// The listing of records first..last of the types in `mask` (bit n for
// FileTypes n) from an open client file.  A null `file` stands for a file
// that could not be opened (its message has been printed): only the totals
// line with zero counts follows.
void ListClientRecords(DBase *file, int first, int last, int mask);
[[nodiscard]] int ReportClientFile();
[[nodiscard]] int ClientReset();
[[nodiscard]] int ListData();

// Availability comparison and the cycle.
[[nodiscard]] int ClientCompare();
[[nodiscard]] int Cycle();
[[nodiscard]] int Transfer();

// Frame loading and looping.
[[nodiscard]] int ClientLoop();
[[nodiscard]] int ClientStopLoop();
[[nodiscard]] int ClientLoad();

// The operations log printed to a text file (PRINTLOG).
[[nodiscard]] int PrintLogfile();

// Runs a host command line (Tvskeyin), prints it after its own output when
// `verbose` is above 1, and appends an "Exec" entry to the operations log
// whatever the result.  Returns the command program's exit status, -1 when
// it could not be started or was killed, -2 when no such command exists.
[[nodiscard]] int Exec(const char *Cmd);

// Logs a host command line as Exec does: an "Exec" entry whose comment is
// the command, cut to 156 characters and "..." when longer.
void LogCommandLine(std::string_view command);

// Appends an entry to the operations log VKLogFile (program
// "VARNEK-II Client", status "I").  An entry that cannot be written is
// reported once per run on the error stream ("VKLogFile: log entry not
// written: <reason>"); the caller's work goes on.  A damaged log is set
// aside and a fresh one started, with a message saying so.
void LogEntry(const char *Function, const char *Comment);

// The server list.
[[nodiscard]] int ListServerListFile();
[[nodiscard]] int CreateServerListRec();
[[nodiscard]] int SetServerListRec();

// The background job.
[[nodiscard]] int ClientBGJob();
[[nodiscard]] int ClientBGOff();

// ---------------------------------------------------------------------------
// Record commands.

// Write a fresh record of the type, with the defaults of CREATE, to record
// `Pointer`.  kClientOk, or kClientFailed when it could not be written.
[[nodiscard]] int SetClientAreaDef(DBase *ClientFile, int Pointer);
[[nodiscard]] int SetClientGridDef(DBase *ClientFile, int Pointer);
[[nodiscard]] int SetClientPntsDef(DBase *ClientFile, int Pointer);
[[nodiscard]] int SetClientTextDef(DBase *ClientFile, int Pointer);

// Read record `Pointer`, apply the command line's keywords, write it back.
// Mode of the AREA update: 1 CREATE, 2 SET.  kClientOk when written;
// kClientRefused when the command was refused with a message and nothing
// written; kClientFailed when the record could not be written.
[[nodiscard]] int UpdateClientAreaRec(DBase *ClientFile, int Pointer, int Mode);
[[nodiscard]] int UpdateClientGridRec(DBase *ClientFile, int Pointer);
[[nodiscard]] int UpdateClientPntsRec(DBase *ClientFile, int Pointer);
[[nodiscard]] int UpdateClientTextRec(DBase *ClientFile, int Pointer);

// Applies the command line's keywords of a record's type to `record` in
// memory.  False when the command is refused (RES with MAG, a value longer
// than its field): the record must not be written.  `registration` is set
// when the local dataset is to be registered (SETREG) after the write.
[[nodiscard]] bool ApplyClientKeywords(ClientRec &record, int Mode, bool &registration);

// The host command that registers a record's local dataset:
// "SETREG ADD LOC/<Descriptor> <type> <BegWS> <EndWS>", run through Exec.
[[nodiscard]] int RegisterLocalDataset(const ClientRec &record);

// ---------------------------------------------------------------------------
// Argument helpers shared by the client commands.

// One optional record number (positional 2, default 1, 1..MaxValue).  False
// after "Invalid number of positional arguments ..." (when `verbose`) for
// more than one, or after the runtime's diagnostic for a bad number.
[[nodiscard]] Boolean ValidateArgs1(int *Arg1, int MaxValue);

// A record range: positional 2 (default 1) and 3 (default Arg1), each
// 1..MaxValue; the command word and one or two numbers are required.
[[nodiscard]] Boolean ValidateArgs2(int *Arg1, int *Arg2, int MaxValue);

// Fetches value 1 of `Option` as a string (default `Default`) into the field
// `Value` and returns the fetcher's code.  A value longer than the field
// holds, or one holding a control character (a line feed would split a log
// line or a listing row, an escape would reach the terminal), is refused:
// the field is left as it was, "VKC error: <Option> value is longer than N
// characters." or "VKC error: <Option> value contains a control character."
// is printed and kValueTooLong returned.
inline constexpr int kValueTooLong = -9001;
[[nodiscard]] int GetStrArg(const char *Option, char *Value, std::size_t Size, const char *Default);
template <std::size_t N>
[[nodiscard]] int GetStrArg(const char *Option, char (&Value)[N], const char *Default) {
  return GetStrArg(Option, Value, N, Default);
}

// Index of the value of `Option` in the word list `List` (closed by
// "XENDX"), or `Default` when the keyword is absent, "NONE", or not in the
// list (then "Undefined command option ..." when `verbose`).
[[nodiscard]] int GetListArg(const char *Option, const char *const *List, int Default);

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
// The cycle: availability fetch, comparison, time stamps and the checks.

inline constexpr const char *kCompareFile = "COMPARE2";
inline constexpr const char *kCyclePidFile = "VKCPid";
inline constexpr const char *kCycleMaxTimeFile = "VKCPidMaxTime";
inline constexpr int kCycleMaxAgeSeconds = 600;

// One server image as handed to the image check (in memory only).
struct CompareRec {
  int Dummy;          // the two header integers of a version-1 text; never used
  int LineNumber;     // line number given by a version-1 server; 0 from a version-2 record
  int BegArea;        // first and last dataset position of the server's range
  int EndArea;
  int CrntArea;       // the image's position as the client requests it
  int ImageDate;      // CCYYDDD or YYDDD
  int ImageTime;      // HHMMSS
  char Group[5];      // the server's dataset group, at most 4 characters
  int ScanLine;       // the server's arrival value, compared with Percent
  int Eof;            // end-of-file flag (carried, not tested)
  char Descriptor[13];  // dataset descriptor, at most 12 characters
  char Satellite[7];    // sensor/satellite name, at most 6 characters
  int Resolution;       // image resolution on the server
};

// Minutes from 1 January 1997 00:00 to `date` (CCYYDDD, or YYDDD: below
// 97000 is 20YY, 97000..999999 is 19YY plus the century digit) at `time`
// (HHMMSS), both taken in local standard time: 1440 minutes a day plus the
// minutes of the day; a day count past the year's end carries into the
// next year; seconds are truncated toward zero.
void getTimeStamp(int date, int time, std::int64_t *timeStamp);

// The client records of one comparison, read from the client file once (one
// snapshot) and held for the checks; the records a check changes are merged
// back at once (see Merge).
class ClientTable;

// What a check changed in a client record (bits), so that only those
// fields are merged back into the file.
enum ChangedFields : unsigned {
  kChangedLastItem = 1u << 0,    // LastItem, LastTime, LastDate, LastStamp
  kChangedComplete = 1u << 1,    // Complete (AREA)
  kChangedServerImage = 1u << 2, // serverRes, imgSat (AREA)
  kChangedNextWork = 1u << 3,    // NxtWS
  kChangedNextFrame = 1u << 4,   // NxtFrame (AREA)
  kChangedBadFrame = 1u << 5,    // badFrame (AREA)
  // Not a field: the item was the record's and due, but dated more than a
  // day after this machine's clock, so it was not taken (nothing changed).
  kFutureDated = 1u << 8,
};

// The image check of one server image `Compare` (time stamp `ImageStamp`,
// as getTimeStamp gives it) against the active AREA client record `Client`,
// number `Pointer` of `records` (the dominant record is looked up there).
// Runs the copy, display and user commands of an image it takes.  Returns
// the fields it changed (0 when none).
[[nodiscard]] unsigned CheckArea(const CompareRec &Compare, std::int64_t ImageStamp, int Pointer, ClientRec *Client,
                                 ClientTable &records);

// The grid, point-data and text checks of one server record against an
// active client record of the same type; `ServerAddress` is the address of
// the server being compared (the text transfer fetches from it).  Each
// returns the fields it changed.
[[nodiscard]] unsigned CheckGrid(ClientRec *Client, const ServerRec &Server);
[[nodiscard]] unsigned CheckPnts(ClientRec *Client, const ServerRec &Server);
[[nodiscard]] unsigned CheckText(ClientRec *Client, const ServerRec &Server, const char *ServerAddress);

// Compares COMPARE2 as a version-1 text with the client file; prints
// "Compare VARNEK V1 complete ..." at verbose level above 1.  `ServerAddress`
// names the server the text came from in messages (null: COMPARE2).
// kClientOk; kClientRefused when COMPARE2 cannot be read (nothing
// compared, reported); kClientFailed when the client file cannot be opened
// or read, or a changed record could not be written back.
[[nodiscard]] int CompareV1(const char *ServerAddress = nullptr);

// The routes of the host's route table, read once for a comparison.
struct RouteTable {
  // group -> routed address (at most 19 characters), the first line of a
  // group winning.
  std::vector<std::pair<std::string, std::string>> routes;
  // The routed address of `group`, or "" when it has none.
  std::string Lookup(std::string_view group) const;
};

// Reads the lines of a route table: "QOLA_ROUTE_<group>=<address>" (other
// lines are ignored; a line is read up to 254 characters).
void ParseRouteTable(std::string_view text, RouteTable &table);

// Reads $HOME/tavrin/data/TVTABLE.TXT (its first megabyte).  kClientOk, or kClientFailed when it
// cannot be read (nothing printed; `path` names the file).
[[nodiscard]] int LoadRouteTable(RouteTable &table, std::string &path);

// Compares COMPARE2 as a version-2 availability file with the client file.
// `ServerIP` is the address the route table gives for the server-list
// entry's group, `ServerAddress` the entry's own address (for text
// transfers), `routes` the route table for the route check.  Prints
// "Compare VARNEK V2 complete ..." at verbose level above 1.  kClientOk;
// kClientRefused when COMPARE2 cannot be read as an availability file;
// kClientFailed when the client file cannot be opened or read, or a changed
// record could not be written back.
[[nodiscard]] int CompareV2(const char *ServerIP, const char *ServerAddress, const RouteTable &routes);

// ---------------------------------------------------------------------------
// Server list, install, availability fetch.

// Applies VERSION, NAME, ADDRESS and GROUP to entry `Pointer` and writes it
// (not when GROUP ends up empty, nor when a value is refused).  kClientOk
// when it was written; kClientRefused when it was not (the reason is
// printed); kClientFailed when the write failed.
[[nodiscard]] int UpdateServerListRec(DBase *ServerListFile, int Pointer);

// Fills `IP` (REQUIRES: room for 20 characters) with the address routed for
// `Group` in $HOME/tavrin/data/TVTABLE.TXT, or the empty string.  kClientOk,
// or kClientFailed when the table cannot be read (after
// "Fail to open %s for read\n" when `verbose` is above 1; `IP` is then
// empty): the caller decides whether that ends the run.
[[nodiscard]] int GetIP(const char *Group, char *IP);

// Fetches a server's availability text into "COMPARE2" with the host's
// text-read command under a time limit; returns Exec's status.
[[nodiscard]] int QOLAreadAvailFile(const char *group, int Version);

#endif  // VARNEK_CLIENT_CLIENT_H
