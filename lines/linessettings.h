#ifndef DOVODA_LINESSETTINGS_H
#define DOVODA_LINESSETTINGS_H

#include "kpedgedetector.h"

#include <string>
#include <vector>

// Everything that decides the polylines of an image: how colour is made
// gray, the detector's parameters, the fitting tolerance and the
// polylines kept.
struct LinesSettings {
    std::string preset;
    // Edges found in the lightness (luminance 0.299 R + 0.587 G + 0.114 B
    // brightened with the display gamma 2.2, as the eye sees shadows)
    // instead of the gray of the detector's own conversion (channel average).
    bool lightness = false;
    KpEdgeDetector::Parameters detector;
    // Largest distance, in pixels, of an edge pixel from its segment.
    double tolerance = 2.0;
    // Polylines shorter than this many pixels (along the path) are dropped.
    double minLength = 0.0;
    // Polylines whose strength (EdgeStrength: length times mean gradient)
    // is below this are dropped.
    double minStrength = 0.0;

    // The settings of a named preset; false for an unknown name.
    static bool forPreset(const std::string& name, LinesSettings& settings);
    static std::vector<std::string> presetNames();
};

#endif
