#include "app/core/picture_formats.h"

#include "graphics/bitmap.h"
#include "graphics/file_format_list.h"
#include "graphics/picture.h"
#include "graphics/platform_graphics.h"
#include "gif/gif_image.h"
#include "jpeg/jpeg_image.h"
#include "readers/autodesk_reader.h"
#include "readers/cut_reader.h"
#include "readers/heif_reader.h"
#include "readers/ole_graphic.h"
#include "readers/pcd_reader.h"
#include "readers/pcx_reader.h"
#include "readers/png_reader.h"
#include "readers/ppm_reader.h"
#include "readers/psd_reader.h"
#include "readers/psp_reader.h"
#include "readers/rla_reader.h"
#include "readers/sgi_reader.h"
#include "readers/targa_reader.h"
#include "readers/tiff_reader.h"
#include "readers/webp_reader.h"

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
    list.AddFormat("win", "Truevision images", "", fkRaster, false, &TTargaGraphic::ClassInfo);
    list.AddFormat("vst", "", "", fkRaster, false, &TTargaGraphic::ClassInfo);
    list.AddFormat("vda", "", "", fkRaster, false, &TTargaGraphic::ClassInfo);
    list.AddFormat("tga", "", "", fkRaster, false, &TTargaGraphic::ClassInfo);
    list.AddFormat("icb", "", "", fkRaster, false, &TTargaGraphic::ClassInfo);
    list.AddFormat("tiff", "Tagged image file format images", "Macintosh TIFF images", fkRaster | fkMultiImage, false,
                   &TTIFFGraphic::ClassInfo);
    list.AddFormat("tif", "", "PC TIF images", fkRaster | fkMultiImage, false, &TTIFFGraphic::ClassInfo);
    list.AddFormat("fax", "", "GFI fax images", fkRaster | fkMultiImage, false, &TTIFFGraphic::ClassInfo);
    list.AddFormat("eps", "Encapsulated Postscript images", "", fkRaster, false, &TEPSGraphic::ClassInfo);
    list.AddFormat("pcx", "ZSoft Paintbrush images", "", fkRaster, false, &TPCXGraphic::ClassInfo);
    list.AddFormat("pcc", "", "", fkRaster, false, &TPCXGraphic::ClassInfo);
    list.AddFormat("scr", "", "Word 5.x screen capture images", fkRaster, false, &TPCXGraphic::ClassInfo);
    list.AddFormat("rpf", "Alias/Wavefront images", "", fkRaster, false, &TRLAGraphic::ClassInfo);
    list.AddFormat("rla", "", "", fkRaster, false, &TRLAGraphic::ClassInfo);
    list.AddFormat("sgi", "SGI images", "SGI true color images", fkRaster, false, &TSGIGraphic::ClassInfo);
    list.AddFormat("rgba", "", "SGI true color images with alpha", fkRaster, false, &TSGIGraphic::ClassInfo);
    list.AddFormat("rgb", "", "SGI true color images", fkRaster, false, &TSGIGraphic::ClassInfo);
    list.AddFormat("bw", "", "SGI black/white images", fkRaster, false, &TSGIGraphic::ClassInfo);
    list.AddFormat("psd", "Photoshop images", "", fkRaster | fkLayered, false, &TPSDGraphic::ClassInfo);
    list.AddFormat("pdd", "", "", fkRaster | fkLayered, false, &TPSDGraphic::ClassInfo);
    list.AddFormat("ppm", "Portable map images", "Portable pixel map images", fkRaster, false, &TPPMGraphic::ClassInfo);
    list.AddFormat("pgm", "", "Portable gray map images", fkRaster, false, &TPPMGraphic::ClassInfo);
    list.AddFormat("pbm", "", "Portable bitmap images", fkRaster, false, &TPPMGraphic::ClassInfo);
    list.AddFormat("cel", "Autodesk images", "", fkRaster, false, &TAutodeskGraphic::ClassInfo);
    list.AddFormat("pic", "Autodesk images", "", fkRaster, false, &TAutodeskGraphic::ClassInfo);
    list.AddFormat("pcd", "Kodak Photo-CD images", "", fkRaster, false, &TPCDGraphic::ClassInfo);
    list.AddFormat("cut", "Dr. Halo images", "", fkRaster, false, &TCUTGraphic::ClassInfo);
    list.AddFormat("psp", "Paintshop Pro images", "", fkRaster | fkVector, false, &TPSPGraphic::ClassInfo);
    list.AddFormat("png", "Portable network graphic images", "", fkRaster, false, &TPNGGraphic::ClassInfo);
    // Phone pictures, beyond the described rows: HEIF (with AVIF, libheif reads both) and WebP.
    list.AddFormat("heic", "High efficiency images", "HEIC images", fkRaster, false, &THEIFGraphic::ClassInfo);
    list.AddFormat("heif", "", "HEIF images", fkRaster, false, &THEIFGraphic::ClassInfo);
    list.AddFormat("avif", "", "AVIF images", fkRaster, false, &THEIFGraphic::ClassInfo);
    list.AddFormat("webp", "WebP images", "", fkRaster, false, &TWebPGraphic::ClassInfo);
    // Icons hand their PNG entries to the PNG reader (graphics/ cannot see readers/).
    SetIconPngDecoder(&DecodePngData);
    // The GIF class registers after the readers' list, so its row is the newest.
    table.AddPictureFormat("gif", "CompuServe GIF Image", &TGIFImage::ClassInfo);
}

void UnregisterPictureFormats() {
    if (!registered) return;
    registered = false;
    TFileFormatList& list = FileFormatList();
    for (TGraphicClass readerClass : {&TPSPGraphic::ClassInfo, &TPSDGraphic::ClassInfo, &TTargaGraphic::ClassInfo,
                                      &TTIFFGraphic::ClassInfo, &TSGIGraphic::ClassInfo, &TPCXGraphic::ClassInfo,
                                      &TAutodeskGraphic::ClassInfo, &TPCDGraphic::ClassInfo, &TPPMGraphic::ClassInfo,
                                      &TCUTGraphic::ClassInfo, &TRLAGraphic::ClassInfo,
                                      &THEIFGraphic::ClassInfo, &TWebPGraphic::ClassInfo})
        list.RemoveFormat("", readerClass);
    list.RemoveFormat("rle", &TBitmap::ClassInfo);
    list.RemoveFormat("dib", &TBitmap::ClassInfo);
    list.RemoveFormat("", &TPNGGraphic::ClassInfo);
    SetIconPngDecoder(nullptr);
    list.ClearFormats();
}
