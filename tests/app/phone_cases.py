"""Writes the phone-picture cases into a folder: JPEGs with each EXIF orientation (both byte
orders), and pictures that embed the ICC profiles the test made with LittleCMS (p3.icc,
adobe.icc, gray.icc in the same folder), each beside Pillow's own answer (ref_*.ppm):
ImageOps.exif_transpose for the orientations, ImageCms.profileToProfile for the colours."""
import io
import struct
import sys

from PIL import Image, ImageCms, ImageOps

out = sys.argv[1]


def picture(mode, w=48, h=32):
    im = Image.new("RGB", (w, h))
    for y in range(h):
        for x in range(w):
            # Saturated corners and smooth ramps: a wrong turn or a missing conversion shows.
            im.putpixel((x, y), ((x * 255) // (w - 1), (y * 255) // (h - 1), 255 if x < w // 2 else 30))
    return im.convert(mode)


def exif_block(orientation, big):
    fmt = ">" if big else "<"
    tiff = (b"MM" if big else b"II") + struct.pack(fmt + "HI", 42, 8)
    tiff += struct.pack(fmt + "H", 2)
    tiff += struct.pack(fmt + "HHI", 0x010F, 2, 4) + b"Cam\0"      # Make, a 4-byte inline string
    tiff += struct.pack(fmt + "HHIH", 0x0112, 3, 1, orientation) + b"\0\0"
    tiff += struct.pack(fmt + "I", 0)
    return b"Exif\0\0" + tiff


def insert_segments(jpeg, segments):
    """The JPEG with the given (marker, payload) segments put right after SOI."""
    extra = b"".join(bytes([0xFF, m]) + struct.pack(">H", len(p) + 2) + p for m, p in segments)
    return jpeg[:2] + extra + jpeg[2:]


def jpeg_bytes(im, **kw):
    buf = io.BytesIO()
    im.save(buf, "JPEG", quality=95, **kw)
    return buf.getvalue()


def save(name, data):
    with open(f"{out}/{name}", "wb") as f:
        f.write(data)


base = picture("RGB", 40, 24)
plain = jpeg_bytes(base)
for orientation in range(1, 9):
    for big in (False, True):
        name = f"o{orientation}{'m' if big else 'i'}"
        save(name + ".jpg", insert_segments(plain, [(0xE1, exif_block(orientation, big))]))
        ImageOps.exif_transpose(Image.open(f"{out}/{name}.jpg")).convert("RGB").save(f"{out}/ref_{name}.ppm")

srgb = ImageCms.createProfile("sRGB")
intent = ImageCms.Intent.PERCEPTUAL
for name, mode in (("p3", "RGB"), ("adobe", "RGB"), ("gray", "L")):
    icc = open(f"{out}/{name}.icc", "rb").read()
    im = picture(mode)
    im.save(f"{out}/{name}.png", icc_profile=icc)
    im.save(f"{out}/{name}.tif", icc_profile=icc)
    save(f"{name}.jpg", jpeg_bytes(im, icc_profile=icc))
    for ext in ("png", "tif", "jpg"):
        decoded = Image.open(f"{out}/{name}.{ext}")
        converted = ImageCms.profileToProfile(decoded, ImageCms.ImageCmsProfile(io.BytesIO(icc)), srgb,
                                              renderingIntent=intent, outputMode="RGB")
        converted.save(f"{out}/ref_{name}_{ext}.ppm")

# The same pixels without a profile, with Pillow's sRGB one, and with broken ones.
p3 = open(f"{out}/p3.icc", "rb").read()
im = picture("RGB")
bare = jpeg_bytes(im)
save("bare.jpg", bare)
save("srgb.jpg", jpeg_bytes(im, icc_profile=ImageCms.ImageCmsProfile(srgb).tobytes()))
save("truncated.jpg", jpeg_bytes(im, icc_profile=p3[:len(p3) // 2]))
save("cmyk_on_rgb.jpg", jpeg_bytes(im, icc_profile=open(f"{out}/cmyk.icc", "rb").read()))
thirds = [p3[:150], p3[150:300], p3[300:]]
chunk = lambda i, n, data: (0xE2, b"ICC_PROFILE\0" + bytes([i, n]) + data)
# Chunks stored out of order still make the profile; a missing or doubled one does not.
save("shuffled.jpg", insert_segments(bare, [chunk(2, 3, thirds[1]), chunk(3, 3, thirds[2]), chunk(1, 3, thirds[0])]))
save("missing.jpg", insert_segments(bare, [chunk(1, 3, thirds[0]), chunk(3, 3, thirds[2])]))
save("doubled.jpg", insert_segments(bare, [chunk(1, 2, thirds[0]), chunk(1, 2, thirds[0])]))

# A CMYK JPEG with a printer profile (Pillow writes Adobe's inverted inks), and the same inks
# without it, which must come out by the plain formula.
inks = open(f"{out}/inks.icc", "rb").read()
cmyk = Image.merge("CMYK", [picture("L").point(lambda v, k=k: (v * k) // 4) for k in (1, 2, 3, 4)][::-1])
save("inks.jpg", jpeg_bytes(cmyk, icc_profile=inks))
save("inks_bare.jpg", jpeg_bytes(cmyk))
converted = ImageCms.profileToProfile(Image.open(f"{out}/inks.jpg"), ImageCms.ImageCmsProfile(io.BytesIO(inks)),
                                      srgb, renderingIntent=intent, outputMode="RGB")
converted.save(f"{out}/ref_inks_jpg.ppm")


def psd(im, icc):
    """A raw Photoshop file of the picture, its profile in image resource 1039."""
    w, h = im.size
    mode = {"RGB": 3, "CMYK": 4}[im.mode]
    channels = len(im.getbands())
    if im.mode == "CMYK":  # Photoshop stores ink as 255 minus its amount
        im = Image.eval(im, lambda v: 255 - v)
    block = b"8BIM" + struct.pack(">H", 1039) + b"\0\0" + struct.pack(">I", len(icc)) + icc
    if len(icc) % 2:
        block += b"\0"
    # A resource before the profile, so that the search has to step over one.
    other = b"8BIM" + struct.pack(">H", 1005) + b"\x03abc" + struct.pack(">I", 3) + b"xyz\0"
    resources = other + block
    data = b"8BPS" + struct.pack(">H6xHIIHH", 1, channels, h, w, 8, mode)
    data += struct.pack(">I", 0) + struct.pack(">I", len(resources)) + resources + struct.pack(">I", 0)
    data += struct.pack(">H", 0) + b"".join(band.tobytes() for band in im.split())
    return data


for name in ("p3", "adobe"):
    icc = open(f"{out}/{name}.icc", "rb").read()
    im = picture("RGB")
    save(f"{name}.psd", psd(im, icc))
    ImageCms.profileToProfile(im, ImageCms.ImageCmsProfile(io.BytesIO(icc)), srgb, renderingIntent=intent,
                              outputMode="RGB").save(f"{out}/ref_{name}_psd.ppm")

save("inks.psd", psd(cmyk, inks))
ImageCms.profileToProfile(cmyk, ImageCms.ImageCmsProfile(io.BytesIO(inks)), srgb, renderingIntent=intent,
                          outputMode="RGB").save(f"{out}/ref_inks_psd.ppm")
save("inks_bare.psd", psd(cmyk, b""))
