#include "photomosaic.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace benchsupport {

namespace {

const int TILES_PER_SIDE = 4;
const char* const CONVERTER = "/usr/bin/convert";

std::vector<std::string> photoNames(const std::string& folder)
{
    std::vector<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* entry = readdir(dir)) {
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

// The pixels of a photograph scaled (and cropped at the centre) to fill
// width x height, as raw gray or RGB bytes; empty when conversion fails.
std::vector<uint8_t> convertedTile(const std::string& photo, int width, int height, int depth)
{
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    const std::string command = std::string(CONVERTER) + " '" + photo + "' -resize " + size + "^ -gravity center -extent " +
                                size + (depth == 8 ? " -colorspace Gray -depth 8 gray:-" : " -depth 8 rgb:-");
    const std::size_t bytes = static_cast<std::size_t>(width) * height * (depth / 8);
    std::vector<uint8_t> pixels(bytes);
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return {};
    }
    const std::size_t read = std::fread(pixels.data(), 1, bytes, pipe);
    const bool complete = pclose(pipe) == 0 && read == bytes;
    return complete ? pixels : std::vector<uint8_t>();
}

} // namespace

KpImage makePhotoMosaic(int width, int height, int depth)
{
    const std::vector<std::string> photos = photoNames(DOVODA_CORPUS_DIR "/photos");
    const int tiles = TILES_PER_SIDE * TILES_PER_SIDE;
    if (static_cast<int>(photos.size()) < tiles || access(CONVERTER, X_OK) != 0) {
        return KpImage();
    }
    const int tileWidth = width / TILES_PER_SIDE;
    const int tileHeight = height / TILES_PER_SIDE;
    const int channels = depth / 8;
    KpImage mosaic(width, height, depth);
    for (int t = 0; t < tiles; ++t) {
        const std::vector<uint8_t> tile = convertedTile(photos[t], tileWidth, tileHeight, depth);
        if (tile.empty()) {
            return KpImage();
        }
        const int left = (t % TILES_PER_SIDE) * tileWidth;
        const int top = (t / TILES_PER_SIDE) * tileHeight;
        const std::size_t tileRowBytes = static_cast<std::size_t>(tileWidth) * channels;
        for (int y = 0; y < tileHeight; ++y) {
            std::memcpy(mosaic.kpGetData() + static_cast<std::size_t>(top + y) * mosaic.kpGetBytesPerRow() +
                            static_cast<std::size_t>(left) * channels,
                        tile.data() + y * tileRowBytes, tileRowBytes);
        }
    }
    return mosaic;
}

} // namespace benchsupport
