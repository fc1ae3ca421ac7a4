// SPDX-License-Identifier: MIT
// Builds a synthetic picture collection for the benchmark: a folder tree of a
// given size and depth holding small (sparse) files of the four searched
// types and of other types, with a share of repeated names. The same seed
// gives the same folders, names and sizes; only the files' birth times come
// from the clock.
//
//   make_tree --out DIR --files N --folders M [--depth D] [--dup-rate R]
//             [--same-size-rate R] [--other-rate R] [--hardlink-rate R] [--seed S]
//
// Files are created in two rounds: every first use of a name, then (from the
// next second of the clock on) every repeated name. A repeated name with the
// size of an earlier copy therefore makes that copy the older one, whatever
// the file system keeps as creation time; modification times are set the same
// way for file systems without a birth time.
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <unordered_set>
#include <vector>

namespace {

struct Options {
    std::string out;
    long files = 0;
    long folders = 0;
    int depth = 6;
    double dupRate = 0.2;
    double sameSizeRate = 0.5;
    double otherRate = 0.25;
    double hardlinkRate = 0.0;
    std::uint64_t seed = 1;
};

// splitmix64: small, fast and the same on every machine.
class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) { }
    std::uint64_t Next()
    {
        std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }
    std::uint64_t Below(std::uint64_t n) { return n == 0 ? 0 : Next() % n; }
    bool Chance(double p) { return static_cast<double>(Next() >> 11) * 0x1.0p-53 < p; }

private:
    std::uint64_t state_;
};

struct Folder {
    std::string path;
    int level = 0;
    std::unordered_set<std::string> names;
};

struct PlannedFile {
    int folder = 0;
    std::string name;
    std::uint64_t size = 0;
    bool repeat = false;
    long linkTo = -1;  // index of the file this one is a hard link of
};

[[noreturn]] void Fail(const std::string& what)
{
    std::fprintf(stderr, "make_tree: %s: %s\n", what.c_str(), std::strerror(errno));
    std::exit(1);
}

[[noreturn]] void Usage(const char* why)
{
    std::fprintf(stderr,
                 "make_tree: %s\n"
                 "usage: make_tree --out DIR --files N --folders M [--depth D] [--dup-rate R]\n"
                 "                 [--same-size-rate R] [--other-rate R] [--hardlink-rate R] [--seed S]\n",
                 why);
    std::exit(2);
}

Options ParseOptions(int argc, char** argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (i + 1 >= argc)
            Usage(("missing value for " + a).c_str());
        const char* v = argv[++i];
        if (a == "--out")
            o.out = v;
        else if (a == "--files")
            o.files = std::atol(v);
        else if (a == "--folders")
            o.folders = std::atol(v);
        else if (a == "--depth")
            o.depth = std::atoi(v);
        else if (a == "--dup-rate")
            o.dupRate = std::atof(v);
        else if (a == "--same-size-rate")
            o.sameSizeRate = std::atof(v);
        else if (a == "--other-rate")
            o.otherRate = std::atof(v);
        else if (a == "--hardlink-rate")
            o.hardlinkRate = std::atof(v);
        else if (a == "--seed")
            o.seed = std::strtoull(v, nullptr, 10);
        else
            Usage(("unknown option " + a).c_str());
    }
    if (o.out.empty() || o.files < 0 || o.folders < 0 || o.depth < 1)
        Usage("--out, --files and --folders are needed; --depth is at least 1");
    return o;
}

const char* const kPictureTypes[] = {"jpg", "bmp", "gif", "png"};
const char* const kOtherTypes[] = {"txt", "jpeg", "tif", "html", "mp4", "pdf", "jpg.bak", "pn"};
const char* const kStems[] = {"IMG_", "DSC", "photo-", "scan ", "写真_", "Screenshot_", "P"};

std::string NewName(Random& rng, double otherRate, long serial)
{
    std::string name = kStems[rng.Below(std::size(kStems))];
    name += std::to_string(serial);
    name += '.';
    if (rng.Chance(otherRate)) {
        name += kOtherTypes[rng.Below(std::size(kOtherTypes))];
        return name;
    }
    std::string ext = kPictureTypes[rng.Below(std::size(kPictureTypes))];
    if (rng.Chance(0.1)) {
        for (char& c : ext)
            c = static_cast<char>(c - 'a' + 'A');
    }
    return name + ext;
}

bool IsPicture(const std::string& name)
{
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos)
        return false;
    std::string ext = name.substr(dot + 1);
    for (char& c : ext)
        c = static_cast<char>((c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c);
    for (const char* t : kPictureTypes) {
        if (ext == t)
            return true;
    }
    return false;
}

std::vector<Folder> PlanFolders(const Options& o, Random& rng)
{
    std::vector<Folder> folders(1);
    folders[0].path = o.out;
    std::vector<std::vector<int>> byLevel(static_cast<std::size_t>(o.depth) + 1);
    byLevel[0].push_back(0);
    for (long i = 0; i < o.folders; ++i) {
        // Levels in turn, so every level up to the depth is used; the parent
        // is any folder one level up.
        const int level = 1 + static_cast<int>(i % o.depth);
        const std::vector<int>& above = byLevel[static_cast<std::size_t>(level - 1)];
        const int parent = above[rng.Below(above.size())];
        Folder f;
        f.level = level;
        f.path = folders[static_cast<std::size_t>(parent)].path + "/" + (rng.Chance(0.1) ? "アルバム " : "album-") +
                 std::to_string(i);
        byLevel[static_cast<std::size_t>(level)].push_back(static_cast<int>(folders.size()));
        folders.push_back(std::move(f));
    }
    return folders;
}

std::vector<PlannedFile> PlanFiles(const Options& o, Random& rng, std::vector<Folder>& folders)
{
    std::vector<PlannedFile> files;
    files.reserve(static_cast<std::size_t>(o.files));
    for (long i = 0; i < o.files; ++i) {
        PlannedFile f;
        f.folder = static_cast<int>(rng.Below(folders.size()));
        f.size = rng.Below(4097);
        if (!files.empty() && rng.Chance(o.dupRate)) {
            const long source = static_cast<long>(rng.Below(files.size()));
            f.name = files[static_cast<std::size_t>(source)].name;
            f.repeat = true;
            if (rng.Chance(o.hardlinkRate))
                f.linkTo = files[static_cast<std::size_t>(source)].linkTo >= 0
                               ? files[static_cast<std::size_t>(source)].linkTo
                               : source;
            if (f.linkTo >= 0 || rng.Chance(o.sameSizeRate))
                f.size = files[static_cast<std::size_t>(source)].size;
        } else {
            f.name = NewName(rng, o.otherRate, i);
        }
        // A name already in the chosen folder becomes a name of its own.
        Folder& folder = folders[static_cast<std::size_t>(f.folder)];
        if (!folder.names.insert(f.name).second) {
            f.name = "copy " + std::to_string(i) + " of " + f.name;
            f.repeat = false;
            f.linkTo = -1;
            folder.names.insert(f.name);
        }
        files.push_back(std::move(f));
    }
    // A link always points at a file of the first round.
    for (PlannedFile& f : files) {
        if (f.linkTo >= 0 && files[static_cast<std::size_t>(f.linkTo)].repeat)
            f.linkTo = -1;
    }
    return files;
}

std::string PathOf(const std::vector<Folder>& folders, const PlannedFile& f)
{
    return folders[static_cast<std::size_t>(f.folder)].path + "/" + f.name;
}

void CreateFile(const std::vector<Folder>& folders, const std::vector<PlannedFile>& files, std::size_t index,
                std::int64_t modified)
{
    const PlannedFile& f = files[index];
    const std::string path = PathOf(folders, f);
    if (f.linkTo >= 0) {
        if (link(PathOf(folders, files[static_cast<std::size_t>(f.linkTo)]).c_str(), path.c_str()) != 0)
            Fail("link " + path);
        return;
    }
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        Fail("create " + path);
    if (ftruncate(fd, static_cast<off_t>(f.size)) != 0)
        Fail("size " + path);
    const struct timespec times[2] = {{modified, 0}, {modified, 0}};
    if (futimens(fd, times) != 0)
        Fail("time " + path);
    close(fd);
}

}  // namespace

int main(int argc, char** argv)
{
    const Options o = ParseOptions(argc, argv);
    Random rng(o.seed);
    std::vector<Folder> folders = PlanFolders(o, rng);
    const std::vector<PlannedFile> files = PlanFiles(o, rng, folders);

    for (const Folder& f : folders) {
        if (mkdir(f.path.c_str(), 0755) != 0)
            Fail("mkdir " + f.path);
    }
    // Modification times: first round in 2020, repeats in 2021, each file its
    // own second so the order is fixed by the seed.
    constexpr std::int64_t kFirstRound = 1577836800;
    constexpr std::int64_t kRepeats = 1609459200;
    long pictures = 0, links = 0, repeats = 0;
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (files[i].repeat)
            continue;
        CreateFile(folders, files, i, kFirstRound + static_cast<std::int64_t>(i));
        pictures += IsPicture(files[i].name);
    }
    // Repeats start on a later second than every first-round file.
    const auto now = std::chrono::system_clock::now();
    std::this_thread::sleep_until(std::chrono::ceil<std::chrono::seconds>(now) + std::chrono::milliseconds(5));
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (!files[i].repeat)
            continue;
        CreateFile(folders, files, i, kRepeats + static_cast<std::int64_t>(i));
        pictures += IsPicture(files[i].name);
        links += files[i].linkTo >= 0;
        ++repeats;
    }
    std::printf("folders=%zu files=%zu pictures=%ld repeated_names=%ld hard_links=%ld\n", folders.size() - 1,
                files.size(), pictures, repeats, links);
    return 0;
}
