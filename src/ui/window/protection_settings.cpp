// SPDX-License-Identifier: MIT
#include "ui/window/protection_settings.h"

#include <algorithm>
#include <cstdint>
#include <map>

namespace snapsift {
namespace {

// One character of a value after its escapes: a raw byte of the file, or a
// code point that an escape gave.
struct Unit {
    std::uint32_t value;
    bool raw;
};

struct Unescaped {
    std::vector<Unit> units;
    bool list = false;      // a comma outside quotes: a list of values
    bool unclosed = false;  // a quote left open
};

bool IsHex(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

std::uint32_t HexValue(char c)
{
    return static_cast<std::uint32_t>(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
}

// Reads the digits of a \x or octal escape from `i` on, at most eight.
std::uint32_t EscapeNumber(std::string_view v, std::size_t& i, bool hex)
{
    std::uint32_t n = 0;
    for (int k = 0; k < 8 && i < v.size() && (hex ? IsHex(v[i]) : (v[i] >= '0' && v[i] <= '7')); ++k, ++i)
        n = n * (hex ? 16 : 8) + HexValue(v[i]);
    return n;
}

std::uint32_t SimpleEscape(char c)
{
    switch (c) {
    case 'a':
        return 7;
    case 'b':
        return 8;
    case 'f':
        return 12;
    case 'n':
        return 10;
    case 'r':
        return 13;
    case 't':
        return 9;
    case 'v':
        return 11;
    default:
        return static_cast<unsigned char>(c);
    }
}

// Undoes the settings' quoting and escapes; a ';' outside quotes ends the
// value, as a comment does.
Unescaped Unescape(std::string_view v)
{
    Unescaped out;
    bool quoted = false;
    for (std::size_t i = 0; i < v.size();) {
        const char c = v[i];
        if (c == '"') {
            quoted = !quoted;
            ++i;
        } else if (c == '\\' && i + 1 < v.size()) {
            const char e = v[i + 1];
            i += 2;
            if (e == 'x') {
                out.units.push_back({EscapeNumber(v, i, true), false});
            } else if (e >= '0' && e <= '7') {
                --i;
                out.units.push_back({EscapeNumber(v, i, false), false});
            } else {
                out.units.push_back({SimpleEscape(e), false});
            }
        } else if (!quoted && c == ';') {
            break;
        } else {
            out.list = out.list || (!quoted && c == ',');
            out.units.push_back({static_cast<unsigned char>(c), true});
            ++i;
        }
    }
    out.unclosed = quoted;
    // Spaces outside quotes at the ends are no part of the value.
    const auto blank = [](const Unit& unit) { return unit.raw && (unit.value == ' ' || unit.value == '\t'); };
    while (!out.units.empty() && blank(out.units.back()))
        out.units.pop_back();
    return out;
}

void AppendUtf8(std::string& out, std::uint32_t cp)
{
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        cp = std::min<std::uint32_t>(cp, 0x10FFFF);
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

bool StartsWith(const std::vector<Unit>& units, std::string_view prefix)
{
    if (units.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (units[i].value != static_cast<unsigned char>(prefix[i]))
            return false;
    }
    return true;
}

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

// `folders\N\path` gives N.
bool EntryNumber(std::string_view key, std::size_t& number)
{
    constexpr std::string_view kHead = "folders\\", kTail = "\\path";
    if (key.size() <= kHead.size() + kTail.size() || key.substr(0, kHead.size()) != kHead ||
        key.substr(key.size() - kTail.size()) != kTail)
        return false;
    const std::string_view digits = key.substr(kHead.size(), key.size() - kHead.size() - kTail.size());
    if (digits.size() > 9)
        return false;
    number = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return false;
        number = number * 10 + static_cast<std::size_t>(c - '0');
    }
    return true;
}

}  // namespace

KeptFolder DecodeProtectedPath(std::string_view value)
{
    const std::string_view written = Trim(value);
    const Unescaped u = Unescape(written);
    std::vector<Unit> units = u.units;
    bool broken = u.list || u.unclosed;
    bool bytes = false;
    if (StartsWith(units, "@@")) {
        units.erase(units.begin());  // "@@" stands for a text beginning with "@"
    } else if (StartsWith(units, "@ByteArray(") && !units.empty() && units.back().value == ')') {
        units.erase(units.begin(), units.begin() + 11);
        units.pop_back();
        bytes = true;
    } else if (StartsWith(units, "@")) {
        broken = true;  // another stored type
    }
    std::string path;
    for (const Unit& unit : units) {
        // A raw byte is itself, and so is an escape in a byte array up to 0xFF.
        if (unit.raw || (bytes && unit.value <= 0xFF))
            path.push_back(static_cast<char>(unit.value));
        else
            AppendUtf8(path, unit.value);
        // Raw bytes beyond ASCII in a byte array, or an escape beyond a byte,
        // are read otherwise by the settings themselves.
        broken = broken || (bytes && unit.value > 0x7F && (unit.raw || unit.value > 0xFF));
    }
    // A text kept as written earlier: "@ByteArray(...)" again, as a text.
    if (!bytes && path.starts_with("@ByteArray(")) {
        path.erase(0, 11);
        if (!path.empty() && path.back() == ')')
            path.pop_back();
        broken = true;
    }
    broken = broken || path.empty() || path[0] != '/' || path.find('\0') != std::string::npos;
    KeptFolder folder;
    folder.path = std::move(path);
    if (broken) {
        // As it was first written: a text kept earlier shows that text.
        if (StartsWith(u.units, "@@ByteArray(")) {
            for (std::size_t i = 1; i < u.units.size(); ++i) {
                if (u.units[i].raw)
                    folder.written.push_back(static_cast<char>(u.units[i].value));
                else
                    AppendUtf8(folder.written, u.units[i].value);
            }
        } else {
            folder.written = written;
        }
    }
    return folder;
}

ProtectionSettings ReadProtectionSettings(std::string_view text)
{
    ProtectionSettings settings;
    std::map<std::size_t, std::string_view> entries;
    bool inGroup = false;
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t end = std::min(text.find('\n', pos), text.size());
        const std::string_view line = Trim(text.substr(pos, end - pos));
        pos = end + 1;
        if (line.starts_with('[')) {
            inGroup = line == "[protection]";
            continue;
        }
        const std::size_t equals = line.find('=');
        if (!inGroup || equals == std::string_view::npos)
            continue;
        const std::string_view key = Trim(line.substr(0, equals));
        const std::string_view value = line.substr(equals + 1);
        std::size_t number = 0;
        if (key == "folders\\size") {
            const std::string_view digits = Trim(value);
            std::size_t claimed = 0;
            for (char c : digits)
                claimed = c >= '0' && c <= '9' ? std::min<std::size_t>(claimed * 10 + (c - '0'), 1u << 30) : 0;
            settings.cut = settings.cut || claimed > kMaxProtectedFolders;
        } else if (EntryNumber(key, number)) {
            entries[number] = value;
            if (entries.size() > kMaxProtectedFolders) {
                entries.erase(std::prev(entries.end()));
                settings.cut = true;
            }
        }
    }
    for (const auto& [number, value] : entries) {
        KeptFolder folder = DecodeProtectedPath(value);
        if (!folder.path.empty() || !folder.written.empty())
            settings.folders.push_back(std::move(folder));
    }
    return settings;
}

}  // namespace snapsift
