// SPDX-License-Identifier: MIT
#pragma once

#include "review/content_check.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <unordered_map>

namespace snapsift {

// What a content checker's checks found, shared with their threads.
struct ContentChecker::Memory {
    struct PairKey {
        FileIdentity a, b;
        friend bool operator==(const PairKey&, const PairKey&) = default;
    };
    struct PairHash {
        std::size_t operator()(const PairKey& k) const
        {
            return std::hash<std::uint64_t>()(k.a.inode * 1000003u ^ k.b.inode ^ (k.a.device << 7) ^ k.b.device);
        }
    };
    // What is kept of a file's state beside an answer: a 64-bit digest of
    // all of it but the identity (the key), well mixed, so that an answer
    // costs a few dozen bytes and a file that changed in any way since is
    // not taken for the same.
    static std::uint64_t Stamp(const FileState& state);
    struct Answer {
        std::uint64_t a = 0, b = 0;  // the two files' stamps
        bool equal = false;
    };
    using IdentityHash = FileIdentityHash;
    // Digests of a file's first and last 64 KiB and of all its bytes, while
    // the file stays as it was.
    struct Digests {
        std::uint64_t stamp = 0;
        std::uint64_t ends = 0;
        std::uint64_t whole = 0;
        bool hasEnds = false;
        bool hasWhole = false;
    };

    std::optional<bool> Remembered(const FileState& a, const FileState& b) const;
    void Remember(const FileState& a, const FileState& b, bool equal);
    std::optional<std::size_t> RememberedEnds(const FileState& file) const;
    void RememberEnds(const FileState& file, std::size_t digest);
    std::optional<std::uint64_t> RememberedWhole(const FileState& file) const;
    void RememberWhole(const FileState& file, std::uint64_t digest);

    std::atomic<std::uint64_t> bytesRead{0};
    mutable std::mutex mutex;
    std::unordered_map<PairKey, Answer, PairHash> answers;
    std::unordered_map<FileIdentity, Digests, IdentityHash> digests;
};

}  // namespace snapsift
