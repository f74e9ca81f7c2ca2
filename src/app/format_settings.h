// The stored settings of each destination format, with their names and
// defaults written once, here.
#pragma once

#include <vector>

#include "app/settings_store.h"
#include "encoders/flac_coder.h"
#include "encoders/mp3_coder.h"

class TCoder_engine;

// MP3: the three bitrates are stored as positions of the bitrate table and
// held in kbit/s.
TMP3Options LoadMP3Options(const TSettingsStore &Store);
std::vector<TSaveRec> MP3OptionsRecords(const TMP3Options &Options);

TFLACOptions LoadFLACOptions(const TSettingsStore &Store);
std::vector<TSaveRec> FLACOptionsRecords(const TFLACOptions &Options);

// Monkey's Audio: the compression setting, 1 fast .. 5 insane ("APECompression").
int32_t LoadAPECompression(const TSettingsStore &Store);
std::vector<TSaveRec> APECompressionRecords(int32_t Compression);

// Hands every format's stored settings to the engine.
void LoadFormatOptions(const TSettingsStore &Store, TCoder_engine &Engine);
