// Argument helpers shared by the client commands, and the two image
// computations Zoom and WriteSize.

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "client/client.h"
#include "host/host.h"

namespace {

const char *const kYesNoWords[] = {"N", "Y", "NO", "YES", "FALSE", "TRUE", "F", "T", "XENDX"};

std::int32_t Clamp32(std::int64_t v) {
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<std::int32_t>(v);
}

}  // namespace

Boolean ValidateArgs1(int *Arg1, int MaxValue) {
  if (Tvcmdnum("") > 2) {
    if (verbose) std::printf("Invalid number of positional arguments ...\n");
    return False;
  }
  return Tvcmdint("", 2, "Invalid 2nd Positional Argument", 1, 1, MaxValue, Arg1) >= 0 ? True : False;
}

Boolean ValidateArgs2(int *Arg1, int *Arg2, int MaxValue) {
  int count = Tvcmdnum("");
  if (count < 2 || count > 3) {
    if (verbose) std::printf("Invalid number of positional arguments ...\n");
    return False;
  }
  if (Tvcmdint("", 2, "Invalid 2nd Positional Argument", 1, 1, MaxValue, Arg1) < 0) return False;
  return Tvcmdint("", 3, "Invalid 3rd Positional Argument", *Arg1, 1, MaxValue, Arg2) >= 0 ? True : False;
}

int GetStrArg(const char *Option, char *Value, std::size_t Size, const char *Default) {
  const char *text = Default;
  int rc = Tvcmdstr(Option, 1, Default, &text);
  std::string_view value = text ? text : "";
  if (HasControlCharacter(value)) {
    std::printf("VKC error: %s value contains a control character.\n", Option);
    return kValueTooLong;
  }
  if (!CopyField(Value, Size, value)) {
    std::printf("VKC error: %s value is longer than %zu characters.\n", Option, Size - 1);
    return kValueTooLong;
  }
  return rc;
}

int GetListArg(const char *Option, const char *const *List, int Default) {
  const char *value = "NONE";
  (void)Tvcmdstr(Option, 1, "NONE", &value);
  if (std::strcmp(value, "NONE") == 0) return Default;
  if (int index = WordIndex(List, value); index >= 0) return index;
  if (verbose) std::printf("Undefined command option ...\n");
  TvNoteRefusedValue();
  return Default;
}

void GetLogArg(const char *Option, std::int32_t *Data, int Default) {
  *Data = GetListArg(Option, kYesNoWords, Default ? 1 : 0) % 2 ? True : False;
}

void ReadDataType(int *DataTypeMask) {
  int count = Tvcmdnum("TYPE");
  if (count == 0) {
    *DataTypeMask = 0xFFFF;
    return;
  }
  *DataTypeMask = 0;
  for (int i = 1; i <= count; ++i) {
    const char *word = "NONE";
    (void)Tvcmdstr("TYPE", i, "NONE", &word);
    FileTypes type = UNKNOWN;
    if (DataTypeFromWord(word, type)) *DataTypeMask |= 1 << type;
    else if (std::string_view(word) == "ALL") *DataTypeMask = 0xFFF;
    else {
      if (verbose) std::printf("Invalid type specifier ...\n");
      TvNoteRefusedValue();
    }
  }
}

void Zoom(const char *Satellite, int Rs, int Rd, int *LMag, int *EMag) {
  std::int64_t rd = Rd == 0 ? 1 : Rd;
  std::int64_t rs = Rs == 0 ? 1 : Rs;  // an unknown server resolution: no division by zero
  static const char *const kGoes[] = {"G8",  "G9",  "G10", "G11", "G12", "G13", "G14",
                                      "G15", "GE",  "GW",  "GER", "GWR", "GCR", "GPR"};
  bool goes = false;
  for (const char *name : kGoes) goes = goes || std::strcmp(Satellite, name) == 0;
  std::int64_t l, e;
  if (goes) {
    if (rs > rd) {
      l = rs / rd;
      e = l / 2;
    } else {
      l = -(rd / rs);
      e = 2 * l;
    }
  } else if (std::strstr(Satellite, "DPI")) {
    l = -2;
    e = -4;
  } else {
    l = e = rs > rd ? rs / rd : -(rd / rs);
  }
  *LMag = Clamp32(l);
  *EMag = Clamp32(e);
}

char *WriteSize(char *Op, int BegSize, int EndSize) {
  std::printf("Sizes are %d %d \n", BegSize, EndSize);
  if (BegSize == -1 || BegSize == 0 || EndSize == -1 || EndSize == 0)
    std::snprintf(Op, 30, " SIZE=SAME");
  else if (BegSize == -99 || EndSize == -99)
    std::snprintf(Op, 30, " SIZE=ALL");
  else
    std::snprintf(Op, 30, " SIZE=%5d %5d", BegSize, EndSize);
  return Op;
}
