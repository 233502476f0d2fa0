// The peer of dovoda-lines in bench_lines: reads an image with OpenCV,
// finds its line segments with the EDLines detector of ximgproc's
// EdgeDrawing on one thread and writes them as text, one segment
// "x1,y1,x2,y2" per line.
//
//   dovoda_edlines_peer IMAGE OUTPUT
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/ximgproc.hpp>

#include <cstdio>
#include <vector>

int main(int argc, char* argv[])
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: dovoda_edlines_peer IMAGE OUTPUT\n");
        return 2;
    }
    cv::setNumThreads(1);
    const cv::Mat gray = cv::imread(argv[1], cv::IMREAD_GRAYSCALE);
    if (gray.empty()) {
        std::fprintf(stderr, "dovoda_edlines_peer: cannot read %s\n", argv[1]);
        return 1;
    }
    cv::Ptr<cv::ximgproc::EdgeDrawing> detector = cv::ximgproc::createEdgeDrawing();
    detector->detectEdges(gray);
    std::vector<cv::Vec4f> segments;
    detector->detectLines(segments);
    std::FILE* out = std::fopen(argv[2], "w");
    if (out == nullptr) {
        return 1;
    }
    for (const cv::Vec4f& s : segments) {
        std::fprintf(out, "%g,%g,%g,%g\n", s[0], s[1], s[2], s[3]);
    }
    return std::fclose(out) == 0 ? 0 : 1;
}
