// The DoVoda program run as a user runs it: from a working folder, with
// the command lines of its usage. Checks the exit status, the messages
// and the files written, in order.
#include "kpimage.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <dirent.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <vector>

using testsupport::fileExists;
using testsupport::readFile;

namespace {

struct ProgramRun {
    int status;
    std::string out;
    std::string err;
};

// Runs DoVoda with arguments in folder; its output is captured in files
// of another folder, so that folder only holds what DoVoda wrote.
ProgramRun runDoVoda(const std::string& folder, const std::string& arguments)
{
    static const std::string captures = testsupport::makeTempDir();
    const std::string command = "cd '" + folder + "' && '" DOVODA_PROGRAM "' " + arguments + " >'" + captures +
                                "/out' 2>'" + captures + "/err'";
    const int result = std::system(command.c_str());
    ProgramRun run{WIFEXITED(result) ? WEXITSTATUS(result) : -1, readFile(captures + "/out"), readFile(captures + "/err")};
    return run;
}

std::vector<std::string> filesIn(const std::string& folder)
{
    std::vector<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name != "." && name != "..") {
                names.push_back(name);
            }
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// A gray or colour picture with a dark box on a light ground, saved as PNG.
void saveBoxImage(const std::string& fileName, int depth = 8)
{
    KpImage image(64, 48, depth);
    for (int y = 12; y < 36; ++y) {
        for (int x = 16; x < 48; ++x) {
            if (depth == 24) {
                image.kpSetPixel(x, y, 20, 40, 60);
            } else {
                image.kpSetPixel(x, y, 30);
            }
        }
    }
    image.kpSaveImage(fileName.c_str());
}

void saveWhiteImage(const std::string& fileName)
{
    KpImage image(40, 30, 8);
    image.kpSaveImage(fileName.c_str());
}

long long modificationTime(const std::string& fileName)
{
    struct stat info;
    if (stat(fileName.c_str(), &info) != 0) {
        return -1;
    }
    return info.st_mtim.tv_sec * 1000000000LL + info.st_mtim.tv_nsec;
}

const char* const DIAGNOSTIC_FILES[] = {"ori.png", "bin.png", "tmp.bmp", "test.txt", "reset.txt", "updated.txt", "ne.txt"};

class ProgramTest : public ::testing::Test {
protected:
    std::string folder = testsupport::makeTempDir();
    std::string path(const std::string& name) const { return folder + "/" + name; }
};

TEST_F(ProgramTest, OneArgumentWritesEdgeImageDiagnosticsAndLineFileInOrder)
{
    saveBoxImage(path("photo.png"));
    const ProgramRun run = runDoVoda(folder, "photo.png");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    std::vector<std::string> order{"photo.png_edge.png"};
    order.insert(order.end(), std::begin(DIAGNOSTIC_FILES), std::end(DIAGNOSTIC_FILES));
    order.push_back("photo.png_output_line.txt");
    for (std::size_t i = 0; i < order.size(); ++i) {
        ASSERT_TRUE(fileExists(path(order[i]))) << order[i];
        if (i > 0) {
            EXPECT_LE(modificationTime(path(order[i - 1])), modificationTime(path(order[i])))
                << order[i - 1] << " is written before " << order[i];
        }
    }
    KpImage edges;
    edges.kpLoadImage(path("photo.png_edge.png").c_str());
    EXPECT_EQ(edges.kpGetWidth(), 64);
    EXPECT_EQ(edges.kpGetHeight(), 48);
    EXPECT_EQ(edges.kpGetDepth(), 8);
    const std::string lines = readFile(path("photo.png_output_line.txt"));
    ASSERT_FALSE(lines.empty()) << "the box has edges";
    EXPECT_EQ(lines.substr(lines.size() - 2), ",\n");
}

TEST_F(ProgramTest, ExtensionlessColourPathGetsTheSuffixesAppended)
{
    saveBoxImage(path("photo.png"), 24);
    ASSERT_EQ(std::rename(path("photo.png").c_str(), path("photo").c_str()), 0);
    const ProgramRun run = runDoVoda(folder, "photo");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(fileExists(path("photo_edge.png")));
    EXPECT_FALSE(readFile(path("photo_output_line.txt")).empty());
}

TEST_F(ProgramTest, NoArgumentProcessesTheDefaultImagesTwoLevelsUp)
{
    ASSERT_EQ(mkdir(path("data").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(path("work").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(path("work/run").c_str(), 0755), 0);
    for (int number : {6, 7, 8}) {
        saveBoxImage(path("data/edge_test_" + std::to_string(number) + ".png"));
    }
    const ProgramRun run = runDoVoda(path("work/run"), "");
    EXPECT_EQ(run.status, 0) << run.err;
    for (int number : {6, 7, 8}) {
        const std::string input = path("data/edge_test_" + std::to_string(number) + ".png");
        EXPECT_TRUE(fileExists(input + "_edge.png")) << number;
        EXPECT_TRUE(fileExists(input + "_output_line.txt")) << number;
    }
    EXPECT_LE(modificationTime(path("data/edge_test_6.png_output_line.txt")),
              modificationTime(path("data/edge_test_7.png_edge.png")));
    EXPECT_LE(modificationTime(path("data/edge_test_7.png_output_line.txt")),
              modificationTime(path("data/edge_test_8.png_edge.png")));
    EXPECT_TRUE(fileExists(path("work/run/test.txt")));
}

TEST_F(ProgramTest, TwoArgumentsPrintTheUsageAndTouchNothing)
{
    saveBoxImage(path("photo.png"));
    const ProgramRun run = runDoVoda(folder, "photo.png photo.png");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "DoVoda [filename]\n"
                       "   If [filename] is not provided, three images in the data folder will be processed.\n");
    EXPECT_EQ(filesIn(folder), std::vector<std::string>{"photo.png"});
}

TEST_F(ProgramTest, FailedDefaultImagesAreReportedAndTheOthersProcessed)
{
    ASSERT_EQ(mkdir(path("data").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(path("a").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(path("a/b").c_str(), 0755), 0);
    // edge_test_6.png is missing; edge_test_7.png is not an image.
    FILE* corrupt = std::fopen(path("data/edge_test_7.png").c_str(), "wb");
    ASSERT_NE(corrupt, nullptr);
    std::fputs("\x89PNG\r\n\x1a\n but nothing that follows is PNG", corrupt);
    std::fclose(corrupt);
    saveBoxImage(path("data/edge_test_8.png"));
    const ProgramRun run = runDoVoda(path("a/b"), "");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("DoVoda: ../../data/edge_test_6.png: "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("DoVoda: ../../data/edge_test_7.png: "), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("edge_test_8"), std::string::npos) << run.err;
    EXPECT_FALSE(fileExists(path("data/edge_test_7.png_output_line.txt")));
    EXPECT_TRUE(fileExists(path("data/edge_test_8.png_edge.png")));
    EXPECT_TRUE(fileExists(path("data/edge_test_8.png_output_line.txt")));
}

TEST_F(ProgramTest, MissingFileGivesAFailureStatus)
{
    const ProgramRun run = runDoVoda(folder, "absent.png");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err.rfind("DoVoda: absent.png: ", 0), 0u) << run.err;
    EXPECT_TRUE(filesIn(folder).empty());
}

TEST_F(ProgramTest, LineFileThatCannotBeWrittenGivesAFailureStatus)
{
    saveBoxImage(path("photo.png"));
    ASSERT_EQ(mkdir(path("photo.png_output_line.txt").c_str(), 0755), 0);
    const ProgramRun run = runDoVoda(folder, "photo.png");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("DoVoda: photo.png: "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("photo.png_output_line.txt"), std::string::npos) << run.err;
}

TEST_F(ProgramTest, AllWhiteImageGivesAnEmptyLineFile)
{
    saveWhiteImage(path("white.png"));
    const ProgramRun run = runDoVoda(folder, "white.png");
    EXPECT_EQ(run.status, 0) << run.err;
    ASSERT_TRUE(fileExists(path("white.png_output_line.txt")));
    EXPECT_EQ(readFile(path("white.png_output_line.txt")), "");
    for (const char* name : {"reset.txt", "updated.txt", "ne.txt"}) {
        EXPECT_FALSE(fileExists(path(name))) << name;
    }
    EXPECT_TRUE(fileExists(path("test.txt")));
}

} // namespace
