// SPDX-License-Identifier: GPL-3.0-or-later
// Ogg Vorbis and Opus (mapping family 1) order the channels of 3 to 8 their
// own way (centre second, LFE last); the samples arrive in the WAV order.
// Channel c of such a stream takes source channel kVorbisFromWav[channels][c].
#pragma once

inline constexpr int kVorbisFromWav[9][8] = {{},
                                             {0},
                                             {0, 1},
                                             {0, 2, 1},
                                             {0, 1, 2, 3},
                                             {0, 2, 1, 3, 4},
                                             {0, 2, 1, 4, 5, 3},
                                             {0, 2, 1, 5, 6, 4, 3},
                                             {0, 2, 1, 6, 7, 4, 5, 3}};
