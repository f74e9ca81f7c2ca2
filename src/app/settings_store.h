// The user's settings: named values in an INI file a person can read and edit
// ($XDG_CONFIG_HOME/tonmill/tonmill.conf). A missing, unreadable or damaged
// file reads as the defaults; a batch run never writes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
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
  explicit TSettingsStore(const std::string &FileName = DefaultFileName(), bool BatchMode = false);
  ~TSettingsStore();
  static std::string DefaultFileName();

  // A missing or unreadable value, or the stored integer -321, gives Default.
  int32_t ReadInteger(const std::string &Name, int32_t Default) const;
  // An empty stored text gives Default.
  std::string ReadString(const std::string &Name, const std::string &Default) const;
  // Only the exact text "YES" is true; an empty text gives Default.
  bool ReadBoolean(const std::string &Name, bool Default) const;
  // Writes every record in order; does nothing in batch mode. Raises when the
  // file cannot be written.
  std::string WriteSettings(const std::vector<TSaveRec> &Records);
  std::string TakeNotice() { return std::move(Notice); }

  const std::string &FileName() const { return Path; }
  bool BatchMode = false;

 private:
  std::string Text(const std::string &Name) const;
  std::string Path;
  std::string Notice;
  std::unique_ptr<QSettings> Settings;  // null when the file could not be parsed
};
