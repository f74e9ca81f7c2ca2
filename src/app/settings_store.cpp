// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/settings_store.h"

#include <QFile>
#include <QSaveFile>
#include <QSettings>
#include <QStringList>

#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

constexpr int32_t kDefaultMark = -321;  // a stored value that means "use the default"

std::string StoredText(const TSaveRec &Record) {
  if (const int32_t *i = std::get_if<int32_t>(&Record.Value)) return std::to_string(*i);
  if (const bool *b = std::get_if<bool>(&Record.Value)) return *b ? "YES" : "NO";
  return std::get<std::string>(Record.Value);
}

// A text as QSettings reads it back: quoted when commas, semicolons, "=" or
// outer blanks would otherwise change it, with escapes for quotes,
// backslashes and control characters.
std::string IniValue(const std::string &Text) {
  std::string out = !Text.empty() && Text[0] == '@' ? "@" : "";  // "@..." would name a typed value
  auto hex = [&](unsigned char u) {
    out += "\\x";
    out += "0123456789abcdef"[u >> 4];
    out += "0123456789abcdef"[u & 15];
  };
  bool hexOpen = false;  // a hex escape goes on through any hex digits that follow
  for (const char c : Text) {
    const auto u = static_cast<unsigned char>(c);
    if (hexOpen && std::isxdigit(u)) {
      hex(u);
      continue;
    }
    hexOpen = u < 0x20 && c != '\n' && c != '\r' && c != '\t';
    if (c == '"' || c == '\\') out += std::string("\\") + c;
    else if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else if (c == '\t') out += "\\t";
    else if (hexOpen) hex(u);
    else out += c;
  }
  const bool quoted = Text.find_first_of(",;=") != std::string::npos ||
                      (!Text.empty() && (Text.front() == ' ' || Text.back() == ' '));
  return quoted ? "\"" + out + "\"" : out;
}

// One logical line of an INI text, as QSettings splits it: [Start, End)
// without its line break or trailing comment; Equals is the first "=" outside
// quotes (npos when none).
struct TIniLine {
  size_t Start, End, Equals;
};

std::vector<TIniLine> IniLines(const std::string &Text) {
  std::vector<TIniLine> lines;
  const size_t n = Text.size();
  size_t i = Text.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0;
  auto skipToBreak = [&] {
    while (i < n && Text[i] != '\n' && Text[i] != '\r') ++i;
  };
  while (true) {
    while (i < n && std::strchr(" \t\r\n", Text[i])) ++i;
    if (i >= n) break;
    if (Text[i] == ';') {  // a comment line
      skipToBreak();
      continue;
    }
    TIniLine line{i, i, std::string::npos};
    bool quoted = false;
    for (; i < n; ++i) {
      const char c = Text[i];
      if (c == '\\') {
        ++i;  // the escaped character, a line break too
        if (i + 1 < n && ((Text[i] == '\r' && Text[i + 1] == '\n') || (Text[i] == '\n' && Text[i + 1] == '\r'))) ++i;
      } else if (c == '"') {
        quoted = !quoted;
      } else if (c == '=' && !quoted && line.Equals == std::string::npos) {
        line.Equals = i;
      } else if (!quoted && (c == '\n' || c == '\r' || c == ';')) {
        break;
      }
    }
    line.End = std::min(i, n);
    lines.push_back(line);
    skipToBreak();  // past a trailing comment
  }
  return lines;
}

std::string Trimmed(const std::string &Text) {
  const size_t first = Text.find_first_not_of(" \t");
  return first == std::string::npos ? std::string() : Text.substr(first, Text.find_last_not_of(" \t") - first + 1);
}

// Why the file cannot serve: empty when it is missing or reads well (then
// `Parsed` receives it, when asked for). The lines are checked here, not by
// QSettings, which keeps files it has read in a cache of its own and would
// not see a file damaged since.
std::string FileProblem(const std::string &Path, std::unique_ptr<QSettings> *Parsed) {
  std::error_code ec;
  if (!fs::exists(Path, ec)) return {};
  QFile file(QString::fromStdString(Path));
  if (!fs::is_regular_file(Path, ec) || !file.open(QIODevice::ReadOnly)) return "cannot be read";
  const std::string text = file.readAll().toStdString();
  if (file.error() != QFileDevice::NoError) return "cannot be read";
  for (const TIniLine &line : IniLines(text)) {
    const bool section = text[line.Start] == '[';
    if (section ? text.find(']', line.Start) >= line.End : line.Equals == std::string::npos) return "is damaged";
  }
  auto settings = std::make_unique<QSettings>(QString::fromStdString(Path), QSettings::IniFormat);
  settings->allKeys();  // sections are parsed on first use: parse them all now
  if (settings->status() != QSettings::NoError) return "is damaged";
  if (Parsed) *Parsed = std::move(settings);
  return {};
}

// The INI text with the records' values set among the top-level values: a
// value already there is replaced where it stands, a new one is added after
// the last top-level value. Every other line stays as it was.
std::string WithValues(const std::string &Text, const std::vector<TSaveRec> &Records) {
  const std::string eol = Text.find("\r\n") != std::string::npos ? "\r\n" : "\n";
  struct TEdit {
    size_t At, Length;
    std::string Insert;
  };
  std::vector<TEdit> edits;
  std::map<std::string, std::string> values;
  for (const TSaveRec &r : Records) values[r.Name] = IniValue(StoredText(r));
  std::map<std::string, bool> found;

  bool general = true;
  size_t insertAt = std::string::npos;  // the end of the last top-level line
  for (const TIniLine &line : IniLines(Text)) {
    const std::string content = Text.substr(line.Start, line.End - line.Start);
    auto breakAfter = [&] {
      const size_t at = Text.find_first_of("\r\n", line.End);
      return at == std::string::npos ? Text.size() : at;
    };
    if (content[0] == '[') {
      const size_t close = content.find(']');
      const std::string section = Trimmed(content.substr(1, close == std::string::npos ? close : close - 1));
      general = strcasecmp(section.c_str(), "general") == 0;
      if (general && insertAt == std::string::npos) insertAt = breakAfter();
      continue;
    }
    if (!general || line.Equals == std::string::npos) continue;
    insertAt = breakAfter();
    const std::string name = Trimmed(Text.substr(line.Start, line.Equals - line.Start));
    const auto value = values.find(name);
    if (value == values.end()) continue;
    edits.push_back({line.Start, line.End - line.Start, name + "=" + value->second});
    found[name] = true;
  }

  std::string added;  // the new values, each on a line of its own
  for (const TSaveRec &r : Records)
    if (!found[r.Name]) {
      found[r.Name] = true;  // a name twice in one batch is written once
      added += eol + r.Name + "=" + values[r.Name];
    }
  if (!added.empty() && insertAt == std::string::npos)
    edits.push_back({0, 0, "[General]" + added + eol + (Text.empty() ? "" : eol)});
  else if (!added.empty())
    edits.push_back({insertAt, 0, added});
  std::sort(edits.begin(), edits.end(), [](const TEdit &a, const TEdit &b) { return a.At > b.At; });
  std::string result = Text;
  for (const TEdit &e : edits) result.replace(e.At, e.Length, e.Insert);
  if (!result.empty() && result.back() != '\n') result += eol;
  return result;
}

}  // namespace

TSettingsStore::TSettingsStore(const std::string &FileName, bool BatchMode_) : BatchMode(BatchMode_), Path(FileName) {
  const std::string problem = FileProblem(Path, &Settings);
  if (problem.empty()) return;
  Notice = BatchMode ? "The settings file \"" + Path + "\" " + problem + "; the defaults are used." : SetAside(problem);
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
  if (const auto written = Written.find(Name); written != Written.end()) return written->second;
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

// Moves an unusable file out of the way, under the first free name, so that
// no save writes over it. Returns what the user is told.
std::string TSettingsStore::SetAside(const std::string &Problem) {
  std::error_code ec;
  std::string aside = Path + ".bad";
  for (int i = 1; fs::exists(fs::symlink_status(aside, ec)); ++i) aside = Path + ".bad." + std::to_string(i);
  const std::string said = "The settings file \"" + Path + "\" " + Problem;
  fs::rename(Path, aside, ec);
  if (ec) return said + " and could not be set aside (" + ec.message() + "): the defaults are used, nothing is saved.";
  return said + "; it was kept as \"" + aside + "\" and the defaults are used.";
}

std::string TSettingsStore::WriteSettings(const std::vector<TSaveRec> &Records) {
  if (BatchMode) return {};
  for (const TSaveRec &r : Records) {
    Written[r.Name] = StoredText(r);
    std::erase_if(Unsaved, [&](const TSaveRec &u) { return u.Name == r.Name; });
    Unsaved.push_back(r);
  }
  std::string said;
  if (const std::string problem = FileProblem(Path, nullptr); !problem.empty()) {
    Settings.reset();  // what it held is no longer the file
    said = SetAside(problem);
    std::error_code ec;
    if (fs::exists(fs::symlink_status(Path, ec))) return said;
  }
  if (const std::string failure = Save(); !failure.empty())
    return (said.empty() ? "" : said + "\n") + "The settings could not be saved to \"" + Path + "\": " + failure + ".";
  Unsaved.clear();
  return said;
}

// Writes the file's text with the owed records into a new file beside it and
// gives that file the settings file's name. Returns why it failed, or nothing.
std::string TSettingsStore::Save() {
  std::error_code ec;
  const fs::path folder = fs::path(Path).parent_path();
  if (!folder.empty()) fs::create_directories(folder, ec);
  if (ec) return "the folder \"" + folder.string() + "\" cannot be made (" + ec.message() + ")";
  QByteArray old;
  if (fs::exists(Path, ec)) {
    QFile file(QString::fromStdString(Path));
    if (!file.open(QIODevice::ReadOnly)) return file.errorString().toStdString();
    old = file.readAll();
  }
  const std::string text = WithValues(old.toStdString(), Unsaved);
  QSaveFile file(QString::fromStdString(Path));  // a new file, renamed over the old one on commit
  if (!file.open(QIODevice::WriteOnly)) {
    const std::string where = folder.empty() ? "." : folder.string();
    if (access(where.c_str(), W_OK) != 0) return "the folder \"" + where + "\" cannot be written (" + std::strerror(errno) + ")";
    return file.errorString().toStdString();
  }
  if (file.write(text.data(), qint64(text.size())) != qint64(text.size()) || !file.flush())
    return file.errorString().toStdString();
  if (fsync(file.handle()) != 0) return std::strerror(errno);
  if (!file.commit()) return file.errorString().toStdString();
  return {};
}
