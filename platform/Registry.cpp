// Registry hives kept as .reg text files: the key tree, its parser and writer, atomic saving.
#include "platform/Registry.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace velq3 {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
constexpr std::string_view kOldHeader = "REGEDIT4";
constexpr std::size_t kMaxNameLength = 255;
constexpr std::size_t kMaxFileSize = 64u << 20;  // far above any real hive; guards memory
constexpr std::size_t kHexLineWidth = 76;         // wrap hex data as regedit does

// Names compare as Windows compares them: ASCII letters upper-cased.
char FoldChar(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

std::string Fold(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = FoldChar(c);
    return out;
}

bool EqualFolded(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldChar(a[i]) != FoldChar(b[i])) return false;
    }
    return true;
}

std::string_view TrimLeft(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    return s;
}

std::string_view TrimRight(std::string_view s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

std::string_view Trim(std::string_view s) { return TrimRight(TrimLeft(s)); }

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// 1..8 hex digits.
std::optional<std::uint32_t> ParseHex32(std::string_view s) {
    if (s.empty() || s.size() > 8) return std::nullopt;
    std::uint32_t value = 0;
    for (char c : s) {
        const int d = HexDigit(c);
        if (d < 0) return std::nullopt;
        value = value * 16 + static_cast<std::uint32_t>(d);
    }
    return value;
}

// Splits a key path into its names; nothing when a name is empty, too long or holds a control
// character.
std::optional<std::vector<std::string_view>> SplitKey(std::string_view key) {
    std::vector<std::string_view> parts;
    if (key.empty()) return parts;
    for (;;) {
        const auto cut = key.find('\\');
        const std::string_view part = key.substr(0, cut);
        if (part.empty() || part.size() > kMaxNameLength) return std::nullopt;
        for (char c : part) {
            if (static_cast<unsigned char>(c) < 0x20) return std::nullopt;
        }
        parts.push_back(part);
        if (cut == std::string_view::npos) return parts;
        key.remove_prefix(cut + 1);
    }
}

bool ValidValueName(std::string_view name) {
    return name.find_first_of(std::string_view("\0\r\n", 3)) == std::string_view::npos;
}

std::vector<std::uint8_t> DwordBytes(std::uint32_t value) {
    return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
            static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}

std::string ErrnoText(int error) { return std::strerror(error); }

}  // namespace

struct RegistryHive::Node {
    struct NamedValue {
        std::string name;
        RegValue value;
    };

    std::string name;
    std::vector<NamedValue> values;
    std::map<std::string, std::unique_ptr<Node>> children;  // by folded name: sorted enumeration

    Node* Child(std::string_view childName) const {
        auto it = children.find(Fold(childName));
        return it == children.end() ? nullptr : it->second.get();
    }

    Node* ChildOrNew(std::string_view childName) {
        auto& slot = children[Fold(childName)];
        if (!slot) {
            slot = std::make_unique<Node>();
            slot->name = std::string(childName);
        }
        return slot.get();
    }

    NamedValue* FindValue(std::string_view valueName) {
        for (auto& v : values) {
            if (EqualFolded(v.name, valueName)) return &v;
        }
        return nullptr;
    }

    void Set(std::string_view valueName, RegValue value) {
        if (NamedValue* existing = FindValue(valueName)) {
            existing->value = std::move(value);
        } else {
            values.push_back({std::string(valueName), std::move(value)});
        }
    }

    bool Remove(std::string_view valueName) {
        for (auto it = values.begin(); it != values.end(); ++it) {
            if (EqualFolded(it->name, valueName)) {
                values.erase(it);
                return true;
            }
        }
        return false;
    }
};

namespace {

using Node = RegistryHive::Node;

Node* Find(Node* root, std::string_view key) {
    auto parts = SplitKey(key);
    if (!parts) return nullptr;
    Node* node = root;
    for (auto part : *parts) {
        node = node->Child(part);
        if (!node) return nullptr;
    }
    return node;
}

Node* FindOrCreate(Node* root, const std::vector<std::string_view>& parts) {
    Node* node = root;
    for (auto part : parts) node = node->ChildOrNew(part);
    return node;
}

bool DeleteTree(Node* root, const std::vector<std::string_view>& parts) {
    if (parts.empty()) return false;
    Node* parent = root;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        parent = parent->Child(parts[i]);
        if (!parent) return false;
    }
    return parent->children.erase(Fold(parts.back())) > 0;
}

// ---- writing ----

void AppendQuoted(std::string& out, std::string_view text) {
    out += '"';
    for (char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    out += '"';
}

// A REG_SZ is written as a quoted string when its bytes fit on one line and end in one zero;
// anything else keeps its exact bytes as hex(1).
bool WritableAsString(const std::vector<std::uint8_t>& data) {
    if (data.empty() || data.back() != 0) return false;
    for (std::size_t i = 0; i + 1 < data.size(); ++i) {
        if (data[i] == 0 || data[i] == '\r' || data[i] == '\n') return false;
    }
    return true;
}

void AppendHex(std::string& out, std::size_t lineStart, const std::vector<std::uint8_t>& data) {
    static constexpr char kDigits[] = "0123456789abcdef";
    for (std::size_t i = 0; i < data.size(); ++i) {
        out += kDigits[data[i] >> 4];
        out += kDigits[data[i] & 0xF];
        if (i + 1 == data.size()) break;
        out += ',';
        if (out.size() - lineStart > kHexLineWidth) {
            out += "\\\n  ";
            lineStart = out.size() - 2;
        }
    }
}

void AppendValue(std::string& out, const Node::NamedValue& v) {
    const std::size_t lineStart = out.size();
    if (v.name.empty()) {
        out += '@';
    } else {
        AppendQuoted(out, v.name);
    }
    out += '=';
    const auto& data = v.value.data;
    if (v.value.type == RegType::Sz && WritableAsString(data)) {
        AppendQuoted(out, std::string_view(reinterpret_cast<const char*>(data.data()),
                                           data.size() - 1));
    } else if (v.value.type == RegType::Dword && data.size() == 4) {
        char digits[16];
        const std::uint32_t value = data[0] | (data[1] << 8) | (data[2] << 16) |
                                    (static_cast<std::uint32_t>(data[3]) << 24);
        std::snprintf(digits, sizeof digits, "dword:%08x", value);
        out += digits;
    } else {
        if (v.value.type == RegType::Binary) {
            out += "hex:";
        } else {
            char prefix[24];
            std::snprintf(prefix, sizeof prefix, "hex(%x):",
                          static_cast<unsigned>(v.value.type));
            out += prefix;
        }
        AppendHex(out, lineStart, data);
    }
    out += '\n';
}

void AppendTree(std::string& out, const std::string& path, const Node& node, bool isRoot) {
    if (!isRoot || !node.values.empty()) {
        out += '[';
        out += path;
        out += "]\n";
        for (const auto& v : node.values) AppendValue(out, v);
        out += '\n';
    }
    for (const auto& [folded, child] : node.children) {
        AppendTree(out, path + "\\" + child->name, *child, false);
    }
}

// ---- parsing ----

class Parser {
public:
    Parser(std::string_view text, std::string_view rootName) : rootName_(rootName) {
        if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
        while (!text.empty()) {
            const auto end = text.find('\n');
            std::string_view line = text.substr(0, end);
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
            lines_.push_back(line);
            if (end == std::string_view::npos) break;
            text.remove_prefix(end + 1);
        }
    }

    // Fills `root`; on failure `error` tells what and where.
    bool Run(Node& root) {
        root_ = &root;
        while (index_ < lines_.size() && Trim(lines_[index_]).empty()) ++index_;
        if (index_ == lines_.size()) return Fail("the file is empty");
        const auto header = Trim(lines_[index_]);
        if (header != kHeader && header != kOldHeader) return Fail("the header line is missing");
        for (++index_; index_ < lines_.size(); ++index_) {
            const std::string_view line = Trim(lines_[index_]);
            if (line.empty() || line.front() == ';') continue;
            const bool ok = line.front() == '[' ? Section(line)
                            : (line.front() == '"' || line.front() == '@') ? Value(line)
                            : Fail("unexpected text");
            if (!ok) return false;
        }
        return true;
    }

    std::string error;

private:
    bool Fail(const std::string& what) {
        error = "line " + std::to_string(index_ + 1) + ": " + what;
        return false;
    }

    bool Section(std::string_view line) {
        const auto close = line.rfind(']');
        if (close == std::string_view::npos || close < 1 || !Trim(line.substr(close + 1)).empty()) {
            return Fail("a key line lacks its closing ']'");
        }
        std::string_view inner = line.substr(1, close - 1);
        const bool remove = !inner.empty() && inner.front() == '-';
        if (remove) inner.remove_prefix(1);
        const auto cut = inner.find('\\');
        if (!EqualFolded(inner.substr(0, cut), rootName_)) {
            return Fail("key outside " + std::string(rootName_));
        }
        const auto parts = SplitKey(cut == std::string_view::npos ? "" : inner.substr(cut + 1));
        if (!parts) return Fail("invalid key name");
        if (remove) {
            DeleteTree(root_, *parts);
            current_ = nullptr;
        } else {
            current_ = FindOrCreate(root_, *parts);
        }
        return true;
    }

    // Reads a quoted string starting at s[pos] == '"'; leaves pos after the closing quote.
    bool Quoted(std::string_view s, std::size_t& pos, std::string& out) {
        for (++pos; pos < s.size(); ++pos) {
            const char c = s[pos];
            if (c == '"') {
                ++pos;
                return true;
            }
            if (c == '\\') {
                if (pos + 1 >= s.size() || (s[pos + 1] != '\\' && s[pos + 1] != '"')) {
                    return Fail("unknown escape in a quoted string");
                }
                ++pos;
            }
            out += s[pos];
        }
        return Fail("a quoted string is not closed");
    }

    bool Value(std::string_view line) {
        if (!current_) return Fail("a value outside any key");
        std::string name;
        std::size_t pos = 0;
        if (line.front() == '@') {
            pos = 1;
        } else if (!Quoted(line, pos, name)) {
            return false;
        }
        if (!ValidValueName(name)) return Fail("invalid value name");
        std::string_view rest = TrimLeft(line.substr(pos));
        if (rest.empty() || rest.front() != '=') return Fail("'=' expected after the value name");
        rest = TrimLeft(rest.substr(1));

        if (rest == "-") {
            current_->Remove(name);
            return true;
        }
        if (!rest.empty() && rest.front() == '"') {
            std::string text;
            std::size_t at = 0;
            if (!Quoted(rest, at, text)) return false;
            if (!Trim(rest.substr(at)).empty()) return Fail("text after a quoted string");
            RegValue value{RegType::Sz, std::vector<std::uint8_t>(text.begin(), text.end())};
            value.data.push_back(0);
            current_->Set(name, std::move(value));
            return true;
        }
        if (rest.substr(0, 6) == "dword:") {
            const auto number = ParseHex32(Trim(rest.substr(6)));
            if (!number) return Fail("a dword needs 1 to 8 hex digits");
            current_->Set(name, RegValue{RegType::Dword, DwordBytes(*number)});
            return true;
        }
        if (rest.substr(0, 3) == "hex") {
            rest.remove_prefix(3);
            auto type = RegType::Binary;
            if (!rest.empty() && rest.front() == '(') {
                const auto close = rest.find(')');
                const auto number = close == std::string_view::npos
                                        ? std::nullopt
                                        : ParseHex32(rest.substr(1, close - 1));
                if (!number) return Fail("invalid hex(type)");
                type = static_cast<RegType>(*number);
                rest.remove_prefix(close + 1);
            }
            if (rest.empty() || rest.front() != ':') return Fail("':' expected after hex");
            std::vector<std::uint8_t> bytes;
            if (!HexList(rest.substr(1), bytes)) return false;
            current_->Set(name, RegValue{type, std::move(bytes)});
            return true;
        }
        return Fail("unknown value format");
    }

    // Comma-separated bytes; a line ending in '\' continues on the next line.
    bool HexList(std::string_view first, std::vector<std::uint8_t>& out) {
        std::string joined;
        std::string_view part = Trim(first);
        while (!part.empty() && part.back() == '\\') {
            joined += TrimRight(part.substr(0, part.size() - 1));
            if (++index_ >= lines_.size()) return Fail("hex data continues past the end");
            part = Trim(lines_[index_]);
        }
        joined += part;
        std::string_view list = joined;
        if (Trim(list).empty()) return true;
        for (;;) {
            const auto comma = list.find(',');
            const std::string_view token = Trim(list.substr(0, comma));
            if (token.empty() || token.size() > 2) return Fail("invalid hex byte");
            const auto byte = ParseHex32(token);
            if (!byte) return Fail("invalid hex byte");
            out.push_back(static_cast<std::uint8_t>(*byte));
            if (comma == std::string_view::npos) return true;
            list.remove_prefix(comma + 1);
        }
    }

    std::string_view rootName_;
    std::vector<std::string_view> lines_;
    std::size_t index_ = 0;
    Node* root_ = nullptr;
    Node* current_ = nullptr;
};

// ---- files ----

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

enum class ReadStatus { Ok, Missing, Failed };

ReadStatus ReadFile(const fs::path& path, std::string& out, std::string& why) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return ReadStatus::Missing;
        why = ErrnoText(errno);
        return ReadStatus::Failed;
    }
    struct stat st {};
    ReadStatus status = ReadStatus::Ok;
    if (fstat(fd, &st) != 0) {
        why = ErrnoText(errno);
        status = ReadStatus::Failed;
    } else if (!S_ISREG(st.st_mode)) {
        why = "not a regular file";
        status = ReadStatus::Failed;
    } else if (static_cast<std::size_t>(st.st_size) > kMaxFileSize) {
        why = "larger than " + std::to_string(kMaxFileSize) + " bytes";
        status = ReadStatus::Failed;
    } else {
        char buffer[65536];
        for (;;) {
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                why = ErrnoText(errno);
                status = ReadStatus::Failed;
                break;
            }
            if (n == 0) break;
            out.append(buffer, static_cast<std::size_t>(n));
            if (out.size() > kMaxFileSize) {
                why = "larger than " + std::to_string(kMaxFileSize) + " bytes";
                status = ReadStatus::Failed;
                break;
            }
        }
    }
    close(fd);
    return status;
}

bool FsyncDir(const fs::path& dir) {
    const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = fsync(fd) == 0;
    close(fd);
    return ok;
}

}  // namespace

// ---- RegistryHive ----

RegistryHive::RegistryHive(fs::path file, std::string_view rootName, HiveOptions options)
    : file_(std::move(file)),
      rootName_(rootName),
      options_(std::move(options)),
      root_(std::make_unique<Node>()) {}

RegistryHive::~RegistryHive() = default;
RegistryHive::RegistryHive(RegistryHive&&) noexcept = default;
RegistryHive& RegistryHive::operator=(RegistryHive&&) noexcept = default;

void RegistryHive::Report(const std::string& line) const {
    if (options_.diagnostics) {
        options_.diagnostics(line);
    } else {
        std::fprintf(stderr, "%s\n", line.c_str());
    }
}

void RegistryHive::Clear() { root_ = std::make_unique<Node>(); }

std::string RegistryHive::BackupName() const {
    SystemCalendarClock system;
    const CalendarClock& clock = options_.clock ? *options_.clock : system;
    const std::tm local = clock.LocalNow();
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    return file_.string() + ".bad-" + stamp;
}

// Keeps the damaged file under a new name: a copy of what was read, or, when it could not be
// read, a hard link to it. The original stays in place until the next Save() replaces it.
// Returns the name used.
std::optional<std::string> RegistryHive::KeepDamaged(const std::string* content) {
    const std::string base = BackupName();
    for (int attempt = 1; attempt <= 100; ++attempt) {
        const std::string name = attempt == 1 ? base : base + "-" + std::to_string(attempt);
        if (!content) {
            if (link(file_.c_str(), name.c_str()) == 0) return name;
            if (errno == EEXIST) continue;
            return std::nullopt;
        }
        const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 && errno == EEXIST) continue;
        if (fd < 0) return std::nullopt;
        const bool ok = WriteAll(fd, *content) && fsync(fd) == 0;
        if (close(fd) == 0 && ok) return name;
        unlink(name.c_str());
        return std::nullopt;
    }
    return std::nullopt;
}

RegistryHive::LoadResult RegistryHive::Load() {
    Clear();
    refuseSave_ = false;
    if (file_.empty()) return LoadResult::Missing;

    std::string text;
    std::string why;
    const ReadStatus status = ReadFile(file_, text, why);
    if (status == ReadStatus::Missing) return LoadResult::Missing;
    if (status == ReadStatus::Ok) {
        auto parsed = std::make_unique<Node>();
        Parser parser(text, rootName_);
        if (parser.Run(*parsed)) {
            root_ = std::move(parsed);
            return LoadResult::Loaded;
        }
        why = parser.error;
    }
    std::string message = "registry: cannot use " + file_.string() + " (" + why +
                          "); starting from default settings; ";
    if (const auto kept = KeepDamaged(status == ReadStatus::Ok ? &text : nullptr)) {
        message += "the file is kept as " + *kept;
    } else {
        refuseSave_ = true;
        message += "no copy of it could be made, so it will not be overwritten";
    }
    Report(message);
    return LoadResult::Damaged;
}

std::string RegistryHive::ToText() const {
    std::string out(kHeader);
    out += "\n\n";
    AppendTree(out, rootName_, *root_, true);
    return out;
}

bool RegistryHive::Save() {
    if (file_.empty()) {
        Report("registry: no file to save " + rootName_ + " to");
        return false;
    }
    if (refuseSave_) {
        Report("registry: not saving over the damaged " + file_.string() +
               ", of which no copy could be kept");
        return false;
    }
    std::error_code ec;
    // Write through symbolic links (e.g. a managed dotfile) rather than replacing them.
    fs::path target = file_;
    for (int depth = 0; depth < 40 && fs::is_symlink(target, ec); ++depth) {
        const fs::path next = fs::read_symlink(target, ec);
        if (ec) break;
        target = next.is_absolute() ? next : target.parent_path() / next;
    }
    fs::path dir = target.parent_path();
    if (dir.empty()) dir = ".";
    fs::create_directories(dir, ec);

    const std::string text = ToText();
    std::string temp = (dir / ("." + target.filename().string() + ".tmp-XXXXXX")).string();
    const int fd = mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        Report("registry: cannot save " + file_.string() + ": cannot create a file in " +
               dir.string() + ": " + ErrnoText(errno));
        return false;
    }
    std::string failure;
    const auto fail = [&failure](const char* step) {
        failure = std::string(step) + ": " + ErrnoText(errno);
    };
    if (!WriteAll(fd, text)) {
        fail("write");
    } else if (fsync(fd) != 0) {
        fail("fsync");
    }
    if (close(fd) != 0 && failure.empty()) fail("close");
    if (failure.empty() && rename(temp.c_str(), target.c_str()) != 0) fail("rename");
    if (!failure.empty()) {
        unlink(temp.c_str());
        Report("registry: cannot save " + file_.string() + ": " + failure);
        return false;
    }
    if (!FsyncDir(dir)) {
        Report("registry: saved " + file_.string() + " but could not flush its folder: " +
               ErrnoText(errno));
    }
    return true;
}

bool RegistryHive::CreateKey(std::string_view key) {
    const auto parts = SplitKey(key);
    if (!parts) return false;
    FindOrCreate(root_.get(), *parts);
    return true;
}

bool RegistryHive::KeyExists(std::string_view key) const { return Find(root_.get(), key); }

bool RegistryHive::DeleteKeyTree(std::string_view key) {
    const auto parts = SplitKey(key);
    return parts && DeleteTree(root_.get(), *parts);
}

std::vector<std::string> RegistryHive::SubKeys(std::string_view key) const {
    std::vector<std::string> names;
    if (const Node* node = Find(root_.get(), key)) {
        for (const auto& [folded, child] : node->children) names.push_back(child->name);
    }
    return names;
}

std::vector<std::string> RegistryHive::ValueNames(std::string_view key) const {
    std::vector<std::string> names;
    if (const Node* node = Find(root_.get(), key)) {
        for (const auto& v : node->values) names.push_back(v.name);
    }
    return names;
}

bool RegistryHive::SetValue(std::string_view key, std::string_view name, RegValue value) {
    const auto parts = SplitKey(key);
    if (!parts || !ValidValueName(name)) return false;
    FindOrCreate(root_.get(), *parts)->Set(name, std::move(value));
    return true;
}

bool RegistryHive::SetDword(std::string_view key, std::string_view name, std::uint32_t value) {
    return SetValue(key, name, RegValue{RegType::Dword, DwordBytes(value)});
}

bool RegistryHive::SetBinary(std::string_view key, std::string_view name,
                             std::span<const std::uint8_t> data) {
    return SetValue(key, name, RegValue{RegType::Binary, {data.begin(), data.end()}});
}

bool RegistryHive::SetString(std::string_view key, std::string_view name, std::string_view value) {
    RegValue stored{RegType::Sz, std::vector<std::uint8_t>(value.begin(), value.end())};
    stored.data.push_back(0);
    return SetValue(key, name, std::move(stored));
}

std::optional<RegValue> RegistryHive::Query(std::string_view key, std::string_view name) const {
    Node* node = Find(root_.get(), key);
    if (!node) return std::nullopt;
    const Node::NamedValue* v = node->FindValue(name);
    if (!v) return std::nullopt;
    return v->value;
}

std::optional<std::uint32_t> RegistryHive::GetDword(std::string_view key,
                                                    std::string_view name) const {
    const auto v = Query(key, name);
    if (!v || v->type != RegType::Dword || v->data.size() != 4) return std::nullopt;
    const auto& d = v->data;
    return d[0] | (d[1] << 8) | (d[2] << 16) | (static_cast<std::uint32_t>(d[3]) << 24);
}

std::optional<std::string> RegistryHive::GetString(std::string_view key,
                                                   std::string_view name) const {
    const auto v = Query(key, name);
    if (!v || v->type != RegType::Sz) return std::nullopt;
    std::string text(v->data.begin(), v->data.end());
    text.resize(std::strlen(text.c_str()));
    return text;
}

bool RegistryHive::DeleteValue(std::string_view key, std::string_view name) {
    Node* node = Find(root_.get(), key);
    return node && node->Remove(name);
}

// ---- default hives ----

std::filesystem::path CurrentUserHivePath(const EnvLookup& env) {
    return ConfigDir(env) / "user.reg";
}

std::filesystem::path ClassesRootHivePath(const EnvLookup& env) {
    return ConfigDir(env) / "classes.reg";
}

namespace {

RegistryHive OpenDefault(fs::path (*pathOf)(const EnvLookup&), std::string_view root,
                         const EnvLookup& env, HiveOptions options) {
    fs::path path;
    try {
        path = pathOf(env);
    } catch (const std::exception& e) {
        const std::string problem = "registry: no settings folder for " + std::string(root) +
                                    ": " + e.what();
        if (options.diagnostics) {
            options.diagnostics(problem);
        } else {
            std::fprintf(stderr, "%s\n", problem.c_str());
        }
    }
    RegistryHive hive(path, root, std::move(options));
    hive.Load();
    return hive;
}

}  // namespace

RegistryHive OpenCurrentUserHive(const EnvLookup& env, HiveOptions options) {
    return OpenDefault(&CurrentUserHivePath, kCurrentUserRoot, env, std::move(options));
}

RegistryHive OpenClassesRootHive(const EnvLookup& env, HiveOptions options) {
    return OpenDefault(&ClassesRootHivePath, kClassesRoot, env, std::move(options));
}

}  // namespace velq3
