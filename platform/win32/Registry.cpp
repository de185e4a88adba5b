// The registry on Windows: the hive is the real one (HKEY_CURRENT_USER, HKEY_CLASSES_ROOT or
// HKEY_LOCAL_MACHINE), or a key below it when the root name goes on with a path (tests relocate
// a hive that way). Every change reaches the registry at once; Load and Save only look at it.
// Text values are UTF-16 in the registry and UTF-8 with a terminating zero in RegValue.
#include "platform/Registry.h"

#include "platform/RegText.h"

#include "platform/win32/Utf16.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <iostream>

namespace velq3 {

struct RegistryHive::Node {
    HKEY root = nullptr;     // a predefined key; nullptr for an unknown root name
    std::wstring base;       // the hive's key below it, "" for the root itself
};

namespace {

constexpr std::size_t kMaxNameLength = 255;
constexpr std::size_t kMaxKeyDepth = 512;
constexpr std::size_t kMaxValueNameLength = 16383;

using Node = RegistryHive::Node;

RegistryHive::Node ParseRoot(std::string_view rootName) {
    const auto cut = rootName.find('\\');
    const std::string_view top = rootName.substr(0, cut);
    Node node;
    if (top == "HKEY_CURRENT_USER") node.root = HKEY_CURRENT_USER;
    else if (top == "HKEY_CLASSES_ROOT") node.root = HKEY_CLASSES_ROOT;
    else if (top == "HKEY_LOCAL_MACHINE") node.root = HKEY_LOCAL_MACHINE;
    if (cut != std::string_view::npos) node.base = win32::Widen(rootName.substr(cut + 1));
    return node;
}

bool ValidKey(std::string_view key) {
    if (key.empty()) return true;
    std::size_t depth = 0;
    for (;;) {
        if (++depth > kMaxKeyDepth) return false;
        const auto cut = key.find('\\');
        const std::string_view part = key.substr(0, cut);
        if (part.empty() || part.size() > kMaxNameLength) return false;
        for (char c : part) {
            if (static_cast<unsigned char>(c) < 0x20) return false;
        }
        if (cut == std::string_view::npos) return true;
        key.remove_prefix(cut + 1);
    }
}

bool ValidValueName(std::string_view name) {
    return name.size() <= kMaxValueNameLength &&
           name.find_first_of(std::string_view("\0\r\n", 3)) == std::string_view::npos;
}

std::wstring FullPath(const Node& node, std::string_view key) {
    std::wstring path = node.base;
    if (!key.empty()) {
        if (!path.empty()) path += L'\\';
        path += win32::Widen(key);
    }
    return path;
}

// An open key, closed at the end of its scope.
class Key {
public:
    Key() = default;
    ~Key() {
        if (h_) ::RegCloseKey(h_);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    bool Open(const Node& node, std::string_view key, REGSAM access) {
        return node.root && ::RegOpenKeyExW(node.root, FullPath(node, key).c_str(), 0, access, &h_) == ERROR_SUCCESS;
    }
    bool Create(const Node& node, std::string_view key) {
        return node.root && ::RegCreateKeyExW(node.root, FullPath(node, key).c_str(), 0, nullptr, 0,
                                              KEY_READ | KEY_WRITE, nullptr, &h_, nullptr) == ERROR_SUCCESS;
    }
    HKEY get() const { return h_; }

private:
    HKEY h_ = nullptr;
};

std::string Upper(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

std::vector<std::string> EnumSubKeys(HKEY h) {
    std::vector<std::string> names;
    wchar_t name[kMaxNameLength + 1];
    for (DWORD i = 0;; ++i) {
        DWORD length = kMaxNameLength + 1;
        if (::RegEnumKeyExW(h, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.push_back(win32::Narrow(std::wstring_view(name, length)));
    }
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) { return Upper(a) < Upper(b); });
    return names;
}

std::vector<std::string> EnumValueNames(HKEY h) {
    std::vector<std::string> names;
    std::vector<wchar_t> name(kMaxValueNameLength + 1);
    for (DWORD i = 0;; ++i) {
        DWORD length = static_cast<DWORD>(name.size());
        if (::RegEnumValueW(h, i, name.data(), &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.push_back(win32::Narrow(std::wstring_view(name.data(), length)));
    }
    return names;
}

std::optional<RegValue> ReadValue(HKEY h, std::string_view name) {
    const std::wstring wide = win32::Widen(name);
    DWORD type = 0, size = 0;
    if (::RegQueryValueExW(h, wide.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return std::nullopt;
    std::vector<std::uint8_t> bytes(size);
    if (::RegQueryValueExW(h, wide.c_str(), nullptr, &type, bytes.data(), &size) != ERROR_SUCCESS) return std::nullopt;
    bytes.resize(size);
    RegValue value{static_cast<RegType>(type), {}};
    if (type == REG_SZ) {
        std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
        while (!text.empty() && text.back() == L'\0') text.pop_back();
        const std::string utf8 = win32::Narrow(text);
        value.data.assign(utf8.begin(), utf8.end());
        value.data.push_back(0);
    } else {
        value.data = std::move(bytes);
    }
    return value;
}

void AppendValueText(std::string& out, const std::string& name, const RegValue& v) {
    if (name.empty()) out += '@';
    else detail::AppendRegQuoted(out, name);
    out += '=';
    const auto& data = v.data;
    const bool plainText = v.type == RegType::Sz && !data.empty() && data.back() == 0 &&
                           std::find_if(data.begin(), data.end() - 1, [](std::uint8_t b) {
                               return b == 0 || b == '\r' || b == '\n';
                           }) == data.end() - 1;
    if (plainText) {
        detail::AppendRegQuoted(out, std::string_view(reinterpret_cast<const char*>(data.data()), data.size() - 1));
    } else if (v.type == RegType::Dword && data.size() == 4) {
        char digits[16];
        std::snprintf(digits, sizeof digits, "dword:%08x",
                      static_cast<unsigned>(data[0] | (data[1] << 8) | (data[2] << 16) | (data[3] << 24)));
        out += digits;
    } else {
        char prefix[24];
        if (v.type == RegType::Binary) std::snprintf(prefix, sizeof prefix, "hex:");
        else std::snprintf(prefix, sizeof prefix, "hex(%x):", static_cast<unsigned>(v.type));
        out += prefix;
        for (std::size_t i = 0; i < data.size(); ++i) {
            char byte[4];
            std::snprintf(byte, sizeof byte, i + 1 < data.size() ? "%02x," : "%02x", data[i]);
            out += byte;
        }
    }
    out += '\n';
}

}  // namespace

RegistryHive::RegistryHive(std::filesystem::path file, std::string_view rootName, HiveOptions options)
    : file_(std::move(file)), rootName_(rootName), options_(std::move(options)),
      root_(std::make_unique<Node>(ParseRoot(rootName))) {}

RegistryHive::~RegistryHive() = default;
RegistryHive::RegistryHive(RegistryHive&&) noexcept = default;
RegistryHive& RegistryHive::operator=(RegistryHive&&) noexcept = default;

void RegistryHive::Report(const std::string& line) const {
    if (options_.diagnostics) options_.diagnostics(line);
    else std::cerr << line << '\n';
}

RegistryHive::LoadResult RegistryHive::Load() {
    if (!root_->root) {
        Report("registry: unknown root " + rootName_);
        return LoadResult::Missing;
    }
    Key key;
    return key.Open(*root_, "", KEY_READ) ? LoadResult::Loaded : LoadResult::Missing;
}

bool RegistryHive::Save() {
    if (!root_->root) {
        Report("registry: unknown root " + rootName_);
        return false;
    }
    Key key;
    if (!key.Open(*root_, "", KEY_READ)) return true;  // nothing set yet
    return ::RegFlushKey(key.get()) == ERROR_SUCCESS;
}

std::string RegistryHive::ToText() const {
    std::string out = "Windows Registry Editor Version 5.00\n\n";
    // Depth first in sorted order, as the Linux hive files are written.
    std::vector<std::string> stack{""};
    while (!stack.empty()) {
        const std::string key = std::move(stack.back());
        stack.pop_back();
        Key h;
        if (!h.Open(*root_, key, KEY_READ)) continue;
        const auto names = EnumValueNames(h.get());
        if (!key.empty() || !names.empty()) {
            out += '[' + rootName_ + (key.empty() ? "" : "\\" + key) + "]\n";
            for (const auto& name : names) {
                if (auto value = ReadValue(h.get(), name)) AppendValueText(out, name, *value);
            }
            out += '\n';
        }
        const auto children = EnumSubKeys(h.get());
        for (auto it = children.rbegin(); it != children.rend(); ++it)
            stack.push_back(key.empty() ? *it : key + "\\" + *it);
    }
    return out;
}

bool RegistryHive::CreateKey(std::string_view key) {
    if (!ValidKey(key)) return false;
    Key h;
    return h.Create(*root_, key);
}

bool RegistryHive::KeyExists(std::string_view key) const {
    if (!ValidKey(key)) return false;
    Key h;
    return h.Open(*root_, key, KEY_READ);
}

bool RegistryHive::DeleteKeyTree(std::string_view key) {
    if (key.empty() || !ValidKey(key) || !root_->root) return false;
    const std::wstring path = FullPath(*root_, key);
    // With a subkey named, RegDeleteTree removes that key too; an older registry may leave it.
    if (::RegDeleteTreeW(root_->root, path.c_str()) != ERROR_SUCCESS) return false;
    ::RegDeleteKeyW(root_->root, path.c_str());
    return true;
}

std::vector<std::string> RegistryHive::SubKeys(std::string_view key) const {
    Key h;
    if (!ValidKey(key) || !h.Open(*root_, key, KEY_READ)) return {};
    return EnumSubKeys(h.get());
}

std::vector<std::string> RegistryHive::ValueNames(std::string_view key) const {
    Key h;
    if (!ValidKey(key) || !h.Open(*root_, key, KEY_READ)) return {};
    return EnumValueNames(h.get());
}

bool RegistryHive::SetValue(std::string_view key, std::string_view name, RegValue value) {
    if (!ValidKey(key) || !ValidValueName(name)) return false;
    Key h;
    if (!h.Create(*root_, key)) return false;
    const std::wstring wideName = win32::Widen(name);
    if (value.type == RegType::Sz) {
        // Up to the first zero, as UTF-16 with its terminating zero.
        const auto& d = value.data;
        const auto end = std::find(d.begin(), d.end(), std::uint8_t{0});
        const std::wstring text = win32::Widen(std::string_view(reinterpret_cast<const char*>(d.data()),
                                                                static_cast<std::size_t>(end - d.begin())));
        return ::RegSetValueExW(h.get(), wideName.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
    }
    return ::RegSetValueExW(h.get(), wideName.c_str(), 0, static_cast<DWORD>(value.type), value.data.data(),
                            static_cast<DWORD>(value.data.size())) == ERROR_SUCCESS;
}

bool RegistryHive::SetDword(std::string_view key, std::string_view name, std::uint32_t value) {
    return SetValue(key, name, RegValue{RegType::Dword, {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                                                         static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)}});
}

bool RegistryHive::SetBinary(std::string_view key, std::string_view name, std::span<const std::uint8_t> data) {
    return SetValue(key, name, RegValue{RegType::Binary, {data.begin(), data.end()}});
}

bool RegistryHive::SetString(std::string_view key, std::string_view name, std::string_view value) {
    RegValue v{RegType::Sz, {value.begin(), value.end()}};
    v.data.push_back(0);
    return SetValue(key, name, std::move(v));
}

std::optional<RegValue> RegistryHive::Query(std::string_view key, std::string_view name) const {
    Key h;
    if (!ValidKey(key) || !ValidValueName(name) || !h.Open(*root_, key, KEY_READ)) return std::nullopt;
    return ReadValue(h.get(), name);
}

std::optional<std::uint32_t> RegistryHive::GetDword(std::string_view key, std::string_view name) const {
    auto v = Query(key, name);
    if (!v || v->type != RegType::Dword || v->data.size() != 4) return std::nullopt;
    return static_cast<std::uint32_t>(v->data[0] | (v->data[1] << 8) | (v->data[2] << 16)) |
           (static_cast<std::uint32_t>(v->data[3]) << 24);
}

std::optional<std::string> RegistryHive::GetString(std::string_view key, std::string_view name) const {
    auto v = Query(key, name);
    if (!v || v->type != RegType::Sz) return std::nullopt;
    const auto end = std::find(v->data.begin(), v->data.end(), std::uint8_t{0});
    return std::string(v->data.begin(), end);
}

bool RegistryHive::DeleteValue(std::string_view key, std::string_view name) {
    Key h;
    if (!ValidKey(key) || !ValidValueName(name) || !h.Open(*root_, key, KEY_SET_VALUE)) return false;
    return ::RegDeleteValueW(h.get(), win32::Widen(name).c_str()) == ERROR_SUCCESS;
}

// Empties a relocated hive (its key and everything below). The whole of a predefined root
// (all of HKEY_CURRENT_USER) is never emptied: that would wipe every program's settings.
void RegistryHive::Clear() {
    if (!root_->root) return;
    if (root_->base.empty()) {
        Report("registry: refusing to empty all of " + rootName_);
        return;
    }
    ::RegDeleteTreeW(root_->root, root_->base.c_str());
}

std::filesystem::path CurrentUserHivePath(const EnvLookup&) { return {}; }
std::filesystem::path ClassesRootHivePath(const EnvLookup&) { return {}; }

// The real registry's hives; a HKEY_CLASSES_ROOT hive writes where Windows puts new keys of the
// merged view (HKEY_LOCAL_MACHINE\Software\Classes, or the user's for keys only the user has).
RegistryHive OpenCurrentUserHive(const EnvLookup&, HiveOptions options) {
    RegistryHive hive({}, kCurrentUserRoot, std::move(options));
    hive.Load();
    return hive;
}

RegistryHive OpenClassesRootHive(const EnvLookup&, HiveOptions options) {
    RegistryHive hive({}, kClassesRoot, std::move(options));
    hive.Load();
    return hive;
}

}  // namespace velq3
