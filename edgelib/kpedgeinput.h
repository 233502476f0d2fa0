#ifndef DOVODA_KPEDGEINPUT_H
#define DOVODA_KPEDGEINPUT_H

#include "kpimage.h"

// The 8-bit gray image the edge detector reads, made from an image of any
// depth: colour is averaged over its three channels, binary is expanded
// (black 0, white 255) and gray is returned as it is.
KpImage kpGrayForEdgeDetection(const KpImage& image);

#endif
