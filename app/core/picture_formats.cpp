#include "app/core/picture_formats.h"

#include "graphics/bitmap.h"
#include "graphics/file_format_list.h"
#include "graphics/picture.h"
#include "graphics/platform_graphics.h"
#include "gif/gif_image.h"
#include "jpeg/jpeg_image.h"
#include "readers/autodesk_reader.h"
#include "readers/pcd_reader.h"
#include "readers/ppm_reader.h"

namespace {
bool registered = false;
}

void RegisterPictureFormats() {
    if (registered) return;
    registered = true;
    TFileFormatsList& table = PictureFormatTable();
    table.AddPictureFormat("", "", &TOleGraphic::ClassInfo);
    table.AddPictureFormat("jpeg", "JPEG Image File", &TJPEGImage::ClassInfo);
    table.AddPictureFormat("jpg", "JPEG Image File", &TJPEGImage::ClassInfo);

    TFileFormatList& list = FileFormatList();
    list.AddFormat("bmp", "Windows bitmaps", "", fkRaster, false, &TBitmap::ClassInfo);
    list.AddFormat("ico", "Windows icons", "", fkRaster, false, &TIcon::ClassInfo);
    list.AddFormat("wmf", "Windows metafiles", "", fkVector, false, &TMetafile::ClassInfo);
    list.AddFormat("emf", "Windows metafiles", "Windows enhanced meta files", fkVector, false, &TMetafile::ClassInfo);
    list.AddFormat("jfif", "JPG images", "JFIF images", fkRaster, false, &TJPEGImage::ClassInfo);
    list.AddFormat("jpg", "", "JPG images", fkRaster, false, &TJPEGImage::ClassInfo);
    list.AddFormat("jpe", "", "JPE images", fkRaster, false, &TJPEGImage::ClassInfo);
    list.AddFormat("jpeg", "", "JPEG images", fkRaster, false, &TJPEGImage::ClassInfo);
    list.AddFormat("rle", "Windows bitmaps", "Run length encoded Windows bitmaps", fkRaster, false, &TBitmap::ClassInfo);
    list.AddFormat("dib", "", "Device independant Windows bitmaps", fkRaster, false, &TBitmap::ClassInfo);
    list.AddFormat("ppm", "Portable map images", "Portable pixel map images", fkRaster, false, &TPPMGraphic::ClassInfo);
    list.AddFormat("pgm", "", "Portable gray map images", fkRaster, false, &TPPMGraphic::ClassInfo);
    list.AddFormat("pbm", "", "Portable bitmap images", fkRaster, false, &TPPMGraphic::ClassInfo);
    list.AddFormat("cel", "Autodesk images", "", fkRaster, false, &TAutodeskGraphic::ClassInfo);
    list.AddFormat("pic", "Autodesk images", "", fkRaster, false, &TAutodeskGraphic::ClassInfo);
    list.AddFormat("pcd", "Kodak Photo-CD images", "", fkRaster, false, &TPCDGraphic::ClassInfo);
    // The GIF class registers after the readers' list, so its row is the newest.
    table.AddPictureFormat("gif", "CompuServe GIF Image", &TGIFImage::ClassInfo);
}

void UnregisterPictureFormats() {
    if (!registered) return;
    registered = false;
    TFileFormatList& list = FileFormatList();
    list.RemoveFormat("", &TAutodeskGraphic::ClassInfo);
    list.RemoveFormat("", &TPCDGraphic::ClassInfo);
    list.RemoveFormat("", &TPPMGraphic::ClassInfo);
    list.RemoveFormat("rle", &TBitmap::ClassInfo);
    list.RemoveFormat("dib", &TBitmap::ClassInfo);
    list.ClearFormats();
}
