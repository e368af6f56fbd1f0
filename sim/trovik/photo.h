#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The card photo of the simulated reader: a generated made-up face, 102x126 pixels.
namespace trovik_sim {

constexpr int kPhotoWidth = 102;
constexpr int kPhotoHeight = 126;

// The photo as a 24-bit BMP file of exactly 38862 bytes.
const std::vector<std::uint8_t>& PhotoBmp();

// The photo as a JPEG file; empty if it could not be encoded.
const std::vector<std::uint8_t>& PhotoJpeg();

// PhotoJpeg as base64 text.
const std::string& PhotoJpegBase64();

}  // namespace trovik_sim
