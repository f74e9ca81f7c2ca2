// The texts the user reads, one variable per text identifier. The language
// file fills them (app/texts); until then, and for any identifier a language
// file lacks, they hold their English text.
#pragma once

#include <string>
#include <vector>

#include <fmt/printf.h>

extern std::string text_failed_to_init_decoding;
extern std::string text_getting_audio_info_failed;
extern std::string text_failed_to_init;
extern std::string text_failed_to_init_resampler;
extern std::string text_encoder;
extern std::string text_failed_to_init_encoder;
extern std::string text_encoder_error;
extern std::string text_failed_to_init_bass;
extern std::string text_error_code;
extern std::string text_fatal_error;
extern std::string text_input;
extern std::string text_output;
extern std::string text_start;
extern std::string text_close;
extern std::string text_cancel;
extern std::string text_options;
extern std::string text_settings;
extern std::string text_progress;
extern std::string text_dest_format;
extern std::string text_dest_folder;
extern std::string text_source_files;
extern std::string text_info;
extern std::string text_drag_files;
extern std::string text_same_as_source;
extern std::string text_create_full;
extern std::string text_priority_idle;
extern std::string text_priority_normal;
extern std::string text_priority_high;
extern std::string text_parallel_files_simple;
extern std::string text_parallel_files_advanced;
extern std::string text_set;
extern std::string text_default;
extern std::string text_priority;
extern std::string text_reduce;
extern std::string text_ok;
extern std::string text_about;
extern std::string text_processing;
extern std::string text_time_elapsed;
extern std::string text_time_remaining;
extern std::string text_compression;
extern std::string text_ape_settings;
extern std::string text_program_options;
extern std::string text_contact_information;
extern std::string text_with_support;
extern std::string text_without_support;
extern std::string text_title;
extern std::string text_performer;
extern std::string text_index;
extern std::string text_cue_info;
extern std::string text_error;
extern std::string text_copy_to_clipboard;
extern std::string text_remove;
extern std::string text_changing_this;
extern std::string text_smaller_is_faster;
extern std::string text_block_size;
extern std::string text_flac_settings;
extern std::string text_mp3_settings;
extern std::string text_preset;
extern std::string text_cbr;
extern std::string text_vbr;
extern std::string text_max_bitrate;
extern std::string text_min_bitrate;
extern std::string text_vbr_method;
extern std::string text_old;
extern std::string text_new;
extern std::string text_abr;
extern std::string text_quality;
extern std::string text_stereo_mode;
extern std::string text_stereo;
extern std::string text_joint_stereo;
extern std::string text_0_is_highest;
extern std::string text_auto_find_bitrate;
extern std::string text_ogg_settings;
extern std::string text_defined_by_bitrates;
extern std::string text_desired_max;
extern std::string text_desired_avg;
extern std::string text_desired_min;
extern std::string text_preprocess_settings;
extern std::string text_preprocess;
extern std::string text_split_by_silence;
extern std::string text_threshold;
extern std::string text_silence_must_be_at_least;
extern std::string text_seconds_long;
extern std::string text_channels;
extern std::string text_source;
extern std::string text_source_files_info;
extern std::string text_wavpack_settings;
extern std::string text_aac_settings;
extern std::string text_wma_settings;
extern std::string text_use_pro_codec;
extern std::string text_loseless;
extern std::string text_loseless_wavpack;
extern std::string text_hybrid;
extern std::string text_bandwidth;
extern std::string text_bitrate;
extern std::string text_compression_fast;
extern std::string text_compression_normal;
extern std::string text_compression_high;
extern std::string text_compression_very_high;
extern std::string text_compression_extra;
extern std::string text_compression_insane;
extern std::string text_files_will_be_processed1;
extern std::string text_files_will_be_processed;
extern std::string text_files_were_processed1;
extern std::string text_files_were_processed;
extern std::string text_flac1;
extern std::string text_flac2;
extern std::string text_flac3;
extern std::string text_flac4;
extern std::string text_flac5;
extern std::string text_flac6;
extern std::string text_flac7;
extern std::string text_flac8;
extern std::string text_auto;
extern std::string text_use_all;
extern std::string text_verion_info;
extern std::string text_memory_usage;
extern std::string text_done;
extern std::string text_resample_to;
extern std::string text_enable;
extern std::string text_gathering_audio_info;

// One registered text: its identifier, its variable and its English text.
struct TTextEntry {
  const char *Identifier;
  std::string *Variable;
  const char *English;
};

// The 121 texts in registration order.
const std::vector<TTextEntry> &TextRegistry();
// The built-in English text of a text variable ("" for any other string).
const char *EnglishText(const std::string &variable);
// Gives every text variable its English text again.
void ResetTextsToEnglish();

// Formats a text variable printf-style. Language files are user data: when the
// text's placeholders do not fit the arguments, the English text is used.
template <typename... Args>
std::string FormatText(const std::string &text, const Args &...args) {
  try {
    return fmt::sprintf(text, args...);
  } catch (const fmt::format_error &) {
    try {
      return fmt::sprintf(EnglishText(text), args...);
    } catch (const fmt::format_error &) {
      return text;
    }
  }
}
