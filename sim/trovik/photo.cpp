#include "sim/trovik/photo.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>

namespace trovik_sim {
namespace {

struct Rgb {
    std::uint8_t r, g, b;
};
static_assert(sizeof(Rgb) == 3, "scan lines are handed to libjpeg as packed RGB");

bool InEllipse(double x, double y, double cx, double cy, double rx, double ry) {
    const double dx = (x - cx) / rx;
    const double dy = (y - cy) / ry;
    return dx * dx + dy * dy <= 1.0;
}

// A plain drawn figure, not a likeness of anyone: hair, face, eyes, mouth, neck and shoulders
// on a pale background, as on an identity photo.
Rgb PixelAt(int column, int row) {
    const double x = column + 0.5;
    const double y = row + 0.5;
    const Rgb background{226, 234, 242};
    const Rgb hair{58, 46, 40};
    const Rgb skin{214, 186, 160};
    const Rgb feature{70, 50, 45};
    const Rgb mouth{170, 90, 90};
    const Rgb shirt{44, 64, 112};

    if (InEllipse(x, y, 51, 136, 52, 42)) {
        return shirt;
    }
    if (x > 42 && x < 60 && y > 78 && y < 100) {
        return skin;
    }
    if (InEllipse(x, y, 51, 54, 27, 33)) {
        if (y < 36 || (y < 48 && !InEllipse(x, y, 51, 58, 22, 28))) {
            return hair;
        }
        if (InEllipse(x, y, 41, 55, 3, 2.2) || InEllipse(x, y, 61, 55, 3, 2.2)) {
            return feature;
        }
        if (InEllipse(x, y, 51, 73, 7, 2.5) && y > 72) {
            return mouth;
        }
        return skin;
    }
    if (InEllipse(x, y, 51, 46, 29, 26) && y < 48) {
        return hair;
    }
    return background;
}

void PutLe16(std::vector<std::uint8_t>& out, std::size_t at, std::uint16_t value) {
    out[at] = value & 0xFF;
    out[at + 1] = value >> 8;
}

void PutLe32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out[at + i] = (value >> (8 * i)) & 0xFF;
    }
}

std::vector<std::uint8_t> MakeBmp() {
    constexpr std::uint32_t kHeaderSize = 54;
    constexpr std::uint32_t kRowSize = (kPhotoWidth * 3 + 3) / 4 * 4;
    constexpr std::uint32_t kPixelSize = kRowSize * kPhotoHeight;
    std::vector<std::uint8_t> bmp(kHeaderSize + kPixelSize, 0);
    bmp[0] = 'B';
    bmp[1] = 'M';
    PutLe32(bmp, 2, kHeaderSize + kPixelSize);
    PutLe32(bmp, 10, kHeaderSize);
    PutLe32(bmp, 14, 40);  // BITMAPINFOHEADER
    PutLe32(bmp, 18, kPhotoWidth);
    PutLe32(bmp, 22, kPhotoHeight);  // positive: rows stored bottom-up
    PutLe16(bmp, 26, 1);
    PutLe16(bmp, 28, 24);
    PutLe32(bmp, 34, kPixelSize);
    PutLe32(bmp, 38, 3780);  // 96 dpi
    PutLe32(bmp, 42, 3780);
    for (int row = 0; row < kPhotoHeight; ++row) {
        std::size_t at = kHeaderSize + static_cast<std::size_t>(kPhotoHeight - 1 - row) * kRowSize;
        for (int column = 0; column < kPhotoWidth; ++column) {
            const Rgb pixel = PixelAt(column, row);
            bmp[at++] = pixel.b;
            bmp[at++] = pixel.g;
            bmp[at++] = pixel.r;
        }
    }
    return bmp;
}

struct JpegError {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

void OnJpegError(j_common_ptr info) {
    std::longjmp(reinterpret_cast<JpegError*>(info->err)->jump, 1);
}

// Encodes into memory; libjpeg's errors jump back here instead of ending the process. No object
// is created between setjmp and the last call that may jump.
std::vector<std::uint8_t> MakeJpeg() {
    std::vector<Rgb> pixels;
    for (int row = 0; row < kPhotoHeight; ++row) {
        for (int column = 0; column < kPhotoWidth; ++column) {
            pixels.push_back(PixelAt(column, row));
        }
    }
    jpeg_compress_struct info{};
    JpegError error{};
    unsigned char* output = nullptr;
    unsigned long outputSize = 0;
    info.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = OnJpegError;
    if (setjmp(error.jump) != 0) {
        jpeg_destroy_compress(&info);
        std::free(output);
        return {};
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, &output, &outputSize);
    info.image_width = kPhotoWidth;
    info.image_height = kPhotoHeight;
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 90, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = reinterpret_cast<JSAMPROW>(&pixels[info.next_scanline * kPhotoWidth]);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::vector<std::uint8_t> jpeg(output, output + outputSize);
    std::free(output);
    return jpeg;
}

std::string Base64(const std::vector<std::uint8_t>& bytes) {
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t left = bytes.size() - i;
        const std::uint32_t group =
            (bytes[i] << 16) | (left > 1 ? bytes[i + 1] << 8 : 0) | (left > 2 ? bytes[i + 2] : 0);
        text.push_back(kAlphabet[(group >> 18) & 63]);
        text.push_back(kAlphabet[(group >> 12) & 63]);
        text.push_back(left > 1 ? kAlphabet[(group >> 6) & 63] : '=');
        text.push_back(left > 2 ? kAlphabet[group & 63] : '=');
    }
    return text;
}

}  // namespace

const std::vector<std::uint8_t>& PhotoBmp() {
    static const std::vector<std::uint8_t> bmp = MakeBmp();
    return bmp;
}

const std::vector<std::uint8_t>& PhotoJpeg() {
    static const std::vector<std::uint8_t> jpeg = MakeJpeg();
    return jpeg;
}

const std::string& PhotoJpegBase64() {
    static const std::string text = Base64(PhotoJpeg());
    return text;
}

}  // namespace trovik_sim
