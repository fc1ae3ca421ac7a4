// SPDX-License-Identifier: MIT
// The content check of automatic selection, measured:
//   content_bench --make DIR    writes 64 pairs of 8 MiB copies (1 GiB) under DIR
//   content_bench --check DIR   one check of those pairs with a fresh checker
//   content_bench --rows N      automatic selection of N rows with nothing to
//                               compare, by name and size and with the check
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
            std::ofstream(dir + side + FileName(i), std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
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
    snapsift::OnAutoSelect(view, progress, {&checker, nullptr});
    const auto end = Clock::now();
    if (view.list.SelectedCount() != kPairs) {
        std::fprintf(stderr, "selected %d of %d\n", view.list.SelectedCount(), kPairs);
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
        snapsift::OnAutoSelect(view, progress, {});
        auto b = Clock::now();
        snapsift::OnAutoSelect(view, progress, {&checker, nullptr});
        auto c = Clock::now();
        plain.push_back(Seconds(a, b));
        checked.push_back(Seconds(b, c));
    }
    std::sort(plain.begin(), plain.end());
    std::sort(checked.begin(), checked.end());
    std::printf("rows_by_name_s=%.6f\nrows_checked_s=%.6f\n", plain[3], checked[3]);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 2 ? argv[1] : "";
    if (mode == "--make")
        return Make(argv[2]);
    if (mode == "--check")
        return Check(argv[2]);
    if (mode == "--rows")
        return Rows(std::stoi(argv[2]));
    std::fprintf(stderr, "usage: content_bench --make DIR | --check DIR | --rows N\n");
    return 2;
}
