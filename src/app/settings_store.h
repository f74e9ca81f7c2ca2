// SPDX-License-Identifier: GPL-3.0-or-later
// The user's settings: named values in an INI file a person can read and edit
// ($XDG_CONFIG_HOME/tonmill/tonmill.conf). A missing file reads as the
// defaults; so does an unreadable or damaged one, which is set aside as
// "tonmill.conf.bad" instead of being written over. A batch run never writes.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <variant>
#include <vector>

class QSettings;

// One value of a write batch; the kind of the value chooses how it is stored
// (integers as numbers, Booleans as "YES"/"NO", strings as they are).
struct TSaveRec {
  std::string Name;
  std::variant<int32_t, bool, std::string> Value;
};

class TSettingsStore {
 public:
  // In batch mode an unusable file is only reported, never moved.
  explicit TSettingsStore(const std::string &FileName = DefaultFileName(), bool BatchMode = false);
  ~TSettingsStore();
  static std::string DefaultFileName();

  // A missing or unreadable value, or the stored integer -321, gives Default.
  int32_t ReadInteger(const std::string &Name, int32_t Default) const;
  // An empty stored text gives Default.
  std::string ReadString(const std::string &Name, const std::string &Default) const;
  // Only the exact text "YES" is true; an empty text gives Default.
  bool ReadBoolean(const std::string &Name, bool Default) const;
  // Puts the records into the file, which is replaced whole in one step;
  // every other line of it stays as it was. Returns a text for the user when
  // the save failed or an unusable file had to be set aside, else nothing.
  // Records that could not be written still read back, and the next save
  // writes them. Does nothing in batch mode.
  [[nodiscard]] std::string WriteSettings(const std::vector<TSaveRec> &Records);
  // What was wrong with the file when it was read; empty once taken.
  std::string TakeNotice() { return std::exchange(Notice, {}); }

  const std::string &FileName() const { return Path; }
  bool BatchMode = false;

 private:
  std::string Text(const std::string &Name) const;
  std::string SetAside(const std::string &Problem);
  std::string Save();

  std::string Path, Notice;
  std::unique_ptr<QSettings> Settings;         // the file as read; null when missing or unusable
  std::map<std::string, std::string> Written;  // values written since, as they read back
  std::vector<TSaveRec> Unsaved;               // records the file does not hold yet
};
