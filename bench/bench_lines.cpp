// dovoda-lines as a whole process, as users run it:
// 1. the validation photographs with --jobs 1 and --jobs 2 (images per
//    second, the speed-up, peak memory);
// 2. one 12-megapixel photograph (the photographs tiled, saved as JPEG)
//    with --jobs 1 and the default preset, beside the EDLines detector of
//    OpenCV reading the same file (dovoda_edlines_peer, one thread).
// The runs alternate and repeat; medians of the wall-clock and processor
// times are compared. On a busy machine the processor times are the
// steadier figures.
//
//   bench_lines [REPEATS [PHOTO_FOLDER]]      (default 5 ../shared/corpus/photos)
#include "kpexception.h"
#include "kpimage.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

const int BIG_WIDTH = 4000;
const int BIG_HEIGHT = 3000;
const int TILE_WIDTH = 400;
const int TILE_HEIGHT = 300;

struct Figures {
    double wall;   // seconds
    double cpu;    // user + system seconds
    long peakKB;   // largest resident set
};

double seconds(const timeval& t)
{
    return t.tv_sec + t.tv_usec / 1e6;
}

// Runs a program (argument list) to its end; figures of that process.
Figures runProcess(const std::vector<std::string>& arguments)
{
    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    struct rusage usage;
    wait4(child, &status, 0, &usage);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "bench_lines: %s failed\n", arguments[0].c_str());
    }
    return {wall, seconds(usage.ru_utime) + seconds(usage.ru_stime), usage.ru_maxrss};
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

struct Series {
    std::vector<double> wall, cpu;
    long peakKB = 0;
    void add(const Figures& f)
    {
        wall.push_back(f.wall);
        cpu.push_back(f.cpu);
        peakKB = std::max(peakKB, f.peakKB);
    }
};

std::vector<std::string> photosIn(const std::string& folder)
{
    std::vector<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (const dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".jpg") == 0) {
                names.push_back(folder + "/" + name);
            }
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// A 12-megapixel photograph: central crops of the landscape photographs
// tiled row by row (repeated as needed), saved as JPEG.
bool makeBigPhoto(const std::vector<std::string>& photos, const std::string& fileName)
{
    KpImage big(BIG_WIDTH, BIG_HEIGHT, 24);
    std::size_t next = 0;
    for (int top = 0; top < BIG_HEIGHT; top += TILE_HEIGHT) {
        for (int left = 0; left < BIG_WIDTH; left += TILE_WIDTH) {
            KpImage tile;
            do {
                tile.kpLoadImage(photos[next++ % photos.size()].c_str());
            } while (tile.kpGetWidth() < TILE_WIDTH || tile.kpGetDepth() != 24);
            const int x0 = (tile.kpGetWidth() - TILE_WIDTH) / 2, y0 = (tile.kpGetHeight() - TILE_HEIGHT) / 2;
            for (int y = 0; y < TILE_HEIGHT; ++y) {
                for (int x = 0; x < TILE_WIDTH; ++x) {
                    uint8_t r, g, b;
                    tile.kpGetPixel(x0 + x, y0 + y, &r, &g, &b);
                    big.kpSetPixel(left + x, top + y, r, g, b);
                }
            }
        }
    }
    big.kpSaveImage(fileName.c_str());
    return true;
}

void printSeries(const char* name, const Series& s, double images)
{
    std::printf("  %-34s wall %7.3f s  cpu %7.3f s  %7.1f images/s  peak %6ld KB\n", name, median(s.wall),
                median(s.cpu), images / median(s.wall), s.peakKB);
}

} // namespace

int main(int argc, char* argv[])
{
    const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const std::string folder = argc > 2 ? argv[2] : DOVODA_CORPUS_DIR "/photos";
    const std::vector<std::string> photos = photosIn(folder);
    if (photos.empty()) {
        std::fprintf(stderr, "bench_lines: no photograph in %s\n", folder.c_str());
        return 1;
    }
    char pattern[] = "/tmp/dovoda-bench-lines-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        return 1;
    }
    const std::string work = pattern;
    const std::string program = DOVODA_LINES_PROGRAM;
    std::printf("%zu photographs, %d alternating runs each, medians; work folder %s\n", photos.size(), repeats,
                work.c_str());

    Series one, two;
    for (int r = 0; r < repeats; ++r) {
        for (const char* jobs : r % 2 == 0 ? std::vector<const char*>{"1", "2"} : std::vector<const char*>{"2", "1"}) {
            const Figures f = runProcess({program, "-q", "-f", "txt", "-o", work + "/jobs" + jobs, "--jobs", jobs, folder});
            (std::string(jobs) == "1" ? one : two).add(f);
        }
    }
    std::printf("\nphotographs, default preset, txt\n");
    printSeries("dovoda-lines --jobs 1", one, double(photos.size()));
    printSeries("dovoda-lines --jobs 2", two, double(photos.size()));
    std::printf("  speed-up --jobs 2 / --jobs 1: %.2f x (wall clock)\n", median(one.wall) / median(two.wall));

    const std::string big = work + "/photo12mp.jpg";
    makeBigPhoto(photos, big);
    Series ours, peer;
    for (int r = 0; r < repeats; ++r) {
        const Figures a = runProcess({program, "-q", "-f", "txt", "-o", work + "/big", "--jobs", "1", big});
#ifdef DOVODA_EDLINES_PEER
        const Figures b = runProcess({DOVODA_EDLINES_PEER, big, work + "/peer.txt"});
        peer.add(b);
#endif
        ours.add(a);
    }
    std::printf("\none %dx%d JPEG photograph, one thread, whole process\n", BIG_WIDTH, BIG_HEIGHT);
    printSeries("dovoda-lines --jobs 1 (default)", ours, 1.0);
#ifdef DOVODA_EDLINES_PEER
    printSeries("OpenCV EdgeDrawing::detectLines", peer, 1.0);
    std::printf("  ratio dovoda-lines / peer: %.2f x wall, %.2f x cpu\n", median(ours.wall) / median(peer.wall),
                median(ours.cpu) / median(peer.cpu));
#else
    std::printf("  (no peer: OpenCV with ximgproc not found)\n");
#endif
    return 0;
}
