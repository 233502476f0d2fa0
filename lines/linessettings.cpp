#include "linessettings.h"

namespace {

struct Preset {
    const char* name;
    bool lightness;
    float sigma;
    float highFraction;
    float lowRatio;
    double tolerance;
    double minLength;
    double minStrength;
};

// default: the polylines of DoVoda. clean: fewer, longer lines on
// photographs, chosen once for all images on a set of photographs with
// human-drawn boundaries (scripts/score_clean_preset.sh reproduces the
// score).
const Preset PRESETS[] = {
    {"default", false, 1.5f, 0.75f, 0.35f, 2.0, 0.0, 0.0},
    {"clean", true, 2.0f, 0.85f, 0.5f, 0.5, 0.0, 150.0},
};

} // namespace

bool LinesSettings::forPreset(const std::string& name, LinesSettings& settings)
{
    for (const Preset& preset : PRESETS) {
        if (name == preset.name) {
            settings.preset = preset.name;
            settings.lightness = preset.lightness;
            settings.detector.sigma = preset.sigma;
            settings.detector.highFraction = preset.highFraction;
            settings.detector.lowRatio = preset.lowRatio;
            settings.tolerance = preset.tolerance;
            settings.minLength = preset.minLength;
            settings.minStrength = preset.minStrength;
            return true;
        }
    }
    return false;
}

std::vector<std::string> LinesSettings::presetNames()
{
    std::vector<std::string> names;
    for (const Preset& preset : PRESETS) {
        names.push_back(preset.name);
    }
    return names;
}
