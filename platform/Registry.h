// The registry: typed values under backslash-separated keys. Key and value names compare
// case-insensitively (ASCII letters; the names used here are ASCII) and keep the case they were
// created with.
//
// Linux (the stand-in): one hive per text file in the Windows .reg syntax (as UTF-8 text), as
// described below.
// Windows: the real registry. The root name picks the predefined key (HKEY_CURRENT_USER,
// HKEY_CLASSES_ROOT or HKEY_LOCAL_MACHINE) and may go on with a key path below it, which then is
// the hive's root (tests relocate a hive so). Every change reaches the registry at once: Load()
// says whether the root key exists, Save() flushes it, the file is not used, and Clear() refuses
// to empty a whole predefined key. Text values are UTF-16 in the registry, UTF-8 here.
#pragma once

#include "platform/Clock.h"
#include "platform/UserPaths.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace velq3 {

// Value types, numbered as on Windows. Other numbers are kept as they are (hex(N) in the file).
enum class RegType : std::uint32_t { Sz = 1, Binary = 3, Dword = 4 };

struct RegValue {
    RegType type{};
    // Stored bytes: REG_SZ is the UTF-8 text and a terminating zero; REG_DWORD is 4 bytes,
    // little-endian; REG_BINARY is the bytes as given.
    std::vector<std::uint8_t> data;
    bool operator==(const RegValue&) const = default;
};

inline constexpr std::string_view kCurrentUserRoot = "HKEY_CURRENT_USER";
inline constexpr std::string_view kClassesRoot = "HKEY_CLASSES_ROOT";

struct HiveOptions {
    // Receives one line per problem (damaged file, failed save). Default: standard error.
    std::function<void(std::string_view)> diagnostics;
    // Dates the name under which a damaged file is kept. Default: the system clock.
    const CalendarClock* clock = nullptr;
};

// One hive in memory, bound to its file. Not thread-safe: use it from one thread.
//
// The hive owns the values it sets or deletes, the keys it creates and the trees it deletes
// from the moment it is loaded; everything else belongs to the file. A save re-reads the file
// and writes only the owned changes over it, so values other programs (or the user's editor)
// put there meanwhile survive.
//
// The file is a regular file, or a symbolic link to a regular file of the same user, which is
// then read and replaced in its own folder so that the link stays. Any other link, and a FIFO,
// socket or device node in the file's place, is never followed or opened but moved aside like
// a damaged file. Files that keys deeper than 512 levels or lines longer than 256 KiB make
// damaged too; the key functions refuse what the writer could not keep within those bounds.
class RegistryHive {
public:
    enum class LoadResult {
        Loaded,   // the file was read
        Missing,  // no file yet: the hive is empty
        Damaged,  // unreadable or not valid: the hive is empty and the file was kept aside
    };

    // `rootName` is the hive's name in the file's section headers, e.g. kCurrentUserRoot.
    RegistryHive(std::filesystem::path file, std::string_view rootName, HiveOptions options = {});
    ~RegistryHive();
    RegistryHive(RegistryHive&&) noexcept;
    RegistryHive& operator=(RegistryHive&&) noexcept;

    const std::filesystem::path& File() const { return file_; }
    const std::string& RootName() const { return rootName_; }

    // Replaces the contents with the file's and forgets what the hive owned. A damaged file
    // gives an empty hive and one diagnostic line, and is kept beside it as
    // "<file>.bad-<date>-<time>" (a copy, or a hard link when it cannot be read; a link that
    // is not followed, a FIFO or a device in its place is renamed to that name; a file reached
    // through a link is kept beside that file) so that a later Save() loses nothing. If
    // it cannot be kept, Save() refuses to overwrite it. Temporary files that killed saves
    // left beside the file are removed.
    LoadResult Load();

    // Re-reads the file, applies the hive's own changes to it, takes the result as the hive's
    // contents and writes it atomically: a temporary file in the same folder, fsync, rename
    // over the file, fsync of the folder (for a followed link: the folder of the file it leads
    // to, and the rename goes over that file). Readers see the old or the new file, never a part.
    // Concurrent savers: the last rename wins. A file damaged meanwhile is kept aside and the
    // hive's contents are written. False (and a diagnostic line) on failure.
    bool Save();

    // The text Save() writes.
    std::string ToText() const;

    // Keys are paths below the hive's root such as "Software\\ASCOM"; "" is the root itself.
    // An empty path component, a name over 255 bytes, a control character or more than 512
    // levels make the path invalid: false / nothing.
    bool CreateKey(std::string_view key);
    bool KeyExists(std::string_view key) const;
    // Deletes the key with everything below it. False when it did not exist (or is the root).
    bool DeleteKeyTree(std::string_view key);
    // Names of the direct subkeys, sorted case-insensitively (letters as upper case).
    std::vector<std::string> SubKeys(std::string_view key) const;
    // Names of the key's values in the order they were first set; "" is the default value.
    std::vector<std::string> ValueNames(std::string_view key) const;

    // Setters create the key when missing. False for an invalid key or a value name holding
    // a line break or zero byte or longer than 16383 bytes.
    bool SetValue(std::string_view key, std::string_view name, RegValue value);
    bool SetDword(std::string_view key, std::string_view name, std::uint32_t value);
    bool SetBinary(std::string_view key, std::string_view name, std::span<const std::uint8_t> data);
    bool SetString(std::string_view key, std::string_view name, std::string_view value);

    // The stored type and bytes, whatever the type; nothing when key or value is missing.
    std::optional<RegValue> Query(std::string_view key, std::string_view name) const;
    // The value when it is a 4-byte REG_DWORD.
    std::optional<std::uint32_t> GetDword(std::string_view key, std::string_view name) const;
    // The text up to the first zero when the value is a REG_SZ.
    std::optional<std::string> GetString(std::string_view key, std::string_view name) const;
    bool DeleteValue(std::string_view key, std::string_view name);

    // Empties the hive; the next Save() replaces everything in the file.
    void Clear();

    struct Node;  // Linux: one key; Windows: the hive's place. Defined in the bodies.

private:
    enum class ReadOutcome { Read, Missing, Damaged, Unkept };

    // What the hive changed since it was loaded. Keys of the maps are folded paths (and value
    // names); the mapped values keep the spelling used. Values are applied in the order first
    // touched, so that values new to the file follow the order in which they were first set.
    struct OwnedValue {
        std::string key;
        std::string name;
    };
    struct Owned {
        bool everything = false;                          // Clear() was called
        std::map<std::string, std::string> deletedTrees;  // by DeleteKeyTree
        std::map<std::string, std::string> createdKeys;   // by CreateKey
        std::vector<OwnedValue> values;                   // set or deleted, in first-touched order
        std::map<std::string, std::size_t> valueIndex;    // position in `values`
    };

    void Report(const std::string& line) const;
    std::string BackupName(const std::filesystem::path& file) const;
    std::optional<std::string> KeepDamaged(const std::filesystem::path& file, const std::string* content);
    std::optional<std::string> SetAside();
    ReadOutcome ReadCurrent(Node& into, const std::string& consequence, std::filesystem::path& target);
    void ApplyOwnChanges(Node& current) const;
    void OwnValue(std::string_view key, std::string_view name);

    std::filesystem::path file_;
    std::string rootName_;
    HiveOptions options_;
    std::unique_ptr<Node> root_;
    Owned owned_;
    // The damaged file last kept aside, so that it is not kept again while it stays in place.
    struct KeptFile {
        std::uint64_t device, inode;
        std::int64_t size, mtimeSeconds, mtimeNanoseconds;
        bool operator==(const KeptFile&) const = default;
    };
    std::optional<KeptFile> keptDamaged_;
    bool refuseSave_ = false;  // the damaged file could not be kept aside
};

// Default hive files in the settings folder: user.reg and classes.reg.
std::filesystem::path CurrentUserHivePath(const EnvLookup& env = ProcessEnvironment());
std::filesystem::path ClassesRootHivePath(const EnvLookup& env = ProcessEnvironment());

// The hives at their default paths, already loaded. When the settings folder cannot be made
// the problem is reported and the hive is empty and cannot be saved.
RegistryHive OpenCurrentUserHive(const EnvLookup& env = ProcessEnvironment(),
                                 HiveOptions options = {});
RegistryHive OpenClassesRootHive(const EnvLookup& env = ProcessEnvironment(),
                                 HiveOptions options = {});

}  // namespace velq3
