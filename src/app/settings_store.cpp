#include "app/settings_store.h"

#include <QSettings>
#include <QStringList>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace {
constexpr int32_t kDefaultMark = -321;  // a stored value that means "use the default"
}

TSettingsStore::TSettingsStore(const std::string &FileName, bool BatchMode_) : BatchMode(BatchMode_), Path(FileName) {
  Settings = std::make_unique<QSettings>(QString::fromStdString(Path), QSettings::IniFormat);
  Settings->allKeys();  // the file is parsed on first use: parse it now
  if (Settings->status() != QSettings::NoError) Settings.reset();
}

TSettingsStore::~TSettingsStore() = default;

std::string TSettingsStore::DefaultFileName() {
  const char *config = std::getenv("XDG_CONFIG_HOME");
  std::string folder;
  if (config && *config) {
    folder = config;
  } else {
    const char *home = std::getenv("HOME");
    folder = std::string(home ? home : ".") + "/.config";
  }
  return folder + "/tonmill/tonmill.conf";
}

std::string TSettingsStore::Text(const std::string &Name) const {
  if (!Settings) return {};
  const QVariant value = Settings->value(QString::fromStdString(Name));
  // An unquoted text with commas in a hand-edited file reads as a list.
  if (value.typeId() == QMetaType::QStringList) return value.toStringList().join(", ").toStdString();
  return value.toString().toStdString();
}

int32_t TSettingsStore::ReadInteger(const std::string &Name, int32_t Default) const {
  bool ok = false;
  const int32_t value = QString::fromStdString(Text(Name)).trimmed().toInt(&ok);
  return ok && value != kDefaultMark ? value : Default;
}

std::string TSettingsStore::ReadString(const std::string &Name, const std::string &Default) const {
  const std::string value = Text(Name);
  return value.empty() ? Default : value;
}

bool TSettingsStore::ReadBoolean(const std::string &Name, bool Default) const {
  const std::string value = Text(Name);
  return value.empty() ? Default : value == "YES";
}

std::string TSettingsStore::WriteSettings(const std::vector<TSaveRec> &Records) {
  if (BatchMode) return {};
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(Path).parent_path(), ec);
  // A damaged file is replaced by the values written now.
  if (!Settings) {
    std::filesystem::remove(Path, ec);
    Settings = std::make_unique<QSettings>(QString::fromStdString(Path), QSettings::IniFormat);
  }
  for (const TSaveRec &r : Records) {
    const QString name = QString::fromStdString(r.Name);
    if (const int32_t *i = std::get_if<int32_t>(&r.Value))
      Settings->setValue(name, *i);
    else if (const bool *b = std::get_if<bool>(&r.Value))
      Settings->setValue(name, *b ? "YES" : "NO");
    else
      Settings->setValue(name, QString::fromStdString(std::get<std::string>(r.Value)));
  }
  Settings->sync();
  if (Settings->status() != QSettings::NoError)
    throw std::runtime_error("Cannot write the settings file \"" + Path + "\"");
  return {};
}
