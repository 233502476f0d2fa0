// The whole DoVoda pipeline on generated photo-like images of 1, 4 and 12
// megapixels, gray and colour PNG input, and on a colour mosaic of the
// corpus photographs of the same size when they are present:
// milliseconds of processor time per stage and in total, and the peak
// resident memory of the process that ran it. Each
// pipeline runs in a fresh child process (this program started again with
// --dovoda FILE or --peer FILE), so the peak memory is that of the
// pipeline alone.
//
// With OpenCV (DOVODA_HAVE_OPENCV) a peer pipeline runs on the same files,
// single-threaded: imread, GaussianBlur 9x9 sigma 1.5, Canny (L2 gradient),
// imwrite of the edges, thinning, findContours (CHAIN_APPROX_NONE),
// approxPolyDP (epsilon 2.0) and a text file of the vertices. The ratios
// compare the totals, and the line stages (thinning to line file) with
// the diagnostic dumps left out of DoVoda's figure.
//
//   bench_pipeline [megapixels...]     (default 1 4 12)
#include "benchsupport.h"
#include "intmat.h"
#include "kpbitsperpixelconverter.h"
#include "kpedgedetector.h"
#include "kpedgelinker.h"
#include "kppointlists.h"
#include "kpskeleton.h"
#include "photomosaic.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#ifdef DOVODA_HAVE_OPENCV
#include <fstream>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/ximgproc.hpp>
#endif

namespace {

// Processor time of the process (user and system), which other programs
// running on a shared machine disturb far less than the time on the wall.
class Stopwatch {
public:
    // Milliseconds of processor time since the last lap (or the start).
    double lap()
    {
        const double now = processorMilliseconds();
        const double ms = now - last;
        last = now;
        return ms;
    }

private:
    static double processorMilliseconds()
    {
        timespec time;
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &time);
        return static_cast<double>(time.tv_sec) * 1e3 + static_cast<double>(time.tv_nsec) / 1e6;
    }

    double last = processorMilliseconds();
};

long peakKilobytes()
{
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// One child's figures, printed as "name=value" words on one line.
void report(const std::vector<std::pair<const char*, double>>& figures, long peak)
{
    for (const auto& figure : figures) {
        std::printf("%s=%.2f ", figure.first, figure.second);
    }
    std::printf("peakKB=%ld\n", peak);
}

// DoVoda's pipeline, as the program runs it, in the working folder.
void runDoVoda(const std::string& file)
{
    Stopwatch watch;
    KpImage input;
    input.kpLoadImage(file.c_str());
    const double load = watch.lap();
    KpImage edges = KpEdgeDetector().detectEdges(input);
    const double detect = watch.lap();
    edges.kpSaveImage((file + "_edge.png").c_str());
    const double save = watch.lap();
    std::size_t polylines = 0;
    double construct = 0, trace = 0, fit = 0, lines = 0;
    {
        KpEdgeLinker linker(edges);
        construct = watch.lap();
        linker.traceEdges();
        trace = watch.lap();
        linker.fitSegments(2.0);
        std::vector<PointList> distinct = linker.getSegmentLists();
        kppointlists::removeDuplicates(distinct);
        polylines = distinct.size();
        fit = watch.lap();
        linker.writeLines(file + "_output_line.txt");
        lines = watch.lap();
    }
    // The program's peak: what follows only measures.
    const long peak = peakKilobytes();
    input = KpImage();

    // The line stage without its diagnostic dumps: the construction's
    // thresholding, thinning and matrix filling timed on their own, and
    // the three dumps of tracing timed and taken off.
    KpImage binary = KpBitsPerPixelConverter::kpDownscaleGray2Binary_global(edges, 127);
    KpImage thinned = KpSkeleton::kpSkeletonize(binary);
    IntMat labels;
    labels.loadFromImage(thinned.kpReverseImage(), 255);
    const double thin = watch.lap();
    labels.writeText("dump.txt");
    const double dump = watch.lap();
    const double lineStage = thin + std::max(0.0, trace - 3 * dump) + fit + lines;
    report({{"load", load},
            {"detect", detect},
            {"save", save},
            {"construct", construct},
            {"trace", trace},
            {"fit", fit},
            {"lines", lines},
            {"total", load + detect + save + construct + trace + fit + lines},
            {"lineStage", lineStage},
            {"polylines", double(polylines)}},
           peak);
}

#ifdef DOVODA_HAVE_OPENCV
void runPeer(const std::string& file)
{
    cv::setNumThreads(1);
    Stopwatch watch;
    cv::Mat gray = cv::imread(file, cv::IMREAD_GRAYSCALE);
    const double load = watch.lap();
    cv::Mat blurred, edges;
    cv::GaussianBlur(gray, blurred, cv::Size(9, 9), 1.5);
    cv::Canny(blurred, edges, 20, 50, 3, true);
    const double detect = watch.lap();
    cv::imwrite(file + "_peer_edge.png", edges);
    const double save = watch.lap();
    cv::Mat thin;
    cv::ximgproc::thinning(edges, thin);
    const double thinning = watch.lap();
    std::vector<std::vector<cv::Point>> contours;
    cv::findContours(thin, contours, cv::RETR_LIST, cv::CHAIN_APPROX_NONE);
    const double trace = watch.lap();
    std::vector<std::vector<cv::Point>> polylines(contours.size());
    for (std::size_t i = 0; i < contours.size(); ++i) {
        cv::approxPolyDP(contours[i], polylines[i], 2.0, false);
    }
    const double fit = watch.lap();
    {
        std::ofstream out(file + "_peer_lines.txt");
        for (const auto& polyline : polylines) {
            for (const cv::Point& p : polyline) {
                out << p.y << ',' << p.x << ',';
            }
            out << '\n';
        }
    }
    const double lines = watch.lap();
    report({{"load", load},
            {"detect", detect},
            {"save", save},
            {"thinning", thinning},
            {"trace", trace},
            {"fit", fit},
            {"lines", lines},
            {"total", load + detect + save + thinning + trace + fit + lines},
            {"lineStage", thinning + trace + fit + lines},
            {"polylines", double(polylines.size())}},
           peakKilobytes());
}
#endif

// Runs this program again with mode and file in folder and returns its
// report line.
std::string runChild(const std::string& folder, const char* mode, const std::string& file)
{
    char self[4096];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) {
        return "";
    }
    self[length] = '\0';
    const std::string command = "cd '" + folder + "' && '" + self + "' " + mode + " '" + file + "'";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return "";
    }
    std::string line;
    char buffer[1024];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
        line += buffer;
    }
    pclose(pipe);
    return line;
}

double figure(const std::string& line, const std::string& name)
{
    const std::size_t at = line.find(name + "=");
    return at == std::string::npos ? NAN : std::atof(line.c_str() + at + name.size() + 1);
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc >= 2 && std::strcmp(argv[1], "--baseline") == 0) {
        report({}, peakKilobytes());
        return 0;
    }
    if (argc == 3 && std::strcmp(argv[1], "--dovoda") == 0) {
        runDoVoda(argv[2]);
        return 0;
    }
#ifdef DOVODA_HAVE_OPENCV
    if (argc == 3 && std::strcmp(argv[1], "--peer") == 0) {
        runPeer(argv[2]);
        return 0;
    }
#endif
    std::vector<double> sizes;
    for (int i = 1; i < argc; ++i) {
        sizes.push_back(std::atof(argv[i]));
        // Only the parent takes sizes: anything else must not start runs.
        if (!(sizes.back() > 0.0)) {
            std::fprintf(stderr, "usage: bench_pipeline [megapixels...]\n");
            return 1;
        }
    }
    if (sizes.empty()) {
        sizes = {1, 4, 12};
    }
    char pattern[] = "/tmp/dovoda-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string folder = pattern;
    std::printf("working folder %s\n", folder.c_str());
    // The resident memory of a child that only starts (the program and its
    // libraries); the pipeline's own memory is what it adds.
    const double baselineKB = figure(runChild(folder, "--baseline", ""), "peakKB");
    std::printf("baseline peak of a child that does nothing: %.0f KB\n", baselineKB);
    // Time per megapixel of each kind of input at the first size.
    std::vector<double> perMegapixelAtFirst(3, NAN);
    for (double megapixels : sizes) {
        const int width = static_cast<int>(std::lround(std::sqrt(megapixels * 1e6 * 4.0 / 3.0)));
        const int height = width * 3 / 4;
        const std::string size = std::to_string(width) + "x" + std::to_string(height);
        const std::vector<std::pair<std::string, KpImage>> inputs = {
            {"photo_" + size + "_8.png", benchsupport::makePhotoLikeImage(width, height, 8)},
            {"photo_" + size + "_24.png", benchsupport::makePhotoLikeImage(width, height, 24)},
            {"mosaic_" + size + "_24.png", benchsupport::makePhotoMosaic(width, height, 24)},
        };
        for (std::size_t kind = 0; kind < inputs.size(); ++kind) {
            const std::string& file = inputs[kind].first;
            KpImage image = inputs[kind].second;
            if (image.kpGetData() == nullptr) {
                std::printf("\n%s: no corpus photographs or no ImageMagick convert, skipped\n", file.c_str());
                continue;
            }
            image.kpSaveImage((folder + "/" + file).c_str());
            const double pixels = double(width) * height;
            const std::string ours = runChild(folder, "--dovoda", file);
            std::printf("\n%s (%.2f MP)\n  DoVoda: %s", file.c_str(), pixels / 1e6, ours.c_str());
            const double perMegapixel = figure(ours, "total") / (pixels / 1e6);
            if (std::isnan(perMegapixelAtFirst[kind])) {
                perMegapixelAtFirst[kind] = perMegapixel;
            }
            std::printf("  DoVoda: %.1f ms per MP (%.2fx that at the first size), peak %.1f bytes per pixel"
                        " (%.1f above the baseline)\n",
                        perMegapixel, perMegapixel / perMegapixelAtFirst[kind], figure(ours, "peakKB") * 1024 / pixels,
                        (figure(ours, "peakKB") - baselineKB) * 1024 / pixels);
#ifdef DOVODA_HAVE_OPENCV
            const std::string peer = runChild(folder, "--peer", file);
            std::printf("  peer:   %s", peer.c_str());
            std::printf("  ratio DoVoda/peer: total %.2f, line stage %.2f\n",
                        figure(ours, "total") / figure(peer, "total"),
                        figure(ours, "lineStage") / figure(peer, "lineStage"));
#endif
        }
    }
    return 0;
}
