// DoVoda: finds the edges of an image and fits straight line segments to
// them. For an input path P it writes the edge image "P_edge.png" and the
// line file "P_output_line.txt" beside the input; without an argument it
// processes the three default test images. Colour and binary images are
// made gray (channel average) before edge detection.
#include "kpedgedetector.h"
#include "kpedgelinker.h"
#include "kpimage.h"

#include <cstdio>
#include <iostream>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

// Distance in pixels within which the fitted segments follow the edges.
const double LINE_TOLERANCE = 2.0;
// The default images are numbered 6 to 8.
const int FIRST_DEFAULT_IMAGE = 6;
const int LAST_DEFAULT_IMAGE = 8;

void printUsage()
{
    std::cout << "DoVoda [filename]" << std::endl;
    std::cout << "   If [filename] is not provided, three images in the data folder will be processed." << std::endl;
}

// The data folder two levels above the working directory.
std::string defaultImageName(int number)
{
    char name[64];
    std::snprintf(name, sizeof name, "../../data/edge_test_%d.png", number);
    return name;
}

// The edge-image stage (load, detect, save) and the line stage (link,
// fit, write) for one image. Failures are thrown; every object of the
// image is released on the way out.
void processImage(const std::string& inputName)
{
    const std::string edgeName = inputName + "_edge.png";
    const std::string lineName = inputName + "_output_line.txt";
    KpImage input;
    input.kpLoadImage(inputName.c_str(), nullptr);
    KpEdgeDetector detector;
    KpImage edges = detector.detectEdges(input);
    edges.kpSaveImage(edgeName.c_str(), nullptr);

    // The linker takes its own copy of the edge image; the driver has no
    // further use for it, so it hands the pixels over instead.
    KpEdgeLinker linker(std::move(edges));
    linker.extractLines(LINE_TOLERANCE);
    if (linker.writeLines(lineName) == 0) {
        throw std::runtime_error("could not write the line file " + lineName);
    }
}

// Runs the pipeline on one image and reports a failure on standard error
// as "DoVoda: <input>: <message>"; true when the image was processed.
bool processAndReport(const std::string& inputName)
{
    const char* message = nullptr;
    std::string text;
    try {
        processImage(inputName);
        return true;
    } catch (const std::bad_alloc&) {
        message = "out of memory";
    } catch (const std::exception& error) {
        // KpException included: its message names the source and line.
        text = error.what();
        message = text.c_str();
    }
    std::cerr << "DoVoda: " << inputName << ": " << message << std::endl;
    return false;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc > 2) {
        printUsage();
        return 1;
    }
    bool allProcessed = true;
    if (argc == 2) {
        allProcessed = processAndReport(argv[1]);
    } else {
        for (int number = FIRST_DEFAULT_IMAGE; number <= LAST_DEFAULT_IMAGE; ++number) {
            allProcessed = processAndReport(defaultImageName(number)) && allProcessed;
        }
    }
    return allProcessed ? 0 : 1;
}
