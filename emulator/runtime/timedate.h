// The emulator's TIMEDATE: a moment as hundredths of a second since
// 1970-01-01T00:00:00Z, plus the zone and daylight-saving flag it was read
// in (bit layout in docs/emulator-runtime.md), and ISO 8601 text for the
// server model and notesemu. The exported conversions are in timedate.cc.
#ifndef NOTESEMU_RUNTIME_TIMEDATE_H
#define NOTESEMU_RUNTIME_TIMEDATE_H

#include <stdint.h>

#include <string>
#include <string_view>

#include "notesapi/notesapi.h"

namespace emu {

TIMEDATE MakeTimeDate(int64_t hundredthsSinceEpoch, int zoneMinutesEast, bool dst);
int64_t TimeDateHundredths(const TIMEDATE &td);
int TimeDateZoneMinutes(const TIMEDATE &td);  // standard offset, minutes east
bool TimeDateDst(const TIMEDATE &td);

// ISO 8601 UTC ("2013-11-15T12:59:00Z") to and from hundredths since the epoch.
bool ParseIsoUtc(std::string_view text, int64_t *hundredths);
std::string FormatIsoUtc(int64_t hundredths);
int64_t NowHundredths();

}  // namespace emu

#endif
