#include "engine/texts.h"

#include <unordered_map>

std::string text_failed_to_init_decoding = "Failed to initialize decoding";
std::string text_getting_audio_info_failed = "Getting audio info failed, error code %d";
std::string text_failed_to_init = "Failed to initialize";
std::string text_failed_to_init_resampler = "Failed to initialize the resampler";
std::string text_encoder = "Encoder";
std::string text_failed_to_init_encoder = "Failed to initialize encoder %s";
std::string text_encoder_error = "Encoder error%s, code %d: %s";
std::string text_failed_to_init_bass = "Failed to initialize the decoder, error code %d";
std::string text_error_code = "Error code";
std::string text_fatal_error = "Fatal error ocurred : %s. Closing application.";
std::string text_input = "Input: ";
std::string text_output = "Output: ";
std::string text_start = "Start";
std::string text_close = "Close";
std::string text_cancel = "Cancel";
std::string text_options = "Options";
std::string text_settings = "Settings";
std::string text_progress = "Progress";
std::string text_dest_format = "Destination Format";
std::string text_dest_folder = "Destination Folder";
std::string text_source_files = "Source Files";
std::string text_info = "Info";
std::string text_drag_files = "Drag files or folders here, program will automatically choose only supported audio files...";
std::string text_same_as_source = "Same as Source";
std::string text_create_full = "Create full output path";
std::string text_priority_idle = "Idle";
std::string text_priority_normal = "Normal";
std::string text_priority_high = "High";
std::string text_parallel_files_simple = "Parallel Files (simple)";
std::string text_parallel_files_advanced = "Parallel Files (advanced)";
std::string text_set = "Set";
std::string text_default = "Default";
std::string text_priority = "Priority";
std::string text_reduce = "Automatically reduce form's size while processing files";
std::string text_ok = "OK";
std::string text_about = "About";
std::string text_processing = "Processing file %d of %d";
std::string text_time_elapsed = "Time elapsed";
std::string text_time_remaining = "Time remaining";
std::string text_compression = "Compression";
std::string text_ape_settings = "APE Settings";
std::string text_program_options = "Program Options";
std::string text_contact_information = "Contact information";
std::string text_with_support = "with %s support";
std::string text_without_support = "without %s support";
std::string text_title = "Title";
std::string text_performer = "Performer";
std::string text_index = "Index";
std::string text_cue_info = "CUE Info";
std::string text_error = "Error";
std::string text_copy_to_clipboard = "Copy to clipboard";
std::string text_remove = "Remove";
std::string text_changing_this = "Changing this will change settings below";
std::string text_smaller_is_faster = "Smaller is faster, bigger is slower";
std::string text_block_size = "Block Size";
std::string text_flac_settings = "FLAC Settings";
std::string text_mp3_settings = "MP3 Settings";
std::string text_preset = "Preset";
std::string text_cbr = "Constant Bitrate (CBR)";
std::string text_vbr = "Variable Bitrate (VBR)";
std::string text_max_bitrate = "Max Bitrate";
std::string text_min_bitrate = "Min Bitrate";
std::string text_vbr_method = "VBR Method";
std::string text_old = "Old";
std::string text_new = "New";
std::string text_abr = "ABR";
std::string text_quality = "Quality";
std::string text_stereo_mode = "Stereo mode";
std::string text_stereo = "Stereo";
std::string text_joint_stereo = "Joint stereo";
std::string text_0_is_highest = "Please note that 0 is highest, 9 is lowest";
std::string text_auto_find_bitrate = "Auto find Bitrate";
std::string text_ogg_settings = "OGG Settings";
std::string text_defined_by_bitrates = "Defined by Bitrates";
std::string text_desired_max = "Desired Max";
std::string text_desired_avg = "Desired Avg";
std::string text_desired_min = "Desired Min";
std::string text_preprocess_settings = "Preprocess Settings";
std::string text_preprocess = "Preprocess";
std::string text_split_by_silence = "Split by Silence";
std::string text_threshold = "Threshold";
std::string text_silence_must_be_at_least = "Silence must be at least";
std::string text_seconds_long = "seconds long";
std::string text_channels = "Channels";
std::string text_source = "SOURCE";
std::string text_source_files_info = "Source Files Info";
std::string text_wavpack_settings = "WavPack Settings";
std::string text_aac_settings = "AAC Settings";
std::string text_wma_settings = "WMA Settings";
std::string text_use_pro_codec = "Use PRO codec";
std::string text_loseless = "Loseless";
std::string text_loseless_wavpack = "Loseless Compression";
std::string text_hybrid = "Hybrid Compression";
std::string text_bandwidth = "Bandwidth";
std::string text_bitrate = "Bitrate";
std::string text_compression_fast = "Fast";
std::string text_compression_normal = "Normal";
std::string text_compression_high = "High";
std::string text_compression_very_high = "Very High";
std::string text_compression_extra = "Extra High";
std::string text_compression_insane = "Insane";
std::string text_files_will_be_processed1 = "%d file will be processed";
std::string text_files_will_be_processed = "%d files will be processed";
std::string text_files_were_processed1 = "%d file was processed";
std::string text_files_were_processed = "%d files were processed";
std::string text_flac1 = "Exhaustive model search (-e)";
std::string text_flac2 = "Exhaustive LP coefficient quantization optimization (-p)";
std::string text_flac3 = "Adaptive mid-side coding (-M)";
std::string text_flac4 = "Mid-side coding (-m)";
std::string text_flac5 = "Maximum LPC order (-l)";
std::string text_flac6 = "Max residual partition order (-r)";
std::string text_flac7 = "Min residual partition order (-r)";
std::string text_flac8 = "Precision of the quantized LP coefficients (-q)";
std::string text_auto = "Auto";
std::string text_use_all = "Use all";
std::string text_verion_info = "Version Info...";
std::string text_memory_usage = "Memory usage";
std::string text_done = "%d%% done";
std::string text_resample_to = "Resample to";
std::string text_enable = "Preprocess";
std::string text_gathering_audio_info = "Gathering audio information...";

const std::vector<TTextEntry> &TextRegistry() {
  static const std::vector<TTextEntry> registry = {
      {"text_failed_to_init_decoding", &text_failed_to_init_decoding, "Failed to initialize decoding"},
      {"text_getting_audio_info_failed", &text_getting_audio_info_failed, "Getting audio info failed, error code %d"},
      {"text_failed_to_init", &text_failed_to_init, "Failed to initialize"},
      {"text_failed_to_init_resampler", &text_failed_to_init_resampler, "Failed to initialize the resampler"},
      {"text_encoder", &text_encoder, "Encoder"},
      {"text_failed_to_init_encoder", &text_failed_to_init_encoder, "Failed to initialize encoder %s"},
      {"text_encoder_error", &text_encoder_error, "Encoder error%s, code %d: %s"},
      {"text_failed_to_init_bass", &text_failed_to_init_bass, "Failed to initialize the decoder, error code %d"},
      {"text_error_code", &text_error_code, "Error code"},
      {"text_fatal_error", &text_fatal_error, "Fatal error ocurred : %s. Closing application."},
      {"text_input", &text_input, "Input: "},
      {"text_output", &text_output, "Output: "},
      {"text_start", &text_start, "Start"},
      {"text_close", &text_close, "Close"},
      {"text_cancel", &text_cancel, "Cancel"},
      {"text_options", &text_options, "Options"},
      {"text_settings", &text_settings, "Settings"},
      {"text_progress", &text_progress, "Progress"},
      {"text_dest_format", &text_dest_format, "Destination Format"},
      {"text_dest_folder", &text_dest_folder, "Destination Folder"},
      {"text_source_files", &text_source_files, "Source Files"},
      {"text_info", &text_info, "Info"},
      {"text_drag_files", &text_drag_files, "Drag files or folders here, program will automatically choose only supported audio files..."},
      {"text_same_as_source", &text_same_as_source, "Same as Source"},
      {"text_create_full", &text_create_full, "Create full output path"},
      {"text_priority_idle", &text_priority_idle, "Idle"},
      {"text_priority_normal", &text_priority_normal, "Normal"},
      {"text_priority_high", &text_priority_high, "High"},
      {"text_parallel_files_simple", &text_parallel_files_simple, "Parallel Files (simple)"},
      {"text_parallel_files_advanced", &text_parallel_files_advanced, "Parallel Files (advanced)"},
      {"text_set", &text_set, "Set"},
      {"text_default", &text_default, "Default"},
      {"text_priority", &text_priority, "Priority"},
      {"text_reduce", &text_reduce, "Automatically reduce form's size while processing files"},
      {"text_ok", &text_ok, "OK"},
      {"text_about", &text_about, "About"},
      {"text_processing", &text_processing, "Processing file %d of %d"},
      {"text_time_elapsed", &text_time_elapsed, "Time elapsed"},
      {"text_time_remaining", &text_time_remaining, "Time remaining"},
      {"text_compression", &text_compression, "Compression"},
      {"text_ape_settings", &text_ape_settings, "APE Settings"},
      {"text_program_options", &text_program_options, "Program Options"},
      {"text_contact_information", &text_contact_information, "Contact information"},
      {"text_with_support", &text_with_support, "with %s support"},
      {"text_without_support", &text_without_support, "without %s support"},
      {"text_title", &text_title, "Title"},
      {"text_performer", &text_performer, "Performer"},
      {"text_index", &text_index, "Index"},
      {"text_cue_info", &text_cue_info, "CUE Info"},
      {"text_error", &text_error, "Error"},
      {"text_copy_to_clipboard", &text_copy_to_clipboard, "Copy to clipboard"},
      {"text_remove", &text_remove, "Remove"},
      {"text_changing_this", &text_changing_this, "Changing this will change settings below"},
      {"text_smaller_is_faster", &text_smaller_is_faster, "Smaller is faster, bigger is slower"},
      {"text_block_size", &text_block_size, "Block Size"},
      {"text_flac_settings", &text_flac_settings, "FLAC Settings"},
      {"text_mp3_settings", &text_mp3_settings, "MP3 Settings"},
      {"text_preset", &text_preset, "Preset"},
      {"text_cbr", &text_cbr, "Constant Bitrate (CBR)"},
      {"text_vbr", &text_vbr, "Variable Bitrate (VBR)"},
      {"text_max_bitrate", &text_max_bitrate, "Max Bitrate"},
      {"text_min_bitrate", &text_min_bitrate, "Min Bitrate"},
      {"text_vbr_method", &text_vbr_method, "VBR Method"},
      {"text_old", &text_old, "Old"},
      {"text_new", &text_new, "New"},
      {"text_abr", &text_abr, "ABR"},
      {"text_quality", &text_quality, "Quality"},
      {"text_stereo_mode", &text_stereo_mode, "Stereo mode"},
      {"text_stereo", &text_stereo, "Stereo"},
      {"text_joint_stereo", &text_joint_stereo, "Joint stereo"},
      {"text_0_is_highest", &text_0_is_highest, "Please note that 0 is highest, 9 is lowest"},
      {"text_auto_find_bitrate", &text_auto_find_bitrate, "Auto find Bitrate"},
      {"text_ogg_settings", &text_ogg_settings, "OGG Settings"},
      {"text_defined_by_bitrates", &text_defined_by_bitrates, "Defined by Bitrates"},
      {"text_desired_max", &text_desired_max, "Desired Max"},
      {"text_desired_avg", &text_desired_avg, "Desired Avg"},
      {"text_desired_min", &text_desired_min, "Desired Min"},
      {"text_preprocess_settings", &text_preprocess_settings, "Preprocess Settings"},
      {"text_preprocess", &text_preprocess, "Preprocess"},
      {"text_split_by_silence", &text_split_by_silence, "Split by Silence"},
      {"text_threshold", &text_threshold, "Threshold"},
      {"text_silence_must_be_at_least", &text_silence_must_be_at_least, "Silence must be at least"},
      {"text_seconds_long", &text_seconds_long, "seconds long"},
      {"text_channels", &text_channels, "Channels"},
      {"text_source", &text_source, "SOURCE"},
      {"text_source_files_info", &text_source_files_info, "Source Files Info"},
      {"text_wavpack_settings", &text_wavpack_settings, "WavPack Settings"},
      {"text_aac_settings", &text_aac_settings, "AAC Settings"},
      {"text_wma_settings", &text_wma_settings, "WMA Settings"},
      {"text_use_pro_codec", &text_use_pro_codec, "Use PRO codec"},
      {"text_loseless", &text_loseless, "Loseless"},
      {"text_loseless_wavpack", &text_loseless_wavpack, "Loseless Compression"},
      {"text_hybrid", &text_hybrid, "Hybrid Compression"},
      {"text_bandwidth", &text_bandwidth, "Bandwidth"},
      {"text_bitrate", &text_bitrate, "Bitrate"},
      {"text_compression_fast", &text_compression_fast, "Fast"},
      {"text_compression_normal", &text_compression_normal, "Normal"},
      {"text_compression_high", &text_compression_high, "High"},
      {"text_compression_very_high", &text_compression_very_high, "Very High"},
      {"text_compression_extra", &text_compression_extra, "Extra High"},
      {"text_compression_insane", &text_compression_insane, "Insane"},
      {"text_files_will_be_processed1", &text_files_will_be_processed1, "%d file will be processed"},
      {"text_files_will_be_processed", &text_files_will_be_processed, "%d files will be processed"},
      {"text_files_were_processed1", &text_files_were_processed1, "%d file was processed"},
      {"text_files_were_processed", &text_files_were_processed, "%d files were processed"},
      {"text_flac1", &text_flac1, "Exhaustive model search (-e)"},
      {"text_flac2", &text_flac2, "Exhaustive LP coefficient quantization optimization (-p)"},
      {"text_flac3", &text_flac3, "Adaptive mid-side coding (-M)"},
      {"text_flac4", &text_flac4, "Mid-side coding (-m)"},
      {"text_flac5", &text_flac5, "Maximum LPC order (-l)"},
      {"text_flac6", &text_flac6, "Max residual partition order (-r)"},
      {"text_flac7", &text_flac7, "Min residual partition order (-r)"},
      {"text_flac8", &text_flac8, "Precision of the quantized LP coefficients (-q)"},
      {"text_auto", &text_auto, "Auto"},
      {"text_use_all", &text_use_all, "Use all"},
      {"text_verion_info", &text_verion_info, "Version Info..."},
      {"text_memory_usage", &text_memory_usage, "Memory usage"},
      {"text_done", &text_done, "%d%% done"},
      {"text_resample_to", &text_resample_to, "Resample to"},
      {"text_enable", &text_enable, "Preprocess"},
      {"text_gathering_audio_info", &text_gathering_audio_info, "Gathering audio information..."},
  };
  return registry;
}

const char *EnglishText(const std::string &variable) {
  static const std::unordered_map<const std::string *, const char *> english = [] {
    std::unordered_map<const std::string *, const char *> map;
    for (const TTextEntry &e : TextRegistry()) map[e.Variable] = e.English;
    return map;
  }();
  const auto it = english.find(&variable);
  return it == english.end() ? "" : it->second;
}

void ResetTextsToEnglish() {
  for (const TTextEntry &e : TextRegistry()) *e.Variable = e.English;
}
