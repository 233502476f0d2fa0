// dovoda-lines run as a user runs it: its files against DoVoda's line
// file and against independent readers of SVG (rsvg-convert, an XML
// parser), DXF (ezdxf) and JSON; the same files whatever the number of
// threads; shards that cover the inputs once; failures reported per input
// without half-written files; the exit status of every kind of run.
#include "kpbitsperpixelconverter.h"
#include "kpexception.h"
#include "kpimage.h"
#include "kplinefile.h"
#include "photolikeimage.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <dirent.h>
#include <map>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using testsupport::fileExists;
using testsupport::readFile;

namespace {

const std::string PYTHON = "/usr/bin/python3";
const std::string RSVG = "/usr/bin/rsvg-convert";
const std::string VECTOR_READER = DOVODA_SOURCE_DIR "/tests/readvectorlines.py";

struct LinesRun {
    int status;
    std::string out;
    std::string err;
};

std::string shellQuoted(const std::string& text)
{
    return "'" + text + "'";
}

// Runs dovoda-lines with arguments in folder, standard input from the
// given text.
LinesRun runLines(const std::string& folder, const std::string& arguments, const std::string& input = "")
{
    static const std::string captures = testsupport::makeTempDir();
    testsupport::writeFileBytes(captures + "/in", std::vector<uint8_t>(input.begin(), input.end()));
    LinesRun run{0, "", ""};
    const std::vector<uint8_t> out =
        testsupport::runCommand("cd " + shellQuoted(folder) + " && " + shellQuoted(DOVODA_LINES_PROGRAM) + " " + arguments +
                                    " <" + shellQuoted(captures + "/in") + " 2>" + shellQuoted(captures + "/err"),
                                &run.status);
    run.out.assign(out.begin(), out.end());
    run.err = readFile(captures + "/err");
    return run;
}

// Every name in folder and its subfolders, relative to it, sorted.
std::vector<std::string> filesIn(const std::string& folder, const std::string& prefix = "")
{
    std::vector<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name == "." || name == "..") {
                continue;
            }
            struct stat info;
            if (lstat((folder + "/" + name).c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
                const std::vector<std::string> inner = filesIn(folder + "/" + name, prefix + name + "/");
                names.insert(names.end(), inner.begin(), inner.end());
            } else {
                names.push_back(prefix + name);
            }
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// A photo-like test scene of depth 8 or 24, or of depth 1 thresholded from
// a gray one.
void savePhotoLike(const std::string& fileName, int width, int height, int depth, uint32_t seed)
{
    KpImage scene = benchsupport::makePhotoLikeImage(width, height, depth == 1 ? 8 : depth, seed);
    if (depth == 1) {
        scene = KpBitsPerPixelConverter::kpDownscaleGray2Binary_global(scene, 128);
    }
    scene.kpSaveImage(fileName.c_str());
}

std::string linesText(const std::vector<PointList>& polylines)
{
    std::string text;
    for (const PointList& polyline : polylines) {
        for (const point& p : polyline) {
            text += std::to_string(p.row) + "," + std::to_string(p.col) + ",";
        }
        text += "\n";
    }
    return text;
}

bool pythonHas(const std::string& module)
{
    int status = -1;
    if (!testsupport::isExecutable(PYTHON)) {
        return false;
    }
    testsupport::runCommand(PYTHON + " -c 'import " + module + "' 2>/dev/null", &status);
    return status == 0;
}

// The first line of the reader's output describes the file (view box or
// DXF version); the rest are the polylines.
std::string readWithPeer(const std::string& file, int height, std::string& about)
{
    int status = -1;
    const std::vector<uint8_t> out = testsupport::runCommand(
        PYTHON + " " + shellQuoted(VECTOR_READER) + " " + shellQuoted(file) + " " + std::to_string(height), &status);
    EXPECT_EQ(status, 0) << file;
    const std::string text(out.begin(), out.end());
    const std::size_t firstLine = text.find('\n');
    about = text.substr(0, firstLine);
    return firstLine == std::string::npos ? "" : text.substr(firstLine + 1);
}

class LinesProgramTest : public ::testing::Test {
protected:
    std::string folder = testsupport::makeTempDir();
    std::string path(const std::string& name) const { return folder + "/" + name; }
};

// --- The default preset is DoVoda ---------------------------------------

// DoVoda's line file of one input, written in a working folder of its own.
std::string doVodaLineFile(const std::string& input)
{
    const std::string work = testsupport::makeTempDir();
    const std::string copy = work + "/" + input.substr(input.rfind('/') + 1);
    testsupport::writeFileBytes(copy, testsupport::readFileBytes(input));
    int status = -1;
    testsupport::runCommand("cd " + shellQuoted(work) + " && " + shellQuoted(DOVODA_PROGRAM) + " " + shellQuoted(copy) +
                                " >/dev/null 2>&1",
                            &status);
    EXPECT_EQ(status, 0) << input;
    return readFile(copy + "_output_line.txt");
}

bool loads(const std::string& fileName)
{
    try {
        KpImage image;
        image.kpLoadImage(fileName.c_str());
        return true;
    } catch (const KpException&) {
        return false;
    }
}

TEST_F(LinesProgramTest, DefaultPresetWritesDoVodasLineFile)
{
    std::vector<std::string> inputs;
    for (int number : {6, 7, 8}) {
        inputs.push_back(DOVODA_SOURCE_DIR "/data/edge_test_" + std::to_string(number) + ".png");
    }
    const std::string corpus = testsupport::corpusDir();
    const std::vector<std::string> photos = {"101085", "12084", "145086", "3096"};
    if (!corpus.empty() && loads(corpus + "/photos/" + photos[0] + ".jpg")) {
        for (const std::string& name : photos) {
            inputs.push_back(corpus + "/photos/" + name + ".jpg");
        }
    }
    std::string arguments = "-o out -f txt -q";
    for (const std::string& input : inputs) {
        arguments += " " + shellQuoted(input);
    }
    const LinesRun run = runLines(folder, arguments);
    ASSERT_EQ(run.status, 0) << run.err;
    for (const std::string& input : inputs) {
        const std::string name = input.substr(input.rfind('/') + 1);
        const std::string expected = doVodaLineFile(input);
        EXPECT_FALSE(expected.empty()) << name;
        EXPECT_TRUE(readFile(path("out/" + name + "_output_line.txt")) == expected) << name;
    }
    if (inputs.size() == 3) {
        GTEST_SKIP() << "compared the default images only: corpus photographs or the JPEG codec absent";
    }
}

// --- Every format holds the same polylines ------------------------------

// The same polylines come back from the SVG (XML parser), the JSON (JSON
// parser) and the DXF (ezdxf, rows turned back), with the image's size
// as the view box; the DXF is R12.
TEST_F(LinesProgramTest, VectorFilesHoldTheLineFilesPolylines)
{
    if (!pythonHas("ezdxf")) {
        GTEST_SKIP() << "no Python with ezdxf to read the files";
    }
    savePhotoLike(path("scene.png"), 150, 110, 24, 3);
    const LinesRun run = runLines(folder, "-f txt,svg,dxf,json --preset clean -q scene.png");
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string expected = linesText(KpLineFile::read(path("scene.png_output_line.txt")));
    ASSERT_GT(std::count(expected.begin(), expected.end(), '\n'), 5) << "the scene has lines";
    struct Case { const char* file; const char* about; };
    for (const Case& c : {Case{"scene.png_lines.svg", "0 0 150 110"}, Case{"scene.png_lines.json", "0 0 150 110"},
                          Case{"scene.png_lines.dxf", "AC1009"}}) {
        SCOPED_TRACE(c.file);
        std::string about;
        EXPECT_EQ(readWithPeer(path(c.file), 110, about), expected);
        EXPECT_EQ(about, c.about);
    }
    EXPECT_NE(readFile(path("scene.png_lines.json")).find("\"preset\": \"clean\""), std::string::npos);
}

// The pixels of an 8-bit or 24-bit image for which isLine holds.
template <class IsLine> std::vector<std::vector<bool>> lineMask(const KpImage& image, IsLine isLine)
{
    std::vector<std::vector<bool>> mask(image.kpGetHeight(), std::vector<bool>(image.kpGetWidth(), false));
    for (int y = 0; y < image.kpGetHeight(); ++y) {
        for (int x = 0; x < image.kpGetWidth(); ++x) {
            uint8_t r, g, b;
            image.kpGetPixel(x, y, &r, &g, &b);
            mask[y][x] = isLine(r, g, b);
        }
    }
    return mask;
}

// The share of the set pixels of a that have a set pixel of b at most
// one step away (8-neighbourhood).
double shareNear(const std::vector<std::vector<bool>>& a, const std::vector<std::vector<bool>>& b)
{
    int set = 0, near = 0;
    const int rows = static_cast<int>(a.size()), cols = static_cast<int>(a[0].size());
    for (int y = 0; y < rows; ++y) {
        for (int x = 0; x < cols; ++x) {
            if (!a[y][x]) {
                continue;
            }
            ++set;
            bool found = false;
            for (int dy = -1; dy <= 1 && !found; ++dy) {
                for (int dx = -1; dx <= 1 && !found; ++dx) {
                    const int yy = y + dy, xx = x + dx;
                    found = yy >= 0 && yy < rows && xx >= 0 && xx < cols && b[yy][xx];
                }
            }
            near += found;
        }
    }
    return set == 0 ? 0.0 : double(near) / set;
}

// rsvg-convert draws the SVG (anti-aliased, on white) where the overlay
// has its red lines: every dark rendered pixel lies next to an overlay
// line pixel and the other way round.
TEST_F(LinesProgramTest, SvgRendersWhereTheOverlayDrawsItsLines)
{
    if (!testsupport::isExecutable(RSVG)) {
        GTEST_SKIP() << "rsvg-convert absent";
    }
    savePhotoLike(path("scene.png"), 160, 120, 8, 4);
    const LinesRun run = runLines(folder, "-f svg --overlay -q scene.png");
    ASSERT_EQ(run.status, 0) << run.err;
    int status = -1;
    testsupport::runCommand(RSVG + " -b white -o " + shellQuoted(path("render.png")) + " " +
                                shellQuoted(path("scene.png_lines.svg")),
                            &status);
    ASSERT_EQ(status, 0);
    KpImage render, overlay;
    render.kpLoadImage(path("render.png").c_str());
    overlay.kpLoadImage(path("scene.png_overlay.png").c_str());
    ASSERT_EQ(render.kpGetWidth(), 160);
    ASSERT_EQ(render.kpGetHeight(), 120);
    ASSERT_EQ(overlay.kpGetDepth(), 24);
    const auto drawn = lineMask(render, [](uint8_t r, uint8_t g, uint8_t b) { return r + g + b < 3 * 128; });
    const auto red = lineMask(overlay, [](uint8_t r, uint8_t g, uint8_t b) { return r == 255 && g == 0 && b == 0; });
    EXPECT_GT(shareNear(red, red), 0.0) << "the overlay has lines";
    EXPECT_GE(shareNear(drawn, red), 0.99);
    EXPECT_GE(shareNear(red, drawn), 0.99);
}

// --min-strength weighs length by contrast: of two equal boxes (outlines
// of about 120 pixels), the faint one (gradient about 5 gray levels per
// pixel) loses its line, the strong one (about 64) keeps it.
TEST_F(LinesProgramTest, WeakLinesAreDroppedByStrength)
{
    KpImage image(120, 80, 8);
    std::fill(image.kpGetData(), image.kpGetData() + image.kpGetImageSize(), uint8_t(128));
    for (int y = 10; y < 30; ++y) {
        for (int x = 10; x < 50; ++x) {
            image.kpSetPixel(x, y, 0);       // strong: 128 gray levels
            image.kpSetPixel(x, y + 35, 118); // faint: 10 gray levels
        }
    }
    image.kpSaveImage(path("boxes.png").c_str());
    const std::string everyEdge = "-q -f txt --high-fraction 0 --low-ratio 0 -o ";
    ASSERT_EQ(runLines(folder, everyEdge + "all boxes.png").status, 0);
    ASSERT_EQ(runLines(folder, everyEdge + "strong --min-strength 2000 boxes.png").status, 0);
    auto rowsOf = [](const std::vector<PointList>& lines) {
        std::set<bool> inStrongBox;
        for (const PointList& line : lines) {
            for (const point& p : line) {
                inStrongBox.insert(p.row < 40);
            }
        }
        return inStrongBox;
    };
    EXPECT_EQ(rowsOf(KpLineFile::read(path("all/boxes.png_output_line.txt"))), (std::set<bool>{false, true}));
    EXPECT_EQ(rowsOf(KpLineFile::read(path("strong/boxes.png_output_line.txt"))), (std::set<bool>{true}));
}

// --- Many images ---------------------------------------------------------

// A folder of scenes of several sizes and depths.
void makeScenes(const std::string& folder, int count)
{
    const int depths[] = {8, 24, 1};
    for (int i = 0; i < count; ++i) {
        savePhotoLike(folder + "/scene" + std::to_string(i) + ".png", 90 + 13 * i, 70 + 7 * i, depths[i % 3],
                      static_cast<uint32_t>(20 + i));
    }
}

TEST_F(LinesProgramTest, ResultsDoNotDependOnTheNumberOfThreads)
{
    ASSERT_EQ(mkdir(path("in").c_str(), 0755), 0);
    makeScenes(path("in"), 7);
    const std::string all = "-f txt,svg,dxf,json --overlay --preset clean -q in";
    ASSERT_EQ(runLines(folder, "-o one --jobs 1 " + all).status, 0);
    ASSERT_EQ(runLines(folder, "-o two --jobs 2 " + all).status, 0);
    ASSERT_EQ(runLines(folder, "-o many -j 5 " + all).status, 0);
    const std::vector<std::string> names = filesIn(path("one"));
    EXPECT_EQ(names.size(), 7u * 5u);
    EXPECT_EQ(filesIn(path("two")), names);
    EXPECT_EQ(filesIn(path("many")), names);
    for (const std::string& name : names) {
        const std::vector<uint8_t> one = testsupport::readFileBytes(path("one/" + name));
        EXPECT_TRUE(testsupport::readFileBytes(path("two/" + name)) == one) << name;
        EXPECT_TRUE(testsupport::readFileBytes(path("many/" + name)) == one) << name;
    }
}

// Every input, given as a file, in a folder or on standard input, lands in
// exactly one of the shards, whatever their number.
TEST_F(LinesProgramTest, ShardsCoverTheInputsExactlyOnce)
{
    ASSERT_EQ(mkdir(path("in").c_str(), 0755), 0);
    makeScenes(path("in"), 5);
    savePhotoLike(path("single.png"), 80, 60, 8, 9);
    savePhotoLike(path("listed.png"), 80, 60, 8, 10);
    std::set<std::string> expected;
    for (int i = 0; i < 5; ++i) {
        expected.insert("scene" + std::to_string(i) + ".png_output_line.txt");
    }
    expected.insert("single.png_output_line.txt");
    expected.insert("listed.png_output_line.txt");
    for (int count : {1, 2, 3, 7, 10}) {
        SCOPED_TRACE(count);
        std::multiset<std::string> seen;
        for (int index = 1; index <= count; ++index) {
            const std::string out = "out" + std::to_string(count) + "_" + std::to_string(index);
            const LinesRun run = runLines(folder,
                                     "-f txt -q -o " + out + " --shard " + std::to_string(index) + "/" +
                                         std::to_string(count) + " in single.png -",
                                     "listed.png\n");
            ASSERT_EQ(run.status, 0) << run.err;
            const std::vector<std::string> names = filesIn(path(out));
            seen.insert(names.begin(), names.end());
        }
        EXPECT_EQ(seen, std::multiset<std::string>(expected.begin(), expected.end()));
    }
}

// --- Failures ------------------------------------------------------------

// Writes the first bytes of a file under another name.
void saveTruncated(const std::string& from, const std::string& to, std::size_t bytes)
{
    std::vector<uint8_t> content = testsupport::readFileBytes(from);
    content.resize(std::min(bytes, content.size()));
    testsupport::writeFileBytes(to, content);
}

TEST_F(LinesProgramTest, FailedInputsAreReportedAndTheOthersProcessed)
{
    ASSERT_EQ(mkdir(path("in").c_str(), 0755), 0);
    savePhotoLike(path("in/good1.png"), 90, 70, 8, 1);
    savePhotoLike(path("in/good2.png"), 90, 70, 24, 2);
    saveTruncated(path("in/good2.png"), path("in/cut.png"), 300);
    testsupport::writeFileBytes(path("in/notes.png"), {'j', 'u', 's', 't', ' ', 't', 'e', 'x', 't', '\n'});
    ASSERT_EQ(symlink("nowhere.png", path("in/gone.png").c_str()), 0);
    std::vector<std::string> failing{"in/cut.png", "in/gone.png", "in/notes.png", "absent.png"};
    if (geteuid() != 0) {
        // Root reads any file, so only another user can have an unreadable one.
        savePhotoLike(path("in/locked.png"), 40, 30, 8, 3);
        ASSERT_EQ(chmod(path("in/locked.png").c_str(), 0), 0);
        failing.push_back("in/locked.png");
    }
    const LinesRun run = runLines(folder, "-f txt,svg --overlay in absent.png");
    EXPECT_EQ(run.status, 1) << run.err;
    for (const std::string& input : failing) {
        EXPECT_NE(run.err.find("dovoda-lines: " + input + ": "), std::string::npos) << input << "\n" << run.err;
        for (const char* suffix : {"_output_line.txt", "_lines.svg", "_overlay.png"}) {
            EXPECT_FALSE(fileExists(path(input + suffix))) << input + suffix;
        }
    }
    for (const char* good : {"in/good1.png", "in/good2.png"}) {
        EXPECT_TRUE(fileExists(path(std::string(good) + "_lines.svg"))) << good;
    }
    const std::string summary = "2 of " + std::to_string(2 + failing.size()) + " images done, " +
                                std::to_string(failing.size()) + " failed";
    EXPECT_NE(run.err.find(summary), std::string::npos) << run.err;
    for (const std::string& name : filesIn(folder)) {
        EXPECT_TRUE(name[0] != '.' && name.find("/.") == std::string::npos) << "temporary file left: " << name;
    }
}

// An output that is itself an input is refused, and two inputs of the same
// name cannot share an output folder: the later one fails, the earlier
// one's results stand.
TEST_F(LinesProgramTest, InputsAreNeverOverwritten)
{
    savePhotoLike(path("pic.png"), 80, 60, 8, 5);
    savePhotoLike(path("pic.png_overlay.png"), 80, 60, 8, 6);
    const std::vector<uint8_t> before = testsupport::readFileBytes(path("pic.png_overlay.png"));
    LinesRun run = runLines(folder, "--overlay -q pic.png pic.png_overlay.png");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("dovoda-lines: pic.png: will not overwrite the input"), std::string::npos) << run.err;
    EXPECT_TRUE(testsupport::readFileBytes(path("pic.png_overlay.png")) == before);

    ASSERT_EQ(mkdir(path("a").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(path("b").c_str(), 0755), 0);
    savePhotoLike(path("a/x.png"), 80, 60, 8, 7);
    savePhotoLike(path("b/x.png"), 90, 70, 8, 8);
    run = runLines(folder, "-o out -f json -q a/x.png b/x.png");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("dovoda-lines: b/x.png: has the same file name as a/x.png"), std::string::npos)
        << run.err;
    EXPECT_NE(readFile(path("out/x.png_lines.json")).find("\"width\": 80"), std::string::npos);
}

// --- The command line ----------------------------------------------------

TEST_F(LinesProgramTest, ExitStatusTellsHowTheRunWent)
{
    savePhotoLike(path("pic.png"), 80, 60, 8, 5);
    // Results go to files: standard output holds only the help and version.
    struct Case { const char* name; const char* arguments; int status; const char* err; const char* out = ""; };
    const Case cases[] = {
        {"help", "--help", 0, "", "Finds the edges of images"},
        {"version", "--version", 0, "", "dovoda-lines "},
        {"all done", "-q pic.png", 0, ""},
        {"no input", "", 2, "dovoda-lines: INPUT is required"},
        {"unknown option", "--colour red pic.png", 2, "dovoda-lines: "},
        {"unknown format", "-f pdf pic.png", 2, "dovoda-lines: "},
        {"unknown preset", "--preset sharp pic.png", 2, "dovoda-lines: "},
        {"sigma beyond the kernel", "--sigma 4 pic.png", 2, "dovoda-lines: "},
        {"zero jobs", "--jobs 0 pic.png", 2, "dovoda-lines: "},
        {"shard past the count", "--shard 3/2 pic.png", 2, "dovoda-lines: --shard"},
        {"shard zero", "--shard 0/2 pic.png", 2, "dovoda-lines: --shard"},
        {"shard without count", "--shard 1 pic.png", 2, "dovoda-lines: --shard"},
        {"fraction above one", "--high-fraction 1.5 pic.png", 2, "dovoda-lines: "},
        {"negative length", "--min-length -3 pic.png", 2, "dovoda-lines: "},
        {"unknown gray", "--gray green pic.png", 2, "dovoda-lines: "},
        {"overrides taken", "-q --preset clean --gray average --min-strength 0 --sigma 1 pic.png", 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const LinesRun run = runLines(folder, c.arguments);
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_EQ(run.err.substr(0, std::string(c.err).size()), c.err) << run.err;
        EXPECT_EQ(run.out.substr(0, std::string(c.out).size()), c.out) << run.out;
        EXPECT_EQ(run.out.empty(), std::string(c.out).empty()) << run.out;
    }
}

// Without a terminal there is no bar, only the summary (none with
// --quiet); on a terminal (through script) the bar shows the count, the
// rate and the time left.
TEST_F(LinesProgramTest, ProgressOnlyOnATerminal)
{
    makeScenes(folder, 3);
    LinesRun run = runLines(folder, "-f txt .");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err.find('\r'), std::string::npos) << run.err;
    EXPECT_EQ(run.err.substr(0, 40), "dovoda-lines: 3 of 3 images done, 0 fail");
    EXPECT_EQ(run.err.back(), '\n');
    EXPECT_EQ(runLines(folder, "-f txt -q .").err, "");

    if (!testsupport::isExecutable("/usr/bin/script")) {
        GTEST_SKIP() << "script absent: no terminal to show the bar on";
    }
    int status = -1;
    const std::vector<uint8_t> screen = testsupport::runCommand(
        "cd " + shellQuoted(folder) + " && /usr/bin/script -qec " +
        shellQuoted(std::string(DOVODA_LINES_PROGRAM) + " -f txt .") + " /dev/null 2>&1", &status);
    const std::string text(screen.begin(), screen.end());
    EXPECT_EQ(status, 0) << text;
    EXPECT_NE(text.find("\r["), std::string::npos) << text;
    EXPECT_NE(text.find("] 3/3"), std::string::npos) << text;
    EXPECT_NE(text.find("images/s"), std::string::npos) << text;
    EXPECT_NE(text.find("0:00 left"), std::string::npos) << text;
    EXPECT_NE(text.find("3 of 3 images done"), std::string::npos) << text;
}

} // namespace
