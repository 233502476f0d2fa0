#ifndef DOVODA_REFERENCENIBLACK_H
#define DOVODA_REFERENCENIBLACK_H

#include "kpimage.h"

// A slow, literal reading of the adaptive (Niblack family) thresholding,
// step by step: every statistics window is cut out with SubImage and
// measured with kpImageStatistics. It writes the same log lines as the
// library's version and is kept to check that one bit for bit.
namespace referenceniblack {

KpImage threshold(const KpImage& image, int method, double k, bool useStatistics);

} // namespace referenceniblack

#endif
