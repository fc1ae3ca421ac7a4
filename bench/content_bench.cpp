// SPDX-License-Identifier: MIT
// The content check of automatic selection, measured:
//   content_bench --make DIR    writes 64 pairs of 8 MiB copies (1 GiB) under DIR
//   content_bench --check DIR   one check of those pairs with a fresh checker
//   content_bench --rows N      automatic selection of N rows with nothing to
//                               compare, by name and size and with the check
//   content_bench --margins DIR N
//                               N copies of one name and 1 MiB under DIR/N
//                               (written once) whose first and last 64 KiB
//                               are alike and whose middles differ, as scans
//                               with white margins do; every fourth copy has
//                               an equal newer one. One check of them.
// Prints key=value lines.
#include "platform/file_system.h"
#include "platform/progress.h"
#include "review/content_check.h"
#include "review/result_view.h"
#include "scan/file_table.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kPairs = 64;
constexpr std::size_t kFileBytes = 8u << 20;

double Seconds(Clock::time_point a, Clock::time_point b)
{
    return std::chrono::duration<double>(b - a).count();
}

std::string FileName(int i)
{
    return "copy" + std::to_string(i) + ".bmp";
}

int Make(const std::string& dir)
{
    std::mt19937_64 random(1);
    std::vector<char> bytes(kFileBytes);
    mkdir(dir.c_str(), 0755);
    for (const char* side : {"/old", "/new"})
        mkdir((dir + side).c_str(), 0755);
    for (int i = 0; i < kPairs; ++i) {
        for (std::size_t k = 0; k < bytes.size(); k += 8) {
            const std::uint64_t x = random();
            std::memcpy(&bytes[k], &x, 8);
        }
        for (const char* side : {"/old/", "/new/"})
            std::ofstream(dir + side + FileName(i), std::ios::binary)
                .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    return 0;
}

int Check(const std::string& dir)
{
    snapsift::ResultView view;
    for (int i = 0; i < kPairs; ++i) {
        int side = 0;
        for (const char* folder : {"/old", "/new"}) {
            const std::string path = dir + folder + "/" + FileName(i);
            const auto facts = snapsift::StatRegularFile(path);
            if (!facts) {
                std::fprintf(stderr, "missing %s\n", path.c_str());
                return 1;
            }
            snapsift::FileFacts made = *facts;
            made.creationTime = 1000 + side++;  // the old one older
            view.table.AddFoundFile(view.table.AddFolder(dir + folder), FileName(i), made);
        }
    }
    view.FillResultView();
    snapsift::ContentChecker checker;
    snapsift::NullProgress progress;
    const auto start = Clock::now();
    const int picked = static_cast<int>(snapsift::PickOlderCopies(view, progress, {&checker, nullptr}).picked.size());
    const auto end = Clock::now();
    if (picked != kPairs) {
        std::fprintf(stderr, "selected %d of %d\n", picked, kPairs);
        return 1;
    }
    std::printf("check_s=%.6f\ncheck_bytes=%llu\n", Seconds(start, end),
                static_cast<unsigned long long>(checker.BytesRead()));
    return 0;
}

int Rows(int rows)
{
    // Names five times each, every copy of a name with its own size: nothing
    // for the check to compare.
    snapsift::ResultView view;
    const std::uint32_t folder = view.table.AddFolder("/nowhere");
    for (int k = 0; k < rows; ++k)
        view.table.AddFoundFile(folder, "IMG_" + std::to_string(k / 5) + ".JPG",
                                snapsift::FileFacts{static_cast<std::uint64_t>(1000 + k % 5), 1000 + k % 7, {}});
    view.FillResultView();
    snapsift::NullProgress progress;
    snapsift::ContentChecker checker;
    std::vector<double> plain, checked;
    for (int r = 0; r < 7; ++r) {
        auto a = Clock::now();
        snapsift::PickOlderCopies(view, progress, {});
        auto b = Clock::now();
        snapsift::PickOlderCopies(view, progress, {&checker, nullptr});
        auto c = Clock::now();
        plain.push_back(Seconds(a, b));
        checked.push_back(Seconds(b, c));
    }
    std::sort(plain.begin(), plain.end());
    std::sort(checked.begin(), checked.end());
    std::printf("rows_by_name_s=%.6f\nrows_checked_s=%.6f\n", plain[3], checked[3]);
    return 0;
}

constexpr std::size_t kMarginBytes = 1u << 20;

// The bytes of margin copy `i`: common ends, a middle of its own, except that
// every fourth copy holds the bytes of the next.
std::vector<char> MarginCopy(int i)
{
    std::mt19937_64 random(7);
    std::vector<char> bytes(kMarginBytes);
    for (std::size_t k = 0; k < bytes.size(); k += 8) {
        const std::uint64_t x = random();
        std::memcpy(&bytes[k], &x, 8);
    }
    const std::uint32_t id = static_cast<std::uint32_t>(i % 4 == 0 ? i + 1 : i);
    for (std::size_t at = 64 * 1024; at + 4 <= bytes.size() - 64 * 1024; at += 4096)
        std::memcpy(&bytes[at], &id, 4);
    return bytes;
}

int Margins(const std::string& dir, int copies)
{
    const std::string top = dir + "/" + std::to_string(copies);
    mkdir(dir.c_str(), 0755);
    mkdir(top.c_str(), 0755);
    snapsift::ResultView view;
    for (int i = 0; i < copies; ++i) {
        const std::string folder = top + "/" + std::to_string(i);
        const std::string path = folder + "/scan.bmp";
        if (!snapsift::StatRegularFile(path)) {
            mkdir(folder.c_str(), 0755);
            const std::vector<char> bytes = MarginCopy(i);
            std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        }
        auto facts = snapsift::StatRegularFile(path);
        if (!facts || facts->size != kMarginBytes) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return 1;
        }
        facts->creationTime = 1000 + i;  // the later copy of an equal pair is newer
        view.table.AddFoundFile(view.table.AddFolder(folder), "scan.bmp", *facts);
    }
    view.FillResultView();
    snapsift::ContentChecker checker;
    snapsift::NullProgress progress;
    const auto start = Clock::now();
    const snapsift::AutoSelectOutcome outcome = snapsift::PickOlderCopies(view, progress, {&checker, nullptr});
    const auto end = Clock::now();
    const int expected = (copies + 2) / 4;  // each fourth copy but a last one
    std::printf("margins_s=%.6f\nmargins_bytes=%llu\nmargins_unread=%d\nmargins_selected=%d\n", Seconds(start, end),
                static_cast<unsigned long long>(checker.BytesRead()), outcome.unreadable,
                static_cast<int>(outcome.picked.size()));
    if (outcome.unreadable != 0 || static_cast<int>(outcome.picked.size()) != expected) {
        std::fprintf(stderr, "%d copies unread, %d selected of %d\n", outcome.unreadable,
                     static_cast<int>(outcome.picked.size()), expected);
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 2 ? argv[1] : "";
    if (mode == "--make")
        return Make(argv[2]);
    if (mode == "--check")
        return Check(argv[2]);
    if (mode == "--rows")
        return Rows(std::stoi(argv[2]));
    if (mode == "--margins" && argc > 3)
        return Margins(argv[2], std::stoi(argv[3]));
    std::fprintf(stderr, "usage: content_bench --make DIR | --check DIR | --rows N | --margins DIR N\n");
    return 2;
}
