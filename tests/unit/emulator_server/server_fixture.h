// The emulated server of every test here (tests/unit/common), with the
// emulator's own reader of ISO times at hand.
#ifndef EMULATOR_SERVER_FIXTURE_H
#define EMULATOR_SERVER_FIXTURE_H

#include <gtest/gtest.h>

#include <string>

#include "common/emulated_server.h"
#include "formats/codec.h"
#include "notesapi/notesapi.h"
#include "runtime/files.h"
#include "runtime/messages.h"
#include "runtime/timedate.h"

class ServerTest : public EmulatedServer {
protected:
    static TIMEDATE At(const std::string &iso) {
        int64_t h = 0;
        EXPECT_TRUE(emu::ParseIsoUtc(iso, &h)) << iso;
        return emu::MakeTimeDate(h, 0, false);
    }
};

#endif
