#include "linesoptions.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <sched.h>
#include <thread>

namespace {

const int EXIT_BAD_USAGE = 2;
const char* const DEFAULT_FORMAT = "svg";
const char* const DEFAULT_PRESET = "default";
const char* const GRAY_AVERAGE = "average";
const char* const GRAY_LIGHTNESS = "lightness";

const char* const DESCRIPTION =
    "Finds the edges of images and writes them as vector lines (SVG, DXF, JSON or the line-file text of "
    "DoVoda), several images side by side.\n\n"
    "INPUT is an image file, a folder (every image in it) or - (a list of paths on standard input, one "
    "per line). The results of photo.jpg are photo.jpg_lines.svg, photo.jpg_lines.dxf, "
    "photo.jpg_lines.json, photo.jpg_output_line.txt and photo.jpg_overlay.png, beside the input or in "
    "the folder of -o. Exit status: 0 when every input succeeded, 1 when any failed, 2 for a bad command "
    "line.";

// The processors this process may run on.
std::size_t availableCores()
{
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) {
        return static_cast<std::size_t>(CPU_COUNT(&set));
    }
    return std::max(1u, std::thread::hardware_concurrency());
}

// "K/N" with 1 <= K <= N.
bool parseShard(const std::string& text, std::size_t& index, std::size_t& count)
{
    std::size_t slash = text.find('/');
    if (slash == std::string::npos || slash == 0 || slash + 1 == text.size() ||
        text.find_first_not_of("0123456789/") != std::string::npos || text.find('/', slash + 1) != std::string::npos) {
        return false;
    }
    try {
        index = std::stoul(text.substr(0, slash));
        count = std::stoul(text.substr(slash + 1));
    } catch (const std::exception&) {
        return false;
    }
    return index >= 1 && index <= count;
}

// A positive number no larger than the detector's widest kernel allows.
const CLI::Validator SIGMA_RANGE([](std::string& text) {
    try {
        const double sigma = std::stod(text);
        return sigma > 0.0 && sigma <= 3.6 ? std::string() : "sigma must be above 0 and at most 3.6";
    } catch (const std::exception&) {
        return std::string("sigma must be a number");
    }
}, "in (0, 3.6]");

std::vector<std::string> formatNames()
{
    std::vector<std::string> names;
    for (const LinesOptions::Format& format : LinesOptions::knownFormats()) {
        names.push_back(format.name);
    }
    return names;
}

// Formats in the fixed order of knownFormats, each once.
std::vector<std::string> orderedFormats(const std::vector<std::string>& chosen)
{
    std::vector<std::string> formats;
    for (const LinesOptions::Format& format : LinesOptions::knownFormats()) {
        if (std::find(chosen.begin(), chosen.end(), format.name) != chosen.end()) {
            formats.push_back(format.name);
        }
    }
    return formats;
}

} // namespace

const char* const LinesOptions::OVERLAY_SUFFIX = "_overlay.png";

const std::vector<LinesOptions::Format>& LinesOptions::knownFormats()
{
    static const std::vector<Format> formats{
        {"txt", "_output_line.txt"}, {"svg", "_lines.svg"}, {"dxf", "_lines.dxf"}, {"json", "_lines.json"}};
    return formats;
}


int LinesOptions::parse(int argc, char** argv, LinesOptions& options)
{
    CLI::App app(DESCRIPTION, "dovoda-lines");
    app.set_version_flag("--version", std::string("dovoda-lines ") + DOVODA_VERSION);
    app.failure_message([](const CLI::App*, const CLI::Error& error) {
        return std::string("dovoda-lines: ") + error.what() + "\nTry 'dovoda-lines --help' for more information.\n";
    });
    std::string preset = DEFAULT_PRESET;
    std::string shard;
    float sigma = 0.0f, highFraction = 0.0f, lowRatio = 0.0f;
    double tolerance = 0.0, minLength = 0.0, minStrength = 0.0;
    std::string gray;
    std::vector<std::string> formats;
    options.jobs = availableCores();

    app.add_option("INPUT", options.inputs, "image files, folders, or - for a list of paths on standard input")
        ->required();
    app.add_option("-o,--output", options.outputFolder, "folder for the results (created when missing)");
    app.add_option("-f,--format", formats, "txt, svg, dxf or json; several allowed, comma-separated or repeated "
                                           "(default: svg)")
        ->delimiter(',')
        ->check(CLI::IsMember(formatNames()));
    app.add_flag("--overlay", options.overlay, "also write a PNG of the input with the lines drawn over it in red");
    app.add_option("--preset", preset, "default: the polylines of DoVoda; clean: fewer, longer lines on photographs")
        ->check(CLI::IsMember(LinesSettings::presetNames()))
        ->capture_default_str();
    CLI::Option* sigmaOption = app.add_option("--sigma", sigma, "Gaussian smoothing in pixels (preset's value)")
                                   ->check(SIGMA_RANGE);
    CLI::Option* highOption =
        app.add_option("--high-fraction", highFraction,
                       "share of the edge candidates below the high threshold (0 to 1; preset's value)")
            ->check(CLI::Range(0.0, 1.0));
    CLI::Option* lowOption =
        app.add_option("--low-ratio", lowRatio, "low threshold as a share of the high one (0 to 1; preset's value)")
            ->check(CLI::Range(0.0, 1.0));
    CLI::Option* toleranceOption =
        app.add_option("--tolerance", tolerance, "largest distance of an edge pixel from its line (default 2.0)")
            ->check(CLI::NonNegativeNumber);
    CLI::Option* minLengthOption =
        app.add_option("--min-length", minLength, "drop polylines shorter than this many pixels (preset's value)")
            ->check(CLI::NonNegativeNumber);
    CLI::Option* minStrengthOption =
        app.add_option("--min-strength", minStrength,
                       "drop polylines whose length times mean gradient (gray levels per pixel) is below this "
                       "(preset's value)")
            ->check(CLI::NonNegativeNumber);
    CLI::Option* grayOption =
        app.add_option("--gray", gray,
                       "how colour is made gray: average (of the channels) or lightness (luminance brightened "
                       "with gamma 2.2; preset's choice)")
            ->check(CLI::IsMember({GRAY_AVERAGE, GRAY_LIGHTNESS}));
    app.add_option("-j,--jobs", options.jobs, "images processed side by side (default: every core)")
        ->check(CLI::PositiveNumber);
    app.add_option("--shard", shard, "K/N: only the K-th of N slices of the inputs (K from 1 to N)")
        ->check(CLI::Validator(
            [&options](std::string& text) {
                return parseShard(text, options.shardIndex, options.shardCount) ? std::string()
                                                                                : "expected K/N with 1 <= K <= N";
            },
            "K/N"));
    app.add_flag("-q,--quiet", options.quiet, "no progress bar and no summary; failures are still reported");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int status = app.exit(error);
        return status == 0 ? 0 : EXIT_BAD_USAGE;
    }

    LinesSettings::forPreset(preset, options.settings);
    if (*sigmaOption) {
        options.settings.detector.sigma = sigma;
    }
    if (*highOption) {
        options.settings.detector.highFraction = highFraction;
    }
    if (*lowOption) {
        options.settings.detector.lowRatio = lowRatio;
    }
    if (*toleranceOption) {
        options.settings.tolerance = tolerance;
    }
    if (*minLengthOption) {
        options.settings.minLength = minLength;
    }
    if (*minStrengthOption) {
        options.settings.minStrength = minStrength;
    }
    if (*grayOption) {
        options.settings.lightness = gray == GRAY_LIGHTNESS;
    }
    options.formats = orderedFormats(formats.empty() ? std::vector<std::string>{DEFAULT_FORMAT} : formats);
    return -1;
}
