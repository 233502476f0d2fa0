#ifndef DOVODA_LINESSETTINGS_H
#define DOVODA_LINESSETTINGS_H

#include "kpedgedetector.h"

#include <string>
#include <vector>

// Everything that decides the polylines of an image: the detector's
// parameters, the fitting tolerance and the shortest polyline kept.
struct LinesSettings {
    std::string preset;
    KpEdgeDetector::Parameters detector;
    // Largest distance, in pixels, of an edge pixel from its segment.
    double tolerance = 2.0;
    // Polylines shorter than this many pixels (along the path) are dropped.
    double minLength = 0.0;

    // The settings of a named preset; false for an unknown name.
    static bool forPreset(const std::string& name, LinesSettings& settings);
    static std::vector<std::string> presetNames();
};

#endif
