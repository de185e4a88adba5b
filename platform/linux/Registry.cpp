// Registry hives kept as .reg text files: the key tree, its parser and writer, atomic saving.
#include "platform/Registry.h"

#include "platform/RegText.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <list>
#include <map>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

namespace velq3 {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
constexpr std::string_view kOldHeader = "REGEDIT4";
constexpr std::size_t kMaxNameLength = 255;
// Bounds that every file this code writes keeps, checked when a file is read: a deeper key or a
// longer line marks the file as damaged. 512 levels and 16383-byte value names are Windows' own
// limits; a line holds at most a key of 512 names of 255 bytes or one value name with its
// quoted text (longer texts are written as wrapped hex).
constexpr std::size_t kMaxKeyDepth = 512;
constexpr std::size_t kMaxValueNameLength = 16383;
constexpr std::size_t kMaxLineLength = 256u << 10;
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
// character, or when there are more than kMaxKeyDepth names.
std::optional<std::vector<std::string_view>> SplitKey(std::string_view key) {
    std::vector<std::string_view> parts;
    if (key.empty()) return parts;
    for (;;) {
        if (parts.size() == kMaxKeyDepth) return std::nullopt;
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
    return name.size() <= kMaxValueNameLength &&
           name.find_first_of(std::string_view("\0\r\n", 3)) == std::string_view::npos;
}

// The folded path, names joined by '\\': one spelling for every way of writing a key.
std::string FoldedPath(const std::vector<std::string_view>& parts) {
    std::string out;
    for (auto part : parts) {
        if (!out.empty()) out += '\\';
        out += Fold(part);
    }
    return out;
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
    std::list<NamedValue> values;  // in the order first set
    std::unordered_map<std::string, std::list<NamedValue>::iterator> valueIndex;  // by folded name
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
        auto it = valueIndex.find(Fold(valueName));
        return it == valueIndex.end() ? nullptr : &*it->second;
    }

    void Set(std::string_view valueName, RegValue value) {
        auto [it, added] = valueIndex.try_emplace(Fold(valueName));
        if (added) {
            it->second = values.insert(values.end(), {std::string(valueName), std::move(value)});
        } else {
            it->second->value = std::move(value);
        }
    }

    bool Remove(std::string_view valueName) {
        auto it = valueIndex.find(Fold(valueName));
        if (it == valueIndex.end()) return false;
        values.erase(it->second);
        valueIndex.erase(it);
        return true;
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

// A REG_SZ is written as a quoted string when its bytes fit on one line and end in one zero;
// anything else keeps its exact bytes as hex(1). Quoting at most doubles the text, so a text of
// up to half a line (less room for the name) stays within kMaxLineLength.
bool WritableAsString(const std::vector<std::uint8_t>& data) {
    if (data.empty() || data.back() != 0) return false;
    if (data.size() > (kMaxLineLength - 2 * kMaxValueNameLength - 16) / 2) return false;
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
        detail::AppendRegQuoted(out, v.name);
    }
    out += '=';
    const auto& data = v.value.data;
    if (v.value.type == RegType::Sz && WritableAsString(data)) {
        detail::AppendRegQuoted(out, std::string_view(reinterpret_cast<const char*>(data.data()),
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

// Writes the keys depth first in sorted order, with an explicit stack rather than recursion.
void AppendTree(std::string& out, const std::string& rootName, const Node& root) {
    struct Pending {
        const Node* node;
        std::string path;
    };
    std::vector<Pending> stack;
    stack.push_back({&root, rootName});
    while (!stack.empty()) {
        Pending item = std::move(stack.back());
        stack.pop_back();
        const Node& node = *item.node;
        if (&node != &root || !node.values.empty()) {
            out += '[';
            out += item.path;
            out += "]\n";
            for (const auto& v : node.values) AppendValue(out, v);
            out += '\n';
        }
        for (auto it = node.children.rbegin(); it != node.children.rend(); ++it) {
            stack.push_back({it->second.get(), item.path + "\\" + it->second->name});
        }
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
            if (line.size() > kMaxLineLength && !longLine_) longLine_ = lines_.size();
            lines_.push_back(line);
            if (end == std::string_view::npos) break;
            text.remove_prefix(end + 1);
        }
    }

    // Fills `root`; on failure `error` tells what and where.
    bool Run(Node& root) {
        root_ = &root;
        if (longLine_) {
            index_ = *longLine_;
            return Fail("longer than " + std::to_string(kMaxLineLength) + " bytes");
        }
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
        if (static_cast<std::size_t>(std::count(inner.begin(), inner.end(), '\\')) > kMaxKeyDepth) {
            return Fail("key deeper than " + std::to_string(kMaxKeyDepth) + " levels");
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
    std::optional<std::size_t> longLine_;  // the first line over kMaxLineLength
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

enum class ReadStatus {
    Ok,
    Missing,
    Failed,    // there, but unreadable (permissions, a folder, too large, an I/O error)
    NotAFile,  // a symbolic link, FIFO, socket or device node is in the file's place
};

const char* KindOf(mode_t mode) {
    if (S_ISLNK(mode)) return "a symbolic link";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device node";
    if (S_ISDIR(mode)) return "a folder";
    return "not a regular file";
}

// Reads a regular file without following a link in its place: the type is checked before the
// open (so that no device is opened) and again on the open file (so that nothing swapped in
// between is read). O_NONBLOCK keeps a FIFO from blocking the open. A file reached through a
// link (`throughLink`) must also belong to this user.
// `st` describes what was found (when something was).
ReadStatus ReadFile(const fs::path& path, std::string& out, std::string& why, struct stat& st,
                    bool throughLink) {
    if (lstat(path.c_str(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) return ReadStatus::Missing;  // a save reports it
        why = ErrnoText(errno);
        return ReadStatus::Failed;
    }
    if (!S_ISREG(st.st_mode)) {
        why = KindOf(st.st_mode);
        return S_ISDIR(st.st_mode) ? ReadStatus::Failed : ReadStatus::NotAFile;
    }
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        if (errno == ENOENT) return ReadStatus::Missing;
        if (errno == ELOOP) {
            why = KindOf(S_IFLNK);
            return ReadStatus::NotAFile;
        }
        why = ErrnoText(errno);
        return ReadStatus::Failed;
    }
    ReadStatus status = ReadStatus::Ok;
    if (fstat(fd, &st) != 0) {
        why = ErrnoText(errno);
        status = ReadStatus::Failed;
    } else if (!S_ISREG(st.st_mode)) {
        why = KindOf(st.st_mode);
        status = S_ISDIR(st.st_mode) ? ReadStatus::Failed : ReadStatus::NotAFile;
    } else if (throughLink && st.st_uid != geteuid()) {
        why = "a symbolic link to another user's file";
        status = ReadStatus::NotAFile;
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

// Where the hive's file really is: `file` itself, or, when a symbolic link stands in its place
// (as dotfile managers keep settings), the regular file of this user that it leads to. That
// file is read and replaced in its own folder, so the link stays a link. A link that leads to
// anything else (nothing, a folder, a FIFO, a device, another user's file) is NotAFile and is
// never followed. What stands in the file's place when it is no link is left to ReadFile.
ReadStatus FollowLink(const fs::path& file, fs::path& target, std::string& why) {
    target = file;
    struct stat st {};
    if (lstat(file.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return ReadStatus::Ok;
    char* resolved = realpath(file.c_str(), nullptr);
    if (!resolved) {
        why = "a symbolic link that leads nowhere: " + ErrnoText(errno);
        return ReadStatus::NotAFile;
    }
    const fs::path real = resolved;
    std::free(resolved);
    if (lstat(real.c_str(), &st) != 0) {
        why = "a symbolic link that leads nowhere: " + ErrnoText(errno);
        return ReadStatus::NotAFile;
    }
    if (!S_ISREG(st.st_mode)) {
        why = std::string("a symbolic link to ") + KindOf(st.st_mode);
        return ReadStatus::NotAFile;
    }
    if (st.st_uid != geteuid()) {
        why = "a symbolic link to another user's file";
        return ReadStatus::NotAFile;
    }
    target = real;
    return ReadStatus::Ok;
}

// The temporary files of a save: ".<name>.tmp-XXXXXX" beside the file.
std::string TempPrefix(const fs::path& file) { return "." + file.filename().string() + ".tmp-"; }
constexpr std::size_t kTempSuffixLength = 6;  // mkostemp's XXXXXX

// Removes the temporary files of saves that were killed before their rename. A save holds an
// exclusive lock on its temporary file until it is renamed, so a file that can be locked has
// no living writer.
void RemoveStaleTemporaries(const fs::path& file) {
    fs::path dir = file.parent_path();
    if (dir.empty()) dir = ".";
    const std::string prefix = TempPrefix(file);
    DIR* listing = opendir(dir.c_str());
    if (!listing) return;
    const int dirFd = dirfd(listing);
    while (const dirent* entry = readdir(listing)) {
        const std::string_view name = entry->d_name;
        if (name.size() != prefix.size() + kTempSuffixLength || name.substr(0, prefix.size()) != prefix) {
            continue;
        }
        const int fd = openat(dirFd, entry->d_name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
        if (fd < 0) continue;
        struct stat st {};
        if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid() &&
            flock(fd, LOCK_EX | LOCK_NB) == 0) {
            unlinkat(dirFd, entry->d_name, 0);
        }
        close(fd);
    }
    closedir(listing);
}

bool FsyncDir(const fs::path& dir) {
    const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = fsync(fd) == 0;
    close(fd);
    return ok;
}

// Finds `parts` in `to`, creating what is missing with the spelling `from` has for it (or the
// spelling in `parts` where `from` lacks the key).
Node* FindOrCreateLike(Node* to, const Node* from, const std::vector<std::string_view>& parts) {
    for (auto part : parts) {
        from = from ? from->Child(part) : nullptr;
        to = to->ChildOrNew(from ? std::string_view(from->name) : part);
    }
    return to;
}

Node* FindParts(Node* root, const std::vector<std::string_view>& parts) {
    Node* node = root;
    for (auto part : parts) {
        node = node->Child(part);
        if (!node) return nullptr;
    }
    return node;
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

void RegistryHive::Clear() {
    root_ = std::make_unique<Node>();
    owned_ = {};
    owned_.everything = true;
}

std::string RegistryHive::BackupName(const fs::path& file) const {
    SystemCalendarClock system;
    const CalendarClock& clock = options_.clock ? *options_.clock : system;
    const std::tm local = clock.LocalNow();
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    return file.string() + ".bad-" + stamp;
}

// Keeps the damaged `file` under a new name beside it: a copy of what was read, or, when it
// could not be read, a hard link to it. The original stays in place until the next Save()
// replaces it. Returns the name used.
std::optional<std::string> RegistryHive::KeepDamaged(const fs::path& file, const std::string* content) {
    const std::string base = BackupName(file);
    for (int attempt = 1; attempt <= 100; ++attempt) {
        const std::string name = attempt == 1 ? base : base + "-" + std::to_string(attempt);
        if (!content) {
            if (link(file.c_str(), name.c_str()) == 0) return name;
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

// Moves a link, FIFO, socket or device node out of the file's place under the damaged-file
// name: the entry itself is renamed, whatever it points at stays untouched.
std::optional<std::string> RegistryHive::SetAside() {
    const std::string base = BackupName(file_);
    for (int attempt = 1; attempt <= 100; ++attempt) {
        const std::string name = attempt == 1 ? base : base + "-" + std::to_string(attempt);
        if (renameat2(AT_FDCWD, file_.c_str(), AT_FDCWD, name.c_str(), RENAME_NOREPLACE) == 0) return name;
        if (errno == EEXIST) continue;
        return std::nullopt;
    }
    return std::nullopt;
}

// Reads the file as it is now into `into`. A damaged file, or something else in its place, is
// kept aside and reported with `consequence` (once: the damaged file that is already kept is not
// kept again); Unkept when that failed (then nothing may be written over it). A missing file
// reads as an empty hive. `target` is set to the path a save writes: the file a link in the
// file's place leads to, else the file itself.
RegistryHive::ReadOutcome RegistryHive::ReadCurrent(Node& into, const std::string& consequence,
                                                    fs::path& target) {
    std::string text;
    std::string why;
    struct stat st {};
    ReadStatus status = FollowLink(file_, target, why);
    if (status == ReadStatus::Ok) status = ReadFile(target, text, why, st, target != file_);
    if (status == ReadStatus::Missing) return ReadOutcome::Missing;
    if (status == ReadStatus::Ok) {
        Parser parser(text, rootName_);
        if (parser.Run(into)) return ReadOutcome::Read;
        into = Node{};
        why = parser.error;
    }
    const KeptFile found{st.st_dev, st.st_ino, st.st_size, st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
    if (status != ReadStatus::NotAFile && keptDamaged_ == found) return ReadOutcome::Damaged;
    const fs::path& shown = status == ReadStatus::NotAFile ? file_ : target;
    std::string message = "registry: cannot use " + shown.string() + " (" + why + "); " + consequence + "; ";
    std::optional<std::string> kept;
    if (status == ReadStatus::NotAFile) {
        // The entry in the file's place goes, never what a link in it leads to.
        kept = SetAside();
        target = file_;
        if (kept) message += "it is moved aside as " + *kept;
    } else {
        kept = KeepDamaged(target, status == ReadStatus::Ok ? &text : nullptr);
        if (kept) {
            message += "the file is kept as " + *kept;
            keptDamaged_ = found;
        }
    }
    if (!kept) message += "no copy of it could be made, so it will not be overwritten";
    Report(message);
    return kept ? ReadOutcome::Damaged : ReadOutcome::Unkept;
}

RegistryHive::LoadResult RegistryHive::Load() {
    root_ = std::make_unique<Node>();
    owned_ = {};
    keptDamaged_.reset();
    refuseSave_ = false;
    if (file_.empty()) return LoadResult::Missing;
    fs::path target;
    std::string unused;
    FollowLink(file_, target, unused);
    RemoveStaleTemporaries(target);

    auto parsed = std::make_unique<Node>();
    switch (ReadCurrent(*parsed, "starting from default settings", target)) {
    case ReadOutcome::Read:
        root_ = std::move(parsed);
        return LoadResult::Loaded;
    case ReadOutcome::Missing:
        return LoadResult::Missing;
    case ReadOutcome::Damaged:
        return LoadResult::Damaged;
    case ReadOutcome::Unkept:
        refuseSave_ = true;
        return LoadResult::Damaged;
    }
    return LoadResult::Damaged;
}

// The file as it is now with this hive's own changes applied: trees it deleted go, keys it
// created and values it set take its current state, values it deleted stay deleted.
void RegistryHive::ApplyOwnChanges(Node& current) const {
    if (owned_.everything) current = Node{};
    for (const auto& [folded, key] : owned_.deletedTrees) {
        if (const auto parts = SplitKey(key)) DeleteTree(&current, *parts);
    }
    for (const auto& [folded, key] : owned_.createdKeys) {
        const auto parts = SplitKey(key);
        if (parts && FindParts(root_.get(), *parts)) FindOrCreateLike(&current, root_.get(), *parts);
    }
    for (const OwnedValue& owned : owned_.values) {
        const auto parts = SplitKey(owned.key);
        if (!parts) continue;
        Node* mine = FindParts(root_.get(), *parts);
        const Node::NamedValue* value = mine ? mine->FindValue(owned.name) : nullptr;
        if (value) {
            FindOrCreateLike(&current, root_.get(), *parts)->Set(value->name, value->value);
        } else if (Node* theirs = FindParts(&current, *parts)) {
            theirs->Remove(owned.name);
        }
    }
}

void RegistryHive::OwnValue(std::string_view key, std::string_view name) {
    const auto parts = SplitKey(key);
    if (!parts) return;
    std::string folded = FoldedPath(*parts);
    folded += '\0';  // cannot occur in a name: separates key and value
    folded += Fold(name);
    if (owned_.valueIndex.try_emplace(std::move(folded), owned_.values.size()).second) {
        owned_.values.push_back({std::string(key), std::string(name)});
    }
}

std::string RegistryHive::ToText() const {
    std::string out(kHeader);
    out += "\n\n";
    AppendTree(out, rootName_, *root_);
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
    fs::create_directories(file_.parent_path().empty() ? fs::path(".") : file_.parent_path(), ec);

    // Values others wrote meanwhile are kept: only this hive's own changes go over the file as
    // it is now. A file that became damaged is kept aside and this hive's contents are written.
    // The file is written in its own folder and rename() replaces that directory entry: a link
    // to this user's regular file is written through (the file it leads to is replaced, the
    // link stays), and whatever else stands in the file's place has been moved aside.
    fs::path target;
    auto current = std::make_unique<Node>();
    switch (ReadCurrent(*current, "saving this program's settings in its place", target)) {
    case ReadOutcome::Read:
    case ReadOutcome::Missing:
        ApplyOwnChanges(*current);
        root_ = std::move(current);
        break;
    case ReadOutcome::Damaged:
        break;
    case ReadOutcome::Unkept:
        return false;
    }

    fs::path dir = target.parent_path();
    if (dir.empty()) dir = ".";
    const std::string text = ToText();
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 10 && fd < 0; ++attempt) {
        temp = (dir / (TempPrefix(target) + "XXXXXX")).string();
        fd = mkostemp(temp.data(), O_CLOEXEC);
        if (fd < 0) break;
        // Held until the rename: a start in between sees a save in progress, not litter. A
        // file removed before the lock was taken is given up for a new one.
        struct stat st {};
        if (flock(fd, LOCK_EX) != 0 || fstat(fd, &st) != 0 || st.st_nlink == 0) {
            close(fd);
            fd = -1;
        }
    }
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
    if (failure.empty() && rename(temp.c_str(), target.c_str()) != 0) fail("rename");
    if (!failure.empty()) unlink(temp.c_str());
    if (close(fd) != 0 && failure.empty()) fail("close");
    if (!failure.empty()) {
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
    owned_.createdKeys.try_emplace(FoldedPath(*parts), std::string(key));
    return true;
}

bool RegistryHive::KeyExists(std::string_view key) const { return Find(root_.get(), key); }

bool RegistryHive::DeleteKeyTree(std::string_view key) {
    const auto parts = SplitKey(key);
    if (!parts || parts->empty()) return false;
    owned_.deletedTrees.try_emplace(FoldedPath(*parts), std::string(key));
    return DeleteTree(root_.get(), *parts);
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
    OwnValue(key, name);
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
    OwnValue(key, name);
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
