// The file operations of the image record. They are declared with the
// record but live here, with the format registry they hand on to, so that
// the core of the library does not depend on its file formats.
#include "kpimage.h"

#include "kpexception.h"
#include "kpimagefactory.h"

KpImage::KpImage(const char* fileName, KpBaseImage* preferredCodec)
{
    kpLoadImage(fileName, preferredCodec);
}

KpImage::KpImage(unsigned char* buffer, int size, KpBaseImage* preferredCodec)
{
    kpLoadImage(buffer, size, preferredCodec);
}

void KpImage::kpLoadImage(const char* fileName, KpBaseImage* preferredCodec)
{
    *this = KpImageFactory::kpGetInstance()->kpLoadImage(fileName, preferredCodec);
}

void KpImage::kpLoadImage(unsigned char* buffer, int size, KpBaseImage* preferredCodec)
{
    *this = KpImageFactory::kpGetInstance()->kpLoadImage(buffer, size, preferredCodec);
}

KpImage KpImage::kpLoadImageAtPage(const char* fileName, int page)
{
    return KpImageFactory::kpGetInstance()->kpLoadImageAtPage(fileName, page);
}

KpImage KpImage::kpLoadImageAtPage(unsigned char* buffer, int size, int page)
{
    return KpImageFactory::kpGetInstance()->kpLoadImageAtPage(buffer, size, page);
}

int KpImage::kpGetTotalPages(const char* fileName)
{
    return KpImageFactory::kpGetInstance()->kpGetTotalPages(fileName);
}

int KpImage::kpGetTotalPages(unsigned char* buffer, int size)
{
    return KpImageFactory::kpGetInstance()->kpGetTotalPages(buffer, size);
}

void KpImage::kpSaveImage(const char* fileName, KpBaseImage* preferredCodec)
{
    if (!data) {
        KP_THROW(KP_NO_DATA, "Image Data is NULL!");
    }
    KpImageFactory::kpGetInstance()->kpSaveImage(*this, fileName, preferredCodec);
}
