#include "app/core/picture_formats.h"

#include "graphics/bitmap.h"
#include "graphics/file_format_list.h"
#include "graphics/picture.h"
#include "graphics/platform_graphics.h"
#include "gif/gif_image.h"
#include "jpeg/jpeg_image.h"
#include "readers/cut_reader.h"
#include "readers/psp_reader.h"
#include "readers/rla_reader.h"

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
    list.AddFormat("rpf", "Alias/Wavefront images", "", fkRaster, false, &TRLAGraphic::ClassInfo);
    list.AddFormat("rla", "", "", fkRaster, false, &TRLAGraphic::ClassInfo);
    list.AddFormat("cut", "Dr. Halo images", "", fkRaster, false, &TCUTGraphic::ClassInfo);
    list.AddFormat("psp", "Paintshop Pro images", "", fkRaster | fkVector, false, &TPSPGraphic::ClassInfo);
    // The GIF class registers after the readers' list, so its row is the newest.
    table.AddPictureFormat("gif", "CompuServe GIF Image", &TGIFImage::ClassInfo);
}

void UnregisterPictureFormats() {
    if (!registered) return;
    registered = false;
    TFileFormatList& list = FileFormatList();
    list.RemoveFormat("", &TPSPGraphic::ClassInfo);
    list.RemoveFormat("", &TCUTGraphic::ClassInfo);
    list.RemoveFormat("", &TRLAGraphic::ClassInfo);
    list.RemoveFormat("rle", &TBitmap::ClassInfo);
    list.RemoveFormat("dib", &TBitmap::ClassInfo);
    list.ClearFormats();
}
